// The library site: a base address under which `index.json` lists every
// library with its version, requirement and files (each with its SHA-256),
// and each file lies at base/name/path. Every transfer runs the curl tool;
// the tool itself opens no connection. A `file:` base serves a folder on disk
// as a mirror.
//
// The index is read whole and checked strictly: the first bad library or
// file makes the whole index unusable, and every accepted file path stays
// inside its library's folder (no empty, "." or ".." part, no root, no
// drive). Every download, the index included, is capped at 100 MiB.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

struct IndexFile {
    // A relative path with '/' separators, as the index gives it.
    std::string path;
    // 64 lowercase hexadecimal digits.
    std::string sha256;
};

struct LibraryIndexEntry {
    std::string name;
    std::string version;
    // Empty when the index gives none.
    std::string description;
    // The "kestal" requirement text; empty when absent.
    std::string requirement;
    // In index order; one of them has the path "library.json".
    std::vector<IndexFile> files;
};

// The largest file (or index) a download accepts: 100 MiB.
inline constexpr std::uint64_t kMaxLibraryDownloadBytes = 100 * 1024 * 1024;

// A download or the index read: the value, or a message ready to print
// after "kestal: ".
struct LibraryDownload {
    bool ok = false;
    std::string bytes;
    std::string error;
};

struct LibraryIndexResult {
    std::optional<std::vector<LibraryIndexEntry>> entries;
    std::string error;
};

// The text with every control character (C0 and DEL) turned into '?', so
// nothing a site sends can drive the terminal it is shown on.
std::string printable_text(std::string_view text);

// 1 to 64 characters from 0-9, '_' and a-z, not starting with '_'.
bool is_library_name(std::string_view name);

// KESTAL_LIBRARY_URL when set to a non-empty UTF-8 value, else the built-in
// address (kLibrarySiteUrl); every trailing '/' removed.
std::string library_site_base();

// The program and arguments a download runs, the address last.
std::vector<std::string> library_curl_arguments(const std::string &url);

// Downloads one address through curl. Fails with "couldn't download {}:
// only https: and file: addresses are allowed" without running curl for any
// other address, "can't run curl ({}). Kestal downloads libraries with it"
// when curl cannot be started, "couldn't download {}: larger than 100 MiB"
// past the cap, and "couldn't download {}{}" (curl's trimmed message after
// ": ") for any other failure.
LibraryDownload download_library_file(const std::string &url);

// Reads an index document fetched from index_url, which starts every error
// message: "{}: not UTF-8", "{}: not valid JSON: {}", "{}: every library
// needs a name and a version", "{}: bad library name '{}'", "{}: library
// '{}': each file needs a path and a sha256", "{}: library '{}': bad file
// entry '{}'" and "{}: library '{}' has no library.json".
LibraryIndexResult read_library_index(std::string_view bytes, const std::string &index_url);

// Downloads "{base}/index.json" and reads it; a failed download gives its
// message unchanged.
LibraryIndexResult fetch_library_index();

} // namespace kestal
