// The viewer cache: interactive viewer pages ("<slug>|<kind>|<version or cur>") and enrichment
// results ("enrich|<mpn>|<lcsc>") kept for the life of the process. Entries are only added.
// Thread-safe: one mutex, held for a lookup or an insert.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vorn::boards {

class ViewerCache {
 public:
  // Keys come partly from requests (enrichment queries): past this many entries new keys are
  // answered but no longer kept, so no stream of requests can grow the process without bound.
  static constexpr size_t kMaxEntries = 4096;

  static ViewerCache& instance();

  std::optional<std::string> find(const std::string& key) const;
  // Inserts or replaces (two concurrent first requests: the later insert wins); a new key is
  // dropped once the cache is full.
  void store(const std::string& key, std::string value);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::string> entries_;
};

}  // namespace vorn::boards
