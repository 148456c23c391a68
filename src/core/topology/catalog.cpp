#include "core/topology/catalog.hpp"

#include "core/failure.hpp"

namespace vorn {
namespace {

LinkDefinition fibre(std::string from, std::string to, double distance_km, double base_fidelity,
                     double generation_rate_hz) {
    return {{{std::move(from), std::move(to), distance_km, base_fidelity, generation_rate_hz}, LinkType::Fiber}, {}};
}

LinkDefinition satellite(std::string from, std::string to, double distance_km, double base_fidelity,
                         double generation_rate_hz, SatelliteConditions conditions) {
    return {{{std::move(from), std::move(to), distance_km, base_fidelity, generation_rate_hz}, LinkType::Satellite},
            conditions};
}

NetworkTopologyPayload four_node_chain() { return repeater_chain(4); }

}  // namespace

NetworkTopologyPayload telecom_backbone() {
    return {
        {{"A", 120.0}, {"B", 150.0}, {"C", 200.0}, {"D", 200.0}, {"E", 250.0}, {"F", 180.0}},
        {
            fibre("A", "B", 5.0, 0.97, 2000.0),
            fibre("B", "C", 80.0, 0.93, 1200.0),
            fibre("C", "D", 600.0, 0.88, 600.0),
            fibre("D", "E", 5500.0, 0.75, 150.0),
            fibre("C", "F", 900.0, 0.91, 500.0),
            fibre("F", "E", 4800.0, 0.8, 200.0),
            fibre("B", "F", 1200.0, 0.85, 400.0),
        },
    };
}

NetworkTopologyPayload repeater_chain(std::size_t nodes) {
    NetworkTopologyPayload payload;
    payload.nodes.reserve(nodes);
    for (std::size_t i = 0; i < nodes; ++i) payload.nodes.push_back({"N" + std::to_string(i), 150.0});
    for (std::size_t i = 0; i + 1 < nodes; ++i)
        payload.links.push_back(fibre(payload.nodes[i].id, payload.nodes[i + 1].id, 100.0, 0.92, 800.0));
    return payload;
}

NetworkTopologyPayload hybrid_satellite_fiber() {
    return {
        {{"Toronto", 150.0}, {"Montreal", 180.0}, {"London", 220.0}, {"SAT-1", 300.0}},
        {
            fibre("Toronto", "Montreal", 500.0, 0.9, 1000.0),
            fibre("Montreal", "London", 5500.0, 0.75, 200.0),
            satellite("Toronto", "SAT-1", 1000.0, 0.98, 50.0, {0.95, 0.98}),
            satellite("SAT-1", "London", 6000.0, 0.97, 50.0, {0.85, 0.9}),
        },
    };
}

const std::array<TopologyName, 5> kTopologyNames{{
    {"fiber_only", false, &telecom_backbone},
    {"telecom_backbone", true, &telecom_backbone},
    {"repeater_chain", true, &four_node_chain},
    {"hybrid_satellite_fiber", true, &hybrid_satellite_fiber},
    {"hybrid", false, &hybrid_satellite_fiber},
}};

const TopologyName* find_topology(std::string_view name, bool canonical_only) {
    for (const TopologyName& entry : kTopologyNames)
        if (entry.name == name && (entry.canonical || !canonical_only)) return &entry;
    return nullptr;
}

namespace {

std::string canonical_names_refusal() {
    std::string names;
    std::size_t listed = 0, canonical = 0;
    for (const TopologyName& entry : kTopologyNames) canonical += entry.canonical;
    for (const TopologyName& entry : kTopologyNames) {
        if (!entry.canonical) continue;
        if (listed > 0) names += listed + 1 == canonical ? (canonical > 2 ? ", or " : " or ") : ", ";
        names += "'" + std::string(entry.name) + "'";
        ++listed;
    }
    return "Invalid topology name. Use: " + names;
}

std::string unknown_name_refusal(std::string_view name) {
    std::string message = "Unknown topology in endpoints: '" + std::string(name) + "'. Supported: ";
    for (std::size_t i = 0; i < kTopologyNames.size(); ++i) {
        if (i > 0) message += ", ";
        message += kTopologyNames[i].name;
    }
    return message;
}

}  // namespace

NetworkTopologyPayload generate_topology(std::string_view name) {
    const TopologyName* entry = find_topology(name, true);
    if (!entry) throw InvalidValue(canonical_names_refusal());
    return entry->build();
}

void check_topology_name(std::string_view name) {
    if (!find_topology(name, false)) throw InvalidValue(unknown_name_refusal(name));
}

NetworkTopologyPayload build_named_topology(std::string_view name) {
    check_topology_name(name);
    return find_topology(name, false)->build();
}

}  // namespace vorn
