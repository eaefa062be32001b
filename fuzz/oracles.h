// Checks the fuzz targets make of what a reader gave back, written apart
// from the readers' own code so that a fault there can't hide itself.
#pragma once

#include <string_view>

namespace kestal::fuzz {

// A SHA-256 digest as the readers keep it: 64 lowercase hexadecimal digits.
inline bool is_lower_hex_digest(std::string_view text) {
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace kestal::fuzz
