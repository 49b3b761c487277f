// Symbol half of the KiCad import: symbol choice, pins, graphics, pin visibility, re-centring.
#include <cmath>
#include <cstdint>
#include <limits>

#include "altium_codec/kicad.h"

namespace altium_codec {
namespace {

using sexpr::Node;

constexpr double kMmPerMil = 0.0254;
constexpr double kDefaultWidthMil = 6.0;
// Libraries from this version on write "~" as a literal pin name rather than "no name".
constexpr std::uint64_t kLiteralTildeVersion = 20250318;

std::int32_t saturate_i32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (v <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(v);
}

// Millimetres to whole mils, halves away from zero.
std::int32_t mm_to_mil_rounded(double mm) {
  return saturate_i32(std::round(mm / kMmPerMil));
}

std::optional<std::uint64_t> parse_unsigned(std::string_view t) {
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (v > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    v = v * 10 + digit;
  }
  return v;
}

bool is_old_library(Node root) {
  auto version = root.child("version");
  if (!version) return true;
  auto text = version->atom(1);
  if (!text) return true;
  auto number = parse_unsigned(*text);
  return !number || *number < kLiteralTildeVersion;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The first two numbers of the child `head` of `n`.
std::optional<std::array<double, 2>> point_of(Node n, std::string_view head) {
  auto list = n.child(head);
  if (!list) return std::nullopt;
  auto x = list->number(0);
  if (!x) return std::nullopt;
  auto y = list->number(1);
  if (!y) return std::nullopt;
  return std::array<double, 2>{*x, *y};
}

std::optional<double> first_number_of(Node n, std::string_view head) {
  auto list = n.child(head);
  if (!list) return std::nullopt;
  return list->number(0);
}

Pin import_pin(Node pin, bool old_library) {
  Pin out;
  if (auto at = pin.child("at")) {
    out.x = mm_to_mil_rounded(at->number(0).value_or(0.0));
    out.y = mm_to_mil_rounded(at->number(1).value_or(0.0));
    if (auto angle = at->number(2)) {
      // Truncate toward zero, saturate, then wrap into 0..359.
      const std::int64_t whole = saturate_i32(std::trunc(*angle));
      out.rotation = static_cast<std::uint16_t>(((whole % 360) + 360) % 360);
    }
  }
  auto number_list = pin.child("number");
  auto number = number_list ? number_list->atom(1) : std::nullopt;
  out.number = number ? std::string(*number) : std::string("?");
  auto name_list = pin.child("name");
  auto name = name_list ? name_list->atom(1) : std::nullopt;
  if (name && !(old_library && *name == "~")) out.name = std::string(*name);
  if (auto length = first_number_of(pin, "length")) out.length = mm_to_mil_rounded(*length);
  return out;
}

double stroke_width_mil(Node shape) {
  if (auto stroke = shape.child("stroke")) {
    if (auto width = first_number_of(*stroke, "width")) return *width / kMmPerMil;
  }
  return kDefaultWidthMil;
}

std::optional<Graphic> import_polyline(Node n) {
  auto pts = n.child("pts");
  if (!pts) return std::nullopt;
  GraphicPolyline out;
  pts->for_each_list("xy", [&](Node xy) {
    auto x = xy.number(0);
    auto y = xy.number(1);
    if (x && y) out.points.push_back({*x / kMmPerMil, *y / kMmPerMil});
  });
  out.width = stroke_width_mil(n);
  return out;
}

std::optional<Graphic> import_rectangle(Node n) {
  auto start = point_of(n, "start");
  auto end = point_of(n, "end");
  if (!start || !end) return std::nullopt;
  GraphicRect out;
  out.x1 = (*start)[0] / kMmPerMil;
  out.y1 = (*start)[1] / kMmPerMil;
  out.x2 = (*end)[0] / kMmPerMil;
  out.y2 = (*end)[1] / kMmPerMil;
  out.width = stroke_width_mil(n);
  if (auto fill = n.child("fill")) {
    if (auto type = fill->child("type")) {
      auto kind = type->atom(1);
      out.filled = kind && *kind != "none";
    }
  }
  return out;
}

std::optional<Graphic> import_circle(Node n) {
  auto center = point_of(n, "center");
  auto radius = first_number_of(n, "radius");
  if (!center || !radius) return std::nullopt;
  return GraphicCircle{(*center)[0] / kMmPerMil, (*center)[1] / kMmPerMil, *radius / kMmPerMil,
                       stroke_width_mil(n)};
}

std::optional<Graphic> import_arc(Node n) {
  auto start = point_of(n, "start");
  auto mid = point_of(n, "mid");
  auto end = point_of(n, "end");
  if (!start || !mid || !end) return std::nullopt;
  auto arc = arc_through((*start)[0], (*start)[1], (*mid)[0], (*mid)[1], (*end)[0], (*end)[1]);
  if (!arc) return std::nullopt;
  return GraphicArc{
      arc->cx / kMmPerMil, arc->cy / kMmPerMil, arc->r / kMmPerMil, arc->start, arc->end,
      stroke_width_mil(n)};
}

// "hide yes" in a (hide ...) child, or else a bare "hide" atom.
bool hides(Node symbol, std::string_view head) {
  auto list = symbol.child(head);
  if (!list) return false;
  if (auto hide = list->child("hide")) {
    if (auto value = hide->atom(1)) return *value == "yes";
  }
  for (Node c : *list) {
    if (c.is_atom() && c.text() == "hide") return true;
  }
  return false;
}

struct Box {
  double min_x = std::numeric_limits<double>::infinity();
  double min_y = std::numeric_limits<double>::infinity();
  double max_x = -std::numeric_limits<double>::infinity();
  double max_y = -std::numeric_limits<double>::infinity();
  bool empty = true;
  void add(double x, double y) {
    empty = false;
    min_x = std::min(min_x, x);
    min_y = std::min(min_y, y);
    max_x = std::max(max_x, x);
    max_y = std::max(max_y, y);
  }
};

struct Shift {
  double dx, dy;
  void operator()(GraphicPolyline& g) const {
    for (auto& p : g.points) p[0] -= dx, p[1] -= dy;
  }
  void operator()(GraphicRect& g) const { g.x1 -= dx, g.y1 -= dy, g.x2 -= dx, g.y2 -= dy; }
  void operator()(GraphicCircle& g) const { g.cx -= dx, g.cy -= dy; }
  void operator()(GraphicArc& g) const { g.cx -= dx, g.cy -= dy; }
};

// Moves the drawing so that its bounding-box centre lies within 25 mils of the origin, by a
// multiple of 50 mils (the schematic grid) in each axis.
void recentre(Symbol& s) {
  Box box;
  for (const Pin& p : s.pins) box.add(p.x, p.y);
  for (const Graphic& g : s.graphics) {
    if (auto* pl = std::get_if<GraphicPolyline>(&g)) {
      for (const auto& pt : pl->points) box.add(pt[0], pt[1]);
    } else if (auto* r = std::get_if<GraphicRect>(&g)) {
      box.add(r->x1, r->y1);
      box.add(r->x2, r->y2);
    } else if (auto* c = std::get_if<GraphicCircle>(&g)) {
      box.add(c->cx - c->r, c->cy - c->r);
      box.add(c->cx + c->r, c->cy + c->r);
    } else if (auto* a = std::get_if<GraphicArc>(&g)) {
      box.add(a->cx - a->r, a->cy - a->r);
      box.add(a->cx + a->r, a->cy + a->r);
    }
  }
  if (box.empty) return;
  const double dx = std::round((box.min_x + box.max_x) * 0.5 / 50.0) * 50.0;
  const double dy = std::round((box.min_y + box.max_y) * 0.5 / 50.0) * 50.0;
  for (Pin& p : s.pins) {
    p.x = saturate_i32(static_cast<double>(p.x) - dx);
    p.y = saturate_i32(static_cast<double>(p.y) - dy);
  }
  for (Graphic& g : s.graphics) std::visit(Shift{dx, dy}, g);
}

}  // namespace

std::expected<Symbol, std::string> import_kicad_symbol(Node root, std::string_view wanted_name) {
  const bool old_library = is_old_library(root);
  std::vector<Node> candidates;
  for (Node c : root) {
    if (c.is_list() && c.head() == "symbol") candidates.push_back(c);
  }
  if (candidates.empty()) return std::unexpected(std::string("no (symbol ...) in kicad_sym"));
  std::optional<Node> chosen;
  if (candidates.size() == 1) {
    chosen = candidates.front();
  } else {
    for (Node c : candidates) {
      auto name = c.atom(1);
      if (name && iequals_ascii(*name, wanted_name)) {
        chosen = c;
        break;
      }
    }
    if (!chosen) {
      std::string available;
      for (Node c : candidates) {
        if (!available.empty()) available += ", ";
        available += c.atom(1).value_or("");
      }
      return std::unexpected("library holds " + std::to_string(candidates.size()) +
                             " symbols and none is named " + sexpr::debug_quote(wanted_name) +
                             " \u2014 available: " + available);
    }
  }
  const Node sym = *chosen;

  Symbol out;
  out.name = std::string(sym.atom(1).value_or("SYM"));
  std::string_view prefix = "U";
  sym.for_each_list("property", [&](Node prop) {
    if (prop.atom(1) != "Reference") return;
    if (auto value = prop.atom(2)) prefix = *value;
  });
  out.designator_prefix = std::string(prefix);

  sym.for_each_list("pin", [&](Node pin) { out.pins.push_back(import_pin(pin, old_library)); });

  auto add_graphics = [&](std::string_view head, std::optional<Graphic> (*make)(Node)) {
    sym.for_each_list(head, [&](Node n) {
      if (auto g = make(n)) out.graphics.push_back(std::move(*g));
    });
  };
  add_graphics("polyline", import_polyline);
  add_graphics("rectangle", import_rectangle);
  add_graphics("circle", import_circle);
  add_graphics("arc", import_arc);

  out.pin_numbers_hidden = hides(sym, "pin_numbers");
  out.pin_names_hidden = hides(sym, "pin_names");
  recentre(out);
  return out;
}

}  // namespace altium_codec
