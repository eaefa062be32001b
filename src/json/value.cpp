// JsonValue's accessors and builders, the member lookup and the shared Null.
// The lookup is a linear search in stored order: objects here are small
// (manifests, feeds, protocol messages) and must keep duplicates in place.
#include "json/json.h"

#include <stdexcept>

namespace kestal {

JsonValue JsonValue::array(JsonArray elements) {
    return JsonValue(Payload(std::in_place_index<4>, std::move(elements)));
}

JsonValue JsonValue::object(JsonObject members) {
    return JsonValue(Payload(std::in_place_index<5>, std::move(members)));
}

std::optional<bool> JsonValue::bool_if() const {
    if (const bool *flag = std::get_if<bool>(&payload_))
        return *flag;
    return std::nullopt;
}

std::optional<double> JsonValue::number_if() const {
    if (const double *x = std::get_if<double>(&payload_))
        return *x;
    return std::nullopt;
}

const std::string *JsonValue::string_if() const {
    return std::get_if<std::string>(&payload_);
}

const JsonArray *JsonValue::array_if() const {
    return std::get_if<JsonArray>(&payload_);
}

JsonArray *JsonValue::array_if() {
    return std::get_if<JsonArray>(&payload_);
}

const JsonObject *JsonValue::object_if() const {
    return std::get_if<JsonObject>(&payload_);
}

JsonObject *JsonValue::object_if() {
    return std::get_if<JsonObject>(&payload_);
}

void JsonValue::push(JsonValue element) {
    JsonArray *elements = array_if();
    if (!elements)
        throw std::logic_error("JsonValue::push(element) on a value that is not an Array");
    elements->push_back(std::move(element));
}

void JsonValue::push(std::string key, JsonValue value) {
    JsonObject *members = object_if();
    if (!members)
        throw std::logic_error("JsonValue::push(key, value) on a value that is not an Object");
    members->push_back(JsonMember{std::move(key), std::move(value)});
}

bool operator==(const JsonValue &a, const JsonValue &b) {
    return a.payload_ == b.payload_;
}

const JsonValue &json_null() {
    // Allocated once and never freed, so lookups stay valid during exit too.
    static const JsonValue *const null = new JsonValue();
    return *null;
}

const JsonValue &json_get(const JsonValue &value, std::string_view key) {
    if (const JsonObject *members = value.object_if()) {
        for (const JsonMember &member : *members)
            if (member.key == key)
                return member.value;
    }
    return json_null();
}

JsonValue json_string(std::string_view text) {
    return JsonValue::from_string(std::string(text));
}

} // namespace kestal
