#include "python/glossary.hpp"

#include "python/files.hpp"
#include "python/protocols.hpp"
#include "python/topology.hpp"

namespace vorn::py {

namespace {

// The first record to name a parameter gives its meaning.
template <describe::Described T>
void add_fields(Glossary& glossary) {
    describe::for_each_field<T>([&](const auto& field) {
        glossary.emplace(std::string(field.name), std::pair{std::string(field.meaning), std::string(field.unit)});
    });
}

}  // namespace

const Glossary& parameter_glossary() {
    static const Glossary glossary = [] {
        Glossary g{
            {"engine", {"The engine whose network the protocol runs on; held read-only for the call", ""}},
            {"filepath", {"Path of the file", ""}},
            {"file1", {"Path of the first .vorn file", ""}},
            {"file2", {"Path of the second .vorn file", ""}},
            {"qf", {"The .vorn file", ""}},
            {"params", {"The protocol's parameters, used as they stand", ""}},
            {"config", {"The engine's configuration (an engine default when omitted)", ""}},
            {"runs", {"Number of independent trials; trial i is keyed from seed + i", ""}},
            {"seed",
             {"Seed of the generation draws (the clock's nanoseconds when omitted); trial i uses seed + i, so "
              "seeds s and s + 1 share all trials but one",
              ""}},
            {"name", {"Name of a reference topology", ""}},
            {"version", {"Version written into the snapshot (\"1.0\" when omitted)", ""}},
            {"endpoints", {"The topologies to compare, each with its two end nodes", ""}},
            {"snapshot1", {"The first snapshot", ""}},
            {"snapshot2", {"The second snapshot", ""}},
            {"alpha_loss_db_km", {"Fibre loss; the purify factor becomes a tenth of it (0.022 when omitted)", "dB/km"}},
            {"total_time_cutoff_ms", {"Horizon of one request's simulated timeline (5000.0 when omitted)", "ms"}},
            {"step_resolution_ms", {"Time step, recorded but unused by the timeline (0.1 when omitted)", "ms"}},
        };
        add_fields<EntanglementRequest>(g);
        add_fields<NetworkTopologyPayload>(g);
        add_fields<QKDParameters>(g);
        add_fields<TeleportationParameters>(g);
        add_fields<DistributedComputingParameters>(g);
        add_fields<MeasurementBasis>(g);
        add_fields<CoordinationTopology>(g);
        add_fields<files::VornNode>(g);
        add_fields<files::VornLink>(g);
        return g;
    }();
    return glossary;
}

}  // namespace vorn::py
