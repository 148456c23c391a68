// One trial of the model along a chain: every link attempts until it holds a pair; a node that
// holds both of its pairs swaps them at once; the trial ends when a pair joins the chain's ends.
#pragma once

#include <cstdint>
#include <vector>

#include "core/interruption_poll.hpp"
#include "core/physics/model.hpp"
#include "core/random/keyed_stream.hpp"

namespace vorn::physics {

struct TrialOutcome {
    bool delivered = false;
    double waiting_time_ms = 0.0;  // when the end-to-end pair was there, or when the trial gave up
    double fidelity = 0.0;         // of the delivered pair
};

// The constants of a chain and the working state of its trials, kept between trials.
class ChainTrials {
public:
    enum class Course {
        Shortest,  // skip the events when no swap can fail and no pair expires: nothing they decide
        Events,    // follow every arrival, swap and expiry (for comparisons)
    };

    ChainTrials(const Chain& chain, const PhysicalModel& model, Course course = Course::Shortest);

    // The chain must have at least one hop. Draws only from `stream`; advances `poll` once per event.
    TrialOutcome run(KeyedStream& stream, InterruptionPoll& poll);

private:
    void draw_arrivals(std::size_t first, std::size_t last, double now, KeyedStream& stream);
    // Drawn arrivals for hops that hold nothing.
    void start(std::size_t first, std::size_t last, double now, KeyedStream& stream);
    bool swap_succeeds(KeyedStream& stream) const;
    TrialOutcome delivered(double now) const;

    std::size_t hops_;
    std::vector<double> attempt_ms_;
    std::vector<double> log_failure_;   // ln(1 − p), for geometric draws
    std::vector<double> decay_per_ms_;  // per node
    double werner_product_;             // of fresh pairs on every hop
    double swap_success_;
    bool swaps_draw_;
    double cutoff_ms_;  // +inf without a cut-off
    double limit_ms_;   // +inf without a limit
    bool follow_events_;

    std::vector<double> arrival_;  // of the pair a hop holds, or of the one it attempts
    std::vector<char> holding_;
    // At either end of a run of hops whose pairs are joined into one: the hop at its other end.
    std::vector<std::size_t> other_end_;
    // At the first hop of a joined run: when the older of its two end qubits has been stored for
    // the cut-off; +inf elsewhere.
    std::vector<double> expiry_;
};

}  // namespace vorn::physics
