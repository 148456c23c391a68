// The one description of a record: its fields in order, each with its name, its place in the C++
// record, whether a constructor takes it, and a one-line meaning with its unit. The Python class
// tables, the constructors and their text signatures, the file formats' schema rows and the typed
// stubs are all produced from it, so a new field is one line here plus the rules that use it.
//
//     struct Point { std::string name; double weight = 1.0; };
//     constexpr auto description(const Point*) {
//         using namespace vorn::describe;
//         return record<Point>(field<&Point::name>("name", "What the point is called"),
//                              field<&Point::weight>("weight", "Its mass", "kg", kOptional));
//     }
//
// `description` is found by argument-dependent lookup, so it sits beside the record in the record's own
// namespace. A record that keeps another by composition lists the other's fields in place with
// `embed<&Outer::inner>()`, renaming some on the way (to the empty name: left out). Every member of a plain aggregate
// must be described: `record` counts them, so a new member without a description does not compile. Enumerations are
// described the same way, as their members with a meaning each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace vorn::describe {

// How a constructor built from the description takes a field.
enum class Parameter : std::uint8_t {
    Required,     // a parameter without default
    Optional,     // "=None": omitted or None keeps the record's default value
    KeywordOnly,  // "*, name=None": optional, and by keyword only, after every positional parameter
    Absent,       // not a parameter: the field keeps its default until assigned
};
inline constexpr Parameter kRequired = Parameter::Required;
inline constexpr Parameter kOptional = Parameter::Optional;
inline constexpr Parameter kKeywordOnly = Parameter::KeywordOnly;
inline constexpr Parameter kAbsent = Parameter::Absent;

// A field a caller may leave out: its record's default stands in. A field added to a record that files
// or callers already use is keyword-only, so it takes no existing positional slot and no stored file
// needs its key.
constexpr bool may_be_omitted(Parameter parameter) { return parameter == kOptional || parameter == kKeywordOnly; }

// The computations that read the inputs of a request. Each field says which of them read it and how
// (`Field::read_by`), so that the table of what the model reads is written once, beside the fields.
enum class Computation : std::uint8_t { RouteFinding, Timeline, PhysicalModel };

// One computation's use of a field. For route finding, `strategies` holds bit s for each strategy of
// value s whose score reads the field; 0 means every strategy.
struct Reading {
    Computation computation = Computation::Timeline;
    std::string_view how;
    std::uint8_t strategies = 0;
};

constexpr Reading route_finding(std::string_view how, std::uint8_t strategies = 0) {
    return {Computation::RouteFinding, how, strategies};
}
constexpr Reading timeline(std::string_view how) { return {Computation::Timeline, how}; }
constexpr Reading physical_model(std::string_view how) { return {Computation::PhysicalModel, how}; }

// What reads a field; none for a field that no computation reads.
struct Readings {
    std::array<Reading, 3> items{};
    std::size_t count = 0;

    constexpr const Reading* begin() const { return items.data(); }
    constexpr const Reading* end() const { return items.data() + count; }
};

template <class Pointer>
struct MemberPointer;
template <class Owner, class Type>
struct MemberPointer<Type Owner::*> {
    using OwnerType = Owner;
    using ValueType = Type;
};

// How a field's value appears outside C++ where its C++ type alone does not say it.
struct Plain {};         // as its type says
struct Mapping {};       // a list of (key, value) pairs that is a map from key to value
struct RecordTuples {};  // a list of records, each as the plain tuple of its fields but the keyword-only ones
struct EmptyText {};     // an optional text that reads "" when absent and is present once written
struct AsTuple {};       // a list that reads as a tuple, in records kept as values that never change

// One field: a data member of the record itself.
template <auto Member, class Form = Plain>
struct Field {
    using Owner = typename MemberPointer<decltype(Member)>::OwnerType;
    using Type = typename MemberPointer<decltype(Member)>::ValueType;
    using Shape = Form;

    std::string_view name;     // the attribute's name, snake_case
    std::string_view meaning;  // one line, no full stop
    std::string_view unit;     // "km", "ms", "s", "Hz", "dB/km"; empty for none
    Parameter parameter = kRequired;
    Readings readings{};

    static constexpr Type& get(Owner& record) noexcept { return record.*Member; }
    static constexpr const Type& get(const Owner& record) noexcept { return record.*Member; }

    // The same field, read by the computations `read` (at most three).
    template <class... R>
    constexpr Field read_by(R... read) const {
        static_assert(sizeof...(R) <= 3, "a field has at most three readers");
        Field annotated = *this;
        annotated.readings = {{read...}, sizeof...(R)};
        return annotated;
    }
};

template <auto Member, class Form = Plain>
constexpr Field<Member, Form> field(std::string_view name, std::string_view meaning, std::string_view unit = {},
                                    Parameter parameter = kRequired) {
    return {name, meaning, unit, parameter};
}
template <auto Member, class Form = Plain>
constexpr Field<Member, Form> field(std::string_view name, std::string_view meaning, Parameter parameter) {
    return {name, meaning, {}, parameter};
}

// A field of a record kept inside another (composition), seen as a field of the outer record.
template <auto Outer, class Inner>
struct Nested {
    using Owner = typename MemberPointer<decltype(Outer)>::OwnerType;
    using Type = typename Inner::Type;
    using Shape = typename Inner::Shape;

    std::string_view name;
    std::string_view meaning;
    std::string_view unit;
    Parameter parameter = kRequired;
    Readings readings{};

    static constexpr Type& get(Owner& record) noexcept { return Inner::get(record.*Outer); }
    static constexpr const Type& get(const Owner& record) noexcept { return Inner::get(record.*Outer); }
};

// A new name for an embedded field: {"from_node", "src"}.
struct Rename {
    std::string_view from;
    std::string_view to;
};

// Marks where an embedded record's fields go; `record` replaces it by them.
template <auto Outer, std::size_t N>
struct Embed {
    std::array<Rename, N> renames;
};

template <auto Outer, class... R>
constexpr Embed<Outer, sizeof...(R)> embed(R... renames) {
    return {{renames...}};
}

// Marks where the fields of a base record go (for records that extend another by inheritance).
template <class B>
struct Base {};

template <class B>
constexpr Base<B> base() {
    return {};
}

// Fields that an aggregate of N members can take in braces: counts its members, a base counting as one.
namespace detail {
struct AnyMember {
    template <class T>
    constexpr operator T&() const noexcept;
    template <class T>
    constexpr operator T&&() const noexcept;
};
template <class T, class... A>
constexpr bool brace_constructible = requires { T{std::declval<A>()...}; };
template <class T, class... A>
constexpr std::size_t count_members() {
    if constexpr (sizeof...(A) > 64)
        return 0;
    else if constexpr (brace_constructible<T, A..., AnyMember>)
        return count_members<T, A..., AnyMember>();
    else
        return sizeof...(A);
}
}  // namespace detail

template <class T>
inline constexpr std::size_t member_count = detail::count_members<T>();

// The description of a record T: its fields (embedded ones spliced in) and how many entries of the
// aggregate they account for.
template <class T, class... F>
struct Record {
    using Type = T;
    std::tuple<F...> fields;
};

template <class T>
concept Described = requires(const T* record) { description(record); };

template <Described T>
constexpr auto description_of() {
    return description(static_cast<const T*>(nullptr));
}

namespace detail {

template <class Entry>
struct Spliced {
    static constexpr std::size_t members = 1;
    static constexpr auto fields(const Entry& entry) { return std::tuple<Entry>{entry}; }
};

template <auto Outer, std::size_t N>
struct Spliced<Embed<Outer, N>> {
    using Inner = typename MemberPointer<decltype(Outer)>::ValueType;
    static constexpr std::size_t members = 1;
    static constexpr auto fields(const Embed<Outer, N>& entry) {
        return std::apply(
            [&](const auto&... inner) {
                return std::tuple{Nested<Outer, std::decay_t<decltype(inner)>>{
                    renamed(entry, inner.name), inner.meaning, inner.unit, inner.parameter, inner.readings}...};
            },
            description_of<Inner>().fields);
    }
    static constexpr std::string_view renamed(const Embed<Outer, N>& entry, std::string_view name) {
        for (const Rename& rename : entry.renames)
            if (rename.from == name) return rename.to;
        return name;
    }
};

template <class B>
struct Spliced<Base<B>> {
    static constexpr std::size_t members = 1;
    static constexpr auto fields(const Base<B>&) { return description_of<B>().fields; }
};

}  // namespace detail

// Every member of T must be described, except where T has members that are not data of the record
// (a cache): those records pass `checked = false` and say why.
template <class T, bool Checked = true, class... E>
constexpr auto record(E... entries) {
    if constexpr (Checked && std::is_aggregate_v<T>) {
        constexpr std::size_t described = (std::size_t{0} + ... + detail::Spliced<E>::members);
        static_assert(described == member_count<T>, "every member of the record must be described");
    }
    return std::apply([](auto... fields) { return Record<T, decltype(fields)...>{{fields...}}; },
                      std::tuple_cat(detail::Spliced<E>::fields(entries)...));
}

// Calls `visit(field)` for each field of T's description, in order. An embedded field renamed to
// the empty name is not a field of the outer record.
namespace detail {
// The one copy of a description, in read-only data: a visitor takes its fields by reference, so a copy
// local to each visit would be built field by field at run time.
template <Described T>
inline constexpr auto description_kept = description_of<T>();
}  // namespace detail

template <Described T, class Visit>
constexpr void for_each_field(Visit&& visit) {
    constexpr const auto& description = detail::description_kept<T>;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                if constexpr (!std::get<I>(description.fields).name.empty()) visit(std::get<I>(description.fields));
            }(),
            ...);
    }(std::make_index_sequence<std::tuple_size_v<decltype(description.fields)>>{});
}

template <Described T>
inline constexpr std::size_t field_count = std::tuple_size_v<decltype(description_of<T>().fields)>;

// One member of an enumeration.
template <class E>
struct Member {
    E value;
    std::string_view name;  // as Python spells it: "HighestFidelity"
    std::string_view meaning;
};

template <class E, std::size_t N>
struct Enumeration {
    using Type = E;
    std::array<Member<E>, N> members;
};

template <class E, class... M>
constexpr Enumeration<E, sizeof...(M)> enumeration(M... members) {
    return {{members...}};
}

// The name of an enumeration's member ("HighestFidelity"); empty for a value without a member.
template <Described E>
    requires std::is_enum_v<E>
constexpr std::string_view member_name(E value) {
    for (const auto& member : description_of<E>().members)
        if (member.value == value) return member.name;
    return {};
}

constexpr auto description(const Computation*) {
    using C = Computation;
    return enumeration<C>(Member<C>{C::RouteFinding, "RouteFinding", "route finding"},
                          Member<C>{C::Timeline, "Timeline", "the timeline"},
                          Member<C>{C::PhysicalModel, "PhysicalModel", "the physical model"});
}

}  // namespace vorn::describe
