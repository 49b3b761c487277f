// Project delivery: stages a board's KiCad project files (sub-folders flattened, literal model
// paths pointed at the project's "3d" folder) and the models they use, optionally makes the
// project self-contained with the embedded script, and sends everything to the desktop.
#include "boards/project_delivery.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "embedded_assets.h"
#include "boards/model_paths.h"
#include "boards/work_files.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
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
  return desktop_path(env, {"Documents", "KiCad", "Projects", request.board});
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
    if (!bytes) continue;
    if (ends_with(path, ".kicad_pcb") && is_valid_utf8(*bytes)) {
      RewrittenBoard board = rewrite_model_paths(*bytes);
      *bytes = std::move(board.text);
      refs.names.merge(board.refs.names);
      refs.project_relative.merge(board.refs.project_relative);
    }
    if (write_bytes(d.staging / leaf, *bytes)) d.staged.push_back(leaf);
  }
  if (!d.staged.empty()) gather_models(d.request.board, d.staging, refs, shapes);
}

bool send(const Delivery& d, const std::vector<std::string>& local, const std::string& dest) {
  Stopwatch watch(d.desktop_time());
  return bridge_send_files(local, dest);
}

void run_on_desktop(const Delivery& d, const std::string& command) {
  Stopwatch watch(d.desktop_time());
  bridge_run_and_forget(command);
}

// Footprint file names already in the desktop's project library folder.
std::vector<std::string> listed_footprints(const Delivery& d, const std::string& fp_folder) {
  std::optional<std::string> out;
  {
    Stopwatch watch(d.desktop_time());
    out = bridge_run_command(cmd_list_folder_footprints(d.env.windows(), fp_folder));
  }
  std::vector<std::string> names;
  if (!out) return names;
  for (const std::string& line : split(*out, "\n")) {
    const std::string name(trim(last_segment_any(trim(line))));
    if (!name.empty() && ends_with(name, ".kicad_mod")) names.push_back(name);
  }
  return names;
}

// Step 9d: the footprints go into "<folder>/<nick>.pretty"; those that left the board go away.
bool deliver_footprints(const Delivery& d, const std::vector<std::string>& pretty) {
  const std::string fp_folder = d.folder + "/" + d.nickname + ".pretty";
  std::vector<std::string> new_names;
  for (const std::string& p : pretty) new_names.emplace_back(last_segment_any(p));
  const std::vector<std::string> existing = listed_footprints(d, fp_folder);
  run_on_desktop(d, cmd_mkdir_p(fp_folder));
  const bool sent = send(d, pretty, fp_folder);
  for (const std::string& name : existing) {
    if (std::find(new_names.begin(), new_names.end(), name) == new_names.end()) {
      run_on_desktop(d, cmd_rm_f(fp_folder + "/" + name));
    }
  }
  return sent;
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
    if (p.starts_with(prefix) && p.find("..") == std::string::npos) out.push_back(p);
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
  if (!root.empty() && send(d, root, d.folder)) {
    for (const std::string& p : root) d.files.emplace_back(last_segment(p));
  }
  if (!pretty.empty() && deliver_footprints(d, pretty)) {
    for (const std::string& p : pretty) d.files.emplace_back(last_segment(p));
  }
  return true;
}

void deliver_plain(Delivery& d) {
  std::vector<std::string> local;
  for (const std::string& name : d.staged) local.push_back((d.staging / name).string());
  if (send(d, local, d.folder)) d.files = d.staged;
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
  if (!send(d, local, models_folder)) return;
  for (const std::string& n : names) d.files.push_back("3d/" + n);
}

Json project_result(const Delivery& d) {
  Json files = Json::array();
  for (const std::string& f : d.files) files.push_back(f);
  return Json{{"folder", d.folder}, {"files", std::move(files)}};
}

}  // namespace

std::optional<Json> deliver_project(const DeliveryRequest& request, ProgressSink& set_stage) {
  if (set_stage) set_stage(request.project_only ? kStageSelfContained : kStagePlainProject);
  Delivery d{request, {}, {}, {}, {}, {}, {}};
  {
    Stopwatch watch(d.desktop_time());
    d.env = desktop_env();
  }
  d.folder = project_folder(request, d.env);
  // The slug names the local staging folder: a slug that could reshape the path stages nothing.
  if (!is_safe_slug(request.board)) return project_result(d);
  d.staging = std::string(kStagingRoot) + "/proj-" + folder_name(request.board);
  d.nickname = folder_name(request.board);
  (void)reset_folder(d.staging);

  stage_project(d);
  if (d.staged.empty()) return project_result(d);
  run_on_desktop(d, cmd_mkdir_p(d.folder));
  if (!request.project_only || !deliver_self_contained(d)) deliver_plain(d);
  deliver_models(d);
  return project_result(d);
}

}  // namespace vorn
