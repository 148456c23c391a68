#include "files/rapidjson_setup.hpp"

#include "files/json_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/interruption_poll.hpp"
#include "files/json_fast_reader.hpp"
#include "files/json_number.hpp"
#include "files/text_position.hpp"

namespace vorn::files {
namespace {

enum class Event : std::uint8_t { Null, Bool, Number, String, Object, Array };

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

std::string_view expected_name(JsonKind kind) {
    switch (kind) {
        case JsonKind::Text:
        case JsonKind::Enumeration: return "a string";
        case JsonKind::Float: return "a number";
        case JsonKind::U32: return "an integer";
        case JsonKind::Record: return "an object";
        case JsonKind::RecordList: return "an array";
        case JsonKind::Any: return "a value";
    }
    return "a value";
}

Event expected_event(JsonKind kind) {
    switch (kind) {
        case JsonKind::Text:
        case JsonKind::Enumeration: return Event::String;
        case JsonKind::Float:
        case JsonKind::U32: return Event::Number;
        case JsonKind::Record: return Event::Object;
        case JsonKind::RecordList: return Event::Array;
        case JsonKind::Any: break;
    }
    return Event::Null;
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

// A problem of the given kind about a key; the members below add the other facts.
struct About : JsonProblem {
    explicit About(JsonProblemKind kind, std::string_view key = {}, std::string_view detail = {}) {
        this->kind = kind;
        this->key = key;
        this->detail = detail;
    }
    About& in(std::string_view what) {
        record = what;
        return *this;
    }
    About& expecting(std::string_view type) {
        expected = type;
        return *this;
    }
    About& finding(std::string_view type) {
        found = type;
        return *this;
    }
    About& among(std::span<const std::string_view> choices) {
        spellings = choices;
        return *this;
    }
};

bool is_plain_integer(std::string_view text) { return text.find_first_of(".eE") == std::string_view::npos; }

// Events between two looks at the clock (see InterruptionPoll): some hundred microseconds of parsing.
constexpr std::uint64_t kEventsPerClockCheck = 4096;

class SchemaHandler {
public:
    SchemaHandler(const JsonFormat& format, void* root, std::string_view text, const rapidjson::MemoryStream& stream,
                  Interruption* interruption, JsonPositions* positions)
        : format_(format),
          root_(root),
          text_(text),
          stream_(stream),
          poll_(interruption, kEventsPerClockCheck),
          positions_(positions) {
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
        if (has_surrogate(value)) return fail_at_token(About(JsonProblemKind::LoneSurrogate));
        return scalar(Event::String, value);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view key(text, length);
        bracket_ = false;
        poll_.advance();
        if (has_surrogate(key)) return fail_at_token(About(JsonProblemKind::LoneSurrogate));
        const bool ok = on_key(key);
        prev_end_ = stream_.Tell();
        return ok;
    }
    bool StartObject() { return open(Event::Object); }
    bool StartArray() { return open(Event::Array); }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }

    bool failed() const { return failed_; }
    JsonProblemKind problem() const { return problem_; }
    const std::string& message() const { return message_; }
    const std::string& failure_path() const { return path_; }
    std::size_t offset() const { return offset_; }
    // Where the reader stands, for a problem the JSON library found.
    std::string current_path() const { return path(); }

private:
    enum class FrameKind : std::uint8_t { Record, List, AnyArray, AnyObject };

    struct Frame {
        FrameKind kind;
        const JsonRecord* table = nullptr;  // Record: its table
        // List: the list field; Any frames: the field the value belongs to; Record: the record field it is
        // the value of (none for the document and for the elements of a list)
        const JsonField* field = nullptr;
        void* target = nullptr;  // Record: the record; List: the record holding the list; Any: the JsonValue
        std::uint64_t seen = 0;  // Record: bit i set once field i has occurred; List: the elements begun
    };

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

    // The entry the reader stands in, as "links[3].satellite", followed by `key` when one is given.
    std::string path(std::string_view key = {}) const {
        std::string out;
        const auto add = [&out](std::string_view name) {
            if (!out.empty()) out += '.';
            out += name;
        };
        for (const Frame& frame : stack_) {
            if (frame.kind == FrameKind::List) {
                add(frame.field->key);
                if (frame.seen > 0) out += "[" + std::to_string(frame.seen - 1) + "]";
            } else if (frame.field) {
                add(frame.field->key);
                if (frame.kind != FrameKind::Record) return out;  // inside an uninterpreted value
            }
        }
        if (!key.empty()) add(key);
        return out;
    }

    bool fail_at_token(const JsonProblem& problem, std::string_view key = {}) {
        problem_ = problem.kind;
        message_ = json_message(problem);
        path_ = path(key);
        offset_ = token_start();
        failed_ = true;
        return false;
    }

    bool typed_number(const std::string& text) { return scalar(Event::Number, text); }

    bool scalar(Event event, std::string_view text) {
        bracket_ = false;
        poll_.advance();
        const bool ok = on_value(event, text);
        prev_end_ = stream_.Tell();
        return ok;
    }

    bool open(Event event) {
        bracket_ = true;
        if (depth_ >= kMaxJsonNesting) return fail_at_token(About(JsonProblemKind::TooDeep));
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
        Frame& top = stack_.back();
        if (top.kind == FrameKind::AnyObject) {
            any_key_.assign(key);
            return true;
        }
        pending_ = nullptr;
        const std::span<const JsonField> fields = top.table->fields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].key != key) continue;
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (top.seen & bit)
                return fail_at_token(About(JsonProblemKind::DuplicateKey, key).in(top.table->what), key);
            top.seen |= bit;
            pending_ = &fields[i];
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
                return fail_at_token(About(JsonProblemKind::RootType).in(format_.root.what).finding(event_name(event)));
            stack_.push_back({FrameKind::Record, &format_.root, nullptr, root_});
            return true;
        }
        Frame& top = stack_.back();
        switch (top.kind) {
            case FrameKind::List:
                ++top.seen;
                if (event != Event::Object)
                    return fail_at_token(
                        About(JsonProblemKind::ElementType, top.field->key).finding(event_name(event)));
                if (positions_) positions_->start_element(*top.field, token_start());
                stack_.push_back({FrameKind::Record, top.field->table, nullptr, top.field->open(top.target)});
                return true;
            case FrameKind::AnyArray:
            case FrameKind::AnyObject: return any_value(any_slot(top), top.field, event, text);
            case FrameKind::Record: break;
        }
        return field_value(event, text);
    }

    bool on_close() {
        if (skip_depth_ > 0) {
            --skip_depth_;
            return true;
        }
        pending_ = nullptr;
        const Frame& top = stack_.back();
        if (top.kind == FrameKind::Record) {
            const std::span<const JsonField> fields = top.table->fields;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (fields[i].presence == Presence::Required && !(top.seen & (std::uint64_t{1} << i)))
                    return fail_at_token(About(JsonProblemKind::MissingKey, fields[i].key).in(top.table->what),
                                         fields[i].key);
            }
        }
        stack_.pop_back();
        return true;
    }

    bool type_error(const JsonField& field, Event event) {
        return fail_at_token(About(JsonProblemKind::FieldType, field.key)
                                 .expecting(expected_name(field.kind))
                                 .finding(event_name(event)),
                             field.key);
    }

    bool field_value(Event event, std::string_view text) {
        const JsonField* field = pending_;
        pending_ = nullptr;
        void* record = stack_.back().target;
        if (!field) {  // an unknown key
            if (event == Event::Object || event == Event::Array) skip_depth_ = 1;
            return true;
        }
        if (event == Event::Null) {
            if (field->presence == Presence::Required)
                return fail_at_token(About(JsonProblemKind::RequiredNull, field->key), field->key);
            return true;  // the same as absent
        }
        if (field->kind == JsonKind::Any)
            return any_value(static_cast<JsonValue*>(field->open(record)), field, event, text);
        if (event != expected_event(field->kind)) return type_error(*field, event);
        JsonScalar value;
        switch (field->kind) {
            case JsonKind::Text: value.text = text; break;
            case JsonKind::Float: {
                const std::optional<double> number = parse_json_double(text);
                if (!number)
                    return fail_at_token(About(JsonProblemKind::NumberOutOfRange, field->key, text), field->key);
                value.number = *number;
                break;
            }
            case JsonKind::U32: {
                const std::optional<std::uint32_t> count = parse_json_u32(text);
                if (!count) return fail_at_token(About(JsonProblemKind::InvalidU32, field->key, text), field->key);
                value.count = *count;
                break;
            }
            case JsonKind::Enumeration: {
                const auto& spellings = field->spellings;
                const auto found = std::find(spellings.begin(), spellings.end(), text);
                if (found == spellings.end())
                    return fail_at_token(About(JsonProblemKind::UnknownSpelling, field->key, text).among(spellings),
                                         field->key);
                value.choice = static_cast<std::size_t>(found - spellings.begin());
                break;
            }
            case JsonKind::Record:
                stack_.push_back({FrameKind::Record, field->table, field, field->open(record)});
                return true;
            case JsonKind::RecordList: stack_.push_back({FrameKind::List, nullptr, field, record}); return true;
            case JsonKind::Any: break;
        }
        field->store(record, value);
        return true;
    }

    // -- Any: an uninterpreted JSON value built without recursion

    JsonValue* any_slot(const Frame& top) {
        JsonValue& container = *static_cast<JsonValue*>(top.target);
        if (top.kind == FrameKind::AnyArray) return &container.as_array().emplace_back();
        // A repeated key inside an Any value keeps the last value.
        JsonValue& slot = container.as_object()[any_key_];
        slot = JsonValue();
        return &slot;
    }

    bool any_value(JsonValue* slot, const JsonField* field, Event event, std::string_view text) {
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
                    if (auto r = std::from_chars(text.data(), end, unsigned_value);
                        r.ec == std::errc() && r.ptr == end) {
                        *slot = JsonValue::unsigned_integer(unsigned_value);
                        return true;
                    }
                }
                const std::optional<double> value = parse_json_double(text);
                if (!value) return fail_at_token(About(JsonProblemKind::AnyNumberOutOfRange, field->key, text));
                *slot = JsonValue::number(*value);
                return true;
            }
            case Event::Array:
                *slot = JsonValue::array();
                stack_.push_back({FrameKind::AnyArray, nullptr, field, slot});
                return true;
            case Event::Object:
                *slot = JsonValue::object();
                stack_.push_back({FrameKind::AnyObject, nullptr, field, slot});
                return true;
        }
        return true;
    }

    const JsonFormat& format_;
    void* root_;
    std::string_view text_;
    const rapidjson::MemoryStream& stream_;
    InterruptionPoll poll_;
    JsonPositions* positions_;
    std::vector<Frame> stack_;
    std::size_t depth_ = 0;               // open arrays and objects, skipped ones included
    std::size_t skip_depth_ = 0;          // open arrays and objects inside the value of an unknown key
    const JsonField* pending_ = nullptr;  // the field whose value comes next; null for an unknown key
    std::string any_key_;
    bool bool_ = false;
    bool bracket_ = false;
    std::size_t prev_end_ = 0;
    bool failed_ = false;
    JsonProblemKind problem_ = JsonProblemKind::Syntax;
    std::string message_;
    std::string path_;
    std::size_t offset_ = 0;
};

}  // namespace

std::string_view json_problem_code(JsonProblemKind kind) {
    switch (kind) {
        case JsonProblemKind::Syntax: return "Syntax";
        case JsonProblemKind::NulCharacter: return "NulCharacter";
        case JsonProblemKind::LoneSurrogate: return "LoneSurrogate";
        case JsonProblemKind::TooDeep: return "TooDeep";
        case JsonProblemKind::RootType: return "RootType";
        case JsonProblemKind::ElementType: return "ElementType";
        case JsonProblemKind::FieldType: return "FieldType";
        case JsonProblemKind::RequiredNull: return "RequiredNull";
        case JsonProblemKind::NumberOutOfRange: return "NumberOutOfRange";
        case JsonProblemKind::AnyNumberOutOfRange: return "NumberOutOfRange";
        case JsonProblemKind::InvalidU32: return "InvalidU32";
        case JsonProblemKind::UnknownSpelling: return "UnknownSpelling";
        case JsonProblemKind::DuplicateKey: return "DuplicateKey";
        case JsonProblemKind::MissingKey: return "MissingKey";
    }
    return "Json";
}

std::string json_message(const JsonProblem& p) {
    const std::string key = quoted(p.key);
    switch (p.kind) {
        case JsonProblemKind::Syntax: return std::string(p.detail);
        case JsonProblemKind::NulCharacter: return "Unexpected NUL character";
        case JsonProblemKind::LoneSurrogate: return "Invalid lone surrogate escape in string";
        case JsonProblemKind::TooDeep:
            return "Arrays and objects nest more than " + std::to_string(kMaxJsonNesting) + " levels";
        case JsonProblemKind::RootType:
            return "Invalid type for " + std::string(p.record) + ": expected an object, found " + std::string(p.found);
        case JsonProblemKind::ElementType:
            return "Invalid type for an element of " + key + ": expected an object, found " + std::string(p.found);
        case JsonProblemKind::FieldType:
            return "Invalid type for " + key + ": expected " + std::string(p.expected) + ", found " +
                   std::string(p.found);
        case JsonProblemKind::RequiredNull: return "Null is not allowed for required key " + key;
        case JsonProblemKind::NumberOutOfRange: return "Number out of range for " + key + ": " + std::string(p.detail);
        case JsonProblemKind::AnyNumberOutOfRange:
            return "Number out of range in " + key + ": " + std::string(p.detail);
        case JsonProblemKind::InvalidU32:
            return "Invalid value for " + key +
                   ": expected an integer from 0 to 4294967295 without fraction or "
                   "exponent, found " +
                   std::string(p.detail);
        case JsonProblemKind::UnknownSpelling: {
            std::string out = "Unknown " + std::string(p.key) + " " + quoted(p.detail) + ", expected one of ";
            for (std::size_t i = 0; i < p.spellings.size(); ++i) out += (i ? ", " : "") + quoted(p.spellings[i]);
            return out;
        }
        case JsonProblemKind::DuplicateKey: return "Duplicate key " + key + " in " + std::string(p.record);
        case JsonProblemKind::MissingKey: return "Missing required key " + key + " in " + std::string(p.record);
    }
    return "Invalid JSON";
}

Result<void> read_json_into(const JsonFormat& format, const FileText& file_text, void* record,
                            Interruption* interruption, JsonPositions* positions) {
    if (!positions) {
        if (read_json_fast(format, file_text, record, interruption)) return {};
        format.root.reset(record);
    }
    const std::string_view text = file_text.view();
    rapidjson::MemoryStream stream(text.data(), text.size());
    SchemaHandler handler(format, record, text, stream, interruption, positions);
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;
    const rapidjson::ParseResult parsed = reader.Parse<kFlags>(stream, handler);
    FileError error{FileErrorKind::Json, {}, {}, 0, 0, {}, {}};
    std::size_t offset = stream.Tell();
    JsonProblemKind problem = JsonProblemKind::Syntax;
    if (handler.failed()) {
        offset = handler.offset();
        problem = handler.problem();
        error.message = handler.message();
        error.path = handler.failure_path();
    } else if (parsed.IsError()) {
        offset = parsed.Offset();
        std::string_view library = rapidjson::GetParseError_En(parsed.Code());
        if (!library.empty() && library.back() == '.') library.remove_suffix(1);
        error.message = json_message(About(JsonProblemKind::Syntax, {}, library));
        error.path = handler.current_path();
    } else if (offset == text.size()) {
        return {};
    }
    // The library takes a NUL byte for the end of the input, and reports whatever that makes of it.
    if (offset < text.size() && text[offset] == '\0') {
        problem = JsonProblemKind::NulCharacter;
        error.message = json_message(About(JsonProblemKind::NulCharacter));
    }
    error.code = json_problem_code(problem);
    const TextPosition position = text_position(text, offset, interruption);
    error.line = position.line;
    error.column = position.column;
    return error;
}

// ---- positions

void JsonPositions::start_element(const JsonField& list, std::size_t offset) {
    for (List& entry : lists_) {
        if (entry.field == &list) return entry.offsets.push_back(offset);
    }
    lists_.push_back({&list, {offset}});
}

std::size_t JsonPositions::element(std::string_view list, std::size_t index) const {
    for (const List& entry : lists_) {
        if (entry.field->key == list) return index < entry.offsets.size() ? entry.offsets[index] : npos;
    }
    return npos;
}

namespace {

// Finds the value of one key of the object the parse starts on, then stops the parse.
class MemberFinder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, MemberFinder> {
public:
    MemberFinder(std::string_view text, const rapidjson::MemoryStream& stream, std::string_view key,
                 Interruption* interruption)
        : text_(text), stream_(stream), key_(key), poll_(interruption, kEventsPerClockCheck) {}

    bool Default() { return value(); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return value(); }
    bool String(const char*, rapidjson::SizeType, bool) { return value(); }
    bool StartObject() { return open(); }
    bool StartArray() { return open(); }
    bool EndObject(rapidjson::SizeType) { return --depth_, true; }
    bool EndArray(rapidjson::SizeType) { return --depth_, true; }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        poll_.advance();
        if (depth_ == 1 && std::string_view(text, length) == key_) {
            // The value is the next byte after the key that is neither whitespace nor the colon.
            std::size_t at = stream_.Tell();
            while (at < text_.size() && std::string_view(" \t\n\r:").find(text_[at]) != std::string_view::npos) ++at;
            found_ = at;
            return false;
        }
        return true;
    }

    std::size_t found() const { return found_; }

private:
    bool value() { return poll_.advance(), true; }
    bool open() { return ++depth_, true; }

    std::string_view text_;
    const rapidjson::MemoryStream& stream_;
    std::string_view key_;
    InterruptionPoll poll_;
    std::size_t depth_ = 0;
    std::size_t found_ = JsonPositions::npos;
};

}  // namespace

std::size_t json_member_offset(std::string_view text, std::size_t object, std::string_view key,
                               Interruption* interruption) {
    if (object >= text.size()) return JsonPositions::npos;
    rapidjson::MemoryStream stream(text.data() + object, text.size() - object);
    MemberFinder finder(text.substr(object), stream, key, interruption);
    rapidjson::Reader reader;
    constexpr unsigned kFlags =
        rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag;
    reader.Parse<kFlags>(stream, finder);
    return finder.found() == JsonPositions::npos ? JsonPositions::npos : object + finder.found();
}

}  // namespace vorn::files
