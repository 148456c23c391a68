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
    std::string to;
    double distance_km = 0.0;
    Medium medium = Medium::Fiber;
    std::optional<Conditions> conditions;
    bool operator==(const Edge&) const = default;
};
struct Vertex {
    std::string id;
    double t2 = 0.0;
    bool operator==(const Vertex&) const = default;
};
struct Settings {
    double alpha_loss = 0.2;
    double gamma_swapping = 0.85;
    bool operator==(const Settings&) const = default;
};
struct Snapshot {
    std::string name;
    std::vector<Vertex> nodes;
    std::vector<Edge> links;
    Settings config;
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
    json_field<&Edge::to>("to", kRequired),
    json_field<&Edge::distance_km>("distanceKm", kRequired),
    json_field<&Edge::medium>("linkType", kOptional, kMedia),
    json_field<&Edge::conditions>("satelliteConditions", kOptional, kConditions),
};
constexpr JsonRecord kEdge = json_record<Edge>("a link", kEdgeFields);
constexpr std::array kVertexFields{
    json_field<&Vertex::id>("id", kRequired),
    json_field<&Vertex::t2>("memoryLifetimeT2", kRequired),
};
constexpr JsonRecord kVertex = json_record<Vertex>("a node", kVertexFields);
constexpr std::array kSettingsFields{
    json_field<&Settings::alpha_loss>("alphaLoss", kRequired),
    json_field<&Settings::gamma_swapping>("gammaSwapping", kRequired),
};
constexpr JsonRecord kSettings = json_record<Settings>("config", kSettingsFields);
constexpr std::array kSnapshotFields{
    json_field<&Snapshot::name>("name", kRequired),
    json_field<&Snapshot::nodes>("nodes", kRequired, kVertex),
    json_field<&Snapshot::links>("links", kRequired, kEdge),
    json_field<&Snapshot::config>("config", kRequired, kSettings),
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

const char* const kWritten = R"({
  "name": "s",
  "nodes": [
    {
      "id": "A",
      "memoryLifetimeT2": 1.0
    }
  ],
  "links": [
    {
      "fromNode": "A",
      "to": "B",
      "distanceKm": 10.0,
      "linkType": "Satellite",
      "satelliteConditions": {
        "visibility": 0.5,
        "weatherFactor": 1e-7
      }
    },
    {
      "fromNode": "B",
      "to": "A",
      "distanceKm": null,
      "linkType": "Fiber",
      "satelliteConditions": null
    }
  ],
  "config": {
    "alphaLoss": 1.2,
    "gammaSwapping": 0.12
  }
})";

}  // namespace

TEST_CASE("every key is written, absent values as null, and what is written reads back") {
    Snapshot snapshot{"s", {{"A", 1.0}}, {{"A", "B", 10.0, Medium::Satellite, Conditions{0.5, 1e-7}},
                                          {"B", "A", std::nan(""), Medium::Fiber, {}}}, {1.2, 0.12}};
    CHECK_EQ(write_json(kFormat, snapshot), std::string(kWritten));

    snapshot.links[1].distance_km = 2.0;
    const std::string text = write_json(kFormat, snapshot);
    const auto read = read_json<Snapshot>(kFormat, text);
    CHECK(std::holds_alternative<Snapshot>(read) && std::get<Snapshot>(read) == snapshot);
}

TEST_CASE("optional keys default, null is absent and unknown keys are ignored") {
    const auto read = read_json<Snapshot>(kFormat, R"({"config": {"gammaSwapping": 1, "alphaLoss": 2, "x": [{}]},
        "links": [{"to": "B", "fromNode": "A", "distanceKm": 3, "satelliteConditions": null, "src": 1}],
        "nodes": [], "name": "n", "version": "2"})");
    CHECK(std::holds_alternative<Snapshot>(read));
    if (const auto* snapshot = std::get_if<Snapshot>(&read)) {
        const Edge expected{"A", "B", 3.0, Medium::Fiber, {}};
        CHECK(snapshot->links.size() == 1 && snapshot->links[0] == expected);
        CHECK(snapshot->config.alpha_loss == 2.0 && snapshot->config.gamma_swapping == 1.0);
    }
}

TEST_CASE("the format's rules and its own message texts") {
    const std::string head = R"({"name": "n", "nodes": [], "config": {"alphaLoss": 1, "gammaSwapping": 1}, "links": )";
    const std::pair<std::string, std::string> rows[] = {
        {head + R"([{"fromNode": "A", "to": "B", "distanceKm": 1, "linkType": "fiber"}]})",
         "unknown variant `fiber` for linkType at line 1 column 144"},
        {R"({"name": "n", "nodes": [], "links": [], "config": {"alphaLoss": 1}})",
         "Missing required key \"gammaSwapping\" in config at line 1 column 66"},
        {head + R"([], "name": "m"})", "Duplicate key \"name\" in the snapshot at line 1 column 89"},
        {head + "[]} []", "The document root must not be followed by other values at line 1 column 89"},
        {head + R"([{"fromNode": "A", "to": "B", "distanceKm": 1, "satelliteConditions": []}]})",
         "Invalid type for \"satelliteConditions\": expected an object, found an array at line 1 column 155"},
    };
    for (const auto& [text, message] : rows) CHECK_EQ(read_error(text), message);
}

CHECK_MAIN()
