#include "core/protocols/distributed.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "core/heatmap.hpp"
#include "core/interruption_poll.hpp"
#include "core/link_physics.hpp"

namespace vorn {
namespace {

constexpr double kLinkFidelityTarget = 0.9;
constexpr double kRequestBoundPerRelayLatency = 10.0;
constexpr std::size_t kNoParty = static_cast<std::size_t>(-1);

// The participants by name: a name listed twice is one party to the links that touch it, known by the index
// of its first listing.
class Parties {
public:
    explicit Parties(const std::vector<std::string>& participants) : first_listed_(participants.size()) {
        by_name_.reserve(participants.size());
        for (std::size_t i = 0; i < participants.size(); ++i)
            first_listed_[i] = by_name_.try_emplace(participants[i], i).first->second;
    }
    // The party of node `node`, or kNoParty.
    std::size_t find(std::string_view node) const {
        const auto found = by_name_.find(node);
        return found == by_name_.end() ? kNoParty : found->second;
    }
    // The party of participant `i`.
    std::size_t of(std::size_t i) const { return first_listed_[i]; }

private:
    std::unordered_map<std::string_view, std::size_t> by_name_;
    std::vector<std::size_t> first_listed_;
};

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

// Calls visit(first, second, first party, second party) for each link among the participants, in request
// order; a node that no participant names is party kNoParty. The links are never stored: a mesh
// of n parties has n(n - 1) / 2 of them.
template <class Visit>
void for_each_link(const Coordination& coordination, const std::vector<std::string>& participants,
                   const Parties& parties, Visit&& visit) {
    const std::size_t n = participants.size();
    std::visit(Overloaded{
                   [&](const StarCoordination& star) {
                       const std::size_t center = parties.find(star.center_node);
                       for (std::size_t i = 0; i < n; ++i)
                           if (participants[i] != star.center_node)
                               visit(participants[i], star.center_node, parties.of(i), center);
                   },
                   [&](const RingCoordination&) {
                       for (std::size_t i = 0; i < n; ++i)
                           visit(participants[i], participants[(i + 1) % n], parties.of(i), parties.of((i + 1) % n));
                   },
                   [&](const MeshCoordination&) {
                       for (std::size_t i = 0; i < n; ++i)
                           for (std::size_t j = i + 1; j < n; ++j)
                               visit(participants[i], participants[j], parties.of(i), parties.of(j));
                   },
                   [&](const ArbitraryCoordination& arbitrary) {
                       for (const auto& [first, second] : arbitrary.edges)
                           visit(first, second, parties.find(first), parties.find(second));
                   },
               },
               coordination);
}

// How many links for_each_link visits, counted without visiting them.
std::size_t link_count(const Coordination& coordination, const std::vector<std::string>& participants) {
    const std::size_t n = participants.size();
    return std::visit(Overloaded{
                          [&](const StarCoordination& star) {
                              return n - static_cast<std::size_t>(
                                             std::count(participants.begin(), participants.end(), star.center_node));
                          },
                          [&](const RingCoordination&) { return n; },
                          [&](const MeshCoordination&) { return n < 2 ? 0 : n * (n - 1) / 2; },
                          [&](const ArbitraryCoordination& arbitrary) { return arbitrary.edges.size(); },
                      },
                      coordination);
}

// What the links touching one party brought, in link order.
struct Tally {
    double fidelity_sum = 0.0;
    std::size_t links = 0;
    bool measured = true;  // every link's fidelity strictly above 0.5
};

}  // namespace

Coordination coordination_of(const CoordinationTopology& topology) {
    if (topology.kind == "star") return StarCoordination{topology.center_node.value_or("")};
    if (topology.kind == "ring") return RingCoordination{};
    if (topology.kind == "mesh") return MeshCoordination{};
    return ArbitraryCoordination{topology.edges.value_or(std::vector<NodePair>{})};
}

DistributedComputingResult run_distributed_computation(const Engine& engine, const DistributedComputation& computation,
                                                       Interruption* interruption) {
    DistributedComputingResult result;
    if (!engine.network()) return result;

    // Many short requests, then work in proportion to the parties: polled as one long loop.
    InterruptionPoll poll(interruption, kWorkPerClockCheck / 64);
    const Parties parties(computation.participants);
    // Each party's links are summed as they come, in link order.
    std::vector<Tally> tallies(computation.participants.size());
    auto tally = [&](std::size_t party, double fidelity) {
        Tally& own = tallies[party];
        own.fidelity_sum += fidelity;
        ++own.links;
        own.measured = own.measured && fidelity > 0.5;
    };
    // The labels are the one thing kept per link; reserved whole, they take no more room than they fill.
    result.resource_links_used.reserve(link_count(computation.coordination, computation.participants));
    const double bound = computation.classical_relay_latency_ms * kRequestBoundPerRelayLatency;
    for_each_link(
        computation.coordination, computation.participants, parties,
        [&](const std::string& first, const std::string& second, std::size_t first_party, std::size_t second_party) {
            const SimulationResult pair = engine.request_entanglement(
                {first, second, kLinkFidelityTarget, bound, StrategyType::HighestFidelity}, interruption);
            const double fidelity = pair.success ? pair.final_fidelity : 0.0;
            result.total_latency_ms += pair.latency_ms;
            result.resource_links_used.push_back(hop_key(first, second));
            // A link from a node to itself counts once for it.
            if (first_party != kNoParty) tally(first_party, fidelity);
            if (second_party != kNoParty && second_party != first_party) tally(second_party, fidelity);
            poll.advance();
        });

    double product = 1.0;
    bool every_party_measured = true;
    result.party_results.reserve(computation.participants.size());
    for (std::size_t i = 0; i < computation.participants.size(); ++i) {
        const Tally& own = tallies[parties.of(i)];
        const double mean = own.links == 0 ? 1.0 : own.fidelity_sum / static_cast<double>(own.links);
        const double local = mean * computation.correlation_strength;
        result.party_results.push_back({computation.participants[i], own.measured, std::fmin(local, kFidelityCap)});
        product *= local;
        every_party_measured = every_party_measured && own.measured;
        poll.advance();
    }
    result.computation_fidelity = std::fmin(product, kFidelityCap);
    const std::size_t links = result.resource_links_used.size();
    result.coordination_overhead_ms =
        links == 0 ? 0.0 : static_cast<double>(links) * computation.classical_relay_latency_ms;
    result.success = !computation.participants.empty() && every_party_measured;
    return result;
}

}  // namespace vorn
