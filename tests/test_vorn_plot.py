from types import SimpleNamespace

import pytest
import vorn_core as vc

matplotlib = pytest.importorskip("matplotlib")
pytest.importorskip("networkx")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import to_rgba  # noqa: E402

from vorn import plot  # noqa: E402
from vorn.stats import wilson_interval  # noqa: E402


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def network():
    nodes = [vc.NodeDefinition(name, 1.0) for name in "ABC"]
    links = [
        vc.LinkDefinition("A", "B", 10.0, 0.9, 100.0),
        vc.LinkDefinition("B", "C", 20.0, 0.9, 100.0),
        vc.LinkDefinition("B", "A", 30.0, 0.9, 100.0),
    ]
    return nodes, links


def texts(ax, gid):
    return [text.get_text() for text in ax.texts if text.get_gid() == gid]


def link_colours(ax):
    (lines,) = [collection for collection in ax.collections if collection.get_gid() == "links"]
    return [tuple(colour) for colour in lines.get_colors()]


def test_network_links_are_coloured_and_labelled_by_utilisation():
    _, ax = plt.subplots()
    assert plot.plot_network(*network(), utilisation={"A->B": 40, "B->A": 20, "C->B": 30}, ax=ax) is ax
    cmap = plt.get_cmap(plot.UTILISATION_COLOURS)
    # both directions count on the first link joining two nodes; a later parallel link carries nothing
    assert link_colours(ax) == [cmap(1.0), cmap(0.5), cmap(0.0)]
    assert texts(ax, "link-label") == ["60", "30", "0"]
    assert len(ax.figure.axes) == 2  # the colour bar


def test_network_without_utilisation_shows_lengths():
    ax = plot.plot_network(vc.NetworkTopologyPayload(*network()))
    assert texts(ax, "link-label") == ["10 km", "20 km", "30 km"]
    assert set(link_colours(ax)) == {to_rgba(plot.UNUSED_COLOUR)}


def test_sensitivity_tornado_puts_the_largest_impact_on_top():
    ranking = {"base_fidelity:A->B": 0.5, "memory_lifetime_t2:A": 0.2, "alpha_loss_db_km": float("nan")}
    ax = plot.plot_sensitivity(ranking)
    bars = sorted(ax.patches, key=lambda bar: -bar.get_y())
    assert [bar.get_width() for bar in bars] == [0.5, 0.2, 0.0]
    assert [bar.get_facecolor() for bar in bars] == [
        to_rgba(plot.PARAMETER_COLOURS[kind]) for kind in ("base_fidelity", "memory_lifetime_t2", "alpha_loss_db_km")
    ]
    labels = sorted(ax.get_yticklabels(), key=lambda label: -label.get_position()[1])
    assert [label.get_text() for label in labels] == list(ranking)
    assert len(plot.plot_sensitivity(ranking, top=2).patches) == 2


def test_comparison_bars_carry_wilson_intervals_and_mark_the_recommendation():
    ax = plot.plot_comparison(
        SimpleNamespace(
            runs=200,
            recommended_topology="hybrid",
            results=[
                SimpleNamespace(
                    topology_name=name, success_rate=rate, mean_latency_ms=3.0, mean_fidelity=0.8, link_utilization={}
                )
                for name, rate in (("telecom_backbone", 0.5), ("hybrid", 0.9))
            ],
        )
    )
    assert [bar.get_height() for bar in ax.patches] == [0.5, 0.9]
    assert [bar.get_facecolor() for bar in ax.patches] == [to_rgba(plot.BAR_COLOUR), to_rgba(plot.RECOMMENDED_COLOUR)]
    assert [label.get_text() for label in ax.get_xticklabels()] == ["telecom_backbone", "hybrid"]
    (error_bars,) = ax.collections
    assert [(segment[0][1], segment[1][1]) for segment in error_bars.get_segments()] == [
        pytest.approx(wilson_interval(100, 200)),
        pytest.approx(wilson_interval(180, 200)),
    ]


def test_sweep_curve_with_its_band_per_group():
    rows = [
        {"distance_km": d, "fidelity_target": t, "success_rate": r, "ci_low": r - 0.1, "ci_high": r + 0.1}
        for t in (0.8, 0.9)
        for d, r in ((100.0, 0.5), (50.0, 0.7))
    ]
    ax = plot.plot_sweep(rows, "distance_km", by="fidelity_target")
    assert [(list(line.get_xdata()), list(line.get_ydata())) for line in ax.lines] == [([50.0, 100.0], [0.7, 0.5])] * 2
    assert len(ax.collections) == 2
    assert [t.get_text() for t in ax.get_legend().get_texts()] == ["fidelity_target = 0.8", "fidelity_target = 0.9"]
    assert len(plot.plot_sweep(rows[:2], "distance_km", y="ci_low").collections) == 0
