// kicad: builds a part document (part.h) from the texts of a KiCad symbol library
// (.kicad_sym) and a KiCad footprint (.kicad_mod).
//
// The importer reads only what a part document can hold: from the symbol, its pins (of all
// units), polylines, rectangles, circles, arcs, pin visibility and the Reference prefix; from
// the footprint, its pads and its line, rectangle, circle and arc shapes on silk, courtyard,
// fab and copper layers. Symbol millimetres become mils (pin positions and lengths rounded to
// whole mils, graphics kept fractional) and the symbol is re-centred on the 50-mil grid;
// footprint millimetres are kept as they are.
//
// Errors are the s-expression reader's messages (sexpr.h) for either text, and
//   "no (symbol ...) in kicad_sym"
//   "library holds {n} symbols and none is named {"wanted"} — available: {A, B, ...}"
// Every other irregularity (missing lists, non-numbers, unknown layers, collinear arcs) falls
// back to a default or skips the item. Pure functions; thread-safe; no I/O.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "altium_codec/part.h"
#include "altium_codec/sexpr.h"

namespace altium_codec {

// The whole import: symbol library text, footprint text and the wanted symbol name (also
// the part's `mpn`). Symbol errors come before footprint errors.
[[nodiscard]] std::expected<VornLbrPart, std::string> import_kicad(std::string_view symbol_text,
                                                                   std::string_view footprint_text,
                                                                   std::string_view wanted_name);

// The symbol of an already parsed library root: the only symbol, or the first whose name
// matches `wanted_name` ignoring ASCII case. `footprint` of the result is left absent.
[[nodiscard]] std::expected<Symbol, std::string> import_kicad_symbol(sexpr::Node library_root,
                                                                     std::string_view wanted_name);

// The footprint of an already parsed footprint root. Cannot fail.
Footprint import_kicad_footprint(sexpr::Node footprint_root);

// One connect entry (pin = pad = number) for every pin, in order, whose number is also the
// number of some pad.
std::vector<ConnectEntry> connect_pins_to_pads(const Symbol& symbol, const Footprint& footprint);

// Circle through three points, with the angles (degrees, 0..360) chosen so that the arc runs
// counter-clockwise from `start` to `end` through the mid point. Nothing for collinear points.
struct ThreePointArc {
  double cx, cy, r, start, end;
};
std::optional<ThreePointArc> arc_through(double start_x, double start_y, double mid_x, double mid_y,
                                         double end_x, double end_y);

}  // namespace altium_codec
