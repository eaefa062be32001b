// Strict UTF-8 scanning. One routine measures the sequence at a position:
// either a whole valid character or the longest prefix that could still have
// begun one (the "maximal subpart"), which lossy decoding replaces by a single
// U+FFFD so that a truncated character costs one replacement, not several.
#include "platform/utf8.h"

#include <cstddef>

namespace kestal::platform {

namespace {

struct Sequence {
    std::size_t length;
    bool valid;
};

bool in_range(unsigned char c, unsigned lo, unsigned hi) {
    return c >= lo && c <= hi;
}

Sequence scan_sequence(std::string_view s, std::size_t i) {
    auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80)
        return {1, true};
    std::size_t need;
    unsigned lo = 0x80, hi = 0xBF;
    if (in_range(lead, 0xC2, 0xDF)) {
        need = 2;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        need = 3;
        // E0 would be overlong below A0; ED would reach the surrogates.
        if (lead == 0xE0)
            lo = 0xA0;
        if (lead == 0xED)
            hi = 0x9F;
    } else if (in_range(lead, 0xF0, 0xF4)) {
        need = 4;
        // F0 would be overlong below 90; F4 above 8F passes U+10FFFF.
        if (lead == 0xF0)
            lo = 0x90;
        if (lead == 0xF4)
            hi = 0x8F;
    } else {
        return {1, false};
    }
    for (std::size_t k = 1; k < need; ++k) {
        if (i + k >= s.size())
            return {k, false};
        auto c = static_cast<unsigned char>(s[i + k]);
        if (!in_range(c, k == 1 ? lo : 0x80, k == 1 ? hi : 0xBF))
            return {k, false};
    }
    return {need, true};
}

} // namespace

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        Sequence seq = scan_sequence(bytes, i);
        if (!seq.valid)
            return false;
        i += seq.length;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        Sequence seq = scan_sequence(bytes, i);
        if (seq.valid)
            out.append(bytes.substr(i, seq.length));
        else
            out.append("\xEF\xBF\xBD");
        i += seq.length;
    }
    return out;
}

void append_utf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace kestal::platform
