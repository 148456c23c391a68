#include "core/engine.hpp"

#include <chrono>

namespace vorn {

void Engine::define_network(std::vector<NodeDefinition> nodes, const std::vector<LinkDefinition>& links) {
    network_ = QuantumNetwork::from_definitions(std::move(nodes), links);
    last_request_.reset();
}

// A request on its own is a prepared request run once: the same cycles as the timeline's, without
// the policy's utilisation counts, which nobody would read.
SimulationResult Engine::request_entanglement(const EntanglementRequest& request, Interruption* interruption) const {
    if (!last_request_ || !last_request_->serves(request)) last_request_ = prepare_request(request, interruption);
    InterruptionPoll poll(interruption, kWorkPerClockCheck);
    return last_request_->run(request.max_latency_ms, LossGenerator::for_this_thread(), poll);
}

PreparedRequest Engine::prepare_request(const EntanglementRequest& request, Interruption* interruption) const {
    if (!network_) throw Panic("Network topology must be explicitly defined prior to run processing.");
    return PreparedRequest(*network_, TimelineSettings::from_config(config_), request, interruption);
}

MonteCarloStats Engine::simulate(const EntanglementRequest& request, std::uint64_t runs,
                                 std::optional<std::uint64_t> seed_argument, Interruption* interruption) const {
    if (!network_) throw Panic("simulate needs a network; the caller checks for one first.");
    const std::uint64_t seed = seed_argument ? *seed_argument : clock_seed();
    MonteCarloStats stats = execute_ensemble(*network_, config_, request, runs, seed, interruption);

    MonteCarloContext context;
    context.seed = seed_argument;
    context.nodes = network_->nodes();
    context.links.assign(network_->links().begin(), network_->links().end());
    context.from_node = request.from_node;
    context.to_node = request.to;
    context.fidelity_target = request.fidelity_target;
    context.max_latency_ms = request.max_latency_ms;
    context.total_time_cutoff_ms = config_.total_time_cutoff_ms;
    context.step_resolution_ms = config_.step_resolution_ms;
    context.baseline_purify_factor = config_.physical.baseline_purify_factor;
    context.strategy = request.strategy;
    stats.context = std::move(context);
    return stats;
}

std::uint64_t clock_seed() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    return nanoseconds < 0 ? 0 : static_cast<std::uint64_t>(nanoseconds);
}

}  // namespace vorn
