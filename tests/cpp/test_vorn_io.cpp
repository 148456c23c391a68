// Saving failures that are awkward to cause from Python, the atomic writer on its own, and the records the engine
// is given. Loading and saving as users see them are tested from Python.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>

#include "check.hpp"
#include "files/text_file.hpp"
#include "files/vorn_bridge.hpp"
#include "files/vorn_io.hpp"

using namespace vorn::files;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("vorn_io_test_" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::string read_raw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST_CASE("a write failing midway leaves the old file intact and no temporary file") {
    TempDir dir;
    const std::string path = dir / "net.vorn";
    std::ofstream(path) << "previous content";
    VornFile big = VornFile::named("big");
    for (int i = 0; i < 2000; ++i) big.nodes.push_back({"node-" + std::to_string(i), {}, {}, {}});

    // The file size limit makes write() fail with EFBIG once the temporary file reaches it.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved_limit {};
    ::getrlimit(RLIMIT_FSIZE, &saved_limit);
    rlimit small = saved_limit;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const Result<void> saved = save_vorn_file(path, big);
    ::setrlimit(RLIMIT_FSIZE, &saved_limit);

    CHECK(!saved.ok());
    if (!saved.ok()) CHECK_EQ(saved.error().text(), std::string("IO error: File too large"));
    CHECK_EQ(read_raw(path), std::string("previous content"));
    CHECK_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST_CASE("the file writer writes any bytes") {
    TempDir dir;
    const std::string path = dir / "data";
    for (const std::string& content : {std::string("a\0b", 3), std::string()}) {
        CHECK(!write_text_file(path, content));
        CHECK_EQ(read_raw(path), content);
    }
}

TEST_CASE("a file as engine records") {
    VornFile file = VornFile::named("n");
    file.nodes.push_back({"A", 1500.0, 3u, VornNodeType::Satellite});
    file.nodes.push_back({"B", {}, {}, {}});
    file.links.push_back({{"A", "B", 10.0, 0.9, 1000.0}, "L1", {}, {}});
    file.links.push_back({{"B", "A", 500.0, 0.8, 10.0}, {}, VornLinkType::Satellite, VornSatelliteExtension{{0.5, 0.25}}});
    file.links.push_back({{"A", "B", 1.0, 1.0, 1.0}, {}, VornLinkType::Fiber, VornSatelliteExtension{}});
    const vorn::NetworkTopologyPayload payload = network_definitions_from_vorn(file);
    CHECK(payload.nodes.size() == 2 && payload.nodes[0].memory_lifetime_t2 == 1.5 &&
          payload.nodes[1].memory_lifetime_t2 == 1.0);
    CHECK(payload.links.size() == 3 && payload.links[1].from == "B" && payload.links[1].distance_km == 500.0);
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
