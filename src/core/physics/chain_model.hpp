// The chain trial model: along a chain of links, every link attempts heralded generation until it holds
// a pair (distilled, when asked, by recurrence rounds); a node that holds both of its pairs swaps them;
// each swap's outcome travels to both ends at the signal speed, and a trial ends when both ends know
// that a pair joins them. Pairs are Bell-diagonal and decay in memory from the moment they are emitted.
// The rules of each instant, and of losses and their news, are those of a route (route_run.hpp).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/interruption_poll.hpp"
#include "core/physics/bell_diagonal.hpp"
#include "core/physics/earliest_times.hpp"
#include "core/physics/link_generation.hpp"
#include "core/physics/model.hpp"
#include "core/physics/route_run.hpp"

namespace vorn::physics {

struct ChainLink {
    double success_probability = 1.0;  // of one attempt in one mode, in (0, 1]
    double distance_km = 0.0;
    double source_period_ms = 0.0;  // the source's period, 1000 / generation rate
    double fidelity = 1.0;          // of a fresh pair, a Werner state
};

struct ChainFigures {
    std::vector<ChainLink> links;  // link k joins node k and node k + 1
    // Per node, the rate at which a stored qubit decays: 1 / T2 with T2 in ms; 0 for an endless
    // memory, +inf for none.
    std::vector<double> decay_per_ms;
};

// The figures of a route's chain (at least one hop).
ChainFigures figures_of(const Chain& chain);

struct ChainOutcome {
    bool delivered = false;
    double waiting_time_ms = 0.0;  // when both ends knew of the pair, or when the trial gave up
    double fidelity = 0.0;         // of the delivered pair, and its error rates
    double error_rate_z = 0.0;     // an X or Y error: the bit flips seen when both ends measure Z
    double error_rate_x = 0.0;     // a Z or Y error
};

// The links' choices of a model with these parameters.
LinkProtocol link_protocol(const PhysicalModel& model);

// The shape of a route through `generation`'s links under the model; trials give up after `limit_ms`.
RouteShape route_shape(const LinkGeneration& generation, std::span<const std::uint32_t> links,
                       std::span<const double> distances_km, std::span<const double> decay_per_ms,
                       const PhysicalModel& model, double limit_ms);

class ChainModel {
public:
    enum class Course {
        Shortest,  // skip the events where they decide nothing: when no swap fails and no qubit expires
        Events,    // follow every event (for comparisons)
    };

    // `model` must have passed check_model; the chain needs at least one link, its figures in range.
    ChainModel(const ChainFigures& chain, const PhysicalModel& model, Course course = Course::Shortest);

    std::size_t links() const { return links_; }
    double attempt_ms(std::size_t link) const { return generation_.attempt_ms(link); }

    // One trial. `Stream` gives uniforms in (0, 1] by next_open_closed(); `poll` advances once per event.
    template <class Stream>
    ChainOutcome run(Stream& stream, InterruptionPoll& poll);

private:
    // A stream whose uniforms are kept, and one that gives the kept ones again (from `next` on) before its own.
    template <class Stream>
    struct Recorded {
        Stream& stream;
        std::vector<double>& drawn;
        double next_open_closed() { return drawn.emplace_back(stream.next_open_closed()); }
    };
    template <class Stream>
    struct Replayed {
        Stream& stream;
        const std::vector<double>& drawn;
        std::size_t next = 0;
        double next_open_closed() { return next < drawn.size() ? drawn[next++] : stream.next_open_closed(); }
    };
    // Each link attempts for the chain alone: a lost link draws its next pair at once, which arrives
    // that long after the link may attempt again.
    template <class Stream>
    struct Supply {
        ChainModel& model;
        Stream& stream;
        InterruptionPoll& poll;
        void lost(std::size_t link, Loss) {
            model.delta_ms_[link] = model.generation_.draw_pair(link, stream, poll, model.pending_[link]);
        }
        void restart(std::size_t link, double time) { model.arrivals_.set_only(link, time + model.delta_ms_[link]); }
        void restarted(std::size_t first, std::size_t last) { model.arrivals_.refresh(first, last); }
        void swapped(std::size_t) {}
    };

    template <class Stream>
    void draw_without_failures(Stream& stream, InterruptionPoll& poll);
    template <class Stream>
    bool swaps_succeed(Stream& stream);
    // `first_pairs_drawn`: the first pass drew every link's first pair already (from the stream's draws
    // up to the first swap's outcome), so the events take them as they are.
    template <class Stream>
    ChainOutcome run_events(Stream& stream, InterruptionPoll& poll, bool first_pairs_drawn = false);
    template <class Stream>
    void start(Stream& stream, InterruptionPoll& poll, bool first_pairs_drawn);
    ChainOutcome settled(RouteRun::Known known) const;

    std::size_t links_;
    double limit_ms_;
    bool follow_events_;
    // Draw the first pairs and the swaps' outcomes as if nothing failed, and follow the events (with
    // the same draws) only when something did: when most trials see no failure.
    bool speculate_;
    // The cut-off leaves no way to deliver: an end's qubit expires before the news of the swap next to
    // it can come, or a distillation partner can never come in time.
    bool never_ = false;
    LinkGeneration generation_;
    RouteShape shape_;
    RouteRun run_;

    // Working state of a trial, per link:
    EarliestTimes arrivals_;             // of the pair each link attempts for
    std::vector<double> delta_ms_;       // from restart to arrival of the pair it attempts for
    std::vector<Correlations> pending_;  // the state of that pair (with distillation)
    std::vector<double> drawn_;
};

template <class Stream>
void ChainModel::start(Stream& stream, InterruptionPoll& poll, bool first_pairs_drawn) {
    for (std::size_t link = 0; link < links_; ++link) {
        if (first_pairs_drawn) {
            delta_ms_[link] = run_.ready_ms(link);
            pending_[link] = run_.pair(link);
        } else {
            delta_ms_[link] = generation_.draw_pair(link, stream, poll, pending_[link]);
        }
        arrivals_.set_only(link, delta_ms_[link]);
    }
    run_.reset();
    arrivals_.refresh(0, links_ - 1);
}

template <class Stream>
ChainOutcome ChainModel::run(Stream& stream, InterruptionPoll& poll) {
    if (never_) return {false, limit_ms_};
    drawn_.clear();
    if (!follow_events_) {
        draw_without_failures(stream, poll);
        return settled(run_.known_ms());
    }
    if (!speculate_) return run_events(stream, poll);
    Recorded<Stream> recorded{stream, drawn_};
    draw_without_failures(recorded, poll);
    Replayed<Stream> replayed{stream, drawn_, drawn_.size()};
    if (swaps_succeed(recorded)) return settled(run_.known_ms());
    return run_events(replayed, poll, true);
}

// Every link's first pair and the swaps they lead to, as they are when no swap fails and no qubit
// expires: a node swaps when the later of its pairs arrives.
template <class Stream>
void ChainModel::draw_without_failures(Stream& stream, InterruptionPoll& poll) {
    for (std::size_t link = 0; link < links_; ++link)
        run_.ready_ms(link) = generation_.draw_pair(link, stream, poll, run_.pair(link));
    for (std::size_t node = 1; node < links_; ++node)
        run_.swap_ms(node) = std::max(run_.ready_ms(node - 1), run_.ready_ms(node));
    poll.advance(links_);
}

// Whether every swap succeeds, its outcome drawn up to the first failure. The events draw the same
// uniforms, one per swap (by time, then by node): which swap takes which does not matter while all of
// them succeed.
template <class Stream>
bool ChainModel::swaps_succeed(Stream& stream) {
    for (std::size_t node = 1; node < links_; ++node)
        if (!(stream.next_open_closed() <= shape_.swap_success)) return false;
    return true;
}

template <class Stream>
ChainOutcome ChainModel::run_events(Stream& stream, InterruptionPoll& poll, bool first_pairs_drawn) {
    start(stream, poll, first_pairs_drawn);
    Supply<Stream> supply{*this, stream, poll};
    for (;;) {
        poll.advance();
        const double now = std::min(arrivals_.earliest_time(), run_.next_expiry());
        if (now > limit_ms_) return {false, limit_ms_};
        if (now == EarliestTimes::kNever) return {false, now};
        bool arrived = false;
        while (arrivals_.earliest_time() == now) {  // in increasing link order
            const std::size_t link = arrivals_.earliest();
            arrivals_.set(link, EarliestTimes::kNever);
            run_.arrive(link, now, pending_[link]);
            arrived = true;
            run_.note_arrival(link, now);
        }
        run_.swap_noted(now, stream, supply);
        if (arrived && run_.complete()) {
            const RouteRun::Known known = run_.known_ms();
            if (run_.in_time(known)) return settled(known);
        }
        run_.expire_due(now, supply);
    }
}

}  // namespace vorn::physics
