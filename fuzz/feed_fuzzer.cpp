// Fuzz target over the update feed reader: any bytes give a manifest or a
// message, never a crash, and a manifest keeps the promises the reader
// makes about it (a version, an https page, a well-formed installer entry).
#include "oracles.h"
#include "update/feed.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool is_safe_file_name(std::string_view name) {
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'))
            return false;
    return !name.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char *>(data), size);
    for (bool allow_file : {false, true}) {
        kestal::update::ManifestResult result =
            kestal::update::parse_update_manifest(body, allow_file);
        if (!result.manifest) {
            if (result.error.empty())
                std::abort();
            continue;
        }
        const kestal::update::UpdateManifest &m = *result.manifest;
        if (m.latest.empty() || m.min_version.empty() || !m.page.starts_with("https://"))
            std::abort();
        if (m.installer) {
            const kestal::update::InstallerInfo &i = *m.installer;
            if (!is_safe_file_name(i.name) || !kestal::fuzz::is_lower_hex_digest(i.sha256) ||
                i.size == 0 || i.size > 536870912)
                std::abort();
        }
    }
    return 0;
}
