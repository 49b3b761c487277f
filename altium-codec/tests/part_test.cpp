#include "altium_codec/part.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace altium_codec {
namespace {

constexpr std::string_view kFullDocument = R"({
  "schema_version": 3,
  "mpn": "LM358DR",
  "manufacturer": "Acme",
  "package": "SOIC-8",
  "value": "LM358",
  "category": "Amplifiers",
  "symbol": {
    "name": "LM358",
    "pins": [
      {"number": "1", "name": "OUT", "x": -300, "y": 100, "length": 150, "rotation": 180},
      {"number": "2", "name": "~", "x": -300, "y": -100},
      ["3", "IN+", 300, 0]
    ],
    "body": {"x1": -200, "y1": -200, "x2": 200, "y2": 200},
    "graphics": [
      {"kind": "polyline", "points": [[0, 0], [10.5, -3]], "width": 6},
      {"kind": "rect", "x1": -1, "y1": -2, "x2": 3, "y2": 4, "filled": true},
      {"kind": "circle", "cx": 1, "cy": 2, "r": 3},
      {"kind": "arc", "cx": 0, "cy": 0, "r": 100, "start": 0, "end": 90, "width": 2},
      ["circle", 5, 6, 7]
    ],
    "designator_prefix": "IC",
    "footprint": "Package_SO:SOIC-8",
    "parameters": [{"name": "Tolerance", "value": "1%", "visible": true}, ["Temp", "85C"]],
    "pin_numbers_hidden": false,
    "unknown_key": {"ignored": [1, 2, 3]}
  },
  "footprint": {
    "name": "SOIC-8",
    "pads": [
      {"number": "1", "x_mm": -2.7, "y_mm": -1.905, "w_mm": 1.55, "h_mm": 0.6},
      {"number": "9", "x_mm": 0, "y_mm": 0, "w_mm": 1.6, "h_mm": 1.6, "drill_mm": 0.8,
       "rotation": 45, "shape": "circle", "plated": false}
    ],
    "graphics": [
      {"kind": "line", "layer": {"role": "silk"}, "x1": 0, "y1": 0, "x2": 1, "y2": 1, "width": 0.12},
      {"kind": "rect", "layer": {"role": "courtyard"}, "x1": -3, "y1": -3, "x2": 3, "y2": 3},
      {"kind": "circle", "layer": {"role": "other", "altium": "Mechanical 13"}, "cx": 1, "cy": 2, "r": 0.5},
      {"kind": "arc", "layer": ["copper"], "cx": 0, "cy": 0, "r": 1, "start": 90, "end": 180}
    ]
  },
  "connect": [{"pin": "1", "pad": "1"}, ["2", "9"]],
  "model_3d": "SOIC-8.step",
  "provenance": {"tool": "converter", "rev": [1, -2, 2.5, null, true]}
})";

// A minimal valid document with `insert` placed after the root's opening brace.
std::string minimal(std::string_view insert = "") {
  return "{" + std::string(insert) +
         R"("schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[]},)"
         R"("footprint":{"name":"F","pads":[]}})";
}

std::string error_of(std::string_view text) {
  auto result = parse_vorn_lbr_part(text);
  if (result) return "<parsed>";
  return result.error();
}

TEST(PartDocument, ReadsEveryRecordInObjectAndArrayForm) {
  auto parsed = parse_vorn_lbr_part(kFullDocument);
  ASSERT_TRUE(parsed) << parsed.error();
  const VornLbrPart& p = *parsed;
  EXPECT_EQ(p.schema_version, 3u);
  EXPECT_EQ(p.mpn, "LM358DR");
  EXPECT_EQ(p.manufacturer, "Acme");
  EXPECT_EQ(p.package, "SOIC-8");
  EXPECT_EQ(p.value, "LM358");
  EXPECT_EQ(p.category, "Amplifiers");

  const Symbol& s = p.symbol;
  ASSERT_EQ(s.pins.size(), 3u);
  EXPECT_EQ(s.pins[0].length, 150);
  EXPECT_EQ(s.pins[0].rotation, 180);
  EXPECT_EQ(s.pins[1].name, "~");
  EXPECT_FALSE(s.pins[1].length.has_value());
  EXPECT_EQ(s.pins[1].rotation, 0);
  EXPECT_EQ(s.pins[2].number, "3");
  EXPECT_EQ(s.pins[2].x, 300);
  ASSERT_TRUE(s.body);
  EXPECT_EQ(s.body->x1, -200);
  EXPECT_EQ(s.body->y2, 200);

  ASSERT_EQ(s.graphics.size(), 5u);
  const auto& poly = std::get<GraphicPolyline>(s.graphics[0]);
  ASSERT_EQ(poly.points.size(), 2u);
  EXPECT_DOUBLE_EQ(poly.points[1][0], 10.5);
  EXPECT_DOUBLE_EQ(poly.points[1][1], -3);
  EXPECT_DOUBLE_EQ(poly.width, 6);
  const auto& rect = std::get<GraphicRect>(s.graphics[1]);
  EXPECT_TRUE(rect.filled);
  EXPECT_DOUBLE_EQ(rect.width, 0);
  EXPECT_DOUBLE_EQ(std::get<GraphicCircle>(s.graphics[2]).r, 3);
  EXPECT_DOUBLE_EQ(std::get<GraphicArc>(s.graphics[3]).end, 90);
  const auto& tuple_circle = std::get<GraphicCircle>(s.graphics[4]);
  EXPECT_DOUBLE_EQ(tuple_circle.cx, 5);
  EXPECT_DOUBLE_EQ(tuple_circle.r, 7);
  EXPECT_EQ(graphic_kind(s.graphics[4]), "circle");

  EXPECT_EQ(s.designator_prefix, "IC");
  EXPECT_EQ(s.footprint, "Package_SO:SOIC-8");
  ASSERT_EQ(s.parameters.size(), 2u);
  EXPECT_TRUE(s.parameters[0].visible);
  EXPECT_EQ(s.parameters[1].name, "Temp");
  EXPECT_FALSE(s.parameters[1].visible);
  EXPECT_EQ(s.pin_numbers_hidden, false);
  EXPECT_FALSE(s.pin_names_hidden.has_value());

  const Footprint& f = p.footprint;
  ASSERT_EQ(f.pads.size(), 2u);
  EXPECT_EQ(f.pads[0].shape, "rect");
  EXPECT_DOUBLE_EQ(f.pads[0].drill_mm, 0);
  EXPECT_DOUBLE_EQ(f.pads[0].rotation, 0);
  EXPECT_FALSE(f.pads[0].plated.has_value());
  EXPECT_EQ(f.pads[1].plated, false);
  EXPECT_DOUBLE_EQ(f.pads[1].rotation, 45);
  ASSERT_EQ(f.graphics.size(), 4u);
  EXPECT_EQ(std::get<FpLine>(f.graphics[0]).layer.role, FpLayerRole::silk);
  EXPECT_EQ(std::get<FpRect>(f.graphics[1]).layer.role, FpLayerRole::courtyard);
  const auto& other = std::get<FpCircle>(f.graphics[2]).layer;
  EXPECT_EQ(other.role, FpLayerRole::other);
  EXPECT_EQ(other.altium, "Mechanical 13");
  EXPECT_EQ(std::get<FpArc>(f.graphics[3]).layer.role, FpLayerRole::copper);

  ASSERT_EQ(p.connect.size(), 2u);
  EXPECT_EQ(p.connect[1].pin, "2");
  EXPECT_EQ(p.connect[1].pad, "9");
  EXPECT_EQ(p.model_3d, "SOIC-8.step");
  ASSERT_TRUE(p.provenance);
  EXPECT_EQ(p.provenance->dump(), R"({"rev":[1,-2,2.5,null,true],"tool":"converter"})");
}

TEST(PartDocument, AbsentMembersTakeDefaultsOrStayAbsent) {
  auto parsed = parse_vorn_lbr_part(minimal());
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->manufacturer, "");
  EXPECT_TRUE(parsed->connect.empty());
  EXPECT_FALSE(parsed->model_3d);
  EXPECT_FALSE(parsed->provenance);
  EXPECT_FALSE(parsed->symbol.designator_prefix);
  EXPECT_FALSE(parsed->symbol.footprint);
  EXPECT_FALSE(parsed->symbol.body);
  EXPECT_FALSE(parsed->symbol.pin_numbers_hidden);

  // Null stands for an absent optional member.
  auto nulls = parse_vorn_lbr_part(minimal(R"("model_3d":null,"provenance":null,)"));
  ASSERT_TRUE(nulls) << nulls.error();
  EXPECT_FALSE(nulls->model_3d);
  EXPECT_FALSE(nulls->provenance);

  // Short arrays fill trailing defaulted and optional members.
  auto tuple =
      parse_vorn_lbr_part(R"([7,"M","","","","",["S",[["1","A",1,2]]],["F",[["1",0,0,1,1]]]])");
  ASSERT_TRUE(tuple) << tuple.error();
  EXPECT_EQ(tuple->schema_version, 7u);
  EXPECT_FALSE(tuple->symbol.pins[0].length);
  EXPECT_EQ(tuple->footprint.pads[0].shape, "rect");
}

TEST(PartDocument, IntegerRangesAreChecked) {
  EXPECT_TRUE(parse_vorn_lbr_part(minimal().replace(18, 1, "4294967295")));
  EXPECT_EQ(error_of(R"({"schema_version":4294967296})"),
            "invalid value: integer `4294967296`, expected u32 at line 1 column 28");
  EXPECT_EQ(error_of(R"({"schema_version":-1})"),
            "invalid value: integer `-1`, expected u32 at line 1 column 20");
  EXPECT_EQ(error_of(R"({"schema_version":"x"})"),
            "invalid type: string \"x\", expected u32 at line 1 column 21");
  EXPECT_EQ(error_of(R"({"schema_version":1.5})"),
            "invalid type: floating point `1.5`, expected u32 at line 1 column 21");
  EXPECT_EQ(error_of(R"({"schema_version":2e0})"),
            "invalid type: floating point `2.0`, expected u32 at line 1 column 21");

  auto pin_doc = [](std::string_view pin) {
    return R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[)" + std::string(pin) +
           "]}}";
  };
  EXPECT_EQ(error_of(pin_doc(R"(["1","A",2147483648,0])")),
            "invalid value: integer `2147483648`, expected i32 at line 1 column 78");
  EXPECT_EQ(error_of(pin_doc(R"(["1","A",-2147483649,0])")),
            "invalid value: integer `-2147483649`, expected i32 at line 1 column 79");
  EXPECT_EQ(error_of(pin_doc(R"(["1","A",0,0,0,65536])")),
            "invalid value: integer `65536`, expected u16 at line 1 column 79");
  EXPECT_EQ(error_of(pin_doc(R"(["1","A",0,0,0,-90])")),
            "invalid value: integer `-90`, expected u16 at line 1 column 77");
  auto extreme = parse_vorn_lbr_part(
      R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[["1","A",-2147483648,2147483647,null,65535]]},"footprint":["F",[]]})");
  ASSERT_TRUE(extreme) << extreme.error();
  EXPECT_EQ(extreme->symbol.pins[0].x, INT32_MIN);
  EXPECT_EQ(extreme->symbol.pins[0].y, INT32_MAX);
  EXPECT_EQ(extreme->symbol.pins[0].rotation, 65535);
}

TEST(PartDocument, RecordErrorsNameTheFieldAndPosition) {
  std::string no_mpn =
      R"({"schema_version":1,"symbol":{"name":"S","pins":[]},"footprint":{"name":"F","pads":[]}})";
  EXPECT_EQ(error_of(no_mpn),
            "missing field `mpn` at line 1 column " + std::to_string(no_mpn.size()));
  EXPECT_EQ(error_of(minimal(R"("mpn":"dup",)")), "duplicate field `mpn` at line 1 column 37");
  EXPECT_EQ(
      error_of(R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[["1","A",5]]}})"),
      "invalid length 3, expected struct Pin with 6 elements at line 1 column 70");
  EXPECT_EQ(
      error_of(
          R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[["1","A",5,6,7,8,9]]}})"),
      "trailing characters at line 1 column 77");
  EXPECT_EQ(error_of(R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":{}}})"),
            "invalid type: map, expected a sequence at line 1 column 58");
  EXPECT_EQ(error_of(R"({"schema_version":1,"mpn":"M","symbol":"S"})"),
            "invalid type: string \"S\", expected struct Symbol at line 1 column 42");
  EXPECT_EQ(error_of(R"({"schema_version":1,"mpn":null})"),
            "invalid type: null, expected a string at line 1 column 30");
  EXPECT_EQ(error_of(R"({"schema_version":1,"mpn":"M","manufacturer":false})"),
            "invalid type: boolean `false`, expected a string at line 1 column 50");
  EXPECT_EQ(error_of("[]"),
            "invalid length 0, expected struct VornLbrPart with 11 elements at line 1 column 2");
  EXPECT_EQ(error_of("7"),
            "invalid type: integer `7`, expected struct VornLbrPart at line 1 column 1");
}

TEST(PartDocument, TaggedShapeErrors) {
  std::string hexagon =
      "{\"schema_version\":1,\"mpn\":\"M\",\n"
      " \"symbol\":{\"name\":\"S\",\"pins\":[],\n"
      "  \"graphics\":[{\"kind\":\"hexagon\"}]},\n"
      " \"footprint\":{\"name\":\"F\",\"pads\":[]}}";
  EXPECT_EQ(error_of(hexagon),
            "unknown variant `hexagon`, expected one of `polyline`, `rect`, `circle`, `arc` "
            "at line 3 column 31");

  auto graphic_doc = [](std::string_view graphic) {
    return R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[],"graphics":[)" +
           std::string(graphic) + "]}}";
  };
  // Errors inside a shape are placed just past the whole shape.
  EXPECT_EQ(error_of(graphic_doc(R"({"kind":"circle","cx":1,"cy":2})")),
            "missing field `r` at line 1 column 104");
  EXPECT_EQ(error_of(graphic_doc(R"({"cx":1})")), "missing field `kind` at line 1 column 81");
  EXPECT_EQ(error_of(graphic_doc(R"({"kind":"rect","x1":"a","y1":0,"x2":0,"y2":0})")),
            "invalid type: string \"a\", expected f64 at line 1 column 118");
  EXPECT_EQ(error_of(graphic_doc(R"({"kind":"polyline","points":[[1]]})")),
            "invalid length 1, expected an array of length 2 at line 1 column 107");
  EXPECT_EQ(error_of(graphic_doc(R"({"kind":"polyline","points":[[1,2,3]]})")),
            "invalid length 3, expected 2 elements in sequence at line 1 column 111");
  EXPECT_EQ(error_of(graphic_doc(R"(["arc",0,0,1,0])")),
            "invalid length 4, expected struct variant Graphic::Arc with 6 elements at line 1 "
            "column 88");
  EXPECT_EQ(error_of(graphic_doc(R"(["circle",1,2,3,4,5])")),
            "invalid length 5, expected 4 elements in sequence at line 1 column 93");
  EXPECT_EQ(error_of(graphic_doc(R"([])")), "missing field `kind` at line 1 column 75");
  EXPECT_EQ(error_of(graphic_doc(R"({"kind":4})")),
            "invalid type: integer `4`, expected variant identifier at line 1 column 82");
  EXPECT_EQ(error_of(graphic_doc(R"("rect")")),
            "invalid type: string \"rect\", expected internally tagged enum Graphic at line 1 "
            "column 79");
  EXPECT_EQ(error_of(graphic_doc(R"({"kind":"rect","kind":"rect"})")),
            "duplicate field `kind` at line 1 column 94");

  auto fp_doc = [](std::string_view layer) {
    return R"({"schema_version":1,"mpn":"M","symbol":{"name":"S","pins":[]},"footprint":{"name":"F","pads":[],"graphics":[{"kind":"line","layer":)" +
           std::string(layer) + R"(,"x1":0,"y1":0,"x2":1,"y2":1}]}})";
  };
  std::string hexagon_role = fp_doc(R"({"role":"hexagon"})");
  EXPECT_EQ(error_of(hexagon_role),
            "unknown variant `hexagon`, expected one of `silk`, `courtyard`, `fab`, `copper`, "
            "`other` at line 1 column " +
                std::to_string(hexagon_role.size() - 3));
  auto by_index = parse_vorn_lbr_part(fp_doc(R"({"role":2})"));
  ASSERT_TRUE(by_index) << by_index.error();
  EXPECT_EQ(std::get<FpLine>(by_index->footprint.graphics[0]).layer.role, FpLayerRole::fab);
  auto ignored = parse_vorn_lbr_part(fp_doc(R"({"role":"silk","altium":7})"));
  ASSERT_TRUE(ignored) << ignored.error();
}

TEST(PartDocument, SyntaxErrors) {
  EXPECT_EQ(error_of(""), "EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(error_of("{\"schema_version\":1,\n\"mpn\":\"M"),
            "EOF while parsing a string at line 2 column 8");
  EXPECT_EQ(error_of(R"({"schema_version":1)"), "EOF while parsing an object at line 1 column 19");
  EXPECT_EQ(error_of(R"({"schema_version":1 "mpn")"), "expected `,` or `}` at line 1 column 21");
  EXPECT_EQ(error_of(R"({"schema_version" 1})"), "expected `:` at line 1 column 19");
  EXPECT_EQ(error_of(R"({"schema_version":1,})"), "trailing comma at line 1 column 21");
  EXPECT_EQ(error_of(R"({schema_version:1})"), "key must be a string at line 1 column 2");
  EXPECT_EQ(error_of(R"({"schema_version":01})"), "invalid number at line 1 column 20");
  EXPECT_EQ(error_of(R"({"schema_version":tru})"), "expected ident at line 1 column 22");
  EXPECT_EQ(error_of(R"({"schema_version":1e999})"), "number out of range at line 1 column 23");
  EXPECT_EQ(error_of(R"({"mpn":"a\qb"})"), "invalid escape at line 1 column 11");
  EXPECT_EQ(error_of("{\"mpn\":\"a\x01\"}"),
            "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 10");
  EXPECT_EQ(error_of("{\"mpn\":\"\xff\"}"), "invalid unicode code point at line 1 column 9");
  EXPECT_EQ(error_of(minimal() + " x"),
            "trailing characters at line 1 column " + std::to_string(minimal().size() + 2));
  EXPECT_EQ(error_of(std::string(200, '[')), "recursion limit exceeded at line 1 column 128");
}

TEST(PartDocument, StringsDecodeEscapes) {
  auto parsed = parse_vorn_lbr_part(minimal(R"("manufacturer":"a\"b\\c\u00e9\ud83d\ude00\n",)"));
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->manufacturer, "a\"b\\c\xc3\xa9\xf0\x9f\x98\x80\n");
}

// Mutated and truncated documents never crash the reader: each yields a record or a
// positioned error.
TEST(PartDocument, MutatedDocumentsYieldValueOrError) {
  std::mt19937 rng(20240108);
  const std::string base(kFullDocument);
  constexpr std::string_view kAlphabet = "{}[]\",:0123456789-.eE \\tnfaxu";
  int parsed = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string text = base;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      size_t at = rng() % text.size();
      switch (rng() % 4) {
        case 0:
          text.erase(at, 1 + rng() % 8);
          break;
        case 1:
          text.insert(at, 1, kAlphabet[rng() % kAlphabet.size()]);
          break;
        case 2:
          text[at] = static_cast<char>(rng() % 256);
          break;
        default:
          text.resize(at);
          break;
      }
    }
    auto result = parse_vorn_lbr_part(text);
    if (result) {
      ++parsed;
    } else {
      EXPECT_NE(result.error().find(" at line "), std::string::npos) << result.error();
    }
  }
  EXPECT_GT(parsed, 0);  // some edits land in ignored or free-form places
}

}  // namespace
}  // namespace altium_codec
