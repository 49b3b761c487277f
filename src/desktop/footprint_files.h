// Footprint files on the desktop: the file name a footprint is written under (safe on every
// desktop system) and the names already in a footprint folder, read with one bridge call, so
// that an existing .kicad_mod is never replaced. Thread-safe (no state of its own).
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "desktop/desktop_env.h"

namespace vorn {

// `name` (or `fallback` when it is empty) + ".kicad_mod", with "/", "\", ":", "*", "?", '"',
// "<", ">", "|", blanks, tabs and other control characters replaced by "_": no desktop system
// refuses the name and none of them reads it as a path.
std::string footprint_file_name(std::string_view name, std::string_view fallback);

// The file names of a footprint listing's output (one file a line, bare or with its folder):
// last segment after "/" or "\", trimmed; only names ending in ".kicad_mod".
std::set<std::string> footprint_names(std::string_view listing);

// The key two names clash under on that desktop: Windows and macOS folders ignore letter case.
std::string footprint_key(const DesktopEnv& env, std::string_view file_name);

// The footprint files in one desktop folder (a missing folder has none). Nothing when the bridge
// did not answer: what is there is then unknown.
std::optional<std::set<std::string>> desktop_footprints(const DesktopEnv& env,
                                                        std::string_view folder);

}  // namespace vorn
