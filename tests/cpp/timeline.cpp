#include "timeline.hpp"

#include <span>

#include "core/cycles.hpp"
#include "core/network.hpp"

namespace vorn {
namespace {

// A single request keeps its pairs in the runtime: generated pairs wait in the event queue and
// arrive into the established pairs.
class RuntimeRecord {
public:
    // A cycle has at most one pair per hop in flight: room for them up front, not on the way.
    RuntimeRecord(SimulationRuntime& runtime, std::span<const RouteHop> hops) : runtime_(runtime), hops_(hops) {
        std::vector<EventWrapper> storage;
        storage.reserve(hops.size());
        runtime_.event_queue = decltype(runtime_.event_queue)(SimulationRuntime::Later(), std::move(storage));
        runtime_.established_pairs.reserve(hops.size());
    }

    void generated(std::size_t hop, double clock_ms) {
        runtime_.event_queue.push({hop, hops_[hop].base_fidelity, clock_ms});
    }

    // The queue knows its pairs itself.
    std::size_t deliver(double clock_ms, std::size_t, LossGenerator* losses) {
        auto& queue = runtime_.event_queue;
        auto& pairs = runtime_.established_pairs;
        pairs.clear();
        while (!queue.empty() && queue.top().time_ms <= clock_ms) {
            const EventWrapper event = queue.top();
            queue.pop();
            if (losses && losses->pair_lost()) continue;
            pairs.push_back({event.hop, event.fidelity});
        }
        return pairs.size();
    }

private:
    SimulationRuntime& runtime_;
    std::span<const RouteHop> hops_;
};

}  // namespace

SimulationResult NetworkOrchestratorPolicy::coordinate_timeline(const QuantumNetwork& network,
                                                                SimulationRuntime& runtime,
                                                                const EntanglementRequest& request,
                                                                const KeyedStream* generator,
                                                                Interruption* interruption) {
    Admission admission = admit(network, request, settings, interruption);
    if (admission.refusal) return std::move(*admission.refusal);
    const CyclePlan plan(admission, request.fidelity_target, settings);
    const CycleBounds bounds(request.max_latency_ms, settings.total_time_cutoff_ms);
    KeyedStream draws = generator ? *generator : KeyedStream();
    InterruptionPoll poll(interruption, kWorkPerClockCheck);
    RuntimeRecord record(runtime, admission.hops);
    const CycleOutcome outcome = run_cycles(plan, bounds, draws, LossGenerator::for_this_thread(), poll, record);
    runtime.congestion_drops = outcome.congestion_drops;
    add_path_counts(link_utilization, admission.path, outcome.cycles);
    return {outcome.success, outcome.latency_ms, outcome.fidelity, std::move(admission.path)};
}

}  // namespace vorn
