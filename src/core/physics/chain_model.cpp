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

ChainModel::ChainModel(const ChainFigures& chain, const ChainParameters& parameters, Course course)
    : links_(chain.links.size()),
      swap_success_(parameters.base.swap_success_probability),
      swaps_draw_(swap_success_ < 1.0),
      cutoff_ms_(parameters.base.cutoff_ms.value_or(kNever)),
      limit_ms_(parameters.base.max_waiting_time_ms.value_or(kNever)),
      noise_(parameters.memory_noise),
      rounds_(parameters.distillation_rounds),
      protocol_(parameters.distillation),
      follow_events_(course == Course::Events || swaps_draw_ || cutoff_ms_ != kNever),
      speculate_(course == Course::Shortest && swaps_draw_ && cutoff_ms_ == kNever &&
                 std::pow(swap_success_, static_cast<double>(links_ - 1)) >= 0.5),
      decay_per_ms_(chain.decay_per_ms) {
    if (links_ == 0 || decay_per_ms_.size() != links_ + 1)
        throw Panic("a chain model needs at least one link and a decay rate for each node");
    const double speed = parameters.base.signal_speed_km_ms;
    const Correlations noise = swap_noise(parameters.swap_gate_error, parameters.measurement_error);
    const double swaps = static_cast<double>(links_ - 1);
    swap_noise_ = {std::pow(noise.zz, swaps), std::pow(noise.xx, swaps), std::pow(noise.yy, swaps)};
    // Distances summed from each end, so that a chain and its mirror image see the same numbers.
    double km = 0.0;
    from_start_ms_.push_back(0.0);
    for (const ChainLink& link : chain.links) from_start_ms_.push_back((km += link.distance_km) / speed);
    to_end_ms_.assign(links_ + 1, 0.0);
    km = 0.0;
    for (std::size_t node = links_; node-- > 0;) to_end_ms_[node] = (km += chain.links[node].distance_km) / speed;

    for (std::size_t k = 0; k < links_; ++k) {
        const ChainLink& link = chain.links[k];
        const double flight = link.distance_km / speed, a = decay_per_ms_[k], b = decay_per_ms_[k + 1];
        // The pair arrives when the herald reaches the last node to learn of it, at the end of a slot;
        // each qubit has decayed since it was emitted (or absorbed). A source slower than the herald sets
        // the slot; its photon leaves the herald's time before the slot ends.
        double emitted;
        if (parameters.heralding == Heralding::SenderReceiver) {
            // The sender's qubit waits for the photon's way there and the herald's way back, the
            // receiver's for the way back alone: the node whose memory lasts longer sends.
            emitted = decay_exponent(2.0 * flight, std::min(a, b)) + decay_exponent(flight, std::max(a, b));
            attempt_ms_.push_back(std::max(link.source_period_ms, 2.0 * flight));
        } else {
            emitted = decay_exponent(flight, a) + decay_exponent(flight, b);
            attempt_ms_.push_back(std::max(link.source_period_ms, flight));
        }
        fresh_.push_back(decayed(werner((4.0 * link.fidelity - 1.0) / 3.0), emitted, noise_));
        fresh_product_ = joined(fresh_product_, fresh_.back());
        log_failure_.push_back(static_cast<double>(parameters.modes) * std::log1p(-link.success_probability));
        all_fail_.push_back(std::exp(log_failure_.back()));
        round_ms_.push_back(flight);
        pair_decay_.push_back(a + b);
    }
    if (cutoff_ms_ != kNever) {
        // A level-l pair's partner comes 2^l slots and 2^l − 1 rounds later at the earliest.
        const double top = rounds_ > 0 ? std::ldexp(1.0, static_cast<int>(rounds_ - 1)) : 0.0;
        for (std::size_t k = 0; k < links_; ++k)
            never_ = never_ || cutoff_ms_ < top * attempt_ms_[k] + (top - 1.0) * round_ms_[k];
        never_ = never_ || (links_ > 1 && cutoff_ms_ < std::max(round_ms_.front(), round_ms_.back()));
    }
    ready_ms_.resize(links_);
    delta_ms_.resize(links_);
    pending_.resize(links_);
    pair_.resize(links_);
    other_end_.resize(links_);
    lost_with_.resize(links_);
    learn_left_ms_.resize(links_);
    learn_right_ms_.resize(links_);
    held_left_.resize(links_ + 1);
    held_right_.resize(links_ + 1);
    arrivals_.resize(links_);
    expiries_.resize(links_);
    swap_ms_.resize(links_ + 1);
    waiting_.resize(static_cast<std::size_t>(rounds_));
}

// The lost runs still named by a link are numbered afresh: a trial with many losses keeps a table in
// proportion to the chain.
void ChainModel::renumber_lost_runs() {
    renumbered_.assign(lost_runs_.size(), -1);
    for (std::int32_t lost : lost_with_)
        if (lost >= 0) renumbered_[lost] = 0;
    std::int32_t kept = 0;
    for (std::size_t lost = 0; lost < lost_runs_.size(); ++lost)
        if (renumbered_[lost] == 0) {
            lost_runs_[kept] = lost_runs_[lost];
            renumbered_[lost] = kept++;
        }
    for (std::int32_t& lost : lost_with_)
        if (lost >= 0) lost = renumbered_[lost];
    lost_runs_.resize(kept);
}

ChainModel::Known ChainModel::known_ms() const {
    if (links_ == 1) return {ready_ms_[0], ready_ms_[0]};
    Known known{0.0, 0.0};
    for (std::size_t node = 1; node < links_; ++node) {
        known.at_start = std::max(known.at_start, swap_ms_[node] + from_start_ms_[node]);
        known.at_end = std::max(known.at_end, swap_ms_[node] + to_end_ms_[node]);
    }
    return known;
}

// Every qubit of the pair's history decays at its node's rate while it is stored: the end qubits
// from their pairs' arrivals until `at`, the two qubits at a repeater node from their pairs' arrivals
// until it swapped them (their flights are in the pairs' states already).
ChainOutcome ChainModel::settled(Known known) const {
    const double at = std::max(known.at_start, known.at_end);
    if (at > limit_ms_) return {false, limit_ms_};
    if (at == kNever) return {false, at};
    const std::size_t last = links_ - 1;
    double exponent = decay_exponent(at - ready_ms_[0], decay_per_ms_[0]) +
                      decay_exponent(at - ready_ms_[last], decay_per_ms_[links_]);
    for (std::size_t node = 1; node < links_; ++node)
        exponent += decay_exponent(swap_ms_[node] - ready_ms_[node - 1], decay_per_ms_[node]) +
                    decay_exponent(swap_ms_[node] - ready_ms_[node], decay_per_ms_[node]);
    Correlations pair = fresh_product_;
    if (rounds_ > 0) {
        pair = pair_[0];
        for (std::size_t link = 1; link < links_; ++link) pair = joined(pair, pair_[link]);
    }
    pair = decayed(joined(pair, swap_noise_), exponent, noise_);
    return {true, at, std::max(0.0, fidelity(pair)), error_rate_z(pair), error_rate_x(pair)};
}

}  // namespace vorn::physics
