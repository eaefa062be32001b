// The daily notice: before a compile command, an installed copy prints one
// line a day on standard error when `update.json` knows of a newer version,
// and about once a day starts a detached copy of itself (`kestal update
// --background`) that refreshes that knowledge from the feed. The foreground
// never touches the network and never reports a failure.
#pragma once

#include "update/settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestal::update {

inline constexpr std::uint64_t kSecondsPerDay = 86400;

// What the notice does for a loaded state at a time: whether to print the
// line, whether to start the background check, and the state to save (only
// when `save` is set).
struct NoticePlan {
    bool print_notice = false;
    bool start_background = false;
    bool save = false;
    UpdateState state;
};

NoticePlan plan_daily_notice(const UpdateState &state, std::uint64_t now);

// The notice line, without its newline.
std::string notice_line(const std::string &latest);

// Runs before the compile commands; nothing happens when
// KESTAL_NO_UPDATE_CHECK is set to a non-empty value, when the tool is not an
// installed copy, when update.json has no place, or when the check is off.
// Never fails, never writes anything but the notice.
void daily_update_check();

// Starts the tool's own executable with the arguments, detached, its
// standard streams on the null device; every failure is ignored.
void spawn_detached_self(const std::vector<std::string> &args);

} // namespace kestal::update
