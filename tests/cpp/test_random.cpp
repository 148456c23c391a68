// The keyed streams against the reference ChaCha12 vectors, their fast paths against their plain ones, the
// seeds' keys and the uniform conversions.
#include <rapidjson/document.h>
#include <fstream>

#include "check.hpp"
#include "core/random/chacha12_block.hpp"
#include "core/random/keyed_stream.hpp"
#include "core/random/seeds.hpp"
#include "core/tail_count.hpp"
#include "fixtures.hpp"

using vorn::KeyedStream;
using vorn::SeedStream;
namespace chacha12 = vorn::chacha12;

static rapidjson::Document load_vectors() {
    std::stringstream text;
    text << std::ifstream(std::string(VORN_TEST_DATA) + "/chacha12.json").rdbuf();
    rapidjson::Document document;
    document.Parse<rapidjson::kParseFullPrecisionFlag>(text.str().c_str());
    CHECK(!document.HasParseError());
    return document;
}

static std::uint64_t decimal(const rapidjson::Value& value) { return std::strtoull(value.GetString(), nullptr, 10); }
static std::uint64_t hex(const rapidjson::Value& value) { return std::strtoull(value.GetString(), nullptr, 16); }

// The key's 32 bytes, each word little-endian.
static std::string hex_of(const chacha12::KeyWords& key) {
    std::string text;
    for (std::uint32_t word : key)
        for (int b = 0; b < 4; ++b) {
            const unsigned byte = word >> (8 * b) & 0xFF;
            text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
        }
    return text;
}

// A fresh stream for a vector: keyed from its seed, or all-zero when it has none.
static KeyedStream fresh(const rapidjson::Value& vector) {
    return vector["seed"].IsNull() ? KeyedStream() : fixtures::seeded(decimal(vector["seed"]));
}

// The stream `draws` of `seed` as an ensemble makes it: lane `lane` of the batch `batch` of sixteen
// consecutive seeds, keys and first blocks computed together.
template <SeedStream draws>
static KeyedStream batched(std::uint64_t seed, int batch, int lane) {
    vorn::SeedKeys<draws.key> keys(seed - static_cast<std::uint64_t>(16 * batch + lane));
    alignas(64) chacha12::LaneStates states;
    chacha12::set_counter_and_stream(states, 0, draws.stream);
    for (int b = 0; b <= batch; ++b) keys.fill(states);
    alignas(64) std::uint32_t blocks[16 * 16];
    chacha12::blocks(states, blocks);
    KeyedStream stream;
    stream.start(chacha12::key_of_lane(states, lane), draws.stream, blocks + 16 * lane);
    return stream;
}

static void check_stream(KeyedStream&& stream, const rapidjson::Value& vector) {
    for (const auto& word : vector["next_u32"].GetArray()) CHECK_EQ(stream.next_u32(), word.GetUint());
}

TEST_CASE("every vector: key bytes, 32-bit words, batched lanes across the 2^64 wrap, 64-bit and uniform draws") {
    const auto document = load_vectors();
    CHECK_EQ(document["vectors"].Size(), 10u);
    for (const auto& vector : document["vectors"].GetArray()) {
        const chacha12::KeyWords key = vector["seed"].IsNull()
                                           ? chacha12::KeyWords{}
                                           : vorn::key_words(vorn::SeedKey::Pcg, decimal(vector["seed"]));
        CHECK_EQ(hex_of(key), std::string(vector["key_hex"].GetString()));

        check_stream(fresh(vector), vector);
        if (!vector["seed"].IsNull())
            fixtures::with_each_kernel([&](const std::string&) {
                for (auto [batch, lane] : {std::pair{0, 0}, {0, 7}, {0, 15}, {2, 3}})
                    check_stream(batched<vorn::kGenerationDraws>(decimal(vector["seed"]), batch, lane), vector);
            });
        KeyedStream u64 = fresh(vector), uniform = fresh(vector);
        for (const auto& value : vector["next_u64_dec"].GetArray()) CHECK_EQ(u64.next_u64(), decimal(value));
        const auto& reprs = vector["uniform_repr"].GetArray();
        for (rapidjson::SizeType i = 0; i < reprs.Size(); ++i) {
            const double u = fixtures::next_uniform(uniform);
            CHECK_EQ(std::bit_cast<std::uint64_t>(u), hex(vector["uniform_bits_hex"][i]));
            CHECK(check::same_double(u, reprs[i].GetDouble()));
        }
    }
}

TEST_CASE("the physical model's stream of a seed: the same in any lane of any batch, across the 2^64 wrap") {
    constexpr SeedStream draws = vorn::kPhysicalModelDraws;
    for (std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{42}, ~std::uint64_t{0} - 2}) {
        KeyedStream direct(vorn::key_words(draws.key, seed), draws.stream);
        std::vector<std::uint64_t> reference;
        for (int i = 0; i < 200; ++i) reference.push_back(direct.next_u64());
        for (auto [batch, lane] : {std::pair{0, 0}, {0, 9}, {3, 15}}) {
            KeyedStream stream = batched<draws>(seed, batch, lane);
            for (std::uint64_t draw : reference) CHECK_EQ(stream.next_u64(), draw);
        }
        CHECK(fixtures::seeded(seed).next_u64() != reference[0]);  // apart from the engine's
    }
}

TEST_CASE("draws straddling a word pair read the next two words in order") {
    const auto document = load_vectors();
    for (const auto& straddle : document["straddle"].GetArray()) {
        KeyedStream u64 = fixtures::seeded(decimal(straddle["seed"])), uniform = u64;
        for (unsigned i = 0; i < straddle["skip_u32"].GetUint(); ++i) u64.next_u32(), uniform.next_u32();
        for (const auto& value : straddle["next_u64_dec"].GetArray()) CHECK_EQ(u64.next_u64(), decimal(value));
        for (const auto& bits : straddle["uniform_bits_hex"].GetArray())
            CHECK_EQ(std::bit_cast<std::uint64_t>(fixtures::next_uniform(uniform)), hex(bits));
    }
}

TEST_CASE("every kernel this CPU runs gives the vectors' words and matches the scalar one for 1 to 16 blocks") {
    const auto document = load_vectors();
    std::mt19937_64 random(7);
    for (auto [kernel, name] : fixtures::kKernels) {
        if (!chacha12::kernel_available(kernel)) {
            std::printf("     (kernel %s not available here)\n", name);
            continue;
        }
        // Blocks 0 and 1 of each vector's key as lanes 2k and 2k + 1.
        alignas(64) chacha12::LaneStates states{};
        int lane = 0;
        for (const auto& vector : document["vectors"].GetArray()) {
            if (lane == 16) break;
            const chacha12::KeyWords key = vector["seed"].IsNull()
                                               ? chacha12::KeyWords{}
                                               : vorn::key_words(vorn::SeedKey::Pcg, decimal(vector["seed"]));
            for (std::uint32_t block = 0; block < 2; ++block, ++lane) {
                for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
                for (int w = 0; w < 8; ++w) states[4 + w][lane] = key[w];
                states[12][lane] = block;
            }
        }
        alignas(64) std::uint32_t words[256];
        chacha12::blocks_with(kernel, states, words);
        const std::uint32_t* stream = words;  // the 32 words of each of the first eight vectors in turn
        for (const auto& vector : document["vectors"].GetArray()) {
            if (stream == words + 256) break;
            for (const auto& word : vector["next_u32"].GetArray()) CHECK_EQ(*stream++, word.GetUint());
        }
        for (int round = 0; round < 64; ++round) {
            for (auto& word : states)
                std::generate(std::begin(word), std::end(word), [&] { return static_cast<std::uint32_t>(random()); });
            const int count = 1 + round % 16;
            std::uint32_t expected[256], actual[256];
            std::fill(std::begin(actual), std::end(actual), 0xDEADBEEFu);
            chacha12::blocks_with(chacha12::Kernel::Scalar, states, expected, count);
            chacha12::blocks_with(kernel, states, actual, count);
            CHECK_FOR(name, std::equal(expected, expected + 16 * count, actual));
            CHECK_FOR(name,
                      std::all_of(actual + 16 * count, std::end(actual), [](auto w) { return w == 0xDEADBEEFu; }));
        }
    }
}

TEST_CASE("every kernel finds the same draws at or above their bounds") {
    std::mt19937_64 random(17);
    for (int round = 0; round < 200; ++round) {
        alignas(64) chacha12::LaneStates states;
        for (auto& word : states)
            std::generate(std::begin(word), std::end(word), [&] { return static_cast<std::uint32_t>(random()); });
        // The blocks themselves, to set some bounds at a draw's own value or one away from it.
        std::uint32_t words[256];
        chacha12::blocks_with(chacha12::Kernel::Scalar, states, words);
        chacha12::DrawBounds bounds;
        for (int i = 0; i < 8; ++i)
            for (int lane = 0; lane < 16; ++lane) {
                const std::uint64_t draw = std::uint64_t{words[16 * lane + 2 * i + 1]} << 32 | words[16 * lane + 2 * i];
                const std::uint64_t bound = random() % 2 ? random() : draw + random() % 3 - 1;
                bounds.high[i][lane] = static_cast<std::uint32_t>(bound >> 32);
                bounds.low[i][lane] = static_cast<std::uint32_t>(bound);
            }
        std::uint16_t expected[8] = {};
        for (int i = 0; i < 8; ++i)
            for (int lane = 0; lane < 16; ++lane)
                expected[i] |= static_cast<std::uint16_t>(
                    ((std::uint64_t{words[16 * lane + 2 * i + 1]} << 32 | words[16 * lane + 2 * i]) >=
                     (std::uint64_t{bounds.high[i][lane]} << 32 | bounds.low[i][lane]))
                    << lane);
        for (auto [kernel, name] : fixtures::kKernels) {
            if (!chacha12::kernel_available(kernel)) continue;
            chacha12::LaneMasks above;
            chacha12::draws_at_or_above_with(kernel, states, bounds, above);
            CHECK_FOR(name, std::equal(std::begin(above), std::end(above), expected));
        }
        const auto lanes = static_cast<std::uint32_t>(random() & 0xFFFF),
                   draws = static_cast<std::uint32_t>(random() & 0xFF);
        unsigned count = 0;
        for (int i = 0; i < 8; ++i) count += (draws >> i & 1) ? std::popcount(expected[i] & lanes) : 0;
        CHECK_EQ(chacha12::count_at_or_above(expected, lanes, draws), count);
    }
}

TEST_CASE("a long stream is the blocks of counters 0, 1, 2, ... of its key and nonce, in order") {
    for (const chacha12::KeyWords& key : {chacha12::KeyWords{}, vorn::key_words(vorn::SeedKey::Pcg, 99)}) {
        for (std::uint64_t stream : {std::uint64_t{0}, std::uint64_t{1}, (std::uint64_t{5} << 32) | 3}) {
            KeyedStream generator(key, stream);
            for (std::uint64_t block = 0; block < 20; ++block) {
                chacha12::LaneStates states{};
                for (int w = 0; w < 4; ++w) states[w][0] = chacha12::kSigma[w];
                for (int w = 0; w < 8; ++w) states[4 + w][0] = key[w];
                states[12][0] = static_cast<std::uint32_t>(block);
                states[14][0] = static_cast<std::uint32_t>(stream);
                states[15][0] = static_cast<std::uint32_t>(stream >> 32);
                std::uint32_t words[16];
                chacha12::blocks_with(chacha12::Kernel::Scalar, states, words, 1);
                for (int w = 0; w < 16; ++w) CHECK_EQ(generator.next_u32(), words[w]);
            }
        }
    }
}

TEST_CASE("closed_uniform_below splits the fractions exactly where the uniform value reaches p") {
    const struct {
        double p;
        std::uint64_t expected;
    } cases[] = {
        // clang-format off
        {-1.0, 0}, {0.0, 0}, {kNaN, 0}, {0x1p-60, 1}, {0.5, std::uint64_t{1} << 51},
        {1.0, (std::uint64_t{1} << 52) - 1},  // the largest fraction scales up to exactly 1.0
        {1.0000000000000002, std::uint64_t{1} << 52}, {kInf, std::uint64_t{1} << 52},
        // clang-format on
    };
    for (const auto& c : cases) CHECK_EQ(vorn::closed_uniform_below(c.p), c.expected);

    std::mt19937_64 random(11);
    // The documented probabilities, any p, and p hitting a uniform value exactly: the split lies between two
    // neighbouring fractions.
    std::vector<double> ps = {0.95, 0.8875, 0.98, 0.5081, 0.1, 1e-9, 0.9999999999999999};
    for (int i = 0; i < 100000; ++i)
        ps.push_back(i % 2 ? std::uniform_real_distribution<double>(0.0, 1.0)(random) : vorn::closed_uniform(random()));
    for (double p : ps) {
        const std::uint64_t below = vorn::closed_uniform_below(p);
        if (below > 0 && !(vorn::closed_uniform((below - 1) << 12) < p)) CHECK(!"split too high");
        if (below < (std::uint64_t{1} << 52) && vorn::closed_uniform(below << 12) < p) CHECK(!"split too low");
    }
}

// Failures among `cycles` cycles of draws from `generator`, one draw at a time.
static std::uint64_t failures_one_by_one(KeyedStream generator, const std::vector<std::uint64_t>& thresholds,
                                         std::uint64_t cycles) {
    std::uint64_t failed = 0;
    for (std::uint64_t c = 0; c < cycles; ++c)
        for (std::uint64_t threshold : thresholds) failed += (generator.next_u64() >> 12) >= threshold;
    return failed;
}

static void check_tails(const std::string& kernel) {
    std::mt19937_64 random(5);
    vorn::InterruptionPoll poll(nullptr, 1);
    for (std::size_t hops : {1, 2, 3, 4, 5, 8, 9, 40, 64, 65, 70}) {
        std::vector<std::uint64_t> thresholds(hops);
        for (auto& t : thresholds) t = vorn::closed_uniform_below(0.3 + 0.65 * (random() % 1000) / 1000.0);
        const vorn::AttemptThresholds table(thresholds);
        // Many tails at once, so that lanes mix keys and offsets: from a key and a draw, and from a
        // generator partway through its words (one word off the draws' pairs included).
        vorn::TailCounter tails(table, poll);
        std::uint64_t expected = 0;
        for (int job = 0; job < 12; ++job) {
            const std::uint64_t seed = random(), cycles = random() % 60, skipped = random() % 150;
            KeyedStream generator = fixtures::seeded(seed);
            if (job % 3 == 2) generator.next_u32();
            for (std::uint64_t i = 0; i < skipped; ++i) generator.next_u64();
            expected += failures_one_by_one(generator, thresholds, cycles);
            if (job % 3 == 0)
                tails.add(vorn::key_words(vorn::SeedKey::Pcg, seed), skipped, cycles);
            else
                tails.add(generator, cycles);
        }
        tails.flush();
        CHECK_FOR(kernel + ", " + std::to_string(hops) + " hops", tails.failures() == expected);
    }
}

TEST_CASE("tails counted in bulk count the failures one-by-one comparison counts, with every kernel") {
    fixtures::with_each_kernel([](const std::string& kernel) { check_tails(kernel); });
}

CHECK_MAIN()
