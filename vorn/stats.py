"""Confidence intervals and the merging of ensembles run in pieces.

An ensemble of `runs` trials with seed s is the concatenation of ensembles over consecutive seed ranges:
trial i of seed s is trial 0 of seed s + i. `merge` puts such pieces back together.
"""

from __future__ import annotations

import math
from collections.abc import Iterable
from statistics import NormalDist

import vorn_core as vc

__all__ = ["wilson_interval", "successes", "merge"]


def wilson_interval(successes: int, runs: int, confidence: float = 0.95) -> tuple[float, float]:
    """Wilson score interval of a success probability after `successes` out of `runs` trials.

    Returns ``(low, high)`` within [0, 1]. With ``runs == 0`` nothing is known and the interval is
    ``(0.0, 1.0)``. Raises ValueError for counts outside ``0 <= successes <= runs`` or a confidence
    outside (0, 1).
    """
    if not 0 <= successes <= runs:
        raise ValueError(f"need 0 <= successes <= runs, got {successes} successes in {runs} runs")
    if not 0.0 < confidence < 1.0:
        raise ValueError(f"confidence must lie strictly between 0 and 1, got {confidence}")
    if runs == 0:
        return 0.0, 1.0
    z = NormalDist().inv_cdf(0.5 + confidence / 2.0)
    z2 = z * z
    p = successes / runs
    centre = (p + z2 / (2.0 * runs)) / (1.0 + z2 / runs)
    half = z / (1.0 + z2 / runs) * math.sqrt(p * (1.0 - p) / runs + z2 / (4.0 * runs * runs))
    # At the ends the formula's rounding would leave 0 or 1 just outside its own interval.
    low = 0.0 if successes == 0 else max(0.0, centre - half)
    high = 1.0 if successes == runs else min(1.0, centre + half)
    return low, high


def successes(stats: vc.MonteCarloStats) -> int:
    """Number of successful trials behind statistics (0 for an ensemble without runs)."""
    if stats.total_runs == 0:
        return 0
    return round(float(stats.empirical_success_rate) * int(stats.total_runs))


def merge(stats_list: Iterable[vc.MonteCarloStats]) -> vc.MonteCarloStats:
    """Statistics of one ensemble from ensembles run over consecutive seed ranges, given in seed order.

    Counts (runs, successes, congestion drops, utilisation per hop) add up exactly; the success rate is
    recomputed from them; `mean_latency_ms` is weighted by runs and `mean_fidelity` by successes, so both
    agree with one ensemble up to rounding. Pieces without runs contribute nothing. Heatmap keys come in
    order of first appearance. The result carries the context of the first piece (whose seed starts the
    whole range), or none. Zero runs in total give what an ensemble of zero runs gives: NaN rate and
    latency, fidelity 0.0.
    """
    pieces = list(stats_list)
    total_runs = 0
    total_successes = 0
    drops = 0
    latency_sums: list[float] = []
    fidelity_sums: list[float] = []
    heatmap: dict[str, int] = {}
    for piece in pieces:
        runs = piece.total_runs
        drops += piece.aggregate_congestion_drops
        for key, count in piece.link_utilization_heatmap.items():
            heatmap[key] = heatmap.get(key, 0) + count
        if runs == 0:
            continue
        won = successes(piece)
        total_runs += runs
        total_successes += won
        latency_sums.append(piece.mean_latency_ms * runs)
        if won:
            fidelity_sums.append(piece.mean_fidelity * won)
    nan = float("nan")
    rate = total_successes / total_runs if total_runs else nan
    latency = math.fsum(latency_sums) / total_runs if total_runs else nan
    fidelity = math.fsum(fidelity_sums) / total_successes if total_successes else 0.0
    context = pieces[0]._context if pieces else None
    return vc.MonteCarloStats(total_runs, rate, latency, fidelity, drops, heatmap, context)
