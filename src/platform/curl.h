// The curl tool as a child process: the one place that runs it, captures its
// output under a size cap and turns its outcome into facts the callers word
// in their own messages (the updater and the library commands each have their
// command line and their texts). The cap is applied twice: callers pass it
// to curl as --max-filesize, and we stop curl as soon as what it wrote (its
// standard output, or the file it writes with -o) passes it, since curl
// cannot know the size of a body sent without a length in advance and
// ignores the option for file: addresses.
#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestal::platform {

struct CurlRun {
    // curl exited with status 0; `body` is its whole standard output.
    bool ok = false;
    std::string body;
    // On failure: curl's standard error as UTF-8 (invalid bytes become
    // U+FFFD) with white space trimmed at both ends; may be empty.
    std::string message;
    // The output (or the output file) passed the cap and curl was stopped.
    bool cap_hit = false;
    // curl refused the transfer itself for its --max-filesize.
    bool curl_size_refused = false;
};

// Runs argv (argv[0] is "curl", found on PATH) with standard input empty and
// waits for it. Fails with the OS error only when curl cannot be started; a
// curl ended by a signal is a failure with whatever it wrote. With an output
// file (the path argv gives curl's -o), that file is watched as it grows.
Result<CurlRun> run_curl(const std::vector<std::string> &argv, std::uint64_t max_bytes,
                         const std::optional<std::string> &output_file = std::nullopt);

} // namespace kestal::platform
