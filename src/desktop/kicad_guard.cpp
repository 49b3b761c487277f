// KiCad's loading rules for the symbol and footprint writers' output, checked on the records.
#include "desktop/kicad_guard.h"

#include <cmath>
#include <cstdio>
#include <variant>

#include "util/text.h"

namespace vorn {
namespace {

using namespace altium_codec;

// KiCad refuses a library holding a longer symbol name (245 bytes load in KiCad 9; the margin
// keeps the rule clear of version differences).
constexpr size_t kMaxSymbolNameBytes = 200;

// Pad angles beyond a turn are nonsense in a part, and KiCad hangs normalising huge ones.
constexpr double kMaxPadRotation = 360;

bool has_control(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// KiCad refuses a whole library when any quoted string in it holds a raw line feed.
bool has_line_feed(std::string_view text) { return text.find('\n') != std::string_view::npos; }

bool all_finite(std::initializer_list<double> values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// 450 as "450", 1e15 as "1e+15".
std::string short_number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::optional<std::string> name_refusal(std::string_view name) {
  if (name.empty()) return "the symbol name is empty";
  if (name.find('"') != std::string_view::npos) return "the symbol name holds a double quote";
  if (name.find('\\') != std::string_view::npos) return "the symbol name holds a backslash";
  if (name.find(':') != std::string_view::npos) return "the symbol name holds a colon";
  if (name.find_first_of("<>") != std::string_view::npos) return "the symbol name holds an angle bracket";
  if (has_control(name)) return "the symbol name holds a control character";
  if (name.size() > kMaxSymbolNameBytes) {
    return "the symbol name is longer than " + std::to_string(kMaxSymbolNameBytes) + " bytes";
  }
  return std::nullopt;
}

// Every text the symbol writer puts in the file, as read from a part document or a KiCad file.
bool symbol_texts_are_utf8(const Symbol& symbol) {
  if (!is_valid_utf8(symbol.name) || !is_valid_utf8(symbol.designator_prefix.value_or("")) ||
      !is_valid_utf8(symbol.footprint.value_or(""))) {
    return false;
  }
  for (const auto& pin : symbol.pins) {
    if (!is_valid_utf8(pin.number) || !is_valid_utf8(pin.name)) return false;
  }
  for (const auto& p : symbol.parameters) {
    if (!is_valid_utf8(p.name) || !is_valid_utf8(p.value)) return false;
  }
  return true;
}

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

std::optional<std::string> pad_refusal(const Pad& pad) {
  if (!is_valid_utf8(pad.number)) return "a pad number is not valid UTF-8";
  if (has_line_feed(pad.number)) return "a pad number holds a line break";
  if (!all_finite({pad.x_mm, pad.y_mm, pad.w_mm, pad.h_mm, pad.drill_mm, pad.rotation})) {
    return "pad " + pad.number + " holds a number that is not finite";
  }
  if (std::abs(pad.rotation) > kMaxPadRotation) {
    return "pad " + pad.number + " has rotation " + short_number(pad.rotation) + " (KiCad takes -360 to 360)";
  }
  return std::nullopt;
}

bool footprint_graphic_is_finite(const FpGraphic& g) {
  return std::visit(
      [](const auto& s) {
        using S = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<S, FpLine> || std::is_same_v<S, FpRect>) {
          return all_finite({s.x1, s.y1, s.x2, s.y2, s.width});
        } else if constexpr (std::is_same_v<S, FpCircle>) {
          return all_finite({s.cx, s.cy, s.r, s.width});
        } else {
          return all_finite({s.cx, s.cy, s.r, s.start, s.end, s.width});
        }
      },
      g);
}

// A raw line feed or carriage return between the quotes of a quoted string.
bool quoted_line_break(std::string_view text) {
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!in_string) {
      in_string = c == '"';
    } else if (c == '\\') {
      ++i;
      if (i < text.size() && (text[i] == '\n' || text[i] == '\r')) return true;
    } else if (c == '"') {
      in_string = false;
    } else if (c == '\n' || c == '\r') {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> kicad_text_refusal(std::string_view text) {
  if (!is_valid_utf8(text)) return "the KiCad text is not valid UTF-8";
  if (quoted_line_break(text)) return "a quoted text holds a line break";
  return std::nullopt;
}

std::optional<std::string> symbol_refusal(const Symbol& symbol) {
  if (!symbol_texts_are_utf8(symbol)) return "the symbol holds text that is not valid UTF-8";
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

std::optional<std::string> footprint_refusal(const Footprint& footprint) {
  if (!is_valid_utf8(footprint.name)) return "the footprint name is not valid UTF-8";
  if (has_line_feed(footprint.name)) return "the footprint name holds a line break";
  for (const auto& pad : footprint.pads) {
    if (auto why = pad_refusal(pad)) return why;
  }
  for (const auto& g : footprint.graphics) {
    if (!footprint_graphic_is_finite(g)) return "a footprint shape holds a number that is not finite";
  }
  return std::nullopt;
}

}  // namespace vorn
