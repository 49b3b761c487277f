// Live renders: the process-wide cache of finished board renders and the set of boards whose
// render is running. A live render runs the board render on a thread of its own and stores its
// result in the cache. Thread-safe: the cache and the set each have their own mutex, held only
// for a lookup, an insert or a removal.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "boards/board_render.h"

namespace vorn::boards {

class LiveRenders {
 public:
  static LiveRenders& instance();

  // The cached render of a board, or null.
  std::shared_ptr<const RenderResult> find(const std::string& slug) const;
  void store(const std::string& slug, RenderResult result);

  // Puts the slug into the rendering set; true when it was not there yet.
  bool begin(const std::string& slug);
  void end(const std::string& slug);
  bool is_rendering(const std::string& slug) const;

 private:
  mutable std::mutex cache_mutex_;
  std::unordered_map<std::string, std::shared_ptr<const RenderResult>> cache_;
  mutable std::mutex rendering_mutex_;
  std::set<std::string> rendering_;
};

// Starts a live render of the slug on a new detached thread when it is not already rendering;
// the thread stores the result and then leaves the rendering set. True when a render started.
bool start_live_render(const std::string& slug);

}  // namespace vorn::boards
