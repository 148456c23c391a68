// The records a caller describes a network with, and the network an engine holds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorn {

enum class LinkType : std::uint8_t { Fiber = 0, Satellite = 1 };

struct SatelliteConditions {
    double visibility = 1.0;
    double weather_factor = 1.0;

    double effective_rate(double base_rate) const { return base_rate * visibility * weather_factor; }
    friend bool operator==(const SatelliteConditions&, const SatelliteConditions&) = default;
};

struct NodeDefinition {
    std::string id;
    double memory_lifetime_t2 = 0.0;  // seconds

    friend bool operator==(const NodeDefinition&, const NodeDefinition&) = default;
};

// The two ends and the three figures that every record of a link carries, wherever it is kept.
struct LinkFigures {
    std::string from;
    std::string to;
    double distance_km = 0.0;
    double base_fidelity = 0.0;
    double generation_rate_hz = 0.0;

    friend bool operator==(const LinkFigures&, const LinkFigures&) = default;
};

// A link as the network keeps it.
struct InternalLink : LinkFigures {
    LinkType link_type = LinkType::Fiber;
};

// A link as a caller defines it: the network drops the satellite conditions when it takes the link.
struct LinkDefinition : InternalLink {
    std::optional<SatelliteConditions> satellite_conditions;
};

// The speed of a signal in fibre that every configuration takes, and classical signals too, km/ms.
inline constexpr double kFibreSpeedKmMs = 200.0;

// Configurations and files give a fibre loss in dB/km; the purify factor is a tenth of it.
inline double purify_factor_of_loss(double alpha_loss_db_km) { return alpha_loss_db_km / 10.0; }
inline double loss_of_purify_factor(double purify_factor) { return 10.0 * purify_factor; }

struct PhysicalConfig {
    double baseline_purify_factor = 0.022;
    double speed_of_light_in_fiber_km_ms = kFibreSpeedKmMs;

    static PhysicalConfig from_alpha_loss(std::optional<double> alpha_loss_db_km) {
        PhysicalConfig config;
        if (alpha_loss_db_km) config.baseline_purify_factor = purify_factor_of_loss(*alpha_loss_db_km);
        return config;
    }
};

struct SimulationConfig {
    PhysicalConfig physical;
    double total_time_cutoff_ms = 5000.0;
    double step_resolution_ms = 0.1;

    // What an engine built without a configuration runs with (not the record's own defaults).
    static SimulationConfig engine_default() {
        SimulationConfig config;
        config.physical.baseline_purify_factor = 0.12;
        return config;
    }
};

struct NetworkTopologyPayload {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

struct RouteGraph;

// Nodes are kept in the order their ids were first defined, so that everything listing them
// is reproducible; a repeated id replaces the stored record in place.
class QuantumNetwork {
public:
    static QuantumNetwork from_definitions(const std::vector<NodeDefinition>& nodes,
                                           const std::vector<LinkDefinition>& links);

    void add_node(std::string id, double memory_lifetime_t2);
    void add_link(std::string from, std::string to, LinkType link_type, double distance_km, double base_fidelity,
                  double generation_rate_hz);

    bool has_node(std::string_view id) const;
    bool empty() const { return nodes_.empty(); }
    const std::vector<NodeDefinition>& nodes() const { return nodes_; }
    const std::vector<InternalLink>& links() const { return links_; }

    // The links recast for route search: built by the first search and kept until a link is added,
    // so that every request on an unchanged network searches the same graph.
    const RouteGraph& route_graph() const;

private:
    // The graph views the link ends of the network it was built from, so a copied or moved network
    // starts without one and builds its own.
    class RouteGraphCache {
    public:
        RouteGraphCache() = default;
        RouteGraphCache(const RouteGraphCache&) noexcept {}
        RouteGraphCache& operator=(const RouteGraphCache&) noexcept {
            graph.reset();
            return *this;
        }
        std::shared_ptr<const RouteGraph> graph;
    };

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<NodeDefinition> nodes_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
    std::vector<InternalLink> links_;
    mutable RouteGraphCache route_graph_;
};

}  // namespace vorn
