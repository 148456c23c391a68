// The two ways of reading a document agree: the quick one (which gives up on what it is not sure of)
// and the exact one (which also reports positions). Damaged versions of documents that use every
// corner of the grammar must read to the same record, or fail alike.
#include <string>
#include <vector>

#include "check.hpp"
#include "files/json_reader.hpp"
#include "files/vorn_format.hpp"

using namespace vorn::files;

namespace {

const std::string kDocuments[] = {
    R"({
  "version": "1.0",
  "metadata": {"name": "n\u00e9t \ud83d\ude00 \"q\" \\ \/ \b\f\n\r\t", "author": null, "description": "d"},
  "nodes": [
    {"id": "A", "memory_lifetime_ms": 1500, "memory_capacity": 4, "node_type": "ground"},
    {"id": "B\u0000", "memory_lifetime_ms": -0.0, "node_type": null, "x": [1, {"y": [true, false, null]}, "s"]},
    {"id": "\u0043", "memory_lifetime_ms": 1.7976931348623157e299, "memory_capacity": 4294967295}
  ],
  "links": [
    {"id": "L1", "from": "A", "to": "B\u0000", "distance_km": 12.5, "base_fidelity": 0.95,
     "generation_rate_hz": 1e3, "link_type": "satellite", "satellite": {"visibility": 0.5, "weather_factor": 1E-5}},
    {"\u0066rom": "B\u0000", "to": "C", "distance_km": 123456789012345678901234, "base_fidelity": 1e-400,
     "generation_rate_hz": 0.1e+2, "link_type": "fiber", "satellite": null, "id": null},
    {"from": "C", "to": "A", "distance_km": 0.000000000000000000000000001, "base_fidelity": 5e-324,
     "generation_rate_hz": 9007199254740993, "unknown": {"deep": [[[[{}]]]], "n": -1.5e299}}
  ],
  "config": {"alpha_loss": 0.2, "max_attempts": 40, "beta_fidelity_decay": null},
  "constraints": {"fidelity_target": 0.85, "max_latency_ms": 1e2},
  "other": "ignored"
})",
    R"({"links":[],"nodes":[{"id":""}],"version":"1.0","metadata":{"name":""},"extensions":{"custom":{"b":[1,2.5]}}})",
};

// Pieces the damage is made of: the tokens the grammar and the tables care about.
// clang-format off
const std::string kTokens[] = {
    "null", "true", "false", "1e400", "1e309", "1.5e309", "-0", "4294967296", "4.0", "-1", "\"\\ud800\"", "\"\\udc00\"",
    ",", ":", "{", "}", "[", "]", "\"", "\\", std::string(1, '\0'), "\"Ground\"", "\"1.0\"", "\"id\"", "NaN", "\n",
    "01", "1.", ".5", "+1", "1e", "\"\\x\"", "\"\\u12\"", std::string(310, '1'), "\t", std::string(104, '['),
    "\"from\"", "\"to\"", "\"distance_km\"", "\"satellite\"", "\"nodes\"", "\x01"};
// clang-format on

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

std::string damaged(const std::string& document, std::mt19937_64& random) {
    std::string text = document;
    const int changes = static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
        const std::size_t at = random() % (text.size() + 1);
        switch (random() % 5) {
            case 0: text.erase(at, 1 + random() % 6); break;
            case 1: text.insert(at, kTokens[random() % std::size(kTokens)]); break;
            case 2: text.insert(at, text.substr(at, 1 + random() % 40)); break;
            case 3: text.resize(at); break;
            default:
                if (at < text.size()) text[at] = static_cast<char>(text[at] ^ (1 << (random() % 7)));
        }
    }
    return text;
}

}  // namespace

TEST_CASE("the quick reader and the exact reader give the same record or the same failure") {
    std::mt19937_64 random(20240611);
    const int cases = std::getenv("VORN_SANITIZED") ? 3000 : 30000;
    int compared = 0, loaded = 0;
    for (int i = 0; i < cases; ++i) {
        const std::string text = damaged(kDocuments[i % std::size(kDocuments)], random);
        if (!valid_utf8(text)) continue;  // the file reader refuses such a text before any parsing
        ++compared;
        const FileText padded = FileText::copy_of(text);
        JsonPositions positions;  // asking for positions takes the exact reader
        const Result<VornFile> exact = read_vorn_json(padded, nullptr, &positions);
        const Result<VornFile> quick = read_vorn_json(padded);
        CHECK_FOR(text, quick.ok() == exact.ok());
        if (!quick.ok() || !exact.ok()) continue;
        ++loaded;
        CHECK_FOR(text, quick.value() == exact.value());
    }
    // Enough of the damaged documents still load to compare records, and enough fail.
    CHECK(compared > cases / 2 && loaded > compared / 10 && loaded < compared * 9 / 10);
}

TEST_CASE("numbers too long for the quick reader take the exact way to the same result") {
    const std::string base = kDocuments[1];
    const std::string place = R"({"id":""})";
    for (const std::string& number :
         std::vector<std::string>{"1e0000000000400901234", "1e-0000000000000000001", "0." + std::string(3'000'000, '1'),
                                  std::string(2'000'000, '9'), "1." + std::string(1'500'000, '0') + "e-2"}) {
        std::string text = base;
        text.replace(text.find(place), place.size(), R"({"id":"","memory_lifetime_ms":)" + number + "}");
        const FileText padded = FileText::copy_of(text);
        JsonPositions positions;
        const Result<VornFile> exact = read_vorn_json(padded, nullptr, &positions);
        const Result<VornFile> quick = read_vorn_json(padded);
        CHECK_FOR(number.substr(0, 40), quick.ok() == exact.ok());
        if (quick.ok() && exact.ok()) CHECK_FOR(number.substr(0, 40), quick.value() == exact.value());
    }
}

CHECK_MAIN()
