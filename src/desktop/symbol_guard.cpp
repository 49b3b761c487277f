// KiCad's loading rules for the symbol writer's output, checked on the symbol record.
#include "desktop/symbol_guard.h"

#include <cmath>
#include <variant>

namespace vorn {
namespace {

using namespace altium_codec;

bool has_control(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::optional<std::string> name_refusal(std::string_view name) {
  if (name.empty()) return "the symbol name is empty";
  if (name.find('"') != std::string_view::npos) return "the symbol name holds a double quote";
  if (name.find('\\') != std::string_view::npos) return "the symbol name holds a backslash";
  if (name.find(':') != std::string_view::npos) return "the symbol name holds a colon";
  if (name.find_first_of("<>") != std::string_view::npos) return "the symbol name holds an angle bracket";
  if (has_control(name)) return "the symbol name holds a control character";
  return std::nullopt;
}

// KiCad refuses a whole library when any quoted string in it holds a raw line feed.
bool has_line_feed(std::string_view text) { return text.find('\n') != std::string_view::npos; }

std::optional<std::string> pin_refusal(const Pin& pin) {
  if (has_line_feed(pin.number) || has_line_feed(pin.name)) return "a pin number or name holds a line break";
  if (pin.rotation != 0 && pin.rotation != 90 && pin.rotation != 180 && pin.rotation != 270) {
    return "pin " + pin.number + " has rotation " + std::to_string(pin.rotation) +
           " (KiCad takes 0, 90, 180 or 270)";
  }
  return std::nullopt;
}

std::optional<std::string> parameter_refusal(const Parameter& p) {
  if (p.name.empty()) return "a parameter has an empty name";
  if (p.name.find('"') != std::string::npos) return "parameter name " + p.name + " holds a double quote";
  if (p.name.find('\\') != std::string::npos) return "parameter name " + p.name + " holds a backslash";
  if (has_control(p.name)) return "parameter name " + p.name + " holds a control character";
  if (has_line_feed(p.value)) return "parameter " + p.name + " has a value with a line break";
  return std::nullopt;
}

bool all_finite(std::initializer_list<double> values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

std::optional<std::string> graphic_refusal(const Graphic& g) {
  if (const auto* line = std::get_if<GraphicPolyline>(&g)) {
    if (line->points.empty()) return "a polyline has no points";
    for (const auto& pt : line->points) {
      if (!all_finite({pt[0], pt[1]})) return "a polyline point is not a finite number";
    }
    if (!all_finite({line->width})) return "a polyline width is not a finite number";
  } else if (const auto* r = std::get_if<GraphicRect>(&g)) {
    if (!all_finite({r->x1, r->y1, r->x2, r->y2, r->width})) return "a rectangle holds a number that is not finite";
  } else if (const auto* c = std::get_if<GraphicCircle>(&g)) {
    if (!all_finite({c->cx, c->cy, c->r, c->width})) return "a circle holds a number that is not finite";
  } else if (const auto* a = std::get_if<GraphicArc>(&g)) {
    if (!all_finite({a->cx, a->cy, a->r, a->width})) return "an arc holds a number that is not finite";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> symbol_refusal(const Symbol& symbol) {
  if (auto why = name_refusal(symbol.name)) return why;
  if (has_line_feed(symbol.designator_prefix.value_or("")) || has_line_feed(symbol.footprint.value_or(""))) {
    return "the reference prefix or footprint name holds a line break";
  }
  for (const auto& pin : symbol.pins) {
    if (auto why = pin_refusal(pin)) return why;
  }
  for (const auto& p : symbol.parameters) {
    if (auto why = parameter_refusal(p)) return why;
  }
  for (const auto& g : symbol.graphics) {
    if (auto why = graphic_refusal(g)) return why;
  }
  return std::nullopt;
}

}  // namespace vorn
