// The C runtime, embedded byte for byte at build time from runtime/.
#pragma once

#include <string_view>

namespace kestal {
std::string_view runtime_text();
}
