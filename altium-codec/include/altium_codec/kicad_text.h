// Number formatting and string quoting shared by every KiCad (and SVG) text the codec and
// the server write.
//
// `format_number` prints a double in fixed notation with 6 decimals, then drops trailing
// zeros and a trailing point; "-0" and empty become "0" (2.54 -> "2.54", 5 -> "5",
// -0.0000001 -> "0", 0.1234567 -> "0.123457").
//
// `quote_kicad` escapes text for placement between double quotes: each backslash is
// doubled, then each double quote gets a backslash before it.
//
// `format_shortest` and `format_fixed` serve the SVG pictures: the shortest decimal text that
// reads back to the same double, never with an exponent nor a trailing ".0" (50 -> "50",
// 62.5 -> "62.5", 1e-7 -> "0.0000001"); and fixed notation with a given number of digits
// after the point (format_fixed(2.25, 1) -> "2.2", ties to even on the exact binary value).
//
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace altium_codec {

std::string format_number(double value);

// Appends the formatted number to `out` (no allocation beyond the growth of `out`).
void append_number(std::string& out, double value);

std::string quote_kicad(std::string_view text);

std::string format_shortest(double value);
std::string format_fixed(double value, int digits);

// Appends the quoted text to `out`.
void append_quoted(std::string& out, std::string_view text);

// Start, mid and end points of an arc around (cx, cy) with radius r, counter-clockwise
// from `start_deg` to `end_deg`. A non-finite angle counts as 0; a zero sweep puts the mid
// point opposite the start.
struct ArcPoints {
  double start_x, start_y, mid_x, mid_y, end_x, end_y;
};
ArcPoints arc_points(double cx, double cy, double r, double start_deg, double end_deg);

}  // namespace altium_codec
