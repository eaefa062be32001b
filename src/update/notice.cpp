// The daily notice and the start of the background check. The state is saved
// after the background copy was started, with `checked` already moved on, so
// later commands of the same day start no second copy even while the first
// one is still fetching.
#include "update/notice.h"

#include "platform/env.h"
#include "platform/process.h"
#include "support/version.h"
#include "update/command.h"

#include <cstdio>

namespace kestal::update {

NoticePlan plan_daily_notice(const UpdateState &state, std::uint64_t now) {
    NoticePlan plan;
    plan.state = state;
    if (state.off)
        return plan;
    std::uint64_t today = now / kSecondsPerDay;
    // A check time in the future counts as just now.
    std::uint64_t since_check = now >= state.checked ? now - state.checked : 0;
    bool day_old = since_check >= kSecondsPerDay;
    if (is_newer_version(state.latest) && today != state.told) {
        plan.print_notice = true;
        plan.state.told = today;
        plan.save = true;
    }
    if (day_old) {
        plan.start_background = true;
        plan.state.checked = now;
        plan.save = true;
    }
    return plan;
}

std::string notice_line(const std::string &latest) {
    return fill_placeholders("kestal: Kestal {0} is out (you have {1}). Run `kestal update`. (turn "
                             "this off: kestal update --off)",
                             {latest, kVersion});
}

void spawn_detached_self(const std::vector<std::string> &args) {
    std::optional<std::string> self = platform::self_exe_path();
    if (!self)
        return;
    std::vector<std::string> argv = {*self};
    argv.insert(argv.end(), args.begin(), args.end());
    (void)platform::spawn_detached(argv);
}

void daily_update_check() {
    std::optional<std::string> disabled = platform::env_var_bytes("KESTAL_NO_UPDATE_CHECK");
    if (disabled && !disabled->empty())
        return;
    if (!installed_root())
        return;
    // Without a settings file nothing could be remembered, and a background
    // copy would start before every command.
    if (!update_state_path())
        return;
    NoticePlan plan = plan_daily_notice(load_update_state(), unix_seconds_now());
    if (plan.print_notice) {
        std::string line = notice_line(plan.state.latest) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    if (plan.start_background)
        spawn_detached_self({"update", "--background"});
    if (plan.save)
        save_update_state(plan.state);
}

} // namespace kestal::update
