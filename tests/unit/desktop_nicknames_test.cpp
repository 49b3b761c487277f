// The nicknames a delivered project may rely on: every row of the user's tables, KiCad's own
// libraries included, first occurrence kept.
#include <gtest/gtest.h>

#include "desktop/library_discovery.h"

namespace vorn {
namespace {

TEST(TableNicknames, KiCadOwnRowsCountAndDuplicatesGo) {
  const std::string text =
      "(sym_lib_table (version 7)\n"
      "  (lib (name \"Device\")(type \"KiCad\")(uri \"${KICAD9_SYMBOL_DIR}/Device.kicad_sym\"))\n"
      "  (lib (name \"power\")(type \"KiCad\")(uri \"/usr/share/kicad/symbols/power.kicad_sym\"))\n"
      "  (lib (name \"Mine\")(type \"KiCad\")(uri \"/home/u/Mine.kicad_sym\"))\n"
      "  (lib (name \"\")(uri \"/x\"))\n"
      ")\n(sym_lib_table (lib (name \"Mine\")(uri \"/other\")) (lib (name \"Only9\")))\n";
  EXPECT_EQ(table_nicknames(text), (std::vector<std::string>{"Device", "power", "Mine", "Only9"}));
  // The library listing still leaves KiCad's own libraries out.
  EXPECT_EQ(parse_library_tables(text).size(), 1u);
  EXPECT_TRUE(table_nicknames("").empty());
}

}  // namespace
}  // namespace vorn
