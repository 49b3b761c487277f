// The footprint layer table: which roles appear, their counts and their order.
#include "parts/part_view.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

using namespace altium_codec;

FpLine line_on(FpLayerRole role) { return FpLine{{role, {}}, 0, 0, 1, 1, 0.1}; }

TEST(PartLayers, PadsMakeCopperAndEntriesSortByRoleText) {
  Footprint f;
  f.pads.resize(4);
  f.graphics.push_back(line_on(FpLayerRole::silk));
  EXPECT_EQ(layer_table(f).dump(),
            R"j([{"altium":"Top Layer","count":4,"key":"copper","kicad":"F.Cu","role":"Copper"},)j"
            R"j({"altium":"Mechanical 13 (Assembly Top)","count":1,"key":"silk","kicad":"F.SilkS","role":"Silkscreen"}])j");
}

TEST(PartLayers, EveryRoleWithShapesOnlyAndCopperShapesAddToPads) {
  Footprint f;
  for (auto role : {FpLayerRole::other, FpLayerRole::fab, FpLayerRole::silk, FpLayerRole::courtyard,
                    FpLayerRole::copper, FpLayerRole::fab}) {
    f.graphics.push_back(line_on(role));
  }
  EXPECT_EQ(layer_table(f).dump(),
            R"j([{"altium":"Top Layer","count":1,"key":"copper","kicad":"F.Cu","role":"Copper"},)j"
            R"j({"altium":"Mechanical 15 (Courtyard Top)","count":1,"key":"courtyard","kicad":"F.CrtYd","role":"Courtyard"},)j"
            R"j({"altium":"Mechanical 13 (Assembly Top)","count":2,"key":"fab","kicad":"F.Fab","role":"Fabrication / Assembly"},)j"
            R"j({"altium":"Mechanical 1","count":1,"key":"other","kicad":"F.Fab","role":"Other"},)j"
            R"j({"altium":"Mechanical 13 (Assembly Top)","count":1,"key":"silk","kicad":"F.SilkS","role":"Silkscreen"}])j");
  f.pads.resize(2);
  EXPECT_EQ(layer_table(f)[0]["count"], 3);
  EXPECT_EQ(layer_table(Footprint{}), Json::array());
}

}  // namespace
}  // namespace vorn
