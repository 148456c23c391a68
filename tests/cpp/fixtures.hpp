// Small builders shared by the timeline and ensemble tests.
#pragma once

#include "core/network.hpp"

namespace fixtures {

inline vorn::SimulationConfig config_with(double purify_factor, double cutoff_ms = 5000.0) {
    vorn::SimulationConfig config = vorn::SimulationConfig::engine_default();
    config.physical.baseline_purify_factor = purify_factor;
    config.total_time_cutoff_ms = cutoff_ms;
    return config;
}

}  // namespace fixtures
