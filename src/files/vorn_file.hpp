// The records of a .vorn topology file. Absent optional fields have no value at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/network_records.hpp"
#include "describe/record.hpp"
#include "files/json_value.hpp"

namespace vorn::files {

enum class VornNodeType : std::uint8_t { Ground = 0, Satellite = 1, Repeater = 2 };
enum class VornLinkType : std::uint8_t { Fiber = 0, Satellite = 1 };

constexpr auto description(const VornNodeType*) {
    using namespace describe;
    using T = VornNodeType;
    return enumeration<T>(Member<T>{T::Ground, "Ground", "a ground station"},
                          Member<T>{T::Satellite, "Satellite", "a satellite"},
                          Member<T>{T::Repeater, "Repeater", "a repeater station"});
}

constexpr auto description(const VornLinkType*) {
    using namespace describe;
    using T = VornLinkType;
    return enumeration<T>(Member<T>{T::Fiber, "Fiber", "an optical fibre"},
                          Member<T>{T::Satellite, "Satellite", "a free-space link via a satellite"});
}

struct VornMetadata {
    std::string name;
    std::optional<std::string> description;
    std::optional<std::string> author;
    std::optional<std::string> created_at;

    friend bool operator==(const VornMetadata&, const VornMetadata&) = default;
};

constexpr auto description(const VornMetadata*) {
    using namespace describe;
    using M = VornMetadata;
    return record<M>(
        field<&M::name>("name", "Name of the topology"), field<&M::description>("description", "Free text", kOptional),
        field<&M::author>("author", "Free text", kOptional),
        field<&M::created_at>("created_at", "Creation time as free text (no format is imposed)", kOptional));
}

struct VornNode {
    std::string id;
    std::optional<double> memory_lifetime_ms;
    std::optional<std::uint32_t> memory_capacity;
    std::optional<VornNodeType> node_type;

    friend bool operator==(const VornNode&, const VornNode&) = default;
};

constexpr auto description(const VornNode*) {
    using namespace describe;
    using N = VornNode;
    return record<N>(field<&N::id>("id", "Identifier of the node; links refer to it"),
                     field<&N::memory_lifetime_ms>("memory_lifetime_ms", "Coherence time of the node's quantum memory",
                                                   "ms", kOptional),
                     field<&N::memory_capacity>("memory_capacity", "Number of memory slots", kOptional),
                     field<&N::node_type>("node_type", "Kind of node", kOptional));
}

// A link's satellite section: the same conditions a link definition carries, as the file names them.
struct VornSatelliteExtension {
    SatelliteConditions conditions;

    double effective_rate(double base_rate) const { return conditions.effective_rate(base_rate); }
    friend bool operator==(const VornSatelliteExtension&, const VornSatelliteExtension&) = default;
};

constexpr auto description(const VornSatelliteExtension*) {
    return describe::record<VornSatelliteExtension>(describe::embed<&VornSatelliteExtension::conditions>());
}

// A link of the file: the figures every link record carries, and the file's own fields.
struct VornLink {
    std::optional<std::string> id;
    LinkFigures figures;
    std::optional<VornLinkType> link_type;
    std::optional<VornSatelliteExtension> satellite;

    friend bool operator==(const VornLink&, const VornLink&) = default;
};

inline const LinkFigures& figures_of(const VornLink& link) { return link.figures; }

constexpr auto description(const VornLink*) {
    using namespace describe;
    using L = VornLink;
    // "src" in Python, where "from" is a keyword; the file's key stays "from".
    return record<L>(field<&L::id, EmptyText>("id", "Identifier of the link (empty when the file has none)"),
                     embed<&L::figures>(Rename{"from_node", "src"}),
                     field<&L::link_type>("link_type", "Kind of channel", kOptional),
                     field<&L::satellite>("satellite", "Conditions of a satellite channel", kOptional));
}

struct VornConfig {
    std::optional<double> alpha_loss;
    std::optional<double> beta_fidelity_decay;
    std::optional<double> gamma_swapping;
    std::optional<std::uint32_t> max_attempts;

    friend bool operator==(const VornConfig&, const VornConfig&) = default;
};

constexpr auto description(const VornConfig*) {
    using namespace describe;
    using C = VornConfig;
    return record<C>(
        field<&C::alpha_loss>("alpha_loss",
                              "Fibre loss coefficient; an engine made from the file keeps "
                              "a tenth of it as its purify factor",
                              "dB/km", kOptional),
        field<&C::beta_fidelity_decay>("beta_fidelity_decay", "Fidelity decay coefficient (not used)", kOptional),
        field<&C::gamma_swapping>("gamma_swapping", "Swapping coefficient (not used)", kOptional),
        field<&C::max_attempts>("max_attempts",
                                "Attempt limit; an engine made from the file gets a horizon of 50 ms "
                                "per attempt",
                                kOptional));
}

struct VornConstraints {
    std::optional<double> fidelity_target;
    std::optional<double> max_latency_ms;

    friend bool operator==(const VornConstraints&, const VornConstraints&) = default;
};

constexpr auto description(const VornConstraints*) {
    using namespace describe;
    using C = VornConstraints;
    return record<C>(
        field<&C::fidelity_target>("fidelity_target", "Required end-to-end fidelity, a fraction", kOptional),
        field<&C::max_latency_ms>("max_latency_ms", "Latency bound", "ms", kOptional));
}

struct VornExtensions {
    std::optional<JsonValue> custom;

    friend bool operator==(const VornExtensions&, const VornExtensions&) = default;
};

constexpr auto description(const VornExtensions*) {
    using namespace describe;
    return record<VornExtensions>(
        field<&VornExtensions::custom>("custom", "Caller data, an uninterpreted JSON value", kOptional));
}

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

constexpr auto description(const VornFile*) {
    using namespace describe;
    using F = VornFile;
    return record<F>(field<&F::version>("version", "Format version; only \"1.0\" loads"),
                     field<&F::metadata>("metadata", "Descriptive data"),
                     field<&F::nodes>("nodes", "The nodes, in file order"),
                     field<&F::links>("links", "The links, in file order"),
                     field<&F::config>("config", "Physics parameters", kOptional),
                     field<&F::constraints>("constraints", "Service constraints", kOptional),
                     field<&F::extensions>("extensions", "Free-form additions", kOptional));
}

}  // namespace vorn::files
