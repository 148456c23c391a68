#include "core/sensitivity.hpp"

#include <algorithm>
#include <cmath>

#include "core/heatmap.hpp"
#include "core/network.hpp"

namespace vorn {
namespace {

constexpr double kLower = 0.9;
constexpr double kUpper = 1.1;

// The figures of one ensemble rebuilt from a context; a variant changes one of them in place.
struct TrialSetup {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    SimulationConfig config;
    EntanglementRequest request;

    explicit TrialSetup(const MonteCarloContext& context)
        : nodes(context.nodes),
          request{context.from_node, context.to_node, context.fidelity_target, context.max_latency_ms,
                  context.strategy} {
        links.reserve(context.links.size());
        for (const LinkFigures& link : context.links) links.push_back({{link, LinkType::Fiber}, {}});
        config.physical.baseline_purify_factor = context.baseline_purify_factor;
        config.physical.speed_of_light_in_fiber_km_ms = kFibreSpeedKmMs;
        config.total_time_cutoff_ms = context.total_time_cutoff_ms;
        config.step_resolution_ms = context.step_resolution_ms;
    }

    double success_rate(std::uint64_t trials, std::uint64_t seed, Interruption* interruption) const {
        const QuantumNetwork network = QuantumNetwork::from_definitions(nodes, links);
        return execute_ensemble(network, config, request, trials, seed, interruption).empirical_success_rate;
    }
};

class Analysis {
public:
    Analysis(const MonteCarloContext& context, double baseline, std::uint64_t seed_base, Interruption* interruption)
        : setup_(context),
          baseline_(baseline),
          seed_(seed_base),
          interruption_(interruption),
          trials_(std::max<std::uint64_t>(200, 50 * static_cast<std::uint64_t>(context.nodes.size()))) {}

    // Runs the lower variant with the next seed and the upper one with the seed after it; `value`
    // is the one figure the variants change, restored afterwards.
    template <class Set>
    void measure(std::string key, double& value, Set set) {
        const double original = value;
        set(value, original, kLower);
        const double lower = setup_.success_rate(trials_, seed_++, interruption_);
        set(value, original, kUpper);
        const double upper = setup_.success_rate(trials_, seed_++, interruption_);
        value = original;
        const double impact =
            baseline_ < 0.01 ? 0.0 : (std::fabs(upper - baseline_) + std::fabs(lower - baseline_)) / baseline_;
        ranking_.emplace_back(std::move(key), impact);
    }

    SensitivityRanking run() {
        const auto scaled = [](double& value, double original, double factor) { value = original * factor; };
        for (NodeDefinition& node : setup_.nodes)
            measure("memory_lifetime_t2:" + node.id, node.memory_lifetime_t2, scaled);
        for (LinkDefinition& link : setup_.links) {
            const std::string hop = hop_key(link.from, link.to);
            measure("distance_km:" + hop, link.distance_km, scaled);
            measure("base_fidelity:" + hop, link.base_fidelity, scaled);
            measure("generation_rate_hz:" + hop, link.generation_rate_hz, scaled);
        }
        measure("alpha_loss_db_km", setup_.config.physical.baseline_purify_factor,
                [](double& value, double, double factor) { value = purify_factor_of_loss(kFibreLossDbKm * factor); });
        // NaN impacts sort after every number and keep their order among themselves.
        std::stable_sort(ranking_.begin(), ranking_.end(), [](const auto& a, const auto& b) {
            return !std::isnan(a.second) && (std::isnan(b.second) || a.second > b.second);
        });
        return std::move(ranking_);
    }

private:
    TrialSetup setup_;
    double baseline_;
    std::uint64_t seed_;
    Interruption* interruption_;
    std::uint64_t trials_;
    SensitivityRanking ranking_;
};

}  // namespace

SensitivityRanking analyse_sensitivity(const MonteCarloContext& context, double baseline, std::uint64_t seed_base,
                                       Interruption* interruption) {
    return Analysis(context, baseline, seed_base, interruption).run();
}

}  // namespace vorn
