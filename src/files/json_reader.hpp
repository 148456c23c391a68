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
#include <string_view>
#include <vector>

#include "core/failure.hpp"
#include "files/file_error.hpp"
#include "files/json_schema.hpp"

namespace vorn::files {

// Where the elements of the document's lists of records begin in the text, and where the values of
// their fields begin: byte offsets, recorded only when a reader is given one. Elements are counted
// per list field over the whole document (the formats' lists sit at the top level).
class JsonPositions {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // The offset of element `index` of the list under `list` (its key), or npos.
    std::size_t element(std::string_view list, std::size_t index) const;
    // The offset of the value of `key` in that element, or npos when the element has no such key.
    std::size_t value(std::string_view list, std::size_t index, std::string_view key) const;

    // Called by the reader.
    void start_element(const JsonField& list, std::size_t offset);
    void value_of_field(const JsonField& list, std::size_t field, std::size_t offset);

private:
    struct List {
        const JsonField* field;
        std::size_t stride;                // one offset for the element, then one per field of its table
        std::vector<std::size_t> offsets;  // element by element
    };
    const List* find(std::string_view list) const;
    List& list_of(const JsonField& field);

    std::vector<List> lists_;
};

// Reads a whole document into `record`, which must be a default-constructed object of the format's
// root type; on failure it holds part of the document and should be dropped. The text must be valid
// UTF-8 (the file reader checks it). A failure is a Json error with the problem's code and message,
// its line and column and the path of the entry concerned. Long reads ask `interruption` now and
// then; a stop throws Interrupted. A broken expectation of the JSON library throws Panic.
Result<void> read_json_into(const JsonFormat& format, std::string_view text, void* record,
                            Interruption* interruption = nullptr, JsonPositions* positions = nullptr);

template <class Root>
Result<Root> read_json(const JsonFormat& format, std::string_view text, Interruption* interruption = nullptr,
                       JsonPositions* positions = nullptr) {
    if (format.root.type != json_detail::type_tag<Root>()) throw Panic("the format reads another type");
    Root record{};
    if (Result<void> read = read_json_into(format, text, &record, interruption, positions); !read)
        return std::move(read).error();
    return record;
}

}  // namespace vorn::files
