// The records of a .vorn topology file. Absent optional fields have no value at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/network.hpp"
#include "files/json_value.hpp"

namespace vorn::files {

enum class VornNodeType : std::uint8_t { Ground = 0, Satellite = 1, Repeater = 2 };
enum class VornLinkType : std::uint8_t { Fiber = 0, Satellite = 1 };

struct VornMetadata {
    std::string name;
    std::optional<std::string> description;
    std::optional<std::string> author;
    std::optional<std::string> created_at;

    friend bool operator==(const VornMetadata&, const VornMetadata&) = default;
};

struct VornNode {
    std::string id;
    std::optional<double> memory_lifetime_ms;
    std::optional<std::uint32_t> memory_capacity;
    std::optional<VornNodeType> node_type;

    friend bool operator==(const VornNode&, const VornNode&) = default;
};

// A link's satellite section: the same conditions a link definition carries, as the file names them.
struct VornSatelliteExtension : SatelliteConditions {
    friend bool operator==(const VornSatelliteExtension&, const VornSatelliteExtension&) = default;
};

struct VornLink : LinkFigures {
    std::optional<std::string> id;
    std::optional<VornLinkType> link_type;
    std::optional<VornSatelliteExtension> satellite;

    friend bool operator==(const VornLink&, const VornLink&) = default;
};

struct VornConfig {
    std::optional<double> alpha_loss;
    std::optional<double> beta_fidelity_decay;
    std::optional<double> gamma_swapping;
    std::optional<std::uint32_t> max_attempts;

    friend bool operator==(const VornConfig&, const VornConfig&) = default;
};

struct VornConstraints {
    std::optional<double> fidelity_target;
    std::optional<double> max_latency_ms;

    friend bool operator==(const VornConstraints&, const VornConstraints&) = default;
};

struct VornExtensions {
    std::optional<JsonValue> custom;

    friend bool operator==(const VornExtensions&, const VornExtensions&) = default;
};

// Floats compare exactly throughout: a record holding NaN equals no record, itself included.
struct VornFile {
    std::string version = "1.0";
    VornMetadata metadata;
    std::vector<VornNode> nodes;
    std::vector<VornLink> links;
    std::optional<VornConfig> config;
    std::optional<VornConstraints> constraints;
    std::optional<VornExtensions> extensions;

    // A new file: version "1.0", metadata with only the name, no nodes, links or sections.
    static VornFile named(std::string name) {
        VornFile file;
        file.metadata.name = std::move(name);
        return file;
    }

    friend bool operator==(const VornFile&, const VornFile&) = default;
};

}  // namespace vorn::files
