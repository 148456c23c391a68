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

from typing import Any, NamedTuple

import vorn_core as vc

from . import _native
from .stats import Table

__all__ = ["Input", "Reading", "INPUTS", "reads", "unit", "label", "table"]


class Reading(NamedTuple):
    computation: str  # "RouteFinding", "Timeline" or "PhysicalModel"
    how: str  # what it does with the input
    strategies: int  # route finding: bit s for each strategy of value s whose score reads it; 0 for all


class Input(NamedTuple):
    name: str
    record: str  # where it is set: node, link, config or request
    unit: str  # "" for a plain number or fraction
    meaning: str
    read_by: str  # the computations of vorn_core that read it; "" when none does
    readings: tuple[Reading, ...] = ()  # every computation that reads it, the physical model's included


ENGINE = ("RouteFinding", "Timeline")  # vorn_core's two computations; the physical model is the companion's
_NAMES = {"RouteFinding": "route finding", "Timeline": "the timeline", "PhysicalModel": "the physical model"}


def _input(entry: Any, name: str | None = None, unit: str | None = None) -> Input:
    readings = tuple(Reading(r["computation"], r["how"], r["strategies"]) for r in entry["readings"])
    read_by = "; ".join(f"{_NAMES[r.computation]} ({r.how})" for r in readings if r.computation in ENGINE)
    unit = entry["unit"] if unit is None else unit
    return Input(name or entry["name"], entry["record"], unit, entry["meaning"], read_by, readings)


def _inputs() -> dict[str, Input]:
    """The table, from the annotations on the descriptions of the records that carry the inputs. The fibre loss
    is given to SimulationConfig as alpha_loss_db_km (dB/km), of which the configuration keeps a tenth as its
    baseline_purify_factor: the analyses name it by that argument."""
    found: dict[str, Input] = {}
    for entry in _native.model_inputs():
        if entry["name"] == "baseline_purify_factor":
            found["alpha_loss_db_km"] = _input(entry, "alpha_loss_db_km", "dB/km")
        else:
            found.setdefault(entry["name"], _input(entry))
    return found


INPUTS: dict[str, Input] = _inputs()

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
    """Whether vorn_core's model reads this input (a name or a parameter key such as "distance_km:A->B") for a
    request under `strategy` (None: the default, HighestFidelity)."""
    figure, _ = _figure(key)
    value = strategy.to_u8() if isinstance(strategy, vc.StrategyType) else strategy
    bit = 1 << (vc.StrategyType.HighestFidelity.to_u8() if value is None else int(value))

    def read(reading: Reading) -> bool:
        if reading.computation == "RouteFinding":
            return reading.strategies == 0 or reading.strategies & bit != 0
        return reading.computation == "Timeline"

    return any(read(reading) for reading in INPUTS[figure].readings)


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
    """Every input of the model with its record, unit, meaning and readers (vorn_core's, then the physical
    model's), as a table."""
    return Table(
        {
            "input": entry.name,
            "set on": entry.record,
            "unit": entry.unit,
            "meaning": entry.meaning,
            "read by": entry.read_by or "nothing: no result of vorn_core depends on it",
            "physical model": "; ".join(r.how for r in entry.readings if r.computation == "PhysicalModel"),
        }
        for entry in INPUTS.values()
    )
