// KiCad symbol library writer: one `Symbol` of a part document becomes the complete text
// of a `.kicad_sym` library (version 20231120) holding exactly that symbol.
//
// Coordinates in mils are scaled to millimetres (x 0.0254); the y axis is not mirrored.
// Output is fixed-template text, tab indented, one line feed per line, determined byte for
// byte by the symbol. Used by the apply job and the part embed page. Pure; thread-safe.
#pragma once

#include <string>

#include "altium_codec/part.h"

namespace altium_codec {

std::string write_kicad_symbol_lib(const Symbol& symbol);

}  // namespace altium_codec
