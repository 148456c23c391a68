// Writing a record as a JSON document by the tables of its format (json_schema.hpp): keys in table
// order, an absent optional member left out or written as null as the format says, in the layout
// of JsonEmitter.
#pragma once

#include <stdexcept>
#include <string>

#include "files/json_schema.hpp"

namespace vorn::files {

// Cannot fail for a well-formed record; an enumerator without a spelling throws std::logic_error.
template <class Root>
std::string write_json(const JsonFormat& format, const Root& record) {
    if (format.root.type != json_detail::type_tag<Root>()) throw std::logic_error("the format writes another type");
    JsonEmitter out;
    write_json_record(out, format, format.root, &record);
    return out.text();
}

}  // namespace vorn::files
