#include "files/rapidjson_setup.hpp"

#include "files/json_writer.hpp"

#include <cmath>
#include <string_view>

#include "files/number_text.hpp"

namespace vorn::files {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

class Emitter {
public:
    Emitter() : writer_(buffer_) { writer_.SetIndent(' ', 2); }

    std::string text() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }

    void key(std::string_view name) { writer_.Key(name.data(), static_cast<rapidjson::SizeType>(name.size())); }
    void string(std::string_view text) { writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size())); }
    void number(double value) {
        if (!std::isfinite(value)) {
            writer_.Null();
            return;
        }
        raw_number(json_number_text(value));
    }
    void raw_number(const std::string& text) { writer_.RawValue(text.data(), text.size(), rapidjson::kNumberType); }

    template <class T>
    void field(std::string_view name, const T& value) {
        key(name);
        put(value);
    }
    template <class T>
    void optional_field(std::string_view name, const std::optional<T>& value) {
        if (!value) return;
        key(name);
        put(*value);
    }

    void put(const std::string& text) { string(text); }
    void put(double value) { number(value); }
    void put(std::uint32_t value) { raw_number(std::to_string(value)); }
    void put(VornNodeType type) { string(spelling(type)); }
    void put(VornLinkType type) { string(spelling(type)); }

    void put(const VornMetadata& metadata) {
        writer_.StartObject();
        field("name", metadata.name);
        optional_field("description", metadata.description);
        optional_field("author", metadata.author);
        optional_field("created_at", metadata.created_at);
        writer_.EndObject();
    }

    void put(const VornNode& node) {
        writer_.StartObject();
        field("id", node.id);
        optional_field("memory_lifetime_ms", node.memory_lifetime_ms);
        optional_field("memory_capacity", node.memory_capacity);
        optional_field("node_type", node.node_type);
        writer_.EndObject();
    }

    void put(const VornSatelliteExtension& satellite) {
        writer_.StartObject();
        field("visibility", satellite.visibility);
        field("weather_factor", satellite.weather_factor);
        writer_.EndObject();
    }

    void put(const VornLink& link) {
        writer_.StartObject();
        optional_field("id", link.id);
        field("from", link.from);
        field("to", link.to);
        field("distance_km", link.distance_km);
        field("base_fidelity", link.base_fidelity);
        field("generation_rate_hz", link.generation_rate_hz);
        optional_field("link_type", link.link_type);
        optional_field("satellite", link.satellite);
        writer_.EndObject();
    }

    void put(const VornConfig& config) {
        writer_.StartObject();
        optional_field("alpha_loss", config.alpha_loss);
        optional_field("beta_fidelity_decay", config.beta_fidelity_decay);
        optional_field("gamma_swapping", config.gamma_swapping);
        optional_field("max_attempts", config.max_attempts);
        writer_.EndObject();
    }

    void put(const VornConstraints& constraints) {
        writer_.StartObject();
        optional_field("fidelity_target", constraints.fidelity_target);
        optional_field("max_latency_ms", constraints.max_latency_ms);
        writer_.EndObject();
    }

    void put(const VornExtensions& extensions) {
        writer_.StartObject();
        optional_field("custom", extensions.custom);
        writer_.EndObject();
    }

    template <class T>
    void put(const std::vector<T>& items) {
        writer_.StartArray();
        for (const T& item : items) put(item);
        writer_.EndArray();
    }

    void put(const JsonValue& value) {
        switch (value.kind()) {
            case JsonValue::Kind::Null: writer_.Null(); break;
            case JsonValue::Kind::Bool: writer_.Bool(value.as_bool()); break;
            case JsonValue::Kind::Int: raw_number(std::to_string(value.as_int())); break;
            case JsonValue::Kind::UInt: raw_number(std::to_string(value.as_uint())); break;
            case JsonValue::Kind::Double: number(value.as_double()); break;
            case JsonValue::Kind::String: string(value.as_string()); break;
            case JsonValue::Kind::Array: put(value.as_array()); break;
            case JsonValue::Kind::Object:
                writer_.StartObject();
                for (const auto& [name, member] : value.as_object()) field(name, member);
                writer_.EndObject();
                break;
        }
    }

    void put(const VornFile& file) {
        writer_.StartObject();
        field("version", file.version);
        field("metadata", file.metadata);
        field("nodes", file.nodes);
        field("links", file.links);
        optional_field("config", file.config);
        optional_field("constraints", file.constraints);
        optional_field("extensions", file.extensions);
        writer_.EndObject();
    }

private:
    rapidjson::StringBuffer buffer_;
    Writer writer_;
};

}  // namespace

std::string write_vorn_json(const VornFile& file) {
    Emitter emitter;
    emitter.put(file);
    return emitter.text();
}

std::string write_json_value(const JsonValue& value) {
    Emitter emitter;
    emitter.put(value);
    return emitter.text();
}

}  // namespace vorn::files
