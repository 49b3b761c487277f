// `api/dest-state?p=<folder>`: what a delivery folder on the desktop holds before anything is
// sent there, so the page can say "will be created" or warn that a project is already there.
// One bridge command. Thread-safe (no state of its own).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// Prints "__DIR__" when the folder exists and "__PRO__" when it holds a .kicad_pro file.
// POSIX: the folder quoted; Windows: the command interpreter, double quotes and "%" removed.
std::string cmd_dest_state(bool windows, std::string_view folder);

struct DestState {
  bool exists = false;
  bool has_project = false;
};
// The markers of the command's output.
DestState parse_dest_state(std::string_view output);

}  // namespace vorn
