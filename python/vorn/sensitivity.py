"""Which inputs move a result, in which direction, and by more than the noise?

    from vorn.sensitivity import sensitivity
    report = sensitivity(nodes, links, "A", "C", 0.75, 5000.0, runs=2_000, seed=1)   # the success rate
    report = sensitivity(nodes, links, "A", "C", runs=20_000, seed=1,
                         model=vorn.physics.PhysicalModel(cutoff_ms=50.0))          # the secret-key rate
    report.table            # one row per parameter, the largest effect first
    vorn.plot.plot_sensitivity(report)

Each parameter is lowered and raised by `change` (10 %) in turn, one at a time: on vorn_core's timeline
(``model=None``) every node's T2, every link's length, fidelity and rate, and the fibre loss, for the success
rate of the request; on the physical model (``model=`` a ``vorn.physics.PhysicalModel``) the same figures of
the network and the model's own parameters that are set ("attenuation_db_km", "efficiency", "cutoff_ms", ...),
for the secret-key rate. Unlike ``MonteCarloStats.sensitivity_analysis`` (which vorn_core keeps as it is), the
analysis here

- reports both directions as signed changes of the figure, not one unsigned sum;
- runs the baseline and every variant on the same trials (common random numbers: the same seeds, and
  every draw keyed by its trial's seed), so that a difference comes from the parameter, not the draws;
- runs `replicates` independent replicates (seeds from `vorn.stats.replicate_seeds`) and gives each
  effect its standard error, the scatter of the per-replicate differences over the square root of
  their number;
- gives the noise floor of the run: the half-width of the baseline figure's interval at the same confidence
  (the success rate's normal-approximation interval z * sqrt(p (1 - p) / N); for the physical model the
  scatter of the replicates' figures, z * sd / sqrt(replicates)); a change smaller than this is smaller than
  what the run can say about the figure itself;
- marks the parameters that the model does not read (on the timeline `vorn.inputs.reads`: memory lifetimes
  always, generation rates unless the strategy is HighestSuccess) instead of simulating them: they cannot
  change any result. Naming such a parameter in `keys` also warns (an UnreadInputWarning naming it and the
  model).

Perturbed values stay in range: a fidelity or a probability raised above 1 is set to 1, and the row gives the
values used.
"""

from __future__ import annotations

import math
import statistics
from collections.abc import Iterable, Iterator, Sequence
from concurrent.futures import Executor
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import vorn_core as vc

from . import _models, _native, _network, parallel, physics
from .stats import Table, replicate_seeds, z_score

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
    "figure_lower",
    "figure_upper",
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


FRACTIONS = ("base_fidelity", "efficiency", "swap_success_probability")  # at most 1


def _clamped(figure: str, value: float) -> float:
    return min(value, 1.0) if figure in FRACTIONS else value


def _own_keys(point: Any) -> list[str]:
    """The physical model's parameters that a sensitivity analysis varies: those set to a number other than 0."""
    if not isinstance(point, physics._Request):
        return []
    model = point.model
    return [
        parameter.name
        for parameter in physics.parameters()
        if isinstance(getattr(model, parameter.name), float) and getattr(model, parameter.name) != 0.0
    ]


def base_value(key: str, point: Any) -> float:
    """The value a parameter has in the unperturbed network (the first link's, for parallel links)."""
    figure, _, target = key.partition(":")
    if figure in _own_keys(point):
        return float(getattr(point.model, figure))
    if figure == LOSS:
        return _loss(point)
    if figure in _network.NODE_FIGURES:
        return float(next(getattr(node, figure) for node in point.nodes if node.id == target))
    link = next(link for link in point.links if f"{link.from_node}->{link.to}" == target)
    return float(getattr(link, figure))


def _loss(point: Any) -> float:
    if not isinstance(point, _network.Setup):
        return math.nan  # the physical model has no configuration: its own attenuation_db_km
    config = point.config or _native.engine_default_config()
    return float(config.physical.baseline_purify_factor * _native.LOSS_PER_PURIFY_FACTOR)


def scaled(key: str, factor: float, point: Any) -> Any:
    """The point with one parameter multiplied by `factor` (every link between the named ends, each its own
    value; a fidelity or a probability no higher than 1)."""
    figure, _, target = key.partition(":")
    if figure in _own_keys(point):
        return point.with_model(**{figure: _clamped(figure, base_value(figure, point) * factor)})
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
    the parameters the model does not read last) and the run's noise floor; `figure` names the figure whose
    changes the rows give (an attribute of the baseline: "success_rate" on the timeline, "secret_key_rate_bps"
    on the physical model) and `model` the model that ran."""

    baseline: Any
    table: Table
    noise_floor: float
    confidence: float
    change: float
    runs: int
    replicates: int
    seed: int
    figure: str = "success_rate"
    model: str = _models.TIMELINE

    @property
    def base_value(self) -> float:
        """The baseline's value of the figure."""
        return float(_models.value(self.baseline, self.figure))

    @property
    def label(self) -> str:
        """The figure as a reader says it, with its unit."""
        return _models.label(self.figure)

    def to_frame(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame."""
        return self.table.to_frame()

    def __repr__(self) -> str:
        return f"{self._heading()}\n{self.table!r}"

    def _heading(self) -> str:
        return (
            f"Sensitivity of the {self.label} {self.base_value:.4g} on {self.model} "
            f"({self.replicates} replicates x {self.runs:,} runs from seed {self.seed}) to each parameter "
            f"lowered and raised by {self.change:.0%}; noise floor {self.noise_floor:.4g} "
            f"({self.confidence:.0%})"
        )

    def _repr_html_(self) -> str:
        return f"<p>{self._heading()}</p>{self.table._repr_html_()}"


def _change_stderr(variant: list[Any], baseline: list[Any], figure: str) -> float:
    """The standard error of a change of the pooled figure, from the per-replicate differences."""
    differences = [
        _models.value(ours, figure) - _models.value(theirs, figure) for ours, theirs in zip(variant, baseline)
    ]
    return statistics.stdev(differences) / math.sqrt(len(differences)) if len(differences) > 1 else math.nan


def sensitivity(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    fidelity_target: float | None = None,
    max_latency_ms: float | None = None,
    runs: int | None = None,
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
    model: physics.PhysicalModel | None = None,
    keys: Sequence[str] | None = None,
) -> SensitivityReport:
    """How a figure of the request moves when each parameter is lowered and raised by `change`: the success
    rate on vorn_core's timeline (`model` None), the secret-key rate (bit/s) on the physical model (`model` a
    `vorn.physics.PhysicalModel`).

    Every ensemble has `replicates` replicates of `runs` trials (at least two replicates, for the standard
    errors), with the same seeds for the baseline and every variant. The timeline needs `fidelity_target` (a
    fraction in [0, 1]) and `max_latency_ms` (a bound in ms of simulated time), and `config` is its
    configuration; the physical model reads none of them. Other arguments as for `vorn.parallel.simulate`
    (ValueError naming argument and value for unknown nodes, out-of-range figures): `runs` trials per
    replicate, `seed` the seed the replicates' seeds derive from (`vorn.stats.replicate_seeds`; None: one from
    the clock, kept in the report's `seed`). `change` is the relative step, in (0, 1) (0.1: values at 90 % and
    110 %); `confidence` the level of the noise floor and of the intervals, in (0, 1). `keys` names the
    parameters to vary (keys as `vorn.sweep` takes them; None: all, see `parameters`). Ensembles run here, on
    `executor` or on a local pool of `workers` processes, with a progress bar over all their trials
    (`progress`).

    Each row: "parameter", "read" (whether the model reads it; rows of parameters it does not read hold
    NaN), "base_value", "lower_value", "upper_value" (the values used), "figure_lower", "figure_upper" (the
    figure there), "effect_lower", "effect_upper" (its changes from the baseline), "se_lower", "se_upper"
    (their standard errors), "impact" (the larger of the two changes in size) and "above_noise" (an effect
    beyond both the noise floor and its own `confidence` interval).
    """
    if runs is None:
        raise TypeError("sensitivity: runs is needed")
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
    chosen_model = _models.of(model)
    checked = chosen_model.point(nodes, links, from_node, to, fidelity_target, max_latency_ms, strategy, config)
    chosen = _network.seed_of(seed)
    base = parallel.clock_seed() if chosen is None else chosen
    seeds = replicate_seeds(base, replicates, runs)

    known = parameters(checked.nodes, checked.links) + _own_keys(checked)
    if keys is None:
        varied = known
    else:
        if isinstance(keys, str):
            raise TypeError("argument 'keys': expected a sequence of parameter keys, got str")
        varied = list(dict.fromkeys(keys))
        for key in varied:
            if key not in known:
                raise ValueError(f"argument 'keys': unknown parameter {key!r}; this analysis has: {', '.join(known)}")
            if not chosen_model.reads(key, checked):
                _models.warn_unread(key, chosen_model.name)
    read = [key for key in varied if chosen_model.reads(key, checked)]
    variants = [checked]
    for key in read:
        variants += [scaled(key, 1.0 - change, checked), scaled(key, 1.0 + change, checked)]

    def jobs() -> Iterator[tuple[Any, int, int]]:
        for variant in variants:
            for start in seeds:
                yield variant, runs, start

    results = chosen_model.ensembles(
        jobs(),
        len(variants) * replicates * runs,
        executor=executor,
        workers=workers,
        progress=progress,
        description="sensitivity",
    )
    figure = chosen_model.figure
    pieces = [[next(results) for _ in seeds] for _ in variants]
    pooled = [chosen_model.pooled(group, base) for group in pieces]
    baseline = pooled[0]
    if model is None:
        p = baseline.empirical_success_rate
        noise_floor = z * math.sqrt(p * (1.0 - p) / baseline.total_runs)
    else:
        noise_floor = z * statistics.stdev(_models.value(one, figure) for one in pieces[0]) / math.sqrt(replicates)

    rows: list[dict[str, Any]] = []
    base_figure = _models.value(baseline, figure)
    for index, key in enumerate(read):
        lower, upper = pooled[1 + 2 * index], pooled[2 + 2 * index]
        effect_lower = _models.value(lower, figure) - base_figure
        effect_upper = _models.value(upper, figure) - base_figure
        se_lower = _change_stderr(pieces[1 + 2 * index], pieces[0], figure)
        se_upper = _change_stderr(pieces[2 + 2 * index], pieces[0], figure)
        value = base_value(key, checked)
        name = key.partition(":")[0]
        impact = max(abs(effect_lower), abs(effect_upper))
        rows.append(
            {
                "parameter": key,
                "read": True,
                "base_value": value,
                "lower_value": _clamped(name, value * (1.0 - change)),
                "upper_value": _clamped(name, value * (1.0 + change)),
                "figure_lower": _models.value(lower, figure),
                "figure_upper": _models.value(upper, figure),
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
    for key in varied:
        if key not in read:
            rows.append(
                dict.fromkeys(COLUMNS, nan)
                | {"parameter": key, "read": False, "base_value": base_value(key, checked)}
                | {"above_noise": False}
            )
    table = Table(rows, COLUMNS)
    return SensitivityReport(
        baseline, table, noise_floor, confidence, change, runs, replicates, base, figure, chosen_model.name
    )
