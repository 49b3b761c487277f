// 3D model references of a KiCad board: rewriting literal model paths to the project's "3d"
// folder, and gathering the referenced model files from the page into a local folder. Shared by
// project delivery and the board render. Pure functions apart from gathering's fetches and
// writes; thread-safe.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vorn::boards {

struct ModelRefs {
  std::set<std::string> names;             // file names of literal model paths
  std::set<std::string> project_relative;  // paths after "${KIPRJMOD}/"
};

struct RewrittenBoard {
  std::string text;
  ModelRefs refs;
};

// Rewrites every `(model "<path>"` of a board text: literal paths become "${KIPRJMOD}/3d/<name>",
// paths starting with "${" stay as they are.
RewrittenBoard rewrite_model_paths(std::string_view board_text);

// True when a project-relative model path stays inside the project: not absolute, no "..".
bool is_safe_project_relative(std::string_view path);

// Fetches the models of `refs` from the page into `folder`: each name into "<folder>/3d/<name>"
// (tried as "<shapes>/<name>", "3d/<name>", "<name>"), each safe project-relative path into
// "<folder>/<path>". Fetch and write failures are skipped.
void gather_models(std::string_view slug, const std::filesystem::path& folder, const ModelRefs& refs,
                   const std::optional<std::string>& shapes_folder);

}  // namespace vorn::boards
