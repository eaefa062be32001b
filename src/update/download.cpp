// The updater's curl command line and its messages; running curl and
// reading its outcome is the platform's. curl's own size refusal and our
// output cap both mark the result as too large, which the callers report in
// their own words.
#include "update/download.h"

#include "platform/curl.h"
#include "platform/files.h"
#include "update/settings.h"

#include <fmt/format.h>

namespace kestal::update {

namespace {

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
    // way curl is stopped once it has written more than the limit, since it
    // ignores its own limit for file: addresses and for bodies sent without
    // a length.
    platform::Result<platform::CurlRun> run =
        platform::run_curl(curl_arguments(request), request.max_bytes, request.output_path);
    if (!run)
        return failure(fmt::format("kestal update: can't run {} ({})", "curl", run.error().text));
    if (run->cap_hit)
        return failure(fmt::format("kestal update: couldn't download {}: more than {} bytes",
                                   request.url, request.max_bytes),
                       true);
    if (!run->ok)
        return failure(fmt::format("kestal update: couldn't download {}{}", request.url,
                                   run->message.empty() ? "" : fmt::format(": {}", run->message)),
                       run->curl_size_refused);
    CurlResult result;
    result.ok = true;
    result.body = std::move(run->body);
    return result;
}

platform::Result<std::string> read_download(const std::string &path) {
    return platform::read_file(path);
}

} // namespace kestal::update
