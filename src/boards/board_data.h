// Board and project data shared by the board routes, the project diff and the media routes:
// page dependencies, the two-level board component list, commit logs, board reference sets, the
// version token of media requests, the board model lookup and the GLB up-axis stamp. Functions
// that fetch go through the platform client; all are thread-safe.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "server/http.h"

namespace vorn::boards {

// Dependencies named by a package.json text, normalised, in order, duplicates kept.
std::vector<std::string> parse_dependencies(std::string_view package_json);
// "org/x " -> "x": the text after the last "/", trimmed.
std::string normalise_reference(std::string_view raw);

// The page dependencies of a slug (empty on any failure).
std::vector<std::string> page_dependencies(std::string_view slug);
// The board's components: each dependency that has dependencies of its own is a library whose
// dependencies are the components; others are components. First-seen order, no duplicates.
std::vector<std::string> board_component_list(std::string_view slug);

// The "log" value of the page's log answer; an empty array on any failure.
Json commit_log(std::string_view slug);

// References in a board text (after each `(property "Reference" "`), without "" and "REF**".
std::set<std::string> reference_set(std::string_view board_text);

// The "v" token of a query string (first "v=" piece), absent when it holds ".." or "/".
std::optional<std::string> version_token(std::string_view query);

// The page's own 3D model: package.json "model_3d_path", else "<name>.glb" (the page's own name).
std::optional<std::string> board_model(std::string_view slug);

// asset.extras.vornMolecule.upAxis of a GLB's JSON chunk, lower-cased.
std::optional<std::string> glb_up_axis(std::string_view glb);

}  // namespace vorn::boards
