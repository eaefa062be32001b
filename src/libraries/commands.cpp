// The three library commands. `install` handles each name on its own: a
// failure is reported and the next name goes on, and the exit status says
// whether any failed. The staging folder ".{name}-{pid}" and the old-copy
// folder ".{name}-old-{pid}" hold the process id, so two processes never
// share them, and their leading dot keeps them out of every listing.
#include "libraries/commands.h"

#include "libraries/manifest.h"
#include "libraries/resolve.h"
#include "libraries/site.h"
#include "platform/env.h"
#include "platform/files.h"
#include "sha256/sha256.h"
#include "support/addresses.h"
#include "support/text.h"
#include "support/version.h"
#include "json/json.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fmt/format.h>
#include <utility>
#include <variant>

namespace kestal {

namespace {

constexpr std::string_view kNoLibraryFolder =
    "can't find the library folder (LOCALAPPDATA / HOME isn't set)";

void report_failure(std::string_view message) {
    std::fflush(stdout);
    std::fputs(fmt::format("kestal: {}\n", message).c_str(), stderr);
}

void report_result(std::string_view message) {
    std::fputs(fmt::format("{}\n", message).c_str(), stdout);
    std::fflush(stdout);
}

std::optional<std::string> library_folder() {
    std::optional<std::filesystem::path> dir = installed_library_dir();
    if (!dir)
        return std::nullopt;
    return dir->string();
}

std::uint64_t version_part(std::string_view part) {
    if (!part.empty() && part[0] == '+')
        part.remove_prefix(1);
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc() || end != part.data() + part.size())
        return 0;
    return value;
}

std::vector<std::uint64_t> version_parts(std::string_view text) {
    text = trim(text);
    std::vector<std::uint64_t> parts;
    for (;;) {
        std::size_t dot = text.find('.');
        parts.push_back(version_part(text.substr(0, dot)));
        if (dot == std::string_view::npos)
            return parts;
        text.remove_prefix(dot + 1);
    }
}

// The requirement's failure message, or nothing when the running version
// meets it. Only ">=" requirements are acted on.
std::optional<std::string> check_requirement(const LibraryIndexEntry &entry) {
    std::string_view requirement = trim(entry.requirement);
    if (requirement.size() < 2 || requirement.substr(0, 2) != ">=")
        return std::nullopt;
    if (compare_library_versions(kVersion, trim(requirement.substr(2))) >= 0)
        return std::nullopt;
    std::string_view needed = entry.requirement;
    needed.remove_prefix(needed.find(">=") + 2);
    return fmt::format("{} {} needs Kestal {} (this is {}). Update Kestal first: kestal update "
                       "(or {})",
                       entry.name, printable_text(entry.version), printable_text(needed), kVersion,
                       kHomePageUrl);
}

// A fresh, private staging folder: a leftover of a killed process with the
// same id goes first (as links, never followed).
std::optional<std::string> make_staging(const std::string &staging) {
    (void)platform::remove_tree(staging);
    if (platform::Result<void> made = platform::create_dir(staging, 0700); !made)
        return fmt::format("can't create {}: {}", staging, made.error().text);
    return std::nullopt;
}

std::string parent_of(const std::string &path) {
    return path.substr(0, path.rfind('/'));
}

// Downloads, checks and writes every file of the entry into the staging
// folder; the first failure's message otherwise.
std::optional<std::string> fill_staging(const LibraryIndexEntry &entry,
                                        const std::string &staging) {
    for (const IndexFile &file : entry.files) {
        std::string url = fmt::format("{}/{}/{}", library_site_base(), entry.name, file.path);
        LibraryDownload download = download_library_file(url);
        if (!download.ok)
            return download.error;
        std::string digest = sha256_hex(download.bytes);
        if (digest != file.sha256)
            return fmt::format("{}: the download doesn't match the index (sha256 {} instead of "
                               "{}). Nothing was installed",
                               url, digest, file.sha256);
        // Index paths never climb out (no empty, "." or ".." part) and the
        // staging folder is new and ours alone, so nothing on the way is
        // a link.
        std::string local = staging + "/" + file.path;
        std::string parent = parent_of(local);
        if (platform::Result<void> made = platform::create_dirs(parent, 0700); !made)
            return fmt::format("can't create {}: {}", parent, made.error().text);
        if (platform::Result<void> written = platform::write_file(local, download.bytes); !written)
            return fmt::format("can't write {}: {}", local, written.error().text);
    }
    return std::nullopt;
}

// Installs one library of the index into the folder `root`; the result line
// or the failure message.
std::pair<bool, std::string> install_one(const LibraryIndexEntry &entry, const std::string &root) {
    if (std::optional<std::string> unmet = check_requirement(entry))
        return {false, *unmet};
    std::string target = root + "/" + entry.name;
    std::optional<std::string> previous = installed_library_version(target);
    if (previous == entry.version)
        return {true, fmt::format("{} {} is already installed", entry.name,
                                  printable_text(entry.version))};
    if (platform::Result<void> made = platform::create_dirs(root); !made)
        return {false, fmt::format("can't create {}: {}", root, made.error().text)};
    std::int64_t pid = platform::process_id();
    std::string staging = fmt::format("{}/.{}-{}", root, entry.name, pid);
    if (std::optional<std::string> error = make_staging(staging))
        return {false, *error};
    std::optional<std::string> error = fill_staging(entry, staging);
    if (!error) {
        LibraryResult<Library> loaded = load_library(entry.name, staging);
        if (const std::string *load_error = std::get_if<std::string>(&loaded))
            error = *load_error;
    }
    if (error) {
        (void)platform::remove_tree(staging);
        return {false, *error};
    }
    std::string old_copy = fmt::format("{}/.{}-old-{}", root, entry.name, pid);
    (void)platform::remove_tree(old_copy);
    if (std::optional<std::string> swap_error =
            swap_into_place(staging, target, old_copy, platform::rename_path))
        return {false, *swap_error};
    if (!previous)
        return {true, fmt::format("installed {} {}", entry.name, printable_text(entry.version))};
    return {true, fmt::format("updated {} {} -> {}", entry.name, printable_text(*previous),
                              printable_text(entry.version))};
}

std::string available_names(const std::vector<LibraryIndexEntry> &entries) {
    if (entries.empty())
        return "none yet";
    std::string names;
    for (const LibraryIndexEntry &entry : entries)
        names += (names.empty() ? "" : ", ") + entry.name;
    return names;
}

// (name, version) of every library in the installed folder, sorted.
std::vector<std::pair<std::string, std::string>> installed_libraries(const std::string &root) {
    std::vector<std::pair<std::string, std::string>> found;
    platform::Result<std::vector<std::string>> names = platform::list_dir(root);
    if (!names)
        return found;
    for (const std::string &name : *names) {
        if (!is_library_name(name))
            continue;
        if (std::optional<std::string> version = installed_library_version(root + "/" + name))
            found.emplace_back(name, *version);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::optional<std::string> installed_library_version(const std::string &folder) {
    platform::Result<std::string> text =
        platform::read_file(folder + "/library.json", kMaxLibraryDownloadBytes);
    if (!text)
        return std::nullopt;
    JsonParseResult parsed = json_parse(*text);
    if (!parsed || !parsed.value().object_if())
        return std::nullopt;
    const std::string *version = json_get(parsed.value(), "version").string_if();
    if (!version)
        return std::nullopt;
    return *version;
}

int compare_library_versions(std::string_view a, std::string_view b) {
    std::vector<std::uint64_t> left = version_parts(a);
    std::vector<std::uint64_t> right = version_parts(b);
    if (left < right)
        return -1;
    return left == right ? 0 : 1;
}

std::optional<std::string> swap_into_place(const std::string &staging, const std::string &target,
                                           const std::string &old_copy,
                                           const RenameFunction &rename) {
    // Whatever is at the target, a link included, is moved aside as it is.
    bool had_target = platform::path_info(target, false).ok();
    if (had_target) {
        if (platform::Result<void> moved = rename(target, old_copy); !moved) {
            (void)platform::remove_tree(staging);
            return fmt::format("can't replace {} (is a program using it?): {}", target,
                               moved.error().text);
        }
    }
    if (platform::Result<void> moved = rename(staging, target); !moved) {
        if (had_target)
            (void)rename(old_copy, target);
        (void)platform::remove_tree(staging);
        return fmt::format("can't move the library into {}: {}", target, moved.error().text);
    }
    (void)platform::remove_tree(old_copy);
    return std::nullopt;
}

int install_command(const std::vector<std::string> &names) {
    if (names.empty()) {
        std::fputs("usage: kestal install <library>...   (`kestal libraries` lists what there "
                   "is)\n",
                   stderr);
        return 2;
    }
    LibraryIndexResult index = fetch_library_index();
    if (!index.entries) {
        report_failure(index.error);
        return 1;
    }
    std::optional<std::string> root = library_folder();
    if (!root) {
        report_failure(kNoLibraryFolder);
        return 1;
    }
    bool failed = false;
    for (const std::string &name : names) {
        auto entry = std::find_if(index.entries->begin(), index.entries->end(),
                                  [&](const LibraryIndexEntry &e) { return e.name == name; });
        if (entry == index.entries->end()) {
            report_failure(fmt::format("there's no library named '{}'. Available: {}", name,
                                       available_names(*index.entries)));
            failed = true;
            continue;
        }
        auto [ok, message] = install_one(*entry, *root);
        if (ok)
            report_result(message);
        else
            report_failure(message);
        failed = failed || !ok;
    }
    return failed ? 1 : 0;
}

int uninstall_command(const std::vector<std::string> &names) {
    if (names.empty()) {
        std::fputs("usage: kestal uninstall <library>...\n", stderr);
        return 2;
    }
    std::optional<std::string> root = library_folder();
    if (!root) {
        report_failure(kNoLibraryFolder);
        return 1;
    }
    bool failed = false;
    for (const std::string &name : names) {
        std::string target = *root + "/" + name;
        if (!is_library_name(name) || !platform::path_exists(target + "/library.json")) {
            report_failure(
                fmt::format("'{}' isn't installed (installed libraries are in {})", name, *root));
            failed = true;
            continue;
        }
        // A link in place of the folder goes as a link: what it points to
        // is not ours to remove.
        if (platform::Result<void> removed = platform::remove_tree(target); !removed) {
            report_failure(fmt::format("can't remove {} (is a program using it?): {}", target,
                                       removed.error().text));
            failed = true;
            continue;
        }
        report_result(fmt::format("uninstalled {}", name));
    }
    return failed ? 1 : 0;
}

int libraries_command(bool offline) {
    std::optional<std::string> root = library_folder();
    std::vector<std::pair<std::string, std::string>> installed;
    std::string out = root ? fmt::format("installed ({}):\n", *root) : "installed:\n";
    if (root)
        installed = installed_libraries(*root);
    for (const auto &[name, version] : installed)
        out += fmt::format("  {:<16} {}\n", name, printable_text(version));
    if (installed.empty())
        out += "  none\n";
    if (offline) {
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    out += fmt::format("\non {}:\n", library_site_base());
    std::fputs(out.c_str(), stdout);
    LibraryIndexResult index = fetch_library_index();
    if (!index.entries) {
        report_failure(index.error);
        return 1;
    }
    out.clear();
    if (index.entries->empty())
        out += "  none yet\n";
    for (const LibraryIndexEntry &entry : *index.entries) {
        auto mine = std::find_if(installed.begin(), installed.end(),
                                 [&](const auto &pair) { return pair.first == entry.name; });
        std::string suffix;
        if (mine != installed.end())
            suffix = compare_library_versions(mine->second, entry.version) >= 0
                         ? "  (installed)"
                         : fmt::format("  (update: you have {})", printable_text(mine->second));
        out += fmt::format("  {:<16} {:<8} {}{}\n", entry.name, printable_text(entry.version),
                           printable_text(entry.description), suffix);
    }
    out += "\ninstall one with: kestal install <name>\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

} // namespace kestal
