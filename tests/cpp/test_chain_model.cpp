// The chain trial model against exact results: the Bell-diagonal algebra, certain links with classical
// delays, restarts after a failed swap (scripted draws), the Markov chain of simultaneous swaps,
// multiplexing, distillation, memory decay and cut-offs. Statistical checks use fixed seeds and
// intervals of 4.5 standard errors.
#include "check.hpp"
#include "core/physics/chain_model.hpp"
#include "core/random/keyed_stream.hpp"
#include "core/random/seeds.hpp"

using namespace vorn::physics;
using vorn::KeyedStream;

namespace {

// The stream of the trial with this seed, as the physical model's ensembles draw it.
KeyedStream stream_of(std::uint64_t seed) {
    return KeyedStream(vorn::key_words(vorn::kPhysicalModelDraws.key, seed), vorn::kPhysicalModelDraws.stream);
}

// Uniforms handed in advance; running out ends the case.
struct Scripted {
    std::vector<double> values;
    std::size_t next = 0;
    double next_open_closed() {
        if (next == values.size()) throw std::runtime_error("the scripted draws ran out");
        return values[next++];
    }
};

vorn::InterruptionPoll no_poll() { return vorn::InterruptionPoll(nullptr, 1 << 20); }

// n equal links; every node's T2 in ms (0 keeps for ever).
ChainFigures chain(std::size_t n, double p, double km = 0.0, double period_ms = 1.0, double fidelity = 1.0,
                   double t2_ms = 0.0) {
    ChainFigures figures{std::vector<ChainLink>(n, ChainLink{p, km, period_ms, fidelity}), {}};
    figures.decay_per_ms.assign(n + 1, t2_ms > 0.0 ? 1.0 / t2_ms : 0.0);
    return figures;
}

ChainFigures mirrored(ChainFigures figures) {
    std::reverse(figures.links.begin(), figures.links.end());
    std::reverse(figures.decay_per_ms.begin(), figures.decay_per_ms.end());
    return figures;
}

PhysicalModel parameters(double q = 1.0, std::optional<double> cutoff_ms = std::nullopt) {
    PhysicalModel parameters;
    parameters.swap_success_probability = q;
    parameters.cutoff_ms = cutoff_ms;
    return parameters;
}

struct Mean {
    double sum = 0.0, squares = 0.0, count = 0.0;
    void add(double x) { sum += x, squares += x * x, count += 1.0; }
    double mean() const { return sum / count; }
    double stderr_() const { return std::sqrt(std::max(0.0, squares / count - mean() * mean()) / count); }
    bool near(double exact) const { return std::abs(mean() - exact) <= 4.5 * stderr_() + 1e-12; }
};

struct Ensemble {
    Mean waiting, fidelity, error_z, error_x;
};

Ensemble simulate(const ChainFigures& figures, const PhysicalModel& parameters, std::uint64_t runs,
                  std::uint64_t seed = 1) {
    ChainModel model(figures, parameters);
    auto poll = no_poll();
    Ensemble ensemble;
    for (std::uint64_t i = 0; i < runs; ++i) {
        KeyedStream stream = stream_of(seed + i);
        const ChainOutcome outcome = model.run(stream, poll);
        ensemble.waiting.add(outcome.waiting_time_ms);
        ensemble.fidelity.add(outcome.fidelity);
        ensemble.error_z.add(outcome.error_rate_z);
        ensemble.error_x.add(outcome.error_rate_x);
    }
    return ensemble;
}

// The pair's probabilities indexed by the error's bits: x = 1, z = 2 (so Y = 3).
std::array<double, 4> by_bits(const BellDiagonal& pair) { return {pair.none, pair.x, pair.z, pair.y}; }

bool same(const Correlations& a, const Correlations& b, double tolerance = 1e-14) {
    return std::abs(a.zz - b.zz) <= tolerance && std::abs(a.xx - b.xx) <= tolerance &&
           std::abs(a.yy - b.yy) <= tolerance;
}

// Expected maximum of n independent geometric counts of success probability p.
double expected_maximum(int n, double p) {
    double sum = 0.0;
    for (int k = 1; k <= n; ++k)
        sum += (k % 2 ? 1.0 : -1.0) * std::tgamma(n + 1.0) / (std::tgamma(k + 1.0) * std::tgamma(n - k + 1.0)) /
               (1.0 - std::pow(1.0 - p, k));
    return sum;
}

}  // namespace

TEST_CASE("Bell-diagonal pairs: swaps add errors, memories and swaps act as Pauli channels, the recurrence maps") {
    const BellDiagonal a{0.7, 0.05, 0.1, 0.15}, b{0.8, 0.12, 0.03, 0.05};
    CHECK(same(correlations_of(bell_diagonal_of(correlations_of(a))), correlations_of(a)));
    // A swap convolves the error distributions over the X and Z bits.
    std::array<double, 4> sum{};
    for (int e = 0; e < 4; ++e)
        for (int f = 0; f < 4; ++f) sum[e ^ f] += by_bits(a)[e] * by_bits(b)[f];
    CHECK(same(joined(correlations_of(a), correlations_of(b)), correlations_of({sum[0], sum[1], sum[3], sum[2]})));
    // The outcome bits of a swap flipped with probability m each: X and Z errors of probability m.
    const double m = 0.07;
    const BellDiagonal flips{(1 - m) * (1 - m), m * (1 - m), m * m, m * (1 - m)};
    CHECK(same(joined(correlations_of(a), swap_noise(0.0, m)), joined(correlations_of(a), correlations_of(flips))));
    // Dephasing for t = T2 ln 2: Z with probability (1 − 1/2) / 2 on one qubit.
    const double z = 0.25;
    const BellDiagonal dephased{a.none * (1 - z) + a.z * z, a.x * (1 - z) + a.y * z, a.y * (1 - z) + a.x * z,
                                a.z * (1 - z) + a.none * z};
    CHECK(same(decayed(correlations_of(a), std::log(2.0), MemoryNoise::Dephasing), correlations_of(dephased)));
    CHECK(same(decayed(werner(0.9), 0.5, MemoryNoise::Depolarizing), werner(0.9 * std::exp(-0.5))));

    // DEJMPS on a pair that is no Werner state, against Deutsch et al.'s map (A, B, C, D = none, Y, X, Z).
    const DistilledPair dejmps = distilled(a, a, Distillation::Dejmps);
    const double A = a.none, B = a.y, C = a.x, D = a.z, N = (A + B) * (A + B) + (C + D) * (C + D);
    CHECK(std::abs(dejmps.success_probability - N) < 1e-15);
    CHECK(same(correlations_of(dejmps.pair),
               correlations_of({(A * A + B * B) / N, (C * C + D * D) / N, 2 * C * D / N, 2 * A * B / N})));
    // BBPSSW on Werner pairs of fidelity F (Bennett et al.).
    for (double F : {0.6, 0.8, 0.95}) {
        const double e = (1 - F) / 3, P = F * F + 2 * F * e + 5 * e * e;
        const DistilledPair bbpssw = distilled(bell_diagonal_of(werner((4 * F - 1) / 3)),
                                               bell_diagonal_of(werner((4 * F - 1) / 3)), Distillation::Bbpssw);
        CHECK(std::abs(bbpssw.success_probability - P) < 1e-15);
        CHECK(std::abs(bbpssw.pair.none - (F * F + e * e) / P) < 1e-15 && bbpssw.pair.x == bbpssw.pair.z);
    }
}

TEST_CASE("certain links: delivered at τ + (n − 1) L / c, with the decay of every qubit from its emission") {
    for (auto [heralding_name, heralding] : kHeraldings)
        for (auto [noise_name, noise] : kMemoryNoises)
            for (std::size_t n = 1; n <= 4; ++n) {
                ChainFigures figures = chain(n, 1.0, 50.0, 0.1);  // 0.25 ms of flight over a link
                double w = 1.0;
                for (std::size_t k = 0; k < n; ++k) {
                    figures.links[k].fidelity = 0.9 + 0.02 * static_cast<double>(k);
                    w *= (4 * figures.links[k].fidelity - 1) / 3;
                }
                for (std::size_t node = 0; node <= n; ++node) figures.decay_per_ms[node] = 0.01 * (1.0 + node % 3);
                PhysicalModel model = parameters();
                model.heralding = heralding_name;
                model.memory_noise = noise_name;
                const double tau = heralding == Heralding::Midpoint ? 0.25 : 0.5, at = tau + 0.25 * (n - 1);
                double exponent = (at - tau) * (figures.decay_per_ms[0] + figures.decay_per_ms[n]);
                for (std::size_t k = 0; k < n; ++k) {
                    const double a = figures.decay_per_ms[k], b = figures.decay_per_ms[k + 1];
                    exponent += heralding == Heralding::Midpoint ? 0.25 * (a + b)
                                                                 : 0.5 * std::min(a, b) + 0.25 * std::max(a, b);
                }
                const Correlations pair = decayed(werner(w), exponent, noise);
                for (const ChainFigures& route : {figures, mirrored(figures)}) {
                    Scripted stream{std::vector<double>(n, 1.0)};
                    auto poll = no_poll();
                    const ChainOutcome outcome = ChainModel(route, model).run(stream, poll);
                    CHECK_FOR(std::to_string(n), outcome.delivered && std::abs(outcome.waiting_time_ms - at) < 1e-15);
                    CHECK(std::abs(outcome.fidelity - fidelity(pair)) < 1e-14);
                    CHECK(std::abs(outcome.error_rate_z - error_rate_z(pair)) < 1e-14);
                    CHECK(std::abs(outcome.error_rate_x - error_rate_x(pair)) < 1e-14);
                }
            }
    // An end node without memory: the qubit decays fully while the herald travels.
    ChainFigures forgetful = chain(1, 1.0, 50.0);
    forgetful.decay_per_ms[1] = kInf;
    for (auto [noise, expected] : {std::pair{"dephasing", 0.5}, std::pair{"depolarizing", 0.25}}) {
        PhysicalModel model = parameters();
        model.memory_noise = noise;
        Scripted stream{{1.0}};
        auto poll = no_poll();
        CHECK_EQ(ChainModel(forgetful, model).run(stream, poll).fidelity, expected);
    }
}

TEST_CASE("a failed swap: each link attempts again once both of its nodes heard; a swap before the news spreads it") {
    struct Case {
        const char* name;
        ChainFigures figures;
        std::vector<double> draws;
        double at, exponent;  // of the delivered pair's decay
    };
    // A: two links of 0.25 ms; the swap fails at 0.25 ms, the ends hear at 0.5 ms, the links are back at
    // 0.75 ms, and the next swap's outcome reaches the ends at 1 ms.
    // B: links of 0.5, 0.5 and 0.1 ms (the last back after 6 slots, at 0.6 ms); the swap at node 1 fails
    // at 0.5 ms; node 2 hears of it at 1 ms but swaps in its link-2 pair at 0.6 ms, which is lost too.
    // If that swap succeeds, the news goes on from node 2 at 1 ms: link 2 is back at 1.2 ms, links 0
    // and 1 at 1.5 ms, the ends know at 2.5 ms. If it fails, its own news brings link 2 back at 0.8 ms
    // and link 1 at 1.1 ms, and the ends know at 2.1 ms.
    // B, news first: link 2 comes at 1 ms, as node 2 hears of the loss: it frees that qubit and keeps
    // its link-2 pair for the links' return at 1.5 ms.
    // C: links of 0.1, 0.1 (back at 0.6 ms), 0.5 and 0.5 ms. The swap at node 3 fails at 0.5 ms; at
    // 0.6 ms node 1's swap fails and node 2 joins the two lost runs before hearing of either: node 2
    // passes on the news of each into the other, which brings link 2 back at 1.2 ms instead of 1.5 ms
    // (and, if node 2's own swap fails too, link 1 at 0.7 ms and link 2 at 1.1 ms).
    ChainFigures b = chain(3, 1.0, 100.0, 0.5, 1.0, 100.0), c = chain(4, 1.0, 100.0, 0.5, 1.0, 100.0);
    b.links[2] = {0.5, 20.0, 0.1, 1.0};
    c.links[0] = {1.0, 20.0, 0.1, 1.0};
    c.links[1] = {0.5, 20.0, 0.1, 1.0};
    c.decay_per_ms[2] = 0.03;
    const std::vector<Case> cases{
        {"A", chain(2, 1.0, 50.0, 0.25), {1, 1, 1, 1, 1, 0.1}, 1.0, 0.0},
        {"B, node 2 swaps", b, {1, 1, 0.02, 1, 1, 1, 0.1, 1, 0.1, 0.1}, 2.5, 0.048},
        {"B, node 2 fails", b, {1, 1, 0.02, 1, 1, 1, 1, 1, 0.1, 0.1}, 2.1, 0.048},
        {"B, news first", b, {1, 1, 0.0015, 1, 1, 1, 0.1, 0.1}, 2.5, 0.052},
        {"C, node 2 swaps", c, {1, 0.02, 1, 1, 1, 1, 1, 1, 0.1, 1, 1, 0.1, 0.1, 0.1}, 2.2, 0.072},
        {"C, node 2 fails", c, {1, 0.02, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0.1, 0.1, 0.1}, 2.2, 0.074},
    };
    for (const Case& test : cases) {
        Scripted stream{test.draws};
        auto poll = no_poll();
        const ChainOutcome outcome = ChainModel(test.figures, parameters(0.5)).run(stream, poll);
        CHECK_FOR(test.name, outcome.delivered && std::abs(outcome.waiting_time_ms - test.at) < 1e-12);
        CHECK_FOR(test.name, stream.next == stream.values.size());
        const double expected = fidelity(decayed(werner(1.0), test.exponent, MemoryNoise::Dephasing));
        CHECK_FOR(test.name, std::abs(outcome.fidelity - expected) < 1e-12);
    }
}

// The mean waiting time, in slots, of links with success probabilities `p` that all attempt in the
// same slots, when every node holding both of its pairs swaps at once and a failed swap loses its
// whole joined run: a Markov chain over the sets of links that hold a pair (joined runs follow).
static double markov_waiting_slots(const std::vector<double>& p, double q) {
    const int n = static_cast<int>(p.size()), states = (1 << n) - 1, all = states;
    std::vector<std::vector<double>> rows(states, std::vector<double>(states + 1, 0.0));
    for (int held = 0; held < states; ++held) {
        rows[held][held] += 1.0;
        rows[held][states] = 1.0;
        const int free = all & ~held;
        for (int won = free;; won = (won - 1) & free) {
            double chance = 1.0;
            for (int k = 0; k < n; ++k)
                if (free >> k & 1) chance *= won >> k & 1 ? p[k] : 1.0 - p[k];
            const int now = held | won;
            std::vector<int> nodes;  // that swap now: both pairs held, one of them new
            for (int z = 1; z < n; ++z)
                if ((now >> (z - 1) & 1) && (now >> z & 1) && ((won >> (z - 1) & 1) || (won >> z & 1)))
                    nodes.push_back(z);
            for (int outcomes = 0; outcomes < 1 << nodes.size(); ++outcomes) {
                double branch = chance;
                int after = now;
                for (std::size_t i = 0; i < nodes.size(); ++i) {
                    branch *= outcomes >> i & 1 ? q : 1.0 - q;
                    if (outcomes >> i & 1) continue;
                    int lo = nodes[i] - 1, hi = nodes[i];  // the joined run around the failed swap
                    while (lo > 0 && (now >> (lo - 1) & 1)) --lo;
                    while (hi + 1 < n && (now >> (hi + 1) & 1)) ++hi;
                    for (int k = lo; k <= hi; ++k) after &= ~(1 << k);
                }
                if (after != all) rows[held][after] -= branch;
            }
            if (won == 0) break;
        }
    }
    for (int col = 0; col < states; ++col)  // Gauss–Jordan; the diagonal dominates
        for (int row = 0; row < states; ++row)
            if (row != col) {
                const double factor = rows[row][col] / rows[col][col];
                for (int k = col; k <= states; ++k) rows[row][k] -= factor * rows[col][k];
            }
    return rows[0][states] / rows[0][0];
}

TEST_CASE("simultaneous swaps: the exact Markov chain of three unequal links, from both ends") {
    for (double q : {0.5, 0.9}) {
        ChainFigures figures = chain(3, 0.9);
        figures.links[2].success_probability = 0.5;
        const double exact = markov_waiting_slots({0.9, 0.9, 0.5}, q);
        for (const ChainFigures& route : {figures, mirrored(figures)})
            CHECK_FOR(std::to_string(q), simulate(route, parameters(q), 200'000).waiting.near(exact));
    }
}

TEST_CASE("multiplexing: n links of m modes wait Z_n(1 − (1 − p)^m) slots") {
    for (int n : {1, 3})
        for (std::int64_t m : {1, 5}) {
            PhysicalModel model = parameters();
            model.modes = m;
            const double slot = 1.0 - std::pow(0.9, static_cast<double>(m));
            CHECK(simulate(chain(n, 0.1), model, 100'000).waiting.near(expected_maximum(n, slot)));
        }
}

TEST_CASE("distillation: BBPSSW and DEJMPS rounds on certain links deliver the maps' pairs after 2^k / ΠP slots") {
    const double F = 0.8;
    const BellDiagonal fresh = bell_diagonal_of(werner((4 * F - 1) / 3));
    for (auto [protocol_name, protocol] : kDistillations)
        for (std::int64_t rounds : {1, 2}) {
            PhysicalModel model = parameters();
            model.distillation = protocol_name;
            model.distillation_rounds = rounds;
            DistilledPair step = distilled(fresh, fresh, protocol);
            double slots = 2.0 / step.success_probability;
            if (rounds == 2) {
                const double first = step.success_probability;
                step = distilled(step.pair, step.pair, protocol);
                slots = 4.0 / (first * step.success_probability);
            }
            const Ensemble ensemble = simulate(chain(1, 1.0, 0.0, 1.0, F), model, 100'000);
            CHECK(ensemble.waiting.near(slots));
            CHECK(std::abs(ensemble.fidelity.mean() - step.pair.none) < 1e-12 && ensemble.fidelity.stderr_() < 1e-6);
        }
}

TEST_CASE("two links with memory decay: E[λ^|N1 − N2|] under either noise; depolarised pairs stay Werner") {
    const double p = 0.2, w = (4 * 0.97 - 1) / 3, lambda = std::exp(-2.0 / 5.0);  // two memories of 5 ms
    const double mean_decay = p * (1 + (1 - p) * lambda) / ((2 - p) * (1 - (1 - p) * lambda));
    for (auto [noise_name, noise] : kMemoryNoises) {
        PhysicalModel model = parameters();
        model.memory_noise = noise_name;
        const double kept = noise == MemoryNoise::Dephasing ? w * w : w * w * mean_decay;
        const Ensemble ensemble = simulate(chain(2, p, 0.0, 1.0, 0.97, 5.0), model, 100'000);
        CHECK(ensemble.fidelity.near((1 + kept + 2 * w * w * mean_decay) / 4));
        CHECK(std::abs(ensemble.error_z.mean() - (1 - kept) / 2) < 1e-12 || noise == MemoryNoise::Depolarizing);
        CHECK(ensemble.error_z.sum == ensemble.error_x.sum || noise == MemoryNoise::Dephasing);
    }
}

TEST_CASE("cut-off: swapped at exactly the cut-off; an end keeps only a pair it knows complete by then") {
    // 1 ms and 4 ms slots: the first pair waits 3 ms.
    ChainFigures figures = chain(2, 1.0);
    figures.links[1].source_period_ms = 4.0;
    for (auto [cutoff, at] : {std::pair{3.0, 4.0}, std::pair{2.5, 4.5}, std::pair{0.0, 4.0}}) {
        Scripted stream{std::vector<double>(8, 1.0)};
        auto poll = no_poll();
        CHECK_EQ(ChainModel(figures, parameters(1.0, cutoff)).run(stream, poll).waiting_time_ms, at);
    }
    // Links of 0.25 ms: the ends learn of the swap 0.25 ms after their pairs came.
    for (auto [cutoff, delivered] : {std::pair{0.25, true}, std::pair{0.2, false}}) {
        PhysicalModel model = parameters(1.0, cutoff);
        model.max_waiting_time_ms = 10.0;
        Scripted stream{std::vector<double>(200, 1.0)};
        auto poll = no_poll();
        const ChainOutcome outcome = ChainModel(chain(2, 1.0, 50.0, 0.25), model).run(stream, poll);
        CHECK(outcome.delivered == delivered && outcome.waiting_time_ms == (delivered ? 0.5 : 10.0));
    }
    // A distillation partner that can never come within the cut-off: nothing, ever.
    PhysicalModel model = parameters(1.0, 0.5);
    model.distillation_rounds = 1;
    Scripted none{{}};
    auto poll = no_poll();
    CHECK(ChainModel(chain(1, 1.0), model).run(none, poll).waiting_time_ms == kInf);
}

TEST_CASE("skipping the events where no swap fails and no qubit expires changes nothing") {
    std::mt19937_64 random(11);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    for (int round = 0; round < 60; ++round) {
        const std::size_t n = 1 + round % 7;
        ChainFigures figures = chain(n, 1.0);
        for (ChainLink& link : figures.links) link = {uniform(0.01, 1.0), uniform(0.0, 300.0), uniform(0.0, 2.0), 0.9};
        for (double& rate : figures.decay_per_ms) rate = uniform(0.0, 0.1);
        PhysicalModel model = parameters();
        model.heralding = kHeraldings[round % 2].name;
        model.memory_noise = kMemoryNoises[round % 3 == 0].name;
        model.modes = 1 + round % 4;
        model.distillation_rounds = round % 3;
        model.measurement_error = 0.01;
        model.swap_success_probability = round % 4 ? 0.95 : 1.0;
        if (round % 5 == 0) model.max_waiting_time_ms = 5.0;
        ChainModel shortest(figures, model), events(figures, model, ChainModel::Course::Events);
        auto poll = no_poll();
        for (std::uint64_t k = 0; k < 16; ++k) {
            KeyedStream a = stream_of((static_cast<std::uint64_t>(round) << 8) + k), b = a;
            const ChainOutcome x = shortest.run(a, poll), y = events.run(b, poll);
            CHECK(x.delivered == y.delivered && check::same_double(x.waiting_time_ms, y.waiting_time_ms) &&
                  check::same_double(x.fidelity, y.fidelity) && check::same_double(x.error_rate_x, y.error_rate_x));
        }
    }
}

CHECK_MAIN()
