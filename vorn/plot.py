"""Figures with matplotlib (the `plot` extra). Each function draws on `ax` (a new figure's Axes when None)
and returns that Axes."""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Protocol

import vorn_core as vc

from ._extras import require
from .nx import NetworkSource, definitions_of, to_networkx
from .stats import wilson_interval

if TYPE_CHECKING:
    import pandas
    from matplotlib.axes import Axes

__all__ = ["plot_network", "plot_sensitivity", "plot_comparison", "plot_sweep", "link_utilisation"]

FEATURE = "vorn.plot"
UTILISATION_COLOURS = "viridis"
UNUSED_COLOUR = "0.55"
PARAMETER_COLOURS = {  # sensitivity keys by the figure they perturb
    "memory_lifetime_t2": "tab:purple",
    "distance_km": "tab:blue",
    "base_fidelity": "tab:green",
    "generation_rate_hz": "tab:orange",
    "alpha_loss_db_km": "tab:red",
}
BAR_COLOUR = "tab:blue"
RECOMMENDED_COLOUR = "tab:orange"


def _pyplot() -> Any:
    return require("matplotlib.pyplot", "plot", FEATURE)


def _axes(ax: Axes | None) -> Axes:
    if ax is None:
        _, ax = _pyplot().subplots()
    return ax


class ComparisonResult(Protocol):
    @property
    def topology_name(self) -> str: ...
    @property
    def success_rate(self) -> float: ...


class ComparisonReport(Protocol):
    """What `plot_comparison` reads: a TopologyComparisonReport, or a report of the same shape put together
    from several (the library's reports have no constructor)."""

    @property
    def results(self) -> Sequence[ComparisonResult]: ...
    @property
    def recommended_topology(self) -> str: ...
    @property
    def runs(self) -> int: ...


def link_utilisation(links: Iterable[vc.LinkDefinition], heatmap: Mapping[str, int]) -> list[int]:
    """Attempts per link from a utilisation heatmap ("A->B" keys in path direction): a hop runs over the
    first link joining its two nodes, either way round, so that link counts both directions and later
    parallel links count nothing."""
    counted: set[frozenset[str]] = set()
    values = []
    for link in links:
        ends = frozenset((link.from_node, link.to))
        if ends in counted:
            values.append(0)
            continue
        counted.add(ends)
        value = heatmap.get(f"{link.from_node}->{link.to}", 0)
        if link.from_node != link.to:
            value += heatmap.get(f"{link.to}->{link.from_node}", 0)
        values.append(value)
    return values


def plot_network(
    nodes: NetworkSource,
    links: Iterable[vc.LinkDefinition] | None = None,
    utilisation: Mapping[str, int] | vc.MonteCarloStats | None = None,
    ax: Axes | None = None,
    positions: Mapping[str, tuple[float, float]] | None = None,
) -> Axes:
    """Draw a network (definitions, a NetworkTopologyPayload or a VornFile) with networkx.

    With `utilisation` (a heatmap dict such as ``stats.link_utilization_heatmap``, or the statistics
    themselves) each link is coloured on a colour scale and labelled by its attempt count; without it,
    links are grey and labelled by their length. Parallel links are drawn side by side. `positions` maps
    node ids to coordinates (default: a seeded spring layout).
    """
    nx = require("networkx", "plot", FEATURE)
    plt = _pyplot()
    from matplotlib.collections import LineCollection
    from matplotlib.colors import Normalize

    node_list, link_list = definitions_of(nodes, links)
    graph = to_networkx(node_list, link_list)
    ax = _axes(ax)
    pos = dict(positions) if positions is not None else nx.spring_layout(graph, seed=1)
    span = max((math.dist(a, b) for a in pos.values() for b in pos.values()), default=1.0) or 1.0

    if utilisation is not None:
        heatmap = utilisation if isinstance(utilisation, Mapping) else utilisation.link_utilization_heatmap
        values = link_utilisation(link_list, heatmap)
        norm = Normalize(vmin=0, vmax=max(values, default=0) or 1)
        cmap = plt.get_cmap(UTILISATION_COLOURS)
        colours = [cmap(norm(value)) for value in values]
        labels = [f"{value:,}" for value in values]
    else:
        colours = [UNUSED_COLOUR] * len(link_list)
        labels = [f"{link.distance_km:g} km" for link in link_list]

    parallel: dict[frozenset[str], list[int]] = {}
    for index, link in enumerate(link_list):
        parallel.setdefault(frozenset((link.from_node, link.to)), []).append(index)
    segments: list[list[tuple[float, float]]] = [[] for _ in link_list]
    for indices in parallel.values():
        for rank, index in enumerate(indices):
            (x0, y0), (x1, y1) = pos[link_list[index].from_node], pos[link_list[index].to]
            length = math.hypot(x1 - x0, y1 - y0) or 1.0
            shift = (rank - (len(indices) - 1) / 2) * 0.03 * span
            dx, dy = -(y1 - y0) / length * shift, (x1 - x0) / length * shift
            segments[index] = [(x0 + dx, y0 + dy), (x1 + dx, y1 + dy)]
    lines = LineCollection(segments, colors=colours, linewidths=2.5, zorder=1, gid="links")
    ax.add_collection(lines)
    for segment, label in zip(segments, labels):
        (x0, y0), (x1, y1) = segment
        ax.text(
            (x0 + x1) / 2,
            (y0 + y1) / 2,
            label,
            fontsize=8,
            ha="center",
            va="center",
            zorder=3,
            gid="link-label",
            bbox={"boxstyle": "round,pad=0.2", "fc": "white", "ec": "none", "alpha": 0.8},
        )
    nx.draw_networkx_nodes(graph, pos, ax=ax, node_color="white", edgecolors="black", node_size=500)
    nx.draw_networkx_labels(graph, pos, ax=ax, font_size=9)
    if utilisation is not None:
        from matplotlib.cm import ScalarMappable
        from matplotlib.ticker import StrMethodFormatter

        ax.figure.colorbar(
            ScalarMappable(norm=norm, cmap=cmap),
            ax=ax,
            label="generation attempts",
            format=StrMethodFormatter("{x:,.0f}"),
        )
    ax.set_axis_off()
    ax.autoscale_view()
    return ax


def plot_sensitivity(ranking: Mapping[str, float], ax: Axes | None = None, top: int | None = None) -> Axes:
    """Tornado chart of a ranking from ``MonteCarloStats.sensitivity_analysis``: one horizontal bar per
    parameter (the `top` first, or all), the most influential at the top, coloured by kind of parameter.
    A NaN impact (a ranking of statistics without runs) is drawn as an empty bar."""
    ax = _axes(ax)
    items = list(ranking.items())[:top]
    kinds = [key.partition(":")[0] for key, _ in items]
    impacts = [0.0 if math.isnan(value) else value for _, value in items]
    positions = list(range(len(items)))[::-1]
    ax.barh(positions, impacts, color=[PARAMETER_COLOURS.get(kind, "tab:gray") for kind in kinds])
    ax.set_yticks(positions, [key for key, _ in items])
    ax.set_xlabel("impact on the success rate (relative change at -10 % and +10 %)")
    from matplotlib.patches import Patch

    shown = list(dict.fromkeys(kinds))
    if shown:
        ax.legend(
            handles=[Patch(color=PARAMETER_COLOURS.get(kind, "tab:gray"), label=kind) for kind in shown],
            loc="lower right",
            fontsize=8,
        )
    return ax


def plot_comparison(report: ComparisonReport, ax: Axes | None = None, confidence: float = 0.95) -> Axes:
    """Success rate of each topology of a TopologyComparisonReport as bars with their Wilson intervals
    (from the report's runs per topology), the recommended topology highlighted."""
    ax = _axes(ax)
    results = list(report.results)
    rates, below, above = [], [], []
    for result in results:
        rate = result.success_rate
        if report.runs == 0 or math.isnan(rate):
            rates.append(0.0)
            below.append(0.0)
            above.append(0.0)
            continue
        low, high = wilson_interval(round(rate * report.runs), report.runs, confidence)
        rates.append(rate)
        below.append(rate - low)
        above.append(high - rate)
    names = [result.topology_name for result in results]
    colours = [RECOMMENDED_COLOUR if name == report.recommended_topology else BAR_COLOUR for name in names]
    ax.bar(range(len(results)), rates, yerr=[below, above], capsize=4, color=colours)
    ax.set_xticks(range(len(results)), names, rotation=15)
    ax.set_ylim(0.0, 1.0)
    ax.set_ylabel(f"success rate ({confidence:.0%} interval, {report.runs:,} runs)")
    return ax


def plot_sweep(
    rows: pandas.DataFrame | Iterable[Mapping[str, Any]],
    x: str,
    y: str = "success_rate",
    ax: Axes | None = None,
    by: str | None = None,
) -> Axes:
    """A sweep (rows of `vorn.sweep.sweep`, DataFrame or list of dicts) as `y` against `x`, with the
    success rate's interval band (columns "ci_low" and "ci_high") when `y` is "success_rate"; one curve
    per value of the column `by`."""
    ax = _axes(ax)
    records = rows.to_dict("records") if hasattr(rows, "to_dict") else list(rows)
    groups: dict[Any, list[dict[str, Any]]] = {}
    for record in records:
        groups.setdefault(record[by] if by else None, []).append(record)
    for value, group in groups.items():
        group.sort(key=lambda record: record[x])
        xs = [record[x] for record in group]
        label = None if by is None else f"{by} = {value:g}" if isinstance(value, float) else f"{by} = {value}"
        (line,) = ax.plot(xs, [record[y] for record in group], marker="o", label=label)
        if y == "success_rate":
            ax.fill_between(
                xs,
                [record["ci_low"] for record in group],
                [record["ci_high"] for record in group],
                color=line.get_color(),
                alpha=0.25,
                linewidth=0,
            )
    ax.set_xlabel(x)
    ax.set_ylabel(y)
    if by is not None:
        ax.legend()
    return ax
