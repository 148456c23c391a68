#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "check.hpp"
#include "files/atomic_write.hpp"
#include "files/json_writer.hpp"
#include "files/vorn_bridge.hpp"
#include "files/vorn_io.hpp"

using namespace vorn::files;

namespace {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/vorn_io_test_XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(path_.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
            ::closedir(dir);
        }
        return names;
    }

private:
    std::string path_;
};

void write_raw(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string read_raw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

const char* const kValid = R"({"version": "1.0", "metadata": {"name": "net"},
  "nodes": [{"id": "A", "memory_lifetime_ms": 1500}, {"id": "B"}],
  "links": [{"from": "A", "to": "B", "distance_km": 10, "base_fidelity": 0.9, "generation_rate_hz": 1000}],
  "extensions": {"custom": 1}})";

std::string error_text(const Result<VornFile>& result) { return result.ok() ? "(loaded)" : result.error().text(); }

}  // namespace

TEST_CASE("loading stops at the first failing step") {
    TempDir dir;
    write_raw(dir / "valid.vorn", kValid);
    write_raw(dir / "v2.vorn", R"({"version": "2.0", "metadata": {"name": "n"}, "nodes": [{"id": "A"}, {"id": "A"}], "links": []})");
    write_raw(dir / "v100.vorn", R"({"version": "1.00", "metadata": {"name": "n"}, "nodes": [], "links": []})");
    write_raw(dir / "dup.vorn", R"({"version": "1.0", "metadata": {"name": "n"}, "nodes": [{"id": "A"}, {"id": "A"}], "links": [
      {"from": "A", "to": "A", "distance_km": 1, "base_fidelity": 1, "generation_rate_hz": 1}]})");
    write_raw(dir / "comma.vorn", "{\"version\": \"1.0\", \"metadata\": {\"name\": \"n\"},\n \"nodes\": [{\"id\": \"A\"},],\n \"links\": []}");
    write_raw(dir / "empty.vorn", "");
    write_raw(dir / "latin1.vorn", "{\"version\": \"1.0\", \"metadata\": {\"name\": \"caf\xE9\"}, \"nodes\": [], \"links\": []}");
    ::mkdir((dir / "folder.vorn").c_str(), 0755);

    struct Row {
        std::string name;
        std::string text;
    };
    const Row rows[] = {
        {"missing.vorn", "IO error: No such file or directory"},
        {"folder.vorn", "IO error: Is a directory"},
        {"latin1.vorn", "IO error: file is not valid UTF-8 (byte offset 44)"},
        {"empty.vorn", "JSON parse error: The document is empty at line 1 column 1"},
        {"comma.vorn", "JSON parse error: Invalid value at line 2 column 24"},
        {"v2.vorn", "Unsupported vorn version: 2.0"},
        {"v100.vorn", "Unsupported vorn version: 1.00"},
        {"dup.vorn", "Validation failed:\nValidation failed.\n\nErrors:\n   - Duplicate node ID: A\n"
                     "   - Self-loop detected in link 'unknown'\n   - Graph is disconnected with 2 components\n"},
    };
    for (const Row& row : rows) CHECK_EQ(error_text(load_vorn_file(dir / row.name)), row.text);

    const Result<VornFile> refused = load_vorn_file(dir / "dup.vorn");
    CHECK(!refused.ok() && refused.error().validation && refused.error().validation->errors.size() == 3);

    const Result<VornFile> loaded = load_vorn_file(dir / "valid.vorn");
    CHECK(loaded.ok());
    if (loaded.ok()) {
        CHECK_EQ(loaded.value().nodes.size(), 2u);
        CHECK(loaded.value().extensions->custom == JsonValue::integer(1));
    }
}

TEST_CASE("UTF-8 checking of file text") {
    struct Row {
        std::string text;
        std::optional<std::size_t> bad;
    };
    const Row rows[] = {
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", std::nullopt},
        {"abcdefgh\x80", 8},
        {"a\xC0\x80", 1},            // overlong NUL
        {"ab\xE0\x9F\xBF", 2},       // overlong three-byte form
        {"\xED\xA0\x80", 0},         // surrogate
        {"xyz\xF4\x90\x80\x80", 3},  // above U+10FFFF
        {"ok\xE2\x82", 2},           // cut short
    };
    for (const Row& row : rows) CHECK(first_invalid_utf8(row.text) == row.bad);
}

TEST_CASE("saving writes the exact text, replacing the file whole") {
    TempDir dir;
    const std::string path = dir / "net.vorn";
    CHECK(save_vorn_file(path, VornFile::named("net")).ok());
    CHECK_EQ(read_raw(path), std::string("{\n  \"version\": \"1.0\",\n  \"metadata\": {\n    \"name\": \"net\"\n  },\n"
                                         "  \"nodes\": [],\n  \"links\": []\n}"));

    // Saving does not validate, and what it wrote loads back as the same records when valid.
    VornFile file = VornFile::named("n");
    file.nodes.push_back({"A", 1000.0, 2u, VornNodeType::Repeater});
    file.nodes.push_back({"B", {}, {}, {}});
    file.links.push_back({"", "A", "B", 10.0, 0.9, 1e3, VornLinkType::Fiber, {}});
    CHECK(save_vorn_file(path, file).ok());
    const Result<VornFile> back = load_vorn_file(path);
    CHECK(back.ok() && back.value() == file);
    CHECK(read_raw(path).find("\"id\": \"\"") != std::string::npos);

    file.nodes.push_back({"A", {}, {}, {}});
    CHECK(save_vorn_file(path, file).ok());
    CHECK_EQ(error_text(load_vorn_file(path)).rfind("Validation failed:\n", 0), 0u);

    // Permission bits of the replaced file are kept; no temporary file is left behind.
    ::chmod(path.c_str(), 0640);
    CHECK(save_vorn_file(path, VornFile::named("again")).ok());
    struct stat info {};
    ::stat(path.c_str(), &info);
    CHECK_EQ(info.st_mode & 0777, 0640u);
    CHECK(dir.entries() == std::vector<std::string>{"net.vorn"});
}

TEST_CASE("saving through a symbolic link replaces the link's target") {
    TempDir dir;
    ::mkdir((dir / "real").c_str(), 0755);
    write_raw(dir / "real/net.vorn", "old");
    CHECK_EQ(::symlink("real/net.vorn", (dir / "link.vorn").c_str()), 0);
    CHECK(save_vorn_file(dir / "link.vorn", VornFile::named("n")).ok());
    struct stat info {};
    CHECK_EQ(::lstat((dir / "link.vorn").c_str(), &info), 0);
    CHECK(S_ISLNK(info.st_mode));
    CHECK(load_vorn_file(dir / "real/net.vorn").ok());
}

TEST_CASE("a failed save leaves the old file intact and no temporary file") {
    TempDir dir;
    const std::string old_text = "previous content";
    write_raw(dir / "net.vorn", old_text);
    write_raw(dir / "plain", "x");
    ::mkdir((dir / "folder.vorn").c_str(), 0755);

    struct Row {
        std::string path;
        std::string text;
    };
    const Row rows[] = {
        {dir / "folder.vorn", "IO error: Is a directory"},
        {dir / "absent/net.vorn", "IO error: No such file or directory"},
        {dir / "plain/net.vorn", "IO error: Not a directory"},
    };
    for (const Row& row : rows) {
        const Result<void> saved = save_vorn_file(row.path, VornFile::named("n"));
        CHECK(!saved.ok());
        if (!saved.ok()) CHECK_EQ(saved.error().text(), row.text);
    }

    // A write that fails midway: the file size limit makes write() fail with EFBIG.
    VornFile big = VornFile::named("big");
    for (int i = 0; i < 2000; ++i) big.nodes.push_back({"node-" + std::to_string(i), {}, {}, {}});
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved_limit {};
    ::getrlimit(RLIMIT_FSIZE, &saved_limit);
    rlimit small = saved_limit;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const Result<void> too_big = save_vorn_file(dir / "net.vorn", big);
    ::setrlimit(RLIMIT_FSIZE, &saved_limit);
    CHECK(!too_big.ok());
    if (!too_big.ok()) CHECK_EQ(too_big.error().text(), std::string("IO error: File too large"));

    CHECK_EQ(read_raw(dir / "net.vorn"), old_text);
    std::vector<std::string> entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    CHECK(entries == (std::vector<std::string>{"folder.vorn", "net.vorn", "plain"}));

    // Without write permission on the directory (meaningless for root, which bypasses it).
    if (::geteuid() != 0) {
        ::mkdir((dir / "locked").c_str(), 0755);
        write_raw(dir / "locked/net.vorn", old_text);
        ::chmod((dir / "locked").c_str(), 0555);
        const Result<void> denied = save_vorn_file(dir / "locked/net.vorn", big);
        ::chmod((dir / "locked").c_str(), 0755);
        CHECK(!denied.ok());
        if (!denied.ok()) CHECK_EQ(denied.error().text(), std::string("IO error: Permission denied"));
        CHECK_EQ(read_raw(dir / "locked/net.vorn"), old_text);
    }
}

TEST_CASE("the atomic writer on its own") {
    TempDir dir;
    const std::string path = dir / "data";
    CHECK(!write_file_atomically(path, std::string("a\0b", 3)));
    CHECK_EQ(read_raw(path), std::string("a\0b", 3));
    CHECK(!write_file_atomically(path, ""));
    CHECK_EQ(read_raw(path), std::string());
    const std::error_code error = write_file_atomically(dir.path(), "x");
    CHECK(error == std::errc::is_a_directory);
}

TEST_CASE("a file as engine records") {
    VornFile file = VornFile::named("n");
    file.nodes.push_back({"A", 1500.0, 3u, VornNodeType::Satellite});
    file.nodes.push_back({"B", {}, {}, {}});
    file.links.push_back({"L1", "A", "B", 10.0, 0.9, 1000.0, {}, {}});
    file.links.push_back({{}, "B", "A", 500.0, 0.8, 10.0, VornLinkType::Satellite, VornSatelliteExtension{0.5, 0.25}});
    file.links.push_back({{}, "A", "B", 1.0, 1.0, 1.0, VornLinkType::Fiber, VornSatelliteExtension{}});
    const vorn::NetworkTopologyPayload payload = network_definitions_from_vorn(file);
    CHECK(payload.nodes.size() == 2 && payload.nodes[0].memory_lifetime_t2 == 1.5 && payload.nodes[1].memory_lifetime_t2 == 1.0);
    CHECK(payload.links.size() == 3 && payload.links[1].from_node == "B" && payload.links[1].distance_km == 500.0);
    CHECK(payload.links[0].link_type == vorn::LinkType::Fiber && !payload.links[0].satellite_conditions);
    CHECK(payload.links[1].link_type == vorn::LinkType::Satellite && payload.links[1].satellite_conditions &&
          payload.links[1].satellite_conditions->weather_factor == 0.25);
    CHECK(payload.links[2].link_type == vorn::LinkType::Fiber && payload.links[2].satellite_conditions);

    struct Row {
        std::optional<VornConfig> config;
        double purify;
        double cutoff;
    };
    const Row rows[] = {
        {std::nullopt, 0.12, 5000.0},
        {VornConfig{{}, 0.5, 0.5, 20u}, 0.22, 1000.0},
        {VornConfig{2.0, {}, {}, {}}, 0.2, 5000.0},
    };
    for (const Row& row : rows) {
        file.config = row.config;
        const vorn::SimulationConfig config = simulation_config_from_vorn(file);
        CHECK_EQ(config.physical.baseline_purify_factor, row.purify);
        CHECK_EQ(config.total_time_cutoff_ms, row.cutoff);
        CHECK_EQ(config.physical.speed_of_light_in_fiber_km_ms, 200.0);
        CHECK_EQ(config.step_resolution_ms, 0.1);
    }
}

CHECK_MAIN()
