// A JSON value held as data: the free-form `custom` part of a .vorn file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace vorn::files {

class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    // Members are kept in ascending byte order of their keys, whatever order they were read in.
    using Object = std::map<std::string, JsonValue, std::less<>>;

    enum class Kind : std::uint8_t { Null, Bool, Int, UInt, Double, String, Array, Object };

    JsonValue() noexcept = default;  // null

    static JsonValue boolean(bool value) { return JsonValue(Data(std::in_place_index<1>, value)); }
    static JsonValue integer(std::int64_t value) { return JsonValue(Data(std::in_place_index<2>, value)); }
    static JsonValue unsigned_integer(std::uint64_t value) { return JsonValue(Data(std::in_place_index<3>, value)); }
    static JsonValue number(double value) { return JsonValue(Data(std::in_place_index<4>, value)); }
    static JsonValue string(std::string value) { return JsonValue(Data(std::in_place_index<5>, std::move(value))); }
    static JsonValue array(Array value = {}) { return JsonValue(Data(std::in_place_index<6>, std::move(value))); }
    static JsonValue object(Object value = {}) { return JsonValue(Data(std::in_place_index<7>, std::move(value))); }

    Kind kind() const noexcept { return static_cast<Kind>(data_.index()); }
    bool is_null() const noexcept { return kind() == Kind::Null; }

    // The accessors throw std::bad_variant_access when the kind does not match.
    bool as_bool() const { return std::get<1>(data_); }
    std::int64_t as_int() const { return std::get<2>(data_); }
    std::uint64_t as_uint() const { return std::get<3>(data_); }
    double as_double() const { return std::get<4>(data_); }
    const std::string& as_string() const { return std::get<5>(data_); }
    const Array& as_array() const { return std::get<6>(data_); }
    Array& as_array() { return std::get<6>(data_); }
    const Object& as_object() const { return std::get<7>(data_); }
    Object& as_object() { return std::get<7>(data_); }

    // Structural equality. Integers compare by value whatever their signedness; an integer never
    // equals a float (they are different JSON texts), and floats compare exactly (NaN equals nothing).
    friend bool operator==(const JsonValue& a, const JsonValue& b);

private:
    using Data = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Array, Object>;
    explicit JsonValue(Data data) : data_(std::move(data)) {}
    Data data_;
};

}  // namespace vorn::files
