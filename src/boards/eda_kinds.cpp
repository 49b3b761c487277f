// EDA kinds: the suffix table, the process-wide cache and the route /api/board-eda/<slug>.
#include "boards/eda_kinds.h"

#include <array>

#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

struct EdaSuffixes {
  std::string_view kind;
  std::vector<std::string_view> suffixes;
};

// The kinds in answer order, each with the (lower-case) file-name suffixes that mark it.
const std::array<EdaSuffixes, 3>& suffix_table() {
  static const std::array<EdaSuffixes, 3> table = {{
      {"kicad", {".kicad_pcb", ".kicad_sch", ".kicad_pro"}},
      {"altium", {".pcbdoc", ".schdoc", ".prjpcb", ".intlib", ".pcblib", ".schlib"}},
      {"fusion", {".fbrd", ".fsch", ".brd", ".sch", ".f3d", ".fusion", ".lbr"}},
  }};
  return table;
}

EdaKindCache& process_cache() {
  static EdaKindCache cache;
  return cache;
}

}  // namespace

std::optional<EdaKinds> EdaKindCache::find(std::string_view slug) const {
  std::lock_guard lock(mutex_);
  const auto it = kinds_.find(std::string(slug));
  if (it == kinds_.end()) return std::nullopt;
  return it->second;
}

void EdaKindCache::store(std::string_view slug, EdaKinds kinds) {
  std::lock_guard lock(mutex_);
  kinds_.insert_or_assign(std::string(slug), std::move(kinds));
}

size_t EdaKindCache::size() const {
  std::lock_guard lock(mutex_);
  return kinds_.size();
}

EdaKinds eda_kinds_of_files(const std::vector<std::string>& file_names) {
  std::vector<std::string> lowered;
  lowered.reserve(file_names.size());
  for (const auto& name : file_names) lowered.push_back(to_lower(name));
  EdaKinds kinds;
  for (const auto& [kind, suffixes] : suffix_table()) {
    bool present = false;
    for (const auto& name : lowered) {
      for (const auto suffix : suffixes) present = present || ends_with(name, suffix);
      if (present) break;
    }
    if (present) kinds.emplace_back(kind);
  }
  return kinds;
}

EdaKinds eda_kinds(std::string_view slug) {
  // A slug that cannot name a platform page never reaches the platform; it is not remembered
  // either, so requests for made-up slugs cannot grow the cache.
  if (!is_safe_url_path(slug)) return {};
  if (auto cached = process_cache().find(slug)) return std::move(*cached);
  EdaKinds kinds = eda_kinds_of_files(list_page_files(slug));
  process_cache().store(slug, kinds);
  return kinds;
}

std::vector<EdaKinds> eda_kinds_of_pages(const std::vector<std::string>& slugs) {
  std::vector<EdaKinds> kinds(slugs.size());
  std::vector<std::string> missing;
  std::vector<size_t> missing_at;
  for (size_t i = 0; i < slugs.size(); ++i) {
    if (!is_safe_url_path(slugs[i])) continue;
    if (auto cached = process_cache().find(slugs[i])) {
      kinds[i] = std::move(*cached);
    } else {
      missing.push_back(slugs[i]);
      missing_at.push_back(i);
    }
  }
  const auto lists = list_pages_files(missing);
  for (size_t k = 0; k < missing.size(); ++k) {
    kinds[missing_at[k]] = eda_kinds_of_files(lists[k]);
    process_cache().store(missing[k], kinds[missing_at[k]]);
  }
  return kinds;
}

Response handle_board_eda(const Request&, std::string_view received) {
  return json_response(Json{{"eda", eda_kinds(page_slug(received))}});
}

}  // namespace vorn
