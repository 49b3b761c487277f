#include "altium_codec/symbol_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "altium_codec/kicad_text.h"
#include "altium_codec/part.h"

namespace altium_codec {
namespace {

constexpr std::string_view kLibHead =
    "(kicad_symbol_lib\n"
    "\t(version 20231120)\n"
    "\t(generator \"vorn-lbr\")\n"
    "\t(generator_version \"8.0\")\n";

TEST(NumberFormat, TrimsAndRounds) {
  EXPECT_EQ(format_number(2.54), "2.54");
  EXPECT_EQ(format_number(5), "5");
  EXPECT_EQ(format_number(1.27), "1.27");
  EXPECT_EQ(format_number(0.0000001), "0");
  EXPECT_EQ(format_number(-0.0000001), "0");
  EXPECT_EQ(format_number(-0.0), "0");
  EXPECT_EQ(format_number(0.1234567), "0.123457");
  EXPECT_EQ(format_number(-12.5), "-12.5");
  EXPECT_EQ(format_number(100 * 0.0254), "2.54");
  EXPECT_EQ(format_number(1e15), "1000000000000000");
  EXPECT_EQ(format_number(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(format_number(std::nan("")), "NaN");
}

TEST(NumberFormat, ShortestAndFixedForms) {
  EXPECT_EQ(format_shortest(50), "50");
  EXPECT_EQ(format_shortest(62.5), "62.5");
  EXPECT_EQ(format_shortest(-0.1), "-0.1");
  EXPECT_EQ(format_shortest(1e-7), "0.0000001");
  EXPECT_EQ(format_shortest(1e20), "100000000000000000000");
  EXPECT_EQ(format_fixed(-100, 1), "-100.0");
  EXPECT_EQ(format_fixed(2.25, 1), "2.2");
  EXPECT_EQ(format_fixed(0.1234, 3), "0.123");
  EXPECT_EQ(format_fixed(1.0005, 3), "1.000");  // 1.0005 is stored just below the tie
}

TEST(KicadQuote, EscapesBackslashThenQuote) {
  EXPECT_EQ(quote_kicad("plain"), "plain");
  EXPECT_EQ(quote_kicad(R"(a"b\c)"), R"(a\"b\\c)");
  EXPECT_EQ(quote_kicad(R"(\")"), R"(\\\")");
}

TEST(ArcPoints, QuarterZeroAndNonFinite) {
  ArcPoints q = arc_points(0, 0, 100, 0, 90);
  EXPECT_NEAR(q.start_x, 100, 1e-9);
  EXPECT_NEAR(q.mid_x, 70.7106781, 1e-6);
  EXPECT_NEAR(q.mid_y, 70.7106781, 1e-6);
  EXPECT_NEAR(q.end_y, 100, 1e-9);
  // A zero sweep puts the mid point opposite the start.
  ArcPoints z = arc_points(1, 1, 2, 30, 30);
  EXPECT_NEAR(z.mid_x, 1 + 2 * std::cos(210 * M_PI / 180), 1e-9);
  EXPECT_NEAR(z.mid_y, 1 + 2 * std::sin(210 * M_PI / 180), 1e-9);
  // Clockwise-looking input still sweeps counter-clockwise: 90 -> 0 passes through 225.
  ArcPoints w = arc_points(0, 0, 1, 90, 0);
  EXPECT_NEAR(w.mid_x, std::cos(225 * M_PI / 180), 1e-9);
  EXPECT_NEAR(w.mid_y, std::sin(225 * M_PI / 180), 1e-9);
  // Not-finite angles count as 0 (then the sweep is zero).
  ArcPoints n = arc_points(0, 0, 1, std::nan(""), std::numeric_limits<double>::infinity());
  EXPECT_NEAR(n.start_x, 1, 1e-12);
  EXPECT_NEAR(n.mid_x, -1, 1e-12);
}

TEST(SymbolWriter, EmptySymbol) {
  Symbol s;
  s.name = "EMPTY";
  std::string expected = std::string(kLibHead) +
                         "\t(symbol \"EMPTY\"\n"
                         "\t\t(pin_numbers (hide yes))\n"
                         "\t\t(pin_names (offset 0.254) (hide yes))\n"
                         "\t\t(exclude_from_sim no)\n"
                         "\t\t(in_bom yes)\n"
                         "\t\t(on_board yes)\n"
                         "\t\t(property \"Reference\" \"U\"\n"
                         "\t\t\t(at 0 3.81 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)))\n"
                         "\t\t)\n"
                         "\t\t(property \"Value\" \"EMPTY\"\n"
                         "\t\t\t(at 0 -3.81 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)))\n"
                         "\t\t)\n"
                         "\t\t(property \"Footprint\" \"\"\n"
                         "\t\t\t(at 0 0 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)) (hide yes))\n"
                         "\t\t)\n"
                         "\t\t(property \"Datasheet\" \"\"\n"
                         "\t\t\t(at 0 0 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)) (hide yes))\n"
                         "\t\t)\n"
                         "\t\t(symbol \"EMPTY_1_1\"\n"
                         "\t\t)\n"
                         "\t)\n"
                         ")\n";
  EXPECT_EQ(write_kicad_symbol_lib(s), expected);
}

Symbol full_symbol() {
  Symbol s;
  s.name = "OP\"AMP";
  s.designator_prefix = "IC";
  s.footprint = "Pkg:SOIC \"8\"";
  s.pins = {
      Pin{"1", "~", -300, 100, std::nullopt, 0},
      Pin{"2", "IN-", -300, -100, 100, 0},
      Pin{"3", "OUT", 300, 0, 200, 180},
  };
  s.graphics = {
      GraphicRect{-200, -200, 200, 200, 10, true},
      GraphicPolyline{{{0, 0}, {500, -0.00001}}, -5},
      GraphicCircle{0, 300, 50, std::nan("")},
      GraphicArc{0, 0, 100, 0, 90, 0},
  };
  s.parameters = {
      Parameter{"VALUE", "LM358", false},
      Parameter{"MPN", "X\\Y", true},
      Parameter{"value", "second", true},
      Parameter{"Values", "kept", false},
  };
  return s;
}

TEST(SymbolWriter, FullSymbolByteExact) {
  const std::string style_none =
      "\t\t\t\t(stroke (width 0) (type default))\n"
      "\t\t\t\t(fill (type none))\n";
  std::string expected = std::string(kLibHead) +
                         "\t(symbol \"OP\"AMP\"\n"
                         "\t\t(pin_numbers)\n"
                         "\t\t(pin_names (offset 0.254))\n"
                         "\t\t(exclude_from_sim no)\n"
                         "\t\t(in_bom yes)\n"
                         "\t\t(on_board yes)\n"
                         "\t\t(property \"Reference\" \"IC\"\n"
                         "\t\t\t(at 2.54 10.16 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)))\n"
                         "\t\t)\n"
                         "\t\t(property \"Value\" \"LM358\"\n"
                         "\t\t\t(at 2.54 -6.35 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)))\n"
                         "\t\t)\n"
                         "\t\t(property \"Footprint\" \"Pkg:SOIC \\\"8\\\"\"\n"
                         "\t\t\t(at 0 0 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)) (hide yes))\n"
                         "\t\t)\n"
                         "\t\t(property \"Datasheet\" \"\"\n"
                         "\t\t\t(at 0 0 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)) (hide yes))\n"
                         "\t\t)\n"
                         "\t\t(property \"MPN\" \"X\\\\Y\"\n"
                         "\t\t\t(at 0 0 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)))\n"
                         "\t\t)\n"
                         "\t\t(property \"Values\" \"kept\"\n"
                         "\t\t\t(at 0 0 0)\n"
                         "\t\t\t(effects (font (size 1.27 1.27)) (hide yes))\n"
                         "\t\t)\n"
                         "\t\t(symbol \"OP\"AMP_0_1\"\n"
                         "\t\t\t(rectangle\n"
                         "\t\t\t\t(start -5.08 -5.08)\n"
                         "\t\t\t\t(end 5.08 5.08)\n"
                         "\t\t\t\t(stroke (width 0.254) (type default))\n"
                         "\t\t\t\t(fill (type outline))\n"
                         "\t\t\t)\n"
                         "\t\t\t(polyline\n"
                         "\t\t\t\t(pts\n"
                         "\t\t\t\t\t(xy 0 0)\n"
                         "\t\t\t\t\t(xy 12.7 0)\n"
                         "\t\t\t\t)\n" +
                         style_none +
                         "\t\t\t)\n"
                         "\t\t\t(circle\n"
                         "\t\t\t\t(center 0 7.62)\n"
                         "\t\t\t\t(radius 1.27)\n" +
                         style_none +
                         "\t\t\t)\n"
                         "\t\t\t(arc\n"
                         "\t\t\t\t(start 2.54 0)\n"
                         "\t\t\t\t(mid 1.796051 1.796051)\n"
                         "\t\t\t\t(end 0 2.54)\n" +
                         style_none +
                         "\t\t\t)\n"
                         "\t\t)\n"
                         "\t\t(symbol \"OP\"AMP_1_1\"\n"
                         "\t\t\t(pin unspecified line\n"
                         "\t\t\t\t(at -7.62 2.54 0)\n"
                         "\t\t\t\t(length 5.08)\n"
                         "\t\t\t\t(name \"\" (effects (font (size 1.27 1.27))))\n"
                         "\t\t\t\t(number \"1\" (effects (font (size 1.27 1.27))))\n"
                         "\t\t\t)\n"
                         "\t\t\t(pin unspecified line\n"
                         "\t\t\t\t(at -7.62 -2.54 0)\n"
                         "\t\t\t\t(length 2.54)\n"
                         "\t\t\t\t(name \"IN-\" (effects (font (size 1.27 1.27))))\n"
                         "\t\t\t\t(number \"2\" (effects (font (size 1.27 1.27))))\n"
                         "\t\t\t)\n"
                         "\t\t\t(pin unspecified line\n"
                         "\t\t\t\t(at 7.62 0 180)\n"
                         "\t\t\t\t(length 5.08)\n"
                         "\t\t\t\t(name \"OUT\" (effects (font (size 1.27 1.27))))\n"
                         "\t\t\t\t(number \"3\" (effects (font (size 1.27 1.27))))\n"
                         "\t\t\t)\n"
                         "\t\t)\n"
                         "\t)\n"
                         ")\n";
  EXPECT_EQ(write_kicad_symbol_lib(full_symbol()), expected);
}

TEST(SymbolWriter, HiddenFlagsFollowPinCountUnlessGiven) {
  auto flags_of = [](const Symbol& s) {
    std::string text = write_kicad_symbol_lib(s);
    size_t a = text.find("\t\t(pin_numbers");
    size_t b = text.find("\t\t(exclude_from_sim");
    return text.substr(a, b - a);
  };
  const std::string hidden =
      "\t\t(pin_numbers (hide yes))\n\t\t(pin_names (offset 0.254) (hide yes))\n";
  const std::string shown = "\t\t(pin_numbers)\n\t\t(pin_names (offset 0.254))\n";
  Symbol s;
  s.name = "S";
  s.pins = {Pin{"1", "A", 0, 0, {}, 0}, Pin{"2", "B", 0, 100, {}, 0}};
  EXPECT_EQ(flags_of(s), hidden);
  s.pins.push_back(Pin{"3", "C", 0, 200, {}, 0});
  EXPECT_EQ(flags_of(s), shown);
  s.pin_numbers_hidden = true;
  EXPECT_EQ(flags_of(s), "\t\t(pin_numbers (hide yes))\n\t\t(pin_names (offset 0.254))\n");
  s.pins.resize(1);
  s.pin_numbers_hidden = false;
  s.pin_names_hidden = false;
  EXPECT_EQ(flags_of(s), shown);
}

TEST(SymbolWriter, ValueFallsBackToNameAndPropertiesStayPut) {
  Symbol s;
  s.name = "R_1k";
  s.pins = {Pin{"1", "~", 100, 0, {}, 0}};
  s.parameters = {Parameter{"Tolerance", "1%", false}};
  std::string text = write_kicad_symbol_lib(s);
  // One pin at (100, 0): centre 2.54, Reference 1.27 above and Value 1.27 below.
  EXPECT_NE(text.find("(property \"Value\" \"R_1k\"\n\t\t\t(at 2.54 -1.27 0)"), std::string::npos);
  EXPECT_NE(text.find("(property \"Reference\" \"U\"\n\t\t\t(at 2.54 1.27 0)"), std::string::npos);
  EXPECT_NE(text.find("(property \"Tolerance\" \"1%\"\n\t\t\t(at 0 0 0)\n\t\t\t(effects (font "
                      "(size 1.27 1.27)) (hide yes))"),
            std::string::npos);
  EXPECT_EQ(text.find("_0_1"), std::string::npos);
}

TEST(SymbolWriter, FromDocumentPinDefaults) {
  auto part = parse_vorn_lbr_part(
      R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[{"number":"7","name":"~","x":100,"y":0}]},"footprint":{"name":"F","pads":[]}})");
  ASSERT_TRUE(part) << part.error();
  std::string text = write_kicad_symbol_lib(part->symbol);
  EXPECT_NE(text.find("\t\t\t\t(at 2.54 0 0)\n\t\t\t\t(length 5.08)\n\t\t\t\t(name \"\" "),
            std::string::npos);
}

}  // namespace
}  // namespace altium_codec
