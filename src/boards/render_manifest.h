// The stored render's bookkeeping: the content hash of a render, the stored file names, and the
// manifest with its version history. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "boards/board_render.h"
#include "server/http.h"

namespace vorn::boards {

// SipHash-1-3 (zero keys) over GLB, PCB picture, sheet SVGs (each length-prefixed), the sheet
// count and the sheet names (each followed by 0xFF); 16 lower-case hex digits.
std::string content_hash(const RenderResult& render);

// "sheet-007.svg": the index zero-padded to at least three digits.
std::string sheet_file_name(size_t index);

struct ManifestPlan {
  Json manifest;       // the object to write as render/manifest.json
  bool archive = false;  // whether this render becomes a new version folder
};

// Decides from the page's current version records (newest first) whether to archive, and builds
// the new manifest. `versions` that is not an array counts as empty.
ManifestPlan plan_manifest(const Json& versions, const std::string& hash, const std::string& version,
                           const RenderResult& render);

// The page's package version made safe as a single folder name: "/", "\" and control characters
// become "_"; an empty result or a dot name gives "0.0.0".
std::string safe_version(std::string_view version);

// Pretty-printed with two-space indentation and sorted keys.
std::string manifest_text(const Json& manifest);

}  // namespace vorn::boards
