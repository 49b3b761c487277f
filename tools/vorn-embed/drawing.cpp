// Symbol and footprint pictures for the embed pages.
#include "drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

#include "embed_page.h"

namespace vorn_embed {
namespace {

using namespace altium_codec;

// printf-style formatting into a string (the compiler's library has no std::format).
template <class... A>
std::string strf(const char* fmt, A... args) {
  const int n = std::snprintf(nullptr, 0, fmt, args...);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, args...);
  return out;
}

struct Box {
  double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
  void add(double x, double y) {
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
  }
  bool empty() const { return !(x0 <= x1 && y0 <= y1); }
};

std::string root(const Box& b, double margin, const std::string& body) {
  return strf(
      "<svg xmlns='http://www.w3.org/2000/svg' viewBox='%.3f %.3f %.3f %.3f' "
      "preserveAspectRatio='xMidYMid meet'>%s</svg>",
      b.x0 - margin, b.y0 - margin, b.x1 - b.x0 + 2 * margin, b.y1 - b.y0 + 2 * margin,
      body.c_str());
}

std::string placeholder(std::string_view text) {
  return strf(
      "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 100 40'><text x='50' y='24' "
      "text-anchor='middle' fill='#888' font-size='8'>%s</text></svg>",
      std::string(text).c_str());
}

double rad(double deg) {
  return deg * std::numbers::pi / 180.0;
}

bool hidden(const std::optional<bool>& flag, size_t pins) {
  return flag ? *flag : pins < 3;
}

constexpr const char* kBody = "#e35d5d";

std::string symbol_graphic(const Graphic& g, Box& box) {
  if (const auto* p = std::get_if<GraphicPolyline>(&g)) {
    std::string pts;
    for (const auto& pt : p->points) {
      box.add(pt[0], -pt[1]);
      pts += strf("%.1f,%.1f ", pt[0], -pt[1]);
    }
    return strf("<polyline points='%s' fill='none' stroke='%s' stroke-width='6'/>", pts.c_str(),
                kBody);
  }
  if (const auto* r = std::get_if<GraphicRect>(&g)) {
    box.add(r->x1, -r->y1);
    box.add(r->x2, -r->y2);
    return strf(
        "<rect x='%.1f' y='%.1f' width='%.1f' height='%.1f' fill='%s' fill-opacity='%s' "
        "stroke='%s' stroke-width='6'/>",
        std::min(r->x1, r->x2), -std::max(r->y1, r->y2), std::abs(r->x2 - r->x1),
        std::abs(r->y2 - r->y1), r->filled ? kBody : "#e35d5d", r->filled ? "0.18" : "0.04", kBody);
  }
  if (const auto* c = std::get_if<GraphicCircle>(&g)) {
    box.add(c->cx - c->r, -c->cy - c->r);
    box.add(c->cx + c->r, -c->cy + c->r);
    return strf(
        "<circle cx='%.1f' cy='%.1f' r='%.1f' fill='none' stroke='%s' "
        "stroke-width='6'/>",
        c->cx, -c->cy, c->r, kBody);
  }
  const auto& a = std::get<GraphicArc>(g);
  box.add(a.cx - a.r, -a.cy - a.r);
  box.add(a.cx + a.r, -a.cy + a.r);
  const double sweep = std::fmod(a.end - a.start + 720.0, 360.0);
  return strf(
      "<path d='M%.1f %.1f A%.1f %.1f 0 %d 0 %.1f %.1f' fill='none' stroke='%s' "
      "stroke-width='6'/>",
      a.cx + a.r * std::cos(rad(a.start)), -(a.cy + a.r * std::sin(rad(a.start))), a.r, a.r,
      sweep > 180 ? 1 : 0, a.cx + a.r * std::cos(rad(a.end)), -(a.cy + a.r * std::sin(rad(a.end))),
      kBody);
}

const char* role_colour(FpLayerRole role) {
  switch (role) {
    case FpLayerRole::silk:
      return "#d8b4fe";
    case FpLayerRole::courtyard:
      return "#4ade80";
    case FpLayerRole::fab:
      return "#f472b6";
    case FpLayerRole::copper:
      return "#f59e0b";
    case FpLayerRole::other:
      break;
  }
  return "#94a3b8";
}

std::string fp_graphic(const FpGraphic& g, Box& box) {
  return std::visit(
      [&](const auto& s) -> std::string {
        using T = std::decay_t<decltype(s)>;
        const auto colour = role_colour(s.layer.role);
        const double w = std::max(s.width, 0.05);
        if constexpr (std::is_same_v<T, FpLine> || std::is_same_v<T, FpRect>) {
          box.add(s.x1, s.y1);
          box.add(s.x2, s.y2);
          if constexpr (std::is_same_v<T, FpLine>) {
            return strf(
                "<line x1='%.3f' y1='%.3f' x2='%.3f' y2='%.3f' stroke='%s' "
                "stroke-width='%.3f' stroke-linecap='round'/>",
                s.x1, s.y1, s.x2, s.y2, colour, w);
          } else {
            return strf(
                "<rect x='%.3f' y='%.3f' width='%.3f' height='%.3f' "
                "fill='none' stroke='%s' stroke-width='%.3f'/>",
                std::min(s.x1, s.x2), std::min(s.y1, s.y2), std::abs(s.x2 - s.x1),
                std::abs(s.y2 - s.y1), colour, w);
          }
        } else if constexpr (std::is_same_v<T, FpCircle>) {
          box.add(s.cx - s.r, s.cy - s.r);
          box.add(s.cx + s.r, s.cy + s.r);
          return strf(
              "<circle cx='%.3f' cy='%.3f' r='%.3f' fill='none' stroke='%s' "
              "stroke-width='%.3f'/>",
              s.cx, s.cy, s.r, colour, w);
        } else {
          box.add(s.cx - s.r, s.cy - s.r);
          box.add(s.cx + s.r, s.cy + s.r);
          const double sweep = std::fmod(s.end - s.start + 720.0, 360.0);
          return strf(
              "<path d='M%.3f %.3f A%.3f %.3f 0 %d 1 %.3f %.3f' "
              "fill='none' stroke='%s' stroke-width='%.3f'/>",
              s.cx + s.r * std::cos(rad(s.start)), s.cy + s.r * std::sin(rad(s.start)), s.r, s.r,
              sweep > 180 ? 1 : 0, s.cx + s.r * std::cos(rad(s.end)),
              s.cy + s.r * std::sin(rad(s.end)), colour, w);
        }
      },
      g);
}

}  // namespace

std::string symbol_svg(const Symbol& symbol) {
  Box box;
  std::string body;
  for (const Graphic& g : symbol.graphics) body += symbol_graphic(g, box);
  const bool numbers_hidden = hidden(symbol.pin_numbers_hidden, symbol.pins.size());
  const bool names_hidden = hidden(symbol.pin_names_hidden, symbol.pins.size());
  for (const Pin& pin : symbol.pins) {
    const double len = pin.length.value_or(200);
    const int q = (pin.rotation / 90) % 4;
    const double ux = q == 0 ? 1 : q == 2 ? -1 : 0, uy = q == 1 ? -1 : q == 3 ? 1 : 0;
    const double x0 = pin.x, y0 = -pin.y, x1 = x0 + ux * len, y1 = y0 + uy * len;
    box.add(x0, y0);
    box.add(x1, y1);
    const std::string num = html_escape(pin.number), name = html_escape(pin.name);
    body += strf(
        "<g class='pingroup' data-num='%s' data-name='%s'><line class='pinvis' x1='%.1f' "
        "y1='%.1f' x2='%.1f' y2='%.1f' stroke='#dfe4ec' stroke-width='5'/>"
        "<circle cx='%.1f' cy='%.1f' r='7' fill='none' stroke='#dfe4ec' stroke-width='2'/>"
        "<line x1='%.1f' y1='%.1f' x2='%.1f' y2='%.1f' stroke='transparent' "
        "stroke-width='30' pointer-events='stroke'/></g>",
        num.c_str(), name.c_str(), x0, y0, x1, y1, x0, y0, x0, y0, x1, y1);
    const double fs = std::clamp(len / 2, 40.0, 55.0);
    if (!numbers_hidden) {
      body += strf(
          "<text x='%.1f' y='%.1f' font-size='%g' fill='#9fb0c8' "
          "text-anchor='middle' pointer-events='none'>%s</text>",
          (x0 + x1) / 2 - 0.5 * fs * uy, (y0 + y1) / 2 - 0.4 * fs * std::abs(ux), fs, num.c_str());
    }
    if (!names_hidden && !pin.name.empty() && pin.name != "~") {
      const char* anchor = ux > 0.3 ? "start" : ux < -0.3 ? "end" : "middle";
      body += strf(
          "<text x='%.1f' y='%.1f' font-size='%g' fill='#e6e9ef' "
          "text-anchor='%s' dominant-baseline='central' pointer-events='none'>%s</text>",
          x1 + ux * 0.4 * fs, y1 + uy * 0.6 * fs, fs, anchor, name.c_str());
    }
  }
  if (box.empty()) return placeholder("no symbol");
  return root(box, 80, body);
}

std::string footprint_svg(const Footprint& footprint) {
  Box box;
  std::string body;
  for (const FpGraphic& g : footprint.graphics) body += fp_graphic(g, box);
  for (const Pad& pad : footprint.pads) {
    const double r = std::hypot(pad.w_mm, pad.h_mm) / 2;
    box.add(pad.x_mm - r, pad.y_mm - r);
    box.add(pad.x_mm + r, pad.y_mm + r);
    const double radius = pad.shape == "circle" || pad.shape == "oval"
                              ? std::min(pad.w_mm, pad.h_mm) / 2
                          : pad.shape == "roundrect" ? 0.25 * std::min(pad.w_mm, pad.h_mm)
                                                     : 0.0;
    const std::string info =
        strf("%s %.2f×%.2f mm%s", pad.drill_mm > 0 ? "hole" : "smd", pad.w_mm, pad.h_mm,
             pad.drill_mm > 0 ? strf(", drill %.2f", pad.drill_mm).c_str() : "");
    body += strf(
        "<g transform='translate(%.3f %.3f) rotate(%.1f)'><rect data-num='%s' data-name='' "
        "data-info='%s' x='%.3f' y='%.3f' width='%.3f' height='%.3f' rx='%.3f' "
        "fill='#f59e0b' fill-opacity='0.9' stroke='#f59e0b' stroke-width='0.02'/>",
        pad.x_mm, pad.y_mm, -pad.rotation, html_escape(pad.number).c_str(),
        html_escape(info).c_str(), -pad.w_mm / 2, -pad.h_mm / 2, pad.w_mm, pad.h_mm, radius);
    if (pad.drill_mm > 0) {
      body += strf("<circle r='%.3f' fill='#0f1115' pointer-events='none'/>", pad.drill_mm / 2);
    }
    body += strf(
        "<text font-size='%.3f' fill='#0f1115' text-anchor='middle' "
        "dominant-baseline='central' pointer-events='none'>%s</text></g>",
        std::clamp(std::min(pad.w_mm, pad.h_mm) * 0.5, 0.15, 1.2), html_escape(pad.number).c_str());
  }
  if (box.empty()) return placeholder("no footprint");
  return root(box, 0.5, body);
}

}  // namespace vorn_embed
