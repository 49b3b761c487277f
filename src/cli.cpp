// Command-line scanning.
#include "cli.h"

namespace vorn {

std::optional<uint16_t> parse_port(const std::string& text) {
  size_t i = (!text.empty() && text[0] == '+') ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    if (value > 65535) return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--port" || arg == "-p") {
      if (i + 1 < args.size()) {
        if (auto port = parse_port(args[++i])) line.port = *port;
      }
    } else if (arg.starts_with("--port=")) {
      if (auto port = parse_port(arg.substr(7))) line.port = *port;
    } else if (arg == "--render-board") {
      line.render_mode = true;
      if (i + 1 < args.size()) line.render_slug = args[i + 1];
      break;
    }
  }
  return line;
}

}  // namespace vorn
