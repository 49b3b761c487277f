// KiCad footprint writer: one `Footprint` of a part document becomes the complete text of
// a `.kicad_mod` file (version 20240108): header, mounting attribute, shapes, pads.
//
// Footprint geometry is already in millimetres and printed unscaled. Output is
// fixed-template text, byte for byte determined by the footprint. Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "altium_codec/part.h"

namespace altium_codec {

std::string write_kicad_footprint(const Footprint& footprint);

// The KiCad layer name of a footprint shape role ("F.SilkS", "F.CrtYd", "F.Fab", "F.Cu").
std::string_view kicad_layer_of(FpLayerRole role);

}  // namespace altium_codec
