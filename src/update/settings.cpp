// update.json, the feed address, version texts and the message filler. The
// settings file is written atomically (a fresh file renamed into place),
// because the foreground command and a background check may write it at the
// same moment; the last write wins, and a reader never sees half a file.
#include "update/settings.h"

#include "platform/env.h"
#include "platform/files.h"
#include "support/addresses.h"
#include "support/version.h"
#include "json/json.h"

#include <chrono>
#include <cmath>

namespace kestal::update {

namespace {

// A Number member without a fractional part as an unsigned time: values of
// 2 to the 63rd and above saturate, values below 1 become 0. Anything else
// keeps the default.
void read_time(const JsonValue &doc, std::string_view key, std::uint64_t &field) {
    std::optional<double> x = json_get(doc, key).number_if();
    if (!x || !std::isfinite(*x) || *x != std::trunc(*x))
        return;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (*x >= kTwoTo63)
        field = static_cast<std::uint64_t>(INT64_MAX);
    else if (*x < 1)
        field = 0;
    else
        field = static_cast<std::uint64_t>(*x);
}

// One version part: an optional "+", then digits, below 2 to the 64th.
std::optional<std::uint64_t> parse_version_part(std::string_view part) {
    if (!part.empty() && part[0] == '+')
        part.remove_prefix(1);
    if (part.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : part) {
        if (c < '0' || c > '9')
            return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::optional<std::string> update_state_path() {
    std::optional<std::string> data = platform::local_app_data_dir();
    if (!data)
        return std::nullopt;
    return *data + "/Kestal/update.json";
}

UpdateState parse_update_state(std::string_view text) {
    UpdateState state;
    JsonParseResult parsed = json_parse(text);
    if (!parsed.ok() || parsed.value().kind() != JsonKind::Object)
        return state;
    const JsonValue &doc = parsed.value();
    if (std::optional<bool> off = json_get(doc, "off").bool_if())
        state.off = *off;
    if (const std::string *latest = json_get(doc, "latest").string_if())
        state.latest = *latest;
    read_time(doc, "checked", state.checked);
    read_time(doc, "told", state.told);
    return state;
}

UpdateState load_update_state() {
    std::optional<std::string> path = update_state_path();
    if (!path)
        return {};
    platform::Result<std::string> text = platform::read_file(*path);
    if (!text)
        return {};
    return parse_update_state(*text);
}

std::string update_state_text(const UpdateState &state) {
    JsonValue doc = JsonValue::object();
    doc.push("off", JsonValue::boolean(state.off));
    doc.push("checked", JsonValue::number(static_cast<double>(state.checked)));
    doc.push("latest", json_string(state.latest));
    doc.push("told", JsonValue::number(static_cast<double>(state.told)));
    return json_text(doc);
}

void save_update_state(const UpdateState &state) {
    std::optional<std::string> path = update_state_path();
    if (!path)
        return;
    std::string folder = path->substr(0, path->rfind('/'));
    (void)platform::create_dirs(folder);
    (void)platform::write_file_atomic(*path, update_state_text(state));
}

std::string update_feed_url() {
    std::optional<std::string> url = platform::env_var("KESTAL_UPDATE_URL");
    if (url && !url->empty())
        return *url;
    return std::string(kUpdateFeedUrl);
}

bool is_allowed_url(std::string_view url, bool allow_file) {
    return url.starts_with("https://") || (allow_file && url.starts_with("file:"));
}

std::optional<Version> parse_version(std::string_view text) {
    std::vector<std::uint64_t> parts;
    for (;;) {
        std::size_t dot = text.find('.');
        std::optional<std::uint64_t> part = parse_version_part(text.substr(0, dot));
        if (!part)
            return std::nullopt;
        parts.push_back(*part);
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
    }
    if (parts.size() != 3)
        return std::nullopt;
    return Version{parts[0], parts[1], parts[2]};
}

bool is_newer_version(std::string_view text) {
    static const Version running = *parse_version(kVersion);
    std::optional<Version> version = parse_version(text);
    return version && *version > running;
}

bool is_installer_name(std::string_view name) {
    for (char c : name) {
        bool allowed =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

std::string fill_placeholders(std::string_view message, const std::vector<std::string> &values) {
    std::string text(message);
    for (std::size_t index = 0; index < values.size(); ++index) {
        std::string placeholder = "{" + std::to_string(index) + "}";
        std::string filled;
        std::size_t from = 0;
        for (std::size_t at; (at = text.find(placeholder, from)) != std::string::npos;
             from = at + placeholder.size())
            filled.append(text, from, at - from).append(values[index]);
        filled.append(text, from);
        text = std::move(filled);
    }
    return text;
}

std::uint64_t unix_seconds_now() {
    auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
    return seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
}

} // namespace kestal::update
