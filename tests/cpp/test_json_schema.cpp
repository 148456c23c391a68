// A second format on the JSON machinery, shaped like an engine snapshot: camelCase keys, every key
// written, absent values written as null, capitalised spellings, and message texts of its own.
#include <cmath>
#include <variant>

#include "check.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"

using namespace vorn::files;

namespace {

enum class Medium : std::uint8_t { Fiber, Satellite };
struct Conditions {
    double visibility = 1.0;
    double weather_factor = 1.0;
    bool operator==(const Conditions&) const = default;
};
struct Edge {
    std::string from_node;
    double distance_km = 0.0;
    Medium medium = Medium::Fiber;
    std::optional<Conditions> conditions;
    bool operator==(const Edge&) const = default;
};
struct Snapshot {
    std::string name;
    std::vector<Edge> links;
    bool operator==(const Snapshot&) const = default;
};

constexpr std::array<std::string_view, 2> kMedia{"Fiber", "Satellite"};
constexpr std::array kConditionsFields{
    json_field<&Conditions::visibility>("visibility", kRequired),
    json_field<&Conditions::weather_factor>("weatherFactor", kRequired),
};
constexpr JsonRecord kConditions = json_record<Conditions>("satelliteConditions", kConditionsFields);
constexpr std::array kEdgeFields{
    json_field<&Edge::from_node>("fromNode", kRequired),
    json_field<&Edge::distance_km>("distanceKm", kRequired),
    json_field<&Edge::medium>("linkType", kOptional, kMedia),
    json_field<&Edge::conditions>("satelliteConditions", kOptional, kConditions),
};
constexpr JsonRecord kEdge = json_record<Edge>("a link", kEdgeFields);
constexpr std::array kSnapshotFields{
    json_field<&Snapshot::name>("name", kRequired),
    json_field<&Snapshot::links>("links", kRequired, kEdge),
};
constexpr JsonRecord kSnapshot = json_record<Snapshot>("the snapshot", kSnapshotFields);

std::string snapshot_message(const JsonProblem& problem) {
    if (problem.kind != JsonProblemKind::UnknownSpelling) return standard_json_message(problem);
    return "unknown variant `" + std::string(problem.detail) + "` for " + std::string(problem.key);
}

constexpr JsonFormat kFormat{kSnapshot, AbsentField::Null, snapshot_message};

std::string read_error(const std::string& text) {
    const auto read = read_json<Snapshot>(kFormat, text);
    const auto* error = std::get_if<JsonReadError>(&read);
    return error ? error->text() : "read";
}

}  // namespace

TEST_CASE("every key is written, absent values as null, and what is written reads back") {
    Snapshot snapshot{"s", {{"A", 10.0, Medium::Satellite, Conditions{0.5, 1e-7}}, {"B", std::nan(""), Medium::Fiber, {}}}};
    CHECK_EQ(write_json(kFormat, snapshot), std::string(R"({
  "name": "s",
  "links": [
    {
      "fromNode": "A",
      "distanceKm": 10.0,
      "linkType": "Satellite",
      "satelliteConditions": {
        "visibility": 0.5,
        "weatherFactor": 1e-7
      }
    },
    {
      "fromNode": "B",
      "distanceKm": null,
      "linkType": "Fiber",
      "satelliteConditions": null
    }
  ]
})"));
    snapshot.links[1].distance_km = 2.0;
    const auto read = read_json<Snapshot>(kFormat, write_json(kFormat, snapshot));
    CHECK(std::holds_alternative<Snapshot>(read) && std::get<Snapshot>(read) == snapshot);
}

TEST_CASE("optional keys default, null is absent and unknown keys are ignored") {
    const auto read = read_json<Snapshot>(kFormat, R"({"x": [{}],
        "links": [{"distanceKm": 3, "fromNode": "A", "satelliteConditions": null, "src": 1}], "name": "n"})");
    const Snapshot expected{"n", {{"A", 3.0, Medium::Fiber, {}}}};
    CHECK(std::holds_alternative<Snapshot>(read) && std::get<Snapshot>(read) == expected);
}

TEST_CASE("the format's rules and its own message texts") {
    const std::string head = R"({"name": "n", "links": )";
    const std::pair<std::string, std::string> rows[] = {
        {head + R"([{"fromNode": "A", "distanceKm": 1, "linkType": "fiber"}]})",
         "unknown variant `fiber` for linkType at line 1 column 72"},
        {head + R"([{"fromNode": "A", "distanceKm": 1, "satelliteConditions": {"visibility": 1}}]})",
         "Missing required key \"weatherFactor\" in satelliteConditions at line 1 column 99"},
        {head + R"([], "name": "m"})", "Duplicate key \"name\" in the snapshot at line 1 column 28"},
        {head + "[]} []", "The document root must not be followed by other values at line 1 column 28"},
        {head + R"([{"fromNode": "A", "distanceKm": 1, "satelliteConditions": []}]})",
         "Invalid type for \"satelliteConditions\": expected an object, found an array at line 1 column 83"},
    };
    for (const auto& [text, message] : rows) CHECK_EQ(read_error(text), message);
}

CHECK_MAIN()
