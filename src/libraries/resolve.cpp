// Import resolution over the search list. Presence is only the existence of
// `<folder>/<name>/library.json`: a folder of the right name without a
// manifest is passed over, while a manifest that fails to load ends the
// compilation at the import.
#include "libraries/resolve.h"

#include "ast/builtin_modules.h"
#include "libraries/manifest.h"
#include "libraries/python_modules.h"
#include "platform/env.h"
#include "platform/files.h"
#include "support/compile_error.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace kestal {

std::optional<std::filesystem::path> installed_library_dir() {
    std::optional<std::string> data = platform::local_app_data_dir();
    if (!data)
        return std::nullopt;
    return std::filesystem::path(*data) / "Kestal" / "libraries";
}

std::vector<std::filesystem::path>
library_search_list(const std::optional<std::string> &source_path) {
    std::vector<std::filesystem::path> folders;
    if (std::optional<std::string> libs = platform::env_var("KESTAL_LIBS")) {
        std::size_t start = 0;
        while (true) {
            std::size_t colon = libs->find(':', start);
            std::string entry =
                libs->substr(start, colon == std::string::npos ? colon : colon - start);
            folders.emplace_back(entry.empty() ? std::string(".") : entry);
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    if (source_path) {
        std::filesystem::path parent = std::filesystem::path(*source_path).parent_path();
        folders.push_back(parent.empty() ? std::filesystem::path("libraries")
                                         : parent / "libraries");
    }
    if (std::optional<std::filesystem::path> installed = installed_library_dir())
        folders.push_back(*installed);
    return folders;
}

void resolve_imports(Program &program, const std::optional<std::string> &source_path) {
    if (program.imports.empty())
        return;
    std::vector<std::filesystem::path> folders = library_search_list(source_path);
    for (const ModuleImport &import : program.imports) {
        if (program.libraries.contains(import.name))
            continue;
        bool found = false;
        for (const std::filesystem::path &folder : folders) {
            std::filesystem::path library_folder = folder / import.name;
            if (!platform::path_exists((library_folder / "library.json").string()))
                continue;
            LibraryResult<Library> library = load_library(import.name, library_folder);
            if (auto *error = std::get_if<std::string>(&library))
                throw_error(*error, import.line, import.column);
            program.libraries.emplace(import.name, std::get<Library>(std::move(library)));
            found = true;
            break;
        }
        if (!found && is_python_stdlib_module(import.name)) {
            std::vector<std::string_view> builtin;
            for (const BuiltinModule &m : kBuiltinModules)
                builtin.push_back(m.name);
            throw_error(fmt::format("module '{}' of Python's standard library isn't available in "
                                    "Kestal (built in: {})",
                                    import.name, fmt::join(builtin, ", ")),
                        import.line, import.column);
        }
        if (!found)
            throw_error(fmt::format("no module or library named '{}'. Install it with: kestal "
                                    "install {}",
                                    import.name, import.name),
                        import.line, import.column);
    }
}

} // namespace kestal
