"""Quick start: waiting time, fidelity and secret-key rate of a repeater chain, from the physical model.

A chain of four fibre links of 75 km (N0 - N1 - N2 - N3 - N4, 300 km end to end) with sources of 1 MHz, fresh
pairs of fidelity 0.99 and memories of T2 = 1 s, where 80 % of the photons that arrive are heralded. A seeded
ensemble of the physical model gives each figure with its 95 % interval, beside the most that any protocol
without repeaters could get over the same 300 km. `examples/repeater_chain.vorn` holds the same network, and
the command line prints the same figures for the same seed:

    vorn physics examples/repeater_chain.vorn N0 N4 --runs 1000000 --seed 2026 --efficiency 0.8

    python examples/quickstart.py [--runs N]
"""

import argparse

import vorn_core as vc

import vorn.physics as physics

SEED = 2026


def repeater_chain(links=4, spacing_km=75.0):
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(links + 1)]  # memory T2 in s
    hops = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", spacing_km, 0.99, 1e6) for i in range(links)]  # km, F, Hz
    return nodes, hops


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=1_000_000, help="trials of the ensemble (default 1,000,000)")
    args = parser.parse_args()
    nodes, links = repeater_chain()
    model = physics.PhysicalModel(efficiency=0.8)  # every other parameter at its default: help(physics.PhysicalModel)
    stats = physics.simulate(nodes, links, "N0", "N4", args.runs, model, seed=SEED)
    print(stats)
    total_km = sum(link.distance_km for link in links)
    transmissivity = 10 ** (-model.attenuation_db_km * total_km / 10)
    bound = physics.repeaterless_bound(transmissivity) * links[0].generation_rate_hz
    print(f"  (no protocol without repeaters beats {bound:.3g} bit/s over one {total_km:g} km fibre at 1 MHz)")


if __name__ == "__main__":
    main()
