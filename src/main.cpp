// vorn-project-manager: serves the page and its JSON API on localhost, or, with
// --render-board <slug>, renders one board and uploads the render.
#include <cstdlib>
#include <iostream>

#include "boards/render_mode.h"
#include "cli.h"
#include "platform/config.h"
#include "platform/platform_api.h"
#include "server/request_guards.h"
#include "server/server.h"
#include "util/text.h"

namespace {

int render_mode(const vorn::CommandLine& line) {
  if (!line.render_slug || line.render_slug->empty()) return 1;
  std::cerr << "\nrendering " << *line.render_slug << " \u2026\n" << std::flush;
  return vorn::run_render_board(vorn::page_slug(*line.render_slug)) ? 0 : 1;
}

std::string bind_host() {
  const char* value = std::getenv("VORN_LBR_BIND");
  if (value && vorn::is_valid_utf8(value)) return value;
  return "127.0.0.1";
}

std::string startup_text(uint16_t port) {
  const std::string p = std::to_string(port);
  return "OK: Vorn Project Manager on http://localhost:" + p + "\n" +
         "Hint: open it in a browser, or `vorn-desktop desktop_open_url {\"url\":\"http://localhost:" + p +
         "\"}`.\n" + "Hint: the component list is fetched from " + vorn::platform_base_url() +
         "; click a row to open the viewer.\n";
}

}  // namespace

int main(int argc, char** argv) {
  const vorn::CommandLine line = vorn::parse_command_line({argv + 1, argv + argc});
  if (line.render_mode) return render_mode(line);

  const std::string host = bind_host();
  auto listener = vorn::resolve_and_bind(host, line.port);
  if (!listener) {
    std::cerr << "ERROR: " << listener.error() << "\n";
    return 1;
  }
  vorn::serve(*listener, vorn::is_loopback_host(host), startup_text(line.port));
  return 0;
}
