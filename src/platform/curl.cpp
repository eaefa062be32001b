// curl's exit status 63 is its "maximum file size exceeded"; the rest of its
// statuses are reported through its own message only.
#include "platform/curl.h"

#include "platform/process.h"
#include "platform/utf8.h"
#include "support/text.h"

#include <algorithm>

namespace kestal::platform {

namespace {

constexpr int kCurlFileTooLarge = 63;

} // namespace

Result<CurlRun> run_curl(const std::vector<std::string> &argv, std::uint64_t max_bytes,
                         const std::optional<std::string> &output_file) {
    // A body of exactly max_bytes is whole; one byte more stops curl.
    auto cap = static_cast<std::size_t>(std::min<std::uint64_t>(max_bytes, kNoOutputLimit));
    std::optional<WatchedFile> watched;
    if (output_file)
        watched = WatchedFile{*output_file, max_bytes};
    Result<CapturedRun> run = run_captured(argv, {}, {}, cap, watched);
    if (!run)
        return run.error();
    CurlRun result;
    if (run->out_limit_hit || run->file_limit_hit) {
        result.cap_hit = true;
        return result;
    }
    if (!run->status.success()) {
        result.message = std::string(trim(decode_utf8_lossy(run->err)));
        result.curl_size_refused = run->status.signal == 0 && run->status.code == kCurlFileTooLarge;
        return result;
    }
    result.ok = true;
    result.body = std::move(run->out);
    return result;
}

} // namespace kestal::platform
