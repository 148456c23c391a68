#include "core/physics/chain_model.hpp"

#include <string>

#include "core/number_text.hpp"

namespace vorn::physics {
namespace {

constexpr double kNever = EarliestTimes::kNever;

}  // namespace

ChainFigures figures_of(const Chain& chain) {
    ChainFigures figures{{}, chain.decay_per_ms};
    for (const Hop& hop : chain.hops)
        figures.links.push_back(
            {hop.success_probability, hop.distance_km, hop.source_period_ms, (1.0 + 3.0 * hop.werner) / 4.0});
    return figures;
}

LinkProtocol link_protocol(const PhysicalModel& model) {
    return {named(kHeraldings, model.heralding, "heralding"),
            named(kMemoryNoises, model.memory_noise, "memory_noise"),
            model.modes,
            model.distillation_rounds,
            named(kDistillations, model.distillation, "distillation"),
            model.cutoff_ms.value_or(kNever),
            model.signal_speed_km_ms};
}

RouteShape route_shape(const LinkGeneration& generation, std::span<const std::uint32_t> links,
                       std::span<const double> distances_km, std::span<const double> decay_per_ms,
                       const PhysicalModel& model, double limit_ms) {
    return RouteShape(generation, links, distances_km, decay_per_ms, model.signal_speed_km_ms,
                      model.swap_success_probability, swap_noise(model.swap_gate_error, model.measurement_error),
                      model.cutoff_ms.value_or(kNever), limit_ms,
                      named(kMemoryNoises, model.memory_noise, "memory_noise"));
}

namespace {

LinkGeneration chain_generation(const ChainFigures& chain, const PhysicalModel& parameters) {
    if (chain.links.empty() || chain.decay_per_ms.size() != chain.links.size() + 1)
        throw Panic("a chain model needs at least one link and a decay rate for each node");
    LinkGeneration generation(link_protocol(parameters));
    for (std::size_t k = 0; k < chain.links.size(); ++k) {
        const ChainLink& link = chain.links[k];
        generation.add(link.success_probability, link.distance_km, link.source_period_ms, link.fidelity,
                       chain.decay_per_ms[k], chain.decay_per_ms[k + 1]);
    }
    return generation;
}

RouteShape chain_shape(const ChainFigures& chain, const PhysicalModel& model, const LinkGeneration& generation) {
    std::vector<std::uint32_t> links(chain.links.size());
    std::vector<double> distances;
    for (std::size_t k = 0; k < links.size(); ++k) {
        links[k] = static_cast<std::uint32_t>(k);
        distances.push_back(chain.links[k].distance_km);
    }
    return route_shape(generation, links, distances, chain.decay_per_ms, model,
                       model.max_waiting_time_ms.value_or(kNever));
}

}  // namespace

ChainModel::ChainModel(const ChainFigures& chain, const PhysicalModel& parameters, Course course)
    : links_(chain.links.size()),
      limit_ms_(parameters.max_waiting_time_ms.value_or(kNever)),
      generation_(chain_generation(chain, parameters)),
      shape_(chain_shape(chain, parameters, generation_)),
      run_(shape_) {
    const bool swaps_draw = shape_.swaps_draw, cutoff = shape_.cutoff_ms != kNever;
    follow_events_ = course == Course::Events || swaps_draw || cutoff;
    speculate_ = course == Course::Shortest && swaps_draw && !cutoff &&
                 std::pow(shape_.swap_success, static_cast<double>(links_ - 1)) >= 0.5;
    if (cutoff) {
        // A level-l pair's partner comes 2^l slots and 2^l − 1 rounds later at the earliest.
        const std::int64_t rounds = parameters.distillation_rounds;
        const double top = rounds > 0 ? std::ldexp(1.0, static_cast<int>(rounds - 1)) : 0.0;
        for (std::size_t k = 0; k < links_; ++k)
            never_ =
                never_ || shape_.cutoff_ms < top * generation_.attempt_ms(k) + (top - 1.0) * generation_.round_ms(k);
        never_ = never_ ||
                 (links_ > 1 && shape_.cutoff_ms < std::max(generation_.round_ms(0), generation_.round_ms(links_ - 1)));
    }
    delta_ms_.resize(links_);
    pending_.resize(links_);
    arrivals_.resize(links_);
}

ChainOutcome ChainModel::settled(RouteRun::Known known) const {
    const RouteRun::Settled settled = run_.settled(known);
    if (!settled.delivered) return {false, settled.at};
    const Correlations& pair = settled.pair;
    return {true, settled.at, std::max(0.0, fidelity(pair)), error_rate_z(pair), error_rate_x(pair)};
}

}  // namespace vorn::physics
