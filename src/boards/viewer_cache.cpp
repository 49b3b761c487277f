// Process-wide viewer cache.
#include "boards/viewer_cache.h"

namespace vorn::boards {

ViewerCache& ViewerCache::instance() {
  static ViewerCache cache;
  return cache;
}

std::optional<std::string> ViewerCache::find(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

void ViewerCache::store(const std::string& key, std::string value) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    it->second = std::move(value);
  } else if (entries_.size() < kMaxEntries) {
    entries_.emplace(key, std::move(value));
  }
}

}  // namespace vorn::boards
