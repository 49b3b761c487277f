// SVG pictures of a part for the component viewer: the symbol (document mils, y flipped for the
// screen) and the footprint (millimetres as stored). Pins and pads carry their number and name
// as data attributes for the viewer's tooltips. Every picture comes from fixed templates;
// numbers are printed either in fixed notation ({:.1}, {:.3}) or in their shortest round-trip
// decimal form. Pure functions; thread-safe.
#pragma once

#include <altium_codec/part.h>

#include <map>
#include <string>
#include <string_view>

namespace vorn {

// Pin number -> pin name, for every pin whose name is neither empty nor "~" (a later pin with
// the same number wins).
using PinNames = std::map<std::string, std::string, std::less<>>;
PinNames pin_name_map(const altium_codec::Symbol& symbol);

// "&" -> "&amp;", then "'" -> "&#39;", '"' -> "&quot;", "<" -> "&lt;"; ">" is kept.
std::string html_escape(std::string_view text);

std::string symbol_svg(const altium_codec::Symbol& symbol);
std::string footprint_svg(const altium_codec::Footprint& footprint, const PinNames& pin_names);

// The stroke colour and class key of a footprint layer role.
std::string_view role_colour(altium_codec::FpLayerRole role);
std::string_view role_key(altium_codec::FpLayerRole role);

}  // namespace vorn
