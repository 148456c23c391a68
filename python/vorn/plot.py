"""Figures with matplotlib (the `plot` extra). Each function draws on `ax` (a new figure's Axes when None)
and returns that Axes; axes are labelled with what they show and its unit."""

from __future__ import annotations

import math
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Protocol, cast

import vorn_core as vc

from . import _network, inputs
from ._extras import require
from .nx import NetworkSource, definitions_of
from .stats import wilson_interval, z_score

if TYPE_CHECKING:
    import pandas
    from matplotlib.axes import Axes

    from ._network_load import LoadPoint
    from ._physics_network import NetworkStats
    from .sensitivity import SensitivityReport

__all__ = [
    "plot_network",
    "plot_network_model",
    "plot_network_load",
    "plot_sensitivity",
    "plot_comparison",
    "plot_sweep",
    "plot_key_rate",
    "plot_waiting_time",
    "plot_fidelity_memory",
    "link_utilisation",
    "layout",
]

FEATURE = "vorn.plot"
UTILISATION_COLOURS = "viridis"
UNUSED_COLOUR = "0.55"
LINK_STYLES: dict[str, Any] = {"Fiber": "solid", "Satellite": (0, (4, 2))}  # satellite links dashed
SATELLITE_COLOUR = "tab:purple"
LOWER_COLOUR = "tab:blue"  # the parameter lowered
UPPER_COLOUR = "tab:red"  # the parameter raised
NOISE_COLOUR = "0.85"
BAR_COLOUR = "tab:blue"
RECOMMENDED_COLOUR = "tab:orange"
WAITING_COLOUR = "tab:orange"  # beside the throughput's default blue
BINS_PER_OCTAVE = 8  # of the waiting-time distributions drawn
LABEL_OFFSET = 0.04  # of the drawing's span: link labels sit beside their line, not on it


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
    """What `plot_comparison` reads: a ``vorn.compare`` report, a TopologyComparisonReport, or a report of
    the same shape put together from several."""

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


def layout(nodes: Iterable[vc.NodeDefinition], links: Iterable[vc.LinkDefinition]) -> dict[str, tuple[float, float]]:
    """Positions in the unit square that depend only on which nodes are joined, not on the order of the
    definitions: the same network always gets the same drawing (a seeded spring layout started from the
    nodes on a circle in depth-first order, so that rings and chains start untangled)."""
    nx = require("networkx", "plot", FEATURE)
    ids = sorted({node.id for node in nodes})
    pairs = sorted({tuple(sorted((link.from_node, link.to))) for link in links if link.from_node != link.to})
    neighbours: dict[str, list[str]] = {node: [] for node in ids}
    for a, b in pairs:
        if a in neighbours and b in neighbours:
            neighbours[a].append(b)
            neighbours[b].append(a)
    order: list[str] = []
    for root in ids:
        stack = [root]
        while stack:
            node = stack.pop()
            if node not in order:
                order.append(node)
                stack += sorted(neighbours[node], reverse=True)
    if len(order) < 2:
        return {node: (0.5, 0.5) for node in order}
    turn = 2 * math.pi / len(order)
    start = {node: (math.cos(turn * i), math.sin(turn * i)) for i, node in enumerate(order)}
    graph = nx.Graph()
    graph.add_nodes_from(order)
    graph.add_edges_from((a, b) for a, b in pairs if a in neighbours and b in neighbours)
    positions = nx.spring_layout(graph, pos=start, seed=1, iterations=200)
    xs = [float(x) for x, _ in positions.values()]
    ys = [float(y) for _, y in positions.values()]
    span = max(max(xs) - min(xs), max(ys) - min(ys)) or 1.0
    return {node: ((float(x) - min(xs)) / span, (float(y) - min(ys)) / span) for node, (x, y) in positions.items()}


def plot_network(
    nodes: NetworkSource,
    links: Iterable[vc.LinkDefinition] | None = None,
    utilisation: Mapping[str, int] | Any | None = None,
    ax: Axes | None = None,
    positions: Mapping[str, tuple[float, float]] | None = None,
    utilisation_label: str = "generation attempts",
) -> Axes:
    """Draw a network (definitions, a NetworkTopologyPayload or a VornFile) to scale in both directions.

    Fibre links are solid lines, satellite links dashed. With `utilisation` (a heatmap dict such as
    ``stats.link_utilization_heatmap``, or statistics that have one) each link is coloured on a colour
    scale of its generation attempts and labelled with their count; without it, links are grey (satellite
    links purple) and labelled with their length. Labels sit beside their line; parallel links are drawn
    side by side. `positions` maps node ids to coordinates (default: `layout`, the same for the same network);
    `utilisation_label` names what the colour scale counts.
    """
    require("networkx", "plot", FEATURE)
    plt = _pyplot()
    from matplotlib.collections import LineCollection
    from matplotlib.colors import Normalize
    from matplotlib.lines import Line2D

    node_list, link_list = definitions_of(nodes, links)
    ax = _axes(ax)
    pos = dict(positions) if positions is not None else layout(node_list, link_list)
    span = max((math.dist(a, b) for a in pos.values() for b in pos.values()), default=1.0) or 1.0
    kinds = [_network.member_name(link.link_type, vc.LinkType) for link in link_list]

    if utilisation is not None:
        heatmap = utilisation if isinstance(utilisation, Mapping) else utilisation.link_utilization_heatmap
        values = link_utilisation(link_list, heatmap)
        norm = Normalize(vmin=0, vmax=max(values, default=0) or 1)
        cmap = plt.get_cmap(UTILISATION_COLOURS)
        colours = [cmap(norm(value)) for value in values]
        labels = [f"{value:,}" for value in values]
    else:
        colours = [SATELLITE_COLOUR if kind == "Satellite" else UNUSED_COLOUR for kind in kinds]
        labels = [f"{link.distance_km:g} km" for link in link_list]

    parallel: dict[frozenset[str], list[int]] = {}
    for index, link in enumerate(link_list):
        parallel.setdefault(frozenset((link.from_node, link.to)), []).append(index)
    segments: list[list[tuple[float, float]]] = [[] for _ in link_list]
    normals: list[tuple[float, float]] = [(0.0, 0.0) for _ in link_list]
    for indices in parallel.values():
        for rank, index in enumerate(indices):
            (x0, y0), (x1, y1) = pos[link_list[index].from_node], pos[link_list[index].to]
            if (x1, y1) < (x0, y0):  # the same normal whichever way round the link was defined
                (x0, y0), (x1, y1) = (x1, y1), (x0, y0)
            length = math.hypot(x1 - x0, y1 - y0) or 1.0
            nx_, ny_ = -(y1 - y0) / length, (x1 - x0) / length
            shift = (rank - (len(indices) - 1) / 2) * 0.03 * span
            segments[index] = [(x0 + nx_ * shift, y0 + ny_ * shift), (x1 + nx_ * shift, y1 + ny_ * shift)]
            normals[index] = (nx_, ny_)
    lines = LineCollection(
        segments,
        colors=colours,
        linestyles=[LINK_STYLES[kind] for kind in kinds],
        linewidths=2.5,
        zorder=1,
        gid="links",
    )
    ax.add_collection(lines)
    for segment, normal, label in zip(segments, normals, labels):
        (x0, y0), (x1, y1) = segment
        offset = LABEL_OFFSET * span
        ax.text(
            (x0 + x1) / 2 + normal[0] * offset,
            (y0 + y1) / 2 + normal[1] * offset,
            label,
            fontsize=8,
            ha="center",
            va="center",
            zorder=3,
            gid="link-label",
            bbox={"boxstyle": "round,pad=0.15", "fc": "white", "ec": "none", "alpha": 0.85},
        )
    xs = [pos[node.id][0] for node in node_list]
    ys = [pos[node.id][1] for node in node_list]
    ax.scatter(xs, ys, s=120, c="white", edgecolors="black", zorder=4, gid="nodes")
    away = _label_directions(pos, link_list)
    for node in node_list:
        x, y = pos[node.id]
        dx, dy = away.get(node.id, (0.0, 1.0))
        ax.annotate(
            node.id,
            (x, y),
            xytext=(10 * dx, 10 * dy),
            textcoords="offset points",
            ha="left" if dx > 0.5 else "right" if dx < -0.5 else "center",
            va="bottom" if dy > 0.5 else "top" if dy < -0.5 else "center",
            fontsize=9,
            zorder=5,
            gid="node-label",
        )
    if "Satellite" in kinds:
        ax.legend(
            handles=[
                Line2D([], [], color="0.3", linestyle=LINK_STYLES["Fiber"], label="fibre"),
                Line2D([], [], color="0.3", linestyle=LINK_STYLES["Satellite"], label="satellite"),
            ],
            loc="best",
            fontsize=8,
        )
    if utilisation is not None:
        from matplotlib.cm import ScalarMappable
        from matplotlib.ticker import StrMethodFormatter

        ax.figure.colorbar(
            ScalarMappable(norm=norm, cmap=cmap),
            ax=ax,
            label=utilisation_label,
            format=StrMethodFormatter("{x:,.0f}"),
        )
    ax.set_aspect("equal")
    ax.set_axis_off()
    margin = 0.12 * span
    ax.set_xlim(min(xs, default=0.0) - margin, max(xs, default=1.0) + margin)
    ax.set_ylim(min(ys, default=0.0) - margin, max(ys, default=1.0) + margin)
    return ax


def plot_network_model(
    stats: NetworkStats,
    nodes: NetworkSource,
    links: Iterable[vc.LinkDefinition] | None = None,
    ax: Axes | None = None,
    positions: Mapping[str, tuple[float, float]] | None = None,
) -> Axes:
    """The network of a `vorn.physics.network` run: each link coloured and labelled by the pairs it generated,
    each demand's route drawn over it in a colour of its own, with its throughput in the legend."""
    plt = _pyplot()
    node_list, link_list = definitions_of(nodes, links)
    pos = dict(positions) if positions is not None else layout(node_list, link_list)
    heatmap = {f"{link.from_node}->{link.to}": link.generated for link in stats.links}
    ax = plot_network(node_list, link_list, heatmap, ax, pos, utilisation_label="pairs generated")
    colours = plt.get_cmap("tab10")
    for k, demand in enumerate(stats.demands):
        xs, ys = zip(*(pos[node] for node in demand.path))
        ax.plot(
            xs,
            ys,
            color=colours(k % 10),
            linewidth=1.2,
            alpha=0.8,
            zorder=2,
            gid="route",
            label=f"{demand.from_node} to {demand.to}: {demand.throughput_hz:.3g} pairs/s",
        )
    ax.legend(loc="best", fontsize=8)
    return ax


def plot_network_load(points: Sequence[LoadPoint], ax: Axes | None = None) -> Axes:
    """A sweep of `vorn.physics.network_load`: the total throughput (left axis) and the mean waiting time (right
    axis, dashed) against the arrival rate, or against the number of demands for a sweep over counts, each with
    its interval as a band. Returns the throughput's Axes; the waiting time's is its twin."""
    from ._network_load import LoadPoint

    rows = [point.to_dict() for point in points]
    x = "demands" if any(point.arrival_rate_hz is None for point in points) else "arrival_rate_hz"
    ax = plot_sweep(rows, x, "throughput_hz", ax)
    waiting = ax.twinx()
    waiting.set_prop_cycle(color=[WAITING_COLOUR], linestyle=["--"])
    plot_sweep(rows, x, "mean_waiting_time_ms", waiting)
    for axes, key in ((ax, "throughput_hz"), (waiting, "mean_waiting_time_ms")):
        figure = next(figure for figure in LoadPoint.FIGURES if figure.key == key)
        axes.set_ylabel(f"{figure.label} ({figure.unit}, band: interval)")
    ax.set_xlabel("arrival rate of each demand (Hz)" if x == "arrival_rate_hz" else "demands")
    return ax


def _label_directions(
    pos: Mapping[str, tuple[float, float]], links: Sequence[vc.LinkDefinition]
) -> dict[str, tuple[float, float]]:
    """For each node, the unit direction away from the mean of its links, where its label sits clear of them."""
    pulls: dict[str, list[float]] = {}
    for link in links:
        for here, there in ((link.from_node, link.to), (link.to, link.from_node)):
            if here == there or here not in pos or there not in pos:
                continue
            (x0, y0), (x1, y1) = pos[here], pos[there]
            length = math.hypot(x1 - x0, y1 - y0) or 1.0
            pull = pulls.setdefault(here, [0.0, 0.0])
            pull[0] += (x1 - x0) / length
            pull[1] += (y1 - y0) / length
    directions = {}
    for node, (px, py) in pulls.items():
        size = math.hypot(px, py)
        directions[node] = (-px / size, -py / size) if size > 1e-9 else (0.0, 1.0)
    return directions


def plot_sensitivity(report: SensitivityReport, ax: Axes | None = None, top: int | None = None) -> Axes:
    """Two-sided tornado chart of a `vorn.sensitivity` report: for each parameter that the model reads and
    that moved the report's figure (the `top` largest, or all), the change of the figure with the
    parameter lowered (left colour) and raised (right colour), each with its error bar at the report's
    confidence; the noise floor as a grey band around zero. Parameters without any effect and those the
    model does not read are named beneath the chart instead of drawn."""
    ax = _axes(ax)
    z = z_score(report.confidence)
    rows = [row for row in report.table if row["read"]]
    shown = [row for row in rows if row["effect_lower"] != 0.0 or row["effect_upper"] != 0.0][:top]
    still = [row["parameter"] for row in rows if row["effect_lower"] == 0.0 and row["effect_upper"] == 0.0]
    unread = [row["parameter"] for row in report.table if not row["read"]]
    positions = list(range(len(shown)))[::-1]
    height = 0.38
    change = f"{report.change:.0%}"
    for side, colour, offset, label in (
        ("lower", LOWER_COLOUR, height / 2, f"parameter lowered by {change}"),
        ("upper", UPPER_COLOUR, -height / 2, f"parameter raised by {change}"),
    ):
        ax.barh(
            [position + offset for position in positions],
            [row[f"effect_{side}"] for row in shown],
            height=height,
            xerr=[z * row[f"se_{side}"] for row in shown],
            color=colour,
            ecolor="black",
            capsize=3,
            label=label,
            gid=f"effect-{side}",
        )
    ax.axvspan(
        -report.noise_floor,
        report.noise_floor,
        color=NOISE_COLOUR,
        zorder=0,
        label=f"noise floor ±{report.noise_floor:.4f}",
        gid="noise-floor",
    )
    ax.axvline(0.0, color="black", linewidth=0.8)
    ax.set_yticks(positions, [row["parameter"] for row in shown])
    ax.set_xlabel(
        f"change of the {report.label} from {report.base_value:.4g} (error bars: {report.confidence:.0%} intervals)"
    )
    ax.legend(loc="lower right", fontsize=8)
    notes = []
    if still:
        notes.append(f"no effect in this run: {_listed(still)}")
    if unread:
        notes.append(f"not read by the model: {_listed(unread)}")
    if notes:
        ax.annotate(
            "\n".join(notes),
            (0.0, 0.0),
            xycoords="axes fraction",
            xytext=(0, -36),
            textcoords="offset points",
            va="top",
            fontsize=8,
            wrap=True,
            gid="sensitivity-notes",
        )
    return ax


def _listed(keys: list[str]) -> str:
    by_figure: dict[str, int] = {}
    for key in keys:
        figure = key.partition(":")[0]
        by_figure[figure] = by_figure.get(figure, 0) + 1
    return ", ".join(f"{figure} ({count})" if count > 1 else figure for figure, count in by_figure.items())


def plot_comparison(report: ComparisonReport, ax: Axes | None = None, confidence: float = 0.95) -> Axes:
    """Success rate of each network of a comparison (a ``vorn.compare`` report or a TopologyComparisonReport)
    as bars with their Wilson intervals, the recommended one highlighted. Each result's exact success count
    is used where it has one; a TopologyComparisonReport's rates are turned back into counts. A comparison on
    the physical model shows its figure (the secret-key rate) with its 95 % interval, a zero marked as such."""
    ax = _axes(ax)
    results = list(report.results)
    names = [result.topology_name for result in results]
    colours = [RECOMMENDED_COLOUR if name == report.recommended_topology else BAR_COLOUR for name in names]
    figure = getattr(report, "figure", "success_rate")
    if figure != "success_rate":  # the physical model's figure, with the interval its statistics give
        rows = [cast(Any, result).stats.to_dict() for result in results]  # a vorn.compare report's
        values = [row[figure] for row in rows]
        lows = [row.get(f"{figure}_ci_low", math.nan) for row in rows]
        highs = [row.get(f"{figure}_ci_high", math.nan) for row in rows]
        errors = [
            [0.0 if math.isnan(low) else value - low for value, low in zip(values, lows)],
            [0.0 if math.isnan(high) else high - value for value, high in zip(values, highs)],
        ]
        ax.bar(range(len(results)), values, yerr=errors, capsize=4, color=colours)
        for index, value in enumerate(values):
            if value == 0.0:  # a bar of no height is said, not left for a gap
                ax.annotate("0", (index, 0.0), ha="center", va="bottom", gid="zero")
        ax.set_xticks(range(len(results)), names, rotation=15)
        ax.set_ylabel(f"{_label(figure)} (95% interval, {report.runs:,} trials)")
        return ax
    rates, below, above = [], [], []
    for result in results:
        rate = result.success_rate
        if report.runs == 0 or math.isnan(rate):
            rates.append(0.0)
            below.append(0.0)
            above.append(0.0)
            continue
        won = getattr(result, "successes", None)
        low, high = wilson_interval(round(rate * report.runs) if won is None else won, report.runs, confidence)
        rates.append(rate)
        below.append(rate - low)
        above.append(high - rate)
    ax.bar(range(len(results)), rates, yerr=[below, above], capsize=4, color=colours)
    ax.set_xticks(range(len(results)), names, rotation=15)
    ax.set_ylim(0.0, 1.0)
    ax.set_ylabel(f"success rate ({confidence:.0%} interval, {report.runs:,} runs)")
    return ax


def _records(rows: pandas.DataFrame | Iterable[Mapping[str, Any]]) -> list[Mapping[str, Any]]:
    return rows.to_dict("records") if hasattr(rows, "to_dict") else list(rows)


def _groups(records: list[Mapping[str, Any]], x: str, by: str | None) -> dict[Any, list[Mapping[str, Any]]]:
    """Rows by their value of `by` (one group without it), each sorted by `x`."""
    groups: dict[Any, list[Mapping[str, Any]]] = {}
    for record in records:
        groups.setdefault(record[by] if by else None, []).append(record)
    for group in groups.values():
        group.sort(key=lambda record: record[x])
    return groups


def _group_label(by: str | None, value: Any) -> str | None:
    if by is None:
        return None
    return f"{by} = {value:g}" if isinstance(value, float) else f"{by} = {value}"


def _band(y: str, record: Mapping[str, Any]) -> tuple[float, float] | None:
    """The interval of column `y` in a row: "ci_low"/"ci_high" for the success rate, else "<y>_ci_low"/"<y>_ci_high"."""
    keys = ("ci_low", "ci_high") if y == "success_rate" else (f"{y}_ci_low", f"{y}_ci_high")
    if all(key in record for key in keys):
        return float(record[keys[0]]), float(record[keys[1]])
    return None


def plot_sweep(
    rows: pandas.DataFrame | Iterable[Mapping[str, Any]],
    x: str,
    y: str = "success_rate",
    ax: Axes | None = None,
    by: str | None = None,
) -> Axes:
    """A sweep (rows of `vorn.sweep.sweep`: a Table, DataFrame or list of dicts) as `y` against `x`, with
    the interval of `y` as a band where the rows have one (columns "ci_low" and "ci_high" for the success rate,
    "<y>_ci_low" and "<y>_ci_high" for the physical model's figures); one curve per value of the column `by`.
    Axes are labelled with what the columns hold and their units."""
    ax = _axes(ax)
    banded = False
    for value, group in _groups(_records(rows), x, by).items():
        xs = [record[x] for record in group]
        (line,) = ax.plot(xs, [record[y] for record in group], marker="o", label=_group_label(by, value))
        bands = [_band(y, record) for record in group]
        if all(band is not None for band in bands):
            banded = True
            ax.fill_between(
                xs,
                [band[0] for band in bands if band is not None],
                [band[1] for band in bands if band is not None],
                color=line.get_color(),
                alpha=0.25,
                linewidth=0,
            )
    ax.set_xlabel(_label(x))
    ax.set_ylabel(_label(y) + (" (band: interval)" if banded else ""))
    if by is not None:
        ax.legend()
    return ax


def plot_key_rate(
    rows: pandas.DataFrame | Iterable[Mapping[str, Any]],
    x: str = "distance_km",
    ax: Axes | None = None,
    by: str | None = None,
    bound: Callable[[float], float] | None = None,
    bound_label: str = "repeaterless bound",
) -> Axes:
    """Secret-key rate against `x` on a log scale, from rows of a sweep of the physical model
    (``vorn.sweep.sweep(..., model=vorn.physics.PhysicalModel())``, or any rows with a "secret_key_rate_bps"
    column), one curve per value of `by`, with error bars where the rows carry the rate's interval.

    A point whose rate is zero (the pairs too noisy for any key) cannot sit on a log axis: it is drawn as an open
    marker on the axis' lower edge and named "no key" in the legend, rather than left out. `bound` gives, for an
    x value, the rate that no protocol without repeaters can beat (bit/s), drawn as a dashed line: for chains of
    n links of the swept length L km at a source rate R Hz,
    ``lambda L: physics.repeaterless_bound(10 ** (-0.2 * n * L / 10)) * R``."""
    ax = _axes(ax)
    key = "secret_key_rate_bps"
    records = _records(rows)
    zero_xs: list[float] = []
    for value, group in _groups(records, x, by).items():
        positive = [record for record in group if record[key] > 0.0]
        zero_xs += [record[x] for record in group if not record[key] > 0.0]
        bands = [_band(key, record) for record in positive]
        xs, ys = [record[x] for record in positive], [record[key] for record in positive]
        label = _group_label(by, value)
        if positive and all(band is not None for band in bands):
            below = [y - band[0] for y, band in zip(ys, bands) if band is not None]
            above = [band[1] - y for y, band in zip(ys, bands) if band is not None]
            ax.errorbar(xs, ys, yerr=[below, above], marker="o", capsize=3, label=label, gid="key-rate")
        else:
            ax.plot(xs, ys, marker="o", label=label, gid="key-rate")
    ax.set_yscale("log")
    if bound is not None:
        xs = sorted({record[x] for record in records})
        ax.plot(xs, [bound(value) for value in xs], color="black", linestyle="--", label=bound_label, gid="bound")
    if zero_xs:
        ax.plot(
            zero_xs,
            [0.02] * len(zero_xs),
            linestyle="none",
            marker="v",
            markerfacecolor="none",
            color="0.3",
            transform=ax.get_xaxis_transform(),  # y in axes fraction: just above the lower edge
            clip_on=False,
            label="no key (rate 0)",
            gid="no-key",
        )
    ax.set_xlabel(_label(x))
    ax.set_ylabel(_label(key) + (", log scale"))
    ax.grid(alpha=0.3, which="both")
    ax.legend(fontsize=8)
    return ax


class WaitingTimes(Protocol):
    """What `plot_waiting_time` reads: a ``vorn.physics.PhysicsStats``."""

    def waiting_time_ms_histogram(self) -> list[tuple[float, float, int]]: ...
    def waiting_time_ms_quantile(self, q: float) -> float: ...
    @property
    def mean_waiting_time_ms(self) -> float: ...
    @property
    def delivered(self) -> int: ...


def plot_waiting_time(
    stats: WaitingTimes | Sequence[WaitingTimes],
    ax: Axes | None = None,
    labels: Sequence[str] | None = None,
    quantiles: Sequence[float] = (0.5, 0.95),
) -> Axes:
    """The distribution of the waiting time of the delivered trials of one or more ensembles of the physical model
    (``PhysicsStats``), from their histograms: the share of trials per ms on a log time axis, with each mean
    (solid) and the `quantiles` (dotted) marked."""
    ax = _axes(ax)
    ensembles = list(stats) if isinstance(stats, Sequence) else [stats]
    for index, one in enumerate(ensembles):
        label = labels[index] if labels is not None else None
        bins = _coarse(one.waiting_time_ms_histogram())
        if not bins or not one.delivered:
            continue
        edges = [bins[0][0]]
        heights: list[float] = []
        for low, high, count in bins:
            if low > edges[-1]:  # an empty stretch between bins that hold trials
                heights.append(0.0)
                edges.append(low)
            heights.append(count / one.delivered / math.log10(high / low))
            edges.append(high)
        steps = ax.stairs(heights, edges, label=label, gid="waiting-time")
        colour = steps.get_edgecolor()
        ax.axvline(one.mean_waiting_time_ms, color=colour, linewidth=1, gid="mean")
        for q in quantiles:
            ax.axvline(one.waiting_time_ms_quantile(q), color=colour, linewidth=1, linestyle=":", gid="quantile")
    ax.set_xscale("log")
    ax.set_xlabel("waiting time (ms of simulated time)")
    ax.set_ylabel("share of delivered trials per decade")
    marks = "solid: mean" + (f"; dotted: quantiles {', '.join(f'{q:g}' for q in quantiles)}" if quantiles else "")
    ax.set_title(marks, fontsize=8)
    if labels is not None:
        ax.legend(fontsize=8)
    return ax


def _coarse(histogram: list[tuple[float, float, int]]) -> list[tuple[float, float, int]]:
    """A waiting-time histogram in bins of 1/`BINS_PER_OCTAVE` of an octave, fine enough for the eye and coarse
    enough not to show the noise of single counts (bins at 0 ms or without an upper edge are left out)."""
    counts: dict[int, int] = {}
    for low, high, count in histogram:
        if low > 0.0 and math.isfinite(high):
            group = math.floor(BINS_PER_OCTAVE * math.log2(low))
            counts[group] = counts.get(group, 0) + count
    return [(2 ** (k / BINS_PER_OCTAVE), 2 ** ((k + 1) / BINS_PER_OCTAVE), counts[k]) for k in sorted(counts)]


def plot_fidelity_memory(
    rows: pandas.DataFrame | Iterable[Mapping[str, Any]],
    x: str = "memory_lifetime_t2",
    ax: Axes | None = None,
    by: str | None = None,
) -> Axes:
    """Mean delivered fidelity against the memories' coherence time T2 (s, log scale), from rows of a sweep of the
    physical model over "memory_lifetime_t2" (or one node's, "memory_lifetime_t2:N1"), with its interval as a
    band, one curve per value of `by`, and the fidelity 1/4 of a useless pair as a dotted line."""
    ax = plot_sweep(rows, x, "mean_fidelity", ax, by)
    ax.set_xscale("log")
    ax.axhline(0.25, color="grey", linestyle=":", linewidth=1, gid="useless")
    return ax


def _label(column: str) -> str:
    """What a column holds and its unit: an input by `vorn.inputs.label`, a result by its record's figures."""
    try:
        return inputs.label(column)
    except KeyError:
        pass
    from ._models import label

    return label(column)
