// EDA kinds from file names and the kind cache.
#include "boards/eda_kinds.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(EdaKinds, SuffixesAreCaseInsensitiveAndTheOrderIsFixed) {
  EXPECT_EQ(eda_kinds_of_files({"Board.KICAD_PCB"}), (EdaKinds{"kicad"}));
  EXPECT_EQ(eda_kinds_of_files({"b.f3d", "a.schdoc"}), (EdaKinds{"altium", "fusion"}));
  EXPECT_EQ(eda_kinds_of_files({"x.lbr", "y.kicad_pro", "z.IntLib", "w.kicad_sch"}),
            (EdaKinds{"kicad", "altium", "fusion"}));
  EXPECT_EQ(eda_kinds_of_files({"model.glb", "package.json", "kicad_pcb", "a.sch.txt"}), EdaKinds{});
  EXPECT_EQ(eda_kinds_of_files({}), EdaKinds{});
}

TEST(EdaKinds, CacheKeepsEmptyListsAndReplaces) {
  EdaKindCache cache;
  EXPECT_FALSE(cache.find("s"));
  cache.store("s", {});
  ASSERT_TRUE(cache.find("s"));
  EXPECT_TRUE(cache.find("s")->empty());
  cache.store("s", {"kicad"});
  EXPECT_EQ(*cache.find("s"), (EdaKinds{"kicad"}));
  EXPECT_EQ(cache.size(), 1u);
}

TEST(EdaKinds, UnsafeSlugsNeverReachThePlatform) {
  // No platform is configured in unit tests; an unsafe slug must answer at once, empty.
  EXPECT_EQ(eda_kinds("../x"), EdaKinds{});
  EXPECT_EQ(eda_kinds(""), EdaKinds{});
}

}  // namespace
}  // namespace vorn
