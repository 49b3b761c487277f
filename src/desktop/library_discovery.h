// The user's own KiCad libraries on the desktop, read from KiCad's library tables in every
// version folder of the KiCad configuration folder (first folder listed wins for a name;
// libraries that come with KiCad are left out). Serves `api/libraries` and `api/suggest-path`;
// the apply job and `api/in-library` read the same list. Thread-safe (no state of its own).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/desktop_env.h"
#include "server/http.h"

namespace vorn {

struct LibraryEntry {
  std::string name;
  std::string uri;  // desktop path of the .kicad_sym file or .pretty folder, as written
};

struct UserLibraries {
  std::vector<LibraryEntry> sym_libs;
  std::vector<LibraryEntry> fp_libs;
};

// home + "/Library/Preferences/kicad" (macOS), "\AppData\Roaming\kicad" (Windows),
// "/.config/kicad" otherwise.
std::string kicad_config_dir(const DesktopEnv& env);

// Rows of the concatenated table texts: name and uri, skipping rows without both, KiCad's own
// libraries and names already kept.
std::vector<LibraryEntry> parse_library_tables(std::string_view text);

// Reads "sym-lib-table" then "fp-lib-table" through the bridge (two commands).
UserLibraries read_user_libraries(const DesktopEnv& env);

// Every nickname in the user's tables, KiCad's own libraries included: what a delivered project
// can rely on the desktop to resolve.
struct TableNicknames {
  std::vector<std::string> sym;
  std::vector<std::string> fp;
};
std::vector<std::string> table_nicknames(std::string_view text);
TableNicknames read_table_nicknames(const DesktopEnv& env);

// Library name → uri, for the apply job.
std::map<std::string, std::string> library_map(const std::vector<LibraryEntry>& entries);

Json library_list_json(const UserLibraries& libs);

// Lines of the sub-folder listing: trailing "/" and "\" removed, empty ones skipped, first 14.
std::vector<std::string> suggestion_lines(std::string_view answer);
// Removes the characters " ' ` ; | & LF CR $ from a suggest-path prefix.
std::string clean_suggest_prefix(std::string_view prefix);

}  // namespace vorn
