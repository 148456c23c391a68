// The engine facade: one network, one configuration, requests and ensembles over them.
#pragma once

#include <cstdint>
#include <optional>

#include "core/ensemble.hpp"
#include "core/failure.hpp"
#include "core/network.hpp"
#include "core/prepared_request.hpp"
#include "core/request.hpp"

namespace vorn {

class Engine {
public:
    explicit Engine(SimulationConfig config = SimulationConfig::engine_default()) : config_(config) {}

    const SimulationConfig& config() const { return config_; }
    const std::optional<QuantumNetwork>& network() const { return network_; }

    void define_network(std::vector<NodeDefinition> nodes, const std::vector<LinkDefinition>& links);

    // Throws Panic without a network.
    SimulationResult request_entanglement(const EntanglementRequest& request,
                                          Interruption* interruption = nullptr) const;
    // The same request made ready for runs under any latency bound (the request's own is not read);
    // each run gives what request_entanglement gives under that bound. Throws Panic without a network.
    PreparedRequest prepare_request(const EntanglementRequest& request, Interruption* interruption = nullptr) const;

    // Caller checks for a network first (the Python layer raises its own error); the context
    // is filled from this call with `seed_argument` recorded as the caller gave it.
    MonteCarloStats simulate(const EntanglementRequest& request, std::uint64_t runs,
                             std::optional<std::uint64_t> seed_argument, Interruption* interruption = nullptr) const;

private:
    SimulationConfig config_;
    std::optional<QuantumNetwork> network_;
    // The last request prepared for request_entanglement, kept for callers that repeat it: the
    // network only changes as a whole, and then this goes with it. Nothing else reads it, so a
    // request still leaves the engine as it found it.
    mutable std::optional<PreparedRequest> last_request_;
};

// Nanoseconds since the Unix epoch, truncated to 64 bits; 0 before it.
std::uint64_t clock_seed();

}  // namespace vorn
