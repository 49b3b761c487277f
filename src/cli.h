// The command line: the port and the board-render flag, scanned left to right.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

inline constexpr uint16_t kDefaultPort = 8785;

struct CommandLine {
  uint16_t port = kDefaultPort;
  bool render_mode = false;
  std::optional<std::string> render_slug;  // the argument after --render-board, when there is one
};

// Arguments after the program name. "--port"/"-p" consume the next argument; "--port=<n>" sets
// the port when <n> parses as a 16-bit decimal; "--render-board" takes the next argument and ends
// the scan; anything else is ignored.
CommandLine parse_command_line(const std::vector<std::string>& args);

// Decimal 0..65535 with an optional leading "+"; nothing otherwise.
std::optional<uint16_t> parse_port(const std::string& text);

}  // namespace vorn
