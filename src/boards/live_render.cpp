// Live render cache, rendering set and the background render threads.
#include "boards/live_render.h"

#include <thread>

namespace vorn::boards {

LiveRenders& LiveRenders::instance() {
  static LiveRenders renders;
  return renders;
}

std::shared_ptr<const RenderResult> LiveRenders::find(const std::string& slug) const {
  std::lock_guard lock(cache_mutex_);
  auto it = cache_.find(slug);
  return it == cache_.end() ? nullptr : it->second;
}

void LiveRenders::store(const std::string& slug, RenderResult result) {
  auto shared = std::make_shared<const RenderResult>(std::move(result));
  std::lock_guard lock(cache_mutex_);
  cache_[slug] = std::move(shared);
}

bool LiveRenders::begin(const std::string& slug) {
  std::lock_guard lock(rendering_mutex_);
  return rendering_.insert(slug).second;
}

void LiveRenders::end(const std::string& slug) {
  std::lock_guard lock(rendering_mutex_);
  rendering_.erase(slug);
}

bool LiveRenders::is_rendering(const std::string& slug) const {
  std::lock_guard lock(rendering_mutex_);
  return rendering_.count(slug) != 0;
}

bool start_live_render(const std::string& slug) {
  LiveRenders& renders = LiveRenders::instance();
  if (!renders.begin(slug)) return false;
  // A render that finished between the caller's cache lookup and begin() is not run again.
  if (renders.find(slug)) {
    renders.end(slug);
    return false;
  }
  try {
    std::thread([slug] {
      LiveRenders& r = LiveRenders::instance();
      r.store(slug, render_board(slug));
      r.end(slug);
    }).detach();
  } catch (const std::system_error&) {
    renders.end(slug);  // no thread: the next poll may try again
    return false;
  }
  return true;
}

}  // namespace vorn::boards
