// Snapshots of an engine's network: the records, their JSON format (camelCase keys, every key
// written, "Fiber" and "Satellite" capitalised), saving, loading and comparing them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/engine.hpp"
#include "core/failure.hpp"
#include "core/network.hpp"
#include "describe/record.hpp"
#include "files/file_error.hpp"
#include "files/node_link_changes.hpp"
#include "files/text_file.hpp"

namespace vorn::files {

struct TopologyMetadata {
    std::string name;
    std::string version;
};

constexpr auto description(const TopologyMetadata*) {
    using namespace describe;
    using M = TopologyMetadata;
    return record<M>(field<&M::name>("name", "Name of the snapshot"), field<&M::version>("version", "Its version"));
}

// Not the engine's configuration: a summary written for readers of the file, ignored when loading.
struct TopologyConfig {
    double alpha_loss = kFibreLossDbKm;
    double gamma_swapping = 0.85;
};

constexpr auto description(const TopologyConfig*) {
    using namespace describe;
    using C = TopologyConfig;
    return record<C>(field<&C::alpha_loss>("alpha_loss",
                                           "Ten times the engine's purify factor (for readers; loading "
                                           "ignores it)"),
                     field<&C::gamma_swapping>("gamma_swapping",
                                               "The engine's purify factor (for readers; loading "
                                               "ignores it)"));
}

struct TopologySnapshot {
    TopologyMetadata metadata;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    TopologyConfig config;
};

constexpr auto description(const TopologySnapshot*) {
    using namespace describe;
    using S = TopologySnapshot;
    return record<S>(field<&S::nodes>("nodes", "The network's nodes, in the network's order"),
                     field<&S::links>("links",
                                      "The network's links, each with its own type and without satellite "
                                      "conditions"),
                     field<&S::config>("config", "A summary of the engine's configuration"),
                     field<&S::metadata>("metadata", "Name and version"));
}

struct TopologyDiff : NodeLinkChanges {
    std::string name;     // "first vs second"
    std::string summary;  // one line of counts
};

constexpr auto description(const TopologyDiff*) {
    using namespace describe;
    using D = TopologyDiff;
    return record<D>(field<&D::name>("name", "\"first vs second\", from the two snapshots' names"),
                     base<NodeLinkChanges>(), field<&D::summary>("summary", "The counts in one line"));
}

// The snapshot functions report failures as FileError, whose texts for callers are those of
// snapshot_error_text: "No network topology to save", "Failed to write topology file: ...",
// "Failed to read topology file: ..." or "Failed to parse topology JSON: ... at line L column C".

// The engine's network as a snapshot: nodes in the network's order, each link with its own type
// and without satellite conditions (the network keeps none), alphaLoss 10 x and gammaSwapping
// 1 x the purify factor. Fails without a network (NoNetwork).
Result<TopologySnapshot> take_snapshot(const Engine& engine, std::string name = "exported_topology",
                                       std::string version = "1.0");

// A non-finite number is an Unwritable error naming it.
Result<std::string> write_snapshot_json(const TopologySnapshot& snapshot);

// Structure and types only. The text must be valid UTF-8. A stop asked for by `interruption`
// throws Interrupted.
Result<TopologySnapshot> read_snapshot_json(const FileText& text, Interruption* interruption = nullptr);

// Writes take_snapshot's snapshot as write_text_file does: atomically where it can; a network with
// a non-finite figure is refused before anything is written. A stop asked for by `interruption`
// throws Interrupted.
Result<void> save_topology(const Engine& engine, const std::string& path, Interruption* interruption = nullptr);

// Reads and parses a whole snapshot file.
Result<TopologySnapshot> read_snapshot_file(const std::string& path, Interruption* interruption = nullptr);

// Reads and parses the whole file, then replaces the engine's network in one step (nodes in file
// order, a repeated id replacing the earlier node; then links); metadata and config are not used.
// After a failure the engine is as it was.
Result<void> load_topology(Engine& engine, const std::string& path, Interruption* interruption = nullptr);

// Nodes differ when their T2 values are more than 0.001 apart (never when either is NaN); links
// with the same key differ unless every field is exactly equal. Within one snapshot a later node
// or link with the same id or key replaces the earlier one. Cannot fail.
TopologyDiff diff_topologies(const TopologySnapshot& first, const TopologySnapshot& second);

}  // namespace vorn::files
