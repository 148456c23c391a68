#include "core/figure_rules.hpp"

#include <cmath>
#include <unordered_set>

#include "core/failure.hpp"
#include "core/number_text.hpp"

namespace vorn {
namespace {

constexpr FigureRule kFinite{"finite", [](double x) { return std::isfinite(x); }};
constexpr FigureRule kWithinUnit{"within [0, 1]", [](double x) { return x >= 0.0 && x <= 1.0; }};
constexpr FigureRule kFiniteNonNegative{"finite and non-negative",
                                        [](double x) { return std::isfinite(x) && x >= 0.0; }};
constexpr FigureRule kFinitePositive{"finite and positive", [](double x) { return std::isfinite(x) && x > 0.0; }};
// Infinity allowed: an endless time (a perfect memory, a request without bound).
constexpr FigureRule kNonNegative{"non-negative", [](double x) { return x >= 0.0; }};

struct Entry {
    std::string_view figure;
    const FigureRule* rule;
};

constexpr std::array kRules{
    Entry{"memory_lifetime_t2", &kNonNegative},  // s
    Entry{"memory_lifetime_ms", &kNonNegative},  // the same, as a .vorn file keeps it
    Entry{"memory_capacity", &kNonNegative},     // slots of a .vorn node: a count the reader refuses below 0
    Entry{"distance_km", &kFiniteNonNegative},
    Entry{"base_fidelity", &kWithinUnit},
    Entry{"generation_rate_hz", &kFinitePositive},
    Entry{"visibility", &kWithinUnit},
    Entry{"weather_factor", &kWithinUnit},
    Entry{"fidelity_target", &kWithinUnit},
    Entry{"max_latency_ms", &kNonNegative},
    Entry{"alpha_loss", &kFiniteNonNegative},        // dB/km, as a .vorn file's config keeps it
    Entry{"alpha_loss_db_km", &kFiniteNonNegative},  // the same, as PhysicalConfig takes it
    // A fidelity increment of the timeline: below zero, purification lowers the fidelity.
    Entry{"baseline_purify_factor", &kFinite},
    Entry{"speed_of_light_in_fiber_km_ms", &kFinitePositive},
    Entry{"total_time_cutoff_ms", &kNonNegative},
    Entry{"step_resolution_ms", &kNonNegative},
};

// Throws for the first broken figure: "<list>: <figure><of_what> must be ...".
template <class R>
void check_record(const R& record, std::string_view list, const std::string& of_what) {
    for_each_broken_figure(record, [&](const BrokenFigure& figure) {
        const std::string what = std::string(list) + ": " + std::string(figure.name) + of_what;
        throw InvalidValue(broken_rule_text(what, *figure.rule, figure.value));
    });
}

}  // namespace

const FigureRule* figure_rule(std::string_view figure) {
    for (const Entry& entry : kRules)
        if (entry.figure == figure) return entry.rule;
    return nullptr;
}

std::string broken_rule_text(std::string_view what, const FigureRule& rule, double value) {
    return std::string(what) + " must be " + std::string(rule.text) + ", got " + debug_number_text(value);
}

void check_figures(const NodeDefinition& node) { check_record(node, "nodes", " of node '" + node.id + "'"); }

void check_figures(const LinkDefinition& link) {
    check_record(link, "links", " of link '" + link.from + "'-'" + link.to + "'");
}

void check_figures(const EntanglementRequest& request) {
    for_each_broken_figure(request, [&](const BrokenFigure& figure) {
        throw InvalidValue(broken_rule_text(std::string(figure.name) + ":", *figure.rule, figure.value));
    });
}

void check_figures(const SimulationConfig& config) {
    for_each_broken_figure(config, [&](const BrokenFigure& figure) {
        throw InvalidValue(broken_rule_text("config: " + figure.path, *figure.rule, figure.value));
    });
}

void check_unique_ids(const std::vector<NodeDefinition>& nodes) {
    std::unordered_set<std::string_view> ids;
    ids.reserve(nodes.size());
    for (const NodeDefinition& node : nodes)
        if (!ids.insert(node.id).second) throw InvalidValue("nodes: the id '" + node.id + "' is defined twice");
}

void check_definitions(const std::vector<NodeDefinition>& nodes, const std::vector<LinkDefinition>& links) {
    check_unique_ids(nodes);
    for (const NodeDefinition& node : nodes) check_figures(node);
    for (const LinkDefinition& link : links) check_figures(link);
}

void check_distinct_ends(std::string_view from_node, std::string_view to) {
    if (from_node == to) throw InvalidValue("to: the same node as from_node ('" + std::string(to) + "')");
}

}  // namespace vorn
