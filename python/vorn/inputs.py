"""The inputs of vorn_core's entanglement model: where each lives, its unit, and which computation reads it.

One request runs in two steps. Route finding picks a path by its links' figures under the strategy;
the timeline then runs cycles of 2.5 ms of simulated time on that path: each hop's attempt succeeds with a
probability set by its length and base fidelity, a delivered pair is lost with probability 0.1, and the
pairs are swapped and purified until the fidelity target is met or a time bound ends the request. What
the model does not read cannot change any result, however it is set:

    >>> from vorn import inputs
    >>> inputs.reads("memory_lifetime_t2")
    False
    >>> print(inputs.table())          # every input, with its unit and its readers

Latencies are times on the simulated clock (whole cycles of 2.5 ms plus 0.85 ms per purification), not
the light's travel time: a request that succeeds in its first cycle reports 0 ms on a link of any length.
"""

from __future__ import annotations

from typing import NamedTuple

import vorn_core as vc

from .stats import Table

__all__ = ["Input", "INPUTS", "reads", "unit", "label", "table"]


class Input(NamedTuple):
    name: str
    record: str  # where it is set: node, link, config or request
    unit: str  # "" for a plain number or fraction
    meaning: str
    read_by: str  # the computations that read it; "" when none does


ROUTE = "route finding"
INPUTS: dict[str, Input] = {
    entry.name: entry
    for entry in (
        Input("memory_lifetime_t2", "node", "s", "coherence time T2 of the node's memory", ""),
        Input(
            "distance_km",
            "link",
            "km",
            "length of the link",
            f"{ROUTE} (LowestLatency: total length); the timeline (attempt success probability; the "
            "propagation-delay test at admission)",
        ),
        Input(
            "base_fidelity",
            "link",
            "",
            "fidelity of a freshly generated pair",
            f"{ROUTE} (HighestFidelity: product; HighestSuccess: sum of fidelity x rate); the timeline "
            "(admission estimate, attempt success probability, swapping and purification)",
        ),
        Input(
            "generation_rate_hz",
            "link",
            "Hz",
            "attempted pair generation rate",
            f"{ROUTE} under HighestSuccess only (sum of fidelity x rate); never the timeline",
        ),
        Input("link_type", "link", "", "fibre or satellite channel", ""),
        Input(
            "satellite_conditions",
            "link",
            "",
            "visibility and weather factor of a satellite pass (dropped when the link enters the network)",
            "",
        ),
        Input(
            "alpha_loss_db_km",
            "config",
            "dB/km",
            "fibre loss; the configuration keeps a tenth of it as baseline_purify_factor",
            "the timeline (added to every swapped and purified fidelity)",
        ),
        Input(
            "speed_of_light_in_fiber_km_ms",
            "config",
            "km/ms",
            "signal speed in fibre",
            "the propagation-delay test at admission (length / speed against the latency bound)",
        ),
        Input("total_time_cutoff_ms", "config", "ms", "cut-off of every request", "the timeline (ends the cycles)"),
        Input("step_resolution_ms", "config", "ms", "time step carried with the configuration", ""),
        Input(
            "fidelity_target",
            "request",
            "",
            "fidelity the request must reach",
            f"{ROUTE} (fallback to LowestLatency); the timeline (admission, attempt probability, success)",
        ),
        Input(
            "max_latency_ms",
            "request",
            "ms",
            "latency bound on the simulated clock",
            "the timeline (admission test, ends the cycles)",
        ),
    )
}

RESULTS = {  # labels of the result columns that figures plot
    "success_rate": "success rate",
    "empirical_success_rate": "success rate",
    "ci_low": "success rate, interval low end",
    "ci_high": "success rate, interval high end",
    "mean_latency_ms": "mean latency (ms of simulated time)",
    "mean_fidelity": "mean fidelity of successful trials",
    "aggregate_congestion_drops": "failed generation attempts",
    "successes": "successful trials",
    "runs": "trials",
}


def _figure(key: str) -> tuple[str, str]:
    """A parameter key ("distance_km:A->B") as its figure and the node or link it names ("" for all)."""
    figure, _, target = key.partition(":")
    if figure not in INPUTS and figure not in RESULTS:
        raise KeyError(f"unknown input {figure!r}; known: {', '.join(INPUTS)}")
    return figure, target


def reads(key: str, strategy: vc.StrategyType | int | None = None) -> bool:
    """Whether the model reads this input (a name or a parameter key such as "distance_km:A->B") for a
    request under `strategy` (None: the default, HighestFidelity)."""
    figure, _ = _figure(key)
    if figure == "generation_rate_hz":
        value = strategy.to_u8() if isinstance(strategy, vc.StrategyType) else strategy
        return value == vc.StrategyType.HighestSuccess.to_u8()
    return bool(INPUTS[figure].read_by)


def unit(key: str) -> str:
    """The unit of an input ("" for plain numbers and fractions)."""
    return INPUTS[_figure(key)[0]].unit


def label(key: str) -> str:
    """An axis label: what the input or result column is, and its unit ("link length A->B (km)")."""
    figure, target = _figure(key)
    if figure in RESULTS:
        return RESULTS[figure]
    entry = INPUTS[figure]
    text = {
        "memory_lifetime_t2": "memory lifetime T2",
        "distance_km": "link length",
        "base_fidelity": "link base fidelity",
        "generation_rate_hz": "generation rate",
        "alpha_loss_db_km": "fibre loss",
        "speed_of_light_in_fiber_km_ms": "signal speed in fibre",
        "total_time_cutoff_ms": "time cut-off",
        "step_resolution_ms": "time step",
        "fidelity_target": "fidelity target",
        "max_latency_ms": "latency bound",
    }.get(figure, figure.replace("_", " "))
    if target:
        text += f" {target}"
    return f"{text} ({entry.unit})" if entry.unit else text


def table() -> Table:
    """Every input of the model with its record, unit, meaning and readers, as a table."""
    return Table(
        {
            "input": entry.name,
            "set on": entry.record,
            "unit": entry.unit,
            "meaning": entry.meaning,
            "read by": entry.read_by or "nothing: no result depends on it",
        }
        for entry in INPUTS.values()
    )
