#include "core/physics/chain_model.hpp"

#include <string>

#include "core/number_text.hpp"

namespace vorn::physics {
namespace {

constexpr double kNever = EarliestTimes::kNever;

void require(bool holds, const char* what, const char* rule, double value) {
    if (!holds) throw InvalidValue(std::string(what) + ": must be " + rule + ", got " + debug_number_text(value));
}

}  // namespace

void check_parameters(const ChainParameters& parameters) {
    check_model(parameters.base);
    require(parameters.swap_gate_error >= 0.0 && parameters.swap_gate_error <= 1.0, "swap_gate_error", "within [0, 1]",
            parameters.swap_gate_error);
    require(parameters.measurement_error >= 0.0 && parameters.measurement_error <= 1.0, "measurement_error",
            "within [0, 1]", parameters.measurement_error);
    require(parameters.modes >= 1, "modes", "at least 1", static_cast<double>(parameters.modes));
    require(parameters.distillation_rounds >= 0 && parameters.distillation_rounds <= kMaxDistillationRounds,
            "distillation_rounds", "within [0, 16]", static_cast<double>(parameters.distillation_rounds));
}

LinkProtocol link_protocol(const ChainParameters& parameters) {
    return {parameters.heralding,
            parameters.memory_noise,
            parameters.modes,
            parameters.distillation_rounds,
            parameters.distillation,
            parameters.base.cutoff_ms.value_or(kNever),
            parameters.base.signal_speed_km_ms};
}

namespace {

LinkGeneration chain_generation(const ChainFigures& chain, const ChainParameters& parameters) {
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

RouteShape chain_shape(const ChainFigures& chain, const ChainParameters& parameters, const LinkGeneration& generation) {
    std::vector<std::uint32_t> links(chain.links.size());
    std::vector<double> distances;
    for (std::size_t k = 0; k < links.size(); ++k) {
        links[k] = static_cast<std::uint32_t>(k);
        distances.push_back(chain.links[k].distance_km);
    }
    return RouteShape(generation, links, distances, chain.decay_per_ms, parameters.base.signal_speed_km_ms,
                      parameters.base.swap_success_probability,
                      swap_noise(parameters.swap_gate_error, parameters.measurement_error),
                      parameters.base.cutoff_ms.value_or(kNever), parameters.base.max_waiting_time_ms.value_or(kNever),
                      parameters.memory_noise);
}

}  // namespace

ChainModel::ChainModel(const ChainFigures& chain, const ChainParameters& parameters, Course course)
    : links_(chain.links.size()),
      limit_ms_(parameters.base.max_waiting_time_ms.value_or(kNever)),
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
