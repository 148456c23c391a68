#include "files/snapshot.hpp"

#include <cmath>
#include <stdexcept>

#include "files/json_described.hpp"
#include "files/json_writer.hpp"
#include "files/keyed_index.hpp"
#include "files/text_file.hpp"

namespace vorn::files {
namespace {

// Every key is written: an absent satelliteConditions as null.
const JsonFormat& snapshot_format() {
    static JsonSchema schema(KeyStyle::Camel, Spelling::AsNamed);
    static const JsonFormat format{[]() -> const JsonRecord& {
                                       schema.table<TopologyMetadata>("metadata");
                                       schema.table<NodeDefinition>("a node");
                                       schema.table<SatelliteConditions>("satelliteConditions");
                                       schema.table<LinkDefinition>("a link", {.optional = {"link_type"}});
                                       schema.table<TopologyConfig>("config");
                                       return schema.table<TopologySnapshot>(
                                           "the document", {.order = {"metadata", "nodes", "links", "config"}});
                                   }(),
                                   AbsentField::Null};
    return format;
}

bool links_equal(const LinkDefinition& a, const LinkDefinition& b) {
    return static_cast<const LinkFigures&>(a) == static_cast<const LinkFigures&>(b) && a.link_type == b.link_type &&
           a.satellite_conditions == b.satellite_conditions;
}

std::string summary_of(const TopologyDiff& diff) {
    const auto count = [](const std::vector<std::string>& items) { return std::to_string(items.size()); };
    return "Diff for '" + diff.name + "': " + count(diff.nodes_added) + " nodes added, " + count(diff.nodes_removed) +
           " nodes removed, " + count(diff.nodes_modified) + " nodes modified. " + count(diff.links_added) +
           " links added, " + count(diff.links_removed) + " links removed, " + count(diff.links_modified) +
           " links modified.";
}

}  // namespace

std::variant<TopologySnapshot, SnapshotFailure> take_snapshot(const Engine& engine, std::string name,
                                                              std::string version) {
    const std::optional<QuantumNetwork>& network = engine.network();
    if (!network) return SnapshotFailure{"No network topology to save"};
    TopologySnapshot snapshot;
    snapshot.metadata = {std::move(name), std::move(version)};
    snapshot.nodes = network->nodes();
    snapshot.links.reserve(network->links().size());
    for (const InternalLink& link : network->links()) snapshot.links.push_back({link, std::nullopt});
    const double purify_factor = engine.config().physical.baseline_purify_factor;
    snapshot.config = {10.0 * purify_factor, purify_factor};
    return snapshot;
}

std::string write_snapshot_json(const TopologySnapshot& snapshot) { return write_json(snapshot_format(), snapshot); }

std::variant<TopologySnapshot, JsonReadError> read_snapshot_json(std::string_view text, Interruption* interruption) {
    try {
        return read_json<TopologySnapshot>(snapshot_format(), text, interruption);
    } catch (const std::logic_error& failure) {
        return JsonReadError{failure.what(), 0, 0};
    }
}

std::optional<SnapshotFailure> save_topology(const Engine& engine, const std::string& path,
                                             Interruption* interruption) {
    std::variant<TopologySnapshot, SnapshotFailure> snapshot = take_snapshot(engine);
    if (auto* failure = std::get_if<SnapshotFailure>(&snapshot)) return std::move(*failure);
    const std::string text = write_snapshot_json(std::get<TopologySnapshot>(snapshot));
    if (const std::error_code error = write_text_file(path, text, interruption))
        return SnapshotFailure{"Failed to write topology file: " + error.message()};
    return std::nullopt;
}

std::variant<TopologySnapshot, SnapshotFailure> read_snapshot_file(const std::string& path,
                                                                   Interruption* interruption) {
    std::variant<std::string, ReadFailure> text = read_text_file(path, interruption);
    if (const auto* failure = std::get_if<ReadFailure>(&text))
        return SnapshotFailure{"Failed to read topology file: " + failure->text};
    std::variant<TopologySnapshot, JsonReadError> parsed =
        read_snapshot_json(std::get<std::string>(text), interruption);
    if (const auto* error = std::get_if<JsonReadError>(&parsed))
        return SnapshotFailure{"Failed to parse topology JSON: " + error->text()};
    return std::get<TopologySnapshot>(std::move(parsed));
}

std::optional<SnapshotFailure> load_topology(Engine& engine, const std::string& path, Interruption* interruption) {
    // The file's text is gone before the network is built.
    std::variant<TopologySnapshot, SnapshotFailure> read = read_snapshot_file(path, interruption);
    if (auto* failure = std::get_if<SnapshotFailure>(&read)) return std::move(*failure);
    const TopologySnapshot& snapshot = std::get<TopologySnapshot>(read);
    engine.define_network(snapshot.nodes, snapshot.links);
    return std::nullopt;
}

TopologyDiff diff_topologies(const TopologySnapshot& first, const TopologySnapshot& second) {
    TopologyDiff diff;
    diff.name = first.metadata.name + " vs " + second.metadata.name;
    static_cast<NodeLinkChanges&>(diff) = compare_nodes_and_links(
        first.nodes, second.nodes, first.links, second.links,
        // Written so that a NaN on either side is no modification.
        [](const NodeDefinition& a, const NodeDefinition& b) {
            return std::fabs(a.memory_lifetime_t2 - b.memory_lifetime_t2) > 0.001;
        },
        [](const LinkDefinition& a, const LinkDefinition& b) { return !links_equal(a, b); });
    diff.summary = summary_of(diff);
    return diff;
}

}  // namespace vorn::files
