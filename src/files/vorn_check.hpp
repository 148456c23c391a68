// A .vorn file checked for programs: what the loader would refuse, as structured findings with
// their positions, instead of one message text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"

namespace vorn::files {

struct FileFinding {
    std::string_view kind;  // "io", "json", "version" or "validation"
    std::string_view code;  // "ENOENT", "MissingKey", "UnsupportedVersion", "DuplicateNodeId", "ImpossibleFigure", ...
    // What the loader's text says of it, without the file's path and without the position:
    // "IO error: No such file or directory", "JSON parse error: Missing a comma or '}' after an
    // object member", "Unsupported vorn version: 2.0", "Duplicate node ID: A".
    std::string message;
    std::size_t line = 0;  // 1-based; 0 when the finding has no position
    std::size_t column = 0;
    std::string path;                     // the entry concerned, as "links[3].from"; empty for none
    std::string_view severity = "error";  // or "warning"
};

// The steps of loading (read, parse, version, validation), stopping where the loader stops, and then
// the figures that no physical reading allows (code "ImpossibleFigure": a negative memory lifetime, a
// visibility above 1, ... by the rules of core/figure_rules.hpp), which the loader lets pass, and the
// negative memory capacities, which the loader refuses as no count before it validates; an empty
// list means the file loads and can be simulated. Validation findings come in the loader's order, each
// placed at the value concerned (the entry itself for a self-loop; a disconnected graph has no place). A
// stop asked for by `interruption` throws Interrupted.
std::vector<FileFinding> check_vorn_file(const std::string& path, Interruption* interruption = nullptr);

enum class GuessedFormat : std::uint8_t { Unknown, Vorn, Snapshot };

// Which of the two formats a JSON text looks like, from the keys it uses (a .vorn file's "version"
// at the top, "from" and "distance_km" in links; a snapshot's "fromNode", "memoryLifetimeT2",
// "alphaLoss"), so that a file given to the other format's loader can be named. A text that is
// broken after its first entries is still recognised; Unknown when neither wins. A stop asked for
// by `interruption` throws Interrupted.
GuessedFormat guess_format(std::string_view text, Interruption* interruption = nullptr);

}  // namespace vorn::files
