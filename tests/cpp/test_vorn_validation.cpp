#include <chrono>
#include <cmath>
#include <cstdio>

#include "check.hpp"
#include "files/validation.hpp"

using namespace vorn::files;

namespace {

const double kNaN = std::nan("");

VornFile network(std::vector<std::string> ids, std::vector<VornLink> links) {
    VornFile file = VornFile::named("net");
    for (std::string& id : ids) file.nodes.push_back({std::move(id), {}, {}, {}});
    file.links = std::move(links);
    return file;
}

VornLink link(std::optional<std::string> id, std::string from, std::string to, double distance = 10.0,
              double fidelity = 0.9, double rate = 100.0) {
    return {std::move(id), std::move(from), std::move(to), distance, fidelity, rate, {}, {}};
}

}  // namespace

TEST_CASE("findings come rule by rule, in both renderings") {
    struct Row {
        const char* what;
        VornFile file;
        std::vector<std::string> messages;
        std::vector<std::string> types;
    };
    const Row rows[] = {
        {"no nodes, no links", network({}, {}), {}, {}},
        {"a single node", network({"A"}, {}), {}, {}},
        {"two unlinked nodes", network({"A", "B"}, {}), {"Graph is disconnected with 2 components"},
         {"GraphDisconnected: 2 components"}},
        {"an id three times", network({"A", "A", "A"}, {}),
         {"Duplicate node ID: A", "Duplicate node ID: A", "Graph is disconnected with 3 components"},
         {"DuplicateNodeId: A", "DuplicateNodeId: A", "GraphDisconnected: 3 components"}},
        {"an earlier duplicate stays unreachable", network({"A", "A", "B"}, {link("L", "A", "B")}),
         {"Duplicate node ID: A", "Graph is disconnected with 2 components"},
         {"DuplicateNodeId: A", "GraphDisconnected: 2 components"}},
        {"negative distance without id", network({"A", "B"}, {link({}, "A", "B", -5.0)}),
         {"Invalid distance -5 km for link 'unknown' (must be > 0)"},
         {"InvalidDistance: -5 km for link 'unknown'"}},
        {"unknown end with and without id", network({"A"}, {link("L1", "A", "Z"), link({}, "A", "Z")}),
         {"Unknown node reference 'Z' in link 'L1'", "Unknown node reference 'Z'"},
         {"UnknownNodeReference: Z[L1]", "UnknownNodeReference: Z"}},
        {"valid self-loop", network({"A"}, {link("S", "A", "A")}), {"Self-loop detected in link 'S'"}, {"SelfLoop: S"}},
        {"self-loop to a missing node", network({"A"}, {link({}, "Q", "Q")}),
         {"Self-loop detected in link 'unknown'", "Unknown node reference 'Q'", "Unknown node reference 'Q'"},
         {"SelfLoop: unknown", "UnknownNodeReference: Q", "UnknownNodeReference: Q"}},
        {"ids compare case-sensitively", network({"a", "A"}, {link("L", "a", "A")}), {}, {}},
        {"fidelity bounds", network({"A", "B"}, {link("one", "A", "B", 1, 1.0), link("zero", "A", "B", 1, 0.0),
                                                 link("over", "A", "B", 1, 1.0000001), link("nan", "A", "B", 1, kNaN)}),
         {"Invalid fidelity 0 for link 'zero' (must be 0 < x <= 1)",
          "Invalid fidelity 1.0000001 for link 'over' (must be 0 < x <= 1)",
          "Invalid fidelity NaN for link 'nan' (must be 0 < x <= 1)"},
         {"InvalidFidelity: 0 for link 'zero'", "InvalidFidelity: 1.0000001 for link 'over'",
          "InvalidFidelity: NaN for link 'nan'"}},
        {"distance and rate: zero fails, NaN passes",
         network({"A", "B"}, {link("d0", "A", "B", 0.0), link("dn", "A", "B", kNaN), link("r0", "A", "B", 1, 0.5, -0.0),
                              link("rn", "A", "B", 1, 0.5, kNaN), link("rs", "A", "B", 1, 0.5, -1e-7)}),
         {"Invalid distance 0 km for link 'd0' (must be > 0)", "Invalid generation rate -0 Hz for link 'r0' (must be > 0)",
          "Invalid generation rate -0.0000001 Hz for link 'rs' (must be > 0)"},
         {"InvalidDistance: 0 km for link 'd0'", "InvalidGenerationRate: -0 Hz for link 'r0'",
          "InvalidGenerationRate: -0.0000001 Hz for link 'rs'"}},
        {"every check runs for every link, in order",
         network({"A", "B", "A", "C"}, {link("bad", "X", "X", -1.5, 2.0, 0.0), link({}, "B", "Y", 1e20, 0.5, 1.0)}),
         {"Duplicate node ID: A", "Self-loop detected in link 'bad'", "Unknown node reference 'X' in link 'bad'",
          "Unknown node reference 'X' in link 'bad'", "Invalid distance -1.5 km for link 'bad' (must be > 0)",
          "Invalid fidelity 2 for link 'bad' (must be 0 < x <= 1)",
          "Invalid generation rate 0 Hz for link 'bad' (must be > 0)", "Unknown node reference 'Y'",
          "Graph is disconnected with 4 components"},
         {"DuplicateNodeId: A", "SelfLoop: bad", "UnknownNodeReference: X[bad]", "UnknownNodeReference: X[bad]",
          "InvalidDistance: -1.5 km for link 'bad'", "InvalidFidelity: 2 for link 'bad'",
          "InvalidGenerationRate: 0 Hz for link 'bad'", "UnknownNodeReference: Y", "GraphDisconnected: 4 components"}},
        {"links with an unknown end add no edge", network({"A", "B"}, {link({}, "A", "Z"), link({}, "Z", "B")}),
         {"Unknown node reference 'Z'", "Unknown node reference 'Z'", "Graph is disconnected with 2 components"},
         {"UnknownNodeReference: Z", "UnknownNodeReference: Z", "GraphDisconnected: 2 components"}},
    };
    for (const Row& row : rows) {
        const ValidationResult result = validate_all(row.file);
        std::vector<std::string> messages, types;
        for (const ValidationError& error : result.errors) {
            messages.push_back(error.message());
            types.push_back(error.type_text());
        }
        if (messages != row.messages || types != row.types) {
            std::string got;
            for (const std::string& m : messages) got += "\n    " + m;
            check::fail(__FILE__, __LINE__, std::string(row.what) + ", got:" + got);
        }
        CHECK_EQ(result.valid, row.messages.empty());
        CHECK(result.warnings.empty());
    }
}

TEST_CASE("a present path is rendered in the message text only, never for self-loops") {
    ValidationResult result = validate_all(network({"A", "A"}, {link({}, "A", "A", -2.0, 0.0, 0.0), link("L", "A", "Q")}));
    std::vector<std::string> messages;
    for (ValidationError& error : result.errors) {
        error.path = "p";
        messages.push_back(error.message());
        CHECK(error.type_text().find("[p]") == std::string::npos);
    }
    CHECK(messages == (std::vector<std::string>{
                          "Duplicate node ID: A [p]", "Self-loop detected in link 'unknown'",
                          "Invalid distance -2 km for link 'unknown' (must be > 0) [p]",
                          "Invalid fidelity 0 for link 'unknown' (must be 0 < x <= 1) [p]",
                          "Invalid generation rate 0 Hz for link 'unknown' (must be > 0) [p]",
                          "Unknown node reference 'Q' in link 'L' [p]", "Graph is disconnected with 2 components [p]"}));
}

TEST_CASE("the report of a result") {
    CHECK_EQ(validation_report(validate_all(network({"A"}, {}))), std::string("Validation passed.\n"));
    CHECK_EQ(validation_report(validate_all(network({"A", "A"}, {}))),
             std::string("Validation failed.\n\nErrors:\n   - Duplicate node ID: A\n"
                         "   - Graph is disconnected with 2 components\n"));

    ValidationResult with_warnings;
    with_warnings.add_warning({"first", std::nullopt});
    with_warnings.add_warning({"second", "nodes[1]"});
    CHECK(with_warnings.valid);
    CHECK_EQ(validation_report(with_warnings),
             std::string("Validation passed.\n\nWarnings:\n   - first [unknown]\n   - second [nodes[1]]\n"));
}

TEST_CASE("validation stays linear on a large file") {
    // A chain, then every tenth id once more: the earlier entries of those ids lose their edges.
    std::vector<std::string> ids;
    std::vector<VornLink> links;
    const std::size_t count = 200000;
    for (std::size_t i = 0; i < count; ++i) ids.push_back("n" + std::to_string(i));
    for (std::size_t i = 0; i < count; i += 10) ids.push_back("n" + std::to_string(i));
    for (std::size_t i = 1; i < count; ++i) links.push_back(link({}, ids[i - 1], ids[i]));
    const VornFile file = network(std::move(ids), std::move(links));
    const auto start = std::chrono::steady_clock::now();
    const ValidationResult result = validate_all(file);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("  %zu nodes validated in %.1f ms\n", file.nodes.size(), ms);
    CHECK_EQ(result.errors.size(), count / 10 + 1);
    CHECK_EQ(result.errors.back().components, count / 10 + 1);
}

CHECK_MAIN()
