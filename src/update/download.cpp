// curl's command line and the reading of its results. curl's exit status 63
// is its "maximum file size exceeded"; it and our own output limit both mark
// the result as too large, which the callers report in their own words.
#include "update/download.h"

#include "platform/files.h"
#include "platform/process.h"
#include "platform/utf8.h"
#include "update/settings.h"

#include <fmt/format.h>

namespace kestal::update {

namespace {

constexpr int kCurlFileTooLarge = 63;

std::string_view trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

CurlResult failure(std::string message, bool too_large = false) {
    CurlResult result;
    result.error = std::move(message);
    result.too_large = too_large;
    return result;
}

} // namespace

std::vector<std::string> curl_arguments(const CurlRequest &request) {
    std::vector<std::string> argv = {
        "curl",           "-fsSL",
        "--max-time",     request.time_limit,
        "--proto",        request.allow_file ? "=https,file" : "=https",
        "--proto-redir",  "=https",
        "--max-filesize", std::to_string(request.max_bytes),
    };
    if (request.output_path) {
        argv.push_back("-o");
        argv.push_back(*request.output_path);
    }
    argv.push_back(request.url);
    return argv;
}

CurlResult curl_fetch(const CurlRequest &request) {
    if (!is_allowed_url(request.url, request.allow_file))
        return failure(
            fill_placeholders("kestal update: refusing a non-https address: {0}", {request.url}));
    // Standard output carries the body only without an output path; either
    // way no more than the limit (and one byte to notice it) is kept.
    platform::Result<platform::CapturedRun> run =
        platform::run_captured(curl_arguments(request), {}, {}, request.max_bytes);
    if (!run)
        return failure(fmt::format("kestal update: can't run {} ({})", "curl", run.error().text));
    if (run->out_limit_hit)
        return failure(fmt::format("kestal update: couldn't download {}: more than {} bytes",
                                   request.url, request.max_bytes),
                       true);
    if (!run->status.success()) {
        std::string message = platform::decode_utf8_lossy(run->err);
        std::string_view trimmed = trim(message);
        return failure(fmt::format("kestal update: couldn't download {}{}", request.url,
                                   trimmed.empty() ? "" : fmt::format(": {}", trimmed)),
                       run->status.signal == 0 && run->status.code == kCurlFileTooLarge);
    }
    CurlResult result;
    result.ok = true;
    result.body = std::move(run->out);
    return result;
}

platform::Result<std::string> read_download(const std::string &path) {
    return platform::read_file(path);
}

} // namespace kestal::update
