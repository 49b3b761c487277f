// The board and project JSON routes: component list, board list, commit activity, up-axis stamp
// and media status. Every answer is a 200 JSON object; platform failures give empty values.
#include "boards/board_activity.h"
#include "boards/board_data.h"
#include "boards/live_render.h"
#include "platform/platform_api.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

using namespace boards;

Json slug_objects(const std::vector<std::string>& slugs) {
  Json list = Json::array();
  for (const std::string& s : slugs) list.push_back(Json{{"slug", s}});
  return list;
}

std::optional<std::string> render_glb_bytes(std::string_view slug, const std::optional<std::string>& token) {
  if (token) {
    if (auto bytes = fetch_page_file(slug, "render/" + *token + "/board.glb")) return bytes;
  }
  if (auto bytes = fetch_page_file(slug, "render/board.glb")) return bytes;
  return board_model(slug);
}

std::optional<Json> stored_media(std::string_view slug) {
  auto bytes = fetch_page_file(slug, "render/manifest.json");
  if (!bytes) return std::nullopt;
  const Json m = Json::parse(*bytes, nullptr, false);
  if (!m.is_object() || !(m.contains("v") || m.contains("glb") || m.contains("sheets"))) return std::nullopt;
  Json sheets = Json::array();
  if (auto it = m.find("sheets"); it != m.end() && it->is_array()) {
    for (const Json& s : *it) {
      if (s.is_string()) sheets.push_back(s);
    }
  }
  auto flag = [&m](const char* key) {
    auto it = m.find(key);
    return it != m.end() && it->is_boolean() && it->get<bool>();
  };
  return Json{{"rendering", false},   {"is_kicad", true},     {"stored", true},
              {"has_render", true},   {"has_assets", true},   {"sheets", std::move(sheets)},
              {"has_3d", flag("glb")}, {"has_pcb", flag("pcb")},
              {"versions", m.contains("versions") ? m["versions"] : Json::array()},
              {"current", m.contains("current") ? m["current"] : Json()}};
}

Json live_media(const RenderResult& render) {
  Json sheets = Json::array();
  for (const Sheet& s : render.sheets) sheets.push_back(s.name);
  return Json{{"rendering", false}, {"is_kicad", true},  {"has_render", false},
              {"has_assets", true}, {"sheets", sheets}, {"has_3d", render.glb.has_value()},
              {"has_pcb", render.pcb_svg.has_value()}};
}

Json page_media(const std::string& slug) {
  bool pcb = false, sch = false, glb = false;
  for (const std::string& p : list_page_files(slug)) {
    pcb = pcb || ends_with(p, ".kicad_pcb");
    sch = sch || ends_with(p, ".kicad_sch");
    glb = glb || ends_with(p, ".glb");
  }
  if (!pcb && !sch) {
    return Json{{"rendering", false}, {"is_kicad", false},      {"has_render", false}, {"has_assets", glb},
                {"sheets", Json::array()}, {"has_3d", glb}, {"has_pcb", false}};
  }
  (void)start_live_render(slug);
  return Json{{"rendering", true},         {"is_kicad", true}, {"has_render", false}, {"has_assets", pcb && sch},
              {"sheets", Json::array()}, {"has_3d", false},  {"has_pcb", false}};
}

}  // namespace

Response handle_board(const Request&, std::string_view received) {
  const std::string slug = page_slug(received);
  return json_response(Json{
      {"status", "ok"},
      {"board", slug},
      {"deps", slug_objects(board_component_list(slug))},
      {"log", commit_log(slug)},
      {"hints",
       Json::array(
           {"board \u2192 component library \u2192 components (the library's dependencies)"})}});
}

Response handle_project(const Request&, std::string_view received) {
  const std::string slug = page_slug(received);
  return json_response(Json{{"status", "ok"},
                            {"project", slug},
                            {"boards", slug_objects(page_dependencies(slug))},
                            {"log", commit_log(slug)}});
}

Response handle_board_activity(const Request&, std::string_view received) {
  return json_response(board_activity(page_slug(received)));
}

Response handle_board_upaxis(const Request& request, std::string_view received) {
  auto bytes = render_glb_bytes(page_slug(received), version_token(request.query()));
  auto axis = bytes ? glb_up_axis(*bytes) : std::nullopt;
  return json_response(Json{{"up_axis", axis ? Json(*axis) : Json()}});
}

Response handle_board_media(const Request&, std::string_view received) {
  const std::string slug = page_slug(received);
  if (auto stored = stored_media(slug)) return json_response(*stored);
  if (auto cached = LiveRenders::instance().find(slug)) return json_response(live_media(*cached));
  return json_response(page_media(slug));
}

}  // namespace vorn
