// The update feed: a JSON object naming the newest version, the oldest
// version that can update in place, the release page and the download
// entries, of which the first Linux installer is taken. A malformed
// installer entry fails the whole feed; later entries are not tried.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestal::update {

struct InstallerInfo {
    // A file name of a-z, 0-9, ".", "_" and "-" only.
    std::string name;
    std::string url;
    // 1 to 536870912 bytes.
    std::uint64_t size = 0;
    // 64 lowercase hexadecimal digits.
    std::string sha256;
};

struct UpdateManifest {
    // Always a valid version text.
    std::string latest;
    // "0.0.0" when the feed gives none or an invalid one.
    std::string min_version;
    // Always an https address (the built-in home page when the feed has none).
    std::string page;
    std::optional<InstallerInfo> installer;
};

struct ManifestResult {
    std::optional<UpdateManifest> manifest;
    // A message ready to print when there is no manifest.
    std::string error;
};

// The platform whose installer entries are taken, as feeds name it.
inline constexpr std::string_view kInstallerOs = "linux";

// Reads a feed document (any bytes; invalid UTF-8 becomes U+FFFD). Failures
// are "kestal update: the update server sent something unexpected ({0})"
// with "not JSON", "no version", "an installer without name, url, size or
// sha256" or "a malformed installer entry", and "kestal update: refusing a
// non-https address: {0}" for an installer address is_allowed_url refuses.
ManifestResult parse_update_manifest(std::string_view body, bool allow_file);

// Downloads the feed from update_feed_url (20 seconds, at most 1 MiB) and
// reads it; a failed download gives curl_fetch's message.
ManifestResult fetch_update_manifest(bool allow_file);

} // namespace kestal::update
