// Project delivery: stages a board's KiCad project files (sub-folders flattened, literal model
// paths pointed at the project's "3d" folder) and the models they use, optionally makes the
// project self-contained with the embedded script, and sends everything to the desktop.
#include "boards/project_delivery.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

#include "embedded_assets.h"
#include "boards/model_paths.h"
#include "boards/project_backup.h"
#include "boards/project_libraries.h"
#include "boards/work_files.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "desktop/footprint_files.h"
#include "desktop/staging.h"
#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "proc/runner.h"
#include "util/text.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using namespace boards;

// Adds the wall time of a scope to one of the timing fields, when timings are wanted.
class Stopwatch {
 public:
  explicit Stopwatch(double* sink) : sink_(sink), start_(std::chrono::steady_clock::now()) {}
  ~Stopwatch() {
    if (sink_) *sink_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  double* sink_;
  std::chrono::steady_clock::time_point start_;
};

struct Delivery {
  const DeliveryRequest& request;
  DesktopEnv env;
  std::string folder;     // project folder on the desktop
  fs::path staging;       // local staging folder
  std::string nickname;   // project library nickname
  std::vector<std::string> staged;  // staged names, in list order
  std::vector<std::string> files;   // delivered file list
  std::vector<std::string> errors;  // what the user must be told did not happen
  std::string backup;               // this delivery's backup folder name inside `folder`
  std::vector<std::string> kept;    // files moved into it, relative to `folder`

  double* fetch_time() const { return request.timings ? &request.timings->fetch : nullptr; }
  double* script_time() const { return request.timings ? &request.timings->script : nullptr; }
  double* desktop_time() const { return request.timings ? &request.timings->desktop : nullptr; }
};

bool is_project_file(std::string_view path) {
  return ends_with(path, ".kicad_pro") || ends_with(path, ".kicad_pcb") || ends_with(path, ".kicad_sch");
}

std::string project_folder(const DeliveryRequest& request, const DesktopEnv& env) {
  const std::string_view dest = trim(request.dest);
  if (!dest.empty()) return std::string(dest);
  return default_project_folder(env, request.board);
}

// Steps 3 to 7: list, fetch, rewrite and stage the project files, then gather the models.
void stage_project(Delivery& d) {
  Stopwatch watch(d.fetch_time());
  const std::vector<std::string> paths = list_page_files(d.request.board);
  std::optional<std::string> shapes;
  for (const std::string& p : paths) {
    if (ends_with(p, ".3dshapes")) {
      shapes = p;
      break;
    }
  }
  ModelRefs refs;
  // The project files, read in one batch.
  std::vector<PageFileRequest> wanted;
  for (const std::string& path : paths) {
    if (is_project_file(path) && is_plain_file_name(last_segment(path))) {
      wanted.push_back({d.request.board, path, std::nullopt});
    }
  }
  FetchResults fetched = fetch_page_files(wanted);
  for (size_t i = 0; i < wanted.size(); ++i) {
    const std::string& path = *wanted[i].name;
    const std::string leaf(last_segment(path));
    auto& bytes = fetched[i];
    if (!bytes) {
      d.errors.push_back("could not fetch " + path + " from " + d.request.board);
      continue;
    }
    if (ends_with(path, ".kicad_pcb") && is_valid_utf8(*bytes)) {
      RewrittenBoard board = rewrite_model_paths(*bytes);
      *bytes = std::move(board.text);
      refs.names.merge(board.refs.names);
      refs.project_relative.merge(board.refs.project_relative);
    }
    if (write_bytes(d.staging / leaf, *bytes)) d.staged.push_back(leaf);
  }
  if (wanted.empty()) d.errors.push_back("no KiCad project files on the page " + d.request.board);
  if (!d.staged.empty()) gather_models(d.request.board, d.staging, refs, shapes);
}

bool send(const Delivery& d, const std::vector<std::string>& local, const std::string& dest) {
  Stopwatch watch(d.desktop_time());
  return bridge_send_files(local, dest);
}

// Moves the files that `local` would replace in `<folder>/<rel_prefix>` into the backup folder,
// then sends. False when either fails; nothing is sent over a file that could not be kept.
bool keep_then_send(Delivery& d, const std::vector<std::string>& local, const std::string& dest,
                    const std::string& rel_prefix) {
  std::vector<std::string> rels;
  for (const std::string& p : local) rels.push_back(rel_prefix + std::string(last_segment(p)));
  std::optional<std::vector<std::string>> moved;
  {
    Stopwatch watch(d.desktop_time());
    moved = keep_existing(d.env, d.folder, d.backup, rels);
  }
  if (!moved) {
    d.errors.push_back("could not move the existing files of " + dest + " aside (bridge error)");
    return false;
  }
  d.kept.insert(d.kept.end(), moved->begin(), moved->end());
  return send(d, local, dest);
}

void run_on_desktop(const Delivery& d, const std::string& command) {
  Stopwatch watch(d.desktop_time());
  bridge_run_and_forget(command);
}

// Step 9d: the footprints go into "<folder>/<nick>.pretty". Every footprint already there (one
// that is replaced, or one that left the board or was added by hand) is moved into the backup
// folder first, so the folder ends up holding exactly the board's footprints and nothing is lost.
bool deliver_footprints(Delivery& d, const std::vector<std::string>& pretty) {
  const std::string fp_folder = d.folder + "/" + d.nickname + ".pretty";
  const std::string prefix = d.nickname + ".pretty/";
  std::optional<std::set<std::string>> existing;
  {
    Stopwatch watch(d.desktop_time());
    existing = desktop_footprints(d.env, fp_folder);
  }
  std::set<std::string> rels;
  for (const std::string& p : pretty) rels.insert(prefix + std::string(last_segment_any(p)));
  if (existing) {
    for (const std::string& name : *existing) rels.insert(prefix + name);
  }
  std::optional<std::vector<std::string>> moved;
  {
    Stopwatch watch(d.desktop_time());
    moved = keep_existing(d.env, d.folder, d.backup, {rels.begin(), rels.end()});
  }
  if (!moved) {
    d.errors.push_back("could not move the existing files of " + fp_folder +
                       " aside (bridge error)");
    return false;
  }
  d.kept.insert(d.kept.end(), moved->begin(), moved->end());
  run_on_desktop(d, cmd_mkdir_p(fp_folder));
  return send(d, pretty, fp_folder);
}

// The string entries of `key` that name files inside the staging folder.
std::vector<std::string> staged_entries(const Json& answer, const char* key, const fs::path& staging) {
  std::vector<std::string> out;
  auto it = answer.find(key);
  if (it == answer.end() || !it->is_array()) return out;
  const std::string prefix = staging.string() + "/";
  for (const Json& e : *it) {
    if (!e.is_string()) continue;
    const std::string& p = e.get_ref<const std::string&>();
    if (p.starts_with(prefix) && is_inside_path(std::string_view(p).substr(prefix.size())))
      out.push_back(p);
  }
  return out;
}

// Step 9: the self-contain script. False when it could not run or printed no JSON object.
bool deliver_self_contained(Delivery& d) {
  const fs::path script = d.staging / "_selfcontain.py";
  if (!write_bytes(script, assets::selfcontain_py())) return false;
  std::vector<std::string> args = {script.string(), d.staging.string(), d.nickname};
  args.insert(args.end(), d.staged.begin(), d.staged.end());
  CommandResult r;
  {
    Stopwatch watch(d.script_time());
    r = run_capture("python3", args);
  }
  if (!r.started) return false;
  const Json answer = Json::parse(r.out, nullptr, false);
  if (!answer.is_object()) return false;
  const std::vector<std::string> root = staged_entries(answer, "root", d.staging);
  const std::vector<std::string> pretty = staged_entries(answer, "pretty", d.staging);
  // Only files that reached the desktop are reported.
  if (!root.empty()) {
    if (keep_then_send(d, root, d.folder, "")) {
      for (const std::string& p : root) d.files.emplace_back(last_segment(p));
    } else {
      d.errors.push_back("failed to deliver project files to " + d.folder);
    }
  }
  if (!pretty.empty()) {
    if (deliver_footprints(d, pretty)) {
      for (const std::string& p : pretty) d.files.emplace_back(last_segment(p));
    } else {
      d.errors.push_back("failed to deliver footprints to " + d.folder + "/" + d.nickname +
                         ".pretty");
    }
  }
  return true;
}

void deliver_plain(Delivery& d) {
  std::vector<std::string> local;
  for (const std::string& name : d.staged) local.push_back((d.staging / name).string());
  if (keep_then_send(d, local, d.folder, "")) {
    d.files = d.staged;
  } else {
    d.errors.push_back("failed to deliver project files to " + d.folder);
  }
}

// Step 11: what landed directly in "<staging>/3d" goes to "<folder>/3d".
void deliver_models(Delivery& d) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(d.staging / "3d", ec)) {
    if (entry.is_regular_file(ec) && !entry.is_symlink(ec)) names.push_back(entry.path().filename().string());
  }
  if (names.empty()) return;
  std::sort(names.begin(), names.end());
  const std::string models_folder = d.folder + "/3d";
  run_on_desktop(d, cmd_mkdir_p(models_folder));
  std::vector<std::string> local;
  for (const std::string& n : names) local.push_back((d.staging / "3d" / n).string());
  if (!keep_then_send(d, local, models_folder, "3d/")) {
    d.errors.push_back("failed to deliver 3D models to " + models_folder);
    return;
  }
  for (const std::string& n : names) d.files.push_back("3d/" + n);
}

Json project_result(const Delivery& d) {
  Json files = Json::array();
  for (const std::string& f : d.files) files.push_back(f);
  Json result{{"folder", d.folder}, {"files", std::move(files)}};
  if (!d.kept.empty()) {
    result["kept"] =
        Json{{"folder", d.folder + std::string(d.env.sep()) + d.backup}, {"files", d.kept}};
  }
  if (!d.errors.empty()) result["errors"] = d.errors;
  return result;
}

}  // namespace

std::optional<Json> deliver_project(const DeliveryRequest& request, ProgressSink& set_stage) {
  if (set_stage) set_stage(request.project_only ? kStageSelfContained : kStagePlainProject);
  Delivery d{
      request, {}, {}, {}, {}, {}, {}, {}, backup_folder_name(std::chrono::system_clock::now()),
      {}};
  {
    Stopwatch watch(d.desktop_time());
    d.env = desktop_env();
  }
  // Without a known desktop the folder would be a guess; a relative one would land wherever the
  // bridge runs. Neither is written.
  if (!d.env.known()) {
    d.errors.emplace_back(kDesktopUnreachable);
    return project_result(d);
  }
  d.folder = project_folder(request, d.env);
  if (!is_desktop_absolute(d.env, d.folder)) {
    d.errors.emplace_back(kInvalidDestPath);
    return project_result(d);
  }
  // The slug names the local staging folder: a slug that could reshape the path stages nothing.
  if (!is_safe_slug(request.board)) {
    d.errors.push_back("invalid board slug: " + request.board);
    return project_result(d);
  }
  // A folder of this delivery's own: a delivery running in another manager, or a project diff,
  // never sees these files, and nothing is left behind.
  const StagingFolder staging("proj-" + folder_name(request.board));
  if (staging.path().empty()) {
    d.errors.emplace_back("could not create a local staging folder");
    return project_result(d);
  }
  d.staging = staging.path();
  d.nickname = folder_name(request.board);

  stage_project(d);
  if (d.staged.empty()) return project_result(d);
  run_on_desktop(d, cmd_mkdir_p(d.folder));
  if (!request.project_only || !deliver_self_contained(d)) deliver_plain(d);
  if (!request.project_only) {
    Stopwatch watch(d.script_time());
    // Integrate mode: the nicknames the user's tables lack get project libraries.
    for (std::string& f : deliver_missing_libraries(d.env, d.staging, d.staged, d.folder)) {
      d.files.push_back(std::move(f));
    }
  }
  deliver_models(d);
  return project_result(d);
}

}  // namespace vorn
