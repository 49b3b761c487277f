// The state of a delivery folder on the desktop.
#include "desktop/dest_state.h"

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {

std::string cmd_dest_state(bool windows, std::string_view folder) {
  if (windows) {
    std::string f;
    for (char c : folder) {
      if (c != '"' && c != '%') f += c;
    }
    while (!f.empty() && f.back() == '\\') f.pop_back();
    return fill_template(
        "if exist \"{}\\\" (echo __DIR__& if exist \"{}\\*.kicad_pro\" echo __PRO__)", {f, f});
  }
  const std::string q = posix_quote(folder);
  return fill_template(
      "if [ -d {} ]; then echo __DIR__; for f in {}/*.kicad_pro; do [ -f \"$f\" ] && echo __PRO__ "
      "&& break; done; fi",
      {q, q});
}

DestState parse_dest_state(std::string_view output) {
  return DestState{output.find("__DIR__") != std::string_view::npos,
                   output.find("__PRO__") != std::string_view::npos};
}

Response handle_dest_state(const Request& request, std::string_view) {
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  const std::string folder(trim(marker_param(request.url, "?p=")));
  if (!is_desktop_absolute(env, folder))
    return json_response(Json{{"error", std::string(kInvalidDestPath)}});
  const auto answer = bridge_run_command(cmd_dest_state(env.windows(), folder));
  const DestState state = parse_dest_state(answer.value_or(""));
  return json_response(Json{{"exists", state.exists}, {"has_project", state.has_project}});
}

}  // namespace vorn
