// Operating-system error texts. The wording comes from the C library
// (strerror_r, which is safe across threads); the number follows in the
// fixed form "{} (os error {})" that every message of the tool uses.
#include "platform/result.h"

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

namespace kestal::platform {

namespace {

// strerror_r comes in two shapes (XSI returns int, GNU returns the text);
// overloading on the return type keeps this file portable across both.
[[maybe_unused]] const char *strerror_text(int rc, const char *buffer) {
    return rc == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char *strerror_text(const char *text, const char *) {
    return text;
}

} // namespace

OsError os_error(int errnum) {
    char buffer[256] = {};
    const char *wording = strerror_text(strerror_r(errnum, buffer, sizeof buffer), buffer);
    return OsError{fmt::format("{} (os error {})", wording, errnum), errnum};
}

OsError last_os_error() {
    return os_error(errno);
}

} // namespace kestal::platform
