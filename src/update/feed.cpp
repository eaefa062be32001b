// Reading the update feed. Every key is looked up by its first pair; a key of
// the wrong kind counts as absent, and each rule below says what absence
// means for it.
#include "update/feed.h"

#include "platform/utf8.h"
#include "sha256/sha256.h"
#include "support/addresses.h"
#include "update/download.h"
#include "update/settings.h"
#include "json/json.h"

#include <cmath>
#include <fmt/format.h>

namespace kestal::update {

namespace {

constexpr std::string_view kUnexpected =
    "kestal update: the update server sent something unexpected ({0})";

ManifestResult unexpected(std::string what) {
    return ManifestResult{std::nullopt, fill_placeholders(kUnexpected, {std::move(what)})};
}

bool is_string(const JsonValue &value, std::string_view text) {
    const std::string *s = value.string_if();
    return s && *s == text;
}

// The first element that is an installer object for this platform; an entry
// whose "os" is missing or not a string is not for this platform.
const JsonValue *find_installer_entry(const JsonValue &files) {
    const JsonArray *entries = files.array_if();
    if (!entries)
        return nullptr;
    for (const JsonValue &entry : *entries)
        if (entry.object_if() && is_string(json_get(entry, "kind"), "installer") &&
            is_string(json_get(entry, "os"), kInstallerOs))
            return &entry;
    return nullptr;
}

// A whole number converted with saturation; nothing for a fraction.
std::optional<std::uint64_t> whole_size(const JsonValue &value) {
    std::optional<double> x = value.number_if();
    if (!x || !std::isfinite(*x) || *x != std::trunc(*x))
        return std::nullopt;
    if (*x < 0)
        return 0;
    if (*x >= 9223372036854775808.0)
        return static_cast<std::uint64_t>(INT64_MAX);
    return static_cast<std::uint64_t>(*x);
}

// The installer entry's checks, in order; the manifest keeps the result.
std::optional<std::string> read_installer(const JsonValue &entry, bool allow_file,
                                          std::optional<InstallerInfo> &installer) {
    const std::string *name = json_get(entry, "name").string_if();
    const std::string *url = json_get(entry, "url").string_if();
    const std::string *sha256 = json_get(entry, "sha256").string_if();
    std::optional<std::uint64_t> size = whole_size(json_get(entry, "size"));
    if (!name || !url || !sha256 || !size)
        return fill_placeholders(kUnexpected, {"an installer without name, url, size or sha256"});
    if (name->empty() || !is_installer_name(*name) || *size < 1 || *size > kMaxDownloadBytes ||
        !is_sha256_text(*sha256))
        return fill_placeholders(kUnexpected, {"a malformed installer entry"});
    if (!is_allowed_url(*url, allow_file))
        return fill_placeholders("kestal update: refusing a non-https address: {0}", {*url});
    InstallerInfo info{*name, *url, *size, *sha256};
    for (char &c : info.sha256)
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    installer = std::move(info);
    return std::nullopt;
}

} // namespace

ManifestResult parse_update_manifest(std::string_view body, bool allow_file) {
    JsonParseResult parsed = json_parse(platform::decode_utf8_lossy(body));
    if (!parsed.ok())
        return unexpected("not JSON");
    const JsonValue &doc = parsed.value();
    const std::string *latest = json_get(doc, "latest").string_if();
    if (doc.kind() != JsonKind::Object || !latest || !parse_version(*latest))
        return unexpected("no version");

    UpdateManifest manifest;
    manifest.latest = *latest;
    const std::string *min_version = json_get(doc, "min_version").string_if();
    manifest.min_version = min_version && parse_version(*min_version) ? *min_version : "0.0.0";
    const std::string *page = json_get(doc, "page").string_if();
    manifest.page = page && page->size() >= 8 && page->starts_with("https://")
                        ? *page
                        : std::string(kHomePageUrl);
    if (const JsonValue *entry = find_installer_entry(json_get(doc, "files"))) {
        if (std::optional<std::string> error =
                read_installer(*entry, allow_file, manifest.installer))
            return ManifestResult{std::nullopt, std::move(*error)};
    }
    return ManifestResult{std::move(manifest), {}};
}

ManifestResult fetch_update_manifest(bool allow_file) {
    CurlRequest request;
    request.url = update_feed_url();
    request.allow_file = allow_file;
    request.time_limit = "20";
    request.max_bytes = kMaxFeedBytes;
    CurlResult fetched = curl_fetch(request);
    if (fetched.too_large)
        return unexpected(fmt::format("more than {} bytes", kMaxFeedBytes));
    if (!fetched.ok)
        return ManifestResult{std::nullopt, std::move(fetched.error)};
    return parse_update_manifest(fetched.body, allow_file);
}

} // namespace kestal::update
