// The records the engine is given for a file: what Python cannot see of them (link types, satellite conditions and
// the configuration). Loading and saving, atomic replacement included, are tested from Python.
#include "check.hpp"
#include "files/vorn_bridge.hpp"

using namespace vorn::files;

TEST_CASE("a file as engine records") {
    VornFile file = VornFile::named("n");
    file.nodes.push_back({"A", 1500.0, 3u, VornNodeType::Satellite});
    file.links.push_back({"L1", {"A", "B", 10.0, 0.9, 1000.0}, {}, {}});
    file.links.push_back(
        {{}, {"B", "A", 500.0, 0.8, 10.0}, VornLinkType::Satellite, VornSatelliteExtension{{0.5, 0.25}}});
    file.links.push_back({{}, {"A", "B", 1.0, 1.0, 1.0}, VornLinkType::Fiber, VornSatelliteExtension{}});
    const vorn::NetworkTopologyPayload payload = network_definitions_from_vorn(file);
    CHECK(payload.links.size() == 3);
    CHECK(payload.links[0].link_type == vorn::LinkType::Fiber && !payload.links[0].satellite_conditions);
    CHECK(payload.links[1].link_type == vorn::LinkType::Satellite && payload.links[1].satellite_conditions &&
          payload.links[1].satellite_conditions->weather_factor == 0.25);
    CHECK(payload.links[2].link_type == vorn::LinkType::Fiber && payload.links[2].satellite_conditions);

    // The configuration: none, one without alpha_loss, one without max_attempts.
    const std::tuple<std::optional<VornConfig>, double, double> rows[] = {
        {std::nullopt, 0.12, 5000.0},
        {VornConfig{{}, 0.5, 0.5, 20u}, 0.22, 1000.0},
        {VornConfig{2.0, {}, {}, {}}, 0.2, 5000.0},
    };
    for (const auto& [section, purify, cutoff] : rows) {
        file.config = section;
        const vorn::SimulationConfig config = simulation_config_from_vorn(file);
        CHECK_EQ(config.physical.baseline_purify_factor, purify);
        CHECK_EQ(config.total_time_cutoff_ms, cutoff);
        CHECK_EQ(config.physical.speed_of_light_in_fiber_km_ms, 200.0);
        CHECK_EQ(config.step_resolution_ms, 0.1);
    }
}

CHECK_MAIN()
