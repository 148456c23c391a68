"""Two saturated demands sharing a link, built from the parts of QNS (PyPI "qns"), an event-driven simulator of
Werner-state entanglement: its simulator and events, nodes, quantum and classical channels with delays, the
quantum channel's random loss, memories of fixed capacity and Werner-state swapping. The protocol on top of them
is written here, to be the network model's protocol for the same scenario (bench/bench_network.py):

- a line A - B - C - D of equal links; demands A to C (over A-B, B-C) and B to D (over B-C, C-D), each always
  wanting one pair, one request in progress at a time (the next starts when its pair is delivered); one memory per
  link end;
- a link attempts while a request that still needs its pair waits and a memory is free at each end; it attempts
  in slots of the source's period counted from the moment it starts; in each slot its left node sends a photon
  entangled with a fresh Werner pair of the given fidelity, timed to arrive at the slot's end, over the link's
  quantum channel, which loses it with probability 1 - p; a photon that arrives heralds the pair at both nodes,
  which store their qubits;
- a heralded pair goes to the waiting request that came first (first in, first out), which holds it;
- the middle node of a request that holds both of its pairs swaps them at once (always succeeding) and frees its
  memories, and sends the outcome to both ends over the classical channels; the pair is delivered when both ends
  have heard, which frees their memories and starts the demand's next request.

What still differs from the network model: the photon crosses the whole link to the other node, where the model's
herald comes from a station halfway (the arrival times are the same: both nodes learn at the slot's end); QNS's
clock counts whole ticks of 0.1 microseconds; events at one instant run in the order QNS gives them (the model
fixes one: deliveries, then starts, then arrivals), which could only matter when two links' slots end at the same
instant; memories do not decay (the model's memories here last 1e9 s: throughput does not depend on them).

Prints one line per run: `A-C <pairs> B-D <pairs> fidelity <mean> seconds <CPU seconds of the run>`.
Run in the peers' environment (bench/peers/setup), never in vorn's:

    python qns_network.py LINK_KM SOURCE_HZ P FIDELITY SIGNAL_KM_S SIMULATED_SECONDS RUNS SEED
"""

import sys
import time

from qns.entity.cchannel.cchannel import ClassicChannel, ClassicPacket, RecvClassicPacket
from qns.entity.memory.memory import QuantumMemory
from qns.entity.node.app import Application
from qns.entity.node.node import QNode
from qns.entity.qchannel.qchannel import QuantumChannel, RecvQubitPacket
from qns.models.epr import WernerStateEntanglement
from qns.simulator.event import func_to_event
from qns.simulator.simulator import Simulator
from qns.utils.rnd import set_seed

ACCURACY = 10_000_000  # ticks per second


class Link:
    def __init__(self, left, right, delay_s, loss):
        self.left, self.right = left, right
        self.qchannel = QuantumChannel(f"{left.name}-{right.name}", bandwidth=0, delay=delay_s, drop_rate=loss)
        self.cchannel = ClassicChannel(f"{left.name}-{right.name}", delay=delay_s)
        for node in (left, right):
            node.add_qchannel(self.qchannel)
            node.add_cchannel(self.cchannel)
        self.attempting = False
        self.next_emission = None


class Request:
    def __init__(self, demand, since):
        self.demand, self.since = demand, since
        self.pairs = {}  # link -> pair
        self.heard = 0  # ends that know the swap's outcome


class Network(Application):
    """Every node runs this one application, which holds the protocol's state."""

    def __init__(self, link_km, source_hz, p, fidelity, signal_km_s, simulator):
        super().__init__()
        self.simulator = simulator
        self.slot = simulator.time(sec=1 / source_hz)
        self.flight = simulator.time(sec=link_km / signal_km_s)
        self.fidelity = fidelity
        self.nodes = {name: QNode(name, apps=[self]) for name in "ABCD"}
        a, b, c, d = self.nodes.values()
        self.links = [Link(x, y, link_km / signal_km_s, 1 - p) for x, y in ((a, b), (b, c), (c, d))]
        for node in self.nodes.values():
            node.add_memory(QuantumMemory(node.name, capacity=sum(node in (x.left, x.right) for x in self.links)))
        self.reserved = dict.fromkeys(self.nodes.values(), 0)  # memories held by attempting links
        self.demands = [(a, c, self.links[0:2]), (b, d, self.links[1:3])]
        self.requests = [Request(demand, simulator.ts) for demand in self.demands]
        self.delivered = [0, 0]
        self.fidelities = []
        for node in self.nodes.values():
            node.install(simulator)
        self.add_handler(self.arrive, [RecvQubitPacket])
        self.add_handler(self.hear, [RecvClassicPacket])
        self.start_links()

    def free(self, node):
        return node.memories[0].capacity - node.memories[0].count - self.reserved[node]

    def waiting(self, link):
        return [r for r in self.requests if link in r.demand[2] and link not in r.pairs]

    def start_links(self):
        for link in self.links:
            if not link.attempting and self.waiting(link) and self.free(link.left) > 0 and self.free(link.right) > 0:
                link.attempting = True
                self.reserved[link.left] += 1
                self.reserved[link.right] += 1
                self.schedule_emission(link, self.simulator.tc + self.slot - self.flight)

    def schedule_emission(self, link, at):
        link.next_emission = func_to_event(at, self.emit, None, self, link)
        self.simulator.add_event(link.next_emission)

    def emit(self, link):
        link.qchannel.send(WernerStateEntanglement(self.fidelity), link.right)
        self.schedule_emission(link, self.simulator.tc + self.slot)

    def arrive(self, node, event):
        link = next(x for x in self.links if x.qchannel is event.qchannel)
        link.next_emission.cancel()
        link.attempting = False
        self.reserved[link.left] -= 1
        self.reserved[link.right] -= 1
        pair = event.qubit
        link.left.memories[0].write(pair)
        link.right.memories[0].write(pair)
        request = min(self.waiting(link), key=lambda r: r.since)
        request.pairs[link] = pair
        first, second = request.demand[2]
        if len(request.pairs) == 2:
            middle = first.right
            middle.memories[0].read(request.pairs[first])
            middle.memories[0].read(request.pairs[second])
            request.pair = request.pairs[first].swapping(request.pairs[second])
            first.cchannel.send(ClassicPacket("swapped", middle, first.left), first.left)
            second.cchannel.send(ClassicPacket("swapped", middle, second.right), second.right)
        self.start_links()
        return True

    def hear(self, node, event):
        request = next(r for r in self.requests if len(r.pairs) == 2 and node in (r.demand[0], r.demand[1]))
        request.heard += 1
        if request.heard == 2:
            first, second = request.demand[2]
            first.left.memories[0].read(request.pairs[first])
            second.right.memories[0].read(request.pairs[second])
            k = self.requests.index(request)
            self.delivered[k] += 1
            self.fidelities.append(request.pair.fidelity)
            self.requests[k] = Request(request.demand, self.simulator.tc)
            self.start_links()
        return True


def main(link_km, source_hz, p, fidelity, signal_km_s, simulated_seconds, runs, seed):
    for run in range(int(runs)):
        set_seed(int(seed) + run)
        simulator = Simulator(0, simulated_seconds, accuracy=ACCURACY)
        start = time.process_time()
        network = Network(link_km, source_hz, p, fidelity, signal_km_s, simulator)
        simulator.run()
        seconds = time.process_time() - start
        mean = sum(network.fidelities) / max(1, len(network.fidelities))
        print(f"A-C {network.delivered[0]} B-D {network.delivered[1]} fidelity {mean:.6f} seconds {seconds:.6f}")


if __name__ == "__main__":
    main(*map(float, sys.argv[1:]))
