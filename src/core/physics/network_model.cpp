#include "core/physics/network_model.hpp"

#include <string>
#include <tuple>

#include "core/number_text.hpp"
#include "core/physics/best_routes.hpp"

namespace vorn::physics {
namespace {

constexpr double kNever = EarliestTimes::kNever;

LinkGeneration network_generation(const NetworkFigures& network, const PhysicalModel& parameters) {
    const std::size_t nodes = network.decay_per_ms.size();
    if (network.memories.size() != nodes) throw Panic("a network model needs the memories of every node");
    LinkGeneration generation(link_protocol(parameters));
    for (const NetworkLink& link : network.links) {
        if (link.a >= nodes || link.b >= nodes || link.a == link.b)
            throw Panic("a network model's link must join two of its nodes");
        const std::size_t id =
            generation.add(link.success_probability, link.distance_km, link.source_period_ms, link.fidelity,
                           network.decay_per_ms[link.a], network.decay_per_ms[link.b]);
        if (!(generation.attempt_ms(id) > 0.0))
            throw InvalidValue("a link's time slot: must be positive (a source period or a length above 0), got " +
                               debug_number_text(generation.attempt_ms(id)));
    }
    return generation;
}

}  // namespace

NetworkModel::NetworkModel(const NetworkFigures& network, std::vector<Demand> demands, const PhysicalModel& parameters,
                           Policy policy)
    : demands_(std::move(demands)),
      network_links_(network.links),
      memories_(network.memories),
      links_at_(network.decay_per_ms.size()),
      policy_(policy),
      generation_(network_generation(network, parameters)) {
    for (std::uint32_t id = 0; id < network_links_.size(); ++id) {
        links_at_[network_links_[id].a].push_back(id);
        links_at_[network_links_[id].b].push_back(id);
    }
    for (const Demand& demand : demands_) {
        first_route_.push_back(static_cast<std::uint32_t>(routes_.size()));
        routes_.push_back({demand.nodes, demand.links});
        routes_.insert(routes_.end(), demand.more_routes.begin(), demand.more_routes.end());
    }
    first_route_.push_back(static_cast<std::uint32_t>(routes_.size()));
    shapes_.reserve(routes_.size());
    for (const Route& route : routes_) {
        if (route.links.empty() || route.nodes.size() != route.links.size() + 1)
            throw Panic("a demand's route needs at least one link and a node at each end of each");
        std::vector<double> distances, decays, successes;
        for (std::size_t k = 0; k < route.links.size(); ++k) {
            const NetworkLink& link = network_links_.at(route.links[k]);
            const std::uint32_t from = route.nodes[k], to = route.nodes[k + 1];
            if (!((link.a == from && link.b == to) || (link.a == to && link.b == from)))
                throw Panic("a demand's route must follow its links");
            distances.push_back(link.distance_km);
            successes.push_back(generation_.slot_success(route.links[k]));
        }
        for (std::uint32_t node : route.nodes) decays.push_back(network.decay_per_ms.at(node));
        shapes_.push_back(route_shape(generation_, route.links, distances, decays, parameters, kNever));
        route_rates_.push_back(expected_rate(successes, parameters.swap_success_probability));
    }
}

void NetworkModel::reset() {
    outcome_.demands.assign(demands_.size(), {});
    for (std::size_t demand = 0; demand < demands_.size(); ++demand)
        outcome_.demands[demand].delivered_by_route.assign(first_route_[demand + 1] - first_route_[demand], 0);
    outcome_.links.assign(network_links_.size(), {});
    outcome_.nodes.assign(memories_.size(), {});
    events_ = {};
    order_ = 0;
    // Which request slot a request takes decides the order of draws within an instant: a run starts
    // with none, whatever ran before.
    requests_.clear();
    idle_requests_.clear();
    link_states_.assign(network_links_.size(), {});
    for (LinkState& link : link_states_) link.last_served = static_cast<std::uint32_t>(demands_.size() - 1);
    node_states_.assign(memories_.size(), {});
    for (std::size_t node = 0; node < memories_.size(); ++node) node_states_[node].free = memories_[node];
    demand_states_.assign(demands_.size(), {});
    route_outstanding_.assign(routes_.size(), 0);
    arrived_.clear();
    to_start_.clear();
}

void NetworkModel::occupy(std::uint32_t node, std::int64_t change, double now) {
    NodeState& state = node_states_[node];
    NodeTally& tally = outcome_.nodes[node];
    tally.occupied_ms += static_cast<double>(state.used) * (now - state.since);
    state.since = now;
    state.used += change;
    state.free -= change;
    tally.most_occupied = std::max(tally.most_occupied, state.used);
    if (change < 0) to_start_.insert(to_start_.end(), links_at_[node].begin(), links_at_[node].end());
}

void NetworkModel::release(std::uint32_t id, std::size_t position, bool at_start, double now) {
    Request& request = requests_[id];
    char& kept = at_start ? request.memory_at_start[position] : request.memory_at_end[position];
    if (!kept) return;
    kept = 0;
    occupy(routes_[request.route].nodes[position + (at_start ? 0 : 1)], -1, now);
}

void NetworkModel::lost(std::uint32_t id, std::size_t position, Loss cause) {
    Request& request = requests_[id];
    if (request.parts[position] != Part::Holding) throw Panic("a route lost a pair it did not hold");
    request.parts[position] = Part::Lost;
    request.restart_ms[position] = kNever;
    LinkTally& tally = outcome_.links[routes_[request.route].links[position]];
    ++(cause == Loss::Swap ? tally.lost : tally.discarded);
}

// Told again with an earlier time when other news comes sooner; told of parts that wait already, which
// changes nothing.
void NetworkModel::restart(std::uint32_t id, std::size_t position, double time) {
    Request& request = requests_[id];
    if (request.parts[position] != Part::Lost || !(time < request.restart_ms[position])) return;
    request.restart_ms[position] = time;
    push(time, Kind::Restart, id, static_cast<std::uint32_t>(position), request.stamp);
}

void NetworkModel::want(std::uint32_t id, std::size_t position) {
    Request& request = requests_[id];
    request.parts[position] = Part::Wanting;
    const std::uint32_t link = routes_[request.route].links[position];
    link_states_[link].wanting.push_back({id, static_cast<std::uint32_t>(position)});
    to_start_.push_back(link);
}

std::uint32_t NetworkModel::route_for(std::uint32_t demand) const {
    std::uint32_t best = first_route_[demand];
    const auto weight = [&](std::uint32_t route) {
        return route_rates_[route] / static_cast<double>(1 + route_outstanding_[route]);
    };
    for (std::uint32_t route = best + 1; route < first_route_[demand + 1]; ++route)
        if (weight(route) > weight(best)) best = route;
    return best;
}

void NetworkModel::start_request(std::uint32_t demand, double requested_ms) {
    const std::uint32_t route = route_for(demand);
    std::uint32_t id;
    if (idle_requests_.empty()) {
        id = static_cast<std::uint32_t>(requests_.size());
        requests_.emplace_back(shapes_[route]);
    } else {
        id = idle_requests_.back();
        idle_requests_.pop_back();
    }
    Request& request = requests_[id];
    const std::size_t links = routes_[route].links.size();
    if (&request.run.shape() != &shapes_[route]) request.run.reshape(shapes_[route]);
    request.run.reset();
    request.demand = demand;
    request.route = route;
    request.active = true;
    request.settling = false;
    request.requested_ms = requested_ms;
    request.order = order_++;
    request.expiry_ms = kNever;
    request.parts.assign(links, Part::Wanting);
    request.restart_ms.assign(links, kNever);
    request.memory_at_start.assign(links, 0);
    request.memory_at_end.assign(links, 0);
    for (std::size_t position = 0; position < links; ++position) want(id, position);
    DemandState& state = demand_states_[demand];
    ++state.outstanding;
    ++route_outstanding_[route];
    state.newest = id;
}

// A saturated demand without a bound starts its next request as soon as a link has served its newest:
// as many as the memories of its routes can hold.
std::int64_t NetworkModel::unbounded_outstanding(std::uint32_t demand) const {
    std::int64_t memories = 0;
    for (std::uint32_t route = first_route_[demand]; route < first_route_[demand + 1]; ++route)
        for (std::uint32_t node : routes_[route].nodes) memories += memories_[node];
    return memories;
}

void NetworkModel::admit(std::uint32_t demand, double now) {
    const Demand& wanted = demands_[demand];
    DemandState& state = demand_states_[demand];
    if (wanted.arrival_rate_per_ms > 0.0) {
        while (!state.queued.empty() && (wanted.max_outstanding == 0 || state.outstanding < wanted.max_outstanding)) {
            const double requested = state.queued.front();
            state.queued.pop_front();
            start_request(demand, requested);
        }
        return;
    }
    // Without a bound, at least a request per route.
    const std::int64_t bound =
        wanted.max_outstanding > 0 ? wanted.max_outstanding : first_route_[demand + 1] - first_route_[demand];
    while (state.outstanding < bound) {
        ++outcome_.demands[demand].requested;
        start_request(demand, now);
    }
}

void NetworkModel::deliver(std::uint32_t id, double now) {
    Request& request = requests_[id];
    const Route& route = routes_[request.route];
    for (std::size_t position = 0; position < route.links.size(); ++position) {
        if (request.parts[position] != Part::Holding) throw Panic("a delivered route lacked a pair");
        ++outcome_.links[route.links[position]].used;
        release(id, position, true, now);
        release(id, position, false, now);
    }
    DemandTally& tally = outcome_.demands[request.demand];
    tally.waiting_ms.push_back(now - request.requested_ms);
    ++tally.delivered_by_route[request.route - first_route_[request.demand]];
    const Correlations& pair = request.settled.pair;
    tally.fidelity += std::max(0.0, fidelity(pair));
    tally.error_rate_z += error_rate_z(pair);
    tally.error_rate_x += error_rate_x(pair);
    request.active = false;
    ++request.stamp;
    idle_requests_.push_back(id);
    --demand_states_[request.demand].outstanding;
    --route_outstanding_[request.route];
    admit(request.demand, now);
}

// The index in the link's waiting list of the request its pair goes to.
std::size_t NetworkModel::chosen(const LinkState& link) const {
    const auto demands = static_cast<std::uint32_t>(demands_.size());
    const auto rank = [&](const Want& want) {
        const Request& request = requests_[want.request];
        const std::uint32_t turn =
            policy_ == Policy::RoundRobin ? (request.demand + demands - link.last_served - 1) % demands : 0;
        return std::tuple(turn, request.requested_ms, request.order);
    };
    std::size_t best = 0;
    auto best_rank = rank(link.wanting[0]);
    for (std::size_t k = 1; k < link.wanting.size(); ++k)
        if (const auto candidate = rank(link.wanting[k]); candidate < best_rank) best = k, best_rank = candidate;
    return best;
}

void NetworkModel::pair_arrives(std::uint32_t id, double now) {
    LinkState& link = link_states_[id];
    LinkTally& tally = outcome_.links[id];
    link.attempting = false;
    tally.attempting_ms += now - link.since;
    ++tally.generated;
    const std::size_t k = chosen(link);
    const Want served = link.wanting[k];
    link.wanting[k] = link.wanting.back();
    link.wanting.pop_back();
    Request& request = requests_[served.request];
    link.last_served = request.demand;
    // The memories the link attempted with keep the pair.
    request.parts[served.position] = Part::Holding;
    request.memory_at_start[served.position] = request.memory_at_end[served.position] = 1;
    arrived_.push_back({served.request, served.position, link.pair});
    to_start_.push_back(id);
    const Demand& demand = demands_[request.demand];
    DemandState& state = demand_states_[request.demand];
    if (demand.arrival_rate_per_ms == 0.0 && demand.max_outstanding == 0 && state.newest == served.request &&
        state.outstanding < unbounded_outstanding(request.demand)) {
        ++outcome_.demands[request.demand].requested;
        start_request(request.demand, now);
    }
}

void NetworkModel::schedule_expiry(std::uint32_t id) {
    Request& request = requests_[id];
    const double expiry = request.run.next_expiry();
    if (request.settling || expiry == kNever || expiry == request.expiry_ms) return;
    request.expiry_ms = expiry;
    push(expiry, Kind::Expiry, id, 0, request.stamp);
}

void NetworkModel::finish(double duration_ms) {
    for (std::uint32_t id = 0; id < link_states_.size(); ++id)
        if (link_states_[id].attempting) outcome_.links[id].attempting_ms += duration_ms - link_states_[id].since;
    for (std::uint32_t node = 0; node < node_states_.size(); ++node) occupy(node, 0, duration_ms);
    for (const Request& request : requests_) {
        if (!request.active) continue;
        for (std::size_t position = 0; position < request.parts.size(); ++position)
            if (request.parts[position] == Part::Holding) ++outcome_.links[routes_[request.route].links[position]].held;
    }
    to_start_.clear();
}

}  // namespace vorn::physics
