"""The `vorn` command: the physical model of repeater chains, and validate, diff, simulate and compare networks,
from the shell.

Exit status: 0 on success; 1 when a file is invalid or an operation fails; 2 for a command line that
cannot be used (with a usage message); 130 after Ctrl-C. `vorn diff` exits like diff(1): 0 when the files
are the same, 1 when they differ, 2 when they cannot be compared.

Everything the command prints from a file or a path (ids, names, messages that quote them) has its
non-printable characters escaped, so that no file can move the cursor, retitle the window or forge a
line; paths may be any name the operating system accepts, UTF-8 or not.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import statistics
import sys
from collections.abc import Callable, Mapping, Sequence
from typing import Any

import vorn_core as vc

from . import _native, _network
from .files import LoadedNetwork, format_hint, library_path, load_network

# lowest-latency for StrategyType.LowestLatency, and so on for every member
STRATEGIES = {
    re.sub(r"(?<!^)(?=[A-Z])", "-", _network.member_name(member, vc.StrategyType)).lower(): member
    for member in _network.members(vc.StrategyType)
}
EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130
EXIT_SAME, EXIT_DIFFERENT, EXIT_TROUBLE = 0, 1, 2  # vorn diff, as diff(1)
ARROW = "→"
IMPOSSIBLE = "ImpossibleFigure"  # the code of a figure that the loader takes but no simulation does


class Failure(Exception):
    """An operation failed for a reason the user can act on: printed without a traceback."""

    def __init__(self, message: str, status: int = EXIT_FAILED) -> None:
        super().__init__(message)
        self.status = status


class Usage(Exception):
    """The command line asks for something impossible: printed with the command's usage."""


def shown(text: str) -> str:
    """Text from a file or a path as a terminal may print it: every character that is not printable
    escaped (a control character as \\x1b or \\n, a format character as \\u202e), and the bytes of a
    name that is no valid UTF-8 as \\xNN."""
    if text.isprintable():
        return text
    escaped = []
    for character in text:
        if character.isprintable():
            escaped.append(character)
        elif "\udc80" <= character <= "\udcff":  # a byte that os.fsdecode could not decode
            escaped.append(f"\\x{ord(character) - 0xDC00:02x}")
        else:
            escaped.append(character.encode("unicode_escape").decode("ascii"))
    return "".join(escaped)


# ---- validate --------------------------------------------------------------------------------------


def _location(path: str, finding: Mapping[str, Any]) -> str:
    location = shown(path)
    if finding.get("line") is not None:
        location += f":{finding['line']}"
        if finding.get("column") is not None:
            location += f":{finding['column']}"
    return location


def check_lines(path: str, loading: bool = False) -> tuple[list[str], bool]:
    """Lines ``FILE:LINE:COLUMN: CODE: message`` (``FILE: CODE: message`` where no position is known) for
    every finding of a .vorn file, a hint when it is an engine snapshot, and whether any is an error; with
    `loading`, only what keeps the file from loading (not the figures that no simulation takes)."""
    lines, failed = [], False
    for finding in _native.check_vorn_file(path):
        if loading and finding["code"] == IMPOSSIBLE:
            continue
        warning = finding["severity"] == "warning"
        failed = failed or not warning
        entry = f" [{shown(finding['path'])}]" if finding["path"] else ""
        prefix = "warning: " if warning else ""
        lines.append(f"{_location(path, finding)}: {prefix}{finding['code']}: {shown(finding['message'])}{entry}")
    hint = format_hint(path, "vorn") if failed else None
    if hint:
        lines.append(f"{shown(path)}: hint: {hint}")
    return lines, failed


def command_validate(args: argparse.Namespace) -> int:
    status = EXIT_OK
    for path in args.files:
        lines, failed = check_lines(path)
        if failed:
            status = EXIT_FAILED
        elif args.verbose and not lines:
            lines = [f"{shown(path)}: valid"]
        for line in lines:
            print(line)
    return status


# ---- diff ------------------------------------------------------------------------------------------


def _value(value: object) -> str:
    if value is None:
        return "absent"
    if isinstance(value, str):
        return "'" + shown(value) + "'"
    if isinstance(value, (vc.VornNodeType, vc.VornLinkType)):
        return _network.member_name(value, type(value))
    if isinstance(value, vc.VornSatelliteExtension):
        return f"(visibility {value.visibility!r}, weather_factor {value.weather_factor!r})"
    return repr(value)


def _changed(old: object, new: object) -> bool:
    if isinstance(old, vc.VornSatelliteExtension) and isinstance(new, vc.VornSatelliteExtension):
        return (old.visibility, old.weather_factor) != (new.visibility, new.weather_factor)
    if isinstance(old, (vc.VornNodeType, vc.VornLinkType)) and type(new) is type(old):
        return _value(old) != _value(new)  # members read from records are new objects, equal only by name
    return old != new  # floats exactly, so NaN always differs, as in the diff itself


def _field_changes(old: object, new: object, fields: Sequence[str]) -> str:
    changes = [
        f"{field} {_value(getattr(old, field))} {ARROW} {_value(getattr(new, field))}"
        for field in fields
        if _changed(getattr(old, field), getattr(new, field))
    ]
    return "; ".join(changes)


def _last(items: Sequence[Any], key: Callable[[Any], str]) -> dict[str, Any]:
    # A later node or link with the same id or ends replaces an earlier one, as in the diff.
    return {key(item): item for item in items}


def diff_lines(first: str, second: str, changes: Mapping[str, Any], old: vc.VornFile, new: vc.VornFile) -> list[str]:
    """The report of `vorn diff`: vorn_core's diff report with the old and new value of every change."""
    lines = [f"Diff between '{shown(first)}' and '{shown(second)}':"]
    if changes["version"] is not None:
        lines.append(f"  Version: {shown(changes['version'][0])} {ARROW} {shown(changes['version'][1])}")
    sections = (("Metadata", changes["metadata"]),)
    for title, fields in sections:
        if fields is not None:
            lines.append(f"  {title} changes:")
            lines += [f"     - {name}: {_value(a)} {ARROW} {_value(b)}" for name, (a, b) in fields.items()]
    old_nodes, new_nodes = _last(old.nodes, lambda node: node.id), _last(new.nodes, lambda node: node.id)
    old_links = _last(old.links, lambda link: f"{link.src}->{link.to}")
    new_links = _last(new.links, lambda link: f"{link.src}->{link.to}")
    node_fields = ("memory_lifetime_ms", "memory_capacity", "node_type")
    link_fields = ("id", "distance_km", "base_fidelity", "generation_rate_hz", "link_type", "satellite")
    for kind, items, olds, news, fields in (
        ("Nodes", "nodes", old_nodes, new_nodes, node_fields),
        ("Links", "links", old_links, new_links, link_fields),
    ):
        for change in ("added", "removed", "modified"):
            keys = changes[f"{items}_{change}"]
            if not keys:
                continue
            lines.append(f"  {kind} {change}: {len(keys)} ({', '.join(shown(key) for key in keys)})")
            if change == "modified":
                lines += [f"     - {shown(key)}: {_field_changes(olds[key], news[key], fields)}" for key in keys]
    for title, fields in (("Config", changes["config"]), ("Constraints", changes["constraints"])):
        if fields is not None:
            lines.append(f"  {title} changes:")
            shown_fields = [(name, a, b) for name, (a, b) in fields.items() if _changed(a, b)]
            lines += [f"     - {name}: {_value(a)} {ARROW} {_value(b)}" for name, a, b in shown_fields]
            if not shown_fields:
                lines.append("     - an empty section added or removed")
    if changes["extensions_changed"]:
        lines.append("  Extensions changed")
    return lines


def command_diff(args: argparse.Namespace) -> int:
    for path in (args.first, args.second):
        problems, failed = check_lines(path, loading=True)
        if failed:
            for line in problems:
                print(line, file=sys.stderr)
            raise Failure(f"cannot compare {shown(path)}", EXIT_TROUBLE)
    with library_path(args.first) as first, library_path(args.second) as second:
        try:
            changes = _native.diff_vorn_files(first, second)
            old, new = vc.load_vorn_file(first), vc.load_vorn_file(second)
        except RuntimeError as error:  # changed on disk since it was checked
            raise Failure(shown(str(error)), EXIT_TROUBLE) from None
    lines = diff_lines(args.first, args.second, changes, old, new)
    print("\n".join(lines))
    return EXIT_DIFFERENT if len(lines) > 1 else EXIT_SAME


# ---- simulate and compare --------------------------------------------------------------------------


def _percent(fraction: float) -> str:
    return f"{fraction * 100:g}%"


def _print_stats(stats: Any, confidence: float) -> None:
    low, high = stats.interval(confidence)
    print(f"runs               {stats.total_runs:,}")
    print(
        f"success rate       {stats.empirical_success_rate:.4f}  "
        f"({_percent(confidence)} interval {low:.4f} to {high:.4f}, {stats.successes:,} successes)"
    )
    spread = stats.spread()
    if spread is not None:
        print(
            f"replicates         {spread.replicates}: success rates scatter by {spread.sd:.4f} "
            f"(standard error of their mean {spread.se:.4f})"
        )
    print(f"mean latency       {stats.mean_latency_ms:.3f} ms of simulated time")
    print(f"mean fidelity      {stats.mean_fidelity:.4f} (successful trials)")
    print(f"failed attempts    {stats.aggregate_congestion_drops:,}")
    heatmap = stats.link_utilization_heatmap
    if heatmap:
        print("link utilisation   generation attempts per hop")
        hops = {shown(hop): attempts for hop, attempts in heatmap.items()}
        width = max(map(len, hops))
        for hop, attempts in hops.items():
            print(f"  {hop:<{width}}  {attempts:,}")


def _seed_text(seed: int, given: int | None) -> str:
    return f"seed {seed}" if given is not None else f"seed {seed} (from the clock; pass --seed {seed} to repeat)"


def _checked_file(path: str) -> None:
    """Nothing when the .vorn file at `path` can be simulated; else its findings on stderr (FILE:LINE:COLUMN:
    CODE: message) and a Failure."""
    lines, failed = check_lines(path)
    if failed:
        for line in lines:
            print(line, file=sys.stderr)
        raise Failure(f"cannot simulate {shown(path)}")


def _loaded(path: str) -> LoadedNetwork:
    """The network of a .vorn file that can be simulated (see `_checked_file`)."""
    _checked_file(path)
    try:
        return load_network(path)
    except RuntimeError as error:  # changed on disk since it was checked
        raise Failure(shown(str(error))) from None


def command_simulate(args: argparse.Namespace) -> int:
    from . import parallel

    loaded = _loaded(args.file)
    target: float | None = args.target if args.target is not None else loaded.fidelity_target
    bound: float | None = args.bound if args.bound is not None else loaded.max_latency_ms
    if target is None:
        raise Usage(f"--target is needed: {shown(args.file)} sets no fidelity_target in its constraints")
    if bound is None:
        raise Usage(f"--bound is needed: {shown(args.file)} sets no max_latency_ms in its constraints")
    strategy = STRATEGIES[args.strategy] if args.strategy else None
    seed = parallel.clock_seed() if args.seed is None else args.seed
    try:
        stats = parallel.simulate(
            loaded.nodes,
            loaded.links,
            args.from_node,
            args.to,
            target,
            bound,
            args.runs,
            strategy,
            seed,
            loaded.config,
            workers=args.workers,
            replicates=args.replicates,
        )
    except ValueError as error:
        raise Usage(f"{shown(args.file)}: {shown(str(error))}") from None
    print(
        f"{shown(args.file)}: {shown(args.from_node)} -> {shown(args.to)}, fidelity target {target:g}, "
        f"bound {bound:g} ms, {_seed_text(seed, args.seed)}"
    )
    _print_stats(stats, args.confidence)
    return EXIT_OK


def command_compare(args: argparse.Namespace) -> int:
    from . import physics
    from .compare import compare, is_reference

    strategy = STRATEGIES[args.strategy] if args.strategy else None
    model = _physical_model(args) if args.physics else None
    if args.physics and (args.target is not None or args.bound is not None):
        raise Usage("--target and --bound are read by the engine's timeline only, not with --physics")
    if not args.physics:
        if args.target is None or args.bound is None:
            raise Usage("--target and --bound are needed (or --physics for the physical model)")
        if any(getattr(args, parameter.name) is not _DEFAULT for parameter in physics.parameters()):
            raise Usage("the physical model's parameters need --physics")
    seed = args.seed
    if seed is None:
        from .parallel import clock_seed

        seed = clock_seed()
    try:
        for name, _, _ in args.endpoint:
            if not is_reference(name):
                _checked_file(name)
        report = compare(
            [tuple(entry) for entry in args.endpoint],
            args.target,
            args.bound,
            args.runs,
            strategy,
            seed,
            replicates=args.replicates,
            confidence=args.confidence,
            workers=args.workers,
            model=model,
        )
    except ValueError as error:
        raise Usage(shown(str(error))) from None
    except RuntimeError as error:
        raise Failure(shown(str(error))) from None
    names = [shown(row["topology"]) for row in report.table]
    width = max([len("topology")] + [len(name) for name in names])
    if args.physics:
        print(f"{'topology':<{width}}  secret-key rate  95% interval (bit/s)  mean waiting time  mean fidelity")
        for name, row in zip(names, report.table):
            low, high = row["secret_key_rate_bps_ci_low"], row["secret_key_rate_bps_ci_high"]
            interval = "-" if math.isnan(low) else f"{low:.4g} to {high:.4g}"
            print(
                f"{name:<{width}}  {row['secret_key_rate_bps']:>9.4g} bit/s  {interval:<20}  "
                f"{row['mean_waiting_time_ms']:>14.4g} ms  {row['mean_fidelity']:>13.4f}"
            )
    else:
        _print_timeline_comparison(names, width, report, args.confidence)
    print(shown(report.summary))
    if args.seed is None:
        print(f"(seed from the clock; pass --seed {seed} to repeat)")
    return EXIT_OK


def _print_timeline_comparison(names: list[str], width: int, report: Any, confidence: float) -> None:
    print(f"{'topology':<{width}}  success rate  {_percent(confidence) + ' interval':<16}  mean latency  mean fidelity")
    for name, row in zip(names, report.table):
        interval = "-" if math.isnan(row["ci_low"]) else f"{row['ci_low']:.4f} to {row['ci_high']:.4f}"
        print(
            f"{name:<{width}}  {row['success_rate']:>12.4f}  {interval:<16}  {row['mean_latency_ms']:>9.2f} ms"
            f"  {row['mean_fidelity']:>13.4f}"
        )


# ---- physics ---------------------------------------------------------------------------------------


def _finite(value: Any) -> Any:
    """A value of a result as JSON has it: a number that is not finite becomes null."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {key: _finite(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(item) for item in value]
    return value


def _model_value(parameter: Any) -> Callable[[str], Any]:
    """How the text of an option becomes a value of one parameter of the physical model: of its default's type,
    and "none" for a parameter that is off by default."""

    def parse(text: str) -> Any:
        if parameter.default is None:
            return None if text.lower() == "none" else _number(text)
        if isinstance(parameter.default, float):
            return _number(text)
        if isinstance(parameter.default, int):
            try:
                return int(text)
            except ValueError:
                raise argparse.ArgumentTypeError(f"not a whole number: {shown(text)!r}") from None
        return text

    return parse


def _physical_model(args: argparse.Namespace) -> Any:
    from . import physics

    given = {parameter.name: getattr(args, parameter.name) for parameter in physics.parameters()}
    try:
        return physics.PhysicalModel(**{name: value for name, value in given.items() if value is not _DEFAULT})
    except (TypeError, ValueError) as error:
        raise Usage(shown(str(error))) from None


_DEFAULT = object()  # a parameter of the physical model that the command line leaves as the model has it


def command_physics(args: argparse.Namespace) -> int:
    from . import parallel, physics

    loaded = _loaded(args.file)
    model = _physical_model(args)
    strategy = STRATEGIES[args.strategy] if args.strategy else None
    seed = parallel.clock_seed() if args.seed is None else args.seed
    try:
        starts = parallel.replicate_starts(seed, args.runs, args.replicates) or [seed]
        replicates = [
            physics.simulate(
                loaded.nodes,
                loaded.links,
                args.from_node,
                args.to,
                args.runs,
                model,
                strategy,
                start,
                workers=args.workers,
            )
            for start in starts
        ]
    except ValueError as error:
        raise Usage(f"{shown(args.file)}: {shown(str(error))}") from None
    stats = physics.pooled(replicates, seed)
    if args.json:
        document = {"file": args.file, "from": args.from_node, "to": args.to, **stats.to_dict()}
        if args.replicates is not None:
            document["replicates"] = [replicate.to_dict() for replicate in replicates]
        print(json.dumps(_finite(document), indent=2, allow_nan=False))
        return EXIT_OK
    print(f"{shown(args.file)}: {shown(args.from_node)} -> {shown(args.to)}, {_seed_text(seed, args.seed)}")
    for line in str(stats).splitlines():
        print(shown(line))
    if args.replicates is not None:
        print(f"  {len(replicates)} independent replicates of {args.runs:,} trials; their figures scatter by (sd):")
        for figure in (figure for figure in stats.FIGURES if figure.interval is not None):
            values = [getattr(replicate, figure.key) for replicate in replicates]
            unit = f" {figure.unit}" if figure.unit else ""
            print(f"    {figure.label:<18} {statistics.stdev(values):.4g}{unit}")
    return EXIT_OK


def _demand(text: str) -> Any:
    """A demand as FROM:TO (saturated) or FROM:TO@RATE (requests per second, a Poisson process)."""
    from . import physics

    ends, _, rate = text.partition("@")
    from_node, colon, to = ends.partition(":")
    if not colon or not from_node or not to:
        raise argparse.ArgumentTypeError(f"expected FROM:TO or FROM:TO@RATE, got {text!r}")
    try:
        return physics.Demand(from_node, to, float(rate) if rate else None)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def command_network(args: argparse.Namespace) -> int:
    from . import parallel, physics
    from .files import load_vorn_file

    loaded = _loaded(args.file)
    capacity = {node.id: node.memory_capacity for node in load_vorn_file(args.file).nodes if node.memory_capacity}
    model = _physical_model(args)
    seed = parallel.clock_seed() if args.seed is None else args.seed
    arguments = (loaded.nodes, loaded.links, args.demand, args.duration_ms, model)
    options = {
        "strategy": STRATEGIES[args.strategy] if args.strategy else None,
        "policy": args.policy,
        "replicates": args.runs,
        "memory_capacity": capacity,
        "seed": seed,
        "workers": args.workers,
    }
    try:
        if args.sweep_rates:
            points = physics.network_load(*arguments, rates_hz=args.sweep_rates, **options)
        else:
            stats = physics.network(*arguments, **options)
    except ValueError as error:
        raise Usage(f"{shown(args.file)}: {shown(str(error))}") from None
    if args.sweep_rates:
        if args.json:
            document = {"file": args.file, "seed": seed, "points": [point.to_dict() for point in points]}
            print(json.dumps(_finite(document), indent=2, allow_nan=False))
            return EXIT_OK
        print(f"{shown(args.file)}: {_seed_text(seed, args.seed)}")
        for point in points:
            for line in str(point).splitlines():
                print(shown(line))
        return EXIT_OK
    if args.json:
        document = {
            "file": args.file,
            **stats.to_dict(),
            "demands": [demand.to_dict() for demand in stats.demands],
            "links": [link.to_dict() for link in stats.links],
            "nodes": [node.to_dict() for node in stats.nodes],
        }
        print(json.dumps(_finite(document), indent=2, allow_nan=False))
        return EXIT_OK
    print(f"{shown(args.file)}: {_seed_text(seed, args.seed)}")
    for record in (stats, *stats.demands, *stats.links, *stats.nodes):
        for line in str(record).splitlines():
            print(shown(line))
    return EXIT_OK


# ---- the command line ------------------------------------------------------------------------------


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {shown(text)!r}") from None
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(f"must lie in 0 .. 2**64 - 1: {text}")
    return value


def _positive(text: str) -> int:
    value = _count(text)
    if value == 0:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _probability(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {shown(text)!r}") from None
    if not 0.0 < value < 1.0:
        raise argparse.ArgumentTypeError(f"must lie strictly between 0 and 1: {text}")
    return value


def _number(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {shown(text)!r}") from None


def _rates(text: str) -> list[float]:
    return [_number(part) for part in text.split(",")]


def _replicates(text: str) -> int:
    value = _count(text)
    if value < 2:
        raise argparse.ArgumentTypeError("a spread needs at least 2 replicates")
    return value


def _physics_options(group: argparse._ArgumentGroup) -> None:
    """One option per parameter of the physical model, as `vorn.physics.parameters` describes it."""
    from . import physics

    for parameter in physics.parameters():
        unit = f"{parameter.unit}; " if parameter.unit else ""
        value = parameter.default
        default = "off" if value is None else f"{value:g}" if isinstance(value, (int, float)) else str(value)
        group.add_argument(
            "--" + parameter.name.replace("_", "-"),
            dest=parameter.name,
            type=_model_value(parameter),
            default=_DEFAULT,
            metavar="X",
            help=f"{parameter.meaning} ({unit}default {default})".replace("%", "%%"),
        )


def build_parser() -> argparse.ArgumentParser:
    from . import __version__

    parser = argparse.ArgumentParser(
        prog="vorn",
        description="Waiting time, fidelity and key rate of repeater chains from the physical model (vorn physics); "
        "checks, diffs, and the engine's timeline on quantum network topologies (.vorn files).",
        epilog="Exit status: 0 success, 1 invalid files or failures, 2 bad command line; "
        "vorn diff: 0 same, 1 different, 2 trouble.",
    )
    parser.add_argument("--version", action="version", version=f"vorn {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    physics = commands.add_parser(
        "physics",
        help="waiting time, fidelity and key rate from the physical model",
        description="Run a seeded ensemble of the physical model of repeater chains (vorn.physics) on the route "
        "between two nodes of a .vorn file and print the mean waiting time, the mean fidelity and the secret-key "
        "rate, each with its 95 % interval and unit; the same numbers as vorn.physics.simulate for the same "
        "seed. Memory lifetimes are read from the file in ms (T2); the model's parameters are options.",
    )
    physics.add_argument("file", metavar="FILE")
    physics.add_argument("from_node", metavar="FROM")
    physics.add_argument("to", metavar="TO")
    physics.add_argument("--runs", type=_positive, required=True, metavar="N", help="number of trials")
    physics.add_argument("--json", action="store_true", help="print the figures as one JSON object")
    _physics_options(physics.add_argument_group("parameters of the physical model"))
    physics.set_defaults(run=command_physics)

    from ._physics_network import POLICIES

    network = commands.add_parser(
        "network",
        help="many demands at once on a .vorn file's network, on the physical model",
        description="Serve several demands at once on the network of a .vorn file (vorn.physics.network): their "
        "routes share links and memories (the file's memory_capacity, else one per link end). Prints each demand's "
        "throughput, waiting time, fidelity and key rate with their 95 %% intervals over the runs, each link's use "
        "and each node's memories.",
    )
    network.add_argument("file", metavar="FILE")
    network.add_argument(
        "--demand",
        type=_demand,
        action="append",
        required=True,
        metavar="FROM:TO[@RATE]",
        help="a demand, saturated or with requests at RATE per second; repeat for more",
    )
    network.add_argument("--duration-ms", type=_number, required=True, metavar="MS", help="network time of each run")
    network.add_argument("--runs", type=_positive, default=10, metavar="R", help="independent runs (default 10)")
    network.add_argument("--policy", choices=sorted(POLICIES), default="fifo", help="who gets a link's pair")
    network.add_argument("--seed", type=_count, metavar="S", help="seed of the first run (default: the clock)")
    network.add_argument("--strategy", choices=sorted(STRATEGIES), help="route choice (default: highest-fidelity)")
    network.add_argument(
        "--workers", type=_positive, default=None, metavar="K", help="local processes sharing the runs"
    )
    network.add_argument(
        "--sweep-rates",
        type=_rates,
        metavar="RATE[,RATE...]",
        help="run at each of these rates (per second) given to every demand instead, and print the total throughput "
        "and the mean waiting time at each (vorn.physics.network_load)",
    )
    network.add_argument("--json", action="store_true", help="print the figures as one JSON object")
    _physics_options(network.add_argument_group("parameters of the physical model"))
    network.set_defaults(run=command_network)

    validate = commands.add_parser(
        "validate",
        help="check .vorn files",
        description="Check .vorn files. Prints one line per problem, FILE:LINE:COLUMN: CODE: message "
        "(FILE: CODE: message where no position is known); exits with 1 when a file has errors "
        "(usable as a pre-commit hook).",
    )
    validate.add_argument("files", nargs="+", metavar="FILE")
    validate.add_argument("-v", "--verbose", action="store_true", help="also name the valid files")
    validate.set_defaults(run=command_validate)

    diff = commands.add_parser(
        "diff",
        help="compare two .vorn files",
        description="Print the changes from the first file to the second, each with its old and new value. "
        "Exits like diff(1): 0 when the files are the same, 1 when they differ, 2 when a file cannot be read.",
    )
    diff.add_argument("first", metavar="A")
    diff.add_argument("second", metavar="B")
    diff.set_defaults(run=command_diff)

    simulate = commands.add_parser(
        "simulate",
        help="the engine's timeline: success rate under a fidelity target and a latency bound",
        description="Run a seeded Monte Carlo ensemble of one entanglement request on the engine's timeline "
        "(phenomenological rules that read no memory lifetimes; vorn physics gives physical figures) with the "
        "network and configuration of a .vorn file and print its statistics with the success rate's interval. "
        "Trial i of seed S is keyed by S + i: the same seed repeats every figure, and seeds S and S + 1 "
        "share all trials but one (use --replicates for independent ones).",
    )
    simulate.add_argument("file", metavar="FILE")
    simulate.add_argument("from_node", metavar="FROM")
    simulate.add_argument("to", metavar="TO")
    simulate.add_argument("--runs", type=_count, required=True, metavar="N", help="number of trials")
    simulate.add_argument(
        "--target", type=_number, metavar="F", help="fidelity target (default: the file's constraints)"
    )
    simulate.add_argument(
        "--bound", type=_number, metavar="MS", help="latency bound in ms (default: the file's constraints)"
    )
    simulate.set_defaults(run=command_simulate)

    compare = commands.add_parser(
        "compare",
        help="compare networks",
        description="Simulate one request on several networks (reference topologies or .vorn files) with "
        "the same seeds and recommend one: on the physical model by secret-key rate (--physics), or on the "
        "engine's timeline by success rate under --target and --bound.",
    )
    compare.add_argument(
        "--endpoint",
        nargs=3,
        action="append",
        required=True,
        metavar=("TOPOLOGY", "FROM", "TO"),
        help="a reference topology (telecom_backbone, fiber_only, repeater_chain, hybrid_satellite_fiber, "
        "hybrid) or the path of a .vorn file, and the two nodes of the request there; repeat for each network",
    )
    compare.add_argument("--runs", type=_positive, required=True, metavar="N", help="trials per network")
    compare.add_argument("--target", type=_number, metavar="F", help="fidelity target (the timeline's)")
    compare.add_argument("--bound", type=_number, metavar="MS", help="latency bound in ms (the timeline's)")
    compare.add_argument(
        "--physics",
        action="store_true",
        help="compare on the physical model, by secret-key rate with its 95%% interval, instead of the engine's "
        "timeline by success rate",
    )
    _physics_options(compare.add_argument_group("parameters of the physical model (with --physics)"))
    compare.set_defaults(run=command_compare)

    for command in (simulate, compare, physics):
        command.add_argument("--seed", type=_count, metavar="S", help="seed of the first trial (default: the clock)")
        command.add_argument(
            "--replicates",
            type=_replicates,
            metavar="R",
            help="independent replicates of N trials each, pooled, with the spread of their figures",
        )
        command.add_argument("--strategy", choices=sorted(STRATEGIES), help="route choice (default: highest-fidelity)")
        if command is physics:
            continue
        command.add_argument(
            "--confidence",
            type=_probability,
            default=0.95,
            metavar="C",
            help="confidence of the printed interval (default 0.95)",
        )
        command.add_argument(
            "--workers", type=_positive, default=1, metavar="K", help="local processes sharing the trials (default 1)"
        )
    physics.add_argument(
        "--workers", type=_positive, default=None, metavar="K", help="local processes sharing the trials"
    )
    for command in (validate, diff, simulate, compare, physics, network):
        command.set_defaults(usage=command.error)  # a usage message and exit status 2
    return parser


def _printable_streams() -> None:
    # A character the terminal's encoding lacks is printed escaped, never a UnicodeEncodeError.
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors="backslashreplace")


def main(argv: Sequence[str] | None = None) -> int:
    _printable_streams()
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args)
        sys.stdout.flush()
        return status
    except Usage as usage:
        args.usage(str(usage))  # exits with status 2
        raise
    except Failure as failure:
        print(f"vorn {args.command}: {failure}", file=sys.stderr)
        return failure.status
    except OSError as error:  # a file the command line names cannot be opened
        if isinstance(error, BrokenPipeError):  # the reader went away (vorn diff a b | head)
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return EXIT_FAILED
        name = "" if error.filename is None else f"{shown(os.fsdecode(error.filename))}: "
        print(f"vorn {args.command}: {name}{error.strerror or error}", file=sys.stderr)
        return EXIT_TROUBLE if args.command == "diff" else EXIT_FAILED
    except KeyboardInterrupt:
        print(f"vorn {args.command}: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
