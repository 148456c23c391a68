#include "files/rapidjson_setup.hpp"

#include "files/vorn_check.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <unordered_set>

#include "core/figure_rules.hpp"
#include "core/interruption_poll.hpp"
#include "files/json_reader.hpp"
#include "files/text_file.hpp"
#include "files/text_position.hpp"
#include "files/validation.hpp"
#include "files/vorn_format.hpp"

namespace vorn::files {
namespace {

constexpr std::size_t npos = JsonPositions::npos;

// The loader's text of a failure without its position, which the finding carries apart.
FileFinding finding_of(std::string_view kind, const FileError& error, std::size_t offset, std::string_view text,
                       Interruption* interruption) {
    FileError unplaced = error;
    unplaced.line = unplaced.column = 0;
    FileFinding finding{kind, error.code, vorn_error_text(unplaced), error.line, error.column, error.path};
    if (offset != npos) {
        const TextPosition position = text_position(text, offset, interruption);
        finding.line = position.line;
        finding.column = position.column;
    }
    return finding;
}

std::size_t document_start(std::string_view text) {
    const std::size_t at = text.find_first_not_of(" \t\n\r");
    return at == std::string_view::npos ? npos : at;
}

// Where an entry of the file is: its path ("links[3]"), the offset of its object in the text, and how a
// message names it (" of link 'L1'").
struct Entry {
    std::string location;
    std::size_t offset = npos;
    std::string of_what;
};

// A negative memory capacity of a node: the reader refuses it as no count, which would hide every other
// finding of the file, so the check blanks its sign (no offset moves) and reads the file again.
struct NegativeCount {
    std::size_t node = 0;
    std::size_t offset = npos;
    double value = 0.0;
};

// The negative capacity that `error` refuses, blanked in `text`; nothing when the error is another.
std::optional<NegativeCount> blank_negative_capacity(const FileError& error, FileText& text,
                                                     const JsonPositions& positions, Interruption* interruption) {
    constexpr std::string_view kStart = "nodes[", kEnd = "].memory_capacity";
    const std::string_view path = error.path;
    if (error.code != "InvalidU32" || !path.starts_with(kStart) || !path.ends_with(kEnd)) return std::nullopt;
    std::size_t node = 0;
    const std::string_view digits = path.substr(kStart.size(), path.size() - kStart.size() - kEnd.size());
    if (std::from_chars(digits.data(), digits.data() + digits.size(), node).ptr != digits.data() + digits.size())
        return std::nullopt;
    const std::size_t offset =
        json_member_offset(text.view(), positions.element("nodes", node), "memory_capacity", interruption);
    if (offset == npos || text.view()[offset] != '-') return std::nullopt;
    const std::string_view number = text.view().substr(offset, text.view().find_first_of(",} \t\r\n", offset) - offset);
    // Only a whole number: the reader's text of "-2.5" stays the finding.
    if (number.size() < 2 || number.find_first_not_of("0123456789", 1) != std::string_view::npos) return std::nullopt;
    double value = 0.0;
    std::from_chars(number.data(), number.data() + number.size(), value);
    text.data()[offset] = ' ';
    return NegativeCount{node, offset, value};
}

// Figures that the loader's validation lets pass but that no physical reading of the file allows (a
// negative memory lifetime, a visibility above 1): an error at each value where validation has none.
void add_impossible_figures(const VornFile& file, std::string_view text, const JsonPositions& positions,
                            const std::vector<ValidationError>& validated, const std::vector<NegativeCount>& counts,
                            std::vector<FileFinding>& findings, std::vector<std::size_t>& offsets,
                            Interruption* interruption) {
    std::unordered_set<std::string> taken;
    for (const ValidationError& error : validated) taken.insert(error.location());
    InterruptionPoll poll(interruption, 1024);
    // `entry()` gives the Entry of `record`, asked for only when a figure of it breaks its rule.
    const auto check = [&](const auto& record, const auto& entry) {
        poll.advance();
        for_each_broken_figure(record, [&](const BrokenFigure& figure) {
            const Entry where = entry();
            const std::string path = where.location + "." + figure.path;
            if (taken.contains(path)) return;
            std::size_t offset = where.offset;
            for (std::size_t start = 0; offset != npos && start <= figure.path.size();) {
                const std::size_t end = std::min(figure.path.find('.', start), figure.path.size());
                offset = json_member_offset(text, offset, std::string_view(figure.path).substr(start, end - start),
                                            interruption);
                start = end + 1;
            }
            findings.push_back({"validation", "ImpossibleFigure",
                                broken_rule_text(std::string(figure.name) + where.of_what, *figure.rule, figure.value),
                                0, 0, path});
            offsets.push_back(offset);
        });
    };
    auto count = counts.begin();
    for (std::size_t i = 0; i < file.nodes.size(); ++i) {
        check(file.nodes[i], [&] {
            return Entry{"nodes[" + std::to_string(i) + "]", positions.element("nodes", i),
                         " of node '" + file.nodes[i].id + "'"};
        });
        for (; count != counts.end() && count->node == i; ++count) {
            findings.push_back({"validation", "ImpossibleFigure",
                                broken_rule_text("memory_capacity of node '" + file.nodes[i].id + "'",
                                                 *figure_rule("memory_capacity"), count->value),
                                0, 0, "nodes[" + std::to_string(i) + "].memory_capacity"});
            offsets.push_back(count->offset);
        }
    }
    for (std::size_t k = 0; k < file.links.size(); ++k) {
        const VornLink& link = file.links[k];
        check(link, [&] {
            const std::string name = link.id ? *link.id : link.figures.from + "->" + link.figures.to;
            return Entry{"links[" + std::to_string(k) + "]", positions.element("links", k), " of link '" + name + "'"};
        });
    }
    const auto section = [&](const char* key) {
        return Entry{key, json_member_offset(text, document_start(text), key, interruption),
                     std::string(" of the ") + key};
    };
    if (file.config) check(*file.config, [&] { return section("config"); });
    if (file.constraints) check(*file.constraints, [&] { return section("constraints"); });
}

}  // namespace

std::vector<FileFinding> check_vorn_file(const std::string& path, Interruption* interruption) {
    Result<FileText> read = read_text_file(path, interruption);
    if (!read) return {finding_of("io", read.error(), npos, {}, interruption)};
    const std::string_view text = read.value();
    JsonPositions positions;
    Result<VornFile> parsed = read_vorn_json(read.value(), interruption, &positions);
    std::vector<NegativeCount> counts;
    while (!parsed) {
        const std::optional<NegativeCount> count =
            blank_negative_capacity(parsed.error(), read.value(), positions, interruption);
        if (!count) return {finding_of("json", parsed.error(), npos, text, interruption)};
        counts.push_back(*count);
        positions = JsonPositions();
        parsed = read_vorn_json(read.value(), interruption, &positions);
    }
    const VornFile& file = parsed.value();
    if (file.version != "1.0") {
        FileError error = FileError::unsupported_version(file.version);
        error.path = "version";
        const std::size_t version = json_member_offset(text, document_start(text), "version", interruption);
        return {finding_of("version", error, version, text, interruption)};
    }

    const ValidationResult result = validate_all(file, interruption);
    std::vector<FileFinding> findings;
    std::vector<std::size_t> offsets;
    InterruptionPoll poll(interruption, 1024);
    for (const ValidationError& error : result.errors) {
        poll.advance();
        std::size_t offset = error.list.empty() ? npos : positions.element(error.list, error.index);
        if (offset != npos && !error.key.empty()) offset = json_member_offset(text, offset, error.key, interruption);
        findings.push_back({"validation", error.code(), error.message(), 0, 0, error.location()});
        offsets.push_back(offset);
    }
    add_impossible_figures(file, text, positions, result.errors, counts, findings, offsets, interruption);
    for (const ValidationWarning& warning : result.warnings)
        findings.push_back({"validation", "Warning", warning.message, 0, 0, warning.path.value_or(""), "warning"});

    std::vector<std::size_t> placed;
    std::copy_if(offsets.begin(), offsets.end(), std::back_inserter(placed), [](std::size_t at) { return at != npos; });
    const std::vector<TextPosition> found = text_positions(text, placed, interruption);
    for (std::size_t i = 0, next = 0; i < offsets.size(); ++i) {
        if (offsets[i] == npos) continue;
        findings[i].line = found[next].line;
        findings[i].column = found[next].column;
        ++next;
    }
    return findings;
}

namespace {

// Keys only one of the two formats uses, by where they stand.
enum class Place : std::uint8_t { Top, Metadata, Config, Node, Link };

struct Marker {
    Place place;
    std::string_view key;
    GuessedFormat format;
};

constexpr auto V = GuessedFormat::Vorn;
constexpr auto S = GuessedFormat::Snapshot;
constexpr std::array kMarkers{
    Marker{Place::Top, "version", V},
    Marker{Place::Top, "constraints", V},
    Marker{Place::Top, "extensions", V},
    Marker{Place::Metadata, "version", S},
    Marker{Place::Metadata, "description", V},
    Marker{Place::Metadata, "author", V},
    Marker{Place::Metadata, "created_at", V},
    Marker{Place::Config, "alphaLoss", S},
    Marker{Place::Config, "gammaSwapping", S},
    Marker{Place::Config, "alpha_loss", V},
    Marker{Place::Config, "beta_fidelity_decay", V},
    Marker{Place::Config, "gamma_swapping", V},
    Marker{Place::Config, "max_attempts", V},
    Marker{Place::Node, "memoryLifetimeT2", S},
    Marker{Place::Node, "memory_lifetime_ms", V},
    Marker{Place::Node, "memory_capacity", V},
    Marker{Place::Node, "node_type", V},
    Marker{Place::Link, "fromNode", S},
    Marker{Place::Link, "distanceKm", S},
    Marker{Place::Link, "baseFidelity", S},
    Marker{Place::Link, "generationRateHz", S},
    Marker{Place::Link, "linkType", S},
    Marker{Place::Link, "satelliteConditions", S},
    Marker{Place::Link, "from", V},
    Marker{Place::Link, "distance_km", V},
    Marker{Place::Link, "base_fidelity", V},
    Marker{Place::Link, "generation_rate_hz", V},
    Marker{Place::Link, "link_type", V},
    Marker{Place::Link, "satellite", V},
};

class FormatEvidence : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FormatEvidence> {
public:
    explicit FormatEvidence(Interruption* interruption) : poll_(interruption, 4096) {}

    bool Default() { return event(); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return event(); }
    bool String(const char*, rapidjson::SizeType, bool) { return event(); }
    bool StartObject() {
        ++depth_;
        return event();
    }
    bool StartArray() {
        ++depth_;
        return event();
    }
    bool EndArray(rapidjson::SizeType) {
        --depth_;
        return event();
    }
    bool EndObject(rapidjson::SizeType) {
        // After a whole node or link, the evidence of the first entries decides a large file.
        const bool entry = depth_-- == 3 && (top_key_ == "nodes" || top_key_ == "links");
        return event() && !(entry && vorn_ != snapshot_);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view key(text, length);
        if (depth_ == 1) top_key_.assign(key);
        std::optional<Place> place;
        if (depth_ == 1) place = Place::Top;
        if (depth_ == 2 && top_key_ == "metadata") place = Place::Metadata;
        if (depth_ == 2 && top_key_ == "config") place = Place::Config;
        if (depth_ == 3 && top_key_ == "nodes") place = Place::Node;
        if (depth_ == 3 && top_key_ == "links") place = Place::Link;
        for (const Marker& marker : kMarkers) {
            if (!place || marker.place != *place || marker.key != key) continue;
            ++(marker.format == GuessedFormat::Vorn ? vorn_ : snapshot_);
        }
        return event();
    }

    GuessedFormat verdict() const {
        if (vorn_ == snapshot_) return GuessedFormat::Unknown;
        return vorn_ > snapshot_ ? GuessedFormat::Vorn : GuessedFormat::Snapshot;
    }

private:
    bool event() {
        poll_.advance();
        return true;
    }

    InterruptionPoll poll_;
    std::size_t depth_ = 0;
    std::string top_key_;
    std::size_t vorn_ = 0;
    std::size_t snapshot_ = 0;
};

}  // namespace

GuessedFormat guess_format(std::string_view text, Interruption* interruption) {
    const std::size_t start = document_start(text);
    if (start == npos || text[start] != '{') return GuessedFormat::Unknown;
    rapidjson::MemoryStream stream(text.data(), text.size());
    FormatEvidence evidence(interruption);
    rapidjson::Reader reader;
    reader.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag>(stream, evidence);
    return evidence.verdict();
}

}  // namespace vorn::files
