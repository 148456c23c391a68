// Small builders and the request scenarios shared by the timeline, ensemble and prepared-request tests.
#pragma once

#include "check.hpp"
#include "core/network.hpp"
#include "core/random/chacha12_block.hpp"
#include "core/random/keyed_stream.hpp"
#include "core/random/seeds.hpp"
#include "core/request.hpp"

namespace fixtures {

using vorn::KeyedStream;

// The generation draws of `seed`, as ensemble trial i of seed s - i uses them.
inline KeyedStream seeded(std::uint64_t seed) {
    return KeyedStream(vorn::key_words(vorn::kGenerationDraws.key, seed), vorn::kGenerationDraws.stream);
}

// A uniform draw in [0, 1], as the timeline's rules take it.
inline double next_uniform(KeyedStream& draws) { return vorn::closed_uniform(draws.next_u64()); }

inline vorn::SimulationConfig config_with(double purify_factor, double cutoff_ms = 5000.0) {
    vorn::SimulationConfig config = vorn::SimulationConfig::engine_default();
    config.physical.baseline_purify_factor = purify_factor;
    config.total_time_cutoff_ms = cutoff_ms;
    return config;
}

// Links (from, to, km, fidelity) at 800 Hz, their end nodes in the node table.
using Links = std::vector<std::tuple<std::string, std::string, double, double>>;
inline vorn::QuantumNetwork network_of(const Links& links) {
    vorn::QuantumNetwork network;
    for (const auto& [a, b, km, f] : links) network.add_node(a, 1.0), network.add_node(b, 1.0);
    for (const auto& [a, b, km, f] : links) network.add_link(a, b, vorn::LinkType::Fiber, km, f, 800.0);
    return network;
}

// N0 - N1 - ... with equal links; `names` renames the nodes.
inline vorn::QuantumNetwork chain(int nodes, double km, double fidelity, std::vector<std::string> names = {}) {
    for (int i = static_cast<int>(names.size()); i < nodes; ++i) names.push_back("N" + std::to_string(i));
    vorn::QuantumNetwork network;
    network.add_node(names[0], 1.0);
    for (int i = 0; i + 1 < nodes; ++i) {
        network.add_node(names[i + 1], 1.0);
        network.add_link(names[i], names[i + 1], vorn::LinkType::Fiber, km, fidelity, 800.0);
    }
    return network;
}

// A chain of one to six nodes with random figures, and a LowestLatency request across it.
inline std::pair<vorn::QuantumNetwork, vorn::EntanglementRequest> random_chain(std::mt19937_64& random, double bound) {
    auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    const int nodes = 1 + static_cast<int>(random() % 6);
    vorn::QuantumNetwork network;
    network.add_node("N0", 1.0);
    for (int n = 0; n + 1 < nodes; ++n) {
        network.add_node("N" + std::to_string(n + 1), 1.0);
        network.add_link("N" + std::to_string(n), "N" + std::to_string(n + 1), vorn::LinkType::Fiber, uniform(0, 300),
                         uniform(0.5, 1.0), 800.0);
    }
    return {network,
            {"N0", "N" + std::to_string(nodes - 1), uniform(0.5, 1.0), bound, vorn::StrategyType::LowestLatency}};
}

// Requests that reach each branch of the cycles: refusals, one link, purification, fallback, cut-offs.
struct Scenario {
    std::string name;
    vorn::QuantumNetwork network;
    vorn::EntanglementRequest request;
    vorn::SimulationConfig config;
};
inline std::vector<Scenario> scenarios() {
    const auto engine = vorn::SimulationConfig::engine_default();
    const auto fidelity = vorn::StrategyType::HighestFidelity;
    return {
        {"repeater chain", chain(4, 100, 0.92), {"N0", "N3", 0.8, 100.0, fidelity}, engine},
        {"one link, purified", chain(2, 250, 0.7), {"N0", "N1", 0.8, 30.0, {}}, engine},
        {"one link at 0.5, never purified", chain(2, 10, 0.5), {"N0", "N1", 0.7, 20.0, {}}, engine},
        {"to itself", chain(2, 1, 0.9), {"N1", "N1", 1.0, 5.0, {}}, engine},
        {"no route", chain(2, 1, 0.9), {"N0", "X", 0.8, 5.0, {}}, engine},
        {"refused: fidelity", chain(2, 1, 0.3), {"N0", "N1", 0.9, 5.0, {}}, engine},
        {"refused: propagation", chain(3, 300, 0.9), {"N0", "N2", 0.8, 1.0, {}}, engine},
        {"refused: zero bound", chain(3, 0, 0.9), {"N0", "N2", 0.8, 0.0, {}}, engine},
        {"negative purify factor", chain(3, 0, 0.95), {"N0", "N2", 0.9, 20.0, {}}, config_with(-0.1)},
        {"cut-off below the bound", chain(5, 60, 0.97), {"N0", "N4", 0.85, 100.0, {}}, config_with(0.12, 12.0)},
        {"zero cut-off", chain(2, 0, 0.9), {"N0", "N1", 0.8, 10.0, {}}, config_with(0.12, 0.0)},
        {"hop keys that read alike", chain(4, 5, 0.99, {"a", "b->c", "a->b", "c"}), {"a", "c", 0.9, 10.0, {}}, engine},
        {"parallel links: the first joins",
         network_of({{"A", "B", 10, 0.9}, {"B", "A", 900, 0.6}, {"B", "C", 10, 0.9}}),
         {"A", "C", 0.8, 50.0, vorn::StrategyType::LowestLatency},
         engine},
        {"fallback route",
         network_of({{"A", "B", 100, 0.6}, {"A", "C", 1, 0.8}, {"C", "B", 1, 0.8}}),
         {"A", "B", 0.7, 50.0, fidelity},
         engine},
    };
}

// Every kernel of the block function, with its name.
inline constexpr std::pair<vorn::chacha12::Kernel, const char*> kKernels[] = {
    {vorn::chacha12::Kernel::Scalar, "scalar"},
    {vorn::chacha12::Kernel::Sse2, "sse2"},
    {vorn::chacha12::Kernel::Avx2, "avx2"},
    {vorn::chacha12::Kernel::Avx512, "avx512"}};

// Runs `body` once with each kernel this CPU runs made the active one (chacha12::use_kernel), with the
// kernel's name; the best kernel is active again afterwards.
template <class Body>
void with_each_kernel(Body body) {
    for (auto [kernel, name] : kKernels) {
        if (!vorn::chacha12::kernel_available(kernel)) continue;
        vorn::chacha12::use_kernel(kernel);
        body(std::string(name));
    }
    vorn::chacha12::use_kernel(vorn::chacha12::best_kernel());
}

inline bool same_result(const vorn::SimulationResult& a, const vorn::SimulationResult& b) {
    return a.success == b.success && check::same_double(a.latency_ms, b.latency_ms) &&
           check::same_double(a.final_fidelity, b.final_fidelity) && a.execution_path == b.execution_path;
}

}  // namespace fixtures
