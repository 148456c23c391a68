// The network model: many demands at once, whose routes share links and memories. A demand's requests
// each want one end-to-end pair. A link attempts while a request that still needs its pair waits for it
// and a memory is free at each of its ends; it holds those two memories while it attempts, and its pair
// keeps them. The pair goes to one waiting request by the policy. Along each request's route, pairs
// become one end-to-end pair by the rules of a route (route_run.hpp), as in the chain model; a node frees
// the memories of the pairs it swaps, an end node those of the delivered pair, and both nodes of a lost
// pair free its memories once both have heard of the loss.
//
// Every pair a link makes is at any time used (part of a delivered pair), discarded by the cut-off, lost
// in a failed swap, or still held by a request in progress.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <queue>
#include <vector>

#include "core/ensemble/driver.hpp"
#include "core/interruption_poll.hpp"
#include "core/physics/bell_diagonal.hpp"
#include "core/physics/chain_model.hpp"
#include "core/physics/earliest_times.hpp"
#include "core/physics/link_generation.hpp"
#include "core/physics/route_run.hpp"

namespace vorn::physics {

struct NetworkLink {
    std::uint32_t a = 0;  // its two nodes
    std::uint32_t b = 0;
    double success_probability = 1.0;  // of one attempt in one mode, in (0, 1]
    double distance_km = 0.0;
    double source_period_ms = 0.0;  // the source's period, 1000 / generation rate
    double fidelity = 1.0;          // of a fresh pair, a Werner state
};

struct NetworkFigures {
    std::vector<double> decay_per_ms;    // per node, as in ChainFigures
    std::vector<std::int64_t> memories;  // per node: memory qubits shared by every link at it
    std::vector<NetworkLink> links;
};

struct Route {
    std::vector<std::uint32_t> nodes;  // from its first node to its last
    std::vector<std::uint32_t> links;  // link k joins nodes[k] and nodes[k + 1]
};

// A demand's requests spread over its routes: each new request takes the route of the highest expected
// rate (best_routes.hpp) divided by 1 + the requests in progress on it, the earlier route on a tie.
struct Demand {
    std::vector<std::uint32_t> nodes;  // its route, from its first node to its last
    std::vector<std::uint32_t> links;  // the route's link k joins nodes[k] and nodes[k + 1]
    double arrival_rate_per_ms = 0.0;  // of its requests, a Poisson process; 0: a pair is always wanted
    std::int64_t max_outstanding = 0;  // requests in progress at once; 0: no bound
    std::vector<Route> more_routes;    // after the first
};

enum class Policy {
    Fifo,        // a pair goes to the request waiting for it that arrived first
    RoundRobin,  // to the demands in turn, each demand's oldest request first
};

struct DemandTally {
    std::uint64_t requested = 0;     // requests that arrived (saturated: that started)
    std::vector<double> waiting_ms;  // of each delivered pair, from its request's arrival
    double fidelity = 0.0;           // sums over the delivered pairs
    double error_rate_z = 0.0;
    double error_rate_x = 0.0;
    std::vector<std::uint64_t> delivered_by_route;  // pairs, per route of the demand
};

struct LinkTally {
    double attempting_ms = 0.0;
    std::uint64_t generated = 0;
    std::uint64_t used = 0;       // in delivered pairs
    std::uint64_t discarded = 0;  // by the cut-off
    std::uint64_t lost = 0;       // in failed swaps
    std::uint64_t held = 0;       // by requests in progress at the end
};

struct NodeTally {
    double occupied_ms = 0.0;  // the integral over time of the memories in use
    std::int64_t most_occupied = 0;
};

struct NetworkOutcome {
    double duration_ms = 0.0;
    std::vector<DemandTally> demands;
    std::vector<LinkTally> links;
    std::vector<NodeTally> nodes;
};

class NetworkModel {
public:
    // `parameters` must have passed check_model; every link needs slots of positive length; each
    // demand's route at least one link, its links joining its nodes in turn. The model's limit on a
    // trial's waiting time plays no part.
    NetworkModel(const NetworkFigures& network, std::vector<Demand> demands, const PhysicalModel& parameters,
                 Policy policy);

    std::size_t links() const { return generation_.links(); }
    double attempt_ms(std::size_t link) const { return generation_.attempt_ms(link); }

    // The network from time 0, nothing held, for `duration_ms`. `Stream` gives uniforms in (0, 1] by
    // next_open_closed(); `poll` advances once per event.
    template <class Stream>
    NetworkOutcome run(Stream& stream, InterruptionPoll& poll, double duration_ms);

private:
    // Within an instant: deliveries and requests first, then the news that lets links attempt again,
    // then the pairs that arrive (and the swaps they lead to), then the cut-offs.
    enum class Kind : std::uint8_t { Delivery, Request, Restart, Pair, Expiry };
    struct Event {
        double time;
        Kind kind;
        std::uint32_t id;        // request, demand or link
        std::uint32_t position;  // a restart's link within the route
        std::uint32_t stamp;     // the request's, when the event was made
        std::uint64_t order;
    };
    struct Later {
        bool operator()(const Event& x, const Event& y) const {
            if (x.time != y.time) return x.time > y.time;
            if (x.kind != y.kind) return x.kind > y.kind;
            return x.order > y.order;
        }
    };

    enum class Part : std::uint8_t { Wanting, Holding, Lost };
    struct Request {
        explicit Request(const RouteShape& shape) : run(shape) {}
        std::uint32_t demand = 0;
        std::uint32_t route = 0;  // in routes_
        std::uint32_t stamp = 0;
        bool active = false;
        bool settling = false;  // complete, delivered when both ends know
        double requested_ms = 0.0;
        std::uint64_t order = 0;
        double expiry_ms = EarliestTimes::kNever;  // of the expiry event made last
        RouteRun run;
        std::vector<Part> parts;            // per link of the route
        std::vector<double> restart_ms;     // of a lost part
        std::vector<char> memory_at_start;  // whether its pair still keeps a memory at the link's first node
        std::vector<char> memory_at_end;
        RouteRun::Settled settled;
    };
    struct Want {
        std::uint32_t request;
        std::uint32_t position;
    };
    struct LinkState {
        bool attempting = false;
        double since = 0.0;
        Correlations pair;
        std::vector<Want> wanting;
        std::uint32_t last_served = 0;  // the demand served last, for round robin
    };
    struct NodeState {
        std::int64_t free = 0;
        std::int64_t used = 0;
        double since = 0.0;
    };
    struct DemandState {
        std::int64_t outstanding = 0;
        std::deque<double> queued;  // arrival times of requests not yet started
        std::uint32_t newest = 0;
    };
    struct Arrived {
        std::uint32_t request;
        std::uint32_t position;
        Correlations pair;
    };
    struct Supply {
        NetworkModel& model;
        std::uint32_t request;
        double now;
        void lost(std::size_t position, Loss cause) { model.lost(request, position, cause); }
        void restart(std::size_t position, double time) { model.restart(request, position, time); }
        void restarted(std::size_t, std::size_t) {}
        void swapped(std::size_t node) {
            model.release(request, node - 1, false, now);
            model.release(request, node, true, now);
        }
    };

    void push(double time, Kind kind, std::uint32_t id, std::uint32_t position = 0, std::uint32_t stamp = 0) {
        events_.push({time, kind, id, position, stamp, order_++});
    }
    void occupy(std::uint32_t node, std::int64_t change, double now);
    void release(std::uint32_t request, std::size_t position, bool at_start, double now);
    void lost(std::uint32_t request, std::size_t position, Loss cause);
    void restart(std::uint32_t request, std::size_t position, double time);
    void want(std::uint32_t request, std::size_t position);
    std::uint32_t route_for(std::uint32_t demand) const;
    void start_request(std::uint32_t demand, double requested_ms);
    void admit(std::uint32_t demand, double now);
    void deliver(std::uint32_t request, double now);
    std::size_t chosen(const LinkState& link) const;
    void pair_arrives(std::uint32_t link, double now);
    void schedule_expiry(std::uint32_t request);
    std::int64_t unbounded_outstanding(std::uint32_t demand) const;
    void reset();
    void finish(double duration_ms);
    template <class Stream>
    void settle_arrivals(double now, Stream& stream);
    template <class Stream>
    void start_links(double now, Stream& stream, InterruptionPoll& poll);

    std::vector<Demand> demands_;
    std::vector<Route> routes_;               // every demand's routes, demand by demand, each's best first
    std::vector<std::uint32_t> first_route_;  // per demand, and one past the last route
    std::vector<double> route_rates_;         // each route's expected rate
    std::vector<NetworkLink> network_links_;
    std::vector<std::int64_t> memories_;
    std::vector<std::vector<std::uint32_t>> links_at_;  // per node
    Policy policy_;
    LinkGeneration generation_;
    std::vector<RouteShape> shapes_;  // per route; requests' runs point at them

    // Working state of a run.
    NetworkOutcome outcome_;
    std::priority_queue<Event, std::vector<Event>, Later> events_;
    std::uint64_t order_ = 0;
    std::deque<Request> requests_;
    std::vector<std::uint32_t> idle_requests_;
    std::vector<LinkState> link_states_;
    std::vector<NodeState> node_states_;
    std::vector<DemandState> demand_states_;
    std::vector<std::int64_t> route_outstanding_;  // requests in progress, per route
    std::vector<Arrived> arrived_;
    std::vector<std::uint32_t> to_start_;  // links that may be able to attempt now
};

// Runs `runs` of the network, run i on the network model's draws of seed `first_seed` + i, in order;
// `visit` sees each outcome.
template <class Visit>
void run_network(NetworkModel& model, double duration_ms, std::uint64_t first_seed, std::uint64_t runs,
                 InterruptionPoll& poll, Visit&& visit) {
    for_each_seed_stream<kNetworkModelDraws>(first_seed, runs,
                                             [&](KeyedStream& stream) { visit(model.run(stream, poll, duration_ms)); });
}

template <class Stream>
NetworkOutcome NetworkModel::run(Stream& stream, InterruptionPoll& poll, double duration_ms) {
    reset();
    outcome_.duration_ms = duration_ms;
    for (std::uint32_t demand = 0; demand < demands_.size(); ++demand) {
        const double rate = demands_[demand].arrival_rate_per_ms;
        if (rate > 0.0)
            push(-std::log(stream.next_open_closed()) / rate, Kind::Request, demand);
        else
            admit(demand, 0.0);
    }
    start_links(0.0, stream, poll);
    while (!events_.empty() && events_.top().time <= duration_ms) {
        poll.advance();
        const Event event = events_.top();
        events_.pop();
        const double now = event.time;
        switch (event.kind) {
            case Kind::Delivery:
                if (requests_[event.id].stamp == event.stamp) deliver(event.id, now);
                break;
            case Kind::Request: {
                DemandState& state = demand_states_[event.id];
                state.queued.push_back(now);
                ++outcome_.demands[event.id].requested;
                admit(event.id, now);
                push(now - std::log(stream.next_open_closed()) / demands_[event.id].arrival_rate_per_ms, Kind::Request,
                     event.id);
                break;
            }
            case Kind::Restart: {
                Request& request = requests_[event.id];
                if (request.stamp != event.stamp || request.parts[event.position] != Part::Lost ||
                    request.restart_ms[event.position] != now)
                    break;
                release(event.id, event.position, true, now);
                release(event.id, event.position, false, now);
                want(event.id, event.position);
                break;
            }
            case Kind::Pair:
                pair_arrives(event.id, now);
                if (events_.empty() || events_.top().time != now || events_.top().kind != Kind::Pair)
                    settle_arrivals(now, stream);
                break;
            case Kind::Expiry: {
                Request& request = requests_[event.id];
                if (request.stamp != event.stamp || request.settling || request.run.next_expiry() != now) break;
                Supply supply{*this, event.id, now};
                request.run.expire_due(now, supply);
                schedule_expiry(event.id);
                break;
            }
        }
        start_links(now, stream, poll);
    }
    finish(duration_ms);
    return outcome_;
}

// The pairs of this instant reach their requests in route order, and the nodes that then hold both of
// their pairs swap.
template <class Stream>
void NetworkModel::settle_arrivals(double now, Stream& stream) {
    std::sort(arrived_.begin(), arrived_.end(), [](const Arrived& x, const Arrived& y) {
        return x.request < y.request || (x.request == y.request && x.position < y.position);
    });
    for (std::size_t k = 0; k < arrived_.size();) {
        const std::uint32_t id = arrived_[k].request;
        Request& request = requests_[id];
        for (; k < arrived_.size() && arrived_[k].request == id; ++k) {
            request.run.arrive(arrived_[k].position, now, arrived_[k].pair);
            request.run.note_arrival(arrived_[k].position, now);
        }
        Supply supply{*this, id, now};
        request.run.swap_noted(now, stream, supply);
        if (request.run.complete()) {
            const RouteRun::Known known = request.run.known_ms();
            if (request.run.in_time(known)) {
                request.settled = request.run.settled(known);
                request.settling = true;
                request.run.clear_expiries();
                push(request.settled.at, Kind::Delivery, id, 0, request.stamp);
                continue;
            }
        }
        schedule_expiry(id);
    }
    arrived_.clear();
}

template <class Stream>
void NetworkModel::start_links(double now, Stream& stream, InterruptionPoll& poll) {
    for (std::size_t k = 0; k < to_start_.size(); ++k) {
        const std::uint32_t id = to_start_[k];
        LinkState& link = link_states_[id];
        const NetworkLink& ends = network_links_[id];
        if (link.attempting || link.wanting.empty() || node_states_[ends.a].free == 0 || node_states_[ends.b].free == 0)
            continue;
        occupy(ends.a, 1, now);
        occupy(ends.b, 1, now);
        link.attempting = true;
        link.since = now;
        push(now + generation_.draw_pair(id, stream, poll, link.pair), Kind::Pair, id);
    }
    to_start_.clear();
}

}  // namespace vorn::physics
