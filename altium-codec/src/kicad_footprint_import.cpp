// Footprint half of the KiCad import: name, pads and the drawn shapes with their layer roles.
#include <algorithm>
#include <cmath>

#include "altium_codec/kicad.h"

namespace altium_codec {
namespace {

using sexpr::Node;

constexpr double kDefaultPadSize = 0.5;
constexpr double kDefaultWidth = 0.12;

std::optional<std::array<double, 2>> point_of(Node n, std::string_view head) {
  auto list = n.child(head);
  if (!list) return std::nullopt;
  auto x = list->number(0);
  if (!x) return std::nullopt;
  auto y = list->number(1);
  if (!y) return std::nullopt;
  return std::array<double, 2>{*x, *y};
}

Pad import_pad(Node n) {
  Pad pad;
  pad.number = std::string(n.atom(1).value_or("?"));
  const std::string_view type = n.atom(2).value_or("smd");
  const std::string_view shape = n.atom(3).value_or("rect");
  if (auto at = n.child("at")) {
    pad.x_mm = at->number(0).value_or(0.0);
    pad.y_mm = at->number(1).value_or(0.0);
    pad.rotation = at->number(2).value_or(0.0);
  }
  auto size = n.child("size");
  pad.w_mm = size ? size->number(0).value_or(kDefaultPadSize) : kDefaultPadSize;
  pad.h_mm = size ? size->number(1).value_or(kDefaultPadSize) : kDefaultPadSize;
  pad.shape =
      (shape == "circle" || shape == "oval" || shape == "roundrect") ? std::string(shape) : "rect";
  if (type.ends_with("thru_hole")) {
    // The larger of an oval drill's two sizes; "(drill oval 1 2)" skips the word.
    if (auto drill = n.child("drill")) {
      for (double v : drill->numbers()) pad.drill_mm = std::max(pad.drill_mm, v);
    }
    pad.plated = type != "np_thru_hole";
  }
  return pad;
}

std::optional<FpLayerRole> role_of(Node shape) {
  auto layer = shape.child("layer");
  if (!layer) return std::nullopt;
  auto name = layer->atom(1);
  if (!name) return std::nullopt;
  if (name->find("SilkS") != std::string_view::npos) return FpLayerRole::silk;
  if (name->find("CrtYd") != std::string_view::npos) return FpLayerRole::courtyard;
  if (name->find("Fab") != std::string_view::npos) return FpLayerRole::fab;
  if (name->ends_with(".Cu")) return FpLayerRole::copper;
  return std::nullopt;
}

double width_of(Node shape) {
  if (auto stroke = shape.child("stroke")) {
    if (auto width = stroke->child("width")) {
      if (auto v = width->number(0)) return *v;
    }
  }
  if (auto width = shape.child("width")) {
    if (auto v = width->number(0)) return *v;
  }
  return kDefaultWidth;
}

std::optional<FpGraphic> import_line(Node n, FpLayer layer) {
  auto s = point_of(n, "start");
  auto e = point_of(n, "end");
  if (!s || !e) return std::nullopt;
  return FpLine{std::move(layer), (*s)[0], (*s)[1], (*e)[0], (*e)[1], width_of(n)};
}

std::optional<FpGraphic> import_rect(Node n, FpLayer layer) {
  auto s = point_of(n, "start");
  auto e = point_of(n, "end");
  if (!s || !e) return std::nullopt;
  return FpRect{std::move(layer), (*s)[0], (*s)[1], (*e)[0], (*e)[1], width_of(n)};
}

std::optional<FpGraphic> import_circle(Node n, FpLayer layer) {
  auto c = point_of(n, "center");
  auto e = point_of(n, "end");
  if (!c || !e) return std::nullopt;
  const double r = std::hypot((*e)[0] - (*c)[0], (*e)[1] - (*c)[1]);
  return FpCircle{std::move(layer), (*c)[0], (*c)[1], r, width_of(n)};
}

std::optional<FpGraphic> import_arc(Node n, FpLayer layer) {
  auto s = point_of(n, "start");
  auto m = point_of(n, "mid");
  auto e = point_of(n, "end");
  if (!s || !m || !e) return std::nullopt;
  auto arc = arc_through((*s)[0], (*s)[1], (*m)[0], (*m)[1], (*e)[0], (*e)[1]);
  if (!arc) return std::nullopt;
  return FpArc{std::move(layer), arc->cx, arc->cy, arc->r, arc->start, arc->end, width_of(n)};
}

}  // namespace

Footprint import_kicad_footprint(Node root) {
  Footprint out;
  out.name = std::string(root.atom(1).value_or("FP"));
  root.for_each_list("pad", [&](Node n) { out.pads.push_back(import_pad(n)); });
  auto add_shapes = [&](std::string_view head, std::optional<FpGraphic> (*make)(Node, FpLayer)) {
    root.for_each_list(head, [&](Node n) {
      auto role = role_of(n);
      if (!role) return;
      if (auto g = make(n, FpLayer{*role, std::nullopt})) out.graphics.push_back(std::move(*g));
    });
  };
  add_shapes("fp_line", import_line);
  add_shapes("fp_rect", import_rect);
  add_shapes("fp_circle", import_circle);
  add_shapes("fp_arc", import_arc);
  return out;
}

}  // namespace altium_codec
