#include "files/rapidjson_setup.hpp"

#include "files/json_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/number_text.hpp"

namespace vorn::files {
namespace {

enum class Frame : std::uint8_t {
    Root, Metadata, Nodes, Node, Links, Link, Satellite, Config, Constraints, Extensions, CustomArray, CustomObject,
};

enum class Type : std::uint8_t { Text, Float, U32, NodeType, LinkType, Object, Array, Any };

enum class Event : std::uint8_t { Null, Bool, Number, String, Object, Array };

// Every key the format knows, grouped by the record that holds it, in the order of the records' tables.
enum Field : std::uint8_t {
    FVersion, FMetadata, FNodes, FLinks, FConfig, FConstraints, FExtensions,
    FName, FDescription, FAuthor, FCreatedAt,
    FNodeId, FLifetime, FCapacity, FNodeType,
    FLinkId, FFrom, FTo, FDistance, FFidelity, FRate, FLinkType, FSatellite,
    FVisibility, FWeather,
    FAlpha, FBeta, FGamma, FMaxAttempts,
    FFidelityTarget, FMaxLatency,
    FCustom,
    FieldCount,
};

struct KnownField {
    std::string_view key;
    Type type;
    bool required;
    Frame child;  // for Object and Array fields
};

constexpr std::array<KnownField, FieldCount> kFields{{
    {"version", Type::Text, true, Frame::Root},
    {"metadata", Type::Object, true, Frame::Metadata},
    {"nodes", Type::Array, true, Frame::Nodes},
    {"links", Type::Array, true, Frame::Links},
    {"config", Type::Object, false, Frame::Config},
    {"constraints", Type::Object, false, Frame::Constraints},
    {"extensions", Type::Object, false, Frame::Extensions},
    {"name", Type::Text, true, Frame::Root},
    {"description", Type::Text, false, Frame::Root},
    {"author", Type::Text, false, Frame::Root},
    {"created_at", Type::Text, false, Frame::Root},
    {"id", Type::Text, true, Frame::Root},
    {"memory_lifetime_ms", Type::Float, false, Frame::Root},
    {"memory_capacity", Type::U32, false, Frame::Root},
    {"node_type", Type::NodeType, false, Frame::Root},
    {"id", Type::Text, false, Frame::Root},
    {"from", Type::Text, true, Frame::Root},
    {"to", Type::Text, true, Frame::Root},
    {"distance_km", Type::Float, true, Frame::Root},
    {"base_fidelity", Type::Float, true, Frame::Root},
    {"generation_rate_hz", Type::Float, true, Frame::Root},
    {"link_type", Type::LinkType, false, Frame::Root},
    {"satellite", Type::Object, false, Frame::Satellite},
    {"visibility", Type::Float, true, Frame::Root},
    {"weather_factor", Type::Float, true, Frame::Root},
    {"alpha_loss", Type::Float, false, Frame::Root},
    {"beta_fidelity_decay", Type::Float, false, Frame::Root},
    {"gamma_swapping", Type::Float, false, Frame::Root},
    {"max_attempts", Type::U32, false, Frame::Root},
    {"fidelity_target", Type::Float, false, Frame::Root},
    {"max_latency_ms", Type::Float, false, Frame::Root},
    {"custom", Type::Any, false, Frame::Root},
}};

struct RecordShape {
    std::uint8_t first;
    std::uint8_t count;
    std::string_view what;  // how messages name the record
};

// Indexed by Frame; array and custom frames hold no keyed fields.
constexpr std::array<RecordShape, 12> kRecords{{
    {FVersion, 7, "the document"},
    {FName, 4, "metadata"},
    {0, 0, ""},
    {FNodeId, 4, "a node"},
    {0, 0, ""},
    {FLinkId, 8, "a link"},
    {FVisibility, 2, "satellite"},
    {FAlpha, 4, "config"},
    {FFidelityTarget, 2, "constraints"},
    {FCustom, 1, "extensions"},
    {0, 0, ""},
    {0, 0, ""},
}};

constexpr std::uint8_t kUnknownField = 0xFF;
constexpr std::uint8_t kNoField = 0xFE;

std::string_view event_name(Event event) {
    switch (event) {
        case Event::Null: return "null";
        case Event::Bool: return "a boolean";
        case Event::Number: return "a number";
        case Event::String: return "a string";
        case Event::Object: return "an object";
        case Event::Array: return "an array";
    }
    return "a value";
}

std::string_view expected_name(Type type) {
    switch (type) {
        case Type::Text:
        case Type::NodeType:
        case Type::LinkType: return "a string";
        case Type::Float: return "a number";
        case Type::U32: return "an integer";
        case Type::Object: return "an object";
        case Type::Array: return "an array";
        case Type::Any: return "a value";
    }
    return "a value";
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

// A decoded string holding the bytes ED A0..BF came from a lone surrogate escape such as "\udc00",
// which the JSON library lets through; it is not a character.
bool has_surrogate(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\xED', static_cast<std::size_t>(end - p)))) != nullptr) {
        if (p + 1 < end && (static_cast<unsigned char>(p[1]) & 0xE0) == 0xA0) return true;
        ++p;
    }
    return false;
}

bool is_plain_integer(std::string_view text) {
    return text.find_first_of(".eE") == std::string_view::npos;
}

// u32 fields take an integer written without fraction or exponent, 0 to 4294967295.
std::optional<std::uint32_t> parse_u32(std::string_view text) {
    if (!is_plain_integer(text)) return std::nullopt;
    if (!text.empty() && text.front() == '-') {
        if (text.find_first_not_of('0', 1) != std::string_view::npos) return std::nullopt;
        return 0;  // "-0"
    }
    std::uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

struct FrameState {
    Frame frame;
    std::uint32_t seen = 0;  // bit i: field (first + i) of the record has occurred
};

class VornHandler {
public:
    VornHandler(std::string_view text, const rapidjson::MemoryStream& stream) : text_(text), stream_(stream) {
        stack_.reserve(kMaxJsonNesting);
    }

    // -- SAX interface. Numbers arrive as raw text; the typed callbacks exist for completeness.
    bool Null() { return scalar(Event::Null, {}); }
    bool Bool(bool value) {
        bool_ = value;
        return scalar(Event::Bool, {});
    }
    bool Int(int value) { return typed_number(std::to_string(value)); }
    bool Uint(unsigned value) { return typed_number(std::to_string(value)); }
    bool Int64(std::int64_t value) { return typed_number(std::to_string(value)); }
    bool Uint64(std::uint64_t value) { return typed_number(std::to_string(value)); }
    bool Double(double value) { return typed_number(json_number_text(value)); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) { return scalar(Event::Number, {text, length}); }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view value(text, length);
        if (has_surrogate(value)) return fail_at_token("Invalid lone surrogate escape in string");
        return scalar(Event::String, value);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view key(text, length);
        bracket_ = false;
        if (has_surrogate(key)) return fail_at_token("Invalid lone surrogate escape in string");
        const bool ok = on_key(key);
        prev_end_ = stream_.Tell();
        return ok;
    }
    bool StartObject() { return open(Event::Object); }
    bool StartArray() { return open(Event::Array); }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }

    bool failed() const { return !message_.empty(); }
    const std::string& message() const { return message_; }
    std::size_t offset() const { return offset_; }
    VornFile take_file() && { return std::move(file_); }

private:
    // -- positions: the library calls us after a scalar or key has been consumed, but while it still
    // stands on a bracket. The start of a scalar is the first byte after the previous token that is
    // neither whitespace nor a separator.
    std::size_t token_start() const {
        if (bracket_) return stream_.Tell();
        std::size_t at = prev_end_;
        while (at < text_.size()) {
            const char c = text_[at];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != ',' && c != ':') break;
            ++at;
        }
        return at;
    }

    bool fail_at(std::string message, std::size_t offset) {
        message_ = std::move(message);
        offset_ = offset;
        return false;
    }
    bool fail_at_token(std::string message) { return fail_at(std::move(message), token_start()); }

    bool typed_number(const std::string& text) { return scalar(Event::Number, text); }

    bool scalar(Event event, std::string_view text) {
        bracket_ = false;
        const bool ok = on_value(event, text);
        prev_end_ = stream_.Tell();
        return ok;
    }

    bool open(Event event) {
        bracket_ = true;
        if (depth_ >= kMaxJsonNesting)
            return fail_at_token("Arrays and objects nest more than " + std::to_string(kMaxJsonNesting) + " levels");
        ++depth_;
        const bool ok = on_value(event, {});
        prev_end_ = stream_.Tell() + 1;
        return ok;
    }

    bool close() {
        bracket_ = true;
        --depth_;
        const bool ok = on_close();
        prev_end_ = stream_.Tell() + 1;
        return ok;
    }

    // -- structure

    bool on_key(std::string_view key) {
        if (skip_depth_ > 0) return true;
        FrameState& top = stack_.back();
        if (top.frame == Frame::CustomObject) {
            custom_key_.assign(key);
            return true;
        }
        const RecordShape& shape = kRecords[static_cast<std::size_t>(top.frame)];
        pending_ = kUnknownField;
        for (std::uint8_t i = 0; i < shape.count; ++i) {
            if (kFields[shape.first + i].key != key) continue;
            const std::uint32_t bit = 1u << i;
            if (top.seen & bit)
                return fail_at_token("Duplicate key " + quoted(key) + " in " + std::string(shape.what));
            top.seen |= bit;
            pending_ = static_cast<std::uint8_t>(shape.first + i);
            break;
        }
        return true;
    }

    bool on_value(Event event, std::string_view text) {
        if (skip_depth_ > 0) {
            if (event == Event::Object || event == Event::Array) ++skip_depth_;
            return true;
        }
        if (stack_.empty()) {
            if (event != Event::Object)
                return fail_at_token("Invalid type for the document: expected an object, found " +
                                     std::string(event_name(event)));
            stack_.push_back({Frame::Root});
            return true;
        }
        switch (stack_.back().frame) {
            case Frame::Nodes:
                if (event != Event::Object) return element_type_error("nodes", event);
                file_.nodes.emplace_back();
                stack_.push_back({Frame::Node});
                return true;
            case Frame::Links:
                if (event != Event::Object) return element_type_error("links", event);
                file_.links.emplace_back();
                stack_.push_back({Frame::Link});
                return true;
            case Frame::CustomArray:
            case Frame::CustomObject:
                return custom_value(custom_slot(), event, text);
            default:
                return field_value(event, text);
        }
    }

    bool on_close() {
        if (skip_depth_ > 0) {
            --skip_depth_;
            return true;
        }
        const FrameState top = stack_.back();
        stack_.pop_back();
        pending_ = kNoField;
        if (top.frame == Frame::CustomArray || top.frame == Frame::CustomObject) {
            custom_stack_.pop_back();
            return true;
        }
        const RecordShape& shape = kRecords[static_cast<std::size_t>(top.frame)];
        for (std::uint8_t i = 0; i < shape.count; ++i) {
            const KnownField& known = kFields[shape.first + i];
            if (known.required && !(top.seen & (1u << i)))
                return fail_at_token("Missing required key " + quoted(known.key) + " in " + std::string(shape.what));
        }
        return true;
    }

    bool element_type_error(std::string_view array_key, Event event) {
        return fail_at_token("Invalid type for an element of " + quoted(array_key) + ": expected an object, found " +
                             std::string(event_name(event)));
    }

    bool type_error(const KnownField& known, Event event) {
        return fail_at_token("Invalid type for " + quoted(known.key) + ": expected " + std::string(expected_name(known.type)) +
                             ", found " + std::string(event_name(event)));
    }

    bool field_value(Event event, std::string_view text) {
        const std::uint8_t field = pending_;
        pending_ = kNoField;
        if (field == kUnknownField) {
            if (event == Event::Object || event == Event::Array) skip_depth_ = 1;
            return true;
        }
        const KnownField& known = kFields[field];
        if (event == Event::Null) {
            if (known.required) return fail_at_token("Null is not allowed for required key " + quoted(known.key));
            return true;  // the same as absent
        }
        switch (known.type) {
            case Type::Text:
                if (event != Event::String) return type_error(known, event);
                set_text(field, text);
                return true;
            case Type::Float: {
                if (event != Event::Number) return type_error(known, event);
                const std::optional<double> value = parse_json_double(text);
                if (!value)
                    return fail_at_token("Number out of range for " + quoted(known.key) + ": " + std::string(text));
                set_float(field, *value);
                return true;
            }
            case Type::U32: {
                if (event != Event::Number) return type_error(known, event);
                const std::optional<std::uint32_t> value = parse_u32(text);
                if (!value)
                    return fail_at_token("Invalid value for " + quoted(known.key) + ": expected an integer from 0 to "
                                         "4294967295 without fraction or exponent, found " + std::string(text));
                if (field == FCapacity) current_node().memory_capacity = *value;
                else file_.config->max_attempts = *value;
                return true;
            }
            case Type::NodeType: {
                if (event != Event::String) return type_error(known, event);
                const std::optional<VornNodeType> type = node_type_from_spelling(text);
                if (!type)
                    return fail_at_token("Unknown node_type " + quoted(text) +
                                         ", expected one of \"ground\", \"satellite\", \"repeater\"");
                current_node().node_type = *type;
                return true;
            }
            case Type::LinkType: {
                if (event != Event::String) return type_error(known, event);
                const std::optional<VornLinkType> type = link_type_from_spelling(text);
                if (!type)
                    return fail_at_token("Unknown link_type " + quoted(text) + ", expected one of \"fiber\", \"satellite\"");
                current_link().link_type = *type;
                return true;
            }
            case Type::Object:
            case Type::Array:
                if (event != (known.type == Type::Object ? Event::Object : Event::Array)) return type_error(known, event);
                start_record(field);
                stack_.push_back({known.child});
                return true;
            case Type::Any:
                if (!file_.extensions->custom) file_.extensions->custom.emplace();
                return custom_value(&*file_.extensions->custom, event, text);
        }
        return true;
    }

    void start_record(std::uint8_t field) {
        switch (field) {
            case FConfig: file_.config.emplace(); break;
            case FConstraints: file_.constraints.emplace(); break;
            case FExtensions: file_.extensions.emplace(); break;
            case FSatellite: current_link().satellite.emplace(); break;
            default: break;
        }
    }

    VornNode& current_node() { return file_.nodes.back(); }
    VornLink& current_link() { return file_.links.back(); }

    void set_text(std::uint8_t field, std::string_view text) {
        switch (field) {
            case FVersion: file_.version.assign(text); break;
            case FName: file_.metadata.name.assign(text); break;
            case FDescription: file_.metadata.description.emplace(text); break;
            case FAuthor: file_.metadata.author.emplace(text); break;
            case FCreatedAt: file_.metadata.created_at.emplace(text); break;
            case FNodeId: current_node().id.assign(text); break;
            case FLinkId: current_link().id.emplace(text); break;
            case FFrom: current_link().from.assign(text); break;
            case FTo: current_link().to.assign(text); break;
            default: break;
        }
    }

    void set_float(std::uint8_t field, double value) {
        switch (field) {
            case FLifetime: current_node().memory_lifetime_ms = value; break;
            case FDistance: current_link().distance_km = value; break;
            case FFidelity: current_link().base_fidelity = value; break;
            case FRate: current_link().generation_rate_hz = value; break;
            case FVisibility: current_link().satellite->visibility = value; break;
            case FWeather: current_link().satellite->weather_factor = value; break;
            case FAlpha: file_.config->alpha_loss = value; break;
            case FBeta: file_.config->beta_fidelity_decay = value; break;
            case FGamma: file_.config->gamma_swapping = value; break;
            case FFidelityTarget: file_.constraints->fidelity_target = value; break;
            case FMaxLatency: file_.constraints->max_latency_ms = value; break;
            default: break;
        }
    }

    // -- custom: an uninterpreted JSON value built without recursion

    JsonValue* custom_slot() {
        JsonValue& container = *custom_stack_.back();
        if (container.kind() == JsonValue::Kind::Array) return &container.as_array().emplace_back();
        // A repeated key inside custom keeps the last value.
        JsonValue& slot = container.as_object()[custom_key_];
        slot = JsonValue();
        return &slot;
    }

    bool custom_value(JsonValue* slot, Event event, std::string_view text) {
        switch (event) {
            case Event::Null: *slot = JsonValue(); return true;
            case Event::Bool: *slot = JsonValue::boolean(bool_); return true;
            case Event::String: *slot = JsonValue::string(std::string(text)); return true;
            case Event::Number: {
                if (is_plain_integer(text)) {
                    std::int64_t signed_value = 0;
                    const char* end = text.data() + text.size();
                    if (auto r = std::from_chars(text.data(), end, signed_value); r.ec == std::errc() && r.ptr == end) {
                        *slot = JsonValue::integer(signed_value);
                        return true;
                    }
                    std::uint64_t unsigned_value = 0;
                    if (auto r = std::from_chars(text.data(), end, unsigned_value); r.ec == std::errc() && r.ptr == end) {
                        *slot = JsonValue::unsigned_integer(unsigned_value);
                        return true;
                    }
                }
                const std::optional<double> value = parse_json_double(text);
                if (!value) return fail_at_token("Number out of range in \"custom\": " + std::string(text));
                *slot = JsonValue::number(*value);
                return true;
            }
            case Event::Array:
                *slot = JsonValue::array();
                custom_stack_.push_back(slot);
                stack_.push_back({Frame::CustomArray});
                return true;
            case Event::Object:
                *slot = JsonValue::object();
                custom_stack_.push_back(slot);
                stack_.push_back({Frame::CustomObject});
                return true;
        }
        return true;
    }

    std::string_view text_;
    const rapidjson::MemoryStream& stream_;
    VornFile file_;
    std::vector<FrameState> stack_;
    std::size_t depth_ = 0;       // open arrays and objects, skipped ones included
    std::size_t skip_depth_ = 0;  // open arrays and objects inside the value of an unknown key
    std::uint8_t pending_ = kNoField;
    std::vector<JsonValue*> custom_stack_;
    std::string custom_key_;
    bool bool_ = false;
    bool bracket_ = false;
    std::size_t prev_end_ = 0;
    std::string message_;
    std::size_t offset_ = 0;
};

struct Position {
    std::size_t line = 1;
    std::size_t column = 1;
};

Position position_of(std::string_view text, std::size_t offset) {
    Position position;
    const std::size_t end = std::min(offset, text.size());
    for (std::size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++position.line;
            position.column = 1;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++position.column;
        }
    }
    return position;
}

VornError json_error(std::string_view text, std::string message, std::size_t offset) {
    if (offset < text.size() && text[offset] == '\0') message = "Unexpected NUL character";
    if (!message.empty() && message.back() == '.') message.pop_back();
    const Position at = position_of(text, offset);
    message += " at line " + std::to_string(at.line) + " column " + std::to_string(at.column);
    return VornError::json(std::move(message), at.line, at.column);
}

}  // namespace

namespace {

template <unsigned kFlags>
Result<VornFile> parse_document(std::string_view text) {
    try {
        rapidjson::MemoryStream stream(text.data(), text.size());
        VornHandler handler(text, stream);
        rapidjson::Reader reader;
        const rapidjson::ParseResult parsed = reader.Parse<kFlags>(stream, handler);
        if (parsed.IsError()) {
            if (parsed.Code() == rapidjson::kParseErrorTermination && handler.failed())
                return json_error(text, handler.message(), handler.offset());
            return json_error(text, rapidjson::GetParseError_En(parsed.Code()), parsed.Offset());
        }
        // The library takes a NUL byte for the end of the input.
        if (stream.Tell() != text.size()) return json_error(text, "Unexpected NUL character", stream.Tell());
        return std::move(handler).take_file();
    } catch (const std::logic_error& failure) {
        return VornError::json(failure.what(), 0, 0);
    }
}

constexpr unsigned kReadFlags = rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;

}  // namespace

Result<VornFile> read_vorn_json(std::string_view text) {
    return parse_document<kReadFlags | rapidjson::kParseValidateEncodingFlag>(text);
}

Result<VornFile> read_vorn_json_utf8(std::string_view text) { return parse_document<kReadFlags>(text); }

}  // namespace vorn::files
