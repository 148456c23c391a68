#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "check.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"

using namespace vorn::files;

namespace {

std::string document(const std::string& nodes, const std::string& links, const std::string& extra = "") {
    return R"({"version": "1.0", "metadata": {"name": "net"}, "nodes": [)" + nodes + R"(], "links": [)" + links + "]" +
           extra + "}";
}

const std::string kLink = R"("from": "A", "to": "B", "distance_km": 10, "base_fidelity": 0.9, "generation_rate_hz": 1000)";

// The document with its single '@' removed, and the line and column of the character that followed it.
struct Marked {
    std::string text;
    std::size_t line = 1;
    std::size_t column = 1;
};

Marked mark(const std::string& with_marker) {
    Marked marked;
    const std::size_t at = with_marker.find('@');
    marked.text = with_marker.substr(0, at) + with_marker.substr(at + 1);
    for (std::size_t i = 0; i < at; ++i) {
        if (with_marker[i] == '\n') {
            ++marked.line;
            marked.column = 1;
        } else if ((static_cast<unsigned char>(with_marker[i]) & 0xC0) != 0x80) {
            ++marked.column;
        }
    }
    return marked;
}

VornFile read_ok(const std::string& text) {
    Result<VornFile> result = read_vorn_json(text);
    if (!result) {
        check::fail(__FILE__, __LINE__, "refused: " + result.error().text());
        return {};
    }
    return std::move(result).value();
}

std::string deep_arrays(std::size_t count) { return std::string(count, '[') + std::string(count, ']'); }

}  // namespace

TEST_CASE("refused documents name the problem and where it is") {
    struct Row {
        std::string document;  // '@' marks the reported position
        std::string message;
    };
    const std::string capacity_message =
        "Invalid value for \"memory_capacity\": expected an integer from 0 to 4294967295 without fraction or "
        "exponent, found ";
    const Row rows[] = {
        {document("", "{\"src\": \"A\", \"to\": \"B\", \"distance_km\": 1, \"base_fidelity\": 0.9, \"generation_rate_hz\": 5@}"),
         "Missing required key \"from\" in a link"},
        {document(R"({"id": "A", "node_type": @"Ground"})", ""),
         R"(Unknown node_type "Ground", expected one of "ground", "satellite", "repeater")"},
        {document("", "{" + kLink + R"(, "link_type": @"Fiber"})"),
         R"(Unknown link_type "Fiber", expected one of "fiber", "satellite")"},
        {document(R"({"id": "A", "memory_capacity": @4.0})", ""), capacity_message + "4.0"},
        {document(R"({"id": "A", "memory_capacity": @-1})", ""), capacity_message + "-1"},
        {document(R"({"id": "A", "memory_capacity": @4294967296})", ""), capacity_message + "4294967296"},
        {document("", "{" + kLink + R"(, "id": @5})"), "Invalid type for \"id\": expected a string, found a number"},
        {document(R"({"id": @null})", ""), "Null is not allowed for required key \"id\""},
        {document("", "{\"from\": \"A\", \"to\": \"B\", \"distance_km\": @null, \"base_fidelity\": 1, \"generation_rate_hz\": 1}"),
         "Null is not allowed for required key \"distance_km\""},
        {document("", "{\"from\": \"A\", \"to\": \"B\", \"distance_km\": @\"10\", \"base_fidelity\": 1, \"generation_rate_hz\": 1}"),
         "Invalid type for \"distance_km\": expected a number, found a string"},
        {R"({"version": "1.0", "metadata": {"name": "n"}, "nodes": @{}, "links": []})",
         "Invalid type for \"nodes\": expected an array, found an object"},
        {document(R"({"id": "A"}, @"B")", ""), "Invalid type for an element of \"nodes\": expected an object, found a string"},
        {document(R"({"id": "A", "memory_capacity": 2, @"id": "B"})", ""), "Duplicate key \"id\" in a node"},
        {document("", "", R"(, "config": {}, @"config": {})"), "Duplicate key \"config\" in the document"},
        {document("", "", R"(, "extensions": {"custom": null, @"custom": 1})"), "Duplicate key \"custom\" in extensions"},
        {R"({"version": "1.0", "metadata": {"name": "n"}, "nodes": []@})", "Missing required key \"links\" in the document"},
        {document("", "{" + kLink + R"(, "satellite": {"visibility": 0.5@}})"),
         "Missing required key \"weather_factor\" in satellite"},
        {document("", "") + " @x", "The document root must not be followed by other values"},
        {document(R"({"id": "A"},@)", ""), "Invalid value"},
        {document("", "", R"(, "unknown": {"deep": [1, 2,@]})"), "Invalid value"},
        {document("", "", R"(, "unknown": @"\udc00")"), "Invalid lone surrogate escape in string"},
        {document("", "", R"(, @"\udc00": 1)"), "Invalid lone surrogate escape in string"},
        {document("", "", R"(, "unknown": "@\ud800x")"), "The surrogate pair in string is invalid"},
        {document(R"({"id": "é", "node_type": @"é"})", ""),
         R"(Unknown node_type "é", expected one of "ground", "satellite", "repeater")"},
        {R"(@[])", "Invalid type for the document: expected an object, found an array"},
        {"@", "The document is empty"},
        {"\xEF\xBB\xBF{}", "Invalid value"},  // no marker: a byte order mark is refused at its first byte
        {"{\n  \"version\": \"1.0\",\n  \"metadata\": {\"name\": \"n\"},\n  \"nodes\": [\n    {\"id\": \"A\", \"memory_capacity\": @4.0}\n  ],\n  \"links\": []\n}",
         capacity_message + "4.0"},
    };
    for (const Row& row : rows) {
        const Marked marked = row.document.find('@') == std::string::npos ? Marked{row.document, 1, 1} : mark(row.document);
        const Result<VornFile> result = read_vorn_json(marked.text);
        CHECK(!result.ok());
        if (result.ok()) {
            check::fail(__FILE__, __LINE__, "accepted: " + marked.text);
            continue;
        }
        const std::string expected = row.message + " at line " + std::to_string(marked.line) + " column " +
                                     std::to_string(marked.column);
        CHECK_EQ(result.error().kind == VornErrorKind::Json, true);
        CHECK_EQ(result.error().detail, expected);
        CHECK_EQ(result.error().line, marked.line);
        CHECK_EQ(result.error().column, marked.column);
    }
}

TEST_CASE("bytes the text may not hold") {
    struct Row {
        std::string text;
        std::string message;
        std::size_t column;
    };
    const std::string valid = document("", "");
    const Row rows[] = {
        // The JSON library takes a NUL for the end of its input; it must not end the document early.
        {valid + std::string("\0", 1), "Unexpected NUL character", valid.size() + 1},
        {valid + std::string("  \0 {}", 6), "Unexpected NUL character", valid.size() + 3},
        {std::string("{\"version\": \"1\0.0\"", 18), "Unexpected NUL character", 15},
        {std::string("{\0", 2), "Unexpected NUL character", 2},
        {"{\"version\": \"1\xFF\"}", "Invalid encoding in string", 15},
        {"{\"version\": \"\xC0\x80\"}", "Invalid encoding in string", 14},
        {"{\"version\": \"\xED\xA0\x80\"}", "Invalid encoding in string", 14},
    };
    for (const Row& row : rows) {
        const Result<VornFile> result = read_vorn_json(row.text);
        CHECK(!result.ok());
        if (!result.ok())
            CHECK_EQ(result.error().detail, row.message + " at line 1 column " + std::to_string(row.column));
    }
}

TEST_CASE("what the reader accepts and how it reads") {
    struct Row {
        const char* what;
        std::string text;
        std::function<bool(const VornFile&)> holds;
    };
    const Row rows[] = {
        {"null optional fields read as absent",
         document(R"({"id": "A", "node_type": null, "memory_capacity": null, "memory_lifetime_ms": null})",
                  "{" + kLink + R"(, "id": null, "satellite": null, "link_type": null})",
                  R"(, "config": null, "constraints": null, "extensions": {"custom": null})"),
         [](const VornFile& f) {
             return f.nodes[0] == VornNode{"A", {}, {}, {}} && !f.links[0].id && !f.links[0].satellite &&
                    !f.links[0].link_type && !f.config && !f.constraints && f.extensions && !f.extensions->custom;
         }},
        {"u32 limits", document(R"({"id": "A", "memory_capacity": 4294967295}, {"id": "B", "memory_capacity": 0}, {"id": "C", "memory_capacity": -0})", ""),
         [](const VornFile& f) {
             return f.nodes[0].memory_capacity == 4294967295u && f.nodes[1].memory_capacity == 0u &&
                    f.nodes[2].memory_capacity == 0u;
         }},
        {"floats from integers and exponents", document(R"({"id": "A", "memory_lifetime_ms": 1e-400})", "{" + kLink + "}"),
         [](const VornFile& f) {
             return f.links[0].distance_km == 10.0 && f.links[0].generation_rate_hz == 1000.0 &&
                    f.nodes[0].memory_lifetime_ms == 0.0;
         }},
        {"unknown keys at every level, containers and repeats included",
         R"({"x": {"a": [1, {"b": null}]}, "version": "1.0", "x": 2, "metadata": {"name": "n", "x": []},
             "nodes": [{"id": "A", "x": {"id": 5}}],
             "links": [{"from": "A", "to": "B", "src": "C", "distance_km": 1, "base_fidelity": 1, "generation_rate_hz": 1,
                        "satellite": {"visibility": 0.5, "weather_factor": 0.25, "x": [[]]}}],
             "config": {"x": true, "alpha_loss": 0.2}, "constraints": {"x": "y"}, "extensions": {"x": {}}})",
         [](const VornFile& f) {
             return f.nodes[0].id == "A" && f.links[0].from == "A" &&
                    f.links[0].satellite == VornSatelliteExtension{0.5, 0.25} && f.config->alpha_loss == 0.2 &&
                    f.constraints == VornConstraints{} && f.extensions && !f.extensions->custom;
         }},
        {"128 levels of nesting", document("", "", ", \"x\": " + deep_arrays(127)),
         [](const VornFile& f) { return f.metadata.name == "net"; }},
        {"custom values keep their kinds",
         document("", "", R"(, "extensions": {"custom": {"b": [1, -9223372036854775808, 18446744073709551615, 18446744073709551616, 2.0, "s", true, null], "a": {}, "a": 3}})"),
         [](const VornFile& f) {
             const JsonValue& custom = *f.extensions->custom;
             const JsonValue::Array& b = custom.as_object().at("b").as_array();
             return b[0].kind() == JsonValue::Kind::Int && b[1].as_int() == std::numeric_limits<std::int64_t>::min() &&
                    b[2].as_uint() == std::numeric_limits<std::uint64_t>::max() && b[3].as_double() == 18446744073709551616.0 &&
                    b[4].kind() == JsonValue::Kind::Double && b[5].as_string() == "s" && b[6].as_bool() && b[7].is_null() &&
                    custom.as_object().at("a").as_int() == 3;
         }},
    };
    for (const Row& row : rows) {
        const Result<VornFile> result = read_vorn_json(row.text);
        if (!result.ok()) {
            check::fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.error().text());
            continue;
        }
        if (!row.holds(result.value())) check::fail(__FILE__, __LINE__, row.what);
    }
}

TEST_CASE("nesting beyond 128 levels is refused, a million levels quickly") {
    const std::string prefix = document("", "", ", \"x\": ");
    const std::string too_deep = prefix.substr(0, prefix.size() - 1) + deep_arrays(128) + "}";
    const Result<VornFile> refused = read_vorn_json(too_deep);
    CHECK(!refused.ok());

    for (const std::string& lead : {std::string("{\"x\": "), std::string("{\"version\": \"1.0\", \"extensions\": {\"custom\": ")}) {
        std::string text = lead + std::string(1000000, '[');
        const auto start = std::chrono::steady_clock::now();
        const Result<VornFile> result = read_vorn_json(text);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("  1e6 levels refused in %.3f ms\n", ms);
        CHECK(!result.ok());
        if (result.ok()) continue;
        // The opening bracket of level 129: the top-level object is level 1.
        const std::size_t depth_before = lead == "{\"x\": " ? 1 : 2;
        const std::size_t column = lead.size() + (128 - depth_before) + 1;
        CHECK_EQ(result.error().detail,
                 "Arrays and objects nest more than 128 levels at line 1 column " + std::to_string(column));
    }
}

TEST_CASE("the writer's layout") {
    VornFile file = VornFile::named("net");
    CHECK_EQ(write_vorn_json(file), std::string("{\n  \"version\": \"1.0\",\n  \"metadata\": {\n    \"name\": \"net\"\n  },\n"
                                                "  \"nodes\": [],\n  \"links\": []\n}"));

    file.metadata.description = "tab\there \"quoted\" \x01 é";
    file.metadata.created_at = "today";
    file.nodes.push_back({"A", {}, {}, {}});
    file.nodes.push_back({"B", 1500.0, 4u, VornNodeType::Satellite});
    file.links.push_back({std::nullopt, "A", "B", 10.0, 0.95, 1e-7, {}, {}});
    file.links.push_back({"L2", "B", "A", std::nan(""), 1.0, 1e16, VornLinkType::Satellite, VornSatelliteExtension{0.5, 1.0}});
    file.config = VornConfig{0.2, {}, {}, 20u};
    file.constraints = VornConstraints{};
    JsonValue::Object custom;
    custom["b"] = JsonValue::integer(-1);
    custom["a"] = JsonValue::array({JsonValue::number(2.0), JsonValue::unsigned_integer(18446744073709551615ull),
                                    JsonValue::object(), JsonValue(), JsonValue::number(std::nan(""))});
    file.extensions = VornExtensions{JsonValue::object(custom)};

    const std::string expected = R"({
  "version": "1.0",
  "metadata": {
    "name": "net",
    "description": "tab\there \"quoted\" \u0001 é",
    "created_at": "today"
  },
  "nodes": [
    {
      "id": "A"
    },
    {
      "id": "B",
      "memory_lifetime_ms": 1500.0,
      "memory_capacity": 4,
      "node_type": "satellite"
    }
  ],
  "links": [
    {
      "from": "A",
      "to": "B",
      "distance_km": 10.0,
      "base_fidelity": 0.95,
      "generation_rate_hz": 1e-7
    },
    {
      "id": "L2",
      "from": "B",
      "to": "A",
      "distance_km": null,
      "base_fidelity": 1.0,
      "generation_rate_hz": 1e16,
      "link_type": "satellite",
      "satellite": {
        "visibility": 0.5,
        "weather_factor": 1.0
      }
    }
  ],
  "config": {
    "alpha_loss": 0.2,
    "max_attempts": 20
  },
  "constraints": {},
  "extensions": {
    "custom": {
      "a": [
        2.0,
        18446744073709551615,
        {},
        null,
        null
      ],
      "b": -1
    }
  }
})";
    CHECK_EQ(write_vorn_json(file), expected);

    // A NaN written as null no longer reads: the field is required.
    const Result<VornFile> back = read_vorn_json(expected);
    CHECK(!back.ok());
    if (!back.ok())
        CHECK_EQ(back.error().detail, std::string("Null is not allowed for required key \"distance_km\" at line 31 column 22"));

    CHECK_EQ(write_json_value(JsonValue::string(std::string("a\0b", 3))), std::string("\"a\\u0000b\""));
}

TEST_CASE("reading what was written gives the same records") {
    const std::string inputs[] = {
        document("", ""),
        document(R"({"id": "A", "memory_lifetime_ms": 1000.0000001, "memory_capacity": 7, "node_type": "repeater"}, {"id": "B"})",
                 "{" + kLink + R"(, "id": "", "link_type": "fiber"}, {"from": "B", "to": "A", "distance_km": 5e-324, "base_fidelity": 1, "generation_rate_hz": 1.7976931348623157e308, "satellite": {"visibility": 0.1, "weather_factor": 0.3}})",
                 R"(, "config": {}, "constraints": {"fidelity_target": 0.9}, "extensions": {"custom": [{"z": 1, "y": [2.5, -0.0]}]})"),
    };
    for (const std::string& input : inputs) {
        const VornFile first = read_ok(input);
        const std::string written = write_vorn_json(first);
        const VornFile second = read_ok(written);
        CHECK(first == second);
        CHECK_EQ(write_vorn_json(second), written);
    }

}

CHECK_MAIN()
