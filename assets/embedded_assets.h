// The files compiled into the executable: the single page, the loader image, the self-contain
// script and the bundled 3D viewer. Views into read-only data that lives for the whole process.
#pragma once

#include <string_view>

namespace vorn::assets {

std::string_view index_html();
std::string_view loader_gif();
std::string_view selfcontain_py();
std::string_view model_viewer_js();
// The page and the viewer script, gzip-compressed at build time.
std::string_view index_html_gz();
std::string_view model_viewer_js_gz();

}  // namespace vorn::assets
