#include "core/protocols/distributed.hpp"

#include <cmath>
#include <string_view>
#include <unordered_map>

#include "core/heatmap.hpp"
#include "core/interruption_poll.hpp"
#include "core/link_physics.hpp"

namespace vorn {
namespace {

constexpr double kLinkFidelityTarget = 0.9;
constexpr double kRequestBoundPerRelayLatency = 10.0;

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
    // Many short requests, then work in proportion to links and parties: polled as one long loop.
    InterruptionPoll poll(interruption, kWorkPerClockCheck / 64);
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
        poll.advance();
    }

    // The links that touch each node, in list order (a link from a node to itself once).
    std::unordered_map<std::string_view, std::vector<std::size_t>> touching;
    for (std::size_t l = 0; l < links.size(); ++l) {
        touching[links[l].first].push_back(l);
        if (links[l].second != links[l].first) touching[links[l].second].push_back(l);
        poll.advance();
    }

    double product = 1.0;
    bool every_party_measured = true;
    result.party_results.reserve(computation.participants.size());
    static const std::vector<std::size_t> kNone;
    for (const std::string& party : computation.participants) {
        const auto found = touching.find(party);
        const std::vector<std::size_t>& own = found == touching.end() ? kNone : found->second;
        double sum = 0.0;
        bool measured = true;
        for (std::size_t l : own) {
            sum += link_fidelity[l];
            measured = measured && link_fidelity[l] > 0.5;
        }
        poll.advance(1 + own.size());
        const double mean = own.empty() ? 1.0 : sum / static_cast<double>(own.size());
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
