// The board render: a board page's schematics, PCB and 3D model exported by the remote KiCad
// export service into sheet pictures, a PCB picture and a GLB. Never fails; each part that cannot
// be produced is absent. Thread-safe across boards (work files are named per slug); two renders
// of one board at once share work files and must be avoided by the caller.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn::boards {

struct Sheet {
  std::string name;
  std::string svg;
};

struct RenderResult {
  std::vector<Sheet> sheets;
  std::optional<std::string> pcb_svg;
  std::optional<std::string> glb;

  bool empty() const { return sheets.empty() && !pcb_svg && !glb; }
};

RenderResult render_board(std::string_view slug);

// The sheet name of an exported SVG file stem, given the project file's stem when there is one.
std::string sheet_name(std::string_view stem, const std::optional<std::string>& project_stem);
// "Root" first, then ascending byte order of names; stable.
void sort_sheets(std::vector<Sheet>& sheets);

}  // namespace vorn::boards
