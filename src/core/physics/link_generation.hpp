// How a link makes pairs, for every model that runs links: attempts in time slots, m modes each, until
// one succeeds; a fresh pair whose qubits decayed while the herald travelled; recurrence distillation
// rounds on top.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/interruption_poll.hpp"
#include "core/physics/bell_diagonal.hpp"
#include "core/physics/model.hpp"

namespace vorn::physics {

// A qubit held `duration` at `rate` decays by this much in the exponent; nothing in no time, even
// in a memory that keeps nothing.
inline double decay_exponent(double duration, double rate) { return duration > 0.0 ? duration * rate : 0.0; }

// ln of the chance that a slot of `modes` attempts, each succeeding with `success_probability`, fails in
// every mode.
inline double log_slot_failure(double success_probability, double modes) {
    return modes * std::log1p(-success_probability);
}
// The chance that such a slot succeeds in some mode.
inline double slot_success_of(double success_probability, double modes) {
    return 1.0 - std::exp(log_slot_failure(success_probability, modes));
}

// The choices that every link of a model shares.
struct LinkProtocol {
    Heralding heralding = Heralding::Midpoint;
    MemoryNoise memory_noise = MemoryNoise::Dephasing;
    std::int64_t modes = 1;
    std::int64_t distillation_rounds = 0;
    Distillation distillation = Distillation::Dejmps;
    double cutoff_ms = INFINITY;  // a waiting distillation partner older than this is dropped
    double signal_speed_km_ms = 0.0;
};

class LinkGeneration {
public:
    explicit LinkGeneration(const LinkProtocol& protocol)
        : noise_(protocol.memory_noise),
          heralding_(protocol.heralding),
          modes_(static_cast<double>(protocol.modes)),
          rounds_(protocol.distillation_rounds),
          protocol_(protocol.distillation),
          cutoff_ms_(protocol.cutoff_ms),
          speed_(protocol.signal_speed_km_ms),
          waiting_(static_cast<std::size_t>(rounds_)) {}

    // A link of success probability p (one attempt, one mode), its length, its source's period and the
    // fidelity of a fresh pair (a Werner state), between nodes whose qubits decay at `decay_a` and
    // `decay_b` (1 / T2, per ms). Returns its number.
    std::size_t add(double success_probability, double distance_km, double source_period_ms, double fidelity,
                    double decay_a, double decay_b);

    std::size_t links() const { return attempt_ms_.size(); }
    bool distilled() const { return rounds_ > 0; }
    double attempt_ms(std::size_t link) const { return attempt_ms_[link]; }
    // The classical delay of a distillation round, L / c.
    double round_ms(std::size_t link) const { return round_ms_[link]; }
    // The chance that a slot succeeds in some mode.
    double slot_success(std::size_t link) const { return 1.0 - all_fail_[link]; }
    // A pair as heralded, its flight's decay included (before any distillation).
    const Correlations& fresh(std::size_t link) const { return fresh_[link]; }

    // The number of slots up to and including the first success is geometric: one uniform u in
    // (0, 1] gives 1 + floor(ln u / ln(1 − P)) (1 at once when u > 1 − P). A quotient, not a product
    // with 1 / ln(1 − P), which overflows for the smallest P; a count that overflows gives a pair
    // that never comes.
    template <class Stream>
    double draw_attempts(std::size_t link, Stream& stream) const {
        const double u = stream.next_open_closed();
        if (u > all_fail_[link]) return 1.0;
        const double failures = std::log(u) / log_failure_[link];
        return 1.0 + (failures < 0x1p52 ? static_cast<double>(static_cast<std::int64_t>(failures)) : failures);
    }

    // How long after it starts attempting a link holds its next pair; with distillation, the pair's
    // state goes to `pair` (without, the pair is fresh(link)).
    template <class Stream>
    double draw_pair(std::size_t link, Stream& stream, InterruptionPoll& poll, Correlations& pair) {
        if (rounds_ == 0) return draw_attempts(link, stream) * attempt_ms_[link];
        return draw_distilled(link, stream, poll, pair);
    }

private:
    template <class Stream>
    double draw_distilled(std::size_t link, Stream& stream, InterruptionPoll& poll, Correlations& pair);

    struct Waiting {  // a pair of a link waiting for its distillation partner
        double since;
        Correlations pair;
    };

    MemoryNoise noise_;
    Heralding heralding_;
    double modes_;
    std::int64_t rounds_;
    Distillation protocol_;
    double cutoff_ms_;
    double speed_;
    // Per link.
    std::vector<double> attempt_ms_;
    std::vector<double> log_failure_;  // ln of the chance that a slot fails in every mode
    std::vector<double> all_fail_;     // that chance
    std::vector<double> round_ms_;
    std::vector<double> pair_decay_;   // decay rate of a pair stored at both of its nodes
    std::vector<Correlations> fresh_;  // a pair as heralded, its flight's decay included
    std::vector<Waiting> waiting_;     // per distillation level
};

// Recurrence distillation on one link, `rounds_` deep: a pair of level l waits for a second one; the
// two make one pair of level l + 1 with the round's success probability, known at both ends L / c
// later, or are both lost. A link attempts again once its last round's outcome is known, so each end
// holds at most one pair per level below the top and one more.
template <class Stream>
double LinkGeneration::draw_distilled(std::size_t link, Stream& stream, InterruptionPoll& poll, Correlations& kept) {
    std::uint32_t occupied = 0;  // bit l: a pair waits at level l
    double clock = 0.0;
    for (;;) {
        poll.advance();
        double at = clock + draw_attempts(link, stream) * attempt_ms_[link];
        Correlations pair = fresh_[link];
        for (std::int64_t level = 0;; ++level) {
            if (level == rounds_) {
                kept = pair;
                return at;
            }
            Waiting& partner = waiting_[level];
            const std::uint32_t bit = std::uint32_t{1} << level;
            if (!(occupied & bit) || at - partner.since > cutoff_ms_) {
                partner = {at, pair};
                occupied |= bit;
                clock = at;
                break;
            }
            occupied &= ~bit;
            const Correlations older =
                decayed(partner.pair, decay_exponent(at - partner.since, pair_decay_[link]), noise_);
            const DistilledPair round = physics::distilled(bell_diagonal_of(older), bell_diagonal_of(pair), protocol_);
            at += round_ms_[link];
            if (!(stream.next_open_closed() <= round.success_probability)) {
                clock = at;
                break;
            }
            pair = decayed(correlations_of(round.pair), decay_exponent(round_ms_[link], pair_decay_[link]), noise_);
        }
    }
}

}  // namespace vorn::physics
