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

ChainModel::ChainModel(const ChainFigures& chain, const PhysicalModel& model, Course course)
    : links_(chain.links.size()),
      swap_success_(model.swap_success_probability),
      swaps_draw_(swap_success_ < 1.0),
      cutoff_ms_(model.cutoff_ms.value_or(kNever)),
      limit_ms_(model.max_waiting_time_ms.value_or(kNever)),
      noise_(named(kMemoryNoises, model.memory_noise, "memory_noise")),
      rounds_(model.distillation_rounds),
      protocol_(named(kDistillations, model.distillation, "distillation")),
      follow_events_(course == Course::Events || swaps_draw_ || cutoff_ms_ != kNever),
      speculate_(course == Course::Shortest && swaps_draw_ && cutoff_ms_ == kNever &&
                 std::pow(swap_success_, static_cast<double>(links_ - 1)) >= 0.5),
      decay_per_ms_(chain.decay_per_ms) {
    if (links_ == 0 || decay_per_ms_.size() != links_ + 1)
        throw Panic("a chain model needs at least one link and a decay rate for each node");
    const double speed = model.signal_speed_km_ms;
    const Heralding heralding = named(kHeraldings, model.heralding, "heralding");
    const Correlations noise = swap_noise(model.swap_gate_error, model.measurement_error);
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
        // The sender's qubit waits for the photon's way there and the herald's way back, the receiver's
        // for the way back alone: the node whose memory lasts longer sends.
        const double emitted =
            heralding == Heralding::SenderReceiver
                ? decay_exponent(2.0 * flight, std::min(a, b)) + decay_exponent(flight, std::max(a, b))
                : decay_exponent(flight, a) + decay_exponent(flight, b);
        attempt_ms_.push_back(std::max(link.source_period_ms, herald_ms(flight, heralding)));
        fresh_.push_back(decayed(werner((4.0 * link.fidelity - 1.0) / 3.0), emitted, noise_));
        fresh_product_ = joined(fresh_product_, fresh_.back());
        log_failure_.push_back(static_cast<double>(model.modes) * std::log1p(-link.success_probability));
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
