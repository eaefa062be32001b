// SHA-256 as FIPS 180-4 defines it, one shot over a buffer in memory. The
// whole 64-byte blocks are compressed straight from the caller's buffer and
// only the tail is copied for padding (0x80, zeros up to 56 modulo 64, the
// bit length as a big-endian 64-bit number), so a download of hundreds of
// megabytes is never held twice.
#include "sha256/sha256.h"
#include "support/text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kestal {

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

using State = std::array<std::uint32_t, 8>;

void compress(State &state, const unsigned char *block) {
    std::array<std::uint32_t, 64> w;
    for (int t = 0; t < 16; ++t)
        w[t] = std::uint32_t(block[4 * t]) << 24 | std::uint32_t(block[4 * t + 1]) << 16 |
               std::uint32_t(block[4 * t + 2]) << 8 | std::uint32_t(block[4 * t + 3]);
    for (int t = 16; t < 64; ++t) {
        std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (int t = 0; t < 64; ++t) {
        std::uint32_t sum1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
        std::uint32_t choose = (e & f) ^ (~e & g);
        std::uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
        std::uint32_t sum0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
        std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        std::uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i)
        state[i] += worked[i];
}

} // namespace

std::string sha256_hex(std::string_view bytes) {
    State state = kInitialState;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t whole = bytes.size() / 64 * 64;
    for (std::size_t at = 0; at < whole; at += 64)
        compress(state, data + at);

    // The tail, the 0x80 byte, zeros and the length fill one or two blocks.
    std::array<unsigned char, 128> tail{};
    std::size_t rest = bytes.size() - whole;
    for (std::size_t i = 0; i < rest; ++i)
        tail[i] = data[whole + i];
    tail[rest] = 0x80;
    std::size_t tail_size = rest < 56 ? 64 : 128;
    std::uint64_t bit_length = static_cast<std::uint64_t>(bytes.size()) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tail_size - 1 - i] = static_cast<unsigned char>(bit_length >> (8 * i));
    for (std::size_t at = 0; at < tail_size; at += 64)
        compress(state, tail.data() + at);

    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (std::uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4)
            hex += kHex[(word >> shift) & 0xF];
    return hex;
}

bool is_sha256_text(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), is_hex_digit);
}

} // namespace kestal
