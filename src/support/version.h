// The tool's one version text, printed by `kestal version` (and its -V and
// --version spellings).
#pragma once

namespace kestal {
inline constexpr const char *kVersion = "1.3.1";
}
