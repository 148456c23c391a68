// Writing JSON text in the layout both file formats use: two-space indentation, each member and
// element on its own line, "[]" and "{}" for empty containers, a colon and one space after a key,
// no newline at the end.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "files/json_value.hpp"

namespace vorn::files {

// A number JSON cannot hold (NaN or an infinity): writing stops, and the writer adds the path of the
// field on its way out ("links[2].distance_km"). Writing null instead would give a file that does not
// read back.
struct UnwritableNumber : std::exception {
    explicit UnwritableNumber(double value) : value(value) {}
    const char* what() const noexcept override { return "a non-finite number"; }
    double value;
    std::string path;
};

class JsonEmitter {
public:
    JsonEmitter();
    ~JsonEmitter();
    JsonEmitter(const JsonEmitter&) = delete;
    JsonEmitter& operator=(const JsonEmitter&) = delete;

    void start_object();
    void end_object();
    void start_array();
    void end_array();
    void key(std::string_view name);

    // UTF-8 as it is; quotes, backslashes and control characters escaped (\n, \t, ..., \u00XX).
    void string(std::string_view text);
    // The shortest text that reads back to the same double, ".0" on whole numbers; UnwritableNumber
    // when not finite.
    void number(double value);
    void integer(std::int64_t value);
    void unsigned_integer(std::uint64_t value);
    void boolean(bool value);
    void null();
    // Objects with their members in ascending key order, as JsonValue holds them.
    void value(const JsonValue& value);

    // The text written so far. A call out of order (a value where a key is due, a close without an
    // open) is a broken invariant and throws Panic.
    std::string text() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vorn::files
