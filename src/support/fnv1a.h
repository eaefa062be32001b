// 64-bit FNV-1a, the hash behind the build cache's keys: fast, stable
// across runs and machines, and not meant to resist a chosen collision (the
// files it names are the user's own).
#pragma once

#include <cstdint>
#include <string_view>

namespace kestal {

inline constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
inline constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;

inline void fnv1a(std::uint64_t &hash, std::string_view bytes) {
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
}

} // namespace kestal
