// Libraries for the nicknames a delivered project uses and the desktop lacks ("Integrate into my
// libraries"). The library nicknames of the user's tables are read through the library
// discovery (KiCad's own libraries included); the embedded self-contain script, in its
// completing mode, makes one project library under "libraries/" for each nickname that the
// schematics or the board use and the tables lack, from the copies the project files carry, and
// project-local "sym-lib-table" / "fp-lib-table" rows for exactly those nicknames. References
// stay as they are and the user's tables are never touched. Runs on the apply worker.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "desktop/desktop_env.h"

namespace vorn {

// Makes and sends the missing libraries and the project tables into the project folder `folder`
// for the staged project files `staged` (names inside `staging`). Answers the delivered names,
// relative to the project folder; nothing when nothing is missing or the script cannot run.
std::vector<std::string> deliver_missing_libraries(const DesktopEnv& env,
                                                   const std::filesystem::path& staging,
                                                   const std::vector<std::string>& staged,
                                                   const std::string& folder);

}  // namespace vorn
