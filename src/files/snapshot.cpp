#include "files/snapshot.hpp"

#include <cmath>

#include "files/json_reader.hpp"
#include "files/json_writer.hpp"
#include "files/keyed_index.hpp"
#include "files/text_file.hpp"

namespace vorn::files {
namespace {

constexpr std::array<std::string_view, 2> kLinkTypes{"Fiber", "Satellite"};

constexpr std::array kMetadataFields{
    json_field<&TopologyMetadata::name>("name", kRequired),
    json_field<&TopologyMetadata::version>("version", kRequired),
};
constexpr JsonRecord kMetadata = json_record<TopologyMetadata>("metadata", kMetadataFields);

constexpr std::array kNodeFields{
    json_field<&NodeDefinition::id>("id", kRequired),
    json_field<&NodeDefinition::memory_lifetime_t2>("memoryLifetimeT2", kRequired),
};
constexpr JsonRecord kNode = json_record<NodeDefinition>("a node", kNodeFields);

constexpr std::array kConditionsFields{
    json_field<&SatelliteConditions::visibility>("visibility", kRequired),
    json_field<&SatelliteConditions::weather_factor>("weatherFactor", kRequired),
};
constexpr JsonRecord kConditions = json_record<SatelliteConditions>("satelliteConditions", kConditionsFields);

constexpr std::array kLinkFields{
    json_field<&LinkDefinition::from, LinkDefinition>("fromNode", kRequired),
    json_field<&LinkDefinition::to, LinkDefinition>("to", kRequired),
    json_field<&LinkDefinition::distance_km, LinkDefinition>("distanceKm", kRequired),
    json_field<&LinkDefinition::base_fidelity, LinkDefinition>("baseFidelity", kRequired),
    json_field<&LinkDefinition::generation_rate_hz, LinkDefinition>("generationRateHz", kRequired),
    json_field<&LinkDefinition::link_type, LinkDefinition>("linkType", kOptional, kLinkTypes),
    json_field<&LinkDefinition::satellite_conditions>("satelliteConditions", kOptional, kConditions),
};
constexpr JsonRecord kLink = json_record<LinkDefinition>("a link", kLinkFields);

constexpr std::array kConfigFields{
    json_field<&TopologyConfig::alpha_loss>("alphaLoss", kRequired),
    json_field<&TopologyConfig::gamma_swapping>("gammaSwapping", kRequired),
};
constexpr JsonRecord kConfig = json_record<TopologyConfig>("config", kConfigFields);

constexpr std::array kSnapshotFields{
    json_field<&TopologySnapshot::metadata>("metadata", kRequired, kMetadata),
    json_field<&TopologySnapshot::nodes>("nodes", kRequired, kNode),
    json_field<&TopologySnapshot::links>("links", kRequired, kLink),
    json_field<&TopologySnapshot::config>("config", kRequired, kConfig),
};
constexpr JsonRecord kSnapshot = json_record<TopologySnapshot>("the document", kSnapshotFields);

// Every key is written: an absent satelliteConditions as null.
constexpr JsonFormat kSnapshotFormat{kSnapshot, AbsentField::Null};

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
    snapshot.config = {10.0 * purify_factor, purify_factor};
    return snapshot;
}

Result<std::string> write_snapshot_json(const TopologySnapshot& snapshot) {
    return write_json(kSnapshotFormat, snapshot);
}

Result<TopologySnapshot> read_snapshot_json(const FileText& text, Interruption* interruption) {
    return read_json<TopologySnapshot>(kSnapshotFormat, text, interruption);
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
