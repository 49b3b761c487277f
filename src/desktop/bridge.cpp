// Desktop bridge operations on top of the command runner.
#include "desktop/bridge.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "proc/runner.h"
#include "util/text.h"

namespace vorn {
namespace {

std::mutex g_bridge_lock;
std::atomic<std::uint64_t> g_calls{0};

CommandResult run_bridge(std::string_view op, const nlohmann::json& argument) {
  g_calls.fetch_add(1, std::memory_order_relaxed);
  // error_handler replace: a command text holding invalid UTF-8 must not throw here.
  return run_capture(std::string(kBridgeProgram),
                     {std::string(op), argument.dump(-1, ' ', false,
                                                     nlohmann::json::error_handler_t::replace)});
}

nlohmann::json command_argument(std::string_view command) {
  return nlohmann::json{{"command", to_utf8_lossy(command)}};
}

}  // namespace

std::optional<std::string> stdout_member(std::string_view bridge_output) {
  const auto doc = nlohmann::json::parse(bridge_output, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
  const auto it = doc.find("stdout");
  if (it == doc.end() || !it->is_string()) return std::nullopt;
  std::string text(trim(it->get_ref<const std::string&>()));
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> bridge_run_and_read(std::string_view command) {
  std::lock_guard lock(g_bridge_lock);
  CommandResult r = run_bridge("shell_execute", command_argument(command));
  if (!r.ok()) return std::nullopt;
  return to_utf8_lossy(r.out);
}

std::optional<std::string> bridge_run_command(std::string_view command) {
  const auto out = bridge_run_and_read(command);
  if (!out) return std::nullopt;
  return stdout_member(*out);
}

void bridge_run_and_forget(std::string_view command) {
  (void)run_bridge("shell_execute", command_argument(command));
}

std::string pulled_local_path(std::string_view desktop_path) {
  // A Windows desktop names the file after its last "\".
  const auto slash = desktop_path.find_last_of("/\\");
  const std::string_view name =
      slash == std::string_view::npos ? desktop_path : desktop_path.substr(slash + 1);
  return std::string(kStagingDir) + "/" + std::string(name);
}

std::optional<std::string> bridge_pull_file(std::string_view desktop_path) {
  auto bytes = bridge_pull_file_bytes(desktop_path);
  if (!bytes) return std::nullopt;
  return to_utf8_lossy(*bytes);
}

std::optional<std::string> bridge_pull_file_bytes(std::string_view desktop_path) {
  std::error_code ec;
  std::filesystem::create_directories(std::string(kStagingDir), ec);
  std::filesystem::permissions(std::string(kStagingDir), std::filesystem::perms::all,
                               std::filesystem::perm_options::replace, ec);
  return bridge_pull_file_bytes_into(desktop_path, kStagingDir);
}

std::optional<std::string> bridge_pull_file_bytes_into(std::string_view desktop_path,
                                                       std::string_view save_to) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string local =
      std::string(save_to) + pulled_local_path(desktop_path).substr(kStagingDir.size());
  const std::string name = local.substr(save_to.size() + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  // A pull must read only what it brought: drop the copy an earlier pull or staging left.
  if (fs::is_directory(local, ec)) return std::nullopt;
  fs::remove(local, ec);
  (void)run_bridge("pull_file", nlohmann::json{{"filePaths", {to_utf8_lossy(desktop_path)}},
                                               {"saveTo", std::string(save_to)}});
  if (!fs::is_regular_file(local, ec)) return std::nullopt;
  std::ifstream in(local, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

bool bridge_send_files(const std::vector<std::string>& local_paths, std::string_view dest_folder) {
  nlohmann::json paths = nlohmann::json::array();
  for (const auto& p : local_paths) paths.push_back(to_utf8_lossy(p));
  return run_bridge("send_file", nlohmann::json{{"filePaths", paths},
                                                {"dest", to_utf8_lossy(dest_folder)}})
      .ok();
}

std::uint64_t bridge_call_count() { return g_calls.load(std::memory_order_relaxed); }

}  // namespace vorn
