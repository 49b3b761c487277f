// Views over the bytes that embedded_assets.S places between begin/end symbol pairs.
#include "embedded_assets.h"

#define VORN_ASSET(name)                                                               \
  extern "C" const char vorn_asset_##name##_begin[];                                   \
  extern "C" const char vorn_asset_##name##_end[];                                     \
  static std::string_view asset_##name() {                                             \
    return {vorn_asset_##name##_begin,                                                 \
            static_cast<size_t>(vorn_asset_##name##_end - vorn_asset_##name##_begin)}; \
  }

VORN_ASSET(index_html)
VORN_ASSET(loader_gif)
VORN_ASSET(selfcontain_py)
VORN_ASSET(model_viewer_js)
VORN_ASSET(index_html_gz)
VORN_ASSET(model_viewer_js_gz)

namespace vorn::assets {

std::string_view index_html() {
  return asset_index_html();
}
std::string_view loader_gif() {
  return asset_loader_gif();
}
std::string_view selfcontain_py() {
  return asset_selfcontain_py();
}
std::string_view model_viewer_js() {
  return asset_model_viewer_js();
}
std::string_view index_html_gz() {
  return asset_index_html_gz();
}
std::string_view model_viewer_js_gz() {
  return asset_model_viewer_js_gz();
}

}  // namespace vorn::assets
