// The updater's small pieces: the settings file `update.json`, the feed
// address and which addresses may be fetched, version texts and their
// comparison with the running version, installer file names, and the
// "{0}"-style filler that builds every updater message.
//
// The settings file never produces an error: a missing or broken file reads
// as a fresh installation and writing failures are ignored, so nothing here
// can change the status of the command it serves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal::update {

// The contents of `update.json`.
struct UpdateState {
    // The daily notice and background check are switched off.
    bool off = false;
    // Unix seconds of the last feed check that was started.
    std::uint64_t checked = 0;
    // The newest version the feed reported last time.
    std::string latest;
    // The Unix day (seconds / 86400) on which the last notice was printed.
    std::uint64_t told = 0;

    friend bool operator==(const UpdateState &, const UpdateState &) = default;
};

// `Kestal/update.json` under the per-user data folder (LOCALAPPDATA, else
// XDG_DATA_HOME, else ~/.local/share); nothing when none is known.
std::optional<std::string> update_state_path();

// The state from `update.json`; the defaults for a missing path or file,
// text that is not a JSON object, and for each member of the wrong kind.
UpdateState load_update_state();

// The state as it is read from a text (the rules of load_update_state).
UpdateState parse_update_state(std::string_view text);

// The compact JSON text of the state: {"off":..,"checked":..,"latest":..,"told":..}.
std::string update_state_text(const UpdateState &state);

// Writes the state, creating its folder; every failure is ignored.
void save_update_state(const UpdateState &state);

// KESTAL_UPDATE_URL when set, valid UTF-8 and not empty; else the built-in
// feed address.
std::string update_feed_url();

// Whether the updater may fetch the address: "https://" always, "file:" only
// with allow_file. Both prefixes are case-sensitive.
bool is_allowed_url(std::string_view url, bool allow_file);

// A version text: three parts joined by ".", each an optional "+" and one
// or more decimal digits below 2 to the 64th. Nothing for anything else.
struct Version {
    std::uint64_t major = 0, minor = 0, patch = 0;
    friend auto operator<=>(const Version &, const Version &) = default;
};
std::optional<Version> parse_version(std::string_view text);

// True when the text is a valid version text greater than the running one.
bool is_newer_version(std::string_view text);

// Whether every character is one of a-z, 0-9, ".", "_" and "-".
bool is_installer_name(std::string_view name);

// Replaces "{0}", "{1}", ... in turn by the values, each index applied to the
// text produced so far; a placeholder without a value stays.
std::string fill_placeholders(std::string_view message, const std::vector<std::string> &values);

// Unix seconds now; 0 when the clock is before 1970.
std::uint64_t unix_seconds_now();

} // namespace kestal::update
