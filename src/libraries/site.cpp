// The index reader and the downloads of the library site. The reader takes
// any bytes (the fuzz target feeds it arbitrary ones) and checks each
// library in index order, stopping at the first fault; keys are looked up
// with first-match semantics and a value of the wrong kind counts as absent.
#include "libraries/site.h"

#include "platform/curl.h"
#include "platform/env.h"
#include "platform/utf8.h"
#include "sha256/sha256.h"
#include "support/addresses.h"
#include "json/json.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestal {

namespace {

constexpr std::size_t kMaxFilePathBytes = 200;

bool is_lower_alnum_or_underscore(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_';
}

bool is_path_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '_' || c == '-';
}

// Split at every '/', each part non-empty, not "." or "..", and of
// letters, digits, '.', '_' and '-' only: no part can climb out of the
// library's folder, start at a root or name a drive.
bool is_file_path(std::string_view path) {
    if (path.empty() || path.size() > kMaxFilePathBytes)
        return false;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        std::string_view part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == ".." ||
            !std::all_of(part.begin(), part.end(), is_path_char))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

std::string lowercase(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           lowercase(std::string(text.substr(0, prefix.size()))) == prefix;
}

std::string string_or_empty(const JsonValue &value) {
    const std::string *text = value.string_if();
    return text ? *text : std::string();
}

LibraryIndexResult index_error(std::string message) {
    LibraryIndexResult result;
    result.error = std::move(message);
    return result;
}

LibraryDownload download_error(std::string message) {
    LibraryDownload result;
    result.error = std::move(message);
    return result;
}

// Reads one library of the index into `entry`; the error message otherwise.
std::optional<std::string> read_index_entry(const JsonValue &element, const std::string &url,
                                            LibraryIndexEntry &entry) {
    const std::string *name = json_get(element, "name").string_if();
    const std::string *version = json_get(element, "version").string_if();
    if (!name || !version)
        return fmt::format("{}: every library needs a name and a version", url);
    if (!is_library_name(*name))
        return fmt::format("{}: bad library name '{}'", url, printable_text(*name));
    entry.name = *name;
    entry.version = *version;
    bool has_manifest = false;
    if (const JsonArray *files = json_get(element, "files").array_if()) {
        for (const JsonValue &file : *files) {
            const std::string *path = json_get(file, "path").string_if();
            const std::string *digest = json_get(file, "sha256").string_if();
            if (!path || !digest)
                return fmt::format("{}: library '{}': each file needs a path and a sha256", url,
                                   *name);
            if (!is_file_path(*path) || !is_sha256_text(*digest))
                return fmt::format("{}: library '{}': bad file entry '{}'", url, *name,
                                   printable_text(*path));
            has_manifest = has_manifest || *path == "library.json";
            entry.files.push_back(IndexFile{*path, lowercase(*digest)});
        }
    }
    if (!has_manifest)
        return fmt::format("{}: library '{}' has no library.json", url, *name);
    entry.description = string_or_empty(json_get(element, "description"));
    entry.requirement = string_or_empty(json_get(element, "kestal"));
    return std::nullopt;
}

} // namespace

std::string printable_text(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

bool is_library_name(std::string_view name) {
    return !name.empty() && name.size() <= 64 && name[0] != '_' &&
           std::all_of(name.begin(), name.end(), is_lower_alnum_or_underscore);
}

std::string library_site_base() {
    std::optional<std::string> value = platform::env_var("KESTAL_LIBRARY_URL");
    std::string base = value && !value->empty() ? *value : std::string(kLibrarySiteUrl);
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

std::vector<std::string> library_curl_arguments(const std::string &url) {
    return {"curl",
            "-fsSL",
            "--max-time",
            "60",
            "--proto",
            "=https,file",
            "--proto-redir",
            "=https",
            "--max-filesize",
            std::to_string(kMaxLibraryDownloadBytes),
            url};
}

LibraryDownload download_library_file(const std::string &url) {
    // curl would refuse other schemes too, but an address that is not one
    // (say, starting with '-') must never reach its command line.
    if (!starts_with_ignoring_case(url, "https:") && !starts_with_ignoring_case(url, "file:"))
        return download_error(
            fmt::format("couldn't download {}: only https: and file: addresses are allowed", url));
    platform::Result<platform::CurlRun> run =
        platform::run_curl(library_curl_arguments(url), kMaxLibraryDownloadBytes);
    if (!run)
        return download_error(fmt::format("can't run {} ({}). Kestal downloads libraries with it",
                                          "curl", run.error().text));
    if (run->cap_hit || run->curl_size_refused)
        return download_error(fmt::format("couldn't download {}: larger than 100 MiB", url));
    if (!run->ok)
        return download_error(fmt::format("couldn't download {}{}", url,
                                          run->message.empty() ? "" : ": " + run->message));
    LibraryDownload result;
    result.ok = true;
    result.bytes = std::move(run->body);
    return result;
}

LibraryIndexResult read_library_index(std::string_view bytes, const std::string &index_url) {
    if (!platform::is_valid_utf8(bytes))
        return index_error(fmt::format("{}: not UTF-8", index_url));
    JsonParseResult parsed = json_parse(bytes);
    if (!parsed)
        return index_error(fmt::format("{}: not valid JSON: {}", index_url, parsed.error()));
    std::vector<LibraryIndexEntry> entries;
    if (const JsonArray *libraries = json_get(parsed.value(), "libraries").array_if()) {
        for (const JsonValue &element : *libraries) {
            LibraryIndexEntry entry;
            if (std::optional<std::string> error = read_index_entry(element, index_url, entry))
                return index_error(std::move(*error));
            entries.push_back(std::move(entry));
        }
    }
    LibraryIndexResult result;
    result.entries = std::move(entries);
    return result;
}

LibraryIndexResult fetch_library_index() {
    std::string url = fmt::format("{}/index.json", library_site_base());
    LibraryDownload download = download_library_file(url);
    if (!download.ok)
        return index_error(std::move(download.error));
    return read_library_index(download.bytes, url);
}

} // namespace kestal
