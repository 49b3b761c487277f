// drawing: SVG pictures of a part document's symbol (mils, y up in the document, flipped for the
// screen) and footprint (millimetres, as stored). Pins and pads carry data-num, data-name and
// data-info attributes that the embed page turns into tooltips. Pure functions.
#pragma once

#include <string>

#include "altium_codec/part.h"

namespace vorn_embed {

std::string symbol_svg(const altium_codec::Symbol& symbol);
std::string footprint_svg(const altium_codec::Footprint& footprint);

}  // namespace vorn_embed
