"""Which inputs move the success rate, in which direction, and by more than the noise?

    from vorn.sensitivity import sensitivity
    report = sensitivity(nodes, links, "A", "C", 0.75, 5000.0, runs=2_000, seed=1)
    report.table            # one row per parameter, the largest effect first
    vorn.plot.plot_sensitivity(report)

Each parameter of the network (every node's T2, every link's length, fidelity and rate, the fibre loss) is
lowered and raised by `change` (10 %) in turn, one at a time. Unlike ``MonteCarloStats.sensitivity_analysis``
(which vorn_core keeps as it is), the analysis here

- reports both directions as signed changes of the success rate, not one unsigned sum;
- runs the baseline and every variant on the same trials (common random numbers: the same seeds, and
  every draw keyed by its trial's seed), so that a difference comes from the parameter, not the draws;
- runs `replicates` independent replicates (seeds from `vorn.stats.replicate_seeds`) and gives each
  effect its standard error, the scatter of the per-replicate differences over the square root of
  their number;
- gives the noise floor of the run: the half-width of the baseline success rate's normal-approximation
  interval, z * sqrt(p (1 - p) / N), at the same confidence; a change smaller than this is smaller than
  what the run can say about the success rate itself;
- marks the parameters that the model does not read (`vorn.inputs.reads`: memory lifetimes always,
  generation rates unless the strategy is HighestSuccess) instead of simulating them: they cannot change
  any result.

Perturbed values stay in range: a fidelity raised above 1 is set to 1, and the row gives the values used.
"""

from __future__ import annotations

import math
import statistics
from collections.abc import Iterable, Iterator
from concurrent.futures import Executor
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import vorn_core as vc

from . import _native, _network, inputs, parallel
from .stats import EnsembleStats, Table, pool, replicate_seeds, z_score

if TYPE_CHECKING:
    import pandas

__all__ = ["sensitivity", "SensitivityReport", "parameters"]

LOSS = "alpha_loss_db_km"
COLUMNS = [
    "parameter",
    "read",
    "base_value",
    "lower_value",
    "upper_value",
    "rate_lower",
    "rate_upper",
    "effect_lower",
    "effect_upper",
    "se_lower",
    "se_upper",
    "impact",
    "above_noise",
]


def parameters(nodes: Iterable[vc.NodeDefinition], links: Iterable[vc.LinkDefinition]) -> list[str]:
    """The keys of the parameters the analysis perturbs, in evaluation order: node figures (the lifetimes),
    then for each pair of link ends its figures (length, fidelity and rate), then the fibre loss."""
    keys = [f"{figure}:{node.id}" for node in nodes for figure in _network.NODE_FIGURES]
    for link in links:
        keys += [f"{figure}:{link.from_node}->{link.to}" for figure in _network.LINK_FIGURES]
    return list(dict.fromkeys(keys + [LOSS]))


def _clamped(figure: str, value: float) -> float:
    return min(value, 1.0) if figure == "base_fidelity" else value


def base_value(key: str, point: _network.Setup) -> float:
    """The value a parameter has in the unperturbed network (the first link's, for parallel links)."""
    figure, _, target = key.partition(":")
    if figure == LOSS:
        return _loss(point)
    if figure in _network.NODE_FIGURES:
        return float(next(getattr(node, figure) for node in point.nodes if node.id == target))
    link = next(link for link in point.links if f"{link.from_node}->{link.to}" == target)
    return float(getattr(link, figure))


def _loss(point: _network.Setup) -> float:
    config = point.config or _native.engine_default_config()
    return float(config.physical.baseline_purify_factor * _native.LOSS_PER_PURIFY_FACTOR)


def scaled(key: str, factor: float, point: _network.Setup) -> _network.Setup:
    """The setup with one parameter multiplied by `factor` (every link between the named ends, each its own
    value; a fidelity no higher than 1)."""
    figure, _, target = key.partition(":")
    if figure == LOSS:
        config = point.config or _native.engine_default_config()
        factor_now = config.physical.baseline_purify_factor
        return point._replace(config=_network.with_purify_factor(config, factor_now * factor))
    if figure in _network.NODE_FIGURES:
        nodes = tuple(
            _network.varied(node, **{figure: getattr(node, figure) * factor}) if node.id == target else node
            for node in point.nodes
        )
        return point._replace(nodes=nodes)
    links = tuple(
        _network.varied(link, **{figure: _clamped(figure, getattr(link, figure) * factor)})
        if f"{link.from_node}->{link.to}" == target
        else link
        for link in point.links
    )
    return point._replace(links=links)


@dataclass(frozen=True)
class SensitivityReport:
    """The outcome of `sensitivity`: the baseline ensemble, one row per parameter (largest effect first,
    the parameters the model does not read last) and the run's noise floor."""

    baseline: EnsembleStats
    table: Table
    noise_floor: float
    confidence: float
    change: float
    runs: int
    replicates: int
    seed: int

    def to_frame(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame."""
        return self.table.to_frame()

    def __repr__(self) -> str:
        return f"{self._heading()}\n{self.table!r}"

    def _heading(self) -> str:
        return (
            f"Sensitivity of the success rate {self.baseline.empirical_success_rate:.4f} "
            f"({self.replicates} replicates x {self.runs:,} runs from seed {self.seed}) to each parameter "
            f"lowered and raised by {self.change:.0%}; noise floor {self.noise_floor:.4f} "
            f"({self.confidence:.0%})"
        )

    def _repr_html_(self) -> str:
        return f"<p>{self._heading()}</p>{self.table._repr_html_()}"


def _effect(variant: EnsembleStats, baseline: EnsembleStats) -> tuple[float, float]:
    """The change of the pooled success rate and its standard error from the per-replicate differences."""
    effect = (variant.successes - baseline.successes) / baseline.total_runs
    differences = [
        (ours.successes - theirs.successes) / theirs.total_runs
        for ours, theirs in zip(variant.replicates, baseline.replicates)
    ]
    se = statistics.stdev(differences) / math.sqrt(len(differences)) if len(differences) > 1 else math.nan
    return effect, se


def sensitivity(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    config: vc.SimulationConfig | None = None,
    *,
    change: float = 0.1,
    replicates: int = 8,
    confidence: float = 0.95,
    executor: Executor | None = None,
    workers: int | None = None,
    progress: bool | None = None,
) -> SensitivityReport:
    """How the success rate of the request moves when each parameter is lowered and raised by `change`.

    Every ensemble has `replicates` replicates of `runs` trials (at least two replicates, for the standard
    errors), with the same seeds for the baseline and every variant. Arguments as for
    `vorn.parallel.simulate` (ValueError naming argument and value for unknown nodes, out-of-range
    targets, negative or NaN figures): `fidelity_target` a fraction in [0, 1], `max_latency_ms` a bound in
    ms of simulated time, `runs` trials per replicate, `seed` the seed the replicates' seeds derive from
    (`vorn.stats.replicate_seeds`; None: one from the clock, kept in the report's `seed`). `change` is the
    relative step, in (0, 1) (0.1: values at 90 % and 110 %); `confidence` the level of the noise floor
    and of the intervals, in (0, 1). Ensembles run here, on `executor` or on a local pool of `workers`
    processes, with a progress bar over all their trials (`progress`).

    Each row: "parameter" (a key as `vorn.sweep` takes it), "read" (whether the model reads it; rows of
    parameters it does not read hold NaN), "base_value", "lower_value", "upper_value" (the values used),
    "rate_lower", "rate_upper" (success rates), "effect_lower", "effect_upper" (changes of the success
    rate from the baseline), "se_lower", "se_upper" (their standard errors), "impact" (the larger of the
    two changes in size) and "above_noise" (an effect beyond both the noise floor and its own
    `confidence` interval).
    """
    runs = _network.count(runs, "runs")
    if runs == 0:
        raise ValueError("argument 'runs': the analysis needs at least one run, got 0")
    replicates = _network.count(replicates, "replicates")
    if replicates < 2:
        raise ValueError(f"argument 'replicates': standard errors need at least 2 replicates, got {replicates}")
    if isinstance(change, bool) or not isinstance(change, (int, float)):
        raise TypeError(f"argument 'change': expected a number, got {type(change).__name__}")
    if not 0.0 < change < 1.0:
        raise ValueError(f"argument 'change': must lie strictly between 0 and 1, got {change!r}")
    z = z_score(confidence)
    checked = _network.setup(nodes, links, config, from_node, to, fidelity_target, max_latency_ms, strategy)
    chosen = _network.seed_of(seed)
    base = parallel.clock_seed() if chosen is None else chosen
    seeds = replicate_seeds(base, replicates, runs)

    keys = parameters(checked.nodes, checked.links)
    read = [key for key in keys if inputs.reads(key, checked.request.strategy)]
    variants = [checked]
    for key in read:
        variants += [scaled(key, 1.0 - change, checked), scaled(key, 1.0 + change, checked)]

    def jobs() -> Iterator[parallel.Job]:
        for variant in variants:
            for start in seeds:
                yield variant, runs, start

    results = parallel.ensembles(
        jobs(),
        len(variants) * replicates * runs,
        executor=executor,
        workers=workers,
        shards=None,
        progress=progress,
        description="sensitivity",
    )
    pooled = [pool([next(results) for _ in seeds], base) for _ in variants]
    baseline, perturbed = pooled[0], pooled[1:]
    p = baseline.empirical_success_rate
    noise_floor = z * math.sqrt(p * (1.0 - p) / baseline.total_runs)

    rows: list[dict[str, Any]] = []
    for index, key in enumerate(read):
        lower, upper = perturbed[2 * index], perturbed[2 * index + 1]
        effect_lower, se_lower = _effect(lower, baseline)
        effect_upper, se_upper = _effect(upper, baseline)
        value = base_value(key, checked)
        figure = key.partition(":")[0]
        impact = max(abs(effect_lower), abs(effect_upper))
        rows.append(
            {
                "parameter": key,
                "read": True,
                "base_value": value,
                "lower_value": _clamped(figure, value * (1.0 - change)),
                "upper_value": _clamped(figure, value * (1.0 + change)),
                "rate_lower": lower.empirical_success_rate,
                "rate_upper": upper.empirical_success_rate,
                "effect_lower": effect_lower,
                "effect_upper": effect_upper,
                "se_lower": se_lower,
                "se_upper": se_upper,
                "impact": impact,
                "above_noise": any(
                    abs(effect) > noise_floor and abs(effect) > z * se
                    for effect, se in ((effect_lower, se_lower), (effect_upper, se_upper))
                ),
            }
        )
    rows.sort(key=lambda row: -row["impact"])  # stable: equal impacts keep the evaluation order
    nan = math.nan
    for key in keys:
        if key not in read:
            rows.append(
                dict.fromkeys(COLUMNS, nan)
                | {"parameter": key, "read": False, "base_value": base_value(key, checked)}
                | {"above_noise": False}
            )
    return SensitivityReport(baseline, Table(rows, COLUMNS), noise_floor, confidence, change, runs, replicates, base)
