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
#include "files/discard_later.hpp"
#include "files/file_error.hpp"
#include "files/json_schema.hpp"
#include "files/text_file.hpp"

namespace vorn::files {

// Where the elements of the document's lists of records begin in the text (byte offsets), recorded
// only when a reader is given one: one offset per element, so that a finding about an entry can be
// placed without the cost of remembering every value. Elements are counted per list field over the
// whole document (the formats' lists sit at the top level).
class JsonPositions {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // The offset of element `index` of the list under the key `list`, or npos.
    std::size_t element(std::string_view list, std::size_t index) const;

    // Called by the reader.
    void start_element(const JsonField& list, std::size_t offset);

private:
    struct List {
        const JsonField* field;
        std::vector<std::size_t> offsets;
    };
    std::vector<List> lists_;
};

// The offset of the value of `key` in the JSON object that begins at `object` in a text that reads
// as JSON, or JsonPositions::npos when the object has no such key (keys are compared decoded, so
// "\u0066rom" is "from"; the first occurrence counts). A stop asked for by `interruption` throws
// Interrupted.
std::size_t json_member_offset(std::string_view text, std::size_t object, std::string_view key,
                               Interruption* interruption = nullptr);

// Reads a whole document into `record`, which must be a default-constructed object of the format's
// root type; on failure it holds part of the document and should be dropped. The text must be valid
// UTF-8 (the file reader checks it). A failure is a Json error with the problem's code and message,
// its line and column and the path of the entry concerned. A document is read the quick way first
// (json_fast_reader.hpp); positions are looked for only when there is a problem to report, or when
// `positions` asks for them. Long reads ask `interruption` now and then; a stop throws Interrupted. A
// broken expectation of the JSON library throws Panic.
Result<void> read_json_into(const JsonFormat& format, const FileText& text, void* record,
                            Interruption* interruption = nullptr, JsonPositions* positions = nullptr);

template <class Root>
Result<Root> read_json(const JsonFormat& format, const FileText& text, Interruption* interruption = nullptr,
                       JsonPositions* positions = nullptr) {
    if (format.root.type != json_detail::type_tag<Root>()) throw Panic("the format reads another type");
    Root record{};
    try {
        if (Result<void> read = read_json_into(format, text, &record, interruption, positions); !read)
            return std::move(read).error();
    } catch (const Interrupted&) {
        discard_later(std::move(record));
        throw;
    }
    return record;
}

}  // namespace vorn::files
