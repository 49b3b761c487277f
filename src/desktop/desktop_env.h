// The user's desktop as the manager sees it: which system it runs ("linux", "macos" or
// "windows") and where its home folder is, detected once through the bridge and then kept for
// the life of the process (DesktopEnvCache, its own lock held only to copy the record). Also
// desktop path building, the existence test and the route `api/env`.
// Thread-safe; two first requests may both detect, and the later result replaces the earlier.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "server/http.h"

namespace vorn {

struct DesktopEnv {
  std::string os;    // "linux", "macos" or "windows"
  std::string home;  // as the desktop answered, unchanged

  bool windows() const { return os == "windows"; }
  std::string_view sep() const { return windows() ? "\\" : "/"; }
};

// Runs one command on the desktop and answers its trimmed output (the bridge's Run command).
using CommandRunner = std::function<std::optional<std::string>(std::string_view)>;

// Detection: "echo $HOME" answering a path starting with "/" means POSIX ("uname -s" containing
// "Darwin" means macOS); otherwise Windows with "echo %USERPROFILE%" (home "C:\Users\Default"
// when that answer holds no ":").
DesktopEnv detect_desktop_env(const CommandRunner& run);

// The cached environment, detected through the bridge on first use.
DesktopEnv desktop_env();

// Home with every trailing "/" and "\" removed, then sep + each component in order.
std::string desktop_path(const DesktopEnv& env, std::initializer_list<std::string_view> components);

// KiCad's default folders on the desktop: home/Documents/KiCad/<Symbols|Footprints|Projects>.
std::string default_symbol_folder(const DesktopEnv& env);
std::string default_footprint_folder(const DesktopEnv& env);

enum class Existence { exists, absent, undetermined };

// Classifies the raw bridge output of the existence command (nothing → undetermined).
Existence classify_existence(const std::optional<std::string>& bridge_output);
// Asks the desktop whether a file exists.
Existence desktop_file_exists(std::string_view path);

// The `api/env` body for an environment.
Json env_summary(const DesktopEnv& env);

}  // namespace vorn
