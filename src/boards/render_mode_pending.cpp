// Board rendering is not built yet: the render mode reports that nothing was rendered.
#include <iostream>

#include "boards/render_mode.h"

namespace vorn {

bool run_render_board(const std::string&) {
  std::cerr << "nothing rendered (not a KiCad board?)\n";
  return false;
}

}  // namespace vorn
