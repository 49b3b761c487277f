#include "altium_codec/footprint_writer.h"

#include "altium_codec/kicad_text.h"
#include "template_fill.h"

namespace altium_codec {
namespace {

using detail::fill;
using detail::Quoted;

// ----- the footprint templates, in output order -----
constexpr std::string_view kHead = "(footprint \"{}\"\n";
constexpr std::string_view kHeader =
    "\t(version {})\n\t(generator \"vorn-lbr\")\n\t(generator_version \"{}\")\n"
    "\t(layer \"F.Cu\")\n";
constexpr int64_t kFootprintVersion = 20240108;
constexpr std::string_view kGeneratorVersion = "8.0";
constexpr std::string_view kAttrThroughHole = "\t(attr through_hole)\n";
constexpr std::string_view kAttrSmd = "\t(attr smd)\n";
constexpr std::string_view kLine =
    "\t(fp_line (start {} {}) (end {} {})\n\t\t(stroke (width {}) (type default)) (layer "
    "\"{}\"))\n";
constexpr std::string_view kRect =
    "\t(fp_rect (start {} {}) (end {} {})\n"
    "\t\t(stroke (width {}) (type default)) (fill none) (layer \"{}\"))\n";
constexpr std::string_view kCircle =
    "\t(fp_circle (center {} {}) (end {} {})\n"
    "\t\t(stroke (width {}) (type default)) (fill none) (layer \"{}\"))\n";
constexpr std::string_view kArc =
    "\t(fp_arc (start {} {}) (mid {} {}) (end {} {})\n"
    "\t\t(stroke (width {}) (type default)) (layer \"{}\"))\n";
constexpr std::string_view kPadHead = "\t(pad \"{}\" {} {} {} (size {} {})";
constexpr std::string_view kPadAt = "(at {} {})";
constexpr std::string_view kPadAtRotated = "(at {} {} {})";
constexpr std::string_view kPadDrill = " (drill {})";
constexpr std::string_view kPadLayers = " (layers {})";
constexpr std::string_view kPadRoundRect = " (roundrect_rratio 0.25)";
constexpr std::string_view kPadEnd = ")\n";
constexpr std::string_view kClose = ")\n";

// Pad type and copper/mask layers by drill and plating.
constexpr std::string_view kThruHole = "thru_hole";
constexpr std::string_view kThruHoleLayers = "\"*.Cu\" \"*.Mask\"";
constexpr std::string_view kNpThruHole = "np_thru_hole";
constexpr std::string_view kNpThruHoleLayers = "\"*.Mask\"";
constexpr std::string_view kSmd = "smd";
constexpr std::string_view kSmdLayers = "\"F.Cu\" \"F.Paste\" \"F.Mask\"";

std::string_view pad_shape(std::string_view shape) {
  if (shape == "circle" || shape == "oval" || shape == "roundrect") return shape;
  return "rect";
}

void write_graphic(std::string& out, const FpGraphic& graphic) {
  if (const auto* l = std::get_if<FpLine>(&graphic)) {
    fill(out, kLine, {l->x1, l->y1, l->x2, l->y2, l->width, kicad_layer_of(l->layer.role)});
  } else if (const auto* r = std::get_if<FpRect>(&graphic)) {
    fill(out, kRect, {r->x1, r->y1, r->x2, r->y2, r->width, kicad_layer_of(r->layer.role)});
  } else if (const auto* c = std::get_if<FpCircle>(&graphic)) {
    // The end point is the point on the circle to the right of the centre.
    fill(out, kCircle,
         {c->cx, c->cy, c->cx + c->r, c->cy, c->width, kicad_layer_of(c->layer.role)});
  } else if (const auto* a = std::get_if<FpArc>(&graphic)) {
    ArcPoints p = arc_points(a->cx, a->cy, a->r, a->start, a->end);
    fill(out, kArc,
         {p.start_x, p.start_y, p.mid_x, p.mid_y, p.end_x, p.end_y, a->width,
          kicad_layer_of(a->layer.role)});
  }
}

void write_pad(std::string& out, const Pad& pad) {
  bool hole = pad.drill_mm > 0;
  std::string_view type = kSmd;
  std::string_view layers = kSmdLayers;
  if (hole && pad.plated.value_or(true)) {
    type = kThruHole;
    layers = kThruHoleLayers;
  } else if (hole) {
    type = kNpThruHole;
    layers = kNpThruHoleLayers;
  }
  std::string_view shape = pad_shape(pad.shape);
  std::string at;
  if (pad.rotation == 0) {
    fill(at, kPadAt, {pad.x_mm, pad.y_mm});
  } else {
    fill(at, kPadAtRotated, {pad.x_mm, pad.y_mm, pad.rotation});
  }
  fill(out, kPadHead, {Quoted{pad.number}, type, shape, at, pad.w_mm, pad.h_mm});
  if (hole) fill(out, kPadDrill, {pad.drill_mm});
  fill(out, kPadLayers, {layers});
  if (shape == "roundrect") out += kPadRoundRect;
  out += kPadEnd;
}

}  // namespace

std::string_view kicad_layer_of(FpLayerRole role) {
  switch (role) {
    case FpLayerRole::silk:
      return "F.SilkS";
    case FpLayerRole::courtyard:
      return "F.CrtYd";
    case FpLayerRole::fab:
      return "F.Fab";
    case FpLayerRole::copper:
      return "F.Cu";
    case FpLayerRole::other:
      return "F.Fab";
  }
  return "F.Fab";
}

std::string write_kicad_footprint(const Footprint& footprint) {
  std::string out;
  out.reserve(512 + 160 * (footprint.pads.size() + footprint.graphics.size()));
  fill(out, kHead, {Quoted{footprint.name}});
  fill(out, kHeader, {kFootprintVersion, kGeneratorVersion});
  bool through_hole = false;
  for (const Pad& pad : footprint.pads) through_hole = through_hole || pad.drill_mm > 0;
  out += through_hole ? kAttrThroughHole : kAttrSmd;
  for (const FpGraphic& graphic : footprint.graphics) write_graphic(out, graphic);
  for (const Pad& pad : footprint.pads) write_pad(out, pad);
  out += kClose;
  return out;
}

}  // namespace altium_codec
