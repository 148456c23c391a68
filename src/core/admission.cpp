#include "core/admission.hpp"

#include "core/link_physics.hpp"
#include "core/network.hpp"
#include "core/routing.hpp"
#include "core/strategies.hpp"

namespace vorn {
namespace {

std::optional<RouteInfo> choose_route(const QuantumNetwork& network, const EntanglementRequest& request,
                                      Interruption* interruption) {
    const Strategy& strategy = strategy_entry(chosen_strategy(request));
    const RouteGraph& graph = network.route_graph();
    auto route = find_route(network, graph, request.from_node, request.to, strategy.type, interruption);
    if (route && strategy.below_target && route->fidelity < request.fidelity_target)
        route = find_route(network, graph, request.from_node, request.to, *strategy.below_target, interruption);
    return route;
}

SimulationResult refused(const std::vector<std::string>& path, double latency_ms) {
    return {false, latency_ms, 0.0, path};
}

}  // namespace

Admission admit_route(const QuantumNetwork& network, const EntanglementRequest& request,
                      const TimelineSettings& settings, Interruption* interruption) {
    Admission admission;
    auto route = choose_route(network, request, interruption);
    if (!route) {
        admission.refusal = SimulationResult{};
        return admission;
    }
    admission.path = std::move(route->path);
    admission.fidelity = route->fidelity;
    admission.hops.reserve(route->hop_links.size());
    for (std::size_t link : route->hop_links)
        admission.hops.push_back({network.links()[link].distance_km, network.links()[link].base_fidelity});

    const double target = request.fidelity_target;
    const double fidelity = admission.fidelity;
    if (fidelity < target && purify(fidelity, settings.baseline_purify_factor) < target)
        admission.refusal = refused(admission.path, 0.0);
    return admission;
}

double propagation_ms(const Admission& admission, const TimelineSettings& settings) {
    double propagation = 0.0;
    for (const RouteHop& hop : admission.hops) propagation += hop.distance_km / settings.speed_of_light_in_fiber_km_ms;
    return propagation;
}

std::optional<double> bound_refusal(double propagation_ms, double max_latency_ms, const TimelineSettings& settings) {
    if (propagation_ms > max_latency_ms) return propagation_ms;
    if (!(max_latency_ms > 0.0) || !(settings.total_time_cutoff_ms > 0.0)) return 0.0;
    return std::nullopt;
}

Admission admit(const QuantumNetwork& network, const EntanglementRequest& request, const TimelineSettings& settings,
                Interruption* interruption) {
    Admission admission = admit_route(network, request, settings, interruption);
    if (admission.refusal) return admission;
    if (auto latency = bound_refusal(propagation_ms(admission, settings), request.max_latency_ms, settings))
        admission.refusal = refused(admission.path, *latency);
    return admission;
}

}  // namespace vorn
