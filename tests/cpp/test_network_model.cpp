// The network model against exact results: a renewal process on a chain, routes that share nothing,
// two demands on one link, single-server queues, and the account of every pair. Statistical checks use
// fixed seeds and intervals of 4.5 standard errors over independent runs.
#include "check.hpp"
#include "core/network.hpp"
#include "core/physics/best_routes.hpp"
#include "core/physics/network_model.hpp"
#include "core/physics/network_setup.hpp"

using namespace vorn::physics;

namespace {

vorn::InterruptionPoll no_poll() { return vorn::InterruptionPoll(nullptr, 1 << 20); }

struct Mean {
    double sum = 0.0, squares = 0.0, count = 0.0;
    void add(double x) { sum += x, squares += x * x, count += 1.0; }
    double mean() const { return sum / count; }
    double stderr_() const { return std::sqrt(std::max(0.0, squares / count - mean() * mean()) / count); }
};

bool agree(const Mean& a, double exact, double exact_error = 0.0) {
    return std::abs(a.mean() - exact) <= 4.5 * std::hypot(a.stderr_(), exact_error) + 1e-12;
}

// A network of `chains` separate chains of the given links (1 ms slots, 20 km each, T2 = 1 s), one
// memory per link end.
NetworkFigures chains(std::size_t count, const std::vector<double>& p) {
    NetworkFigures network;
    for (std::size_t chain = 0; chain < count; ++chain) {
        const auto first = static_cast<std::uint32_t>(network.decay_per_ms.size());
        for (std::size_t node = 0; node <= p.size(); ++node) {
            network.decay_per_ms.push_back(1e-3);
            network.memories.push_back(node == 0 || node == p.size() ? 1 : 2);
        }
        for (std::size_t k = 0; k < p.size(); ++k)
            network.links.push_back({first + static_cast<std::uint32_t>(k), first + static_cast<std::uint32_t>(k + 1),
                                     p[k], 20.0, 1.0, 0.97});
    }
    return network;
}

// The route along chain `chain` of `links` links, from its first node.
Demand along(std::size_t chain, std::size_t links, double rate = 0.0, std::int64_t bound = 1) {
    Demand demand{{}, {}, rate, bound};
    for (std::size_t k = 0; k <= links; ++k)
        demand.nodes.push_back(static_cast<std::uint32_t>(chain * (links + 1) + k));
    for (std::size_t k = 0; k < links; ++k) demand.links.push_back(static_cast<std::uint32_t>(chain * links + k));
    return demand;
}

PhysicalModel parameters(double q, std::optional<double> cutoff_ms = std::nullopt) {
    PhysicalModel parameters;
    parameters.swap_success_probability = q;
    parameters.cutoff_ms = cutoff_ms;
    return parameters;
}

template <class Visit>
void simulate(NetworkModel& model, double duration_ms, std::uint64_t runs, std::uint64_t seed, Visit visit) {
    auto poll = no_poll();
    run_network(model, duration_ms, seed, runs, poll, visit);
}

// Each demand's pairs per ms, one value per run.
std::vector<Mean> throughputs(NetworkModel& model, std::size_t demands, double duration_ms, std::uint64_t runs,
                              std::uint64_t seed = 1) {
    std::vector<Mean> rates(demands);
    simulate(model, duration_ms, runs, seed, [&](const NetworkOutcome& outcome) {
        for (std::size_t d = 0; d < demands; ++d)
            rates[d].add(static_cast<double>(outcome.demands[d].waiting_ms.size()) / duration_ms);
    });
    return rates;
}

// Every pair a link made is used, discarded, lost or held; each delivered pair used one of each of its
// route's links; no node used more memories than it has.
bool balanced(const NetworkFigures& network, const std::vector<Demand>& demands, const NetworkOutcome& outcome) {
    std::vector<std::uint64_t> used(network.links.size(), 0);
    for (std::size_t d = 0; d < demands.size(); ++d)
        for (std::uint32_t link : demands[d].links) used[link] += outcome.demands[d].waiting_ms.size();
    bool holds = true;
    for (std::size_t k = 0; k < network.links.size(); ++k) {
        const LinkTally& link = outcome.links[k];
        holds = holds && link.generated == link.used + link.discarded + link.lost + link.held && link.used == used[k] &&
                link.attempting_ms <= outcome.duration_ms;
    }
    for (std::size_t node = 0; node < network.memories.size(); ++node)
        holds = holds && outcome.nodes[node].most_occupied <= network.memories[node] &&
                outcome.nodes[node].occupied_ms <= outcome.duration_ms * static_cast<double>(network.memories[node]);
    return holds;
}

}  // namespace

TEST_CASE("one saturated demand on a chain is a renewal process of the chain model's trials") {
    const std::vector<double> p{0.5, 0.3, 0.6};
    for (std::optional<double> cutoff : {std::optional<double>(), std::optional<double>(6.0)}) {
        const PhysicalModel model = parameters(0.8, cutoff);
        ChainFigures chain{{}, std::vector<double>(p.size() + 1, 1e-3)};
        for (double pk : p) chain.links.push_back({pk, 20.0, 1.0, 0.97});
        ChainModel trials(chain, model);
        Mean waiting;
        auto poll = no_poll();
        vorn::for_each_seed_stream<vorn::kPhysicalModelDraws>(
            1, 100000, [&](vorn::KeyedStream& stream) { waiting.add(trials.run(stream, poll).waiting_time_ms); });
        const double rate = 1.0 / waiting.mean(), rate_error = waiting.stderr_() / (waiting.mean() * waiting.mean());

        const NetworkFigures network = chains(1, p);
        NetworkModel one(network, {along(0, 3)}, model, Policy::Fifo);
        CHECK(agree(throughputs(one, 1, 2000.0, 100, 7)[0], rate, rate_error));
        // Without the bound a link starts the next request's pair once it is free: no slower, and never
        // faster than the slowest link makes pairs.
        NetworkModel unbounded(network, {along(0, 3, 0.0, 0)}, model, Policy::Fifo);
        const Mean more = throughputs(unbounded, 1, 2000.0, 50, 9)[0];
        CHECK(more.mean() + 4.5 * more.stderr_() >= rate - 4.5 * rate_error);
        CHECK(more.mean() <= 0.3);
    }
}

TEST_CASE("demands whose routes share nothing each behave as alone") {
    const std::vector<double> p{0.4, 0.7};
    const NetworkFigures network = chains(2, p);
    const PhysicalModel model = parameters(0.9, 8.0);
    NetworkModel both(network, {along(0, 2), along(1, 2, 0.05, 0)}, model, Policy::RoundRobin);
    NetworkModel first(network, {along(0, 2)}, model, Policy::RoundRobin);
    NetworkModel second(network, {along(1, 2, 0.05, 0)}, model, Policy::RoundRobin);
    const std::vector<Mean> together = throughputs(both, 2, 1000.0, 60, 1);
    const Mean a = throughputs(first, 1, 1000.0, 60, 1000)[0], b = throughputs(second, 1, 1000.0, 60, 2000)[0];
    CHECK(agree(together[0], a.mean(), a.stderr_()));
    CHECK(agree(together[1], b.mean(), b.stderr_()));
}

TEST_CASE("two saturated demands on one link: round robin halves what one alone gets; no policy exceeds it") {
    const double p = 0.25;
    const NetworkFigures network = chains(1, {p});
    const PhysicalModel model = parameters(1.0);
    const double alone = p / 1.0;  // pairs per 1 ms slot
    NetworkModel shared(network, {along(0, 1), along(0, 1)}, model, Policy::RoundRobin);
    Mean each, total;
    bool turns = true;
    simulate(shared, 2000.0, 50, 3, [&](const NetworkOutcome& outcome) {
        const double a = static_cast<double>(outcome.demands[0].waiting_ms.size());
        const double b = static_cast<double>(outcome.demands[1].waiting_ms.size());
        turns = turns && std::abs(a - b) <= 1.0;
        each.add(a / 2000.0);
        total.add((a + b) / 2000.0);
    });
    CHECK(turns);
    CHECK(agree(each, alone / 2.0) && agree(total, alone));
    NetworkModel first_come(network, {along(0, 1), along(0, 1)}, model, Policy::Fifo);
    const std::vector<Mean> fifo = throughputs(first_come, 2, 2000.0, 50, 5);
    Mean sum;
    sum.add(fifo[0].mean() + fifo[1].mean());
    CHECK(sum.mean() <= alone + 4.5 * std::hypot(fifo[0].stderr_(), fifo[1].stderr_()));
}

// A request waits for the pairs of the requests before it and then for its own: service takes N slots,
// N geometric of success p, so the mean time from arrival to delivery is Pollaczek–Khinchine's
// E[S] + λ E[S²] / (2 (1 − λ E[S])), with E[S] = τ / p and E[S²] = τ² (2 − p) / p²; p = 1 is the queue
// of constant service.
TEST_CASE("one link with Poisson requests is a single-server queue") {
    for (double p : {1.0, 0.5}) {
        const NetworkFigures network = chains(1, {p});
        const double tau = 1.0, lambda = 0.6 * p / tau, service = tau / p;
        const double second_moment = tau * tau * (2.0 - p) / (p * p);
        const double exact = service + lambda * second_moment / (2.0 * (1.0 - lambda * service));
        for (std::int64_t bound : {0, 1}) {
            NetworkModel queue(network, {along(0, 1, lambda, bound)}, parameters(1.0), Policy::Fifo);
            Mean waiting;
            simulate(queue, 20000.0, 40, 11, [&](const NetworkOutcome& outcome) {
                const std::vector<double>& times = outcome.demands[0].waiting_ms;
                double sum = 0.0;
                for (double t : times) sum += t;
                waiting.add(sum / static_cast<double>(times.size()));
            });
            CHECK_FOR(std::to_string(p), agree(waiting, exact));
        }
    }
}

TEST_CASE(
    "the account of pairs balances in every run, under contention, losses and cut-offs; a run depends on its seed "
    "alone") {
    // Five nodes: a square with one diagonal; routes crossing and sharing links and memories.
    NetworkFigures network{std::vector<double>(5, 0.02), {2, 3, 2, 3, 1}, {}};
    for (auto [a, b] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 1}, {1, 2}, {2, 3}, {3, 0}, {1, 3}, {3, 4}})
        network.links.push_back({a, b, 0.3, 10.0, 0.5, 0.95});
    const std::vector<Demand> demands{{{0, 1, 2}, {0, 1}, 0.0, 0},
                                      {{2, 3, 4}, {2, 5}, 0.2, 2},
                                      {{0, 3, 1, 2}, {3, 4, 1}, 0.0, 1},
                                      {{4, 3, 0}, {5, 3}, 0.5, 0}};
    for (Policy policy : {Policy::Fifo, Policy::RoundRobin})
        for (std::optional<double> cutoff : {std::optional<double>(), std::optional<double>(3.0)}) {
            PhysicalModel model = parameters(0.7, cutoff);
            model.distillation_rounds = cutoff ? 1 : 0;
            NetworkModel mixed(network, demands, model, policy);
            bool holds = true;
            std::uint64_t delivered = 0, lost = 0, discarded = 0;
            std::vector<double> last;
            simulate(mixed, 300.0, 20, 17, [&](const NetworkOutcome& outcome) {
                holds = holds && balanced(network, demands, outcome);
                last = outcome.demands[2].waiting_ms;
                for (const DemandTally& demand : outcome.demands) delivered += demand.waiting_ms.size();
                for (const LinkTally& link : outcome.links) lost += link.lost, discarded += link.discarded;
            });
            // A run depends on its seed alone, not on what the model ran before.
            NetworkModel fresh(network, demands, model, policy);
            simulate(fresh, 300.0, 1, 36,
                     [&](const NetworkOutcome& outcome) { CHECK(outcome.demands[2].waiting_ms == last); });
            CHECK(holds && delivered > 0 && lost > 0 && (discarded > 0) == cutoff.has_value());
        }
}

TEST_CASE("a network's figures: the links routes take, memories per link end unless given, the engine's routes") {
    std::vector<vorn::NodeDefinition> nodes{{"A", 1.0}, {"B", 1.0}, {"C", 0.5}, {"D", 1.0}};
    std::vector<vorn::LinkDefinition> links(3);
    for (auto [k, from, to, km] : {std::tuple(0, "A", "B", 10.0), {1, "B", "C", 10.0}, {2, "C", "A", 50.0}}) {
        links[k].from = from, links[k].to = to, links[k].distance_km = km;
        links[k].base_fidelity = 0.95, links[k].generation_rate_hz = 1e6;
    }
    const auto network = vorn::QuantumNetwork::from_definitions(nodes, links);
    PhysicalModel model;
    model.efficiency = 0.5;
    const auto setup = [&](std::vector<DemandPair> demands, std::uint64_t per_end = 2) {
        return network_setup(network, links, demands, 1, {std::nullopt, 5, std::nullopt, std::nullopt}, per_end,
                             vorn::StrategyType::LowestLatency, model, nullptr);
    };
    const NetworkSetup built = setup({{"A", "C", 0.0, 1}, {"B", "C", 0.1, 0}});
    CHECK(built.figures.memories == (std::vector<std::int64_t>{4, 5, 4, 0}));
    CHECK(built.demands[0].nodes == (std::vector<std::uint32_t>{0, 1, 2}) && built.demands[1].links.size() == 1 &&
          built.demands[1].links[0] == built.demands[0].links[1] && built.figures.links.size() == 2);
    const NetworkLink& first = built.figures.links[built.demands[0].links[0]];
    CHECK(std::abs(first.success_probability - 0.5 * std::pow(10.0, -0.2)) < 1e-15 && first.source_period_ms == 1e-3);
    CHECK(std::abs(built.figures.decay_per_ms[2] - 1.0 / 500.0) < 1e-18 && built.paths[1][0][0] == "B");
    for (const auto& [from, to, per_end] : std::vector<std::tuple<const char*, const char*, std::uint64_t>>{
             {"A", "D", 1}, {"A", "A", 1}, {"A", "E", 1}, {"A", "C", kMaxMemories + 1}}) {
        bool refused = false;
        try {
            setup({{from, to, 0.0, 1}}, per_end);
        } catch (const vorn::InvalidValue&) {
            refused = true;
        }
        CHECK_FOR(std::string(to) + " " + std::to_string(per_end), refused);
    }
}

TEST_CASE("a demand's routes: the engine's, then every other loop-free route by cost, however many are asked") {
    // S-A 1, A-T 1, S-B 2, B-T 2.5, A-B 0.5: S-A-T 2, S-B-A-T 3.5, S-A-B-T 4, S-B-T 4.5.
    std::vector<vorn::LinkDefinition> links(5);
    for (auto [k, from, to] : {std::tuple(0, "S", "A"), {1, "A", "T"}, {2, "S", "B"}, {3, "B", "T"}, {4, "A", "B"}})
        links[k].from = from, links[k].to = to;
    const std::vector<double> costs{1.0, 1.0, 2.0, 2.5, 0.5};
    const auto linked = vorn::QuantumNetwork::from_definitions({}, links);
    const vorn::RouteGraph graph = vorn::build_route_graph(linked);
    const auto named = [&](const std::vector<std::vector<std::uint32_t>>& routes) {
        std::vector<std::string> names;
        for (const auto& route : routes) {
            names.emplace_back();
            for (std::uint32_t node : route) names.back() += graph.names[node];
        }
        return names;
    };
    const auto cost = [&](std::uint32_t link) { return costs[link]; };
    const std::uint32_t s = *graph.number_of("S"), t = *graph.number_of("T");
    CHECK(named(best_routes(graph, s, t, 9, cost, nullptr)) ==
          (std::vector<std::string>{"SAT", "SBAT", "SABT", "SBT"}));
    CHECK(named(best_routes(graph, t, s, 2, cost, nullptr)) == (std::vector<std::string>{"TAS", "TABS"}));
    CHECK(best_routes(graph, s, s, 3, cost, nullptr).empty());

    // In the network model: two short links of high fidelity (A-B-C) and a long one of less (C-A) that makes
    // pairs faster. The engine's route for the highest fidelity comes first, the faster one after it, and a
    // third route there is not.
    std::vector<vorn::NodeDefinition> nodes{{"A", 1.0}, {"B", 1.0}, {"C", 1.0}};
    for (auto [k, from, to, km, fidelity] :
         {std::tuple(0, "A", "B", 30.0, 0.97), {1, "B", "C", 30.0, 0.97}, {2, "C", "A", 40.0, 0.9}}) {
        links[k].from = from, links[k].to = to, links[k].distance_km = km;
        links[k].base_fidelity = fidelity, links[k].generation_rate_hz = 1e6;
    }
    links.resize(3);
    const auto network = vorn::QuantumNetwork::from_definitions(nodes, links);
    const NetworkSetup built = network_setup(network, links, {{"A", "C", 0.0, 0}}, 3, {3, std::nullopt, std::nullopt},
                                             1, std::nullopt, PhysicalModel{}, nullptr);
    CHECK(built.paths[0] == (std::vector<std::vector<std::string>>{{"A", "B", "C"}, {"A", "C"}}));
    CHECK(built.demands[0].more_routes.size() == 1 &&
          built.demands[0].more_routes[0].nodes == (std::vector<std::uint32_t>{0, 2}));
    CHECK(built.figures.links.size() == 3);
}

CHECK_MAIN()
