// One trial of the model along a chain: every link attempts until it holds a pair; a node that
// holds both of its pairs swaps them at once; the trial ends when a pair joins the chain's ends.
#pragma once

#include <cstdint>
#include <vector>

#include "core/interruption_poll.hpp"
#include "core/physics/keyed_stream.hpp"
#include "core/physics/model.hpp"

namespace vorn::physics {

struct TrialOutcome {
    bool delivered = false;
    double waiting_time_ms = 0.0;  // when the end-to-end pair was there, or when the trial gave up
    double fidelity = 0.0;         // of the delivered pair
};

// The constants of a chain and the working state of its trials, kept between trials.
class ChainTrials {
public:
    ChainTrials(const Chain& chain, const PhysicalModel& model);

    // The chain must have at least one hop. Draws only from `stream`; advances `poll` once per event.
    TrialOutcome run(KeyedStream& stream, InterruptionPoll& poll);

private:
    // A stored pair, spanning hops [first, last], kept at index `first`.
    struct Segment {
        double werner_product;  // of the fresh pairs that made it
        double decay_exponent;  // memory decay accumulated up to `formed`
        double formed;          // when it took its present ends
        double first_stored;    // when the qubit at its first node was stored
        double last_stored;     // when the qubit at its last node was stored
    };

    double attempt_end(std::size_t hop, double now, KeyedStream& stream) const;
    bool swap_succeeds(KeyedStream& stream) const;
    double decay(const Segment& segment, std::size_t first, std::size_t last, double now) const;
    Segment join(const Segment& left, std::size_t left_first, std::size_t middle, const Segment& right,
                 std::size_t right_last, double now) const;
    void restart(std::size_t first, std::size_t last, double now, KeyedStream& stream);

    std::size_t hops_;
    std::vector<double> attempt_ms_;
    std::vector<double> inverse_log_failure_;  // 1 / ln(1 − p), for geometric draws
    std::vector<double> werner_;
    std::vector<double> decay_per_ms_;  // per node
    double swap_success_;
    bool swaps_draw_;
    double cutoff_ms_;  // +inf without a cut-off
    double limit_ms_;   // +inf without a limit

    std::vector<double> next_success_;  // +inf while the hop holds a pair
    std::vector<double> deadline_;      // at a segment's first hop: when its oldest qubit expires
    std::vector<std::size_t> other_end_;
    std::vector<Segment> segments_;
    std::vector<char> holding_;
};

}  // namespace vorn::physics
