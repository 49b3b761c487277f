// Board media routes: GLB and SVG bytes from the stored render, the page's own files or the live
// render cache; the interactive viewer pages and their enrichment lookups; project heroes and
// organisation avatars. Failures answer short plain-text 404s.
#include <filesystem>
#include <iostream>

#include "boards/board_data.h"
#include "boards/live_render.h"
#include "boards/render_manifest.h"
#include "boards/view_sources.h"
#include "boards/viewer_cache.h"
#include "boards/work_files.h"
#include "platform/config.h"
#include "platform/platform_api.h"
#include "proc/runner.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

using namespace boards;
namespace fs = std::filesystem;

constexpr std::string_view kGlbType = "model/gltf-binary";
constexpr std::string_view kSvgType = "image/svg+xml";
constexpr std::string_view kViewUnavailable =
    "<p style='font:13px system-ui;color:#8b93a3;padding:24px'>interactive view unavailable (no KiCad file on this "
    "page)</p>";

// Splits at "/" into at most `parts` pieces (the last keeps any further "/").
std::vector<std::string> split_n(std::string_view text, size_t parts) {
  std::vector<std::string> out;
  while (out.size() + 1 < parts) {
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) break;
    out.emplace_back(text.substr(0, slash));
    text.remove_prefix(slash + 1);
  }
  out.emplace_back(text);
  return out;
}

std::optional<std::string> text_file(std::string_view slug, const std::string& name) {
  auto bytes = fetch_page_file(slug, name);
  if (!bytes || !is_valid_utf8(*bytes)) return std::nullopt;
  return bytes;
}

// "pcb.svg" or "sheet-<n>.svg"; the sheet index when kind is "sch".
struct SvgRequest {
  std::string slug;
  std::string kind;
  std::optional<size_t> sheet;
  std::optional<std::string> stored_name;
};

SvgRequest parse_svg_request(std::string_view rest) {
  const std::vector<std::string> parts = split_n(rest, 3);
  SvgRequest r;
  r.slug = page_slug(parts[0]);
  r.kind = parts.size() > 1 ? parts[1] : "";
  if (r.kind == "pcb") r.stored_name = "pcb.svg";
  if (r.kind == "sch" && parts.size() > 2 && !parts[2].empty() &&
      parts[2].find_first_not_of("0123456789") == std::string::npos) {
    const std::string_view digits = std::string_view(parts[2]).substr(
        std::min(parts[2].find_first_not_of('0'), parts[2].size() - 1));
    if (digits.size() <= 15) {
      r.sheet = std::stoull(std::string(digits));
      r.stored_name = sheet_file_name(*r.sheet);
    }
  }
  return r;
}

std::optional<std::string> live_svg(const SvgRequest& r) {
  auto cached = LiveRenders::instance().find(r.slug);
  if (!cached) return std::nullopt;
  if (r.kind == "pcb") return cached->pcb_svg;
  if (r.sheet && *r.sheet < cached->sheets.size()) return cached->sheets[*r.sheet].svg;
  return std::nullopt;
}

// Writes the viewer's files under `folder` at their page paths (paths that would leave the
// folder are skipped) and answers the main file's local path.
std::optional<fs::path> stage_view_files(const fs::path& folder, const ViewSources& sources) {
  std::optional<fs::path> main;
  for (const ViewFile& f : sources.files) {
    bool plain = true;
    for (const std::string& piece : split(f.path, "/")) plain = plain && is_plain_file_name(piece);
    if (!plain) continue;
    const fs::path local = folder / f.path;
    std::error_code ec;
    fs::create_directories(local.parent_path(), ec);
    if (!write_bytes(local, f.bytes)) return std::nullopt;
    if (f.path == sources.main_path) main = local;
  }
  return main;
}

// Runs the viewer on the page's files (at the version, when one is given) and answers its page.
std::optional<std::string> build_view(const std::string& slug, const std::string& kind,
                                      const std::string& viewer,
                                      const std::optional<std::string>& version) {
  const auto sources = fetch_view_sources(slug, kind, version);
  if (!sources) return std::nullopt;
  // One folder per kind and version, emptied first, so no sheet of another version is picked up.
  const fs::path folder = std::string(kStagingRoot) + "/view-" + folder_name(slug) + "/" + kind +
                          "-" + folder_name(version.value_or("cur"));
  if (!reset_folder(folder / "src")) return std::nullopt;
  const auto file = stage_view_files(folder / "src", *sources);
  if (!file) return std::nullopt;
  const fs::path out = folder / (kind + ".html");
  const CommandResult r =
      run_inherit(viewer, {"embed", "--file", file->string(), "--out", out.string()});
  if (!r.ok()) {
    std::cerr << "board-view: " << viewer << " embed failed for " << slug << "\n";
    return std::nullopt;
  }
  auto html = read_bytes(out);
  if (!html || !is_valid_utf8(*html)) return std::nullopt;
  return html;
}

// The first query piece beginning with "<key>=", percent-decoded.
std::string query_piece(std::string_view query, std::string_view key) {
  const std::string prefix = std::string(key) + "=";
  for (const std::string& piece : split(query, "&")) {
    if (piece.starts_with(prefix)) return percent_decode(std::string_view(piece).substr(prefix.size()));
  }
  return "";
}

}  // namespace

Response handle_board_glb(const Request& request, std::string_view received) {
  const std::string slug = page_slug(received);
  if (auto token = version_token(request.query())) {
    if (auto bytes = fetch_page_file(slug, "render/" + *token + "/board.glb")) return binary_response(*bytes, kGlbType);
  }
  if (auto bytes = board_model(slug)) return binary_response(*bytes, kGlbType);
  if (auto cached = LiveRenders::instance().find(slug); cached && cached->glb) {
    return binary_response(*cached->glb, kGlbType);
  }
  if (auto bytes = fetch_page_file(slug, "render/board.glb")) return binary_response(*bytes, kGlbType);
  return text_response(404, "not rendered");
}

Response handle_glb(const Request&, std::string_view received) {
  const std::string slug = page_slug(received);
  for (const std::string& p : list_page_files(slug)) {
    if (!ends_with(p, ".glb")) continue;
    if (auto bytes = fetch_page_file(slug, p)) return binary_response(*bytes, kGlbType);
    break;
  }
  return text_response(404, "no glb");
}

Response handle_board_svg(const Request& request, std::string_view rest) {
  const SvgRequest r = parse_svg_request(rest);
  if (!r.stored_name) return text_response(404, "not rendered");
  if (auto token = version_token(request.query())) {
    if (auto svg = text_file(r.slug, "render/" + *token + "/" + *r.stored_name)) return binary_response(*svg, kSvgType);
  }
  if (auto svg = live_svg(r)) return binary_response(*svg, kSvgType);
  if (auto svg = text_file(r.slug, "render/" + *r.stored_name)) return binary_response(*svg, kSvgType);
  return text_response(404, "not rendered");
}

Response handle_board_view(const Request& request, std::string_view rest) {
  const std::vector<std::string> parts = split_n(rest, 2);
  const std::string slug = page_slug(parts[0]);
  std::string kind = parts.size() > 1 ? parts[1] : "";
  std::string viewer;
  if (kind == "pcb") {
    viewer = "vorn-layout-viewer";
  } else if (kind == "sch") {
    viewer = "vorn-schematic-viewer";
  } else {
    kind.clear();
  }
  const auto version = version_token(request.query());
  const std::string key = slug + "|" + kind + "|" + version.value_or("cur");
  if (auto hit = ViewerCache::instance().find(key)) return html_response(*hit);
  if (!kind.empty()) {
    if (auto html = build_view(slug, kind, viewer, version)) {
      ViewerCache::instance().store(key, *html);
      return html_response(std::move(*html));
    }
  }
  Response r = html_response(std::string(kViewUnavailable));
  r.status = 404;
  return r;
}

Response handle_board_view_enrich(const Request& request, std::string_view) {
  const std::string mpn = query_piece(request.query(), "mpn");
  const std::string lcsc = query_piece(request.query(), "lcsc");
  if (mpn.empty() && lcsc.empty()) return json_response(std::string(R"({"error":"no query"})"));
  const std::string key = "enrich|" + mpn + "|" + lcsc;
  if (auto hit = ViewerCache::instance().find(key)) return json_response(*hit);
  std::string result = R"({"error":"lookup failed"})";
  const CommandResult r = run_capture("vorn-schematic-viewer", {"enrich", "--mpn", mpn, "--lcsc", lcsc});
  if (r.ok()) {
    const std::string_view out = trim(r.out);
    if (out.starts_with("{")) result = std::string(out);
  }
  ViewerCache::instance().store(key, result);
  return json_response(std::move(result));
}

Response handle_board_hero(const Request&, std::string_view received) {
  auto body = fetch_page_resource(page_slug(received), "hero");
  if (!body) return text_response(404, "no hero");
  const Json hero = Json::parse(*body, nullptr, false);
  if (!hero.is_object()) return text_response(404, "no hero");
  std::string type = "image/png";
  if (auto it = hero.find("content_type"); it != hero.end() && it->is_string()) type = it->get<std::string>();
  auto url = hero.find("url");
  if (url == hero.end() || !url->is_string()) return text_response(404, "no hero");
  std::string address = url->get<std::string>();
  if (!address.starts_with("http")) address = platform_base_url() + address;
  // A content type carrying a line break would break the response head.
  if (type.find_first_of("\r\n") != std::string::npos) type = "image/png";
  auto image = fetch_url(address);
  if (!image) return text_response(404, "no hero");
  return binary_response(std::move(*image), type);
}

Response handle_org_avatar(const Request&, std::string_view rest) {
  std::string_view org = rest.substr(0, rest.find_first_of("/?"));
  if (org.empty()) org = rest;
  // The name goes into the organisation site's URL: nothing that could reshape it.
  if (!is_safe_url_path(org)) return text_response(404, "no avatar");
  auto body = fetch_url(org_site_url() + "/orgs/" + std::string(org));
  if (!body) return text_response(404, "no avatar");
  const Json doc = Json::parse(*body, nullptr, false);
  if (!doc.is_object()) return text_response(404, "no avatar");
  auto it = doc.find("avatar_url");
  if (it == doc.end() || !it->is_string()) return text_response(404, "no avatar");
  auto image = fetch_url(it->get<std::string>());
  if (!image) return text_response(404, "no avatar");
  return binary_response(std::move(*image), "image/png");
}

}  // namespace vorn
