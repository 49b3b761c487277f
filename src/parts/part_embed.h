// The part embed page served at /part-embed/<slug>/<kind> ("symbol" or "footprint"): the KiCad
// text of the part is written to a working folder under $TMPDIR (or /tmp) and handed to the
// outside embed tool (vorn-symbol or vorn-footprint), whose HTML page gets a fit style and is
// cached for the life of the process. Every failure answers the same small fallback page and
// caches nothing.
//
// Thread-safe: the embed cache lock is held only for a lookup or an insertion; two requests may
// build the same page at once and the later insertion wins.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/http.h"

namespace vorn {

inline constexpr std::string_view kEmbedFallbackPage =
    "<p style='font:13px system-ui;color:#8b93a3;padding:20px'>viewer not available</p>";

// Key "<slug>/<kind>" -> finished page; entries live until the process ends.
class EmbedCache {
 public:
  std::optional<std::string> find(const std::string& key) const;
  void insert(const std::string& key, std::string page);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> pages_;
};

// The fit style inserted before the first "</head>"; a page without one is returned unchanged.
std::string insert_fit_style(std::string page);

// A name for `text` that is one path component: "/", "\" and NUL (and "%", so that the mapping
// stays one-to-one) are percent-encoded. With a non-empty prefix the result can never be "." or "..".
std::string path_component(std::string_view text);

// The embed page for a slug and kind, or the fallback page.
std::string part_embed_page(std::string_view slug, std::string_view kind);

}  // namespace vorn
