// The page, the loader image and the bundled 3D viewer, served from the executable itself.
// The page and the viewer are sent from the embedded bytes without a copy, with a strong ETag
// (a matching If-None-Match answers 304) and their build-time gzip form when the browser
// accepts it.
#include <cstdio>

#include "embedded_assets.h"
#include "server/handlers.h"
#include "util/siphash.h"

namespace vorn {
namespace {

constexpr std::string_view kCacheDay = "public, max-age=86400";

// One asset in its two encodings, each with its own strong tag.
struct StaticAsset {
  std::string_view plain;
  std::string_view gzip;
  std::string content_type;
  std::string etag;       // of the plain bytes
  std::string gzip_etag;  // of the gzip form: a different representation, a different tag
};

std::string content_tag(std::string_view bytes) {
  char text[40];
  std::snprintf(text, sizeof text, "\"%016llx%08zx\"",
                static_cast<unsigned long long>(siphash13(bytes, 0x766f726eULL, 0x61737365ULL)),
                bytes.size() & 0xffffffffU);
  return text;
}

StaticAsset make_asset(std::string_view plain, std::string_view gzip, std::string_view type) {
  std::string tag = content_tag(plain);
  std::string gzip_tag = tag;
  gzip_tag.insert(gzip_tag.size() - 1, "-gz");
  return {plain, gzip, std::string(type), std::move(tag), std::move(gzip_tag)};
}

Response serve_asset(const Request& request, const StaticAsset& asset,
                     std::string_view cache_control) {
  const bool gzip = request.accepts_gzip && !asset.gzip.empty();
  const std::string& tag = gzip ? asset.gzip_etag : asset.etag;
  Response r;
  r.content_type = asset.content_type;
  r.headers = {{"ETag", tag}, {"Vary", "Accept-Encoding"}};
  if (!cache_control.empty()) r.headers.emplace_back("Cache-Control", std::string(cache_control));
  if (etag_matches(request.if_none_match, tag)) {
    r.status = 304;
    return r;
  }
  if (gzip) r.headers.emplace_back("Content-Encoding", "gzip");
  r.static_body = gzip ? asset.gzip : asset.plain;
  return r;
}

}  // namespace

Response handle_index(const Request& request, std::string_view) {
  static const StaticAsset page =
      make_asset(assets::index_html(), assets::index_html_gz(), kHtmlType);
  return serve_asset(request, page, "");
}

Response handle_loader_gif(const Request&, std::string_view) {
  Response r = binary_response(std::string(assets::loader_gif()), "image/gif");
  r.headers.emplace_back("Cache-Control", std::string(kCacheDay));
  return r;
}

Response handle_model_viewer_js(const Request& request, std::string_view) {
  static const StaticAsset viewer = make_asset(
      assets::model_viewer_js(), assets::model_viewer_js_gz(), "text/javascript; charset=utf-8");
  return serve_asset(request, viewer, kCacheDay);
}

}  // namespace vorn
