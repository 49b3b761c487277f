// The project diff: what a project-only delivery would do to the project library an earlier
// delivery left on the desktop. The pure helpers are exposed for tests. Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/http.h"

namespace vorn::boards {

// "NAME_0_1": three pieces when split from the right at "_", the last two ASCII digits.
bool is_unit_symbol_name(std::string_view name);
// Lower-cased, micro sign and Greek mu as "u", only ASCII letters and digits kept.
std::string normalise_symbol_name(std::string_view name);
// Top-level symbol names of a library text (every `(symbol "` that is not a unit), in order.
std::vector<std::string> library_symbol_names(std::string_view library_text);
// dest without trailing "/" and "\", the separator, the nickname and ".kicad_sym".
std::string library_path(std::string_view dest, std::string_view sep, std::string_view nickname);

// {"exists", "add", "keep", "remove"} for a board slug and a project folder.
Json project_diff(const std::string& board, const std::string& dest);

}  // namespace vorn::boards
