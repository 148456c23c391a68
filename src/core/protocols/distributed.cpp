#include "core/protocols/distributed.hpp"

#include <cmath>

#include "core/heatmap.hpp"

namespace vorn {
namespace {

constexpr double kLinkFidelityTarget = 0.9;
constexpr double kRequestBoundPerRelayLatency = 10.0;
constexpr double kFidelityCap = 0.999;

struct LinksOf {
    const std::vector<std::string>& participants;

    std::vector<NodePair> operator()(const StarCoordination& star) const {
        std::vector<NodePair> links;
        for (const std::string& p : participants)
            if (p != star.center_node) links.emplace_back(p, star.center_node);
        return links;
    }
    std::vector<NodePair> operator()(const RingCoordination&) const {
        std::vector<NodePair> links;
        const std::size_t n = participants.size();
        links.reserve(n);
        for (std::size_t i = 0; i < n; ++i) links.emplace_back(participants[i], participants[(i + 1) % n]);
        return links;
    }
    std::vector<NodePair> operator()(const MeshCoordination&) const {
        std::vector<NodePair> links;
        for (std::size_t i = 0; i < participants.size(); ++i)
            for (std::size_t j = i + 1; j < participants.size(); ++j)
                links.emplace_back(participants[i], participants[j]);
        return links;
    }
    std::vector<NodePair> operator()(const ArbitraryCoordination& arbitrary) const { return arbitrary.edges; }
};

}  // namespace

Coordination coordination_of(const CoordinationTopology& topology) {
    if (topology.kind == "star") return StarCoordination{topology.center_node.value_or("")};
    if (topology.kind == "ring") return RingCoordination{};
    if (topology.kind == "mesh") return MeshCoordination{};
    return ArbitraryCoordination{topology.edges.value_or(std::vector<NodePair>{})};
}

std::vector<NodePair> coordination_links(const Coordination& coordination,
                                         const std::vector<std::string>& participants) {
    return std::visit(LinksOf{participants}, coordination);
}

DistributedComputingResult run_distributed_computation(const Engine& engine, const DistributedComputation& computation,
                                                       Interruption* interruption) {
    DistributedComputingResult result;
    if (!engine.network()) return result;

    const std::vector<NodePair> links = coordination_links(computation.coordination, computation.participants);
    std::vector<double> link_fidelity;
    link_fidelity.reserve(links.size());
    result.resource_links_used.reserve(links.size());
    const double bound = computation.classical_relay_latency_ms * kRequestBoundPerRelayLatency;
    for (const auto& [first, second] : links) {
        const SimulationResult pair = engine.request_entanglement(
            {first, second, kLinkFidelityTarget, bound, StrategyType::HighestFidelity}, interruption);
        link_fidelity.push_back(pair.success ? pair.final_fidelity : 0.0);
        result.total_latency_ms += pair.latency_ms;
        result.resource_links_used.push_back(hop_key(first, second));
    }

    double product = 1.0;
    bool every_party_measured = true;
    result.party_results.reserve(computation.participants.size());
    for (const std::string& party : computation.participants) {
        double sum = 0.0;
        std::size_t touching = 0;
        bool measured = true;
        for (std::size_t l = 0; l < links.size(); ++l) {
            if (links[l].first != party && links[l].second != party) continue;
            sum += link_fidelity[l];
            ++touching;
            measured = measured && link_fidelity[l] > 0.5;
        }
        const double mean = touching == 0 ? 1.0 : sum / static_cast<double>(touching);
        const double local = mean * computation.correlation_strength;
        result.party_results.push_back({party, measured, std::fmin(local, kFidelityCap)});
        product *= local;
        every_party_measured = every_party_measured && measured;
    }
    result.computation_fidelity = std::fmin(product, kFidelityCap);
    result.coordination_overhead_ms =
        links.empty() ? 0.0 : static_cast<double>(links.size()) * computation.classical_relay_latency_ms;
    result.success = !computation.participants.empty() && every_party_measured;
    return result;
}

}  // namespace vorn
