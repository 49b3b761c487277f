#include "altium_codec/symbol_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "altium_codec/kicad_text.h"
#include "template_fill.h"

namespace altium_codec {
namespace {

using detail::fill;
using detail::Quoted;

// ----- the symbol library templates, in output order -----
constexpr std::string_view kHeader =
    "(kicad_symbol_lib\n\t(version {})\n\t(generator \"{}\")\n\t(generator_version \"{}\")\n";
constexpr int64_t kLibraryVersion = 20231120;
constexpr std::string_view kGenerator = "vorn-lbr";
constexpr std::string_view kGeneratorVersion = "8.0";
constexpr std::string_view kSymbolHead = "\t(symbol \"{}\"\n";
constexpr std::string_view kPinNumbersShown = "\t\t(pin_numbers)\n";
constexpr std::string_view kPinNumbersHidden = "\t\t(pin_numbers{})\n";
constexpr std::string_view kPinNamesShown = "\t\t(pin_names (offset 0.254))\n";
constexpr std::string_view kPinNamesHidden = "\t\t(pin_names (offset 0.254){})\n";
constexpr std::string_view kHideSuffix = " (hide yes)";
constexpr std::string_view kFlags =
    "\t\t(exclude_from_sim no)\n"
    "\t\t(in_bom yes)\n\t\t(on_board yes)\n";
constexpr std::string_view kProperty =
    "\t\t(property \"{}\" \"{}\"\n\t\t\t(at {} {} 0)\n\t\t\t(effects (font (size 1.27 1.27)){})\n"
    "\t\t)\n";
constexpr std::string_view kGraphicsUnitHead = "\t\t(symbol \"{}_0_1\"\n";
constexpr std::string_view kUnitTail = "\t\t)\n";
constexpr std::string_view kPinsUnitHead = "\t\t(symbol \"{}_1_1\"\n";
constexpr std::string_view kTail = "\t\t)\n\t)\n)\n";
constexpr std::string_view kStyle =
    "\t\t\t\t(stroke (width {}) (type default))\n\t\t\t\t(fill (type {}))\n";
constexpr std::string_view kPolyline = "\t\t\t(polyline\n\t\t\t\t(pts\n{}\t\t\t\t)\n{}\t\t\t)\n";
constexpr std::string_view kPolylinePoint = "\t\t\t\t\t(xy {} {})\n";
constexpr std::string_view kRectangle =
    "\t\t\t(rectangle\n\t\t\t\t(start {} {})\n\t\t\t\t(end {} {})\n{}\t\t\t)\n";
constexpr std::string_view kCircle =
    "\t\t\t(circle\n\t\t\t\t(center {} {})\n\t\t\t\t(radius {})\n{}\t\t\t)\n";
constexpr std::string_view kArc =
    "\t\t\t(arc\n\t\t\t\t(start {} {})\n\t\t\t\t(mid {} {})\n\t\t\t\t(end {} {})\n{}\t\t\t)\n";
constexpr std::string_view kPin =
    "\t\t\t(pin unspecified line\n\t\t\t\t(at {} {} {})\n\t\t\t\t(length {})\n"
    "\t\t\t\t(name \"{}\" (effects (font (size 1.27 1.27))))\n"
    "\t\t\t\t(number \"{}\" (effects (font (size 1.27 1.27))))\n\t\t\t)\n";

constexpr double kMil = 0.0254;             // mm per document unit
constexpr double kPropertyMargin = 1.27;    // Reference above, Value below the drawing
constexpr double kEmptyPropertyY = 3.81;    // Reference/Value y when nothing is drawn
constexpr double kDefaultPinLength = 5.08;  // mm
constexpr std::string_view kDefaultDesignator = "U";
constexpr size_t kFewPins = 3;  // fewer pins than this hide numbers/names

bool is_value_name(std::string_view name) {
  constexpr std::string_view kValue = "value";
  return name.size() == kValue.size() &&
         std::equal(name.begin(), name.end(), kValue.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

struct Box {
  double min_x = std::numeric_limits<double>::infinity();
  double min_y = std::numeric_limits<double>::infinity();
  double max_x = -std::numeric_limits<double>::infinity();
  double max_y = -std::numeric_limits<double>::infinity();
  bool empty = true;

  void add(double x, double y) {
    min_x = std::min(min_x, x);
    min_y = std::min(min_y, y);
    max_x = std::max(max_x, x);
    max_y = std::max(max_y, y);
    empty = false;
  }
};

Box bounding_box(const Symbol& symbol) {
  Box box;
  for (const Pin& pin : symbol.pins) box.add(pin.x, pin.y);
  for (const Graphic& graphic : symbol.graphics) {
    if (const auto* p = std::get_if<GraphicPolyline>(&graphic)) {
      for (const auto& point : p->points) box.add(point[0], point[1]);
    } else if (const auto* r = std::get_if<GraphicRect>(&graphic)) {
      box.add(r->x1, r->y1);
      box.add(r->x2, r->y2);
    } else if (const auto* c = std::get_if<GraphicCircle>(&graphic)) {
      box.add(c->cx - c->r, c->cy - c->r);
      box.add(c->cx + c->r, c->cy + c->r);
    } else if (const auto* a = std::get_if<GraphicArc>(&graphic)) {
      box.add(a->cx - a->r, a->cy - a->r);
      box.add(a->cx + a->r, a->cy + a->r);
    }
  }
  return box;
}

void write_property(std::string& out, std::string_view name, std::string_view value, double x,
                    double y, bool hidden) {
  fill(out, kProperty, {name, Quoted{value}, x, y, hidden ? kHideSuffix : std::string_view()});
}

std::string style_text(double width, bool filled) {
  double mm = width * kMil;
  if (!(mm > 0)) mm = 0;  // negative and not-a-number widths print 0
  std::string out;
  fill(out, kStyle, {mm, filled ? "outline" : "none"});
  return out;
}

void write_graphic(std::string& out, const Graphic& graphic) {
  if (const auto* p = std::get_if<GraphicPolyline>(&graphic)) {
    std::string points;
    for (const auto& point : p->points) {
      fill(points, kPolylinePoint, {point[0] * kMil, point[1] * kMil});
    }
    fill(out, kPolyline, {points, style_text(p->width, false)});
  } else if (const auto* r = std::get_if<GraphicRect>(&graphic)) {
    fill(out, kRectangle,
         {r->x1 * kMil, r->y1 * kMil, r->x2 * kMil, r->y2 * kMil, style_text(r->width, r->filled)});
  } else if (const auto* c = std::get_if<GraphicCircle>(&graphic)) {
    fill(out, kCircle, {c->cx * kMil, c->cy * kMil, c->r * kMil, style_text(c->width, false)});
  } else if (const auto* a = std::get_if<GraphicArc>(&graphic)) {
    ArcPoints pts = arc_points(a->cx, a->cy, a->r, a->start, a->end);
    fill(out, kArc,
         {pts.start_x * kMil, pts.start_y * kMil, pts.mid_x * kMil, pts.mid_y * kMil,
          pts.end_x * kMil, pts.end_y * kMil, style_text(a->width, false)});
  }
}

void write_pin(std::string& out, const Pin& pin) {
  double length = pin.length ? *pin.length * kMil : kDefaultPinLength;
  std::string_view name = pin.name == "~" ? std::string_view() : std::string_view(pin.name);
  fill(out, kPin,
       {pin.x * kMil, pin.y * kMil, static_cast<int64_t>(pin.rotation), length, Quoted{name},
        Quoted{pin.number}});
}

}  // namespace

std::string write_kicad_symbol_lib(const Symbol& symbol) {
  std::string out;
  out.reserve(1024 + 256 * (symbol.pins.size() + symbol.graphics.size()));
  fill(out, kHeader, {kLibraryVersion, kGenerator, kGeneratorVersion});
  fill(out, kSymbolHead, {symbol.name});

  bool few_pins = symbol.pins.size() < kFewPins;
  bool numbers_hidden = symbol.pin_numbers_hidden.value_or(few_pins);
  bool names_hidden = symbol.pin_names_hidden.value_or(few_pins);
  if (numbers_hidden) {
    fill(out, kPinNumbersHidden, {kHideSuffix});
  } else {
    out += kPinNumbersShown;
  }
  if (names_hidden) {
    fill(out, kPinNamesHidden, {kHideSuffix});
  } else {
    out += kPinNamesShown;
  }
  out += kFlags;

  Box box = bounding_box(symbol);
  double centre_x = 0;
  double reference_y = kEmptyPropertyY;
  double value_y = -kEmptyPropertyY;
  if (!box.empty) {
    centre_x = (box.min_x + box.max_x) * 0.5 * kMil;
    reference_y = box.max_y * kMil + kPropertyMargin;
    value_y = box.min_y * kMil - kPropertyMargin;
  }

  std::string_view value_text = symbol.name;
  for (const Parameter& p : symbol.parameters) {
    if (is_value_name(p.name)) {
      value_text = p.value;
      break;
    }
  }
  std::string_view reference =
      symbol.designator_prefix ? std::string_view(*symbol.designator_prefix) : kDefaultDesignator;
  std::string_view footprint =
      symbol.footprint ? std::string_view(*symbol.footprint) : std::string_view();

  write_property(out, "Reference", reference, centre_x, reference_y, false);
  write_property(out, "Value", value_text, centre_x, value_y, false);
  write_property(out, "Footprint", footprint, 0, 0, true);
  write_property(out, "Datasheet", "", 0, 0, true);
  for (const Parameter& p : symbol.parameters) {
    if (is_value_name(p.name)) continue;
    write_property(out, p.name, p.value, 0, 0, !p.visible);
  }

  if (!symbol.graphics.empty()) {
    fill(out, kGraphicsUnitHead, {symbol.name});
    for (const Graphic& graphic : symbol.graphics) write_graphic(out, graphic);
    out += kUnitTail;
  }
  fill(out, kPinsUnitHead, {symbol.name});
  for (const Pin& pin : symbol.pins) write_pin(out, pin);
  out += kTail;
  return out;
}

}  // namespace altium_codec
