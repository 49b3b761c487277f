// Desktop environment detection and cache, desktop paths, the existence test and `api/env`.
#include "desktop/desktop_env.h"

#include <mutex>

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "server/handlers.h"

namespace vorn {
namespace {

constexpr std::string_view kWindowsDefaultHome = "C:\\Users\\Default";

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

DesktopEnv detect_desktop_env(const CommandRunner& run) {
  const auto home = run("echo $HOME");
  if (home && home->starts_with("/")) {
    const auto uname = run("uname -s");
    const bool mac = uname && uname->find("Darwin") != std::string::npos;
    return DesktopEnv{mac ? "macos" : "linux", *home};
  }
  const auto profile = run("echo %USERPROFILE%");
  if (profile && profile->find(':') != std::string::npos) return DesktopEnv{"windows", *profile};
  return DesktopEnv{"windows", std::string(kWindowsDefaultHome)};
}

DesktopEnv desktop_env() {
  if (auto cached = env_cache().get()) return *cached;
  DesktopEnv env = detect_desktop_env([](std::string_view c) { return bridge_run_command(c); });
  env_cache().set(env);
  return env;
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
