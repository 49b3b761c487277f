// The KiCad files behind a board's interactive viewer: the board file, or every schematic sheet
// (root and sub-sheets) with the root named, fetched as they were when a stored render version
// was made, or as they are now. Fetches go through the platform client; thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/http.h"

namespace vorn::boards {

struct ViewFile {
  std::string path;  // the page path, e.g. "sub/amp.kicad_sch"
  std::string bytes;
};

struct ViewSources {
  std::vector<ViewFile> files;  // for "sch": every sheet; for "pcb": the one board file
  std::string main_path;        // the file the viewer is run on (root sheet or board)
};

// The root schematic (named after the project file, else the first schematic) or, for "pcb",
// the first board file of a page's file list.
std::optional<std::string> view_source(const std::vector<std::string>& paths,
                                       std::string_view kind);

// The commit that uploaded the stored render `version`: among the commits of `log` (newest
// first), the oldest of the run of commits whose render manifest names that version as current
// with the same render hash as the newest one that does. `manifest_at(hash)` reads the manifest
// text at a commit. At most `max_commits` manifests are read; nothing when none matches.
std::optional<std::string> render_commit(
    const Json& log, std::string_view version,
    const std::function<std::optional<std::string>(const std::string&)>& manifest_at,
    size_t max_commits);

// The viewer's files of a page for "pcb" or "sch": the current files without a version, else the
// files at the commit of that stored render. Nothing when a file is missing or the version's
// commit cannot be found.
std::optional<ViewSources> fetch_view_sources(std::string_view slug, std::string_view kind,
                                              const std::optional<std::string>& version);

}  // namespace vorn::boards
