// Symbol and footprint pictures, byte for byte, and their number printing.
#include "parts/part_svg.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

using namespace altium_codec;

const std::string kRoot = "<svg xmlns='http://www.w3.org/2000/svg'";

Pin pin(std::string number, std::string name, int x, int y, std::optional<int> length, int rotation) {
  Pin p;
  p.number = std::move(number);
  p.name = std::move(name);
  p.x = x;
  p.y = y;
  p.length = length;
  p.rotation = static_cast<uint16_t>(rotation);
  return p;
}

Symbol shown(std::vector<Pin> pins) {
  Symbol s;
  s.pins = std::move(pins);
  s.pin_numbers_hidden = false;
  s.pin_names_hidden = false;
  return s;
}

// The content between the root's ">" and "</svg>".
std::string content(const std::string& svg) {
  const size_t open = svg.find("style='width:100%;height:100%'>");
  EXPECT_NE(open, std::string::npos) << svg;
  const size_t start = open + std::string("style='width:100%;height:100%'>").size();
  return svg.substr(start, svg.size() - start - 6);
}

TEST(PartSvg, EmptyPicturesArePlaceholders) {
  EXPECT_EQ(symbol_svg(Symbol{}),
            kRoot + " viewBox='0 0 100 40'><text x='50' y='24' text-anchor='middle' fill='#888' "
                    "font-size='8'>no symbol</text></svg>");
  Symbol only_empty_polyline;
  only_empty_polyline.graphics.push_back(GraphicPolyline{});
  EXPECT_EQ(symbol_svg(only_empty_polyline), symbol_svg(Symbol{}));
  EXPECT_EQ(footprint_svg(Footprint{}, {}),
            kRoot + " viewBox='0 0 100 40'><text x='50' y='24' text-anchor='middle' fill='#888' "
                    "font-size='8'>no footprint</text></svg>");
}

TEST(PartSvg, PinLineNumberAndNameAreWhollyPlaced) {
  EXPECT_EQ(symbol_svg(shown({pin("1", "A", 0, 100, 100, 0)})),
            kRoot +
                " viewBox='-50 -150 100 100' style='width:100%;height:100%'>"
                "<g class='pingroup' data-num='1' data-name='A'><line class='pinvis' x1='0.0' y1='-100.0' "
                "x2='100.0' y2='-100.0' stroke='#dfe4ec' stroke-width='4'/><line x1='0.0' y1='-100.0' x2='100.0' "
                "y2='-100.0' stroke='transparent' stroke-width='26' pointer-events='stroke'/></g>"
                "<text x='50.0' y='-62.5' font-size='50' fill='#9fb0c8' text-anchor='middle' "
                "dominant-baseline='central'>1</text>"
                "<text x='125.0' y='-100.0' font-size='50' fill='#e6e9ef' text-anchor='start' "
                "dominant-baseline='central'>A</text></svg>");
}

TEST(PartSvg, PinDirectionsAndAnchors) {
  // Rotation 90 points up on the screen: the name sits above the end, centred.
  const std::string up = content(symbol_svg(shown({pin("2", "B", 0, 0, 100, 90)})));
  EXPECT_NE(up.find("x1='0.0' y1='-0.0' x2='0.0' y2='-100.0'"), std::string::npos) << up;
  EXPECT_NE(up.find("<text x='37.5' y='-50.0' font-size='50' fill='#9fb0c8'"), std::string::npos) << up;
  EXPECT_NE(up.find("<text x='0.0' y='-125.0' font-size='50' fill='#e6e9ef' text-anchor='middle'"), std::string::npos);

  const std::string left = content(symbol_svg(shown({pin("3", "C", 0, 0, 100, 180)})));
  EXPECT_NE(left.find("x2='-100.0' y2='-0.0'"), std::string::npos) << left;
  EXPECT_NE(left.find("<text x='-125.0' y='0.0' font-size='50' fill='#e6e9ef' text-anchor='end'"), std::string::npos)
      << left;

  const std::string down = content(symbol_svg(shown({pin("4", "D", 0, 0, 100, 270)})));
  EXPECT_NE(down.find("x2='0.0' y2='100.0'"), std::string::npos) << down;
  EXPECT_NE(down.find("text-anchor='middle' dominant-baseline='central'>D<"), std::string::npos) << down;

  // Rotations wrap after a full turn; a missing length is 200 (font size 60).
  const std::string wrapped = content(symbol_svg(shown({pin("5", "E", 0, 0, std::nullopt, 450)})));
  EXPECT_NE(wrapped.find("x2='0.0' y2='-200.0'"), std::string::npos) << wrapped;
  EXPECT_NE(wrapped.find("font-size='60'"), std::string::npos);
}

TEST(PartSvg, FontSizeIsHalfTheLengthClamped) {
  EXPECT_NE(symbol_svg(shown({pin("1", "A", 0, 0, 300, 0)})).find("font-size='60'"), std::string::npos);
  EXPECT_NE(symbol_svg(shown({pin("1", "A", 0, 0, 60, 0)})).find("font-size='45'"), std::string::npos);
  EXPECT_NE(symbol_svg(shown({pin("1", "A", 0, 0, 101, 0)})).find("font-size='50.5'"), std::string::npos);
}

TEST(PartSvg, HiddenNumbersAndNamesFollowTheFlagsOrThePinCount) {
  Symbol two;
  two.pins = {pin("1", "A", 0, 0, 100, 0), pin("2", "B", 0, 100, 100, 0)};
  EXPECT_EQ(symbol_svg(two).find("<text"), std::string::npos);
  Symbol three = two;
  three.pins.push_back(pin("3", "C", 0, 200, 100, 0));
  const std::string all = symbol_svg(three);
  EXPECT_NE(all.find(">3</text>"), std::string::npos);
  EXPECT_NE(all.find(">C</text>"), std::string::npos);
  three.pin_numbers_hidden = true;
  const std::string names_only = symbol_svg(three);
  EXPECT_EQ(names_only.find("fill='#9fb0c8'"), std::string::npos);
  EXPECT_NE(names_only.find(">C</text>"), std::string::npos);
  // "~" and empty names draw no name text but keep their group.
  const std::string tilde = symbol_svg(shown({pin("9", "~", 0, 0, 100, 0), pin("8", "", 0, 100, 100, 0)}));
  EXPECT_EQ(tilde.find("fill='#e6e9ef'"), std::string::npos);
  EXPECT_NE(tilde.find("data-num='9' data-name='~'"), std::string::npos);
}

TEST(PartSvg, PinTextIsEscapedButGreaterThanStays) {
  const std::string svg = symbol_svg(shown({pin("a&'\"<>", "n<&>", 0, 0, 100, 0)}));
  EXPECT_NE(svg.find("data-num='a&amp;&#39;&quot;&lt;>' data-name='n&lt;&amp;>'"), std::string::npos) << svg;
  EXPECT_NE(svg.find(">a&amp;&#39;&quot;&lt;></text>"), std::string::npos);
  EXPECT_NE(svg.find(">n&lt;&amp;></text>"), std::string::npos);
  EXPECT_EQ(html_escape("&amp;"), "&amp;amp;");
}

TEST(PartSvg, SymbolGraphicsComeBeforePinsInDocumentOrder) {
  Symbol s;
  s.graphics.push_back(GraphicRect{10, 20, -30, -40, 3, true});
  s.graphics.push_back(GraphicRect{0, 0, 10, 10, 0, false});
  s.graphics.push_back(GraphicCircle{5, 10, 2.5, 0});
  s.graphics.push_back(GraphicPolyline{{{0, 0}, {9.96, -5}}, 0});
  s.pins.push_back(pin("1", "A", 0, 0, 10, 0));
  EXPECT_EQ(symbol_svg(s),
            kRoot +
                " viewBox='-80 -70 140 160' style='width:100%;height:100%'>"
                "<rect x='-30.0' y='-20.0' width='40.0' height='60.0' fill='#e35d5d' stroke='#e35d5d' "
                "stroke-width='4'/>"
                "<rect x='0.0' y='-10.0' width='10.0' height='10.0' fill='none' stroke='#e35d5d' stroke-width='4'/>"
                "<circle cx='5.0' cy='-10.0' r='2.5' fill='none' stroke='#e35d5d' stroke-width='4'/>"
                "<polyline points='0.0,-0.0 10.0,5.0' fill='none' stroke='#e35d5d' stroke-width='4'/>"
                "<g class='pingroup' data-num='1' data-name='A'><line class='pinvis' x1='0.0' y1='-0.0' x2='10.0' "
                "y2='-0.0' stroke='#dfe4ec' stroke-width='4'/><line x1='0.0' y1='-0.0' x2='10.0' y2='-0.0' "
                "stroke='transparent' stroke-width='26' pointer-events='stroke'/></g></svg>");
}

TEST(PartSvg, FractionalBoxPrintsShortest) {
  Symbol s;
  s.graphics.push_back(GraphicCircle{5, 10, 2.5, 0});
  EXPECT_EQ(symbol_svg(s).substr(kRoot.size(), 30), " viewBox='-47.5 -62.5 105 105'");
}

TEST(PartSvg, SymbolArcsSetTheLargeArcFlag) {
  Symbol s;
  s.graphics.push_back(GraphicArc{0, 0, 100, 90, 0, 0});    // 270 degrees
  s.graphics.push_back(GraphicArc{0, 0, 100, 0, 90, 0});    // 90 degrees
  s.graphics.push_back(GraphicArc{0, 0, 100, 300, 30, 0});  // 90 degrees across zero
  s.graphics.push_back(GraphicArc{0, 0, 100, 0, 180, 0});   // exactly half: not large
  const std::string body = content(symbol_svg(s));
  EXPECT_EQ(body,
            "<path d='M0.0 -100.0 A100.0 100.0 0 1 0 100.0 -0.0' fill='none' stroke='#e35d5d' stroke-width='4'/>"
            "<path d='M100.0 -0.0 A100.0 100.0 0 0 0 0.0 -100.0' fill='none' stroke='#e35d5d' stroke-width='4'/>"
            "<path d='M50.0 86.6 A100.0 100.0 0 0 0 86.6 -50.0' fill='none' stroke='#e35d5d' stroke-width='4'/>"
            "<path d='M100.0 -0.0 A100.0 100.0 0 0 0 -100.0 -0.0' fill='none' stroke='#e35d5d' stroke-width='4'/>");
}

TEST(PartSvg, FootprintShapesThenPadsWithRoleColours) {
  Footprint f;
  f.graphics.push_back(FpLine{{FpLayerRole::silk, {}}, -1.5, -1, 1.5, -1, 0.12});
  f.graphics.push_back(FpArc{{FpLayerRole::fab, {}}, 0, 0, 1, 90, 0, 0});
  f.graphics.push_back(FpCircle{{FpLayerRole::courtyard, {}}, 0, 0.5, 0.25, 0.05});
  f.graphics.push_back(FpRect{{FpLayerRole::other, {}}, 2, 1.5, -2, -1.5, 0.1});
  f.graphics.push_back(FpLine{{FpLayerRole::copper, {}}, 0, 0, 0.5, 0, 0.2});
  Pad p1;
  p1.number = "1";
  p1.x_mm = -1;
  p1.w_mm = 0.5;
  p1.h_mm = 0.6;
  Pad p2 = p1;
  p2.number = "2";
  p2.x_mm = 1;
  p2.shape = "roundrect";
  Pad p3 = p1;
  p3.number = "3";
  p3.shape = "oval";
  f.pads = {p1, p2, p3};
  Symbol s;
  s.pins = {pin("1", "A&B", 0, 0, 100, 0), pin("2", "~", 0, 0, 100, 0)};
  EXPECT_EQ(footprint_svg(f, pin_name_map(s)),
            kRoot +
                " viewBox='-2.400 -1.900 4.800 3.800' style='width:100%;height:100%'>"
                "<line class='ly-silk' x1='-1.500' y1='-1.000' x2='1.500' y2='-1.000' stroke='#d8b4fe' "
                "stroke-width='0.120'/>"
                "<path class='ly-fab' d='M0.000 1.000 A1.000 1.000 0 0 1 1.000 0.000' fill='none' stroke='#f472b6' "
                "stroke-width='0.050'/>"
                "<circle class='ly-courtyard' cx='0.000' cy='0.500' r='0.250' fill='none' stroke='#4ade80' "
                "stroke-width='0.050'/>"
                "<rect class='ly-other' x='-2.000' y='-1.500' width='4.000' height='3.000' fill='none' "
                "stroke='#94a3b8' stroke-width='0.100'/>"
                "<line class='ly-copper' x1='0.000' y1='0.000' x2='0.500' y2='0.000' stroke='#f59e0b' "
                "stroke-width='0.200'/>"
                "<rect class='ly-copper pad' data-num='1' data-name='A&amp;B' x='-1.250' y='-0.300' width='0.500' "
                "height='0.600' rx='0.000' fill='#f59e0b' opacity='0.9'/>"
                "<rect class='ly-copper pad' data-num='2' data-name='' x='0.750' y='-0.300' width='0.500' "
                "height='0.600' rx='0.125' fill='#f59e0b' opacity='0.9'/>"
                "<rect class='ly-copper pad' data-num='3' data-name='' x='-1.250' y='-0.300' width='0.500' "
                "height='0.600' rx='0.000' fill='#f59e0b' opacity='0.9'/></svg>");
}

TEST(PartSvg, PinNameMapSkipsBlankNamesAndKeepsTheLastPin) {
  Symbol s;
  s.pins = {pin("1", "A", 0, 0, 1, 0), pin("1", "B", 0, 0, 1, 0), pin("2", "~", 0, 0, 1, 0), pin("3", "", 0, 0, 1, 0)};
  EXPECT_EQ(pin_name_map(s), (PinNames{{"1", "B"}}));
}

}  // namespace
}  // namespace vorn
