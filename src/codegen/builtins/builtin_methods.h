// Method names of the built-in values whose calls are free of side effects
// when the receiver and the arguments are, listed once. A class that defines
// a method of the same name takes the name out of this set for the whole
// program; the side-effect test checks that itself.
#pragma once

#include <array>
#include <string_view>

namespace kestal {

inline constexpr std::array<std::string_view, 39> kPureMethods = {
    "upper",      "lower",   "strip",     "lstrip",     "rstrip",       "split",        "rsplit",
    "splitlines", "join",    "replace",   "startswith", "endswith",     "find",         "rfind",
    "count",      "index",   "format",    "isdigit",    "isalpha",      "isalnum",      "isspace",
    "isupper",    "islower", "title",     "capitalize", "swapcase",     "zfill",        "center",
    "ljust",      "rjust",   "partition", "rpartition", "removeprefix", "removesuffix", "get",
    "keys",       "values",  "items",     "copy"};

constexpr bool is_pure_method(std::string_view name) {
    for (std::string_view m : kPureMethods)
        if (m == name)
            return true;
    return false;
}

} // namespace kestal
