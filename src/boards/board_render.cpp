// Board render: sheets through a tar round trip, the PCB picture, and the GLB of the prepared
// board folder.
#include "boards/board_render.h"

#include <algorithm>
#include <filesystem>

#include "boards/export_service.h"
#include "boards/model_paths.h"
#include "boards/tar_check.h"
#include "boards/work_files.h"
#include "platform/platform_api.h"
#include "proc/runner.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPcbLayers = "?layers=B.Cu,In2.Cu,In1.Cu,F.Cu,F.Silkscreen,Edge.Cuts";
constexpr std::string_view kGlbOptions = "?F=--include-silkscreen&F=--include-pads";

struct PageFiles {
  std::vector<std::string> schematics;
  std::optional<std::string> project;
  std::optional<std::string> board;
  std::optional<std::string> shapes;
};

PageFiles classify(const std::vector<std::string>& paths) {
  PageFiles f;
  for (const std::string& p : paths) {
    if (ends_with(p, ".kicad_sch")) f.schematics.push_back(p);
    if (!f.project && ends_with(p, ".kicad_pro")) f.project = p;
    if (!f.board && ends_with(p, ".kicad_pcb")) f.board = p;
    if (!f.shapes && ends_with(p, ".3dshapes")) f.shapes = p;
  }
  return f;
}

bool tar_ok(const std::vector<std::string>& args) { return run_inherit("tar", args).ok(); }

std::string root_path(std::string_view leaf) { return std::string(kStagingRoot) + "/" + std::string(leaf); }

// Top-level SVG files of the extraction folder (regular files only, never links).
std::vector<Sheet> collect_sheets(const fs::path& folder, const std::optional<std::string>& project_stem) {
  std::vector<Sheet> sheets;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const fs::path& p = entry.path();
    if (p.extension() != ".svg") continue;
    auto bytes = read_bytes(p);
    if (!bytes || !is_valid_utf8(*bytes)) continue;
    const std::string stem = p.stem().string();
    sheets.push_back({sheet_name(stem.empty() ? "sheet" : stem, project_stem), std::move(*bytes)});
  }
  sort_sheets(sheets);
  return sheets;
}

std::vector<Sheet> render_sheets(std::string_view slug, const std::string& name, const PageFiles& files) {
  const fs::path folder = root_path("sch-" + name);
  if (!reset_folder(folder)) return {};
  std::vector<std::string> to_fetch = files.schematics;
  if (files.project) to_fetch.push_back(*files.project);
  for (const std::string& path : to_fetch) {
    const std::string leaf(last_segment(path));
    if (!is_plain_file_name(leaf)) continue;
    if (auto bytes = fetch_page_file(slug, path)) (void)write_bytes(folder / leaf, *bytes);
  }
  const std::string archive = root_path("sch-" + name + ".tar");
  if (!tar_ok({"-cf", archive, "-C", folder.string(), "."})) return {};
  const std::string body = read_bytes(archive).value_or("");
  auto answer = export_call(name, "sch", "svg-project", "", body);
  if (!answer) return {};
  const fs::path out = root_path("schout-" + name);
  if (!reset_folder(out)) return {};
  // The archive comes from outside: refuse any member that could land outside the folder.
  if (!is_safe_tar(*answer)) return {};
  const std::string out_archive = root_path("schout-" + name + ".tar");
  if (!write_bytes(out_archive, *answer)) return {};
  (void)tar_ok({"-xf", out_archive, "-C", out.string()});
  std::optional<std::string> project_stem;
  if (files.project) {
    const std::string_view leaf = last_segment(*files.project);
    project_stem = std::string(leaf.substr(0, leaf.size() - std::string_view(".kicad_pro").size()));
  }
  return collect_sheets(out, project_stem);
}

std::optional<std::string> render_pcb(std::string_view slug, const std::string& name, const std::string& board) {
  auto bytes = fetch_page_file(slug, board);
  if (!bytes) return std::nullopt;
  auto answer = export_call(name, "pcb", "svg", kPcbLayers, *bytes);
  if (!answer || !is_valid_utf8(*answer)) return std::nullopt;
  return answer;
}

std::optional<std::string> render_glb(std::string_view slug, const std::string& name, const PageFiles& files) {
  auto bytes = fetch_page_file(slug, *files.board);
  if (!bytes || !is_valid_utf8(*bytes)) return std::nullopt;
  RewrittenBoard board = rewrite_model_paths(*bytes);
  // Do-not-populate parts are exported too.
  board.text = replace_all(replace_all(board.text, " dnp)", ")"), " dnp ", " ");
  const fs::path folder = root_path("glb-" + name);
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder / "3d", ec);
  if (!fs::is_directory(folder / "3d", ec)) return std::nullopt;
  if (!write_bytes(folder / "board.kicad_pcb", board.text)) return std::nullopt;
  gather_models(slug, folder, board.refs, files.shapes);
  const std::string archive = root_path("glb-" + name + ".tar.gz");
  if (!tar_ok({"-czf", archive, "-C", folder.string(), "."})) return std::nullopt;
  return export_call(name, "pcb", "glb-package", kGlbOptions, read_bytes(archive).value_or(""));
}

}  // namespace

std::string sheet_name(std::string_view stem, const std::optional<std::string>& project_stem) {
  if (!project_stem) return std::string(stem);
  if (stem == *project_stem) return "Root";
  const std::string prefix = *project_stem + "-";
  if (stem.starts_with(prefix)) return std::string(stem.substr(prefix.size()));
  return std::string(stem);
}

void sort_sheets(std::vector<Sheet>& sheets) {
  std::stable_sort(sheets.begin(), sheets.end(), [](const Sheet& a, const Sheet& b) {
    const bool a_root = a.name == "Root", b_root = b.name == "Root";
    if (a_root != b_root) return a_root;
    return a.name < b.name;
  });
}

RenderResult render_board(std::string_view slug) {
  RenderResult result;
  if (!is_safe_slug(slug)) return result;
  const PageFiles files = classify(list_page_files(slug));
  ensure_staging_root();
  const std::string name = staging_name(slug);
  if (!files.schematics.empty()) result.sheets = render_sheets(slug, name, files);
  if (files.board) {
    result.pcb_svg = render_pcb(slug, name, *files.board);
    result.glb = render_glb(slug, name, files);
  }
  return result;
}

}  // namespace vorn::boards
