#include "core/physics/route_run.hpp"

namespace vorn::physics {

RouteShape::RouteShape(const LinkGeneration& generation, std::span<const std::uint32_t> route_links,
                       std::span<const double> distances_km, std::span<const double> node_decays,
                       double signal_speed_km_ms, double success, const Correlations& one_swap_noise, double cutoff,
                       double limit, MemoryNoise memory_noise)
    : links(route_links.size()),
      swap_success(success),
      swaps_draw(success < 1.0),
      cutoff_ms(cutoff),
      limit_ms(limit),
      noise(memory_noise),
      distilled(generation.distilled()),
      decay_per_ms(node_decays.begin(), node_decays.end()) {
    const double swaps = static_cast<double>(links - 1);
    swap_noise = {std::pow(one_swap_noise.zz, swaps), std::pow(one_swap_noise.xx, swaps),
                  std::pow(one_swap_noise.yy, swaps)};
    for (std::uint32_t link : route_links) fresh_product = joined(fresh_product, generation.fresh(link));
    // Distances summed from each end, so that a route and its mirror image see the same numbers.
    double km = 0.0;
    from_start_ms.push_back(0.0);
    for (double distance : distances_km) from_start_ms.push_back((km += distance) / signal_speed_km_ms);
    to_end_ms.assign(links + 1, 0.0);
    km = 0.0;
    for (std::size_t node = links; node-- > 0;) to_end_ms[node] = (km += distances_km[node]) / signal_speed_km_ms;
}

void RouteRun::reshape(const RouteShape& shape) {
    shape_ = &shape;
    links_ = shape.links;
    ready_ms_.resize(links_);
    pair_.resize(links_);
    other_end_.resize(links_);
    lost_with_.resize(links_);
    learn_left_ms_.resize(links_);
    learn_right_ms_.resize(links_);
    held_left_.resize(links_ + 1);
    held_right_.resize(links_ + 1);
    swap_ms_.resize(links_ + 1);
    expiries_.resize(links_);
}

// The lost runs still named by a link are numbered afresh: a run with many losses keeps a table in
// proportion to the route.
void RouteRun::renumber_lost_runs() {
    renumbered_.assign(lost_runs_.size(), -1);
    for (std::int32_t lost : lost_with_)
        if (lost >= 0) renumbered_[lost] = 0;
    std::int32_t kept = 0;
    for (std::size_t lost = 0; lost < lost_runs_.size(); ++lost)
        if (renumbered_[lost] == 0) {
            lost_runs_[kept] = lost_runs_[lost];
            renumbered_[lost] = kept++;
        }
    for (std::int32_t& lost : lost_with_)
        if (lost >= 0) lost = renumbered_[lost];
    lost_runs_.resize(kept);
}

RouteRun::Known RouteRun::known_ms() const {
    if (links_ == 1) return {ready_ms_[0], ready_ms_[0]};
    Known known{0.0, 0.0};
    for (std::size_t node = 1; node < links_; ++node) {
        known.at_start = std::max(known.at_start, swap_ms_[node] + shape_->from_start_ms[node]);
        known.at_end = std::max(known.at_end, swap_ms_[node] + shape_->to_end_ms[node]);
    }
    return known;
}

// Every qubit of the pair's history decays at its node's rate while it is stored: the end qubits
// from their pairs' arrivals until `at`, the two qubits at a repeater node from their pairs' arrivals
// until it swapped them (their flights are in the pairs' states already).
RouteRun::Settled RouteRun::settled(Known known) const {
    const double at = std::max(known.at_start, known.at_end);
    if (at > shape_->limit_ms) return {false, shape_->limit_ms, {}};
    if (at == EarliestTimes::kNever) return {false, at, {}};
    const std::vector<double>& decay = shape_->decay_per_ms;
    const std::size_t last = links_ - 1;
    double exponent = decay_exponent(at - ready_ms_[0], decay[0]) + decay_exponent(at - ready_ms_[last], decay[links_]);
    for (std::size_t node = 1; node < links_; ++node)
        exponent += decay_exponent(swap_ms_[node] - ready_ms_[node - 1], decay[node]) +
                    decay_exponent(swap_ms_[node] - ready_ms_[node], decay[node]);
    Correlations pair = shape_->fresh_product;
    if (shape_->distilled) {
        pair = pair_[0];
        for (std::size_t link = 1; link < links_; ++link) pair = joined(pair, pair_[link]);
    }
    return {true, at, decayed(joined(pair, shape_->swap_noise), exponent, shape_->noise)};
}

}  // namespace vorn::physics
