#include <cmath>
#include <functional>

#include "check.hpp"
#include "files/vorn_diff.hpp"

using namespace vorn::files;

namespace {

using Lists = std::vector<std::vector<std::string>>;  // added, removed, modified nodes; then links

VornFile base() {
    VornFile file = VornFile::named("net");
    file.nodes.push_back({"A", 1000.0, {}, {}});
    file.nodes.push_back({"B", {}, {}, {}});
    file.links.push_back({"L1", "A", "B", 10.0, 0.9, 1000.0, {}, {}});
    return file;
}

VornFile changed(const std::function<void(VornFile&)>& change) {
    VornFile file = base();
    change(file);
    return file;
}

VornLink link(std::string from, std::string to) { return {{}, std::move(from), std::move(to), 1.0, 1.0, 1.0, {}, {}}; }

const std::string kHead = "Diff between 'a.vorn' and 'b.vorn':\n";

}  // namespace

TEST_CASE("report lines and change lists") {
    struct Row {
        const char* what;
        VornFile first;
        VornFile second;
        std::string body;  // the summary after its first line
        Lists lists;
    };
    const Row rows[] = {
        {"identical files", base(), base(), "", {{}, {}, {}, {}, {}, {}}},
        {"an extra node with links", base(), changed([](VornFile& f) {
             f.nodes.push_back({"C", {}, {}, {}});
             f.links.push_back(link("A", "C"));
             f.links.push_back(link("B", "C"));
         }),
         "  Nodes added: 1 (C)\n  Links added: 2 (A->C, B->C)\n", {{"C"}, {}, {}, {"A->C", "B->C"}, {}, {}}},
        {"a reversed link is removed and added", base(), changed([](VornFile& f) { std::swap(f.links[0].from, f.links[0].to); }),
         "  Links added: 1 (B->A)\n  Links removed: 1 (A->B)\n", {{}, {}, {}, {"B->A"}, {"A->B"}, {}}},
        {"only a link id changes", base(), changed([](VornFile& f) { f.links[0].id = "L2"; }),
         "  Links modified: 1 (A->B)\n", {{}, {}, {}, {}, {}, {"A->B"}}},
        {"satellite conditions change", changed([](VornFile& f) { f.links[0].satellite = VornSatelliteExtension{}; }),
         changed([](VornFile& f) { f.links[0].satellite = VornSatelliteExtension{1.0, 0.5}; }),
         "  Links modified: 1 (A->B)\n", {{}, {}, {}, {}, {}, {"A->B"}}},
        {"no tolerance on floats", base(), changed([](VornFile& f) { f.nodes[0].memory_lifetime_ms = 1000.0000001; }),
         "  Nodes modified: 1 (A)\n", {{}, {}, {"A"}, {}, {}, {}}},
        {"NaN differs from itself", changed([](VornFile& f) { f.links[0].distance_km = std::nan(""); }),
         changed([](VornFile& f) { f.links[0].distance_km = std::nan(""); }), "  Links modified: 1 (A->B)\n",
         {{}, {}, {}, {}, {}, {"A->B"}}},
        {"only the author", base(), changed([](VornFile& f) { f.metadata.author = "me"; }), "  Metadata changes:\n",
         {{}, {}, {}, {}, {}, {}}},
        {"the name", base(), changed([](VornFile& f) { f.metadata.name = "other"; }),
         "  Metadata changes:\n     - name: 'net' -> 'other'\n", {{}, {}, {}, {}, {}, {}}},
        {"the version", base(), changed([](VornFile& f) { f.version = "2.0"; }), "  Version: 1.0 -> 2.0\n",
         {{}, {}, {}, {}, {}, {}}},
        {"config added with only max_attempts", base(), changed([](VornFile& f) { f.config = VornConfig{{}, {}, {}, 20u}; }),
         "  Config changes:\n     - alpha_loss: None -> None\n", {{}, {}, {}, {}, {}, {}}},
        {"config removed", changed([](VornFile& f) { f.config = VornConfig{0.2, {}, {}, {}}; }), base(),
         "  Config changes:\n     - alpha_loss: Some(0.2) -> None\n", {{}, {}, {}, {}, {}, {}}},
        {"config alpha changes", changed([](VornFile& f) { f.config = VornConfig{1.0, 3.0, {}, {}}; }),
         changed([](VornFile& f) { f.config = VornConfig{0.2, 3.0, {}, {}}; }),
         "  Config changes:\n     - alpha_loss: Some(1.0) -> Some(0.2)\n", {{}, {}, {}, {}, {}, {}}},
        {"config: another field changes", changed([](VornFile& f) { f.config = VornConfig{1.0, 3.0, {}, {}}; }),
         changed([](VornFile& f) { f.config = VornConfig{1.0, 4.0, {}, {}}; }), "  Config changes:\n",
         {{}, {}, {}, {}, {}, {}}},
        {"empty configs on both sides", changed([](VornFile& f) { f.config = VornConfig{}; }),
         changed([](VornFile& f) { f.config = VornConfig{}; }), "", {{}, {}, {}, {}, {}, {}}},
        {"constraints added", base(), changed([](VornFile& f) { f.constraints = VornConstraints{}; }),
         "  Constraints changes:\n     - fidelity_target: None -> None\n", {{}, {}, {}, {}, {}, {}}},
        {"constraints: target", changed([](VornFile& f) { f.constraints = VornConstraints{1e-7, {}}; }),
         changed([](VornFile& f) { f.constraints = VornConstraints{1.0, {}}; }),
         "  Constraints changes:\n     - fidelity_target: Some(1e-7) -> Some(1.0)\n", {{}, {}, {}, {}, {}, {}}},
        {"everything at once, in report order",
         changed([](VornFile& f) { f.extensions = VornExtensions{}; }), changed([](VornFile& f) {
             f.version = "1.1";
             f.metadata.name = "x";
             f.nodes[0].node_type = VornNodeType::Ground;
             f.nodes.erase(f.nodes.begin() + 1);
             f.nodes.push_back({"Z", {}, {}, {}});
             f.links[0].base_fidelity = 0.5;
             f.links.push_back(link("Z", "A"));
             f.config = VornConfig{};
             f.constraints = VornConstraints{0.8, {}};
         }),
         "  Version: 1.0 -> 1.1\n  Metadata changes:\n     - name: 'net' -> 'x'\n  Nodes added: 1 (Z)\n"
         "  Nodes removed: 1 (B)\n  Nodes modified: 1 (A)\n  Links added: 1 (Z->A)\n  Links modified: 1 (A->B)\n"
         "  Config changes:\n     - alpha_loss: None -> None\n  Constraints changes:\n"
         "     - fidelity_target: None -> Some(0.8)\n  Extensions changed\n",
         {{"Z"}, {"B"}, {"A"}, {"Z->A"}, {}, {"A->B"}}},
    };
    for (const Row& row : rows) {
        const VornDiff diff = diff_vorn_files("a.vorn", "b.vorn", row.first, row.second);
        if (diff.summary != kHead + row.body)
            check::fail(__FILE__, __LINE__, std::string(row.what) + ", got:\n" + diff.summary);
        const Lists lists = {diff.nodes_added, diff.nodes_removed, diff.nodes_modified,
                             diff.links_added, diff.links_removed, diff.links_modified};
        if (lists != row.lists) check::fail(__FILE__, __LINE__, std::string(row.what) + ": lists differ");
    }
}

TEST_CASE("extensions compare by presence, then by custom value") {
    const JsonValue one = JsonValue::object({{"a", JsonValue::integer(1)}});
    struct Row {
        std::optional<VornExtensions> first;
        std::optional<VornExtensions> second;
        bool changed;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, false},
        {VornExtensions{}, std::nullopt, true},
        {VornExtensions{}, VornExtensions{}, false},
        {VornExtensions{one}, VornExtensions{}, true},
        {VornExtensions{one}, VornExtensions{JsonValue::object({{"a", JsonValue::integer(1)}})}, false},
        {VornExtensions{one}, VornExtensions{JsonValue::object({{"a", JsonValue::unsigned_integer(1)}})}, false},
        {VornExtensions{one}, VornExtensions{JsonValue::object({{"a", JsonValue::number(1.0)}})}, true},
        {VornExtensions{JsonValue::number(std::nan(""))}, VornExtensions{JsonValue::number(std::nan(""))}, true},
        {VornExtensions{JsonValue()}, VornExtensions{}, true},
    };
    for (const Row& row : rows) {
        VornFile first = base(), second = base();
        first.extensions = row.first;
        second.extensions = row.second;
        const VornDiff diff = diff_vorn_files("a", "b", first, second);
        CHECK_EQ(diff.extensions_changed, row.changed);
        CHECK_EQ(diff.summary.find("  Extensions changed\n") != std::string::npos, row.changed);
    }
}

TEST_CASE("lists follow the first file's order, then the second's") {
    VornFile first = VornFile::named("n"), second = VornFile::named("n");
    for (const char* id : {"D", "B", "A", "C"}) first.nodes.push_back({id, 1.0, {}, {}});
    first.nodes.push_back({"D", 2.0, {}, {}});  // replaces the earlier D
    for (const char* id : {"F", "C", "A", "E", "D"}) second.nodes.push_back({id, 2.0, {}, {}});
    for (const auto& [from, to] : {std::pair{"Q", "R"}, {"P", "Q"}, {"R", "P"}}) first.links.push_back(link(from, to));
    for (const auto& [from, to] : {std::pair{"R", "Q"}, {"R", "P"}, {"Q", "P"}}) second.links.push_back(link(from, to));

    const VornDiff diff = diff_vorn_files("x", "y", first, second);
    CHECK(diff.nodes_removed == std::vector<std::string>{"B"});
    CHECK(diff.nodes_modified == (std::vector<std::string>{"A", "C"}));
    CHECK(diff.nodes_added == (std::vector<std::string>{"F", "E"}));
    CHECK(diff.links_removed == (std::vector<std::string>{"Q->R", "P->Q"}));
    CHECK(diff.links_added == (std::vector<std::string>{"R->Q", "Q->P"}));
    CHECK(diff.links_modified.empty());
    CHECK_EQ(diff.summary, std::string("Diff between 'x' and 'y':\n  Nodes added: 2 (F, E)\n  Nodes removed: 1 (B)\n"
                                       "  Nodes modified: 2 (A, C)\n  Links added: 2 (R->Q, Q->P)\n"
                                       "  Links removed: 2 (Q->R, P->Q)\n"));
}

CHECK_MAIN()
