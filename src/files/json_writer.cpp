#include "files/json_writer.hpp"

namespace vorn::files {

void write_json_record(JsonEmitter& out, const JsonFormat& format, const JsonRecord& table, const void* record) {
    out.start_object();
    for (const JsonField& field : table.fields) field.write(out, format, field, record);
    out.end_object();
}

}  // namespace vorn::files
