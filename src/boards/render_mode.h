// The stored render mode (--render-board <slug>): renders one board, uploads the render to the
// board's page and answers whether that worked. Writes its own messages to standard error.
#pragma once

#include <string>

namespace vorn {

// True when the render completed (including "no change" runs).
bool run_render_board(const std::string& slug);

}  // namespace vorn
