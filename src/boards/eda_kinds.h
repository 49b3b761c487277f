// EDA kinds of a page: which design-tool families ("kicad", "altium", "fusion") its file names
// belong to, looked up once per slug and remembered for the life of the process. Used by the
// component catalog for every entry and by the route /api/board-eda/<slug>.
//
// Thread-safe: the cache lock is held only for a lookup or a store, never across the platform
// request, so two concurrent first lookups of one slug may both fetch (the later store wins).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorn {

using EdaKinds = std::vector<std::string>;

// Slug -> kinds, filled on first lookup, never invalidated. An empty list is kept like any other.
class EdaKindCache {
 public:
  std::optional<EdaKinds> find(std::string_view slug) const;
  void store(std::string_view slug, EdaKinds kinds);
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, EdaKinds> kinds_;
};

// The kinds present among these file names, in the fixed order kicad, altium, fusion; the
// suffix test is on the lower-cased name.
EdaKinds eda_kinds_of_files(const std::vector<std::string>& file_names);

// The cached lookup for a slug; never fails (a failed listing gives an empty list).
EdaKinds eda_kinds(std::string_view slug);

// The cached lookups for many slugs (same order), the file lists of the slugs not yet cached
// read in one batch.
std::vector<EdaKinds> eda_kinds_of_pages(const std::vector<std::string>& slugs);

}  // namespace vorn
