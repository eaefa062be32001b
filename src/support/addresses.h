// The maker's web addresses: the home page and the library site, both named
// by the usage text, and the update feed, which nothing reads yet (there is
// no `install` or `update` command so far). They are reserved example
// addresses until a real site exists; every part of the tool that names one
// takes it from here.
#pragma once

#include <string_view>

namespace kestal {
inline constexpr std::string_view kHomePageUrl = "https://kestal.example";
inline constexpr std::string_view kLibrarySiteUrl = "https://kestal.example/libraries";
inline constexpr std::string_view kUpdateFeedUrl = "https://kestal.example/update.json";

// An address without its "https://" (or "http://") scheme, as the usage
// text shows it.
constexpr std::string_view without_scheme(std::string_view url) {
    std::size_t sep = url.find("://");
    return sep == std::string_view::npos ? url : url.substr(sep + 3);
}
} // namespace kestal
