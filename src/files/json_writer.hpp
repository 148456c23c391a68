// Writing a record as a JSON document by the tables of its format (json_schema.hpp): keys in table
// order, an absent optional member left out or written as null as the format says, in the layout
// of JsonEmitter.
#pragma once

#include <string>

#include "core/failure.hpp"
#include "files/file_error.hpp"
#include "files/json_schema.hpp"

namespace vorn::files {

// An Unwritable error for a number JSON cannot hold, naming it and where it is:
//   Cannot write NaN as "distance_km" of links[2]: JSON numbers are finite
FileError unwritable_number_error(const UnwritableNumber& refused);

// The whole text, or an Unwritable error for a non-finite number (nothing else can fail for a
// well-formed record; an enumerator without a spelling is a Panic).
template <class Root>
Result<std::string> write_json(const JsonFormat& format, const Root& record) {
    if (format.root.type != json_detail::type_tag<Root>()) throw Panic("the format writes another type");
    try {
        JsonEmitter out;
        write_json_record(out, format, format.root, &record);
        return out.text();
    } catch (const UnwritableNumber& refused) {
        return unwritable_number_error(refused);
    }
}

}  // namespace vorn::files
