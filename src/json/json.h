// JSON values, the reader and the compact writer. The library manager, the
// language server and the updater read and write every JSON text through this
// module. A JsonValue is a plain owned tree with six kinds; numbers are always
// doubles. Objects keep their pairs in document order, duplicates included,
// and a lookup takes the first pair with the key, so a missing member and a
// null one look the same to callers. Reading fails with one line of text that
// names a 0-based byte offset; nothing here throws for bad input.
#pragma once

#include <fmt/format.h>

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestal {

// The six kinds, in the order of JsonValue's alternatives.
enum class JsonKind { Null, Bool, Number, String, Array, Object };

class JsonValue;
struct JsonMember;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::vector<JsonMember>;

class JsonValue {
  public:
    // Null.
    JsonValue() = default;

    // Defined below JsonMember: building the payload needs both element
    // types complete.
    static JsonValue boolean(bool flag);
    static JsonValue number(double x);
    static JsonValue from_string(std::string text);
    static JsonValue array(JsonArray elements);
    static JsonValue object(JsonObject members);
    // The empty ones (no default arguments: they too need complete types).
    static JsonValue array();
    static JsonValue object();

    JsonKind kind() const { return static_cast<JsonKind>(payload_.index()); }
    bool is_null() const { return kind() == JsonKind::Null; }

    // The scalar or container when the value is of that kind; nothing (or a
    // null pointer) for any other kind, which callers treat as absent.
    std::optional<bool> bool_if() const;
    std::optional<double> number_if() const;
    const std::string *string_if() const;
    const JsonArray *array_if() const;
    JsonArray *array_if();
    const JsonObject *object_if() const;
    JsonObject *object_if();

    // Appends an element to an Array, or a pair to an Object; either call on
    // a value of another kind is a fault of the caller.
    void push(JsonValue element);
    void push(std::string key, JsonValue value);

    // Deep equality: same kind, same scalars, same children in the same
    // order (Objects compare pair by pair, so order and duplicates count).
    friend bool operator==(const JsonValue &a, const JsonValue &b);

  private:
    using Payload = std::variant<std::monostate, bool, double, std::string, JsonArray, JsonObject>;
    explicit JsonValue(Payload payload);

    Payload payload_;
};

struct JsonMember {
    std::string key;
    JsonValue value;

    friend bool operator==(const JsonMember &, const JsonMember &) = default;
};

inline JsonValue::JsonValue(Payload payload) : payload_(std::move(payload)) {}
inline JsonValue JsonValue::boolean(bool flag) {
    return JsonValue(Payload(std::in_place_index<1>, flag));
}
inline JsonValue JsonValue::number(double x) {
    return JsonValue(Payload(std::in_place_index<2>, x));
}
inline JsonValue JsonValue::from_string(std::string text) {
    return JsonValue(Payload(std::in_place_index<3>, std::move(text)));
}
inline JsonValue JsonValue::array() {
    return array(JsonArray{});
}
inline JsonValue JsonValue::object() {
    return object(JsonObject{});
}

// The result of reading a text: a value, or the reader's one-line error text
// ("expected ':' at byte 5").
class [[nodiscard]] JsonParseResult {
  public:
    JsonParseResult(JsonValue value) : state_(std::in_place_index<0>, std::move(value)) {}
    static JsonParseResult failure(std::string error) {
        return JsonParseResult(State(std::in_place_index<1>, std::move(error)));
    }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    JsonValue &value() {
        assert(ok() && "value() of a failed JSON read");
        return std::get<0>(state_);
    }
    const JsonValue &value() const {
        assert(ok() && "value() of a failed JSON read");
        return std::get<0>(state_);
    }
    const std::string &error() const {
        assert(!ok() && "error() of a successful JSON read");
        return std::get<1>(state_);
    }

  private:
    using State = std::variant<JsonValue, std::string>;
    explicit JsonParseResult(State state) : state_(std::move(state)) {}

    State state_;
};

// Reads one JSON value from UTF-8 text; only whitespace (space, tab, line
// feed, carriage return) may follow it. Nesting deeper than 256 containers is
// refused, so no document can exhaust the stack. On failure the error text
// names the byte offset of the fault and no partial value is returned.
JsonParseResult json_parse(std::string_view text);

// The value of the first pair whose key equals `key` byte for byte when
// `value` is an Object; the shared immutable Null in every other case.
const JsonValue &json_get(const JsonValue &value, std::string_view key);

// The one process-wide Null, never freed or changed.
const JsonValue &json_null();

// A String value holding a copy of the text.
JsonValue json_string(std::string_view text);

// Appends the compact JSON text of the value (no whitespace anywhere).
// Numbers print as integers when whole and below 1e15 in magnitude, else as
// the shortest positional decimal that reads back as the same double; NaN
// and the infinities print as null.
void json_write(const JsonValue &value, std::string &out);

// The compact JSON text of the value, as json_write appends it.
std::string json_text(const JsonValue &value);

} // namespace kestal

// A JsonValue formats as its compact JSON text.
template <> struct fmt::formatter<kestal::JsonValue> : fmt::formatter<std::string_view> {
    template <class FormatContext>
    auto format(const kestal::JsonValue &value, FormatContext &ctx) const {
        return fmt::formatter<std::string_view>::format(kestal::json_text(value), ctx);
    }
};
