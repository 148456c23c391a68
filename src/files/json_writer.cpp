#include "files/json_writer.hpp"

namespace vorn::files {

void write_json_record(JsonEmitter& out, const JsonFormat& format, const JsonRecord& table, const void* record) {
    out.start_object();
    for (const JsonField& field : table.fields) {
        const bool present = field.present(record);
        if (!present && format.absent == AbsentField::Omitted) continue;
        out.key(field.key);
        if (present) field.write(out, format, field, record);
        else out.null();
    }
    out.end_object();
}

}  // namespace vorn::files
