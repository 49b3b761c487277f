// Symbol and footprint pictures from fixed templates.
#include "parts/part_svg.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include <altium_codec/kicad_text.h>

#include "parts/svg_template.h"

namespace vorn {
namespace {

using namespace altium_codec;

constexpr std::string_view kRoot = "<svg xmlns='http://www.w3.org/2000/svg'";
constexpr std::string_view kPlaceholder =
    " viewBox='0 0 100 40'><text x='50' y='24' text-anchor='middle' fill='#888' font-size='8'>{}</text></svg>";

// Symbol templates (screen coordinates, one digit after the point).
constexpr std::string_view kSymbolRoot = " viewBox='{} {} {} {}' style='width:100%;height:100%'>{}</svg>";
constexpr std::string_view kSymRect =
    "<rect x='{:.1}' y='{:.1}' width='{:.1}' height='{:.1}' fill='{}' stroke='#e35d5d' stroke-width='4'/>";
constexpr std::string_view kSymCircle =
    "<circle cx='{:.1}' cy='{:.1}' r='{:.1}' fill='none' stroke='#e35d5d' stroke-width='4'/>";
constexpr std::string_view kSymArc =
    "<path d='M{:.1} {:.1} A{:.1} {:.1} 0 {} 0 {:.1} {:.1}' fill='none' stroke='#e35d5d' stroke-width='4'/>";
constexpr std::string_view kSymPolyline = "<polyline points='{}' fill='none' stroke='#e35d5d' stroke-width='4'/>";
constexpr std::string_view kPinGroup =
    "<g class='pingroup' data-num='{}' data-name='{}'><line class='pinvis' x1='{:.1}' y1='{:.1}' x2='{:.1}' "
    "y2='{:.1}' stroke='#dfe4ec' stroke-width='4'/><line x1='{:.1}' y1='{:.1}' x2='{:.1}' y2='{:.1}' "
    "stroke='transparent' stroke-width='26' pointer-events='stroke'/></g>";
constexpr std::string_view kPinNumber =
    "<text x='{:.1}' y='{:.1}' font-size='{}' fill='#9fb0c8' text-anchor='middle' "
    "dominant-baseline='central'>{}</text>";
constexpr std::string_view kPinName =
    "<text x='{:.1}' y='{:.1}' font-size='{}' fill='#e6e9ef' text-anchor='{}' "
    "dominant-baseline='central'>{}</text>";

// Footprint templates (millimetres, three digits after the point).
constexpr std::string_view kFootprintRoot =
    " viewBox='{:.3} {:.3} {:.3} {:.3}' style='width:100%;height:100%'>{}</svg>";
constexpr std::string_view kFpLine =
    "<line class='ly-{}' x1='{:.3}' y1='{:.3}' x2='{:.3}' y2='{:.3}' stroke='{}' stroke-width='{:.3}'/>";
constexpr std::string_view kFpRect =
    "<rect class='ly-{}' x='{:.3}' y='{:.3}' width='{:.3}' height='{:.3}' fill='none' stroke='{}' "
    "stroke-width='{:.3}'/>";
constexpr std::string_view kFpCircle =
    "<circle class='ly-{}' cx='{:.3}' cy='{:.3}' r='{:.3}' fill='none' stroke='{}' stroke-width='{:.3}'/>";
constexpr std::string_view kFpArc =
    "<path class='ly-{}' d='M{:.3} {:.3} A{:.3} {:.3} 0 0 1 {:.3} {:.3}' fill='none' stroke='{}' "
    "stroke-width='{:.3}'/>";
constexpr std::string_view kPad =
    "<rect class='ly-copper pad' data-num='{}' data-name='{}' x='{:.3}' y='{:.3}' width='{:.3}' height='{:.3}' "
    "rx='{:.3}' fill='{}' opacity='0.9'/>";

constexpr std::string_view kSymbolColour = "#e35d5d";
constexpr std::string_view kPadColour = "#f59e0b";
constexpr double kDefaultPinLength = 200;
constexpr double kBoxMarginMils = 50;
constexpr double kBoxMarginMm = 0.4;
constexpr double kMinFpStroke = 0.05;

struct RoleStyle {
  FpLayerRole role;
  std::string_view key;
  std::string_view colour;
};
constexpr RoleStyle kRoleStyles[] = {
    {FpLayerRole::silk, "silk", "#d8b4fe"},       {FpLayerRole::courtyard, "courtyard", "#4ade80"},
    {FpLayerRole::fab, "fab", "#f472b6"},         {FpLayerRole::copper, "copper", "#f59e0b"},
    {FpLayerRole::other, "other", "#94a3b8"},
};

struct Box {
  double min_x = std::numeric_limits<double>::infinity();
  double min_y = std::numeric_limits<double>::infinity();
  double max_x = -std::numeric_limits<double>::infinity();
  double max_y = -std::numeric_limits<double>::infinity();

  void add(double x, double y) {
    min_x = std::min(min_x, x);
    min_y = std::min(min_y, y);
    max_x = std::max(max_x, x);
    max_y = std::max(max_y, y);
  }
  void add_round(double cx, double cy, double r) {
    add(cx - r, cy - r);
    add(cx + r, cy + r);
  }
  bool empty() const { return !(min_x <= max_x); }
};

double radians(double degrees) { return degrees * (std::numbers::pi / 180.0); }

std::string placeholder(std::string_view text) {
  std::string out(kRoot);
  svg::fill(out, kPlaceholder, {text});
  return out;
}

void add_to_box(Box& box, const Graphic& graphic) {
  if (const auto* p = std::get_if<GraphicPolyline>(&graphic)) {
    for (const auto& point : p->points) box.add(point[0], point[1]);
  } else if (const auto* r = std::get_if<GraphicRect>(&graphic)) {
    box.add(r->x1, r->y1);
    box.add(r->x2, r->y2);
  } else if (const auto* c = std::get_if<GraphicCircle>(&graphic)) {
    box.add_round(c->cx, c->cy, c->r);
  } else if (const auto* a = std::get_if<GraphicArc>(&graphic)) {
    box.add_round(a->cx, a->cy, a->r);
  }
}

void append_graphic(std::string& out, const Graphic& graphic) {
  if (const auto* p = std::get_if<GraphicPolyline>(&graphic)) {
    std::string points;
    for (const auto& point : p->points) {
      points += format_fixed(point[0], 1) + "," + format_fixed(-point[1], 1) + " ";
    }
    if (!points.empty()) points.pop_back();  // only the trailing space is white space
    svg::fill(out, kSymPolyline, {points});
  } else if (const auto* r = std::get_if<GraphicRect>(&graphic)) {
    svg::fill(out, kSymRect,
              {std::min(r->x1, r->x2), -std::max(r->y1, r->y2), std::abs(r->x2 - r->x1), std::abs(r->y2 - r->y1),
               r->filled ? kSymbolColour : std::string_view("none")});
  } else if (const auto* c = std::get_if<GraphicCircle>(&graphic)) {
    svg::fill(out, kSymCircle, {c->cx, -c->cy, c->r});
  } else if (const auto* a = std::get_if<GraphicArc>(&graphic)) {
    const double s = radians(a->start), e = radians(a->end);
    const bool large = std::fmod(a->end - a->start + 360.0, 360.0) > 180.0;
    svg::fill(out, kSymArc,
              {a->cx + a->r * std::cos(s), -(a->cy + a->r * std::sin(s)), a->r, a->r, large ? "1" : "0",
               a->cx + a->r * std::cos(e), -(a->cy + a->r * std::sin(e))});
  }
}

void append_pin(std::string& out, const Pin& pin, bool numbers_hidden, bool names_hidden) {
  const double length = pin.length ? static_cast<double>(*pin.length) : kDefaultPinLength;
  const double x = pin.x, y = pin.y;
  double end_x = x, end_y = y;
  switch ((pin.rotation / 90) % 4) {
    case 0: end_x = x + length; break;
    case 1: end_y = y + length; break;
    case 2: end_x = x - length; break;
    default: end_y = y - length; break;
  }
  // Screen coordinates: the document's y axis points up, the screen's down.
  const double sx = x, sy = -y, tx = end_x, ty = -end_y;
  const std::string number = html_escape(pin.number);
  const std::string name = html_escape(pin.name);
  svg::fill(out, kPinGroup, {number, name, sx, sy, tx, ty, sx, sy, tx, ty});

  const double dx = tx - sx, dy = ty - sy;
  const double len = std::max(std::sqrt(dx * dx + dy * dy), 1.0);
  const double ux = dx / len, uy = dy / len;
  const double fs = std::clamp(length / 2.0, 45.0, 60.0);
  if (!numbers_hidden) {
    svg::fill(out, kPinNumber,
              {sx + len * ux / 2.0 - 0.75 * fs * uy, sy + len * uy / 2.0 + 0.75 * fs * ux, fs, number});
  }
  if (!names_hidden && !pin.name.empty() && pin.name != "~") {
    const std::string_view anchor = ux > 0.3 ? "start" : ux < -0.3 ? "end" : "middle";
    svg::fill(out, kPinName, {tx + 0.5 * fs * ux, ty + 0.5 * fs * uy, fs, anchor, name});
  }
}

void add_to_box(Box& box, const FpGraphic& graphic) {
  if (const auto* l = std::get_if<FpLine>(&graphic)) {
    box.add(l->x1, l->y1);
    box.add(l->x2, l->y2);
  } else if (const auto* r = std::get_if<FpRect>(&graphic)) {
    box.add(r->x1, r->y1);
    box.add(r->x2, r->y2);
  } else if (const auto* c = std::get_if<FpCircle>(&graphic)) {
    box.add_round(c->cx, c->cy, c->r);
  } else if (const auto* a = std::get_if<FpArc>(&graphic)) {
    box.add_round(a->cx, a->cy, a->r);
  }
}

const FpLayer& layer_of(const FpGraphic& graphic) {
  return std::visit([](const auto& shape) -> const FpLayer& { return shape.layer; }, graphic);
}

void append_fp_graphic(std::string& out, const FpGraphic& graphic) {
  const FpLayerRole role = layer_of(graphic).role;
  const std::string_view key = role_key(role), colour = role_colour(role);
  const double stroke = std::visit([](const auto& shape) { return std::fmax(shape.width, kMinFpStroke); }, graphic);
  if (const auto* l = std::get_if<FpLine>(&graphic)) {
    svg::fill(out, kFpLine, {key, l->x1, l->y1, l->x2, l->y2, colour, stroke});
  } else if (const auto* r = std::get_if<FpRect>(&graphic)) {
    svg::fill(out, kFpRect,
              {key, std::min(r->x1, r->x2), std::min(r->y1, r->y2), std::abs(r->x2 - r->x1), std::abs(r->y2 - r->y1),
               colour, stroke});
  } else if (const auto* c = std::get_if<FpCircle>(&graphic)) {
    svg::fill(out, kFpCircle, {key, c->cx, c->cy, c->r, colour, stroke});
  } else if (const auto* a = std::get_if<FpArc>(&graphic)) {
    const double s = radians(a->start), e = radians(a->end);
    svg::fill(out, kFpArc,
              {key, a->cx + a->r * std::cos(s), a->cy + a->r * std::sin(s), a->r, a->r, a->cx + a->r * std::cos(e),
               a->cy + a->r * std::sin(e), colour, stroke});
  }
}

void append_pad(std::string& out, const Pad& pad, const PinNames& pin_names) {
  const auto name = pin_names.find(pad.number);
  const bool rounded = pad.shape == "circle" || pad.shape == "roundrect";
  svg::fill(out, kPad,
            {html_escape(pad.number), name == pin_names.end() ? std::string() : html_escape(name->second),
             pad.x_mm - pad.w_mm / 2.0, pad.y_mm - pad.h_mm / 2.0, pad.w_mm, pad.h_mm,
             rounded ? 0.25 * std::min(pad.w_mm, pad.h_mm) : 0.0, kPadColour});
}

}  // namespace

PinNames pin_name_map(const Symbol& symbol) {
  PinNames names;
  for (const auto& pin : symbol.pins) {
    if (!pin.name.empty() && pin.name != "~") names.insert_or_assign(pin.number, pin.name);
  }
  return names;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '\'': out += "&#39;"; break;
      case '"': out += "&quot;"; break;
      case '<': out += "&lt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string_view role_key(FpLayerRole role) {
  for (const auto& style : kRoleStyles) {
    if (style.role == role) return style.key;
  }
  return "other";
}

std::string_view role_colour(FpLayerRole role) {
  for (const auto& style : kRoleStyles) {
    if (style.role == role) return style.colour;
  }
  return "#94a3b8";
}

std::string symbol_svg(const Symbol& symbol) {
  Box box;
  for (const auto& pin : symbol.pins) box.add(pin.x, pin.y);
  for (const auto& graphic : symbol.graphics) add_to_box(box, graphic);
  if (box.empty()) return placeholder("no symbol");

  std::string body;
  for (const auto& graphic : symbol.graphics) append_graphic(body, graphic);
  const bool few_pins = symbol.pins.size() < 3;
  const bool numbers_hidden = symbol.pin_numbers_hidden.value_or(few_pins);
  const bool names_hidden = symbol.pin_names_hidden.value_or(few_pins);
  for (const auto& pin : symbol.pins) append_pin(body, pin, numbers_hidden, names_hidden);

  std::string out(kRoot);
  svg::fill(out, kSymbolRoot,
            {box.min_x - kBoxMarginMils, -(box.max_y + kBoxMarginMils), box.max_x - box.min_x + 2 * kBoxMarginMils,
             box.max_y - box.min_y + 2 * kBoxMarginMils, body});
  return out;
}

std::string footprint_svg(const Footprint& footprint, const PinNames& pin_names) {
  Box box;
  for (const auto& pad : footprint.pads) {
    box.add(pad.x_mm - pad.w_mm / 2.0, pad.y_mm - pad.h_mm / 2.0);
    box.add(pad.x_mm + pad.w_mm / 2.0, pad.y_mm + pad.h_mm / 2.0);
  }
  for (const auto& graphic : footprint.graphics) add_to_box(box, graphic);
  if (box.empty()) return placeholder("no footprint");

  std::string body;
  for (const auto& graphic : footprint.graphics) append_fp_graphic(body, graphic);
  for (const auto& pad : footprint.pads) append_pad(body, pad, pin_names);

  std::string out(kRoot);
  svg::fill(out, kFootprintRoot,
            {box.min_x - kBoxMarginMm, box.min_y - kBoxMarginMm, box.max_x - box.min_x + 2 * kBoxMarginMm,
             box.max_y - box.min_y + 2 * kBoxMarginMm, body});
  return out;
}

}  // namespace vorn
