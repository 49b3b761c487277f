#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "altium_codec/kicad.h"

namespace altium_codec {
namespace {

constexpr std::string_view kEmptyFootprint = "(footprint \"F\")";

// A library (version `version`) holding one symbol with the given body.
std::string library(std::string_view body, std::string_view version = "20231120") {
  return "(kicad_symbol_lib (version " + std::string(version) + ")\n(symbol \"S\"\n" +
         std::string(body) + "))";
}

Symbol import_symbol(std::string_view sym_text, std::string_view wanted = "S") {
  auto part = import_kicad(sym_text, kEmptyFootprint, wanted);
  EXPECT_TRUE(part.has_value()) << part.error();
  return part ? part->symbol : Symbol{};
}

Footprint import_footprint(std::string_view body) {
  auto part = import_kicad(library(""), "(footprint \"F\" " + std::string(body) + ")", "S");
  EXPECT_TRUE(part.has_value()) << part.error();
  return part ? part->footprint : Footprint{};
}

TEST(KicadImportErrors, ReaderAndChoiceMessages) {
  EXPECT_EQ(import_kicad("", kEmptyFootprint, "X").error(), "no s-expression found");
  EXPECT_EQ(import_kicad(library(""), "(footprint", "X").error(),
            "unbalanced s-expression: '(' at line 1 is never closed");
  EXPECT_EQ(
      import_kicad("(kicad_symbol_lib (version 1) (x (symbol A)))", kEmptyFootprint, "A").error(),
      "no (symbol ...) in kicad_sym");
  const std::string two = "(kicad_symbol_lib (symbol \"A\") (symbol \"B\" (pin (number 7))))";
  EXPECT_EQ(import_kicad(two, kEmptyFootprint, "Z").error(),
            "library holds 2 symbols and none is named \"Z\" \u2014 available: A, B");
  EXPECT_EQ(import_kicad(two, kEmptyFootprint, "q\"\\").error(),
            "library holds 2 symbols and none is named \"q\\\"\\\\\" \u2014 available: A, B");
  // Symbol errors come before footprint errors.
  EXPECT_EQ(import_kicad(two, ")(", "Z").error(),
            "library holds 2 symbols and none is named \"Z\" \u2014 available: A, B");
}

TEST(KicadImportSymbol, Choice) {
  // One symbol: taken whatever its name.
  EXPECT_EQ(import_symbol(library(""), "OTHER").name, "S");
  // Several: ASCII case-insensitive match, the first one wins.
  const std::string lib =
      "(kicad_symbol_lib (symbol \"A\") (symbol \"B\" (pin (number 1))) (symbol \"b\"))";
  Symbol b = import_symbol(lib, "b");
  EXPECT_EQ(b.name, "B");
  EXPECT_EQ(b.pins.size(), 1u);
  // Nameless single symbol.
  EXPECT_EQ(import_symbol("(kicad_symbol_lib (symbol))").name, "SYM");
}

TEST(KicadImportSymbol, FixedMembers) {
  auto part = import_kicad(library("(property \"Reference\" \"R\") (property \"Reference\" \"Q\")"),
                           "(footprint \"Pkg\" (pad 1 smd rect))", "MPN1");
  ASSERT_TRUE(part) << part.error();
  EXPECT_EQ(part->schema_version, 2u);
  EXPECT_EQ(part->mpn, "MPN1");
  EXPECT_EQ(part->manufacturer, "");
  EXPECT_FALSE(part->model_3d.has_value());
  EXPECT_EQ(part->provenance, nlohmann::json({{"source", "kicad_import"}}));
  EXPECT_EQ(part->symbol.footprint, "Pkg");
  EXPECT_EQ(part->symbol.designator_prefix, "Q");  // the last Reference wins
  EXPECT_FALSE(part->symbol.body.has_value());
  EXPECT_TRUE(part->symbol.parameters.empty());
  EXPECT_EQ(part->symbol.pin_numbers_hidden, false);
  EXPECT_EQ(part->symbol.pin_names_hidden, false);
  EXPECT_EQ(import_symbol(library("")).designator_prefix, "U");
}

TEST(KicadImportSymbol, PinsOfAllUnitsConvertedAndRounded) {
  // A second pin far away keeps the box centre at the origin so no shift applies.
  Symbol s = import_symbol(
      library("(symbol \"S_1_1\" (pin input line (at 2.54 -5.08 -90) (length 2.54) (name \"~\")"
              " (number \"1\")))"
              "(symbol \"S_2_1\" (pin (at -2.54 5.08 450.9) (name \"IN\") (number \"2\")))"
              "(symbol \"S_3_1\" (pin (at 0.0127 -0.0127)) (pin (at 0 0)))"));
  ASSERT_EQ(s.pins.size(), 4u);
  const Pin& p = s.pins[0];
  EXPECT_EQ(p.number, "1");
  EXPECT_EQ(p.name, "");  // "~" means no name in an old library
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, -200);
  EXPECT_EQ(p.rotation, 270);
  EXPECT_EQ(p.length, 100);
  EXPECT_EQ(s.pins[1].rotation, 90);  // truncated, then wrapped
  EXPECT_EQ(s.pins[1].name, "IN");
  EXPECT_FALSE(s.pins[1].length.has_value());
  EXPECT_EQ(s.pins[2].number, "?");
  EXPECT_EQ(s.pins[2].x, 1);  // half a mil rounds away from zero
  EXPECT_EQ(s.pins[2].y, -1);
}

TEST(KicadImportSymbol, SaturationAndNotANumber) {
  Symbol s = import_symbol(library("(pin (at 1e300 nan 1e20))"));
  ASSERT_EQ(s.pins.size(), 1u);
  // Saturated, then re-centred: the box of one pin is that pin, snapped to the grid.
  EXPECT_EQ(s.pins[0].y, 0);
  EXPECT_EQ(s.pins[0].rotation, 2147483647 % 360);
}

TEST(KicadImportSymbol, TildeNameByLibraryVersion) {
  const std::string body = "(pin (at 0 0) (name \"~\") (number 1))";
  EXPECT_EQ(import_symbol(library(body, "20231120")).pins[0].name, "");
  EXPECT_EQ(import_symbol(library(body, "20250318")).pins[0].name, "~");
  EXPECT_EQ(import_symbol(library(body, "+20250319")).pins[0].name, "~");
  EXPECT_EQ(import_symbol(library(body, "2025031x")).pins[0].name, "");
  EXPECT_EQ(import_symbol("(kicad_symbol_lib (symbol S " + body + "))").pins[0].name, "");
}

TEST(KicadImportSymbol, PinVisibility) {
  auto flags = [](std::string_view body) {
    Symbol s = import_symbol(library(body));
    return std::pair{s.pin_numbers_hidden.value(), s.pin_names_hidden.value()};
  };
  EXPECT_EQ(flags("(pin_names (offset 0.254) hide)"), std::pair(false, true));
  EXPECT_EQ(flags("(pin_names (offset 0) (hide yes)) (pin_numbers hide)"), std::pair(true, true));
  EXPECT_EQ(flags("(pin_names (hide no)) (pin_numbers (hide no) hide)"), std::pair(false, false));
  // Only direct children of the symbol count.
  EXPECT_EQ(flags("(symbol \"S_1_1\" (pin_names hide))"), std::pair(false, false));
}

TEST(KicadImportSymbol, GraphicsInGroupOrderWithWidthsAndFill) {
  // Balanced around the origin so that nothing is shifted.
  Symbol s = import_symbol(
      library("(arc (start 2.54 0) (mid 0 2.54) (end -2.54 0))"
              "(circle (center 0 0) (radius 2.54) (stroke (width 0.254)))"
              "(rectangle (start -2.54 -2.54) (end 2.54 2.54) (fill (type background)))"
              "(rectangle (start -1 -1) (end 1 1) (fill (type none)))"
              "(rectangle (start -1 -1) (end 1 1))"
              "(polyline (pts (xy -2.54 0) (xy 2.54 0) (xy bad 1)) (stroke (width 0)))"
              "(polyline (stroke (width 1)))"
              "(circle (center 0 0))"
              "(arc (start 0 0) (mid 1 1) (end 2 2))"));
  ASSERT_EQ(s.graphics.size(), 6u);
  const auto& pl = std::get<GraphicPolyline>(s.graphics[0]);
  ASSERT_EQ(pl.points.size(), 2u);
  EXPECT_DOUBLE_EQ(pl.points[0][0], -100);
  EXPECT_EQ(pl.width, 0);
  const auto& filled = std::get<GraphicRect>(s.graphics[1]);
  EXPECT_TRUE(filled.filled);
  EXPECT_DOUBLE_EQ(filled.x2, 100);
  EXPECT_DOUBLE_EQ(filled.width, 6);
  EXPECT_FALSE(std::get<GraphicRect>(s.graphics[2]).filled);
  EXPECT_FALSE(std::get<GraphicRect>(s.graphics[3]).filled);
  const auto& circle = std::get<GraphicCircle>(s.graphics[4]);
  EXPECT_DOUBLE_EQ(circle.r, 100);
  EXPECT_DOUBLE_EQ(circle.width, 10);
  const auto& arc = std::get<GraphicArc>(s.graphics[5]);
  EXPECT_NEAR(arc.cx, 0, 1e-9);
  EXPECT_NEAR(arc.cy, 0, 1e-9);
  EXPECT_DOUBLE_EQ(arc.r, 100);
  EXPECT_NEAR(arc.start, 0, 1e-9);
  EXPECT_NEAR(arc.end, 180, 1e-9);
}

TEST(KicadImportSymbol, RecentringOnFiftyMilGrid) {
  // Pins span x from -300 to +200 mils: centre -50, offset -50.
  Symbol s = import_symbol(
      library("(pin (at -7.62 0)) (pin (at 5.08 0)) (polyline (pts (xy 0 0) (xy 0.0254 0)))"));
  EXPECT_EQ(s.pins[0].x, -250);
  EXPECT_EQ(s.pins[1].x, 250);
  EXPECT_DOUBLE_EQ(std::get<GraphicPolyline>(s.graphics[0]).points[1][0], 51);
  // Centre 24 mils snaps to 0; 25 mils to 50 (y: two pins at 0 and 48 / 50 mils).
  Symbol a = import_symbol(library("(pin (at 0 0)) (pin (at 0 1.2192))"));
  EXPECT_EQ(a.pins[1].y, 48);
  Symbol b = import_symbol(library("(pin (at 0 0)) (pin (at 0 1.27))"));
  EXPECT_EQ(b.pins[0].y, -50);
  EXPECT_EQ(b.pins[1].y, 0);
  // Circles count with their radius; radii and angles stay.
  Symbol c = import_symbol(library("(circle (center 5.08 5.08) (radius 1.27))"));
  const auto& circle = std::get<GraphicCircle>(c.graphics[0]);
  EXPECT_DOUBLE_EQ(circle.cx, 0);
  EXPECT_DOUBLE_EQ(circle.cy, 0);
  EXPECT_DOUBLE_EQ(circle.r, 50);
}

// Angles from atan2 may land on 360 for a point a rounding error below the centre line.
double wrapped(double deg) {
  return std::fmod(deg, 360.0);
}

TEST(KicadImportArc, ThreePointRule) {
  // Counter-clockwise quarter from 0 to 90 degrees.
  auto ccw = arc_through(1, 0, std::sqrt(0.5), std::sqrt(0.5), 0, 1);
  ASSERT_TRUE(ccw);
  EXPECT_NEAR(ccw->cx, 0, 1e-12);
  EXPECT_NEAR(ccw->r, 1, 1e-12);
  EXPECT_NEAR(wrapped(ccw->start), 0, 1e-9);
  EXPECT_NEAR(ccw->end, 90, 1e-9);
  // The same arc drawn clockwise: angles swapped so it still runs counter-clockwise.
  auto cw = arc_through(0, 1, std::sqrt(0.5), std::sqrt(0.5), 1, 0);
  ASSERT_TRUE(cw);
  EXPECT_NEAR(wrapped(cw->start), 0, 1e-9);
  EXPECT_NEAR(cw->end, 90, 1e-9);
  // Clockwise through 180 degrees becomes 90 to 270; counter-clockwise through 0 stays 270 to 90.
  auto left = arc_through(0, -1, -1, 0, 0, 1);
  ASSERT_TRUE(left);
  EXPECT_NEAR(left->start, 90, 1e-9);
  EXPECT_NEAR(left->end, 270, 1e-9);
  auto right = arc_through(0, -1, 1, 0, 0, 1);
  ASSERT_TRUE(right);
  EXPECT_NEAR(right->start, 270, 1e-9);
  EXPECT_NEAR(right->end, 90, 1e-9);
  EXPECT_FALSE(arc_through(0, 0, 1, 1, 2, 2));
  EXPECT_FALSE(arc_through(0, 0, 0, 0, 0, 0));
}

TEST(KicadImportFootprint, Pads) {
  Footprint f = import_footprint(
      "(pad \"1\" thru_hole oval (at 1 2 90) (size 1.5 2) (drill oval 1.0 2.0) (layers \"*.Cu\"))"
      "(pad \"2\" smd trapezoid (at 3 4) (size 1) (drill 0.8))"
      "(pad \"3\" np_thru_hole circle (drill 3 (offset 9 9)))"
      "(pad \"4\" smd custom) (pad \"5\" smd roundrect) (pad \"6\" thru_hole Circle (drill))"
      "(pad)");
  ASSERT_EQ(f.pads.size(), 7u);
  const Pad& p1 = f.pads[0];
  EXPECT_EQ(p1.number, "1");
  EXPECT_EQ(p1.shape, "oval");
  EXPECT_EQ(p1.x_mm, 1);
  EXPECT_EQ(p1.y_mm, 2);
  EXPECT_EQ(p1.rotation, 90);
  EXPECT_EQ(p1.w_mm, 1.5);
  EXPECT_EQ(p1.h_mm, 2);
  EXPECT_EQ(p1.drill_mm, 2.0);
  EXPECT_EQ(p1.plated, true);
  const Pad& p2 = f.pads[1];
  EXPECT_EQ(p2.shape, "rect");
  EXPECT_EQ(p2.drill_mm, 0);  // smd pads have no drill
  EXPECT_FALSE(p2.plated.has_value());
  EXPECT_EQ(p2.h_mm, 0.5);
  EXPECT_EQ(p2.rotation, 0);
  EXPECT_EQ(f.pads[2].drill_mm, 3);  // the offset list is not a number of the drill
  EXPECT_EQ(f.pads[2].plated, false);
  EXPECT_EQ(f.pads[2].shape, "circle");
  EXPECT_EQ(f.pads[3].shape, "rect");
  EXPECT_EQ(f.pads[4].shape, "roundrect");
  EXPECT_EQ(f.pads[5].shape, "rect");  // shapes compare case-sensitively
  EXPECT_EQ(f.pads[5].drill_mm, 0);
  EXPECT_EQ(f.pads[5].plated, true);
  EXPECT_EQ(f.pads[6].number, "?");
  EXPECT_EQ(f.pads[6].w_mm, 0.5);
  EXPECT_FALSE(f.pads[6].plated.has_value());  // type defaults to smd
}

TEST(KicadImportFootprint, ShapesWithLayerRoles) {
  Footprint f = import_footprint(
      "(fp_arc (start 1 0) (mid 0 1) (end -1 0) (layer \"F.Fab\") (width 0.2))"
      "(fp_circle (center 1 2) (end 4 6) (layer \"B.CrtYd\"))"
      "(fp_rect (start 0 0) (end 1 1) (stroke (width 0.05)) (layer \"In1.Cu\"))"
      "(fp_line (start 0 0) (end 1 1) (layer \"Edge.Cuts\"))"
      "(fp_line (start 0 0) (end 1 1) (layer \"B.SilkS\") (stroke (type solid)) (width 0.3))"
      "(fp_line (start 0 0) (end 1 1))"
      "(fp_line (start 0 0) (layer \"F.SilkS\"))"
      "(fp_arc (start 0 0) (mid 1 1) (end 2 2) (layer \"F.SilkS\"))"
      "(fp_text reference R (layer \"F.SilkS\"))");
  ASSERT_EQ(f.graphics.size(), 4u);
  const auto& line = std::get<FpLine>(f.graphics[0]);
  EXPECT_EQ(line.layer.role, FpLayerRole::silk);
  EXPECT_EQ(line.width, 0.3);
  EXPECT_EQ(line.x2, 1);
  const auto& rect = std::get<FpRect>(f.graphics[1]);
  EXPECT_EQ(rect.layer.role, FpLayerRole::copper);
  EXPECT_EQ(rect.width, 0.05);
  const auto& circle = std::get<FpCircle>(f.graphics[2]);
  EXPECT_EQ(circle.layer.role, FpLayerRole::courtyard);
  EXPECT_EQ(circle.r, 5);
  EXPECT_EQ(circle.width, 0.12);
  const auto& arc = std::get<FpArc>(f.graphics[3]);
  EXPECT_EQ(arc.layer.role, FpLayerRole::fab);
  EXPECT_NEAR(arc.r, 1, 1e-12);
  EXPECT_NEAR(arc.end, 180, 1e-9);
  EXPECT_EQ(arc.width, 0.2);
}

TEST(KicadImportFootprint, NameAndNoRecentring) {
  auto part = import_kicad(library(""), "(footprint (pad 1 smd rect (at 10 10)))", "S");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->footprint.name, "FP");
  EXPECT_EQ(part->symbol.footprint, "FP");
  EXPECT_EQ(part->footprint.pads[0].x_mm, 10);
}

TEST(KicadImportConnect, MatchesPinNumbersToPads) {
  auto part = import_kicad(library("(pin (number \"1\")) (pin (number \"2\")) (pin (number \"a\"))"
                                   "(pin (number \"1\"))"),
                           "(footprint F (pad \"1\" smd rect) (pad \"A\" smd rect))", "S");
  ASSERT_TRUE(part);
  ASSERT_EQ(part->connect.size(), 2u);
  EXPECT_EQ(part->connect[0].pin, "1");
  EXPECT_EQ(part->connect[0].pad, "1");
  EXPECT_EQ(part->connect[1].pin, "1");
}

}  // namespace
}  // namespace altium_codec
