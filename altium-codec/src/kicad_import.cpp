// The whole KiCad import: parses both texts, imports symbol and footprint, links pins to pads.
#include <cmath>
#include <numbers>
#include <unordered_set>

#include "altium_codec/kicad.h"

namespace altium_codec {

std::expected<VornLbrPart, std::string> import_kicad(std::string_view symbol_text,
                                                     std::string_view footprint_text,
                                                     std::string_view wanted_name) {
  auto library = sexpr::parse_borrowed(symbol_text);
  if (!library) return std::unexpected(std::move(library.error()));
  auto symbol = import_kicad_symbol(library->root(), wanted_name);
  if (!symbol) return std::unexpected(std::move(symbol.error()));
  auto footprint_doc = sexpr::parse_borrowed(footprint_text);
  if (!footprint_doc) return std::unexpected(std::move(footprint_doc.error()));

  VornLbrPart part;
  part.schema_version = 2;
  part.mpn = std::string(wanted_name);
  part.footprint = import_kicad_footprint(footprint_doc->root());
  part.symbol = std::move(*symbol);
  part.symbol.footprint = part.footprint.name;
  part.connect = connect_pins_to_pads(part.symbol, part.footprint);
  part.provenance = nlohmann::json{{"source", "kicad_import"}};
  return part;
}

std::vector<ConnectEntry> connect_pins_to_pads(const Symbol& symbol, const Footprint& footprint) {
  std::unordered_set<std::string_view> pads;
  pads.reserve(footprint.pads.size());
  for (const Pad& pad : footprint.pads) pads.insert(pad.number);
  std::vector<ConnectEntry> out;
  for (const Pin& pin : symbol.pins) {
    if (pads.contains(pin.number)) out.push_back(ConnectEntry{pin.number, pin.number});
  }
  return out;
}

namespace {
double angle_deg(double y, double x) {
  double a = std::atan2(y, x) * (180.0 / std::numbers::pi);
  return a < 0 ? a + 360.0 : a;
}
double rem_euclid_360(double v) {
  double r = std::fmod(v, 360.0);
  return r < 0 ? r + 360.0 : r;
}
}  // namespace

std::optional<ThreePointArc> arc_through(double a, double b, double c, double d, double e,
                                         double f) {
  const double g = 2.0 * (e * (b - d) + c * (f - b) + a * (d - f));
  // Collinear points (and non-finite input, whose g fails the comparison) give no arc.
  if (!(std::fabs(g) >= 1e-9)) return std::nullopt;
  const double s = a * a + b * b;
  const double m = c * c + d * d;
  const double en = e * e + f * f;
  const double cx = ((b - d) * en + (f - b) * m + (d - f) * s) / g;
  const double cy = ((c - a) * en + (a - e) * m + (e - c) * s) / g;
  const double r = std::hypot(a - cx, b - cy);
  const double start_angle = angle_deg(b - cy, a - cx);
  const double mid_angle = angle_deg(d - cy, c - cx);
  const double end_angle = angle_deg(f - cy, e - cx);
  const double to_mid = rem_euclid_360(mid_angle - start_angle);
  const double to_end = rem_euclid_360(end_angle - start_angle);
  if (to_mid <= to_end) return ThreePointArc{cx, cy, r, start_angle, end_angle};
  return ThreePointArc{cx, cy, r, end_angle, start_angle};
}

}  // namespace altium_codec
