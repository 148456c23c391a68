#include "files/rapidjson_setup.hpp"

#include "files/json_emitter.hpp"

#include <cmath>

#include "files/json_number.hpp"

namespace vorn::files {

struct JsonEmitter::State {
    State() : writer(buffer) { writer.SetIndent(' ', 2); }

    void raw_number(const std::string& text) { writer.RawValue(text.data(), text.size(), rapidjson::kNumberType); }

    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer;
};

JsonEmitter::JsonEmitter() : state_(std::make_unique<State>()) {}
JsonEmitter::~JsonEmitter() = default;

void JsonEmitter::start_object() { state_->writer.StartObject(); }
void JsonEmitter::end_object() { state_->writer.EndObject(); }
void JsonEmitter::start_array() { state_->writer.StartArray(); }
void JsonEmitter::end_array() { state_->writer.EndArray(); }

void JsonEmitter::key(std::string_view name) {
    state_->writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
}

void JsonEmitter::string(std::string_view text) {
    state_->writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void JsonEmitter::number(double value) {
    if (!std::isfinite(value)) throw UnwritableNumber(value);
    state_->raw_number(json_number_text(value));
}

void JsonEmitter::integer(std::int64_t value) { state_->raw_number(std::to_string(value)); }
void JsonEmitter::unsigned_integer(std::uint64_t value) { state_->raw_number(std::to_string(value)); }
void JsonEmitter::boolean(bool value) { state_->writer.Bool(value); }
void JsonEmitter::null() { state_->writer.Null(); }

void JsonEmitter::value(const JsonValue& value) {
    switch (value.kind()) {
        case JsonValue::Kind::Null: return null();
        case JsonValue::Kind::Bool: return boolean(value.as_bool());
        case JsonValue::Kind::Int: return integer(value.as_int());
        case JsonValue::Kind::UInt: return unsigned_integer(value.as_uint());
        case JsonValue::Kind::Double: return number(value.as_double());
        case JsonValue::Kind::String: return string(value.as_string());
        case JsonValue::Kind::Array:
            start_array();
            for (const JsonValue& element : value.as_array()) this->value(element);
            return end_array();
        case JsonValue::Kind::Object:
            start_object();
            for (const auto& [name, member] : value.as_object()) {
                key(name);
                this->value(member);
            }
            return end_object();
    }
}

std::string JsonEmitter::text() const { return std::string(state_->buffer.GetString(), state_->buffer.GetSize()); }

}  // namespace vorn::files
