// Missing project libraries: the user's nicknames, the script's completing mode, the sends.
#include "boards/project_libraries.h"

#include "boards/work_files.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/library_discovery.h"
#include "embedded_assets.h"
#include "proc/runner.h"
#include "server/http.h"
#include "util/text.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using namespace boards;

constexpr std::string_view kHaveFile = "_have_nicknames.json";

// A relative folder the script names: plain segments only.
bool is_plain_relative(const std::string& rel) {
  if (rel.empty()) return false;
  for (const std::string& segment : split(rel, "/")) {
    if (!is_plain_file_name(segment)) return false;
  }
  return true;
}

// The string entries of `list` that name files directly inside `dir`.
std::vector<std::string> files_in(const Json& list, const fs::path& dir) {
  std::vector<std::string> out;
  if (!list.is_array()) return out;
  const std::string prefix = dir.string() + "/";
  for (const Json& e : list) {
    if (!e.is_string()) continue;
    const std::string& p = e.get_ref<const std::string&>();
    if (p.starts_with(prefix) && is_plain_file_name(p.substr(prefix.size()))) out.push_back(p);
  }
  return out;
}

std::optional<Json> run_script(const fs::path& staging, const std::vector<std::string>& staged,
                               const TableNicknames& have) {
  const fs::path script = staging / "_selfcontain.py";
  if (!write_bytes(script, assets::selfcontain_py())) return std::nullopt;
  if (!write_bytes(staging / kHaveFile, Json{{"sym", have.sym}, {"fp", have.fp}}.dump()))
    return std::nullopt;
  std::vector<std::string> args = {script.string(), "--complete", staging.string(),
                                   std::string(kHaveFile)};
  args.insert(args.end(), staged.begin(), staged.end());
  const CommandResult r = run_capture("python3", args);
  if (!r.ok()) return std::nullopt;
  Json answer = Json::parse(r.out, nullptr, false);
  if (!answer.is_object()) return std::nullopt;
  return answer;
}

}  // namespace

std::vector<std::string> deliver_missing_libraries(const DesktopEnv& env, const fs::path& staging,
                                                   const std::vector<std::string>& staged,
                                                   const std::string& folder) {
  std::vector<std::string> delivered;
  const auto answer = run_script(staging, staged, read_table_nicknames(env));
  if (!answer) return delivered;
  const auto folders = answer->find("folders");
  if (folders != answer->end() && folders->is_array()) {
    for (const Json& entry : *folders) {
      if (!entry.is_object() || !entry.contains("folder") || !entry["folder"].is_string()) continue;
      const std::string rel = entry["folder"].get<std::string>();
      if (!is_plain_relative(rel)) continue;
      const std::vector<std::string> files =
          files_in(entry.value("files", Json::array()), staging / rel);
      bridge_run_and_forget(cmd_mkdir_p(folder + "/" + rel));
      if (files.empty() || !bridge_send_files(files, folder + "/" + rel)) continue;
      for (const std::string& f : files)
        delivered.push_back(rel + "/" + std::string(last_segment(f)));
    }
  }
  const std::vector<std::string> root = files_in(answer->value("root", Json::array()), staging);
  if (!root.empty() && bridge_send_files(root, folder)) {
    for (const std::string& f : root) delivered.emplace_back(last_segment(f));
  }
  return delivered;
}

}  // namespace vorn
