// Desktop environment detection and cache, desktop paths, the existence test and `api/env`.
#include "desktop/desktop_env.h"

#include <mutex>

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "platform/platform_api.h"
#include "server/handlers.h"

namespace vorn {
namespace {

class DesktopEnvCache {
 public:
  std::optional<DesktopEnv> get() const {
    std::lock_guard lock(mutex_);
    return env_;
  }
  void set(DesktopEnv env) {
    std::lock_guard lock(mutex_);
    env_ = std::move(env);
  }

 private:
  mutable std::mutex mutex_;
  std::optional<DesktopEnv> env_;
};

DesktopEnvCache& env_cache() {
  static DesktopEnvCache cache;
  return cache;
}

std::string_view strip_trailing_separators(std::string_view home) {
  while (!home.empty() && (home.back() == '/' || home.back() == '\\')) home.remove_suffix(1);
  return home;
}

}  // namespace

bool is_desktop_absolute(bool windows, std::string_view path) {
  if (!windows) return path.starts_with("/");
  const bool drive = path.size() >= 3 &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && path[2] == '\\';
  // UNC: two backslashes, then a server name (not a third separator).
  const bool unc =
      path.size() >= 3 && path.starts_with("\\\\") && path[2] != '\\' && path[2] != '/';
  return drive || unc;
}

std::optional<DesktopEnv> detect_desktop_env(const CommandRunner& run) {
  const auto home = run("echo $HOME");
  if (home && is_desktop_absolute(false, *home)) {
    const auto uname = run("uname -s");
    const bool mac = uname && uname->find("Darwin") != std::string::npos;
    return DesktopEnv{mac ? "macos" : "linux", *home};
  }
  const auto profile = run("echo %USERPROFILE%");
  if (profile && is_desktop_absolute(true, *profile)) return DesktopEnv{"windows", *profile};
  return std::nullopt;
}

DesktopEnv desktop_env() {
  if (auto cached = env_cache().get()) return *cached;
  auto env = detect_desktop_env([](std::string_view c) { return bridge_run_command(c); });
  if (!env) return DesktopEnv{};
  env_cache().set(*env);
  return *env;
}

Json desktop_unreachable_body() {
  return Json{{"error", std::string(kDesktopUnreachable)}};
}

std::string desktop_path(const DesktopEnv& env, std::initializer_list<std::string_view> components) {
  std::string out(strip_trailing_separators(env.home));
  for (auto c : components) {
    out += env.sep();
    out += c;
  }
  return out;
}

std::string default_symbol_folder(const DesktopEnv& env) {
  return desktop_path(env, {"Documents", "KiCad", "Symbols"});
}
std::string default_footprint_folder(const DesktopEnv& env) {
  return desktop_path(env, {"Documents", "KiCad", "Footprints"});
}

std::string default_project_folder(const DesktopEnv& env, std::string_view board) {
  return desktop_path(env, {"Documents", "KiCad", "Projects", page_name(board)});
}

Existence classify_existence(const std::optional<std::string>& bridge_output) {
  if (!bridge_output) return Existence::undetermined;
  if (bridge_output->find("__EXISTS__") != std::string::npos) return Existence::exists;
  if (bridge_output->find("__ABSENT__") != std::string::npos) return Existence::absent;
  return Existence::undetermined;
}

Existence desktop_file_exists(std::string_view path) {
  return classify_existence(bridge_run_and_read(cmd_exists(path)));
}

Json env_summary(const DesktopEnv& env) {
  if (!env.known()) {
    return Json{{"dest_folders", Json::array()},
                {"error", std::string(kDesktopUnreachable)},
                {"home", ""},
                {"os", ""},
                {"sep", "/"}};
  }
  return Json{{"os", env.os},
              {"home", env.home},
              {"sep", std::string(env.sep())},
              {"dest_folders", Json::array({desktop_path(env, {"Documents", "KiCad", "Projects"}),
                                            desktop_path(env, {"Documents"}),
                                            desktop_path(env, {"Downloads"}),
                                            desktop_path(env, {"Desktop"})})}};
}

Response handle_env(const Request&, std::string_view) {
  return json_response(env_summary(desktop_env()));
}

}  // namespace vorn
