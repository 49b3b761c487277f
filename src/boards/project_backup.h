// Keeping what a delivery would replace: before files are sent into a project folder on the
// desktop, the files already there under the same names are moved by the bridge into one
// folder per delivery, "<project folder>/.backup-<UTC time>/", keeping their relative paths.
// One bridge call per group of files; nothing is deleted. Thread-safe (no state of its own).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/desktop_env.h"

namespace vorn::boards {

// ".backup-YYYYMMDDTHHMMSSZ" for the time given (UTC).
std::string backup_folder_name(std::chrono::system_clock::time_point when);

// The command that moves every existing <folder>/<rel> (a file) to <folder>/<backup>/<rel> and
// prints each moved rel on a line of its own (POSIX: as "./<rel>"). POSIX shell, or PowerShell
// launch on Windows.
std::string cmd_keep_existing(bool windows, std::string_view folder, std::string_view backup,
                              const std::vector<std::string>& rels);

// The rel paths the desktop moved; nothing when the bridge did not answer (then it is unknown
// whether the files are still in place).
std::optional<std::vector<std::string>> keep_existing(const DesktopEnv& env,
                                                      std::string_view folder,
                                                      std::string_view backup,
                                                      const std::vector<std::string>& rels);

}  // namespace vorn::boards
