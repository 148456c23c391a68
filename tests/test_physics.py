"""The physical model's ensembles against exact results, its reproducibility, its searches and its refusals.

The exact results (sources in docs/physics.md): the expected maximum of n geometric waiting times; the mean
waiting time of two links with probabilistic swapping; the mean delivered pair of two links with memory decay
under either noise; a Markov chain of two links with a cut-off, solved here; a chain beating the repeaterless
bound. Every seed is fixed, so each check passes or fails the same way on every run; the intervals are 4.5
standard errors wide. The chain model's own exact checks are in tests/cpp/test_chain_model.cpp.
"""

import copy
import json
import math
import pathlib
import pickle
import statistics
from concurrent.futures import ThreadPoolExecutor
from fractions import Fraction

import pytest
import vorn_core as vc
from conftest import ctrl_c_after

import vorn.physics as physics
import vorn.stats

Z = 4.5


def chain(hops, t2=math.inf, fidelity=1.0, rate_hz=1000.0, distance_km=0.0):
    """Nodes N0..Nn and n equal links; without distance an attempt lasts 1 ms when the rate is 1000 Hz."""
    nodes = [vc.NodeDefinition(f"N{i}", t2) for i in range(hops + 1)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", distance_km, fidelity, rate_hz) for i in range(hops)]
    return nodes, links


def run(hops, runs, seed=1, **model):
    nodes, links = chain(hops, **{k: model.pop(k) for k in ("t2", "fidelity") if k in model})
    return physics.simulate(nodes, links, "N0", f"N{hops}", runs, physics.PhysicalModel(**model), seed=seed)


def assert_within(stats_mean, stderr, exact):
    assert abs(stats_mean - exact) <= Z * stderr, (stats_mean, exact, stderr)


def expected_max_of_geometrics(n, p):
    return sum((-1) ** (k + 1) * math.comb(n, k) / (1 - (1 - p) ** k) for k in range(1, n + 1))


@pytest.mark.parametrize("n", [1, 2, 3, 4, 8])
@pytest.mark.parametrize("p", [0.9, 0.5, 0.1, 0.01, 0.001])
def test_mean_waiting_time_is_the_expected_maximum_of_geometric_waits(n, p):
    stats = run(n, 40_000, efficiency=p)
    assert (stats.runs, stats.delivered) == (40_000, 40_000)
    assert_within(stats.mean_waiting_time_ms, stats.waiting_time_ms_stderr, expected_max_of_geometrics(n, p))


@pytest.mark.parametrize("p", [0.5, 0.1, 0.01])
@pytest.mark.parametrize("q", [0.3, 0.7, 1.0])
def test_two_links_with_probabilistic_swapping(p, q):
    stats = run(2, 40_000, efficiency=p, swap_success_probability=q)
    assert_within(stats.mean_waiting_time_ms, stats.waiting_time_ms_stderr, (3 - 2 * p) / (q * p * (2 - p)))


@pytest.mark.parametrize("noise", ["dephasing", "depolarizing"])
@pytest.mark.parametrize("p", [0.5, 0.05])
@pytest.mark.parametrize("t2", [0.002, 0.02, 1.0])
def test_two_links_with_memory_decay(p, t2, noise):
    fidelity = 0.97
    stats = run(2, 40_000, efficiency=p, t2=t2, fidelity=fidelity, memory_noise=noise)
    w0 = (4 * fidelity - 1) / 3
    decay = math.exp(-2 * 1.0 / (1000 * t2))  # one 1 ms slot in two memories of T2 seconds
    kept = p * (1 + (1 - p) * decay) / ((2 - p) * (1 - (1 - p) * decay))  # E[decay^|N1 - N2|]
    if noise == "depolarizing":  # Werner pairs: the same error rate in both bases
        assert_within(stats.mean_fidelity, stats.fidelity_stderr, (1 + 3 * w0**2 * kept) / 4)
        assert stats.error_rate_z == stats.error_rate_x
    else:  # dephasing leaves <ZZ> alone
        assert_within(stats.mean_fidelity, stats.fidelity_stderr, (1 + w0**2 + 2 * w0**2 * kept) / 4)
        assert stats.error_rate_z == pytest.approx((1 - w0**2) / 2, rel=1e-12)


def solve(matrix, vector):
    """Gaussian elimination; exact for Fractions."""
    n = len(vector)
    rows = [list(matrix[i]) + [vector[i]] for i in range(n)]
    for col in range(n):
        pivot = next(r for r in range(col, n) if rows[r][col] != 0)
        rows[col], rows[pivot] = rows[pivot], rows[col]
        for r in range(n):
            if r != col and rows[r][col] != 0:
                factor = rows[r][col] / rows[col][col]
                rows[r] = [a - factor * b for a, b in zip(rows[r], rows[col])]
    return [rows[i][n] / rows[i][i] for i in range(n)]


def cutoff_chain(p, q, m, w0, decay):
    """Two links, attempts of one step, a cut-off of m steps. States: 0 = nothing stored, 1 + j = one pair
    stored for j steps (j < m). Returns the mean waiting time (steps) and mean delivered Werner parameter."""
    size = m + 1
    after_one = 1 if m > 0 else 0  # one arrival: a stored pair, unless it expires at once
    steps_rows, steps_rhs = [], []
    werner_rows, werner_rhs = [], []
    # From nothing: both arrive (p^2) and swap, one arrives, or none.
    row = [Fraction(0)] * size
    row[0] += 1 - (1 - p) ** 2 - p * p * (1 - q)
    row[after_one] -= 2 * p * (1 - p)
    steps_rows.append(row), steps_rhs.append(Fraction(1))
    werner_rows.append(row), werner_rhs.append(p * p * q * w0 * w0)
    for j in range(m):
        # A pair stored j steps: the other arrives (swap at age j + 1) or not (age j + 1; expired at m).
        row = [Fraction(0)] * size
        row[1 + j] += 1
        row[0] -= p * (1 - q)
        row[1 + j + 1 if j + 1 < m else 0] -= 1 - p
        steps_rows.append(row), steps_rhs.append(Fraction(1))
        werner_rows.append(row), werner_rhs.append(p * q * w0 * w0 * decay ** (j + 1))
    return solve(steps_rows, steps_rhs)[0], solve(werner_rows, werner_rhs)[0]


@pytest.mark.parametrize(
    ("p", "q", "m"), [(Fraction(3, 10), Fraction(1), 2), (Fraction(1, 10), Fraction(3, 5), 5), (Fraction(1, 2), 1, 0)]
)
def test_two_links_with_a_cutoff_follow_their_markov_chain(p, q, m):
    fidelity, t2 = Fraction(19, 20), 0.05
    decay = Fraction(math.exp(-2 / (1000 * t2)))
    w0 = (4 * fidelity - 1) / 3
    steps, werner = cutoff_chain(p, Fraction(q), m, w0, decay)
    depolarizing = {"memory_noise": "depolarizing", "t2": t2, "fidelity": float(fidelity)}
    stats = run(2, 40_000, efficiency=float(p), swap_success_probability=float(q), cutoff_ms=m, **depolarizing)
    assert_within(stats.mean_waiting_time_ms, stats.waiting_time_ms_stderr, float(steps))
    assert_within(stats.mean_fidelity, stats.fidelity_stderr, float((1 + 3 * werner) / 4))
    # Without the cut-off the chain waits longer and delivers worse pairs (the check has power).
    free = run(2, 40_000, efficiency=float(p), swap_success_probability=float(q), **depolarizing)
    assert abs(free.mean_fidelity - float((1 + 3 * werner) / 4)) > Z * free.fidelity_stderr


def test_a_repeater_chain_beats_the_repeaterless_bound_at_400_km():
    # 4 x 100 km of fibre (p = 0.01 per mode), 100 modes, 1 GHz sources, memories of 1 s: the whole 400 km has
    # transmissivity 1e-8, so no protocol without repeaters gets more than -log2(1 - 1e-8) bits per use, 14.4
    # bits per second at the same source rate.
    nodes, links = chain(4, t2=1.0, fidelity=0.995, rate_hz=1e9, distance_km=100.0)
    model = physics.PhysicalModel(modes=100)
    stats = physics.simulate(nodes, links, "N0", "N4", 4000, model, seed=8)
    bound_bps = physics.repeaterless_bound(10 ** (-0.2 * 400 / 10)) * 1e9
    assert stats.secret_key_rate_bps_interval[0] > 10 * bound_bps


@pytest.mark.parametrize("q", [0.6, 0.95, 1.0])
def test_mirrored_routes_give_the_same_result(q):
    # Unequal links and memories, messages at the signal speed and a cut-off: the draws come in another order,
    # the statistics are the same (the exact chain of simultaneous swaps is in tests/cpp/test_chain_model.cpp).
    nodes = [vc.NodeDefinition(f"N{i}", t2) for i, t2 in enumerate([0.05, 0.2, 0.01, 1.0])]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", km, 0.97, 2000.0) for i, km in enumerate([20.0, 35.0, 10.0])]
    model = physics.PhysicalModel(swap_success_probability=q, cutoff_ms=8.0, heralding="sender_receiver")
    there = physics.simulate(nodes, links, "N0", "N3", 40_000, model, seed=1)
    back = physics.simulate(nodes, links, "N3", "N0", 40_000, model, seed=2**40)
    for figure in ("waiting_time_ms", "fidelity"):
        a, b = (getattr(stats, f"mean_{figure}") for stats in (there, back))
        errors = (getattr(stats, f"{figure}_stderr") for stats in (there, back))
        assert abs(a - b) <= Z * math.hypot(*errors), figure


def test_replicates_pool_exactly_and_give_the_key_rate_interval():
    nodes, links = chain(3, t2=0.5, fidelity=0.99, distance_km=20.0)
    model = physics.PhysicalModel(swap_success_probability=0.8, memory_noise="depolarizing")
    stats = physics.simulate(nodes, links, "N0", "N3", 2000, model, seed=5, replicates=8)
    seeds = [replicate.seed for replicate in stats.replicates]
    assert seeds == vorn.stats.replicate_seeds(5, 8, 2000) and stats.seed == 5
    assert stats.replicates[2] == physics.simulate(nodes, links, "N0", "N3", 2000, model, seed=seeds[2])
    assert stats.runs == 16_000 and stats.waiting_time_ms_sum == sum(r.waiting_time_ms_sum for r in stats.replicates)
    # Werner pairs: the same error rate in both bases, and the key fraction 1 - 2 h(e).
    assert stats.error_rate_z == stats.error_rate_x
    assert stats.secret_fraction == pytest.approx(1 - 2 * physics.binary_entropy(stats.qber), rel=1e-12)
    # The delta method's interval from the pooled sums is about as wide as the replicates' spread.
    low, high = stats.secret_key_rate_bps_interval
    assert low < stats.secret_key_rate_bps < high
    pooled = physics.merge(stats.replicates)
    delta_low, delta_high = pooled.secret_key_rate_bps_interval
    assert 0.5 < (delta_high - delta_low) / (high - low) < 2.0
    assert delta_low < stats.secret_key_rate_bps < delta_high


@pytest.mark.parametrize(
    ("parameter", "bounds", "network", "model"),
    [
        # Memories of 20 ms: waiting pairs decay; too short a cut-off throws good pairs away.
        ("cutoff_ms", (0.0, 40.0), chain(2, t2=0.02, fidelity=0.99), physics.PhysicalModel(efficiency=0.05)),
        # Fresh pairs of fidelity 0.9 give no key over three links; every round costs half the pairs.
        ("distillation_rounds", (0, 8), chain(3, t2=1.0, fidelity=0.9, distance_km=20.0), physics.PhysicalModel()),
    ],
)
def test_optimize_finds_the_best_of_a_brute_force_grid(parameter, bounds, network, model):
    nodes, links = network
    ends = ("N0", nodes[-1].id)
    best = physics.optimize(nodes, links, *ends, 4000, model, seed=4, parameter=parameter, bounds=bounds)
    if parameter == "cutoff_ms":
        grid = [bounds[0] + k * (bounds[1] - bounds[0]) / 80 for k in range(81)]
    else:
        grid = list(range(bounds[0], bounds[1] + 1))
    rates = {}
    for value in grid:
        varied = physics.replaced(model, **{parameter: value})
        rates[value] = physics.simulate(nodes, links, *ends, 4000, varied, seed=4).secret_key_rate_bps
    grid_best = max(rates, key=rates.__getitem__)
    assert bounds[0] < grid_best < bounds[1]  # an optimum inside the bounds: the check has power
    assert rates[grid_best] <= best.interval[1]  # nothing better than the search's find, within its interval
    assert best.interval[0] < best.estimate < best.interval[1]
    assert len(best.evaluated) < len(grid)


def test_certain_link_key_rate_is_rate_times_secret_fraction():
    nodes, links = chain(1, fidelity=0.98, rate_hz=500.0)
    stats = physics.simulate(nodes, links, "N0", "N1", 1000, seed=3)
    error = 2 * (1 - 0.98) / 3
    assert stats.qber == pytest.approx(error, rel=1e-14)
    assert stats.secret_key_rate_bps == pytest.approx(500 * (1 - 2 * physics.binary_entropy(error)), rel=1e-14)
    assert stats.waiting_time_ms_quantiles == {q: pytest.approx(2.0, rel=4e-3) for q in physics.QUANTILES}


def test_waiting_time_quantiles_are_those_of_the_geometric_distribution():
    p = 0.05
    stats = run(1, 100_000, seed=9, efficiency=p)
    for q in (0.1, 0.5, 0.9):
        exact = math.ceil(math.log(1 - q) / math.log(1 - p))  # smallest k with P(N <= k) >= q
        assert stats.waiting_time_ms_quantile(q) == pytest.approx(exact, abs=1.0 + 0.004 * exact)


def test_route_figures_follow_the_formulas():
    nodes = [vc.NodeDefinition(n, 1.0) for n in "ABC"]
    links = [
        vc.LinkDefinition("A", "B", 50.0, 0.9, 1000.0),
        vc.LinkDefinition("B", "C", 800.0, 0.85, 20.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
    ]
    model = physics.PhysicalModel(efficiency=0.5, satellite_loss_db=20.0)
    route = physics.route(nodes, links, "A", "C", model)
    assert route == physics.Route(
        ("A", "B", "C"),
        (
            physics.Hop("A", "B", 10 ** (-0.2 * 50 / 10), 0.5 * 0.1, max(1.0, 50 / 200), (4 * 0.9 - 1) / 3, 50.0, 1.0),
            physics.Hop(
                "B", "C", 0.01 * 0.5 * 0.8, 0.5 * 0.01 * 0.4, max(50.0, 800 / 200), (4 * 0.85 - 1) / 3, 800.0, 50.0
            ),
        ),
    )
    fibre = physics.route(nodes, links[:1] + [vc.LinkDefinition("B", "C", 10.0, 0.9, 1000.0)], "A", "C").hops[1]
    assert fibre.transmissivity == pytest.approx(10 ** (-0.2))


@pytest.mark.parametrize("shards", [1, 3, 16])
def test_shards_merge_into_the_whole_run_bit_for_bit(shards):
    nodes, links = chain(3, t2=0.05, fidelity=0.95, distance_km=30.0)
    model = physics.PhysicalModel(swap_success_probability=0.8, cutoff_ms=5.0)
    whole = physics.simulate(nodes, links, "N0", "N3", 3000, model, seed=2**64 - 1000)
    assert physics.simulate(nodes, links, "N0", "N3", 3000, model, seed=2**64 - 1000) == whole
    with ThreadPoolExecutor(2) as pool:
        split = physics.simulate(nodes, links, "N0", "N3", 3000, model, seed=2**64 - 1000, executor=pool, shards=shards)
    assert split == whole
    assert split.to_dict() == whole.to_dict()


@pytest.mark.parametrize(
    "forged, reason",
    [
        ({"delivered": 2500}, "2500 delivered out of 500 runs"),  # used to merge to a delivery rate of 5.0
        ({"fidelity_sum": 501 * 2**1074}, "fidelity sum 501.0 for 500 delivered"),
        ({"waiting_time_ms_bins": ()}, "histogram does not hold the 500 delivered trials"),
    ],
)
def test_merge_keeps_the_seed_of_one_seed_range_only_and_refuses_impossible_pieces(forged, reason):
    nodes, links = chain(2, t2=0.05, fidelity=0.95, distance_km=30.0)
    first, second = (physics.simulate(nodes, links, "N0", "N2", 500, seed=seed) for seed in (1, 501))
    assert physics.merge([first, second]) == physics.simulate(nodes, links, "N0", "N2", 1000, seed=1)
    twice = physics.merge([first, first])  # used to claim seed 1, as if it were 1000 trials from there
    assert (twice.seed, twice.runs) == (None, 1000)
    with pytest.raises(ValueError) as raised:
        physics.merge([second, physics.replaced(first, **forged)])
    assert str(raised.value).startswith("pieces[1]: no ensemble has ") and reason in str(raised.value)


REFERENCES = json.loads((pathlib.Path(__file__).parent / "data" / "physics_references.json").read_text())


@pytest.mark.parametrize("entry", REFERENCES["ensembles"], ids=lambda entry: f"{entry['network']} {entry['model']}")
def test_seeded_ensembles_keep_their_recorded_sums(entry):
    network = REFERENCES["networks"][entry["network"]]
    nodes = [vc.NodeDefinition(*node) for node in network["nodes"]]
    links = [
        vc.LinkDefinition(*link[:5], getattr(vc.LinkType, link[5]), link[6] and vc.SatelliteConditions(*link[6]))
        for link in network["links"]
    ]
    model = physics.PhysicalModel(**entry["model"])
    stats = physics.simulate(nodes, links, *entry["ends"], REFERENCES["runs"], model, seed=REFERENCES["seed"])
    assert stats.delivered == entry["delivered"]
    assert [getattr(stats, name) for name in REFERENCES["fields"]] == [int(total) for total in entry["sums"]]


def test_a_local_process_pool_gives_the_same_ensemble():
    nodes, links = chain(2, t2=0.05, fidelity=0.95, distance_km=30.0)
    whole = physics.simulate(nodes, links, "N0", "N2", 2000, seed=12)
    assert physics.simulate(nodes, links, "N0", "N2", 2000, seed=12, workers=2) == whole


def test_trial_i_of_seed_s_is_trial_0_of_seed_s_plus_i():
    nodes, links = chain(2, t2=0.01, fidelity=0.9, distance_km=40.0)
    model = physics.PhysicalModel(swap_success_probability=0.5)
    many = physics.trials(nodes, links, "N0", "N2", 50, model, seed=7)
    for i in (0, 1, 13, 49):
        one = physics.trials(nodes, links, "N0", "N2", 1, model, seed=7 + i)
        assert (one.waiting_time_ms[0], one.fidelity[0]) == (many.waiting_time_ms[i], many.fidelity[i])
    stats = physics.simulate(nodes, links, "N0", "N2", 50, model, seed=7)
    assert stats.mean_waiting_time_ms == math.fsum(many.waiting_time_ms) / 50
    assert stats.mean_fidelity == math.fsum(many.fidelity) / 50


def test_ensembles_run_on_dask(dask_client):
    nodes, links = chain(2, t2=0.05, fidelity=0.95, distance_km=30.0)
    whole = physics.simulate(nodes, links, "N0", "N2", 2000, seed=11)
    assert physics.simulate(nodes, links, "N0", "N2", 2000, seed=11, executor=dask_client.get_executor()) == whole


def test_waiting_limit_gives_trials_up_and_charges_their_time():
    stats = run(2, 20_000, seed=4, efficiency=0.1, max_waiting_time_ms=10.0, fidelity=0.99)
    undelivered = stats.runs - stats.delivered
    assert 0 < undelivered < stats.runs
    assert stats.delivery_rate == stats.delivered / stats.runs
    assert max(edge for edge, _, _ in stats.waiting_time_ms_histogram()) <= 10.0
    total_s = (stats.mean_waiting_time_ms * stats.delivered + 10.0 * undelivered) / 1000
    assert stats.secret_key_rate_bps == pytest.approx(stats.delivered * stats.secret_fraction / total_s)
    limited = physics.PhysicalModel(efficiency=0.1, max_waiting_time_ms=10.0)
    given_up = physics.trials(*chain(2), "N0", "N2", 200, limited)
    assert {w for w, f in zip(given_up.waiting_time_ms, given_up.fidelity) if math.isnan(f)} == {10.0}


@pytest.mark.parametrize("limit", [None, 3.0])
def test_key_rate_interval_is_at_least_as_wide_as_the_scatter_of_replicates(limit):
    nodes, links = chain(2, t2=0.1, fidelity=0.98)
    model = physics.PhysicalModel(efficiency=0.3, max_waiting_time_ms=limit)
    replicates = [physics.simulate(nodes, links, "N0", "N2", 4000, model, seed=1 + 4000 * k) for k in range(24)]
    rates = [stats.secret_key_rate_bps for stats in replicates]
    low, high = replicates[0].secret_key_rate_bps_interval
    assert low < rates[0] < high
    assert 0.8 * statistics.stdev(rates) < (high - low) / (2 * 1.96) < 2.5 * statistics.stdev(rates)


def test_no_route_delivers_nothing():
    nodes = [vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 1.0)]
    stats = physics.simulate(nodes, [], "A", "B", 10, seed=1)
    assert (stats.path, stats.runs, stats.delivered, stats.secret_key_rate_bps) == ((), 10, 0, 0.0)
    assert math.isnan(stats.mean_waiting_time_ms) and math.isnan(stats.waiting_time_ms_quantile(0.5))
    assert list(physics.trials(nodes, [], "A", "B", 2, seed=1).waiting_time_ms) == [math.inf, math.inf]


def test_links_too_poor_to_wait_for_deliver_nothing_and_crash_nothing():
    nodes, links = chain(2)
    hopeless = physics.PhysicalModel(efficiency=5e-324)  # waits beyond the largest double
    stats = physics.simulate(nodes, links, "N0", "N2", 100, hopeless, seed=1)
    assert (stats.delivered, stats.secret_key_rate_bps) == (0, 0.0)
    assert list(physics.trials(nodes, links, "N0", "N2", 2, hopeless, seed=1).waiting_time_ms) == [math.inf] * 2
    slow = physics.simulate(nodes, links, "N0", "N2", 100, physics.PhysicalModel(efficiency=1e-300), seed=1)
    assert slow.delivered == 100 and 1e299 < slow.mean_waiting_time_ms < math.inf


def test_ctrl_c_stops_a_long_run():
    nodes, links = chain(4, t2=1.0, fidelity=0.9)
    with ctrl_c_after(0.2), pytest.raises(KeyboardInterrupt):
        physics.simulate(nodes, links, "N0", "N4", 10**12, physics.PhysicalModel(swap_success_probability=0.5))


NODES, LINKS = chain(2, t2=1.0, fidelity=0.9)


@pytest.mark.parametrize(
    ("make", "field"),
    [
        (lambda: physics.PhysicalModel(efficiency=0.5, cutoff_ms=3, max_waiting_time_ms=None), "efficiency"),
        (lambda: physics.route(NODES, LINKS, "N0", "N2", physics.PhysicalModel(efficiency=0.5)), "path"),
        (lambda: physics.simulate(NODES, LINKS, "N0", "N2", 200, physics.PhysicalModel(cutoff_ms=2.0), seed=3), "runs"),
        (lambda: physics.Demand("N0", "N2", 5.0, 2), "to"),
        (lambda: physics.network(NODES, LINKS, [physics.Demand("N0", "N2")], 50.0, replicates=2, seed=3), "policy"),
    ],
    ids=["model", "route", "stats", "demand", "network"],
)
def test_model_records_are_values_that_travel(make, field):
    record = make()
    for back in (pickle.loads(pickle.dumps(record)), copy.copy(record), copy.deepcopy(record)):
        assert type(back) is type(record) and back == record and repr(back) == repr(record)
        if not isinstance(record, physics.NetworkStats):  # its waiting-time quantiles are a dict
            assert hash(back) == hash(record)
    with pytest.raises(AttributeError, match="not writable"):
        setattr(record, field, getattr(record, field))
    if isinstance(record, physics.PhysicsStats):
        assert pickle.loads(pickle.dumps(record)).mean_fidelity == record.mean_fidelity


@pytest.mark.parametrize(
    ("arguments", "message"),
    [
        ({"from_node": "X"}, "from_node: no node 'X' in the network"),
        ({"to": "Y"}, "to: no node 'Y' in the network"),
        ({"to": "N0"}, "to: the same node as from_node ('N0')"),
        ({"runs": -1}, "runs: must be a non-negative integer below 2**64, got -1"),
        ({"shards": 0}, "shards: at least one shard is needed, got 0"),
        ({"workers": 0}, "workers: at least one worker is needed, got 0"),
        ({"seed": 2**64}, "seed: must be a non-negative integer below 2**64, got 18446744073709551616"),
        ({"links": [vc.LinkDefinition("N0", "N2", -5.0, 0.9, 1000.0)]},
         "links: distance_km of link 'N0'-'N2' must be finite and non-negative, got -5.0"),
        ({"links": [vc.LinkDefinition("N0", "N2", 1e5, 0.9, 1000.0)]},
         "links: link 'N0'-'N2' never succeeds (its success probability is 0)"),
        ({"nodes": [vc.NodeDefinition("N0", 1.0), vc.NodeDefinition("N1", math.nan), vc.NodeDefinition("N2", 1.0)]},
         "nodes: memory_lifetime_t2 of node 'N1' must be non-negative, got NaN"),
        ({"nodes": [vc.NodeDefinition("N0", 1.0), vc.NodeDefinition("N2", 1.0)]},
         "nodes: no node 'N1', which a link on the route names"),
        ({"nodes": [*NODES, vc.NodeDefinition("N1", 2.0)]}, "nodes: the id 'N1' is defined twice"),
    ],
)  # fmt: skip
def test_bad_requests_are_refused_with_the_argument_and_value(arguments, message):
    call = {"nodes": NODES, "links": LINKS, "from_node": "N0", "to": "N2", "runs": 10, "seed": 1} | arguments
    with pytest.raises(ValueError) as refused:
        physics.simulate(**call)
    assert str(refused.value) == message


@pytest.mark.parametrize(
    ("parameters", "message"),
    [
        ({"efficiency": 0.0}, "efficiency: must be within (0, 1], got 0.0"),
        ({"swap_success_probability": 1.5}, "swap_success_probability: must be within (0, 1], got 1.5"),
        ({"attenuation_db_km": math.inf}, "attenuation_db_km: must be finite and non-negative, got inf"),
        ({"satellite_loss_db": -1}, "satellite_loss_db: must be finite and non-negative, got -1.0"),
        ({"cutoff_ms": -2.0}, "cutoff_ms: must be non-negative, got -2.0"),
        ({"signal_speed_km_ms": 0}, "signal_speed_km_ms: must be positive, got 0.0"),
        ({"max_waiting_time_ms": math.nan}, "max_waiting_time_ms: must be non-negative, got NaN"),
        ({"heralding": "station"}, "heralding: must be 'midpoint' or 'sender_receiver', got 'station'"),
        ({"memory_noise": "damping"}, "memory_noise: must be 'dephasing' or 'depolarizing', got 'damping'"),
        ({"distillation": "pumping"}, "distillation: must be 'dejmps' or 'bbpssw', got 'pumping'"),
        ({"swap_gate_error": 1.5}, "swap_gate_error: must be within [0, 1], got 1.5"),
        ({"measurement_error": -0.1}, "measurement_error: must be within [0, 1], got -0.1"),
        ({"modes": 0}, "modes: must be at least 1, got 0"),
        ({"distillation_rounds": 17}, "distillation_rounds: must be within [0, 16], got 17"),
    ],
)
def test_model_parameters_out_of_range_are_refused(parameters, message):
    with pytest.raises(ValueError) as refused:
        physics.PhysicalModel(**parameters)
    assert str(refused.value) == message


def test_model_parameters_must_be_numbers():
    with pytest.raises(TypeError, match=r"^argument 'efficiency': must be real number, not str$"):
        physics.PhysicalModel(efficiency="0.5")
    with pytest.raises(TypeError, match=r"^model: must be a PhysicalModel or None, got 3$"):
        physics.simulate(NODES, LINKS, "N0", "N2", 1, 3)
