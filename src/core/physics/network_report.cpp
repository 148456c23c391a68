#include "core/physics/network_report.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/ensemble/exact_sum.hpp"
#include "core/failure.hpp"
#include "core/network.hpp"
#include "core/number_text.hpp"
#include "core/physics/report.hpp"

namespace vorn::physics {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

template <class Terms>
double exact_total(const Terms& terms) {
    ExactSum sum;
    for (const double term : terms) sum.add(term);
    return sum.total();
}

DemandReport demand_report(const NetworkRuns& runs, std::size_t k, double seconds) {
    DemandReport report;
    report.paths = runs.paths[k];
    report.path = report.paths.front();
    report.delivered_by_path.assign(report.paths.size(), 0);
    report.from_node = report.path.front();
    report.to = report.path.back();
    std::vector<double> waiting, throughputs, run_means, fidelities, errors_z, errors_x;
    for (const NetworkOutcome& run : runs.runs) {
        const DemandTally& tally = run.demands[k];
        report.requested += tally.requested;
        for (std::size_t route = 0; route < report.paths.size(); ++route)
            report.delivered_by_path[route] += tally.delivered_by_route[route];
        waiting.insert(waiting.end(), tally.waiting_ms.begin(), tally.waiting_ms.end());
        throughputs.push_back(static_cast<double>(tally.waiting_ms.size()) / seconds);
        if (!tally.waiting_ms.empty())
            run_means.push_back(exact_total(tally.waiting_ms) / static_cast<double>(tally.waiting_ms.size()));
        fidelities.push_back(tally.fidelity);
        errors_z.push_back(tally.error_rate_z);
        errors_x.push_back(tally.error_rate_x);
    }
    std::sort(waiting.begin(), waiting.end());
    const std::size_t delivered = waiting.size();
    const double count = static_cast<double>(delivered);
    report.delivered = delivered;
    const MeanInterval throughput = mean_interval(throughputs);
    report.throughput_hz = throughput.mean;
    report.throughput_hz_interval = throughput.interval;
    report.mean_waiting_time_ms = delivered ? exact_total(waiting) / count : kNan;
    report.waiting_time_ms_interval = mean_interval(run_means).interval;
    double fraction = 0.0;
    for (const double level : kWaitingTimeQuantiles) {
        const auto rank = static_cast<std::size_t>(level * count);
        report.waiting_time_ms_quantiles.emplace_back(level, delivered ? waiting[std::min(delivered - 1, rank)] : kNan);
    }
    if (delivered)
        fraction = std::max(0.0, secret_fraction(exact_total(errors_z) / count, exact_total(errors_x) / count));
    report.mean_fidelity = delivered ? exact_total(fidelities) / count : kNan;
    report.secret_key_rate_bps = throughput.mean * fraction;
    report.secret_key_rate_bps_interval = {throughput.interval.first * fraction, throughput.interval.second * fraction};
    return report;
}

}  // namespace

void check_demand(const NetworkDemand& demand) {
    if (const auto rate = demand.arrival_rate_hz; rate && !(*rate > 0.0 && std::isfinite(*rate)))
        throw InvalidValue("arrival_rate_hz: must be positive and finite, or None, got " + debug_number_text(*rate));
    if (const auto bound = demand.max_outstanding; bound && *bound < 1)
        throw InvalidValue("max_outstanding: must be an integer of at least 1, or None, got " + std::to_string(*bound));
}

DemandPair pair_of(const NetworkDemand& demand) {
    check_demand(demand);
    return {demand.from_node, demand.to, demand.arrival_rate_hz.value_or(0.0) / kMsPerSecond,
            demand.max_outstanding.value_or(0)};
}

NetworkReport network_report(const NetworkRuns& runs, std::string policy) {
    for (const NetworkOutcome& run : runs.runs) {
        if (run.demands.size() != runs.paths.size() || run.links.size() != runs.links.size() ||
            run.nodes.size() != runs.nodes.size())
            throw InvalidValue("runs: a run holds " + std::to_string(run.demands.size()) + " demands, " +
                               std::to_string(run.links.size()) + " links and " + std::to_string(run.nodes.size()) +
                               " nodes, not " + std::to_string(runs.paths.size()) + ", " +
                               std::to_string(runs.links.size()) + " and " + std::to_string(runs.nodes.size()));
        for (std::size_t k = 0; k < runs.paths.size(); ++k)
            if (run.demands[k].delivered_by_route.size() != runs.paths[k].size())
                throw InvalidValue("runs: demand " + std::to_string(k) + " has " +
                                   std::to_string(runs.paths[k].size()) + " routes, but a run counts pairs along " +
                                   std::to_string(run.demands[k].delivered_by_route.size()));
    }
    const auto unrouted = [](const auto& routes) {
        return routes.empty() ||
               std::any_of(routes.begin(), routes.end(), [](const auto& route) { return route.size() < 2; });
    };
    if (runs.memories.size() != runs.nodes.size() || std::any_of(runs.paths.begin(), runs.paths.end(), unrouted))
        throw InvalidValue("runs: the memories of every node and a route of every demand are needed");
    NetworkReport report;
    report.duration_ms = runs.duration_ms;
    report.replicates = runs.runs.size();
    report.seed = runs.seed;
    report.policy = std::move(policy);
    const double seconds = runs.duration_ms / kMsPerSecond;
    const double total_ms = runs.duration_ms * static_cast<double>(runs.runs.size());
    std::vector<double> rates, squares;
    for (std::size_t k = 0; k < runs.paths.size(); ++k) {
        report.demands.push_back(demand_report(runs, k, seconds));
        rates.push_back(report.demands.back().throughput_hz);
        squares.push_back(rates.back() * rates.back());
    }
    for (std::size_t k = 0; k < runs.links.size(); ++k) {
        LinkReport link{runs.links[k].first, runs.links[k].second};
        std::vector<double> attempting;
        for (const NetworkOutcome& run : runs.runs) {
            const LinkTally& tally = run.links[k];
            attempting.push_back(tally.attempting_ms);
            link.generated += tally.generated;
            link.used += tally.used;
            link.discarded += tally.discarded;
            link.lost += tally.lost;
            link.held += tally.held;
        }
        link.attempting_fraction = exact_total(attempting) / total_ms;
        report.generated += link.generated;
        report.used += link.used;
        report.discarded += link.discarded;
        report.lost += link.lost;
        report.held += link.held;
        report.links.push_back(std::move(link));
    }
    for (std::size_t k = 0; k < runs.nodes.size(); ++k) {
        NodeReport node{runs.nodes[k], runs.memories[k]};
        std::vector<double> occupied;
        for (const NetworkOutcome& run : runs.runs) {
            occupied.push_back(run.nodes[k].occupied_ms);
            node.most_occupied = std::max(node.most_occupied, run.nodes[k].most_occupied);
        }
        node.mean_occupied = exact_total(occupied) / total_ms;
        report.nodes.push_back(std::move(node));
    }
    report.throughput_hz = exact_total(rates);
    const double sum_of_squares = exact_total(squares);
    report.fairness = sum_of_squares > 0.0
                          ? std::pow(report.throughput_hz, 2.0) / (static_cast<double>(rates.size()) * sum_of_squares)
                          : kNan;
    return report;
}

}  // namespace vorn::physics
