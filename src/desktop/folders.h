// Folder picking and listing on the desktop: `api/pick-folder` opens the system's folder dialog
// detached on the desktop (it leaves its answer in a pick file there), `api/pick-folder-result`
// collects that answer, `api/list-dirs` lists the sub-folders of one folder.
// Pick ids are unique within the process (an atomic counter); nothing else is shared.
#pragma once

#include <string>
#include <string_view>

#include "server/http.h"

namespace vorn {

// Milliseconds since the epoch, "_", the counter value before its increase.
std::string next_pick_id();
// Only the ASCII letters, digits and "_" of a pick id.
std::string clean_pick_id(std::string_view raw);
// {"pending": true}, {"cancelled": true} or {"path": text} for a pick file's text.
Json pick_answer(std::string_view text);

struct FolderListing {
  std::string path;
  std::string parent;
  std::vector<std::pair<std::string, std::string>> dirs;  // name, path
};

// "name\tpath" lines: split at the first tab, both trimmed; lines without a tab (and empty
// lines) skipped.
void add_listing_lines(FolderListing& listing, std::string_view lines);
// The Windows listing answer (carriage returns already removed) for `folder`.
FolderListing parse_windows_listing(std::string_view folder, const std::optional<std::string>& answer);
Json listing_json(const FolderListing& listing);

}  // namespace vorn
