#include "files/vorn_format.hpp"

#include "files/json_described.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"

namespace vorn::files {
namespace {

const JsonFormat& vorn_format() {
    static JsonSchema schema(KeyStyle::Snake, Spelling::Lower);
    static const JsonFormat format{[]() -> const JsonRecord& {
                                       schema.table<VornMetadata>("metadata");
                                       schema.table<VornNode>("a node");
                                       schema.table<VornSatelliteExtension>("satellite");
                                       // "src" in Python, where "from" is a keyword.
                                       schema.table<VornLink>("a link", {.keys = {{"src", "from"}}});
                                       schema.table<VornConfig>("config");
                                       schema.table<VornConstraints>("constraints");
                                       schema.table<VornExtensions>("extensions");
                                       return schema.table<VornFile>("the document");
                                   }(),
                                   AbsentField::Omitted};
    return format;
}

}  // namespace

Result<VornFile> read_vorn_json(std::string_view text, Interruption* interruption) {
    try {
        auto read = read_json<VornFile>(vorn_format(), text, interruption);
        if (const auto* error = std::get_if<JsonReadError>(&read))
            return VornError::json(error->text(), error->line, error->column);
        return std::get<VornFile>(std::move(read));
    } catch (const std::logic_error& failure) {
        return VornError::json(failure.what(), 0, 0);
    }
}

std::string write_vorn_json(const VornFile& file) { return write_json(vorn_format(), file); }

}  // namespace vorn::files
