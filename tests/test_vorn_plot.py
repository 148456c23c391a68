import math
from types import SimpleNamespace

import pytest
import vorn_core as vc

matplotlib = pytest.importorskip("matplotlib")
pytest.importorskip("networkx")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import to_rgba  # noqa: E402
from matplotlib.container import BarContainer  # noqa: E402

from vorn import physics, plot  # noqa: E402
from vorn.sensitivity import sensitivity  # noqa: E402
from vorn.stats import wilson_interval  # noqa: E402


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def network():
    nodes = [vc.NodeDefinition(name, 1.0) for name in "ABC"]
    links = [
        vc.LinkDefinition("A", "B", 10.0, 0.9, 100.0),
        vc.LinkDefinition("B", "C", 20.0, 0.9, 100.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
        vc.LinkDefinition("B", "A", 30.0, 0.9, 100.0),
    ]
    return nodes, links


def texts(ax, gid):
    return [text for text in ax.texts if text.get_gid() == gid]


def link_lines(ax):
    (lines,) = [collection for collection in ax.collections if collection.get_gid() == "links"]
    return lines


def test_network_links_are_coloured_and_labelled_by_utilisation():
    _, ax = plt.subplots()
    assert plot.plot_network(*network(), utilisation={"A->B": 40, "B->A": 20, "C->B": 30}, ax=ax) is ax
    cmap = plt.get_cmap(plot.UTILISATION_COLOURS)
    # both directions count on the first link joining two nodes; a later parallel link carries nothing
    assert [tuple(colour) for colour in link_lines(ax).get_colors()] == [cmap(1.0), cmap(0.5), cmap(0.0)]
    assert [text.get_text() for text in texts(ax, "link-label")] == ["60", "30", "0"]
    assert len(ax.figure.axes) == 2  # the colour bar


def test_network_satellite_links_dashed_to_scale_labels_beside_their_lines():
    ax = plot.plot_network(vc.NetworkTopologyPayload(*network()))
    lines = link_lines(ax)
    styles = [style for _, style in lines.get_linestyles()]
    assert styles[0] is None and styles[1] is not None and styles[2] is None  # only the satellite link dashed
    assert [tuple(colour) for colour in lines.get_colors()] == [
        to_rgba(plot.UNUSED_COLOUR),
        to_rgba(plot.SATELLITE_COLOUR),
        to_rgba(plot.UNUSED_COLOUR),
    ]
    assert [text.get_text() for text in texts(ax, "link-label")] == ["10 km", "20 km", "30 km"]
    assert ax.get_aspect() == 1.0
    for segment, label in zip(lines.get_segments(), texts(ax, "link-label")):
        (x0, y0), (x1, y1) = segment
        x, y = label.get_position()
        distance = abs((x1 - x0) * (y0 - y) - (x0 - x) * (y1 - y0)) / math.hypot(x1 - x0, y1 - y0)
        assert distance > 0.02  # off the line
    assert [text.get_text() for text in ax.get_legend().get_texts()] == ["fibre", "satellite"]


def test_the_same_network_gets_the_same_layout_whatever_the_order():
    nodes, links = network()
    assert plot.layout(nodes, links) == plot.layout(nodes[::-1], links[::-1])
    assert all(0.0 <= value <= 1.0 for point in plot.layout(nodes, links).values() for value in point)


def test_network_model_draws_each_route_over_the_links_pairs():
    nodes, links = network()
    demands = [physics.Demand("A", "C"), physics.Demand("A", "B", arrival_rate_hz=20.0)]
    stats = physics.network(nodes, links, demands, 100.0, replicates=2, seed=1)
    ax = plot.plot_network_model(stats, nodes, links)
    routes = [line for line in ax.lines if line.get_gid() == "route"]
    assert [len(line.get_xdata()) for line in routes] == [3, 2]
    assert [text.get_text() for text in ax.get_legend().get_texts()][0].startswith("A to C: ")
    assert ax.figure.axes[1].get_ylabel() == "pairs generated"


@pytest.mark.parametrize(
    ("load", "x_label"), [({"rates_hz": [20.0, 40.0]}, "arrival rate"), ({"counts": [1, 2]}, "demands")]
)
def test_network_load_draws_throughput_and_waiting_time_with_bands(load, x_label):
    nodes, links = network()
    demands = [physics.Demand("A", "B", arrival_rate_hz=20.0), physics.Demand("B", "A", arrival_rate_hz=20.0)]
    points = physics.network_load(nodes, links, demands, 200.0, replicates=3, seed=1, **load)
    ax = plot.plot_network_load(points)
    waiting = ax.figure.axes[1]
    assert [list(axes.lines[0].get_ydata()) for axes in (ax, waiting)] == [
        [point.throughput_hz for point in points],
        [point.mean_waiting_time_ms for point in points],
    ]
    assert len(ax.collections) == len(waiting.collections) == 1 and ax.get_xlabel().startswith(x_label)
    assert (ax.get_ylabel(), waiting.get_ylabel()) == (
        "total throughput (pairs/s, band: interval)",
        "mean waiting time (ms, band: interval)",
    )


def test_sensitivity_tornado_is_two_sided_with_error_bars_and_the_noise_floor():
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(3)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 80.0, 0.93, 800.0) for i in range(2)]
    report = sensitivity(nodes, links, "N0", "N2", 0.85, 50.0, 200, seed=2, replicates=3)
    ax = plot.plot_sensitivity(report)
    moved = [row for row in report.table if row["read"] and (row["effect_lower"] or row["effect_upper"])]
    for side in ("lower", "upper"):
        bars = sorted((bar for bar in ax.patches if bar.get_gid() == f"effect-{side}"), key=lambda bar: -bar.get_y())
        assert [bar.get_width() for bar in bars] == [row[f"effect_{side}"] for row in moved]
    labels = sorted(ax.get_yticklabels(), key=lambda label: -label.get_position()[1])
    assert [label.get_text() for label in labels] == [row["parameter"] for row in moved]
    (band,) = [patch for patch in ax.patches if patch.get_gid() == "noise-floor"]
    assert band.get_x() == pytest.approx(-report.noise_floor) and band.get_width() == pytest.approx(
        2 * report.noise_floor
    )
    (notes,) = texts(ax, "sensitivity-notes")
    assert "not read by the model: memory_lifetime_t2 (3), generation_rate_hz (2)" in notes.get_text()
    bars = [container for container in ax.containers if isinstance(container, BarContainer)]
    assert len(bars) == 2 and all(container.errorbar is not None for container in bars)


def test_comparison_bars_carry_wilson_intervals_and_mark_the_recommendation():
    results = [
        SimpleNamespace(topology_name=name, success_rate=rate, successes=won)
        for name, rate, won in (("telecom_backbone", 0.5, 100), ("hybrid", 0.9, 180))
    ]
    ax = plot.plot_comparison(SimpleNamespace(runs=200, recommended_topology="hybrid", results=results))
    assert [bar.get_height() for bar in ax.patches] == [0.5, 0.9]
    assert [bar.get_facecolor() for bar in ax.patches] == [to_rgba(plot.BAR_COLOUR), to_rgba(plot.RECOMMENDED_COLOUR)]
    assert [label.get_text() for label in ax.get_xticklabels()] == ["telecom_backbone", "hybrid"]
    (error_bars,) = ax.collections
    assert [(segment[0][1], segment[1][1]) for segment in error_bars.get_segments()] == [
        pytest.approx(wilson_interval(100, 200)),
        pytest.approx(wilson_interval(180, 200)),
    ]


def test_sweep_curve_with_its_band_per_group_and_labels_with_units():
    rows = [
        {"distance_km": d, "fidelity_target": t, "success_rate": r, "ci_low": r - 0.1, "ci_high": r + 0.1}
        for t in (0.8, 0.9)
        for d, r in ((100.0, 0.5), (50.0, 0.7))
    ]
    ax = plot.plot_sweep(rows, "distance_km", by="fidelity_target")
    assert [(list(line.get_xdata()), list(line.get_ydata())) for line in ax.lines] == [([50.0, 100.0], [0.7, 0.5])] * 2
    assert len(ax.collections) == 2
    assert [t.get_text() for t in ax.get_legend().get_texts()] == ["fidelity_target = 0.8", "fidelity_target = 0.9"]
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("link length (km)", "success rate (band: interval)")
    ax = plot.plot_sweep(rows[:2], "distance_km", y="ci_low")
    assert len(ax.collections) == 0 and ax.get_ylabel() == "success rate, interval low end"


def test_key_rate_marks_zero_rates_on_the_lower_edge_beside_error_bars_and_the_bound():
    rows = [
        {"distance_km": km, "secret_key_rate_bps": rate, "secret_key_rate_bps_ci_low": rate / 2,
         "secret_key_rate_bps_ci_high": rate * 2}
        for km, rate in ((30.0, 0.0), (10.0, 100.0), (20.0, 10.0))
    ]  # fmt: skip
    ax = plot.plot_key_rate(rows, bound=lambda km: 1000.0 / km)
    lines = {line.get_gid(): line for line in ax.lines[::-1]}  # the first of each, before the caps
    assert list(lines["key-rate"].get_xydata().tolist()) == [[10.0, 100.0], [20.0, 10.0]]
    assert list(lines["no-key"].get_xdata()) == [30.0] and ax.get_yscale() == "log"
    assert list(lines["bound"].get_ydata()) == [100.0, 50.0, pytest.approx(1000.0 / 30.0)]
    (bars,) = [collection for collection in ax.collections if collection.get_segments()]
    assert [tuple(segment[:, 1]) for segment in bars.get_segments()] == [(50.0, 200.0), (5.0, 20.0)]


def test_waiting_time_distribution_holds_every_delivered_trial():
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(3)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 50.0, 0.99, 1e4) for i in range(2)]
    stats = physics.simulate(nodes, links, "N0", "N2", 5000, seed=1)
    ax = plot.plot_waiting_time(stats)
    (steps,) = ax.patches
    heights, edges, _ = steps.get_data()
    assert sum(h * math.log10(b / a) for h, a, b in zip(heights, edges, edges[1:])) == pytest.approx(1.0)
    assert ax.get_xscale() == "log" and len([line for line in ax.lines if line.get_gid() == "quantile"]) == 2
