// A JSON file format as data. Each record type of a format is a table of fields: the key, whether
// the key is required, and the member of the C++ record the value goes to, from which the JSON type
// follows. The reader (json_reader.hpp) and the writer (json_writer.hpp) work from these tables
// alone, so a format is a few tables, not a parser:
//
//     constexpr std::array kPointFields{
//         json_field<&Point::name>("name", Presence::Required),
//         json_field<&Point::weight>("weight", Presence::Optional),     // std::optional<double>
//         json_field<&Point::kind>("kind", Presence::Optional, kKinds), // an enum, spelt as kKinds says
//         json_field<&Point::tags>("tags", Presence::Required, kTag),   // std::vector<Tag>, kTag its table
//     };
//     constexpr JsonRecord kPoint = json_record<Point>("a point", kPointFields);
//     constexpr JsonFormat kPointFormat{kPoint};
//
// Member types and the JSON values they take:
//     std::string                    a string
//     double                         any number
//     std::uint32_t                  an integer without fraction or exponent, 0 to 4294967295
//     an enum E                      one of the spellings given; spelling i is the enumerator of value i
//     a record R                     an object, read and written by R's own table
//     std::vector<R>                 an array of objects
//     JsonValue                      any JSON value, kept as data
// each but the list also wrapped in std::optional, which is absent until the key is read (and
// leaves a default-initialised member as it is when the key is missing). Keys are written in
// table order. A record may have at most 64 fields. The tables are checked when they are compiled:
// a field whose member belongs to another record, or whose sub-table describes another type, does
// not compile.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/failure.hpp"
#include "files/json_emitter.hpp"
#include "files/json_value.hpp"

namespace vorn::files {

enum class JsonKind : std::uint8_t { Text, Float, U32, Enumeration, Record, RecordList, Any };

// What a problem found while reading is about. The reader fills a JsonProblem and json_message turns
// it into the message text.
enum class JsonProblemKind : std::uint8_t {
    Syntax,               // detail: the JSON library's message, without its full stop
    NulCharacter,         // a NUL byte in the text
    LoneSurrogate,        // a \uD800-\uDFFF escape without its pair, in a string or a key
    TooDeep,              // more than kMaxJsonNesting levels of arrays and objects
    RootType,             // record, found: the document is not an object
    ElementType,          // key, found: an element of an array of records is not an object
    FieldType,            // key, expected, found
    RequiredNull,         // key
    NumberOutOfRange,     // key, detail: the number text (for a Float field)
    AnyNumberOutOfRange,  // key, detail: the number text (inside an Any field)
    InvalidU32,           // key, detail: the number text
    UnknownSpelling,      // key, detail: the string, spellings
    DuplicateKey,         // key, record
    MissingKey,           // key, record
};

struct JsonProblem {
    JsonProblemKind kind = JsonProblemKind::Syntax;
    std::string_view record;    // how the format names the record concerned ("a node")
    std::string_view key;       // the field concerned
    std::string_view expected;  // "a string", "a number", "an integer", "an object", "an array", "a value"
    std::string_view found;     // "null", "a boolean", "a number", "a string", "an object", "an array"
    std::string_view detail;
    std::span<const std::string_view> spellings;
};

// Arrays and objects may nest this many levels (the top-level object is level 1); one more is refused.
inline constexpr std::size_t kMaxJsonNesting = 128;

// The message texts of every format:
//   Invalid type for "nodes": expected an array, found an object
//   Missing required key "from" in a link
//   Unknown node_type "Ground", expected one of "ground", "satellite", "repeater"
// Strings inside messages are quoted with JSON escapes (control characters as \u00XX).
std::string json_message(const JsonProblem& problem);
// The problem's name for programs: "MissingKey", "FieldType", "Syntax", ...
std::string_view json_problem_code(JsonProblemKind kind);

enum class Presence : bool { Optional, Required };

// What the writer does with an optional member that holds no value.
enum class AbsentField : bool { Omitted, Null };

struct JsonRecord;
struct JsonFormat;
struct JsonField;

// A scalar on its way from the reader into a record; the member of the field's kind is set.
struct JsonScalar {
    std::string_view text;
    double number = 0.0;
    std::uint32_t count = 0;
    std::size_t choice = 0;  // the index of the spelling
};

// Writes one record by its table (json_writer.cpp); the fields' write functions call it for
// records inside records.
void write_json_record(JsonEmitter& out, const JsonFormat& format, const JsonRecord& table, const void* record);

struct JsonField {
    std::string_view key;
    // The first bytes of the key as little-endian words, zero after its end, and the masks of its
    // bytes in them: a reader compares a key of the text with a few word comparisons.
    std::array<std::uint64_t, 3> key_words{};
    std::array<std::uint64_t, 3> key_masks{};
    JsonKind kind = JsonKind::Text;
    Presence presence = Presence::Optional;
    const JsonRecord* table = nullptr;            // Record and RecordList: the table of the records inside
    std::span<const std::string_view> spellings;  // Enumeration
    const void* owner = nullptr;                  // the record type the member belongs to
    const void* inner = nullptr;                  // Record and RecordList: the record type inside

    // Generated from the member by json_field; `record` points to the owner type.
    void (*store)(void* record, const JsonScalar& value) = nullptr;  // Text, Float, U32, Enumeration
    // Record: makes the member present and returns it; RecordList: appends an element and returns
    // it; Any: makes the member present and returns the JsonValue.
    void* (*open)(void* record) = nullptr;
    void (*write)(JsonEmitter& out, const JsonFormat& format, const JsonField& field, const void* record) = nullptr;
    // A field written only where it departs from its default: whether the member holds the default.
    bool (*at_default)(const void* record) = nullptr;
    // RecordList: the elements and the room of the list, and making room for `count` elements.
    std::size_t (*list_size)(const void* record) = nullptr;
    std::size_t (*list_capacity)(const void* record) = nullptr;
    void (*list_reserve)(void* record, std::size_t count) = nullptr;
    // RecordList: where the list keeps its elements, and how many bytes of room it has there.
    std::pair<void*, std::size_t> (*list_storage)(void* record) = nullptr;
};

struct JsonRecord {
    std::string_view what;  // how messages name the record: "the document", "a node", "config"
    std::span<const JsonField> fields;
    const void* type = nullptr;
    void (*reset)(void* record) = nullptr;  // back to a default-constructed record
    std::uint64_t required = 0;             // bit i set when field i is required
};

struct JsonFormat {
    const JsonRecord& root;  // the document: always an object
    AbsentField absent = AbsentField::Omitted;
};

namespace json_detail {

template <class T>
inline constexpr char kTypeTag = 0;
template <class T>
constexpr const void* type_tag() {
    return &kTypeTag<T>;
}

template <class T>
struct Unwrapped {
    using type = T;
    static constexpr bool optional = false;
};
template <class T>
struct Unwrapped<std::optional<T>> {
    using type = T;
    static constexpr bool optional = true;
};

template <class T>
struct ListOf {
    using element = void;
};
template <class T>
struct ListOf<std::vector<T>> {
    using element = T;
};

template <class M>
struct MemberOf;
template <class R, class V>
struct MemberOf<V R::*> {
    using Record = R;
    using Stored = V;
};

template <class V>
constexpr JsonKind kind_of() {
    if constexpr (std::is_same_v<V, std::string>)
        return JsonKind::Text;
    else if constexpr (std::is_same_v<V, double>)
        return JsonKind::Float;
    else if constexpr (std::is_same_v<V, std::uint32_t>)
        return JsonKind::U32;
    else if constexpr (std::is_enum_v<V>)
        return JsonKind::Enumeration;
    else if constexpr (std::is_same_v<V, JsonValue>)
        return JsonKind::Any;
    else if constexpr (!std::is_void_v<typename ListOf<V>::element>)
        return JsonKind::RecordList;
    else {
        static_assert(std::is_class_v<V>,
                      "a JSON field holds text, a double, a u32, an enum, a record, "
                      "a list of records or a JsonValue");
        return JsonKind::Record;
    }
}

template <auto Member>
using OwnerOf = typename MemberOf<decltype(Member)>::Record;

// Reaches a data member of a record: `Get::get(record)` gives it, for a member of the record or of
// a record inside it.
template <auto Member>
struct MemberGet {
    using Type = typename MemberOf<decltype(Member)>::Stored;
    template <class R>
    static constexpr auto& get(R& record) {
        return record.*Member;
    }
};

// `Owner` is the record whose table holds the field; `Get` reaches the field from it.
template <class Owner, class Get>
struct AccessOf {
    using Record = Owner;
    using Stored = typename Get::Type;
    using Value = typename Unwrapped<Stored>::type;
    static constexpr bool kOptional = Unwrapped<Stored>::optional;
    static constexpr JsonKind kKind = kind_of<Value>();
    static_assert(!(kOptional && kKind == JsonKind::RecordList), "a list is never absent, only empty");

    static Stored& member(void* record) { return Get::get(*static_cast<Record*>(record)); }
    static const Stored& stored(const void* record) { return Get::get(*static_cast<const Record*>(record)); }
    static const Value& value(const void* record) {
        if constexpr (kOptional)
            return *stored(record);
        else
            return stored(record);
    }

    static void store(void* record, const JsonScalar& scalar) {
        Stored& slot = member(record);
        if constexpr (kKind == JsonKind::Text) {
            if constexpr (kOptional)
                slot.emplace(scalar.text);
            else
                slot.assign(scalar.text);
        } else if constexpr (kKind == JsonKind::Float) {
            slot = scalar.number;
        } else if constexpr (kKind == JsonKind::U32) {
            slot = scalar.count;
        } else if constexpr (kKind == JsonKind::Enumeration) {
            slot = static_cast<Value>(scalar.choice);
        }
    }

    static void* open(void* record) {
        Stored& slot = member(record);
        if constexpr (kKind == JsonKind::RecordList)
            return &slot.emplace_back();
        else if constexpr (kOptional)
            return &slot.emplace();
        else
            return &slot;
    }

    // The member holds what a default record holds (floats compared by their bits, so -0.0 is written).
    static bool at_default(const void* record) {
        static const Record neutral{};
        if constexpr (std::is_floating_point_v<Stored>)
            return std::bit_cast<std::uint64_t>(stored(record)) == std::bit_cast<std::uint64_t>(Get::get(neutral));
        else
            return stored(record) == Get::get(neutral);
    }

    // The key and the value; for an absent optional member, nothing or null as the format says.
    static void write(JsonEmitter& out, const JsonFormat& format, const JsonField& field, const void* record) {
        if (field.at_default && field.at_default(record)) return;
        if constexpr (kOptional) {
            if (!stored(record)) {
                if (format.absent == AbsentField::Omitted) return;
                out.key(field.key);
                return out.null();
            }
        }
        out.key(field.key);
        try {
            write_value(out, format, field, value(record));
        } catch (UnwritableNumber& refused) {
            refused.path.insert(0, refused.path.empty() || refused.path.front() == '[' ? "" : ".");
            refused.path.insert(0, field.key);
            throw;
        }
    }

    static void write_value(JsonEmitter& out, const JsonFormat& format, const JsonField& field, const Value& v) {
        if constexpr (kKind == JsonKind::Text) {
            out.string(v);
        } else if constexpr (kKind == JsonKind::Float) {
            out.number(v);
        } else if constexpr (kKind == JsonKind::U32) {
            out.unsigned_integer(v);
        } else if constexpr (kKind == JsonKind::Enumeration) {
            const auto index = static_cast<std::size_t>(v);
            if (index >= field.spellings.size()) throw Panic("an enumerator without a spelling");
            out.string(field.spellings[index]);
        } else if constexpr (kKind == JsonKind::Any) {
            out.value(v);
        } else if constexpr (kKind == JsonKind::Record) {
            write_json_record(out, format, *field.table, &v);
        } else {
            out.start_array();
            std::size_t index = 0;
            try {
                for (const auto& element : v) {
                    write_json_record(out, format, *field.table, &element);
                    ++index;
                }
            } catch (UnwritableNumber& refused) {
                refused.path.insert(0, "[" + std::to_string(index) + "]" + (refused.path.empty() ? "" : "."));
                throw;
            }
            out.end_array();
        }
    }

    static std::size_t list_size(const void* record) { return value(record).size(); }
    static std::size_t list_capacity(const void* record) { return value(record).capacity(); }
    static void list_reserve(void* record, std::size_t count) { member(record).reserve(count); }
    static std::pair<void*, std::size_t> list_storage(void* record) {
        Stored& list = member(record);
        return {list.data(), list.capacity() * sizeof(typename Stored::value_type)};
    }

    static constexpr JsonField field(std::string_view key, Presence presence) {
        JsonField f;
        f.key = key;
        for (std::size_t i = 0; i < key.size() && i < 8 * f.key_words.size(); ++i) {
            f.key_words[i / 8] |= std::uint64_t{static_cast<unsigned char>(key[i])} << (8 * (i % 8));
            f.key_masks[i / 8] |= std::uint64_t{0xFF} << (8 * (i % 8));
        }
        f.kind = kKind;
        f.presence = presence;
        f.owner = type_tag<Record>();
        if constexpr (kKind == JsonKind::Record) f.inner = type_tag<Value>();
        if constexpr (kKind == JsonKind::RecordList) {
            f.inner = type_tag<typename ListOf<Value>::element>();
            f.list_size = &list_size;
            f.list_capacity = &list_capacity;
            f.list_reserve = &list_reserve;
            f.list_storage = &list_storage;
        }
        f.store = &store;
        f.open = &open;
        f.write = &write;
        return f;
    }
};

// `Owner` is the record whose table holds the field: the member's own class, or a class derived from it.
template <auto Member, class Owner = OwnerOf<Member>>
using Access = AccessOf<Owner, MemberGet<Member>>;

// Not a constant expression, so a wrong table fails to compile.
[[noreturn]] inline void table_error(const char* what) { throw std::logic_error(what); }

}  // namespace json_detail

// A text, number, u32 or JsonValue field. A member inherited from another record names the record
// whose table holds it as `Owner`: json_field<&VornLink::from, VornLink>.
template <auto Member, class Owner = json_detail::OwnerOf<Member>>
constexpr JsonField json_field(std::string_view key, Presence presence) {
    using A = json_detail::Access<Member, Owner>;
    static_assert(A::kKind != JsonKind::Enumeration, "an enum field needs its spellings");
    static_assert(A::kKind != JsonKind::Record && A::kKind != JsonKind::RecordList, "a record field needs its table");
    return A::field(key, presence);
}

// An enum field: spelling i is the enumerator whose value is i.
template <auto Member, class Owner = json_detail::OwnerOf<Member>, std::size_t N>
constexpr JsonField json_field(std::string_view key, Presence presence,
                               const std::array<std::string_view, N>& spellings) {
    using A = json_detail::Access<Member, Owner>;
    static_assert(A::kKind == JsonKind::Enumeration, "only an enum field has spellings");
    JsonField f = A::field(key, presence);
    f.spellings = spellings;
    return f;
}

// A record field or a list of records, with the table of the records inside.
template <auto Member, class Owner = json_detail::OwnerOf<Member>>
constexpr JsonField json_field(std::string_view key, Presence presence, const JsonRecord& table) {
    using A = json_detail::Access<Member, Owner>;
    static_assert(A::kKind == JsonKind::Record || A::kKind == JsonKind::RecordList, "only a record field has a table");
    JsonField f = A::field(key, presence);
    if (table.type != f.inner) json_detail::table_error("the table describes another record type");
    f.table = &table;
    return f;
}

template <class Record, std::size_t N>
constexpr JsonRecord json_record(std::string_view what, const std::array<JsonField, N>& fields) {
    static_assert(N <= 64, "a record has at most 64 fields");
    std::uint64_t required = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (fields[i].owner != json_detail::type_tag<Record>()) json_detail::table_error("a field of another record");
        if (fields[i].presence == Presence::Required) required |= std::uint64_t{1} << i;
    }
    return {what, fields, json_detail::type_tag<Record>(),
            [](void* record) { *static_cast<Record*>(record) = Record{}; }, required};
}

}  // namespace vorn::files
