"""Entanglement distribution over a 4-node chain of 3 x 100 km in QNS (PyPI "qns"), an event-driven simulator of
Werner-state entanglement: pairs are generated hop by hop, stored in memories and swapped. Prints
`pairs <delivered end-to-end pairs> seconds <CPU seconds of the run>` for the simulated interval given.

Run in the peers' environment (bench/peers/setup), never in vorn's: python qns_chain.py SIMULATED_SECONDS
"""

import sys
import time

from qns.entity.memory.memory import QuantumMemory  # noqa: F401  (memories are made from memory_args)
from qns.network import QuantumNetwork
from qns.network.protocol.entanglement_distribution import EntanglementDistributionApp
from qns.network.route.dijkstra import DijkstraRouteAlgorithm
from qns.network.topology import LineTopology
from qns.network.topology.topo import ClassicTopology
from qns.simulator.simulator import Simulator


def main(simulated_seconds):
    light_delay_s = 100 / 200_000  # 100 km of fibre at 200 km/ms
    topology = LineTopology(
        nodes_number=4,
        qchannel_args={"delay": light_delay_s, "length": 100_000, "bandwidth": 0},
        cchannel_args={"delay": light_delay_s},
        memory_args=[{"capacity": 1000, "decoherence_rate": 1 / 150.0}],
        nodes_apps=[EntanglementDistributionApp(init_fidelity=0.92)],
    )
    network = QuantumNetwork(topo=topology, route=DijkstraRouteAlgorithm(), classic_topo=ClassicTopology.All)
    network.build_route()
    first, last = network.get_node("n1"), network.get_node("n4")
    network.add_request(first, last, attr={"send_rate": 800})
    simulator = Simulator(0, simulated_seconds, accuracy=1_000_000)
    network.install(simulator)
    start = time.process_time()
    simulator.run()
    seconds = time.process_time() - start
    pairs = first.get_apps(EntanglementDistributionApp)[0].success_count
    print(f"pairs {pairs} seconds {seconds:.6f}")


if __name__ == "__main__":
    main(float(sys.argv[1]))
