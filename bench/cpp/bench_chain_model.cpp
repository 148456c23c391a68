// Trials per CPU-second of the chain trial model on chains of equal fibre links (transmissivity p at
// 0.2 dB/km, 1 GHz sources, fidelity 0.95, memories of 1 s), beside the model it replaces on the same
// chains.
//
//   bench_chain_model                          all figures
//   bench_chain_model trials LINKS P Q N       N trials of the new model and nothing else, for
//                                              `valgrind --tool=callgrind bench_chain_model trials 4 0.1 0.9 N`
//   bench_chain_model trials LINKS P Q N old   the same with the model it replaces
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/ensemble/driver.hpp"
#include "core/physics/chain_model.hpp"
#include "core/physics/chain_trial.hpp"
#include "process_clocks.hpp"

using namespace vorn;
using namespace vorn::physics;
using namespace vorn::bench;

namespace {

constexpr double kSpeed = 200.0, kPeriodMs = 1e-6, kFidelity = 0.95, kDecayPerMs = 1e-3;

double distance_km(double p) { return -10.0 * std::log10(p) / 0.2; }

ChainParameters parameters(double q) {
    ChainParameters parameters;
    parameters.base.swap_success_probability = q;
    return parameters;
}

ChainFigures figures(int links, double p) {
    return {std::vector<ChainLink>(links, ChainLink{p, distance_km(p), kPeriodMs, kFidelity}),
            std::vector<double>(links + 1, kDecayPerMs)};
}

Chain old_chain(int links, double p) {
    Chain chain;
    chain.hops.assign(links, Hop{p, p, std::max(kPeriodMs, distance_km(p) / kSpeed), (4.0 * kFidelity - 1.0) / 3.0});
    chain.decay_per_ms.assign(links + 1, kDecayPerMs);
    return chain;
}

// Trials as the ensemble driver runs them: sixteen seeds' first blocks computed together.
template <class Model, class Visit>
struct Trials {
    static constexpr SeedStream kDraws = kPhysicalModelDraws;
    Model& model;
    InterruptionPoll& poll;
    Visit visit;
    KeyedStream stream;
    alignas(64) std::uint32_t blocks[chacha12::kLanes * chacha12::kBlockWords];

    void run_batch(const chacha12::LaneStates& lanes, int count) {
        chacha12::blocks(lanes, blocks, count);
        for (int k = 0; k < count; ++k) {
            stream.start(chacha12::key_of_lane(lanes, k), kDraws.stream, blocks + k * chacha12::kBlockWords);
            visit(model.run(stream, poll));
        }
    }
};

template <class Model, class Visit>
void run_trials(Model& model, InterruptionPoll& poll, std::uint64_t first_seed, std::uint64_t runs, Visit visit) {
    Trials<Model, Visit> trials{model, poll, visit, {}, {}};
    run_seed_range(trials, first_seed, runs);
}

// The best of five rounds of `runs` trials: other work on a shared machine only ever slows a round down.
template <class Model>
double trials_per_cpu_second(Model& model, std::uint64_t runs) {
    InterruptionPoll poll(nullptr, 1 << 20);
    double best = 0.0, delivered = 0.0;
    for (int round = 0; round < 5; ++round) {
        const double start = cpu_seconds();
        run_trials(model, poll, 1 + (static_cast<std::uint64_t>(round) << 40), runs,
                   [&](const auto& outcome) { delivered += outcome.delivered; });
        best = std::max(best, static_cast<double>(runs) / (cpu_seconds() - start));
    }
    if (delivered == 0.0) std::printf("(nothing delivered)\n");
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 6 || (argc == 7 && std::strcmp(argv[6], "old") == 0)) && std::strcmp(argv[1], "trials") == 0) {
        const int links = std::atoi(argv[2]);
        const double p = std::atof(argv[3]), q = std::atof(argv[4]);
        const auto runs = std::strtoull(argv[5], nullptr, 10);
        ChainModel model(figures(links, p), parameters(q));
        PhysicalModel old_parameters;
        old_parameters.swap_success_probability = q;
        ChainTrials old_model(old_chain(links, p), old_parameters);
        InterruptionPoll poll(nullptr, 1 << 20);
        double waiting = 0.0;
        const auto add = [&](const auto& outcome) { waiting += outcome.waiting_time_ms; };
        if (argc == 7)
            run_trials(old_model, poll, 1, runs, add);
        else
            run_trials(model, poll, 1, runs, add);
        std::printf("%llu trials, mean waiting %.6g ms\n", static_cast<unsigned long long>(runs),
                    waiting / static_cast<double>(runs));
        return 0;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s [trials LINKS P Q N [old]]\n", argv[0]);
        return 2;
    }
    for (int links : {4, 32})
        for (double p : {0.9, 0.1})
            for (double q : {1.0, 0.9}) {
                const std::uint64_t runs = links == 4 ? 2'000'000 : 200'000;
                ChainModel model(figures(links, p), parameters(q));
                PhysicalModel old_parameters;
                old_parameters.swap_success_probability = q;
                ChainTrials old_model(old_chain(links, p), old_parameters);
                const double now = trials_per_cpu_second(model, runs), before = trials_per_cpu_second(old_model, runs);
                std::printf(
                    "%2d links, p = %.1f, q = %.1f: %6.2f M trials per CPU-second (%7.1f ns per trial); "
                    "the model it replaces %6.2f M (%7.1f ns)\n",
                    links, p, q, now / 1e6, 1e9 / now, before / 1e6, 1e9 / before);
            }
    return 0;
}
