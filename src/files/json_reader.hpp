// Reading a JSON document into a record by the tables of its format (json_schema.hpp).
//
// Rules every format shares: members in any order; unknown keys skipped with their values at every
// level (the values are still checked as JSON); a known key twice in one object refused; a required
// key missing or null refused; an optional key given null the same as absent; numbers taken from
// their raw text (u32 fields refuse fractions, exponents and out-of-range values); arrays and
// objects nested deeper than kMaxJsonNesting refused without recursion; NUL bytes, lone surrogate
// escapes and trailing text refused. The first problem ends reading.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "core/failure.hpp"
#include "files/json_schema.hpp"

namespace vorn::files {

struct JsonReadError {
    std::string message;     // the format's text for the problem (JsonFormat::message)
    std::size_t line = 0;    // 1-based position of the problem
    std::size_t column = 0;  // counted in characters

    // The message followed by " at line L column C".
    std::string text() const {
        return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
    }
};

// Reads a whole document into `record`, which must be a default-constructed object of the format's
// root type; on failure it holds part of the document and should be dropped. The text must be valid
// UTF-8 (the file reader checks it). Long reads ask `interruption` now and then; a stop throws
// vorn::Interrupted. A broken expectation of the JSON library throws std::logic_error.
std::optional<JsonReadError> read_json_into(const JsonFormat& format, std::string_view text, void* record,
                                            Interruption* interruption = nullptr);

template <class Root>
std::variant<Root, JsonReadError> read_json(const JsonFormat& format, std::string_view text,
                                            Interruption* interruption = nullptr) {
    if (format.root.type != json_detail::type_tag<Root>()) throw std::logic_error("the format reads another type");
    Root record{};
    if (std::optional<JsonReadError> error = read_json_into(format, text, &record, interruption))
        return *std::move(error);
    return record;
}

}  // namespace vorn::files
