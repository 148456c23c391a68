#include "files/vorn_format.hpp"

#include "files/json_described.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"

namespace vorn::files {
namespace {

const JsonFormat& vorn_format() {
    static JsonSchema schema(KeyStyle::Snake, Spelling::Lower);
    static const JsonFormat format{
        []() -> const JsonRecord& {
            schema.table<VornMetadata>("metadata");
            schema.table<VornNode>("a node");
            // The conditions default to 1 where a caller builds them, but a
            // file's satellite section has always named both.
            schema.table<VornSatelliteExtension>("satellite", {.required = {"visibility", "weather_factor"}});
            // "src" in Python, where "from" is a keyword. A link's id is the
            // first argument of its constructor, and files have always
            // been free to leave it out.
            schema.table<VornLink>("a link", {.keys = {{"src", "from"}}, .optional = {"id"}});
            schema.table<VornConfig>("config");
            schema.table<VornConstraints>("constraints");
            schema.table<VornExtensions>("extensions");
            return schema.table<VornFile>("the document");
        }(),
        AbsentField::Omitted};
    return format;
}

}  // namespace

Result<VornFile> read_vorn_json(const FileText& text, Interruption* interruption, JsonPositions* positions) {
    return read_json<VornFile>(vorn_format(), text, interruption, positions);
}

Result<VornFile> read_vorn_json(std::string_view text) { return read_vorn_json(FileText::copy_of(text)); }

Result<std::string> write_vorn_json(const VornFile& file) { return write_json(vorn_format(), file); }

}  // namespace vorn::files
