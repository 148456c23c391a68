#include "files/snapshot.hpp"

#include <cmath>

#include "files/json_described.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"
#include "files/keyed_index.hpp"
#include "files/text_file.hpp"

namespace vorn::files {
namespace {

// Every key is written: an absent satelliteConditions as null.
const JsonFormat& snapshot_format() {
    static JsonSchema schema(KeyStyle::Camel, Spelling::AsNamed);
    static const JsonFormat format{
        []() -> const JsonRecord& {
            schema.table<TopologyMetadata>("metadata");
            schema.table<NodeDefinition>("a node");
            // The conditions default to 1 where a caller builds them, but a
            // snapshot's conditions have always named both.
            schema.table<SatelliteConditions>("satelliteConditions", {.required = {"visibility", "weather_factor"}});
            schema.table<LinkDefinition>("a link");
            schema.table<TopologyConfig>("config");
            return schema.table<TopologySnapshot>("the document", {.order = {"metadata", "nodes", "links", "config"}});
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

Result<TopologySnapshot> take_snapshot(const Engine& engine, std::string name, std::string version) {
    const std::optional<QuantumNetwork>& network = engine.network();
    if (!network) return FileError::no_network();
    TopologySnapshot snapshot;
    snapshot.metadata = {std::move(name), std::move(version)};
    snapshot.nodes = network->nodes();
    snapshot.links.reserve(network->links().size());
    for (const InternalLink& link : network->links()) snapshot.links.push_back({link, std::nullopt});
    const double purify_factor = engine.config().physical.baseline_purify_factor;
    snapshot.config = {loss_of_purify_factor(purify_factor), purify_factor};
    return snapshot;
}

Result<std::string> write_snapshot_json(const TopologySnapshot& snapshot) {
    return write_json(snapshot_format(), snapshot);
}

Result<TopologySnapshot> read_snapshot_json(const FileText& text, Interruption* interruption) {
    return read_json<TopologySnapshot>(snapshot_format(), text, interruption);
}

Result<void> save_topology(const Engine& engine, const std::string& path, Interruption* interruption) {
    Result<TopologySnapshot> snapshot = take_snapshot(engine);
    if (!snapshot) return std::move(snapshot).error();
    Result<std::string> text = write_snapshot_json(snapshot.value());
    if (!text) return std::move(text).error();
    return write_text_file(path, text.value(), interruption);
}

Result<TopologySnapshot> read_snapshot_file(const std::string& path, Interruption* interruption) {
    Result<FileText> text = read_text_file(path, interruption);
    if (!text) return std::move(text).error();
    return read_snapshot_json(text.value(), interruption);
}

Result<void> load_topology(Engine& engine, const std::string& path, Interruption* interruption) {
    // The file's text is gone before the network is built.
    Result<TopologySnapshot> read = read_snapshot_file(path, interruption);
    if (!read) return std::move(read).error();
    const TopologySnapshot& snapshot = read.value();
    engine.define_network(snapshot.nodes, snapshot.links);
    return {};
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
