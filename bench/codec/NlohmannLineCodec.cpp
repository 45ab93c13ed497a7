#include "NlohmannLineCodec.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace corvane {
namespace {

using Json = nlohmann::json;

const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

bool readText(const Json& object, const char* key, std::optional<std::string>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        return true;
    }
    if (!value->is_string()) {
        return false;
    }
    out = value->get_ref<const std::string&>();
    return true;
}

bool readNumber(const Json& object, const char* key, std::optional<double>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        return true;
    }
    if (!value->is_number()) {
        return false;
    }
    out = value->get<double>();
    return true;
}

bool readWholeNumber(const Json& object, const char* key, std::optional<std::int64_t>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        return true;
    }
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(INT64_MAX)) {
            return false;
        }
        out = static_cast<std::int64_t>(number);
        return true;
    }
    if (value->is_number_integer()) {
        out = value->get<std::int64_t>();
        return true;
    }
    if (!value->is_number_float()) {
        return false;
    }
    const double number = value->get<double>();
    if (number != std::trunc(number) || number < -0x1p63 || number >= 0x1p63) {
        return false;
    }
    out = static_cast<std::int64_t>(number);
    return true;
}

bool finite(const std::optional<double>& number) {
    return !number || std::isfinite(*number);
}

template<typename Value>
void insert(Json& object, const char* key, const std::optional<Value>& value) {
    if (value) {
        object[key] = *value;
    }
}

} // namespace

std::optional<TouchMessage> NlohmannLineCodec::decode(std::string_view line) {
    const Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return std::nullopt;
    }
    const Json* kindValue = member(object, "kind");
    if (kindValue == nullptr || !kindValue->is_string()) {
        return std::nullopt;
    }
    const auto kind = kindFromRawValue(kindValue->get_ref<const std::string&>());
    if (!kind) {
        return std::nullopt;
    }
    TouchMessage m;
    m.kind = *kind;
    const bool valid =
        readText(object, "code", m.code) && readNumber(object, "dx", m.dx) &&
        readNumber(object, "dy", m.dy) && readNumber(object, "value", m.value) &&
        readText(object, "key", m.key) && readWholeNumber(object, "modifiers", m.modifiers) &&
        readText(object, "hostID", m.hostID) && readText(object, "clientID", m.clientID) &&
        readText(object, "token", m.token);
    return valid ? std::optional<TouchMessage>(std::move(m)) : std::nullopt;
}

std::optional<Bytes> NlohmannLineCodec::line(const TouchMessage& m) {
    if (!finite(m.dx) || !finite(m.dy) || !finite(m.value)) {
        return std::nullopt;
    }
    Json object = Json::object();
    object["kind"] = rawValue(m.kind);
    insert(object, "code", m.code);
    insert(object, "dx", m.dx);
    insert(object, "dy", m.dy);
    insert(object, "value", m.value);
    insert(object, "key", m.key);
    insert(object, "modifiers", m.modifiers);
    insert(object, "hostID", m.hostID);
    insert(object, "clientID", m.clientID);
    insert(object, "token", m.token);
    try {
        Bytes bytes = object.dump();
        bytes += '\n';
        return bytes;
    } catch (const Json::type_error&) { // a string that is not UTF-8
        return std::nullopt;
    }
}

} // namespace corvane
