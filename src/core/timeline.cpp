#include "core/timeline.hpp"

#include <algorithm>

#include "core/interruption_poll.hpp"
#include "core/link_physics.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kDrawsPerClockCheck = 1u << 16;

// The cycles of one admitted request, one step at a time: attempts, the
// event queue, delivery with losses, and the completion check.
class CycleRun {
public:
    CycleRun(const Admission& admission, const EntanglementRequest& request, const TimelineSettings& settings,
             SimulationRuntime& runtime, RequestGenerator& draws, LossGenerator& losses, Interruption* interruption)
        : admission_(admission), request_(request), settings_(settings), runtime_(runtime), draws_(draws),
          losses_(losses), poll_(interruption, kDrawsPerClockCheck), fidelity_(admission.fidelity),
          recorded_(admission.hops.size(), 0.0), delivered_(admission.hops.size(), 0) {
        for (const RouteHop& hop : admission.hops)
            probability_.push_back(
                attempt_success_probability(hop.distance_km, hop.base_fidelity, request.fidelity_target));
    }

    SimulationResult run() {
        for (;;) {
            ++cycles_;
            generate();
            deliver();
            if (runtime_.congestion_drops > 0) {
                runtime_.established_pairs.clear();
                if (!advance(kCycleMs)) return ended(false);
                continue;
            }
            swap_if_complete();
            runtime_.established_pairs.clear();
            if (fidelity_ < request_.fidelity_target && fidelity_ > 0.5) {
                clock_ += kPurificationMs;
                fidelity_ = purify(fidelity_, settings_.baseline_purify_factor);
            }
            if (fidelity_ >= request_.fidelity_target) return ended(true);
            if (clock_ >= request_.max_latency_ms) return ended(false);
            runtime_.congestion_drops = 0;
            if (!advance(kCycleMs)) return ended(false);
        }
    }

    // Every cycle attempts every hop once.
    std::uint64_t cycles() const { return cycles_; }

private:
    void generate() {
        for (std::size_t hop = 0; hop < probability_.size(); ++hop) {
            const double u = draws_.next_uniform();
            if (u < probability_[hop]) runtime_.event_queue.push({hop, admission_.hops[hop].base_fidelity, clock_});
            else ++runtime_.congestion_drops;
        }
        poll_.advance(probability_.size());
    }

    void deliver() {
        const bool losses_matter = admission_.path.size() >= 3 && runtime_.congestion_drops == 0;
        auto& queue = runtime_.event_queue;
        while (!queue.empty() && queue.top().time_ms <= clock_) {
            const EventWrapper event = queue.top();
            queue.pop();
            if (losses_matter && losses_.next() < kLossProbability) continue;
            runtime_.established_pairs.push_back({event.hop, event.fidelity});
        }
    }

    // Entanglement swapping, when every hop delivered a pair: the product of the pair fidelities
    // in path order, purified once per intermediate node.
    void swap_if_complete() {
        const std::size_t nodes = admission_.path.size();
        const auto& pairs = runtime_.established_pairs;
        if (nodes < 3 || pairs.empty()) return;
        std::fill(delivered_.begin(), delivered_.end(), 0);
        for (const EstablishedPair& pair : pairs) {
            delivered_[pair.hop] = 1;
            recorded_[pair.hop] = pair.fidelity;
        }
        for (char delivered : delivered_)
            if (!delivered) return;
        double fidelity = 1.0;
        for (double pair_fidelity : recorded_) fidelity *= pair_fidelity;
        for (std::size_t i = 0; i + 2 < nodes; ++i) fidelity = purify(fidelity, settings_.baseline_purify_factor);
        fidelity_ = fidelity;
    }

    bool advance(double ms) {
        clock_ += ms;
        return clock_ < request_.max_latency_ms && clock_ < settings_.total_time_cutoff_ms && cycles_ < cycle_limit_;
    }

    SimulationResult ended(bool success) const {
        return {success, clock_, success ? fidelity_ : 0.0, admission_.path};
    }

    const Admission& admission_;
    const EntanglementRequest& request_;
    const TimelineSettings& settings_;
    SimulationRuntime& runtime_;
    RequestGenerator& draws_;
    LossGenerator& losses_;
    InterruptionPoll poll_;
    std::vector<double> probability_;
    double clock_ = 0.0;
    double fidelity_;
    std::uint64_t cycles_ = 0;
    std::uint64_t cycle_limit_ = cycle_limit(request_.max_latency_ms, settings_.total_time_cutoff_ms);
    std::vector<double> recorded_;
    std::vector<char> delivered_;
};

}  // namespace

SimulationResult NetworkOrchestratorPolicy::coordinate_timeline(const QuantumNetwork& network,
                                                                SimulationRuntime& runtime,
                                                                const EntanglementRequest& request,
                                                                const RequestGenerator* generator,
                                                                Interruption* interruption, LossGenerator* losses) {
    const Admission admission = admit(network, request, settings, interruption);
    if (admission.refusal) return *admission.refusal;
    RequestGenerator draws = generator ? *generator : RequestGenerator();
    LossGenerator& loss_source = losses ? *losses : LossGenerator::for_this_thread();
    CycleRun cycles(admission, request, settings, runtime, draws, loss_source, interruption);
    SimulationResult result = cycles.run();
    add_hop_counts(link_utilization, hop_keys(admission.path), cycles.cycles());
    return result;
}

}  // namespace vorn
