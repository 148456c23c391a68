// What the .vorn reader and writer do that the Python module cannot show: the custom value of the extensions,
// very deep nesting, the positions behind findings, and how a record's description makes a key optional.
// Messages and layout are tested from Python.
#include "check.hpp"
#include "files/json_described.hpp"
#include "files/json_emitter.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"
#include "files/text_position.hpp"
#include "files/vorn_format.hpp"

using namespace vorn::files;

static std::string with_custom(const std::string& custom) {
    return R"({"version": "1.0", "metadata": {"name": "n"}, "nodes": [], "links": [], "extensions": {"custom": )" +
           custom + "}}";
}

TEST_CASE("custom values keep their kinds, are written with sorted keys and read back the same") {
    const Result<VornFile> read = read_vorn_json(with_custom(
        R"({"b": [1, -9223372036854775808, 18446744073709551615, 18446744073709551616, 2.0, -0.0, "s", true, null, {}],
            "a": {}, "a": 3})"));
    CHECK(read.ok());
    if (!read.ok()) return;
    const JsonValue& custom = *read.value().extensions->custom;
    const JsonValue::Array& b = custom.as_object().at("b").as_array();
    CHECK(b[0].kind() == JsonValue::Kind::Int && b[0].as_int() == 1);
    CHECK(b[1].as_int() == std::numeric_limits<std::int64_t>::min());
    CHECK(b[2].as_uint() == std::numeric_limits<std::uint64_t>::max());
    CHECK(b[3].as_double() == 18446744073709551616.0);
    CHECK(b[4].kind() == JsonValue::Kind::Double && b[4].as_double() == 2.0);
    CHECK(b[6].as_string() == "s" && b[7].as_bool() && b[8].is_null());
    CHECK(custom.as_object().at("a").as_int() == 3);  // a repeated key keeps the last value

    JsonEmitter out;
    out.value(custom);
    CHECK_EQ(out.text(), std::string("{\n  \"a\": 3,\n  \"b\": [\n    1,\n    -9223372036854775808,\n"
                                     "    18446744073709551615,\n    1.8446744073709552e19,\n    2.0,\n    -0.0,\n"
                                     "    \"s\",\n    true,\n    null,\n    {}\n  ]\n}"));
    const std::string document = write_vorn_json(read.value()).value();
    const Result<VornFile> again = read_vorn_json(document);
    CHECK(again.ok() && again.value() == read.value() && write_vorn_json(again.value()).value() == document);
}

TEST_CASE("custom values compare by structure") {
    const auto object = [](const JsonValue& member) {
        JsonValue value = JsonValue::object();
        value.as_object()["a"] = member;
        return value;
    };
    // Member order, repeated keys, null members and integers against floats are compared from Python, through diffs.
    const struct {
        JsonValue a, b;
        bool equal;
    } rows[] = {
        {JsonValue::integer(1), JsonValue::unsigned_integer(1), true},
        {JsonValue::integer(-1), JsonValue::unsigned_integer(std::numeric_limits<std::uint64_t>::max()), false},
        {JsonValue::number(std::nan("")), JsonValue::number(std::nan("")), false},
        {object(JsonValue::integer(1)), object(JsonValue::unsigned_integer(1)), true},
    };
    for (const auto& row : rows) CHECK((row.a == row.b) == row.equal && (row.b == row.a) == row.equal);
}

TEST_CASE("a million levels of nesting are refused at level 129") {
    for (const std::string& lead : {std::string("{\"x\": "), with_custom("").substr(0, with_custom("").size() - 2)}) {
        const Result<VornFile> result = read_vorn_json(lead + std::string(1000000, '['));
        CHECK(!result.ok());
        if (result.ok()) continue;
        // The top-level object is level 1, and the extensions object level 2.
        const std::size_t open_before = lead.size() < 10 ? 1 : 2;
        CHECK_EQ(result.error().positioned_message(), "Arrays and objects nest more than 128 levels at line 1 column " +
                                                          std::to_string(lead.size() + (128 - open_before) + 1));
    }
}

TEST_CASE("a member is found at the object's own level, and positions in any order in one pass") {
    const std::string text = "{\"a\": {\"k\": 1}, \"b\": [{\"k\": 2}], \"\\u006b\":\n  \"\xc3\xa9\", \"x\": 3}";
    const std::size_t k = json_member_offset(text, 0, "k");
    CHECK_EQ(text.substr(k, 3), std::string("\"\xc3\xa9"));
    CHECK_EQ(json_member_offset(text, 0, "missing"), JsonPositions::npos);
    CHECK_EQ(json_member_offset(text, 6, "k"), std::size_t{12});  // inside "a"
    const std::size_t x = json_member_offset(text, 0, "x");
    const std::size_t offsets[] = {x, 0, k, text.size() + 5};
    const std::vector<TextPosition> found = text_positions(text, offsets);
    CHECK(found[0].line == 2 && found[0].column == 13);  // the two bytes of the e-acute are one column
    CHECK(found[1].line == 1 && found[1].column == 1);
    CHECK(found[2].line == 2 && found[2].column == 3);
    CHECK(found[3].line == 2 && found[3].column == 15);  // clamped to the end
}

TEST_CASE("a record the tables cannot write is a broken invariant, not a failure of the file") {
    VornFile file = VornFile::named("n");
    file.nodes.push_back({"A", {}, {}, static_cast<VornNodeType>(7)});
    bool panicked = false;
    try {
        (void)write_vorn_json(file);
    } catch (const vorn::Panic& panic) {
        panicked = std::string(panic.what()) == "an enumerator without a spelling";
    }
    CHECK(panicked);
}

CHECK_MAIN()

namespace {

// A record as a format sees it: a required field, one a caller may omit, and one added later (keyword-only).
struct Probe {
    std::string id;
    double weight = 2.0;
    double added = 1.0;
};

constexpr auto description(const Probe*) {
    using namespace vorn::describe;
    return record<Probe>(field<&Probe::id>("id", "Its name"), field<&Probe::weight>("weight", "Its weight", kOptional),
                         field<&Probe::added>("added", "A figure added later", kKeywordOnly));
}

}  // namespace

TEST_CASE("a key is optional exactly where the description lets a caller omit the field") {
    JsonSchema schema(KeyStyle::Camel, Spelling::AsNamed);
    const JsonFormat format{schema.table<Probe>("a probe"), AbsentField::Null};
    const Result<Probe> bare = read_json<Probe>(format, FileText::copy_of(R"({"id": "p"})"));
    CHECK(bare.ok() && bare.value().weight == 2.0 && bare.value().added == 1.0);
    const Result<Probe> missing = read_json<Probe>(format, FileText::copy_of(R"({"weight": 3.0})"));
    CHECK(!missing.ok() && missing.error().code == "MissingKey");
    // The field added later is written only where it departs from its default, -0.0 included.
    CHECK_EQ(write_json(format, Probe{"p", 2.0, 1.0}).value(),
             std::string("{\n  \"id\": \"p\",\n  \"weight\": 2.0\n}"));
    CHECK_EQ(write_json(format, Probe{"p", 2.0, -0.0}).value(),
             std::string("{\n  \"id\": \"p\",\n  \"weight\": 2.0,\n  \"added\": -0.0\n}"));
    const Result<Probe> back =
        read_json<Probe>(format, FileText::copy_of(write_json(format, Probe{"q", 5.0, 0.5}).value()));
    CHECK(back.ok() && back.value().weight == 5.0 && back.value().added == 0.5);
}

TEST_CASE("an exception to the rule must depart from it") {
    JsonSchema schema(KeyStyle::Snake, Spelling::Lower);
    bool refused = false;
    try {
        schema.table<Probe>("a probe", {.required = {"id"}});
    } catch (const vorn::Panic&) {
        refused = true;
    }
    CHECK(refused);
}
