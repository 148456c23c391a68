// Trials per CPU-second of the chain trial model on chains of equal fibre links (transmissivity p at
// 0.2 dB/km, 1 GHz sources, fidelity 0.95, memories of 1 s), run as the ensembles run it.
//
//   bench_chain_model                          all figures
//   bench_chain_model trials LINKS P Q N       N trials and nothing else, for
//                                              `valgrind --tool=callgrind bench_chain_model trials 4 0.1 0.9 N`
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/physics/ensemble.hpp"
#include "process_clocks.hpp"

using namespace vorn;
using namespace vorn::physics;
using namespace vorn::bench;

namespace {

constexpr double kPeriodMs = 1e-6, kFidelity = 0.95, kDecayPerMs = 1e-3;

PhysicalModel model_of(double q) {
    PhysicalModel model;
    model.swap_success_probability = q;
    return model;
}

Chain chain(int links, double p) {
    const double km = -10.0 * std::log10(p) / 0.2;
    Hop hop{p, p, 0.0, (4.0 * kFidelity - 1.0) / 3.0, km, kPeriodMs};
    hop.attempt_ms = std::max(kPeriodMs, herald_ms(km / PhysicalModel{}.signal_speed_km_ms, Heralding::Midpoint));
    Chain built;
    built.hops.assign(links, hop);
    built.decay_per_ms.assign(links + 1, kDecayPerMs);
    return built;
}

template <class Visit>
void run_trials(const Chain& chain, const PhysicalModel& model, std::uint64_t first_seed, std::uint64_t runs,
                Visit visit) {
    InterruptionPoll poll(nullptr, 1 << 20);
    ChainTrialModel<Visit> trials(chain, model, poll, visit);
    run_seed_range(trials, first_seed, runs);
}

// The best of five rounds of `runs` trials: other work on a shared machine only ever slows a round down.
double trials_per_cpu_second(const Chain& chain, const PhysicalModel& model, std::uint64_t runs) {
    double best = 0.0, delivered = 0.0;
    for (int round = 0; round < 5; ++round) {
        const double start = cpu_seconds();
        run_trials(chain, model, 1 + (static_cast<std::uint64_t>(round) << 40), runs,
                   [&](const ChainOutcome& outcome) { delivered += outcome.delivered; });
        best = std::max(best, static_cast<double>(runs) / (cpu_seconds() - start));
    }
    if (delivered == 0.0) std::printf("(nothing delivered)\n");
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "trials") == 0) {
        const int links = std::atoi(argv[2]);
        const double p = std::atof(argv[3]), q = std::atof(argv[4]);
        const auto runs = std::strtoull(argv[5], nullptr, 10);
        double waiting = 0.0;
        run_trials(chain(links, p), model_of(q), 1, runs,
                   [&](const ChainOutcome& outcome) { waiting += outcome.waiting_time_ms; });
        std::printf("%llu trials, mean waiting %.6g ms\n", static_cast<unsigned long long>(runs),
                    waiting / static_cast<double>(runs));
        return 0;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s [trials LINKS P Q N]\n", argv[0]);
        return 2;
    }
    for (int links : {4, 32})
        for (double p : {0.9, 0.1})
            for (double q : {1.0, 0.9}) {
                const double rate =
                    trials_per_cpu_second(chain(links, p), model_of(q), links == 4 ? 2'000'000 : 200'000);
                std::printf("%2d links, p = %.1f, q = %.1f: %6.2f M trials per CPU-second (%7.1f ns per trial)\n",
                            links, p, q, rate / 1e6, 1e9 / rate);
            }
    return 0;
}
