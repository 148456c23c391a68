"""The network model against load: `vorn.physics.network` run at each of several arrival rates or numbers of
demands, one record per point with the total throughput and the waiting time.

Every point runs on the same seed, so each is the very `network` call of its load (the same bit for bit) and
neighbouring points differ by their load rather than by their draws.
"""

from __future__ import annotations

import math
import operator
from collections.abc import Iterable
from dataclasses import dataclass
from typing import Any

import vorn_core as vc

from ._figures import Figure, FigureRecord
from ._physics_network import Demand, NetworkStats, network


def _half(interval: tuple[float, float]) -> float:
    return (interval[1] - interval[0]) / 2


@dataclass(frozen=True, repr=False)
class LoadPoint(FigureRecord):
    """One load of a sweep: `demands` demands, each at `arrival_rate_hz` (None: at the rates they were given),
    and what they got together. The total throughput's interval adds the demands' half-widths, which covers at
    least its level whatever the demands' correlation; the waiting time is the mean over every delivered pair,
    its interval the demands' half-widths weighted by their shares of the pairs. `stats` holds every figure of
    the point."""

    arrival_rate_hz: float | None
    demands: int
    stats: NetworkStats

    FIGURES = (
        Figure("throughput_hz", "total throughput", "pairs/s", "throughput_hz_interval"),
        Figure("mean_waiting_time_ms", "mean waiting time", "ms", "waiting_time_ms_interval"),
        Figure("delivered", "pairs delivered"),
        Figure("fairness", "fairness (Jain's index)", format=".3f"),
    )

    @property
    def throughput_hz(self) -> float:
        return self.stats.throughput_hz

    @property
    def throughput_hz_interval(self) -> tuple[float, float]:
        spread = math.fsum(_half(d.throughput_hz_interval) for d in self.stats.demands)
        return self.throughput_hz - spread, self.throughput_hz + spread

    @property
    def delivered(self) -> int:
        return sum(demand.delivered for demand in self.stats.demands)

    @property
    def fairness(self) -> float:
        return self.stats.fairness

    def _served(self) -> list[tuple[float, float, float]]:
        """(share of the delivered pairs, mean waiting time, its half-width) of each demand that got a pair."""
        total = self.delivered
        return [
            (d.delivered / total, d.mean_waiting_time_ms, _half(d.waiting_time_ms_interval))
            for d in self.stats.demands
            if d.delivered
        ]

    @property
    def mean_waiting_time_ms(self) -> float:
        served = self._served()
        return math.fsum(share * mean for share, mean, _ in served) if served else math.nan

    @property
    def waiting_time_ms_interval(self) -> tuple[float, float]:
        mean = self.mean_waiting_time_ms
        spread = math.fsum(share * half for share, _, half in self._served())
        return mean - spread, mean + spread

    def _subject(self) -> str:
        each = "at their own rates" if self.arrival_rate_hz is None else f"each at {self.arrival_rate_hz:g} Hz"
        return f"{self.demands} demand{'s' if self.demands != 1 else ''} {each}"

    def _fields(self) -> dict[str, Any]:
        return {"arrival_rate_hz": self.arrival_rate_hz, "demands": self.demands}


def _loads(
    demands: tuple[Demand, ...], rates_hz: Iterable[float] | None, counts: Iterable[int] | None
) -> list[tuple[float | None, tuple[Demand, ...]]]:
    """Each point's rate (None for counts) and demands, every one checked before anything runs."""
    from .physics import replaced

    if (rates_hz is None) == (counts is None):
        raise TypeError("network_load: give either rates_hz or counts")
    points: list[tuple[float | None, tuple[Demand, ...]]] = []
    if rates_hz is not None:
        for rate in rates_hz:
            if rate is None:
                raise TypeError("rates_hz: each must be a rate in Hz, got None")
            chosen = tuple(replaced(demand, arrival_rate_hz=rate) for demand in demands)  # checks rate
            points.append((float(rate), chosen))
    else:
        for count in counts or ():
            try:
                number = operator.index(count)
            except TypeError:
                raise TypeError(f"counts: each must be an integer, got {count!r}") from None
            if not 1 <= number <= len(demands):
                raise ValueError(f"counts: each must lie in 1 .. {len(demands)} (the demands given), got {number}")
            points.append((None, demands[:number]))
    if not points:
        raise ValueError("network_load: at least one load is needed")
    return points


def network_load(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    demands: Iterable[Demand],
    duration_ms: float,
    model: Any = None,
    *,
    rates_hz: Iterable[float] | None = None,
    counts: Iterable[int] | None = None,
    seed: int | None = None,
    **options: Any,
) -> tuple[LoadPoint, ...]:
    """`vorn.physics.network` at each load, one `LoadPoint` per load in the order given: with `rates_hz`, every
    demand's requests arrive at each rate in turn (their `max_outstanding` kept); with `counts`, the first n of
    `demands` run, as given, for each n. `options` are `network`'s other keyword arguments (strategy, policy,
    replicates, memory_capacity, memories_per_link_end, workers, executor, shards, progress).

    Every point runs on `seed` (None: one from the clock, the same for all), so point k is
    ``network(nodes, links, <its demands>, duration_ms, model, seed=seed, **options)`` bit for bit.
    """
    from .physics import _seed

    wanted = tuple(demands)
    for demand in wanted:
        if not isinstance(demand, Demand):
            raise TypeError(f"demands: each must be a Demand, got {demand!r}")
    points = _loads(wanted, rates_hz, counts)
    base_seed = _seed(seed)
    nodes, links = tuple(nodes), tuple(links)
    return tuple(
        LoadPoint(rate, len(chosen), network(nodes, links, chosen, duration_ms, model, seed=base_seed, **options))
        for rate, chosen in points
    )
