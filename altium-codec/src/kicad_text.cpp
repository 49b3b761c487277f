#include "altium_codec/kicad_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace altium_codec {

namespace {
bool append_non_finite(std::string& out, double value);
}  // namespace

void append_number(std::string& out, double value) {
  if (append_non_finite(out, value)) return;
  // Fixed notation with 6 decimals (locale independent), then trimmed.
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
  char* end = res.ptr;
  while (end > buf && end[-1] == '0') --end;
  while (end > buf && end[-1] == '.') --end;
  std::string_view text(buf, static_cast<size_t>(end - buf));
  if (text.empty() || text == "-0") {
    out += '0';
  } else {
    out += text;
  }
}

std::string format_number(double value) {
  std::string out;
  append_number(out, value);
  return out;
}

void append_quoted(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
}

std::string quote_kicad(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_quoted(out, text);
  return out;
}

namespace {
// Text for values with no decimal form.
bool append_non_finite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
  } else {
    return false;
  }
  return true;
}
}  // namespace

std::string format_shortest(double value) {
  std::string out;
  if (append_non_finite(out, value)) return out;
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  out.assign(buf, res.ptr);
  return out;
}

std::string format_fixed(double value, int digits) {
  std::string out;
  if (append_non_finite(out, value)) return out;
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                           std::clamp(digits, 0, 17));
  out.assign(buf, res.ptr);
  return out;
}

ArcPoints arc_points(double cx, double cy, double r, double start_deg, double end_deg) {
  double a = std::isfinite(start_deg) ? start_deg : 0.0;
  double b = std::isfinite(end_deg) ? end_deg : 0.0;
  double sweep = std::fmod(b - a, 360.0);
  if (sweep < 0) sweep += 360.0;
  double mid = sweep == 0 ? a + 180.0 : a + sweep / 2.0;
  constexpr double kRadPerDeg = std::numbers::pi / 180.0;
  auto px = [&](double t) { return cx + r * std::cos(t * kRadPerDeg); };
  auto py = [&](double t) { return cy + r * std::sin(t * kRadPerDeg); };
  return {px(a), py(a), px(mid), py(mid), px(b), py(b)};
}

}  // namespace altium_codec
