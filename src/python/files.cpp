// Python classes of the .vorn file records, and the module functions over files.
#include "python/files.hpp"

#include "core/debug_text.hpp"
#include "core/number_text.hpp"
#include "files/discard_later.hpp"
#include "files/validation.hpp"
#include "files/vorn_bridge.hpp"
#include "files/vorn_diff.hpp"
#include "files/vorn_io.hpp"
#include "python/toolkit/dict_builder.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::py {

using namespace vorn::files;

namespace {

// ---- conversions between the Python form and the file record -------------------------------

VornFileValue from_record(VornFile&& file) {
    file.extensions.reset();
    for (auto& link : file.links)
        if (!link.id) link.id.emplace();
    return {std::move(file), Ref::borrow(Py_None)};
}

VornFile to_record(const VornFileValue& value) {
    VornFile file = value.file;
    for (auto& link : file.links)
        if (!link.id) link.id.emplace();
    return file;
}

Result<VornFile> load(const std::string& path) {
    SignalCheck signals;
    return load_vorn_file(path, &signals);
}

std::string load_failure(const std::string& path, const FileError& error) {
    SignalCheck signals;
    return load_failure_text(path, error, &signals);
}

VornFile load_or_raise(const std::string& path) {
    Result<VornFile> loaded = load(path);
    if (!loaded) throw RuntimeFailure(load_failure(path, loaded.error()));
    // Ctrl-C during the last stretch of a load is answered now, without waiting for the file to be freed.
    if (SignalCheck().requested()) {
        discard_later(std::move(loaded).value());
        throw Interrupted();
    }
    return std::move(loaded).value();
}

// ---- repr pieces ---------------------------------------------------------------------------

template <class T, class Show>
std::string optional_text(const std::optional<T>& value, Show show) {
    return value ? "Some(" + show(*value) + ")" : "None";
}

std::string count_text(std::uint32_t count) { return std::to_string(count); }

std::string file_repr(const VornFileValue& file) {
    return "VornFile(version='" + file.file.version + "', metadata={name:'" + file.file.metadata.name +
           "'}, nodes=" + std::to_string(file.file.nodes.size()) + ", links=" + std::to_string(file.file.links.size()) +
           ")";
}

std::string node_repr(const VornNode& node) {
    return "VornNode(id='" + node.id + "', memory=" + optional_debug_text(node.memory_lifetime_ms) +
           ", capacity=" + optional_text(node.memory_capacity, count_text) + ", type=" +
           optional_text(
               node.node_type,
               [](VornNodeType t) { return "PyVornNodeType(" + std::string(describe::member_name(t)) + ")"; }) +
           ")";
}

std::string link_repr(const VornLink& link) {
    const LinkFigures& figures = link.figures;
    return "VornLink(id=" + debug_quoted(link.id.value_or("")) + ", src='" + figures.from + "', to='" + figures.to +
           "', dist=" + plain_number_text(figures.distance_km) +
           "km, fid=" + fixed2_number_text(figures.base_fidelity) +
           ", rate=" + plain_number_text(figures.generation_rate_hz) + "Hz)";
}

std::string config_repr(const VornConfig& config) {
    return "VornConfig(alpha_loss=" + optional_debug_text(config.alpha_loss) +
           ", beta_fidelity_decay=" + optional_debug_text(config.beta_fidelity_decay) +
           ", gamma_swapping=" + optional_debug_text(config.gamma_swapping) +
           ", max_attempts=" + optional_text(config.max_attempts, count_text) + ")";
}

std::string constraints_repr(const VornConstraints& constraints) {
    return "VornConstraints(fidelity_target=" + optional_debug_text(constraints.fidelity_target) +
           ", max_latency_ms=" + optional_debug_text(constraints.max_latency_ms) + ")";
}

std::string metadata_repr(const VornMetadata& metadata) {
    return "VornMetadata(name='" + metadata.name +
           "', description=" + optional_text(metadata.description, debug_quoted) +
           ", author=" + optional_text(metadata.author, debug_quoted) + ")";
}

bool constraints_equal(const VornConstraints& a, const VornConstraints& b) { return a == b; }

// ---- constructors and methods --------------------------------------------------------------

VornFileValue make_file(std::string name) { return from_record(VornFile::named(std::move(name))); }

void add_node(VornFileValue& file, std::string id, std::optional<double> memory_lifetime_ms,
              std::optional<std::uint32_t> memory_capacity, std::optional<VornNodeType> node_type) {
    file.file.nodes.push_back({std::move(id), memory_lifetime_ms, memory_capacity, node_type});
}

void add_link(VornFileValue& file, std::string id, std::string src, std::string to, double distance_km,
              double base_fidelity, double generation_rate_hz, std::optional<VornLinkType> link_type,
              std::optional<VornSatelliteExtension> satellite) {
    file.file.links.push_back({std::move(id),
                               {std::move(src), std::move(to), distance_km, base_fidelity, generation_rate_hz},
                               link_type,
                               satellite});
}

// VornFile.save, and the module's save_vorn_file_wrapper (alias save).
void save(const VornFileValue& file, std::string filepath) {
    SignalCheck signals;
    Result<void> saved = save_vorn_file(filepath, to_record(file), &signals);
    if (!saved) throw RuntimeFailure(vorn_error_text(saved.error()));
}

double satellite_rate(const VornSatelliteExtension& satellite, double base_rate) {
    return satellite.effective_rate(base_rate);
}

// ---- module functions ----------------------------------------------------------------------

VornFileValue load_function(std::string filepath) { return from_record(load_or_raise(filepath)); }

Ref validate(std::string filepath) {
    ValidationResult result = validate_all(load_or_raise(filepath));
    std::vector<Ref> errors, warnings;
    for (const auto& error : result.errors) {
        DictBuilder entry;
        entry.set("type", error.type_text()).set("message", error.message());
        if (error.path) entry.set("path", *error.path);
        errors.push_back(entry.take());
    }
    for (const auto& warning : result.warnings) {
        DictBuilder entry;
        entry.set("message", warning.message);
        if (warning.path) entry.set("path", *warning.path);
        warnings.push_back(entry.take());
    }
    return DictBuilder()
        .set("valid", result.valid)
        .set("filepath", filepath)
        .set("errors", errors)
        .set("warnings", warnings)
        .take();
}

Ref diff(std::string file1, std::string file2) {
    Result<VornFile> first = load(file1);
    if (!first) return DictBuilder().set("error", load_failure(file1, first.error())).take();
    Result<VornFile> second = load(file2);
    if (!second) return DictBuilder().set("error", load_failure(file2, second.error())).take();
    VornDiff report = diff_vorn_files(file1, file2, first.value(), second.value());
    return DictBuilder()
        .set("summary", report.summary)
        .set("nodes_added", report.nodes_added)
        .set("nodes_removed", report.nodes_removed)
        .set("nodes_modified", report.nodes_modified)
        .set("links_added", report.links_added)
        .set("links_removed", report.links_removed)
        .set("links_modified", report.links_modified)
        .take();
}

Engine from_vorn_file(std::string filepath) {
    VornFile file = load_or_raise(filepath);
    Engine engine(simulation_config_from_vorn(file));
    NetworkTopologyPayload payload = network_definitions_from_vorn(file);
    engine.define_network(payload.nodes, payload.links);
    return engine;
}

void define_network_from_vorn(Engine& engine, const VornFileValue& file) {
    NetworkTopologyPayload payload = network_definitions_from_vorn(to_record(file));
    engine.define_network(payload.nodes, payload.links);
}

}  // namespace

void describe_engine_file_methods(ClassTable<Engine>& table) {
    table.method<&define_network_from_vorn>("define_network_from_vorn", {"qf"},
                                            "Load a topology from a loaded .vorn file directly into the engine.\n\n"
                                            "Nodes and links are taken in file order; the file's config is not used.");
}

PyMethodDef validate_function() { return module_function<&validate>("validate", {"filepath"}); }

PyMethodDef load_vorn_file_function() {
    return module_function<&load_function>(
        "load_vorn_file", {"filepath"},
        "Load a .vorn file from disk and return it as a VornFile object.\n\n"
        "Validates version (must be \"1.0\") and graph connectivity before returning.\n"
        "Raises RuntimeError on IO errors, parse errors, or validation failures.");
}

PyMethodDef diff_function() { return module_function<&diff>("diff", {"file1", "file2"}); }

PyMethodDef from_vorn_file_function() { return module_function<&from_vorn_file>("from_vorn_file", {"filepath"}); }

PyMethodDef save_vorn_file_wrapper_function() {
    return module_function<&save>("save_vorn_file_wrapper", {"qf", "filepath"},
                                  "Save a PyVornFile to disk (module-level save alias for PyVornFile.save())");
}

PyTypeObject* Bound<VornFileValue>::type() noexcept {
    return lazy_type<VornFileValue>([](auto& table) {
        table.template constructor<&make_file>({{"name", "Name of the topology, for its metadata"}})
            .described_fields()
            .template holds_object<&VornFileValue::extensions>()
            .template method<&add_node>("add_node", {"id", "memory_lifetime_ms", "memory_capacity", "node_type"},
                                        "Add a node with optional fields.\n\nNo checks are made; "
                                        "validation happens when the file is loaded.")
            .template method<&add_link>(
                "add_link",
                {"id", "src", "to", "distance_km", "base_fidelity", "generation_rate_hz", "link_type", "satellite"},
                "Add a link with optional fields.\n\nNo checks are made; "
                "validation happens when the file is loaded.")
            .template method<&save>("save", {"filepath"}, "Save this .vorn file to disk as pretty-printed JSON.")
            .template repr<&file_repr>();
    });
}

PyTypeObject* Bound<VornNode>::type() noexcept {
    return lazy_type<VornNode>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&node_repr>(); });
}

PyTypeObject* Bound<VornLink>::type() noexcept {
    return lazy_type<VornLink>([](auto& table) {
        table.described_constructor()
            .described_fields()
            .attribute_doc("src",
                           "Link source node (Python kwarg is \"src\" to avoid Python keyword conflict with \"from\")")
            .template repr<&link_repr>();
    });
}

PyTypeObject* Bound<VornConfig>::type() noexcept {
    return lazy_type<VornConfig>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&config_repr>(); });
}

PyTypeObject* Bound<VornConstraints>::type() noexcept {
    return lazy_type<VornConstraints>([](auto& table) {
        table.described_constructor()
            .described_fields()
            .template repr<&constraints_repr>()
            .template equality<&constraints_equal>();
    });
}

PyTypeObject* Bound<VornMetadata>::type() noexcept {
    return lazy_type<VornMetadata>(
        [](auto& table) { table.described_constructor().described_fields().template repr<&metadata_repr>(); });
}

PyTypeObject* Bound<VornNodeType>::type() noexcept {
    return lazy_type<VornNodeType>([](auto& table) { table.described_members(); });
}

PyTypeObject* Bound<VornLinkType>::type() noexcept {
    return lazy_type<VornLinkType>([](auto& table) { table.described_members(); });
}

PyTypeObject* Bound<VornSatelliteExtension>::type() noexcept {
    return lazy_type<VornSatelliteExtension>([](auto& table) {
        table.described_constructor(false).described_fields().template method<&satellite_rate>(
            "effective_rate", {{"base_rate", "Generation rate before the conditions apply", "Hz"}},
            "Calculate effective generation rate based on conditions");
    });
}

}  // namespace vorn::py
