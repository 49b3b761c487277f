// The page, the loader image and the bundled 3D viewer, served from the executable itself.
#include "embedded_assets.h"
#include "server/handlers.h"

namespace vorn {

Response handle_index(const Request&, std::string_view) {
  return html_response(std::string(assets::index_html()));
}

Response handle_loader_gif(const Request&, std::string_view) {
  Response r = binary_response(std::string(assets::loader_gif()), "image/gif");
  r.headers.emplace_back("Cache-Control", "public, max-age=86400");
  return r;
}

Response handle_model_viewer_js(const Request&, std::string_view) {
  Response r = binary_response(std::string(assets::model_viewer_js()), "text/javascript; charset=utf-8");
  r.headers.emplace_back("Cache-Control", "public, max-age=86400");
  return r;
}

}  // namespace vorn
