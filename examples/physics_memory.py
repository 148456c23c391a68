"""Delivered fidelity against the memories' coherence time T2, for chains of 2 and 4 links of 50 km.

Points are ensembles of the physical model with their 95 % intervals (fibre of 0.2 dB/km, so p = 0.1 per
attempt; 10 kHz sources, so an attempt lasts 0.25 ms, the herald's travel time; fresh pairs of fidelity
0.98; memories dephase, the model's default). The line is the exact mean for two links. Dephasing leaves <ZZ> = w0^2
and multiplies <XX> = -<YY> by D = exp(-2 tau / T2) for every attempt's time that both qubits of a pair are held:
one for each link's herald, |N1 - N2| for the first pair waiting for the second, and one for the swap's outcome
to reach both ends, so F = (1 + w0^2 + 2 w0^2 D^3 E[D^|N1 - N2|]) / 4 with
E[D^|N1 - N2|] = p (1 + (1 - p) D) / ((2 - p)(1 - (1 - p) D)). The dotted line is the two links' fully dephased limit
(1 + w0^2) / 4. Writes examples/out/physics_memory.png.

    python examples/physics_memory.py [--runs N] [--output FILE]
"""

import argparse
import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import vorn_core as vc

import vorn.physics as physics

FIDELITY = 0.98
LINK_KM = 50.0


def chain(links, t2_s):
    nodes = [vc.NodeDefinition(f"N{i}", t2_s) for i in range(links + 1)]
    hops = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", LINK_KM, FIDELITY, 1e4) for i in range(links)]
    return nodes, hops, "N0", f"N{links}"


def two_links_exact(t2_s):
    p = 10 ** (-0.2 * LINK_KM / 10)
    tau_ms = LINK_KM / 200.0
    w0 = (4 * FIDELITY - 1) / 3
    decay = math.exp(-2 * tau_ms / (1000 * t2_s))
    kept = p * (1 + (1 - p) * decay) / ((2 - p) * (1 - (1 - p) * decay))
    return (1 + w0**2 + 2 * w0**2 * decay**3 * kept) / 4


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=20_000, help="trials per point (default 20000)")
    parser.add_argument("--output", default=os.path.join(os.path.dirname(__file__), "out", "physics_memory.png"))
    args = parser.parse_args()

    t2s = [10 ** (k / 4) for k in range(-12, 5)]  # 1 ms to 10 s
    _, ax = plt.subplots(figsize=(7, 4.5))
    fine = [10 ** (k / 40) for k in range(-120, 41)]
    ax.plot(fine, [two_links_exact(t2) for t2 in fine], color="black", linewidth=1, label="2 links, exact")
    for links, colour in ((2, "tab:blue"), (4, "tab:orange")):
        stats = [physics.simulate(*chain(links, t2), args.runs, seed=7) for t2 in t2s]
        means = [s.mean_fidelity for s in stats]
        errors = [1.959964 * s.fidelity_stderr for s in stats]
        ax.errorbar(t2s, means, yerr=errors, fmt="o", color=colour, capsize=3, label=f"{links} links, simulated")
    w0 = (4 * FIDELITY - 1) / 3
    ax.axhline((1 + w0**2) / 4, color="grey", linestyle=":", linewidth=1, label="2 links, fully dephased")
    ax.set_xscale("log")
    ax.set_xlabel("memory coherence time T2 (s)")
    ax.set_ylabel("mean delivered fidelity (95 % interval)")
    ax.set_title(f"Chains of {LINK_KM:g} km links, fresh pairs of fidelity {FIDELITY}, {args.runs:,} trials per point")
    ax.grid(alpha=0.3, which="both")
    ax.legend()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    ax.figure.savefig(args.output, dpi=120, bbox_inches="tight")
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
