// embed_cli: the command line shared by vorn-symbol and vorn-footprint:
//   <tool> embed --file <KiCad file> --out <html file>
// reads a .kicad_sym (symbol) or .kicad_mod (footprint), imports it with the part codec and
// writes the interactive page. Exit status 0 on success, 1 on a bad file, 2 on bad usage.
#pragma once

namespace vorn_embed {

enum class Kind { symbol, footprint };

int run_embed(int argc, char** argv, Kind kind);

}  // namespace vorn_embed
