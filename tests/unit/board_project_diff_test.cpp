// Project diff rules without a desktop: unit sub-symbols, name normalisation, library symbol
// names and the library path.
#include <gtest/gtest.h>

#include "boards/project_diff.h"

namespace vorn::boards {
namespace {

TEST(ProjectDiffRules, UnitSubSymbolsAreThreePiecesWithDigits) {
  EXPECT_TRUE(is_unit_symbol_name("R_0_1"));
  EXPECT_TRUE(is_unit_symbol_name("LM358_2_1"));
  EXPECT_TRUE(is_unit_symbol_name("A_B_12_3"));  // split from the right: "A_B", "12", "3"
  EXPECT_TRUE(is_unit_symbol_name("_0_1"));
  EXPECT_FALSE(is_unit_symbol_name("A_B_1"));
  EXPECT_FALSE(is_unit_symbol_name("R_1"));
  EXPECT_FALSE(is_unit_symbol_name("R__1"));
  EXPECT_FALSE(is_unit_symbol_name("R_0_"));
  EXPECT_FALSE(is_unit_symbol_name("R"));
}

TEST(ProjectDiffRules, NormalisedNames) {
  EXPECT_EQ(normalise_symbol_name("10\u00b5F-Cap"), "10ufcap");
  EXPECT_EQ(normalise_symbol_name("10\u03bcF cap"), "10ufcap");
  EXPECT_EQ(normalise_symbol_name("10uF_CAP"), "10ufcap");
  EXPECT_EQ(normalise_symbol_name("\u00e9A"), "a");
}

TEST(ProjectDiffRules, LibrarySymbolNamesSkipUnits) {
  const std::string lib = R"((kicad_symbol_lib (symbol "R" (symbol "R_0_1") (symbol "R_1_1"))
    (symbol "A_B_1" (symbol "A_B_1_0_1")) (symbol "R"))";
  EXPECT_EQ(library_symbol_names(lib), (std::vector<std::string>{"R", "A_B_1", "R"}));
  EXPECT_EQ(library_path("/home/me/Proj//", "/", "org_b"), "/home/me/Proj/org_b.kicad_sym");
  EXPECT_EQ(library_path("C:\\Proj\\", "\\", "b"), "C:\\Proj\\b.kicad_sym");
}

}  // namespace
}  // namespace vorn::boards
