// The diff of two .vorn files as structured data: every change vorn_core's diff finds, with the old
// and new values of the sections that its report text shows only in part.
#include "files/vorn_diff.hpp"
#include "files/vorn_io.hpp"
#include "native/functions.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/dict_builder.hpp"
#include "python/toolkit/errors.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {

namespace {

using py::DictBuilder;
using py::Ref;

template <class T>
std::optional<std::tuple<T, T>> pair_of(const std::optional<files::FieldChange<T>>& change) {
    if (!change) return std::nullopt;
    return std::tuple(change->old_value, change->new_value);
}

// Only the fields that changed, each as (old, new); None when nothing in the section changed.
Ref metadata_changes(const std::optional<files::MetadataChange>& change) {
    if (!change) return {};
    DictBuilder fields;
    if (change->name) fields.set("name", *pair_of(change->name));
    if (change->description) fields.set("description", *pair_of(change->description));
    if (change->author) fields.set("author", *pair_of(change->author));
    if (change->created_at) fields.set("created_at", *pair_of(change->created_at));
    return fields.take();
}

Ref config_changes(const std::optional<files::ConfigChange>& change) {
    if (!change) return {};
    DictBuilder fields;
    if (change->alpha_loss) fields.set("alpha_loss", *pair_of(change->alpha_loss));
    if (change->beta_fidelity_decay) fields.set("beta_fidelity_decay", *pair_of(change->beta_fidelity_decay));
    if (change->gamma_swapping) fields.set("gamma_swapping", *pair_of(change->gamma_swapping));
    if (change->max_attempts) fields.set("max_attempts", *pair_of(change->max_attempts));
    return fields.take();
}

Ref constraints_changes(const std::optional<files::ConstraintsChange>& change) {
    if (!change) return {};
    DictBuilder fields;
    if (change->fidelity_target) fields.set("fidelity_target", *pair_of(change->fidelity_target));
    if (change->max_latency_ms) fields.set("max_latency_ms", *pair_of(change->max_latency_ms));
    return fields.take();
}

files::VornFile loaded(const std::string& path) {
    py::SignalCheck signals;
    files::Result<files::VornFile> file = files::load_vorn_file(path, &signals);
    if (!file) throw py::RuntimeFailure(path + ": " + files::vorn_error_text(file.error()));
    return std::move(file).value();
}

files::VornDiff diff_of(const std::string& file1, const std::string& file2) {
    const files::VornFile first = loaded(file1);
    const files::VornFile second = loaded(file2);
    return files::diff_vorn_files(file1, file2, first, second);
}

Ref diff_vorn_files(std::string file1, std::string file2) {
    const files::VornDiff diff = py::without_lock(diff_of, file1, file2);
    return DictBuilder()
        .set("version", pair_of(diff.version))
        .set("metadata", metadata_changes(diff.metadata))
        .set("nodes_added", diff.nodes_added)
        .set("nodes_removed", diff.nodes_removed)
        .set("nodes_modified", diff.nodes_modified)
        .set("links_added", diff.links_added)
        .set("links_removed", diff.links_removed)
        .set("links_modified", diff.links_modified)
        .set("config", config_changes(diff.config))
        .set("constraints", constraints_changes(diff.constraints))
        .set("extensions_changed", diff.extensions_changed)
        .take();
}

}  // namespace

PyMethodDef diff_vorn_files_function() {
    return py::module_function<&diff_vorn_files>(
        "diff_vorn_files", {"file1", "file2"},
        "The changes from one .vorn file to another as a dict: \"version\" (old, new) or None; \"metadata\",\n"
        "\"config\" and \"constraints\" each None or a dict of the changed fields' (old, new); the lists\n"
        "\"nodes_added\", \"nodes_removed\", \"nodes_modified\", \"links_added\", \"links_removed\",\n"
        "\"links_modified\" (node ids, link keys \"from->to\"); and \"extensions_changed\". A file that does\n"
        "not load raises RuntimeError \"<path>: <reason>\".");
}

}  // namespace vorn::native
