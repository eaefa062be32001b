// The tool's one version text: printed by `version` and `doctor`, hashed into
// the build-cache key, compared with library requirements and the update feed.
#pragma once

namespace kestal {
inline constexpr const char *kVersion = "1.3.1";
}
