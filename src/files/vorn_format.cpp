#include "files/vorn_format.hpp"

#include "files/json_reader.hpp"
#include "files/json_writer.hpp"

namespace vorn::files {
namespace {

constexpr std::array<std::string_view, 3> kNodeTypes{"ground", "satellite", "repeater"};
constexpr std::array<std::string_view, 2> kLinkTypes{"fiber", "satellite"};

constexpr std::array kMetadataFields{
    json_field<&VornMetadata::name>("name", kRequired),
    json_field<&VornMetadata::description>("description", kOptional),
    json_field<&VornMetadata::author>("author", kOptional),
    json_field<&VornMetadata::created_at>("created_at", kOptional),
};
constexpr JsonRecord kMetadata = json_record<VornMetadata>("metadata", kMetadataFields);

constexpr std::array kNodeFields{
    json_field<&VornNode::id>("id", kRequired),
    json_field<&VornNode::memory_lifetime_ms>("memory_lifetime_ms", kOptional),
    json_field<&VornNode::memory_capacity>("memory_capacity", kOptional),
    json_field<&VornNode::node_type>("node_type", kOptional, kNodeTypes),
};
constexpr JsonRecord kNode = json_record<VornNode>("a node", kNodeFields);

constexpr std::array kSatelliteFields{
    json_field<&VornSatelliteExtension::visibility, VornSatelliteExtension>("visibility", kRequired),
    json_field<&VornSatelliteExtension::weather_factor, VornSatelliteExtension>("weather_factor", kRequired),
};
constexpr JsonRecord kSatellite = json_record<VornSatelliteExtension>("satellite", kSatelliteFields);

constexpr std::array kLinkFields{
    json_field<&VornLink::id>("id", kOptional),
    json_field<&VornLink::from, VornLink>("from", kRequired),
    json_field<&VornLink::to, VornLink>("to", kRequired),
    json_field<&VornLink::distance_km, VornLink>("distance_km", kRequired),
    json_field<&VornLink::base_fidelity, VornLink>("base_fidelity", kRequired),
    json_field<&VornLink::generation_rate_hz, VornLink>("generation_rate_hz", kRequired),
    json_field<&VornLink::link_type>("link_type", kOptional, kLinkTypes),
    json_field<&VornLink::satellite>("satellite", kOptional, kSatellite),
};
constexpr JsonRecord kLink = json_record<VornLink>("a link", kLinkFields);

constexpr std::array kConfigFields{
    json_field<&VornConfig::alpha_loss>("alpha_loss", kOptional),
    json_field<&VornConfig::beta_fidelity_decay>("beta_fidelity_decay", kOptional),
    json_field<&VornConfig::gamma_swapping>("gamma_swapping", kOptional),
    json_field<&VornConfig::max_attempts>("max_attempts", kOptional),
};
constexpr JsonRecord kConfig = json_record<VornConfig>("config", kConfigFields);

constexpr std::array kConstraintsFields{
    json_field<&VornConstraints::fidelity_target>("fidelity_target", kOptional),
    json_field<&VornConstraints::max_latency_ms>("max_latency_ms", kOptional),
};
constexpr JsonRecord kConstraints = json_record<VornConstraints>("constraints", kConstraintsFields);

constexpr std::array kExtensionsFields{
    json_field<&VornExtensions::custom>("custom", kOptional),
};
constexpr JsonRecord kExtensions = json_record<VornExtensions>("extensions", kExtensionsFields);

constexpr std::array kFileFields{
    json_field<&VornFile::version>("version", kRequired),
    json_field<&VornFile::metadata>("metadata", kRequired, kMetadata),
    json_field<&VornFile::nodes>("nodes", kRequired, kNode),
    json_field<&VornFile::links>("links", kRequired, kLink),
    json_field<&VornFile::config>("config", kOptional, kConfig),
    json_field<&VornFile::constraints>("constraints", kOptional, kConstraints),
    json_field<&VornFile::extensions>("extensions", kOptional, kExtensions),
};
constexpr JsonRecord kFile = json_record<VornFile>("the document", kFileFields);

constexpr JsonFormat kVornFormat{kFile, AbsentField::Omitted};

}  // namespace

Result<VornFile> read_vorn_json(const FileText& text, Interruption* interruption, JsonPositions* positions) {
    return read_json<VornFile>(kVornFormat, text, interruption, positions);
}

Result<VornFile> read_vorn_json(std::string_view text) { return read_vorn_json(FileText::copy_of(text)); }

Result<std::string> write_vorn_json(const VornFile& file) { return write_json(kVornFormat, file); }

}  // namespace vorn::files
