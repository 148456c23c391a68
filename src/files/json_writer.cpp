#include "files/json_writer.hpp"

#include <cmath>

namespace vorn::files {

void write_json_record(JsonEmitter& out, const JsonFormat& format, const JsonRecord& table, const void* record) {
    out.start_object();
    for (const JsonField& field : table.fields) field.write(out, format, field, record);
    out.end_object();
}

FileError unwritable_number_error(const UnwritableNumber& refused) {
    const double v = refused.value;
    const std::string number = std::isnan(v) ? "NaN" : v > 0 ? "inf" : "-inf";
    const std::size_t dot = refused.path.find_last_of('.');
    const std::string key = dot == std::string::npos ? refused.path : refused.path.substr(dot + 1);
    const std::string entry = dot == std::string::npos ? "the document" : refused.path.substr(0, dot);
    return {FileErrorKind::Unwritable,
            "NonFiniteNumber",
            "Cannot write " + number + " as \"" + key + "\" of " + entry + ": JSON numbers are finite",
            0,
            0,
            refused.path,
            {}};
}

}  // namespace vorn::files
