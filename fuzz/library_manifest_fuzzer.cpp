// Fuzz target over the library folder loader: the input is split at its
// first NUL byte into a library.json and a header (no NUL: no header file),
// both written into a private temporary folder, which is then loaded as the
// library "demo". Any bytes give a library or a non-empty message that names
// the file it is about, never a crash or an escaping exception, and a
// library keeps the loader's promises (the header unchanged, C names for its
// functions, unique parameters that are never None, defaults only at the
// end, no name both a function and a constant).
#include "libraries/manifest.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// One folder per process, made on first use and removed at a normal exit.
struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "kestal-fuzz-lib-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

void write_file(const fs::path &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        std::abort();
}

bool is_sound(const kestal::Library &library, std::string_view header, const fs::path &folder) {
    if (library.name != "demo" || library.header != header || library.folder != folder)
        return false;
    for (const std::string &link : library.links)
        if (link.empty())
            return false;
    for (const auto &[name, function] : library.functions) {
        if (!kestal::is_c_identifier(function.c) || library.constants.contains(name))
            return false;
        bool seen_default = false;
        for (std::size_t i = 0; i < function.params.size(); ++i) {
            const kestal::LibraryParam &param = function.params[i];
            if (param.type.is<kestal::Type::NoValue>() || (seen_default && !param.default_value))
                return false;
            seen_default = seen_default || param.default_value.has_value();
            for (std::size_t j = 0; j < i; ++j)
                if (function.params[j].name == param.name)
                    return false;
        }
    }
    for (const auto &[name, constant] : library.constants)
        if (!constant.expr.starts_with("(") || !constant.expr.ends_with(")"))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static Folder folder;
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::size_t nul = input.find('\0');
    std::string_view manifest = input.substr(0, nul);
    fs::path header_path = folder.path / "demo.h";
    write_file(folder.path / "library.json", manifest);
    std::string_view header;
    if (nul == std::string_view::npos) {
        std::error_code ignored;
        fs::remove(header_path, ignored);
    } else {
        header = input.substr(nul + 1);
        write_file(header_path, header);
    }

    kestal::LibraryResult<kestal::Library> result = kestal::load_library("demo", folder.path);
    if (const auto *error = std::get_if<std::string>(&result)) {
        // The message follows the path of the file it is about.
        bool named = false;
        for (const fs::path &file : {folder.path / "library.json", header_path}) {
            std::string prefix = file.string() + ": ";
            named = named || (error->starts_with(prefix) && error->size() > prefix.size());
        }
        if (!named)
            std::abort();
        return 0;
    }
    if (!is_sound(std::get<kestal::Library>(result), header, folder.path))
        std::abort();
    return 0;
}
