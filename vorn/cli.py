"""The `vorn` command: validate, diff, simulate and compare topologies from the shell.

Exit status: 0 on success, 1 when a file is invalid, two files differ or an operation fails, 2 for a
command line that cannot be used (with a usage message), 130 after Ctrl-C.
"""

from __future__ import annotations

import argparse
import math
import re
import sys
from collections.abc import Sequence

import vorn_core as vc

from .stats import successes, wilson_interval

# Validation messages by the error kind that produces them (their order in a report is the checks' order).
VALIDATION_CODES = (
    ("Duplicate node ID: ", "DuplicateNodeId"),
    ("Unknown node reference '", "UnknownNodeReference"),
    ("Self-loop detected in link '", "SelfLoop"),
    ("Invalid distance ", "InvalidDistance"),
    ("Invalid fidelity ", "InvalidFidelity"),
    ("Invalid generation rate ", "InvalidGenerationRate"),
    ("Graph is disconnected with ", "GraphDisconnected"),
)
JSON_POSITION = re.compile(r"(.*) at line (\d+) column (\d+)", re.DOTALL)
STRATEGIES = {
    "lowest-latency": vc.StrategyType.LowestLatency,
    "highest-fidelity": vc.StrategyType.HighestFidelity,
    "highest-success": vc.StrategyType.HighestSuccess,
}
EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130


class Failure(Exception):
    """An operation failed for a reason the user can act on: printed without a traceback."""


class Usage(Exception):
    """The command line asks for something impossible: printed with the command's usage."""


def _validation_code(message: str) -> str:
    for prefix, code in VALIDATION_CODES:
        if message.startswith(prefix):
            return code
    return "ValidationError"


def load_failure_lines(path: str, text: str) -> list[str]:
    """Lines ``FILE:LINE:COLUMN: message`` or ``FILE: CODE: message`` for the text of a failed load."""
    reason = text.removeprefix(f"Failed to load {path}: ")
    if reason.startswith("JSON parse error: "):
        match = JSON_POSITION.fullmatch(reason)
        if match:
            return [f"{path}:{match[2]}:{match[3]}: {match[1]}"]
        return [f"{path}: JsonError: {reason}"]
    if reason.startswith("IO error: "):
        return [f"{path}: IoError: {reason}"]
    if reason.startswith("Unsupported vorn version: "):
        return [f"{path}: UnsupportedVersion: {reason}"]
    if reason.startswith("Validation failed:\n"):
        lines, section = [], None
        for line in reason.splitlines():
            if line in ("Errors:", "Warnings:"):
                section = line
            elif line.startswith("   - ") and section == "Errors:":
                message = line[len("   - ") :]
                lines.append(f"{path}: {_validation_code(message)}: {message}")
            elif line.startswith("   - ") and section == "Warnings:":
                lines.append(f"{path}: warning: {line[len('   - ') :]}")
        return lines
    return [f"{path}: error: {reason}"]


def command_validate(args: argparse.Namespace) -> int:
    status = EXIT_OK
    for path in args.files:
        try:
            result = vc.validate(path)
        except RuntimeError as error:
            lines = load_failure_lines(path, str(error))
            status = EXIT_FAILED
        else:
            lines = [f"{path}: {entry['type'].partition(':')[0]}: {entry['message']}" for entry in result["errors"]]
            lines += [
                f"{path}: warning: {entry['message']}" + (f" [{entry['path']}]" if "path" in entry else "")
                for entry in result["warnings"]
            ]
            if not result["valid"]:
                status = EXIT_FAILED
            elif args.verbose and not lines:
                lines = [f"{path}: valid"]
        for line in lines:
            print(line)
    return status


def command_diff(args: argparse.Namespace) -> int:
    result = vc.diff(args.first, args.second)
    if "error" in result:
        raise Failure(result["error"])
    print(result["summary"], end="")
    changed = any(
        result[key]
        for key in ("nodes_added", "nodes_removed", "nodes_modified", "links_added", "links_removed", "links_modified")
    )
    return EXIT_FAILED if changed or result["summary"].count("\n") > 1 else EXIT_OK


def _percent(fraction: float) -> str:
    return f"{fraction * 100:g}%"


def _print_stats(stats: vc.MonteCarloStats, confidence: float) -> None:
    won = successes(stats)
    low, high = wilson_interval(won, stats.total_runs, confidence)
    print(f"runs               {stats.total_runs:,}")
    print(
        f"success rate       {stats.empirical_success_rate:.4f}  "
        f"({_percent(confidence)} interval {low:.4f} to {high:.4f}, {won:,} successes)"
    )
    print(f"mean latency       {stats.mean_latency_ms:.3f} ms")
    print(f"mean fidelity      {stats.mean_fidelity:.4f} (successful trials)")
    print(f"failed attempts    {stats.aggregate_congestion_drops:,}")
    heatmap = stats.link_utilization_heatmap
    if heatmap:
        print("link utilisation   generation attempts per hop")
        width = max(map(len, heatmap))
        for hop, attempts in heatmap.items():
            print(f"  {hop:<{width}}  {attempts:,}")


def command_simulate(args: argparse.Namespace) -> int:
    from . import _network, parallel

    try:
        engine = vc.from_vorn_file(args.file)
        constraints = vc.load_vorn_file(args.file).constraints
    except RuntimeError as error:
        raise Failure(str(error)) from None
    target: float | None = args.target
    bound: float | None = args.bound
    if constraints is not None:
        target = constraints.fidelity_target if target is None else target
        bound = constraints.max_latency_ms if bound is None else bound
    if target is None:
        raise Usage(f"--target is needed: {args.file} sets no fidelity_target in its constraints")
    if bound is None:
        raise Usage(f"--bound is needed: {args.file} sets no max_latency_ms in its constraints")
    strategy = STRATEGIES[args.strategy] if args.strategy else None
    # The engine's record of an empty ensemble is the network and configuration it simulates.
    context = engine.simulate(args.from_node, args.to, target, bound, 0, strategy, args.seed)._context
    assert context is not None  # simulate always records one
    ids = {node for node, _ in context.nodes}
    for node in (args.from_node, args.to):
        if node not in ids:
            raise Usage(f"{args.file} has no node {node!r} (nodes: {', '.join(sorted(ids))})")
    if args.workers == 1:
        stats = engine.simulate(args.from_node, args.to, target, bound, args.runs, strategy, args.seed)
    else:
        network, config = _network.from_context(context)
        nodes, links = _network.definitions(network)
        stats = parallel.simulate(
            nodes,
            links,
            args.from_node,
            args.to,
            target,
            bound,
            args.runs,
            strategy,
            args.seed,
            _network.simulation_config(config),
            workers=args.workers,
        )
    seed = "seed from the clock" if args.seed is None else f"seed {args.seed}"
    print(f"{args.file}: {args.from_node} -> {args.to}, fidelity target {target:g}, bound {bound:g} ms, {seed}")
    _print_stats(stats, args.confidence)
    return EXIT_OK


def command_compare(args: argparse.Namespace) -> int:
    endpoints = [vc.TopologyEndpoints(name, source, target) for name, source, target in args.endpoint]
    strategy = STRATEGIES[args.strategy] if args.strategy else None
    try:
        report = vc.compare_topologies(endpoints, args.target, args.bound, args.runs, strategy)
    except ValueError as error:
        raise Usage(str(error)) from None
    width = max([len("topology")] + [len(result.topology_name) for result in report.results])
    print(
        f"{'topology':<{width}}  success rate  {_percent(args.confidence) + ' interval':<16}  mean latency  "
        "mean fidelity"
    )
    for result in report.results:
        rate = result.success_rate
        interval = "-"
        if report.runs and not math.isnan(rate):
            low, high = wilson_interval(round(rate * report.runs), report.runs, args.confidence)
            interval = f"{low:.4f} to {high:.4f}"
        print(
            f"{result.topology_name:<{width}}  {rate:>12.4f}  {interval:<16}  {result.mean_latency_ms:>9.2f} ms"
            f"  {result.mean_fidelity:>13.4f}"
        )
    print(f"recommended: {report.recommended_topology}")
    print(report.summary)
    return EXIT_OK


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
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
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 < value < 1.0:
        raise argparse.ArgumentTypeError(f"must lie strictly between 0 and 1: {text}")
    return value


def _number(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vorn",
        description="Check, compare and simulate quantum network topologies (.vorn files).",
        epilog="Exit status: 0 success, 1 invalid files, differences or failures, 2 bad command line.",
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    validate = commands.add_parser(
        "validate",
        help="check .vorn files",
        description="Check .vorn files. Prints one line per problem, "
        "FILE:LINE:COLUMN: message where the position is known and FILE: CODE: message otherwise; "
        "exits with 1 when a file has errors (usable as a pre-commit hook).",
    )
    validate.add_argument("files", nargs="+", metavar="FILE")
    validate.add_argument("-v", "--verbose", action="store_true", help="also name the valid files")
    validate.set_defaults(run=command_validate)

    diff = commands.add_parser(
        "diff",
        help="compare two .vorn files",
        description="Print the changes from the first file to the second; exits with 1 when they differ.",
    )
    diff.add_argument("first", metavar="A")
    diff.add_argument("second", metavar="B")
    diff.set_defaults(run=command_diff)

    simulate = commands.add_parser(
        "simulate",
        help="run a Monte Carlo ensemble on a .vorn file",
        description="Run a seeded Monte Carlo ensemble of one entanglement request on the network and "
        "configuration of a .vorn file and print its statistics with the success rate's interval.",
    )
    simulate.add_argument("file", metavar="FILE")
    simulate.add_argument("from_node", metavar="FROM")
    simulate.add_argument("to", metavar="TO")
    simulate.add_argument("--runs", type=_count, required=True, metavar="N", help="number of trials")
    simulate.add_argument("--seed", type=_count, metavar="S", help="seed (default: from the clock)")
    simulate.add_argument(
        "--target", type=_number, metavar="F", help="fidelity target (default: the file's constraints)"
    )
    simulate.add_argument(
        "--bound", type=_number, metavar="MS", help="latency bound in ms (default: the file's constraints)"
    )
    simulate.add_argument(
        "--workers", type=_positive, default=1, metavar="K", help="local processes sharing the ensemble (default 1)"
    )
    simulate.set_defaults(run=command_simulate)

    compare = commands.add_parser(
        "compare",
        help="compare reference topologies",
        description="Simulate one request on several reference topologies and recommend one.",
    )
    compare.add_argument(
        "--endpoint",
        nargs=3,
        action="append",
        required=True,
        metavar=("TOPOLOGY", "FROM", "TO"),
        help="a topology (telecom_backbone, fiber_only, repeater_chain, hybrid_satellite_fiber, "
        "hybrid) and the two nodes of the request there; repeat for each topology",
    )
    compare.add_argument("--runs", type=_count, required=True, metavar="N", help="trials per topology")
    compare.add_argument("--target", type=_number, required=True, metavar="F", help="fidelity target")
    compare.add_argument("--bound", type=_number, required=True, metavar="MS", help="latency bound in ms")
    compare.set_defaults(run=command_compare)

    for command in (simulate, compare):
        command.add_argument("--strategy", choices=sorted(STRATEGIES), help="route choice (default: highest-fidelity)")
        command.add_argument(
            "--confidence",
            type=_probability,
            default=0.95,
            metavar="C",
            help="confidence of the printed interval (default 0.95)",
        )
    for command in (validate, diff, simulate, compare):
        command.set_defaults(usage=command.error)  # a usage message and exit status 2
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args)
        return status
    except Usage as usage:
        args.usage(str(usage))  # exits with status 2
        raise
    except Failure as failure:
        print(f"vorn {args.command}: {failure}", file=sys.stderr)
        return EXIT_FAILED
    except KeyboardInterrupt:
        print(f"vorn {args.command}: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
