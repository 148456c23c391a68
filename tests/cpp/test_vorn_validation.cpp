// Validation as only the C++ interface shows it: NaN values, which no file can hold, the type texts (validate
// raises before it would show them) and a finding's path. The messages and report of loaded files are tested
// from Python.
#include "check.hpp"
#include "files/validation.hpp"
#include "files/vorn_file.hpp"

using namespace vorn::files;

static VornFile network(std::vector<std::string> ids, std::vector<VornLink> links) {
    VornFile file = VornFile::named("net");
    for (std::string& id : ids) file.nodes.push_back({std::move(id), {}, {}, {}});
    file.links = std::move(links);
    return file;
}

static VornLink link(std::optional<std::string> id, std::string from, std::string to, double distance = 10.0,
                     double fidelity = 0.9, double rate = 100.0) {
    return {std::move(id), {std::move(from), std::move(to), distance, fidelity, rate}, {}, {}};
}

TEST_CASE("NaN passes the distance and rate checks and fails fidelity") {
    const ValidationResult result = validate_all(network(
        {"A", "B"}, {link("d", "A", "B", kNaN), link("r", "A", "B", 1, 0.5, kNaN), link("f", "A", "B", 1, kNaN)}));
    CHECK_EQ(result.errors.size(), 1u);
    CHECK_EQ(result.errors.at(0).message(), std::string("Invalid fidelity NaN for link 'f' (must be 0 < x <= 1)"));
}

TEST_CASE("the type texts of findings; a path is shown in messages only, and never for a self-loop") {
    ValidationResult result = validate_all(
        network({"A", "A"}, {link({}, "A", "A", -2.0, 0.0, 0.0), link("L", "A", "Q"), link({}, "Z", "A")}));
    std::vector<std::string> messages, types;
    for (ValidationError& error : result.errors) {
        error.path = "p";
        messages.push_back(error.message());
        types.push_back(error.type_text());
    }
    CHECK(messages ==
          (std::vector<std::string>{"Duplicate node ID: A [p]", "Self-loop detected in link 'unknown'",
                                    "Invalid distance -2 km for link 'unknown' (must be > 0) [p]",
                                    "Invalid fidelity 0 for link 'unknown' (must be 0 < x <= 1) [p]",
                                    "Invalid generation rate 0 Hz for link 'unknown' (must be > 0) [p]",
                                    "Unknown node reference 'Q' in link 'L' [p]", "Unknown node reference 'Z' [p]",
                                    "Graph is disconnected with 2 components [p]"}));
    CHECK(types == (std::vector<std::string>{
                       "DuplicateNodeId: A", "SelfLoop: unknown", "InvalidDistance: -2 km for link 'unknown'",
                       "InvalidFidelity: 0 for link 'unknown'", "InvalidGenerationRate: 0 Hz for link 'unknown'",
                       "UnknownNodeReference: Q[L]", "UnknownNodeReference: Z", "GraphDisconnected: 2 components"}));
}

CHECK_MAIN()
