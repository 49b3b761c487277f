// The stored render mode: renders a board, writes the "render/" folder with its manifest and
// version archive into a work folder, and uploads it with `vorn-wiki repo push`.
#include <filesystem>
#include <iostream>

#include "boards/board_render.h"
#include "boards/render_manifest.h"
#include "boards/render_mode.h"
#include "boards/work_files.h"
#include "platform/platform_api.h"
#include "proc/runner.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using boards::RenderResult;

// Writes board.glb, pcb.svg and sheet-<i>.svg into `folder`; write failures are ignored.
void write_render_files(const fs::path& folder, const RenderResult& render) {
  if (render.glb) (void)boards::write_bytes(folder / "board.glb", *render.glb);
  if (render.pcb_svg) (void)boards::write_bytes(folder / "pcb.svg", *render.pcb_svg);
  for (size_t i = 0; i < render.sheets.size(); ++i) {
    (void)boards::write_bytes(folder / boards::sheet_file_name(i), render.sheets[i].svg);
  }
}

std::string package_version(const std::string& slug) {
  auto text = fetch_page_file_text(slug, "package.json");
  if (!text) return "0.0.0";
  const Json doc = Json::parse(*text, nullptr, false);
  if (!doc.is_object()) return "0.0.0";
  auto it = doc.find("version");
  return it != doc.end() && it->is_string() ? it->get<std::string>() : "0.0.0";
}

Json stored_versions(const std::string& slug) {
  auto bytes = fetch_page_file(slug, "render/manifest.json");
  if (!bytes) return Json::array();
  const Json doc = Json::parse(*bytes, nullptr, false);
  if (!doc.is_object()) return Json::array();
  auto it = doc.find("versions");
  return it != doc.end() && it->is_array() ? *it : Json::array();
}

std::vector<std::string> upload_arguments(const std::string& slug, const RenderResult& render, bool archived,
                                          const std::string& version) {
  std::vector<std::string> args = {"repo", "push", std::string(boards::last_segment(slug)), "--files",
                                   "render/manifest.json"};
  if (render.glb) args.push_back("render/board.glb");
  if (render.pcb_svg) args.push_back("render/pcb.svg");
  for (size_t i = 0; i < render.sheets.size(); ++i) args.push_back("render/" + boards::sheet_file_name(i));
  if (archived) args.push_back("render/" + version);
  args.push_back("-m");
  args.push_back(archived ? "render assets + archive v" + version : "render assets");
  return args;
}

}  // namespace

bool run_render_board(const std::string& slug) {
  // The slug names local folders and the upload target: refuse one that could reshape them.
  if (!boards::is_safe_slug(slug)) {
    std::cerr << "nothing rendered (not a KiCad board?)\n";
    return false;
  }
  const RenderResult render = boards::render_board(slug);
  if (render.empty()) {
    std::cerr << "nothing rendered (not a KiCad board?)\n";
    return false;
  }
  const fs::path work = std::string(boards::kStagingRoot) + "/render-" + boards::folder_name(slug);
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!boards::reset_folder(work / "render")) return false;
  write_render_files(work / "render", render);

  const std::string hash = boards::content_hash(render);
  const std::string version = boards::safe_version(package_version(slug));
  const boards::ManifestPlan plan = boards::plan_manifest(stored_versions(slug), hash, version, render);
  if (plan.archive) {
    const fs::path archive = work / "render" / version;
    fs::create_directories(archive, ec);
    write_render_files(archive, render);
  }
  (void)boards::write_bytes(work / "render" / "manifest.json", boards::manifest_text(plan.manifest));

  const CommandResult upload = run_inherit("vorn-wiki", upload_arguments(slug, render, plan.archive, version),
                                           work.string());
  if (!upload.ok()) {
    std::cerr << "upload FAILED\n";
    return false;
  }
  if (plan.archive) {
    std::cerr << "uploaded render/ + archived v" << version << "\n";
  } else {
    std::cerr << "uploaded render/ (no content change \u2192 no new version)\n";
  }
  return true;
}

}  // namespace vorn
