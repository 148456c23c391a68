// Small builders shared by the timeline and ensemble tests.
#pragma once

#include "core/network.hpp"
#include "core/request_generator.hpp"

namespace fixtures {

// The generator keyed from `seed`, as ensemble trial i of seed s - i uses it.
inline vorn::RequestGenerator seeded(std::uint64_t seed) {
    return vorn::RequestGenerator(vorn::RequestGenerator::key_from_seed(seed));
}

// A uniform draw in [0, 1], as the timeline's rules take it.
inline double next_uniform(vorn::RequestGenerator& generator) {
    return vorn::RequestGenerator::uniform_from_bits(generator.next_u64());
}

inline vorn::SimulationConfig config_with(double purify_factor, double cutoff_ms = 5000.0) {
    vorn::SimulationConfig config = vorn::SimulationConfig::engine_default();
    config.physical.baseline_purify_factor = purify_factor;
    config.total_time_cutoff_ms = cutoff_ms;
    return config;
}

}  // namespace fixtures
