// The values that the figures of a node, a link, a request and a configuration may take where a simulation reads them
// physically: the companion's entry points, the physical model and the companion's file findings. One
// rule per figure, with its text. vorn_core's own validation keeps the rules of its file format (a
// distance must be > 0 there and NaN passes), which these do not replace.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/network_records.hpp"
#include "core/request.hpp"
#include "describe/record.hpp"

namespace vorn {

struct FigureRule {
    std::string_view text;  // as a message says it: "finite and non-negative"
    bool (*holds)(double value);
};

// The rule of a figure, by the name of its field ("distance_km", "memory_lifetime_ms", ...); nullptr for
// a name without one.
const FigureRule* figure_rule(std::string_view figure);

// "<what> must be <rule>, got <value>": the refusal of a figure that breaks its rule.
std::string broken_rule_text(std::string_view what, const FigureRule& rule, double value);

// A figure that breaks its rule: its field's name and, for a figure of a record kept inside another, the
// names of the fields it sits in ("satellite_conditions.visibility").
struct BrokenFigure {
    std::string_view name;
    std::string path;
    double value = 0.0;
    const FigureRule* rule = nullptr;
};

namespace detail {

template <class V>
inline constexpr bool is_optional = false;
template <class V>
inline constexpr bool is_optional<std::optional<V>> = true;

// The names of the records a field sits in, outermost first.
struct FieldPath {
    std::array<std::string_view, 4> names{};
    std::size_t depth = 0;

    std::string joined(std::string_view leaf) const {
        std::string path;
        for (std::size_t i = 0; i < depth; ++i) (path += names[i]) += '.';
        return path += leaf;
    }
};

template <describe::Described R, class Visit>
void walk_figures(const R& record, const FieldPath& outer, Visit& broken);

template <class V, class Visit>
void walk_value(const V& value, std::string_view name, const FigureRule* rule, const FieldPath& outer, Visit& broken) {
    if constexpr (std::is_same_v<V, double>) {
        if (rule && !rule->holds(value)) broken(BrokenFigure{name, outer.joined(name), value, rule});
    } else if constexpr (is_optional<V>) {
        if (value) walk_value(*value, name, rule, outer, broken);
    } else if constexpr (describe::Described<V> && !std::is_enum_v<V>) {
        FieldPath inner = outer;
        inner.names[inner.depth++] = name;
        walk_figures(value, inner, broken);
    }
}

// The rule of each field of R, in the order for_each_field visits them, looked up once.
template <describe::Described R>
const std::array<const FigureRule*, describe::field_count<R>>& field_rules() {
    static const auto rules = [] {
        std::array<const FigureRule*, describe::field_count<R>> found{};
        std::size_t i = 0;
        describe::for_each_field<R>([&](const auto& field) { found[i++] = figure_rule(field.name); });
        return found;
    }();
    return rules;
}

template <describe::Described R, class Visit>
void walk_figures(const R& record, const FieldPath& outer, Visit& broken) {
    const auto& rules = field_rules<R>();
    std::size_t i = 0;
    describe::for_each_field<R>([&](const auto& field) {
        using F = std::decay_t<decltype(field)>;
        walk_value(F::get(record), field.name, rules[i++], outer, broken);
    });
}

}  // namespace detail

// Calls `broken(BrokenFigure)` for every present figure of `record` that breaks its rule, records kept
// inside it included, in the order of its description. Any described record: a new figure is checked
// as soon as its field is described and its name has a rule.
template <describe::Described R, class Visit>
void for_each_broken_figure(const R& record, Visit&& broken) {
    detail::walk_figures(record, detail::FieldPath{}, broken);
}

// Throw InvalidValue for the first figure that breaks its rule: "nodes: memory_lifetime_t2 of node 'A'
// must be non-negative, got NaN", "links: distance_km of link 'A'-'B' must be finite and non-negative,
// got -5.0", "fidelity_target: must be within [0, 1], got 1.5", "config: total_time_cutoff_ms must be
// non-negative, got NaN".
void check_figures(const NodeDefinition& node);
void check_figures(const LinkDefinition& link);
void check_figures(const EntanglementRequest& request);
void check_figures(const SimulationConfig& config);

// Node ids defined more than once ("nodes: the id 'A' is defined twice"), which would otherwise replace
// one another.
void check_unique_ids(const std::vector<NodeDefinition>& nodes);

// Every node's and link's figures, and node ids defined more than once (check_unique_ids).
void check_definitions(const std::vector<NodeDefinition>& nodes, const std::vector<LinkDefinition>& links);

// A request joins two different nodes: "to: the same node as from_node ('A')" otherwise.
void check_distinct_ends(std::string_view from_node, std::string_view to);

}  // namespace vorn
