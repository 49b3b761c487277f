// The route table as data, and the dispatch that walks it.
#include "server/route_table.h"

namespace vorn {
namespace {

constexpr Route kRoutes[] = {
    {Match::kEquals, "/api/apply-progress", handle_apply_progress},
    {Match::kEquals, "/api/env", handle_env},
    {Match::kEquals, "/api/libraries", handle_libraries},
    {Match::kEquals, "/api/pick-folder", handle_pick_folder},
    {Match::kPrefix, "/api/pick-folder-result", handle_pick_folder_result},
    {Match::kPrefix, "/api/project-diff", handle_project_diff},
    {Match::kPrefix, "/api/in-library", handle_in_library},
    {Match::kPrefix, "/api/suggest-path", handle_suggest_path},
    {Match::kPrefix, "/api/list-dirs", handle_list_dirs},
    {Match::kEquals, "/", handle_index},
    {Match::kEquals, "/loader.gif", handle_loader_gif},
    {Match::kEquals, "/api/components", handle_components},
    {Match::kPrefix, "/api/part/", handle_part},
    {Match::kPrefix, "/part-embed/", handle_part_embed},
    {Match::kPrefix, "/api/board/", handle_board},
    {Match::kPrefix, "/api/project/", handle_project},
    {Match::kPrefix, "/api/board-activity/", handle_board_activity},
    {Match::kPrefix, "/api/board-eda/", handle_board_eda},
    {Match::kPrefix, "/api/board-upaxis/", handle_board_upaxis},
    {Match::kPrefix, "/api/board-media/", handle_board_media},
    {Match::kPrefix, "/board-hero/", handle_board_hero},
    {Match::kPrefix, "/org-avatar/", handle_org_avatar},
    {Match::kPrefix, "/board-svg/", handle_board_svg},
    {Match::kPrefixWithEnrich, "/board-view/", handle_board_view_enrich},
    {Match::kPrefix, "/board-view/", handle_board_view},
    {Match::kPrefix, "/board-glb/", handle_board_glb},
    {Match::kPrefix, "/glb/", handle_glb},
    // The bundled 3D viewer script, so the page needs no outside network.
    {Match::kEquals, "/vendor/model-viewer.min.js", handle_model_viewer_js},
    // What a delivery folder holds before anything is sent there.
    {Match::kPrefix, "/api/dest-state", handle_dest_state},
};

bool matches(const Route& route, std::string_view path) {
  switch (route.match) {
    case Match::kEquals:
      return path == route.path;
    case Match::kPrefix:
      return path.starts_with(route.path);
    case Match::kPrefixWithEnrich:
      return path.starts_with(route.path) && path.find("/enrich") != std::string_view::npos;
  }
  return false;
}

}  // namespace

std::span<const Route> route_table() { return kRoutes; }

Response handle_request(const Request& request) {
  const std::string_view path = request.path();
  if (request.method == "POST") {
    return path == "/api/apply" ? handle_apply(request, "") : not_found();
  }
  if (request.method != "GET") return not_found();
  for (const Route& route : kRoutes) {
    if (matches(route, path)) {
      const std::string_view rest = route.match == Match::kEquals ? "" : path.substr(route.path.size());
      return route.handler(request, rest);
    }
  }
  return not_found();
}

}  // namespace vorn
