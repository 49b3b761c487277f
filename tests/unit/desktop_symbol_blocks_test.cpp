// Symbol blocks cut from a page's KiCad library: flattening of derived symbols, renaming of the
// symbol and its units, the Footprint property, and the text guard for page text.
#include <gtest/gtest.h>

#include "desktop/kicad_guard.h"
#include "desktop/kicad_symbol_blocks.h"
#include "parts/part_units.h"

namespace vorn {
namespace {

const std::string kLibrary =
    "(kicad_symbol_lib (version 20241209)\n"
    "\t(symbol \"BASE\" (pin_names (offset 0.5))\n"
    "\t\t(property \"Reference\" \"U\" (at 0 1 0))\n"
    "\t\t(property \"Value\" \"BASE\" (at 0 -1 0))\n"
    "\t\t(property \"Footprint\" \"Pkg:DIP-8\" (at 0 0 0))\n"
    "\t\t(property \"Datasheet\" \"base.pdf\" (at 0 0 0))\n"
    "\t\t(symbol \"BASE_0_1\" (rectangle (start 0 0) (end 1 1)))\n"
    "\t\t(symbol \"BASE_1_1\" (pin input line (at 0 0 0) (length 2.54) (name \"A\") (number "
    "\"1\")))\n"
    "\t\t(symbol \"BASE_2_1\" (pin output inverted (at 5.08 0 180) (length 2.54) (name \"Y\") "
    "(number \"2\")\n"
    "\t\t\t(alternate \"CLK\" input clock)))\n"
    "\t)\n"
    "\t(symbol \"MID\" (extends \"BASE\")\n"
    "\t\t(property \"Value\" \"MID\" (at 0 -1 0))\n"
    "\t\t(property \"Datasheet\" \"\" (at 0 0 0))\n"
    "\t\t(property \"ki_keywords\" \"mid \\\"quoted\\\"\" (at 0 0 0))\n"
    "\t)\n"
    "\t(symbol \"TOP\" (extends \"MID\")\n"
    "\t\t(property \"Value\" \"TOP\" (at 0 -1 0))\n"
    "\t)\n"
    "\t(symbol \"LOOP_A\" (extends \"LOOP_B\"))\n"
    "\t(symbol \"LOOP_B\" (extends \"LOOP_A\"))\n"
    "\t(symbol \"ORPHAN\" (extends \"GONE\"))\n"
    "\t(symbol \"BADUNIT\" (symbol \"BADUNIT_x\" (pin input line (at 0 0 0))))\n"
    ")\n";

TEST(SymbolBlocks, PlainSymbolKeepsItsTextAndUnitsFollowTheNewName) {
  auto block = standalone_symbol_block(kLibrary, "BASE", "NEW");
  ASSERT_TRUE(block) << block.error();
  EXPECT_TRUE(block->starts_with("(symbol \"NEW\" (pin_names (offset 0.5))"));
  EXPECT_NE(block->find("(symbol \"NEW_0_1\" (rectangle"), std::string::npos);
  EXPECT_NE(block->find("(symbol \"NEW_2_1\" (pin output inverted"), std::string::npos);
  EXPECT_NE(block->find("(alternate \"CLK\" input clock)"), std::string::npos);
  EXPECT_EQ(block->find("BASE"), block->find("\"BASE\" (at") + 1);  // only the Value text keeps it
  EXPECT_TRUE(block->ends_with(")\n\t)"));
}

TEST(SymbolBlocks, DerivedChainsFlattenWithTheNearestPropertiesOnTop) {
  auto block = standalone_symbol_block(kLibrary, "TOP", "TOP");
  ASSERT_TRUE(block) << block.error();
  EXPECT_EQ(block->find("extends"), std::string::npos);
  EXPECT_NE(block->find("(property \"Value\" \"TOP\""), std::string::npos);
  EXPECT_EQ(block->find("\"MID\""), std::string::npos);
  // An empty mandatory field keeps the parent's value; a field the parent lacks is added.
  EXPECT_NE(block->find("(property \"Datasheet\" \"base.pdf\""), std::string::npos);
  EXPECT_NE(block->find("(property \"ki_keywords\" \"mid \\\"quoted\\\"\""), std::string::npos);
  EXPECT_LT(block->find("ki_keywords"), block->find("(symbol \"TOP_0_1\""));
  EXPECT_NE(block->find("(symbol \"TOP_1_1\""), std::string::npos);
  EXPECT_NE(block->find("(pin_names (offset 0.5))"), std::string::npos);
}

TEST(SymbolBlocks, UncuttableSymbolsGiveReasons) {
  EXPECT_NE(standalone_symbol_block(kLibrary, "LOOP_A", "X").error().find("extends itself"),
            std::string::npos);
  EXPECT_NE(standalone_symbol_block(kLibrary, "ORPHAN", "X").error().find("no symbol GONE"),
            std::string::npos);
  EXPECT_NE(standalone_symbol_block(kLibrary, "BADUNIT", "X").error().find("no unit suffix"),
            std::string::npos);
  EXPECT_FALSE(standalone_symbol_block(kLibrary, "NOPE", "X"));
  EXPECT_FALSE(standalone_symbol_block("(kicad_symbol_lib (symbol \"A\"", "A", "A"));
}

TEST(SymbolBlocks, FootprintPropertyIsReplacedOrAdded) {
  auto base = standalone_symbol_block(kLibrary, "BASE", "BASE");
  ASSERT_TRUE(base);
  auto set = with_footprint_property(*base, "My Lib:DIP \"8\"");
  ASSERT_TRUE(set);
  EXPECT_NE(set->find("(property \"Footprint\" \"My Lib:DIP \\\"8\\\"\" (at 0 0 0))"),
            std::string::npos);
  EXPECT_EQ(set->find("Pkg:DIP-8"), std::string::npos);
  const std::string bare =
      "(symbol \"B\" (property \"Reference\" \"U\" (at 0 0 0)) (symbol \"B_1_1\"))";
  auto added = with_footprint_property(bare, "L:F");
  ASSERT_TRUE(added);
  const size_t at = added->find("(property \"Footprint\" \"L:F\"");
  EXPECT_GT(at, added->find("(property \"Reference\""));
  EXPECT_LT(at, added->find("(symbol \"B_1_1\""));
  EXPECT_NE(added->find("(hide yes)"), std::string::npos);
}

TEST(SymbolBlocks, UnitsOfABlockAndTheViewRecordPerUnit) {
  auto block = standalone_symbol_block(kLibrary, "TOP", "TOP");
  ASSERT_TRUE(block);
  EXPECT_EQ(unit_numbers(*block), (std::vector<int>{1, 2}));
  auto first = unit_block(*block, 1);
  ASSERT_TRUE(first);
  EXPECT_NE(first->find("TOP_0_1"), std::string::npos);
  EXPECT_NE(first->find("TOP_1_1"), std::string::npos);
  EXPECT_EQ(first->find("TOP_2_1"), std::string::npos);
  EXPECT_NE(first->find("(property \"Value\" \"TOP\""), std::string::npos);

  LoadedPart loaded;
  loaded.part.symbol.name = "TOP";
  loaded.kicad = KicadPairText{kLibrary, ""};
  const Json units = part_units(loaded);
  ASSERT_EQ(units.size(), 2u) << units.dump();
  EXPECT_EQ(units[0]["unit"], 1);
  EXPECT_EQ(units[0]["pins"], Json::parse(R"([{"name":"A","number":"1","type":"input"}])"));
  EXPECT_EQ(units[1]["pins"], Json::parse(R"([{"name":"Y","number":"2","type":"output"}])"));
  EXPECT_NE(units[1]["svg"].get<std::string>().find("data-num='2'"), std::string::npos);
  EXPECT_EQ(units[1]["svg"].get<std::string>().find("data-num='1'"), std::string::npos);
  loaded.kicad.reset();  // part documents have no units of their own
  EXPECT_TRUE(part_units(loaded).empty());
}

TEST(SymbolBlocks, LibraryVersionAndPageTextGuard) {
  EXPECT_EQ(library_version(kLibrary), 20241209ul);
  EXPECT_EQ(library_version("(kicad_symbol_lib)"), 0ul);
  EXPECT_FALSE(kicad_text_refusal("(a \"x\\ny\")"));
  EXPECT_TRUE(kicad_text_refusal("(a \"x\ny\")"));
  EXPECT_TRUE(kicad_text_refusal("(a \"x\\\ny\")"));
  EXPECT_FALSE(kicad_text_refusal("(a\n\"x\")\n"));
  EXPECT_TRUE(kicad_text_refusal(std::string("(a \"\xff\")")));
}

}  // namespace
}  // namespace vorn
