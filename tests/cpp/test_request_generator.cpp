// The request generator against the reference ChaCha12 vectors, and its fast paths against its plain ones.
#include <rapidjson/document.h>
#include <fstream>

#include "check.hpp"
#include "core/chacha12_block.hpp"
#include "core/request_generator.hpp"
#include "fixtures.hpp"

using vorn::RequestGenerator;
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

static std::string hex_of(const RequestGenerator::Key& key) {
    std::string text;
    for (auto b : key) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
    return text;
}

// A fresh generator for a vector: keyed from its seed, or all-zero when it has none.
static RequestGenerator fresh(const rapidjson::Value& vector) {
    return vector["seed"].IsNull() ? RequestGenerator() : fixtures::seeded(decimal(vector["seed"]));
}

// The same generator obtained through the batched constructor, as lane `lane` of eight.
static RequestGenerator batched(std::uint64_t seed, int lane) {
    std::array<RequestGenerator, 8> generators;
    RequestGenerator::from_consecutive_seeds(seed - static_cast<std::uint64_t>(lane), generators);
    return generators[lane];
}

static void check_stream(RequestGenerator&& generator, const rapidjson::Value& vector) {
    for (const auto& word : vector["next_u32"].GetArray()) CHECK_EQ(generator.next_u32(), word.GetUint());
}

TEST_CASE("every vector: key bytes, 32-bit words, batched lanes across the 2^64 wrap, 64-bit and uniform draws") {
    const auto document = load_vectors();
    CHECK_EQ(document["vectors"].Size(), 10u);
    for (const auto& vector : document["vectors"].GetArray()) {
        const RequestGenerator::Key key = vector["seed"].IsNull()
                                              ? RequestGenerator::Key{}
                                              : RequestGenerator::key_from_seed(decimal(vector["seed"]));
        CHECK_EQ(hex_of(key), std::string(vector["key_hex"].GetString()));

        check_stream(fresh(vector), vector);
        if (!vector["seed"].IsNull())
            for (int lane : {0, 3, 7}) check_stream(batched(decimal(vector["seed"]), lane), vector);
        RequestGenerator u64 = fresh(vector), uniform = fresh(vector);
        for (const auto& value : vector["next_u64_dec"].GetArray()) CHECK_EQ(u64.next_u64(), decimal(value));
        const auto& reprs = vector["uniform_repr"].GetArray();
        for (rapidjson::SizeType i = 0; i < reprs.Size(); ++i) {
            const double u = fixtures::next_uniform(uniform);
            CHECK_EQ(std::bit_cast<std::uint64_t>(u), hex(vector["uniform_bits_hex"][i]));
            CHECK(check::same_double(u, reprs[i].GetDouble()));
        }
    }
}

TEST_CASE("draws straddling a word pair read the next two words in order") {
    const auto document = load_vectors();
    for (const auto& straddle : document["straddle"].GetArray()) {
        RequestGenerator u64 = fixtures::seeded(decimal(straddle["seed"])), uniform = u64;
        for (unsigned i = 0; i < straddle["skip_u32"].GetUint(); ++i) u64.next_u32(), uniform.next_u32();
        for (const auto& value : straddle["next_u64_dec"].GetArray()) CHECK_EQ(u64.next_u64(), decimal(value));
        for (const auto& bits : straddle["uniform_bits_hex"].GetArray())
            CHECK_EQ(std::bit_cast<std::uint64_t>(fixtures::next_uniform(uniform)), hex(bits));
    }
}

TEST_CASE("every kernel this CPU runs matches the scalar one") {
    std::mt19937_64 random(7);
    for (auto [kernel, name] : {std::pair{chacha12::Kernel::Sse2, "sse2"}, std::pair{chacha12::Kernel::Avx2, "avx2"}}) {
        if (!chacha12::kernel_available(kernel)) {
            std::printf("     (kernel %s not available here)\n", name);
            continue;
        }
        for (int round = 0; round < 50; ++round) {
            chacha12::LaneStates states;
            for (auto& word : states)
                std::generate(std::begin(word), std::end(word), [&] { return static_cast<std::uint32_t>(random()); });
            std::uint32_t expected[128], actual[128];
            chacha12::blocks_with(chacha12::Kernel::Scalar, states, expected);
            chacha12::blocks_with(kernel, states, actual);
            CHECK(std::equal(expected, expected + 128, actual));
        }
    }
}

TEST_CASE("a long stream is the blocks of counters 0, 1, 2, ... of its key and nonce, in order") {
    for (const RequestGenerator::Key& key : {RequestGenerator::Key{}, RequestGenerator::key_from_seed(99)}) {
        for (std::uint64_t stream : {std::uint64_t{0}, std::uint64_t{1}, (std::uint64_t{5} << 32) | 3}) {
            RequestGenerator generator(key, stream);
            for (std::uint64_t block = 0; block < 20; ++block) {
                chacha12::LaneStates states{};
                for (int w = 0; w < 4; ++w) states[w][0] = chacha12::kSigma[w];
                for (int w = 0; w < 8; ++w)
                    for (int b = 0; b < 4; ++b) states[4 + w][0] |= std::uint32_t{key[4 * w + b]} << (8 * b);
                states[12][0] = static_cast<std::uint32_t>(block);
                states[14][0] = static_cast<std::uint32_t>(stream);
                states[15][0] = static_cast<std::uint32_t>(stream >> 32);
                std::uint32_t words[128];
                chacha12::blocks_with(chacha12::Kernel::Scalar, states, words);
                for (int w = 0; w < 16; ++w) CHECK_EQ(generator.next_u32(), words[w]);
            }
        }
    }
}

TEST_CASE("below_count splits the fractions exactly where the uniform value reaches p") {
    const struct {
        double p;
        std::uint64_t expected;
    } cases[] = {
        {-1.0, 0},
        {0.0, 0},
        {kNaN, 0},
        {0x1p-60, 1},
        {0.5, std::uint64_t{1} << 51},
        {1.0, (std::uint64_t{1} << 52) - 1},  // the largest fraction scales up to exactly 1.0
        {1.0000000000000002, std::uint64_t{1} << 52},
        {kInf, std::uint64_t{1} << 52},
    };
    for (const auto& c : cases) CHECK_EQ(RequestGenerator::below_count(c.p), c.expected);

    std::mt19937_64 random(11);
    // The documented probabilities, any p, and p hitting a uniform value exactly: the split lies between two
    // neighbouring fractions.
    std::vector<double> ps = {0.95, 0.8875, 0.98, 0.5081, 0.1, 1e-9, 0.9999999999999999};
    for (int i = 0; i < 100000; ++i)
        ps.push_back(i % 2 ? std::uniform_real_distribution<double>(0.0, 1.0)(random)
                           : RequestGenerator::uniform_from_bits(random()));
    for (double p : ps) {
        const std::uint64_t below = RequestGenerator::below_count(p);
        if (below > 0 && !(RequestGenerator::uniform_from_bits((below - 1) << 12) < p)) CHECK(!"split too high");
        if (below < (std::uint64_t{1} << 52) && RequestGenerator::uniform_from_bits(below << 12) < p)
            CHECK(!"split too low");
    }
}

TEST_CASE("count_at_or_above counts the same draws as one-by-one comparison, and leaves the stream aligned") {
    const std::uint64_t thresholds[] = {RequestGenerator::below_count(0.95), RequestGenerator::below_count(0.5),
                                        RequestGenerator::below_count(0.8875)};
    for (std::uint64_t rounds : {0, 1, 21, 43, 1000}) {
        RequestGenerator fast = fixtures::seeded(rounds);
        fast.next_u32();  // start off a word pair
        RequestGenerator plain = fast;
        std::uint64_t expected = 0;
        for (std::uint64_t r = 0; r < rounds; ++r)
            for (auto threshold : thresholds) expected += (plain.next_u64() >> 12) >= threshold;
        CHECK_EQ(fast.count_at_or_above(thresholds, rounds), expected);
        CHECK_EQ(fast.next_u64(), plain.next_u64());
    }
}

CHECK_MAIN()
