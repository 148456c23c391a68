// Load throughput at growing sizes, printed for a reader to judge (roughly constant MB/s means
// linear); nothing here is timed against a limit.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <unistd.h>

#include "check.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"
#include "files/validation.hpp"
#include "files/vorn_io.hpp"

using namespace vorn::files;

namespace {

// A connected network: a ring through every node plus random chords, with every optional field
// of nodes and links present on some of them.
VornFile generate_network(std::size_t node_count, std::size_t link_count, unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VornFile file = VornFile::named("generated " + std::to_string(node_count));
    file.metadata.description = "ring with chords";
    file.nodes.reserve(node_count);
    for (std::size_t i = 0; i < node_count; ++i) {
        VornNode node{"node-" + std::to_string(i), {}, {}, {}};
        if (i % 2 == 0) node.memory_lifetime_ms = 100.0 + 1000.0 * unit(random);
        if (i % 3 == 0) node.memory_capacity = static_cast<std::uint32_t>(i % 64);
        if (i % 5 == 0) node.node_type = static_cast<VornNodeType>(i % 3);
        file.nodes.push_back(std::move(node));
    }
    file.links.reserve(link_count);
    for (std::size_t i = 0; i < link_count; ++i) {
        const std::size_t from = i < node_count ? i : random() % node_count;
        std::size_t to = i < node_count ? (i + 1) % node_count : random() % node_count;
        if (to == from) to = (from + 1) % node_count;
        VornLink link{"link-" + std::to_string(i), file.nodes[from].id, file.nodes[to].id,
                      1.0 + 100.0 * unit(random), 0.5 + 0.5 * unit(random), 1e3 + 1e6 * unit(random), {}, {}};
        if (i % 7 == 0) {
            link.link_type = VornLinkType::Satellite;
            link.satellite = VornSatelliteExtension{unit(random), unit(random)};
        }
        file.links.push_back(std::move(link));
    }
    file.config = VornConfig{0.2, 0.01, 0.9, 100u};
    return file;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_CASE("loading a large file grows linearly") {
    const std::string path = "/tmp/vorn_scale_" + std::to_string(::getpid()) + ".vorn";
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t scales[] = {16, 8};  // figures mean nothing under the sanitizers; keep the run short
#else
    const std::size_t scales[] = {4, 2, 1};
#endif
    for (const std::size_t scale : scales) {
        const std::size_t nodes = 100000 / scale, links = 300000 / scale;
        const VornFile file = generate_network(nodes, links, 42);

        auto start = std::chrono::steady_clock::now();
        const Result<void> saved = save_vorn_file(path, file);
        const double save_s = seconds_since(start);
        CHECK(saved.ok());

        start = std::chrono::steady_clock::now();
        const Result<std::string> text = read_text_file(path);
        const double read_s = seconds_since(start);
        CHECK(text.ok());
        if (!text.ok()) break;
        const double mb = static_cast<double>(text.value().size()) / 1e6;

        start = std::chrono::steady_clock::now();
        const Result<VornFile> parsed = read_vorn_json(text.value());
        const double parse_s = seconds_since(start);

        start = std::chrono::steady_clock::now();
        const ValidationResult validation = parsed.ok() ? validate_all(parsed.value()) : ValidationResult{};
        const double validate_s = seconds_since(start);

        start = std::chrono::steady_clock::now();
        const Result<VornFile> loaded = load_vorn_file(path);
        const double load_s = seconds_since(start);

        CHECK(parsed.ok() && parsed.value() == file);
        CHECK(validation.valid);
        CHECK(loaded.ok() && loaded.value().links.size() == links);
        std::printf("  %6zu nodes %6zu links  %6.1f MB  save %5.0f MB/s  read %6.0f MB/s  parse %5.0f MB/s  "
                    "validate %5.3f s  load %5.3f s (%4.0f MB/s)\n",
                    nodes, links, mb, mb / save_s, mb / read_s, mb / parse_s, validate_s, load_s, mb / load_s);
    }
    std::remove(path.c_str());
}

CHECK_MAIN()
