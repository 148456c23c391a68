"""Entanglement distribution over a 4-router chain of 3 x 100 km in SeQUeNCe (PyPI "sequence"), a photon-level
event-driven simulator: each link generates pairs by the Barrett-Kok protocol through a middle BSM station,
routers swap them on request. Prints `attempts <link generation attempts> pairs <end-to-end pairs> seconds
<CPU seconds of the run>` for the simulated interval given.

Run in the peers' environment (bench/peers/setup), never in vorn's: python sequence_chain.py SIMULATED_SECONDS
"""

import json
import os
import sys
import tempfile
import time

from sequence.app.request_app import RequestApp
from sequence.entanglement_management.generation import barret_kok
from sequence.topology.router_net_topo import RouterNetTopo

PS = 10**12  # SeQUeNCe counts time in picoseconds


def config(simulated_seconds):
    routers = [f"r{i}" for i in range(4)]
    return {
        "stop_time": int(simulated_seconds * PS),
        "nodes": [{"name": name, "type": "QuantumRouter", "seed": i, "memo_size": 4} for i, name in enumerate(routers)],
        "qconnections": [
            {"node1": a, "node2": b, "attenuation": 0.0002, "distance": 100_000, "type": "meet_in_the_middle"}
            for a, b in zip(routers, routers[1:])
        ],
        "cconnections": [
            {"node1": a, "node2": b, "delay": int(abs(i - j) * 100_000 / 2e8 * PS)}
            for i, a in enumerate(routers)
            for j, b in enumerate(routers)
            if i < j
        ],
    }


def main(simulated_seconds):
    attempts = 0
    emit = barret_kok.BarretKokA.emit_event

    def counted(self):
        nonlocal attempts
        attempts += 1
        emit(self)

    barret_kok.BarretKokA.emit_event = counted
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "chain.json")
        with open(path, "w") as file:
            json.dump(config(simulated_seconds), file)
        topology = RouterNetTopo(path)
    timeline = topology.get_timeline()
    routers = {node.name: node for node in topology.get_nodes_by_type(RouterNetTopo.QUANTUM_ROUTER)}
    app = RequestApp(routers["r0"])
    RequestApp(routers["r3"])
    timeline.init()
    app.start("r3", int(0.05 * PS), int(simulated_seconds * PS), 2, 0.5)
    start = time.process_time()
    timeline.run()
    seconds = time.process_time() - start
    # Each attempt emits at both ends of a link.
    print(f"attempts {attempts // 2} pairs {app.memory_counter} seconds {seconds:.6f}")


if __name__ == "__main__":
    main(float(sys.argv[1]))
