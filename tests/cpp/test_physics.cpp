// The physical model's pieces: exact sums, the waiting-time histogram, the keyed stream and trials whose
// course follows from the figures alone (every attempt succeeds).
#include "check.hpp"
#include "core/physics/ensemble.hpp"

using namespace vorn::physics;
using vorn::LinkDefinition;
using vorn::NodeDefinition;

TEST_CASE("histogram bins are the top bits of the doubles: 128 per binade") {
    LogHistogram histogram;
    for (double x : {1.0, 1.0 + 0x1p-8, 1.0 + 0x1p-7, 2.0, 2.0, 0.0}) histogram.add(x);
    const std::uint32_t one = 0x3FF << 7;
    using Bins = std::vector<std::pair<std::uint32_t, std::uint64_t>>;
    CHECK(histogram.counts() == (Bins{{0, 1}, {one, 2}, {one + 1, 1}, {one + 128, 2}}));
}

// Links that succeed at every attempt (no loss, efficiency 1) between nodes of one memory time.
static Chain certain_chain(const std::vector<double>& rates_hz, double t2_s, const PhysicalModel& model) {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    for (std::size_t i = 0; i <= rates_hz.size(); ++i) nodes.push_back({"N" + std::to_string(i), t2_s});
    for (std::size_t i = 0; i < rates_hz.size(); ++i) {
        LinkDefinition link;
        link.from = nodes[i].id;
        link.to = nodes[i + 1].id;
        link.base_fidelity = 0.9 + 0.01 * static_cast<double>(i);
        link.generation_rate_hz = rates_hz[i];
        links.push_back(link);
    }
    return chain_between(vorn::QuantumNetwork::from_definitions(nodes, links), links, "N0", nodes.back().id,
                         std::nullopt, model);
}

static std::vector<TrialOutcome> trials_of(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                           std::uint64_t seed) {
    std::vector<TrialOutcome> outcomes;
    for_each_trial(chain, model, runs, seed, nullptr, [&](const TrialOutcome& o) { outcomes.push_back(o); });
    return outcomes;
}

static TrialOutcome one_trial(const std::vector<double>& rates_hz, double t2_s, const PhysicalModel& model) {
    return trials_of(certain_chain(rates_hz, t2_s, model), model, 1, 3).front();
}

static double werner(double fidelity) { return (4.0 * fidelity - 1.0) / 3.0; }

TEST_CASE("certain links: the last pair's arrival is the waiting time; the pairs decay while they wait") {
    const PhysicalModel model;
    TrialOutcome single = one_trial({500.0}, 0.0, model);  // no memory, but nothing is stored
    CHECK(single.delivered && single.waiting_time_ms == 2.0 && single.fidelity == 0.9);

    // 1 ms and 4 ms attempts: the first pair waits 3 ms in memories of 1 s at both ends.
    TrialOutcome two = one_trial({1000.0, 250.0}, 1.0, model);
    const double w = werner(0.9) * werner(0.91) * std::exp(-3.0 * 0.002);
    CHECK(two.delivered && two.waiting_time_ms == 4.0);
    CHECK(std::abs(two.fidelity - (1.0 + 3.0 * w) / 4.0) < 1e-15);

    // 4, 1 and 2 ms: pairs 1 and 2 join at 2 ms (the joint pair's ends at nodes 1 and 3); at 4 ms the last arrives.
    TrialOutcome three = one_trial({250.0, 1000.0, 500.0}, 1.0, model);
    const double w3 = werner(0.9) * werner(0.91) * werner(0.92) * std::exp(-(1.0 * 0.002 + 2.0 * 0.002));
    CHECK(three.waiting_time_ms == 4.0);
    CHECK(std::abs(three.fidelity - (1.0 + 3.0 * w3) / 4.0) < 1e-15);

    TrialOutcome forgotten = one_trial({1000.0, 250.0}, 0.0, model);
    CHECK(forgotten.fidelity == 0.25);
    TrialOutcome kept = one_trial({1000.0, 250.0}, kInf, model);
    CHECK(std::abs(kept.fidelity - (1.0 + 3.0 * werner(0.9) * werner(0.91)) / 4.0) < 1e-15);
}

TEST_CASE("cut-off: a pair exactly as old as the cut-off is still swapped, an older one is dropped") {
    PhysicalModel model;
    model.cutoff_ms = 3.0;  // the 1 ms pair may wait until 4 ms, when the 4 ms pair arrives
    CHECK_EQ(one_trial({1000.0, 250.0}, 1.0, model).waiting_time_ms, 4.0);
    model.cutoff_ms = 2.5;  // dropped at 3.5 ms and made again at 4.5 ms, after the other
    CHECK_EQ(one_trial({1000.0, 250.0}, 1.0, model).waiting_time_ms, 4.5);
    model.cutoff_ms = 0.0;  // pairs must arrive together: at 4 ms both do
    CHECK_EQ(one_trial({1000.0, 250.0}, 1.0, model).waiting_time_ms, 4.0);
    model.max_waiting_time_ms = 3.0;
    TrialOutcome given_up = one_trial({1000.0, 250.0}, 1.0, model);
    CHECK(!given_up.delivered && given_up.waiting_time_ms == 3.0);
}

TEST_CASE("ensembles: shards over consecutive seeds add up to the whole, exactly") {
    PhysicalModel model;
    model.swap_success_probability = 0.7;
    model.cutoff_ms = 20.0;
    std::vector<NodeDefinition> nodes{{"A", 0.5}, {"B", 1.0}, {"C", 2.0}, {"D", 0.5}};
    std::vector<LinkDefinition> links(3);
    for (int i = 0; i < 3; ++i) {
        links[i].from = nodes[i].id;
        links[i].to = nodes[i + 1].id;
        links[i].distance_km = 40.0 + 10.0 * i;
        links[i].base_fidelity = 0.95;
        links[i].generation_rate_hz = 1000.0;
    }
    const Chain chain =
        chain_between(vorn::QuantumNetwork::from_definitions(nodes, links), links, "A", "D", std::nullopt, model);
    const std::uint64_t seed = ~std::uint64_t{0} - 500;  // the shards wrap around 2^64
    auto whole = run_ensemble(chain, model, 1000, seed);
    auto head = run_ensemble(chain, model, 333, seed);
    auto tail = run_ensemble(chain, model, 667, seed + 333);
    CHECK_EQ(whole->delivered, head->delivered + tail->delivered);
    head->waiting_time_ms.add(tail->waiting_time_ms);
    head->fidelity_squared.add(tail->fidelity_squared);
    CHECK(head->waiting_time_ms.units() == whole->waiting_time_ms.units());
    CHECK(head->fidelity_squared.units() == whole->fidelity_squared.units());

    const auto outcomes = trials_of(chain, model, 1000, seed);
    vorn::ExactSum waiting;
    for (const TrialOutcome& outcome : outcomes) waiting.add(outcome.waiting_time_ms);
    CHECK(waiting.units() == whole->waiting_time_ms.units());
}

TEST_CASE("without failing swaps or expiring pairs, skipping the events changes nothing") {
    std::mt19937_64 random(11);
    for (int round = 0; round < 50; ++round) {
        std::vector<NodeDefinition> nodes;
        std::vector<LinkDefinition> links;
        const int hops = 1 + round % 7;
        for (int i = 0; i <= hops; ++i)
            nodes.push_back({"N" + std::to_string(i), std::uniform_real_distribution<double>(0.01, 5.0)(random)});
        for (int i = 0; i < hops; ++i) {
            LinkDefinition link;
            link.from = nodes[i].id;
            link.to = nodes[i + 1].id;
            link.distance_km = std::uniform_real_distribution<double>(0.0, 300.0)(random);
            link.base_fidelity = std::uniform_real_distribution<double>(0.5, 1.0)(random);
            link.generation_rate_hz = round % 2 ? 1000.0 : std::uniform_real_distribution<double>(10.0, 1e6)(random);
            links.push_back(link);
        }
        PhysicalModel model;
        if (round % 3 == 0) model.max_waiting_time_ms = 30.0;
        const Chain chain = chain_between(vorn::QuantumNetwork::from_definitions(nodes, links), links, "N0",
                                          nodes.back().id, std::nullopt, model);
        ChainTrials shortest(chain, model), events(chain, model, ChainTrials::Course::Events);
        vorn::InterruptionPoll poll(nullptr, 1000);
        for (std::uint64_t seed = 0; seed < 16; ++seed) {
            const vorn::KeyedStream stream(
                vorn::key_words(vorn::kPhysicalModelDraws.key, seed + (static_cast<std::uint64_t>(round) << 8)),
                vorn::kPhysicalModelDraws.stream);
            vorn::KeyedStream a = stream, b = stream;
            const TrialOutcome x = shortest.run(a, poll), y = events.run(b, poll);
            CHECK(x.delivered == y.delivered && check::same_double(x.waiting_time_ms, y.waiting_time_ms) &&
                  check::same_double(x.fidelity, y.fidelity));
        }
    }
}

CHECK_MAIN()
