"""The distribution of the waiting time for chains of 1, 2, 4 and 8 links, trial by trial.

Links succeed with p = 0.05 per attempt of 1 ms and swaps always succeed, so a chain of n links waits for the
last of n geometric waits: P(T <= k ms) = (1 - (1 - p)^k)^n. Points are the simulated frequencies (from
`vorn.physics.trials`), lines the exact probabilities; the dotted lines mark the simulated medians.
Writes examples/out/physics_waiting_time.png.

    python examples/physics_waiting_time.py [--runs N] [--output FILE]
"""

import argparse
import os
from collections import Counter

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import vorn_core as vc

import vorn.physics as physics

P = 0.05


def chain(links):
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(links + 1)]
    hops = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 0.0, 0.95, 1000.0) for i in range(links)]
    return nodes, hops, "N0", f"N{links}"


def exact(k, links):
    return (1 - (1 - P) ** k) ** links - (1 - (1 - P) ** (k - 1)) ** links


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=200_000, help="trials per chain (default 200000)")
    parser.add_argument("--output", default=os.path.join(os.path.dirname(__file__), "out", "physics_waiting_time.png"))
    args = parser.parse_args()

    model = physics.PhysicalModel(efficiency=P)
    _, ax = plt.subplots(figsize=(7, 4.5))
    for links, colour in zip((1, 2, 4, 8), ("tab:blue", "tab:orange", "tab:green", "tab:red")):
        outcome = physics.trials(*chain(links), args.runs, model, seed=11)
        counts = Counter(round(t) for t in outcome.waiting_time_ms)
        ks = range(1, max(counts) + 1)
        ax.plot(ks, [exact(k, links) for k in ks], color=colour, linewidth=1)
        ax.plot(sorted(counts), [counts[k] / args.runs for k in sorted(counts)], ".", color=colour, markersize=3,
                label=f"{links} link{'s' if links > 1 else ''}")  # fmt: skip
        median = physics.simulate(*chain(links), args.runs, model, seed=11).waiting_time_ms_quantile(0.5)
        ax.axvline(median, color=colour, linestyle=":", linewidth=1)
    ax.set_xlim(0, 150)
    ax.set_xlabel("waiting time until the end-to-end pair (ms; attempts of 1 ms)")
    ax.set_ylabel("share of trials")
    ax.set_title(f"p = {P} per attempt, {args.runs:,} trials per chain; lines exact, dotted medians")
    ax.grid(alpha=0.3)
    ax.legend()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    ax.figure.savefig(args.output, dpi=120, bbox_inches="tight")
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
