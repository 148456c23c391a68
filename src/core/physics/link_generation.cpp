#include "core/physics/link_generation.hpp"

#include <algorithm>

namespace vorn::physics {

std::size_t LinkGeneration::add(double success_probability, double distance_km, double source_period_ms,
                                double fidelity, double decay_a, double decay_b) {
    const double flight = distance_km / speed_;
    // The pair arrives when the herald reaches the last node to learn of it, at the end of a slot;
    // each qubit has decayed since it was emitted (or absorbed). A source slower than the herald sets
    // the slot; its photon leaves the herald's time before the slot ends.
    // The sender's qubit waits for the photon's way there and the herald's way back, the receiver's for
    // the way back alone: the node whose memory lasts longer sends.
    const double emitted = heralding_ == Heralding::SenderReceiver
                               ? decay_exponent(2.0 * flight, std::min(decay_a, decay_b)) +
                                     decay_exponent(flight, std::max(decay_a, decay_b))
                               : decay_exponent(flight, decay_a) + decay_exponent(flight, decay_b);
    attempt_ms_.push_back(std::max(source_period_ms, herald_ms(flight, heralding_)));
    fresh_.push_back(decayed(werner((4.0 * fidelity - 1.0) / 3.0), emitted, noise_));
    log_failure_.push_back(log_slot_failure(success_probability, modes_));
    all_fail_.push_back(std::exp(log_failure_.back()));
    round_ms_.push_back(flight);
    pair_decay_.push_back(decay_a + decay_b);
    return attempt_ms_.size() - 1;
}

}  // namespace vorn::physics
