// Downloads through the curl tool, run as a child with a fixed, restrictive
// command line: https only (file: addresses only when the feed itself is a
// local file), redirects to https only, a time limit and a size limit chosen
// by the caller. The size limit is enforced twice: by curl's own option, and
// by watching what curl writes (its standard output, or the output file as
// it grows), which stops curl as soon as it passes the limit.
#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestal::update {

// The largest download curl is ever allowed (the installer's upper bound).
inline constexpr std::uint64_t kMaxDownloadBytes = 536870912;

// The largest feed document read.
inline constexpr std::uint64_t kMaxFeedBytes = 1048576;

struct CurlRequest {
    std::string url;
    bool allow_file = false;
    // Where curl writes the body; standard output when absent.
    std::optional<std::string> output_path;
    // Seconds, as curl's --max-time takes them ("20" for the feed).
    std::string time_limit;
    // Bytes; a bigger body fails the download.
    std::uint64_t max_bytes = kMaxDownloadBytes;
};

struct CurlResult {
    bool ok = false;
    // What curl wrote to standard output (the body when no output path).
    std::string body;
    // A message ready to print when not ok.
    std::string error;
    // The size limit stopped the download (curl's or our own).
    bool too_large = false;
};

// The program and arguments curl is run with, the address last.
std::vector<std::string> curl_arguments(const CurlRequest &request);

// Runs curl. Fails with "kestal update: refusing a non-https address: {0}"
// without running curl for an address is_allowed_url refuses, "kestal
// update: can't run curl ({})" when curl cannot be started, and "kestal
// update: couldn't download {}{}" (curl's trimmed message after ": ") when
// it fails.
CurlResult curl_fetch(const CurlRequest &request);

// A downloaded file's bytes; the error is the OS error text alone.
platform::Result<std::string> read_download(const std::string &path);

} // namespace kestal::update
