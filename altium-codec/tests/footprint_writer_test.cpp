#include "altium_codec/footprint_writer.h"

#include <gtest/gtest.h>

#include "altium_codec/part.h"

namespace altium_codec {
namespace {

constexpr std::string_view kHeader =
    "\t(version 20240108)\n"
    "\t(generator \"vorn-lbr\")\n"
    "\t(generator_version \"8.0\")\n"
    "\t(layer \"F.Cu\")\n";

Pad pad(std::string number, double x, double y, double w, double h) {
  Pad p;
  p.number = std::move(number);
  p.x_mm = x;
  p.y_mm = y;
  p.w_mm = w;
  p.h_mm = h;
  return p;
}

TEST(FootprintWriter, EmptyFootprint) {
  Footprint f;
  f.name = "E";
  EXPECT_EQ(write_kicad_footprint(f),
            "(footprint \"E\"\n" + std::string(kHeader) + "\t(attr smd)\n)\n");
}

TEST(FootprintWriter, SurfacePadsOnly) {
  Footprint f;
  f.name = "R_0603";
  f.pads = {pad("1", -0.8, 0, 0.9, 0.95), pad("2", 0.8, 0, 0.9, 0.95)};
  f.pads[1].shape = "roundrect";
  EXPECT_EQ(write_kicad_footprint(f),
            "(footprint \"R_0603\"\n" + std::string(kHeader) +
                "\t(attr smd)\n"
                "\t(pad \"1\" smd rect (at -0.8 0) (size 0.9 0.95) (layers \"F.Cu\" \"F.Paste\" "
                "\"F.Mask\"))\n"
                "\t(pad \"2\" smd roundrect (at 0.8 0) (size 0.9 0.95) (layers \"F.Cu\" "
                "\"F.Paste\" \"F.Mask\") (roundrect_rratio 0.25))\n"
                ")\n");
}

TEST(FootprintWriter, FullFootprintByteExact) {
  Footprint f;
  f.name = "QFN \"x\"";
  f.graphics = {
      FpLine{FpLayer{FpLayerRole::silk, std::nullopt}, 0, 0, 1, 0, 0.12},
      FpRect{FpLayer{FpLayerRole::courtyard, std::nullopt}, -1, -1, 1, 1, 0.05},
      FpCircle{FpLayer{FpLayerRole::fab, std::nullopt}, 1, 2, 0.5, 0.1},
      FpArc{FpLayer{FpLayerRole::other, "Mechanical 1"}, 0, 0, 1, 0, 90, -0.1},
      FpLine{FpLayer{FpLayerRole::copper, std::nullopt}, 0, 0, 0, 1, 0},
  };
  f.pads = {pad("1", 0, 0, 1, 2), pad("2", 2.54, 0, 1.6, 1.6), pad("MH", -3, 1.5, 3, 3),
            pad("4\\", 1, 1, 0.5, 0.5)};
  f.pads[1].drill_mm = 0.8;
  f.pads[1].rotation = 90;
  f.pads[1].shape = "circle";
  f.pads[2].drill_mm = 3;
  f.pads[2].plated = false;
  f.pads[2].shape = "Circle";
  f.pads[3].shape = "oval";
  f.pads[3].rotation = -45.5;
  EXPECT_EQ(write_kicad_footprint(f),
            "(footprint \"QFN \\\"x\\\"\"\n" + std::string(kHeader) +
                "\t(attr through_hole)\n"
                "\t(fp_line (start 0 0) (end 1 0)\n"
                "\t\t(stroke (width 0.12) (type default)) (layer \"F.SilkS\"))\n"
                "\t(fp_rect (start -1 -1) (end 1 1)\n"
                "\t\t(stroke (width 0.05) (type default)) (fill none) (layer \"F.CrtYd\"))\n"
                "\t(fp_circle (center 1 2) (end 1.5 2)\n"
                "\t\t(stroke (width 0.1) (type default)) (fill none) (layer \"F.Fab\"))\n"
                "\t(fp_arc (start 1 0) (mid 0.707107 0.707107) (end 0 1)\n"
                "\t\t(stroke (width -0.1) (type default)) (layer \"F.Fab\"))\n"
                "\t(fp_line (start 0 0) (end 0 1)\n"
                "\t\t(stroke (width 0) (type default)) (layer \"F.Cu\"))\n"
                "\t(pad \"1\" smd rect (at 0 0) (size 1 2) (layers \"F.Cu\" \"F.Paste\" "
                "\"F.Mask\"))\n"
                "\t(pad \"2\" thru_hole circle (at 2.54 0 90) (size 1.6 1.6) (drill 0.8) (layers "
                "\"*.Cu\" \"*.Mask\"))\n"
                "\t(pad \"MH\" np_thru_hole rect (at -3 1.5) (size 3 3) (drill 3) (layers "
                "\"*.Mask\"))\n"
                "\t(pad \"4\\\\\" smd oval (at 1 1 -45.5) (size 0.5 0.5) (layers \"F.Cu\" "
                "\"F.Paste\" \"F.Mask\"))\n"
                ")\n");
}

TEST(FootprintWriter, HolePadPlatingFromDocument) {
  auto part = parse_vorn_lbr_part(R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[]},
    "footprint":{"name":"F","pads":[
      {"number":"1","x_mm":0,"y_mm":0,"w_mm":1,"h_mm":1,"drill_mm":0.5},
      {"number":"2","x_mm":0,"y_mm":0,"w_mm":1,"h_mm":1,"drill_mm":0.5,"plated":true},
      {"number":"3","x_mm":0,"y_mm":0,"w_mm":1,"h_mm":1,"drill_mm":-1,"plated":false}]}})");
  ASSERT_TRUE(part) << part.error();
  std::string text = write_kicad_footprint(part->footprint);
  EXPECT_NE(text.find("(pad \"1\" thru_hole rect (at 0 0) (size 1 1) (drill 0.5) (layers \"*.Cu\" "
                      "\"*.Mask\"))"),
            std::string::npos);
  EXPECT_NE(text.find("(pad \"2\" thru_hole rect"), std::string::npos);
  // A non-positive drill is a surface pad whatever the plating says.
  EXPECT_NE(text.find("(pad \"3\" smd rect (at 0 0) (size 1 1) (layers \"F.Cu\""),
            std::string::npos);
}

}  // namespace
}  // namespace altium_codec
