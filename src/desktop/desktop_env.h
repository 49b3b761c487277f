// The user's desktop as the manager sees it: which system it runs ("linux", "macos" or
// "windows") and where its home folder is, detected through the bridge and then kept for the
// life of the process (DesktopEnvCache, its own lock held only to copy the record). Only a
// bridge that answers with a usable home decides: when no probe answers, the environment is
// unknown, nothing is cached and the next request probes again. Also the one rule for absolute
// desktop paths, desktop path building, the existence test and the route `api/env`.
// Thread-safe; two first requests may both detect, and the later result replaces the earlier.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "server/http.h"

namespace vorn {

// The text every desktop route and the apply job answer while the desktop is unknown.
inline constexpr std::string_view kDesktopUnreachable = "desktop not reachable";
// The text for a destination or folder that is not an absolute path of the desktop's system.
inline constexpr std::string_view kInvalidDestPath = "invalid dest path";

struct DesktopEnv {
  std::string os;    // "linux", "macos" or "windows"; empty while the desktop is unknown
  std::string home;  // as the desktop answered, unchanged (absolute on its own system)

  bool known() const { return !os.empty(); }
  bool windows() const { return os == "windows"; }
  std::string_view sep() const { return windows() ? "\\" : "/"; }
};

// Runs one command on the desktop and answers its trimmed output (the bridge's Run command).
using CommandRunner = std::function<std::optional<std::string>(std::string_view)>;

// True when `path` is absolute on a desktop of that system: POSIX paths begin with "/"; Windows
// paths begin with a drive letter, ":" and "\", or are UNC paths ("\\server\share...").
// The one rule for every path a request names on the desktop and for the detected home.
bool is_desktop_absolute(bool windows, std::string_view path);
inline bool is_desktop_absolute(const DesktopEnv& env, std::string_view path) {
  return env.known() && is_desktop_absolute(env.windows(), path);
}

// Detection: "echo $HOME" answering a path starting with "/" means POSIX ("uname -s" containing
// "Darwin" means macOS); otherwise "echo %USERPROFILE%" answering an absolute Windows path means
// Windows. Nothing when neither probe gives a usable home (bridge down, unexpanded variable).
std::optional<DesktopEnv> detect_desktop_env(const CommandRunner& run);

// The cached environment, detected through the bridge on first use. While the desktop is
// unknown it answers an environment whose known() is false (and caches nothing); callers must
// not build paths from it.
DesktopEnv desktop_env();

// {"error": "desktop not reachable"}: the body of a desktop route while the desktop is unknown.
Json desktop_unreachable_body();

// Home with every trailing "/" and "\" removed, then sep + each component in order.
std::string desktop_path(const DesktopEnv& env, std::initializer_list<std::string_view> components);

// KiCad's default folders on the desktop: home/Documents/KiCad/<Symbols|Footprints|Projects>.
std::string default_symbol_folder(const DesktopEnv& env);
std::string default_footprint_folder(const DesktopEnv& env);
// Where a board's project goes when the request names no folder:
// home/Documents/KiCad/Projects/<board>.
std::string default_project_folder(const DesktopEnv& env, std::string_view board);

enum class Existence { exists, absent, undetermined };

// Classifies the raw bridge output of the existence command (nothing → undetermined).
Existence classify_existence(const std::optional<std::string>& bridge_output);
// Asks the desktop whether a file exists.
Existence desktop_file_exists(std::string_view path);

// The `api/env` body for an environment; for an unknown desktop an empty "os" and "home", no
// folders and an "error" text.
Json env_summary(const DesktopEnv& env);

}  // namespace vorn
