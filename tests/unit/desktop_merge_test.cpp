// Symbol block cutting, library merge, merge verification and the KiCad guard.
#include <gtest/gtest.h>

#include <altium_codec/symbol_writer.h>

#include <limits>

#include "desktop/kicad_guard.h"
#include "desktop/library_merge.h"

namespace vorn {
namespace {

const std::string kLib =
    "(kicad_symbol_lib\n\t(version 20231120)\n\t(generator \"x\")\n"
    "\t(symbol \"OLD\"\n\t\t(property \"Value\" \"a ) \\\" ( b\")\n\t\t(symbol \"OLD_1_1\")\n\t)\n"
    "\t(symbol \"TWO\" (property \"D\" \"(symbol \\\"GHOST\\\"\"))\n)\n";

SymbolEntry entry(const std::string& name) {
  return SymbolEntry{name, "(symbol \"" + name + "\"\n\t\t(property \"Reference\" \"U\")\n\t)"};
}

TEST(LibraryMerge, BlocksAreCutOutsideQuotedStrings) {
  const std::string text = "(a \"x)\\\")\" (b \"(\") c) tail)";
  ASSERT_TRUE(matching_close(text, 0));
  EXPECT_EQ(*matching_close(text, 0), text.find(" c)") + 2);  // not the stray ")" after "tail"
  EXPECT_EQ(*matching_close(text, text.find("(b")), text.find(" c)") - 1);
  EXPECT_FALSE(matching_close("(a \"unterminated)", 0));

  const auto e = first_symbol_entry(kLib);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->name, "OLD");
  EXPECT_TRUE(e->block.starts_with("(symbol \"OLD\""));
  EXPECT_TRUE(e->block.ends_with("(symbol \"OLD_1_1\")\n\t)"));
  EXPECT_FALSE(first_symbol_entry("(kicad_symbol_lib)"));
  EXPECT_FALSE(first_symbol_entry("(symbol \"A"));
  EXPECT_FALSE(first_symbol_entry("(symbol \"A\" (x)"));
}

TEST(LibraryMerge, AddsNewSymbolsBeforeTheLastParenthesisAndKeepsExisting) {
  const MergeResult m = merge_symbols(kLib, {entry("NEW"), entry("OLD"), entry("OLD_1_1"), entry("NEW")});
  EXPECT_EQ(m.inserted, std::vector<std::string>{"NEW"});
  EXPECT_EQ(m.text, kLib.substr(0, kLib.size() - 2) + "\t" + entry("NEW").block + "\n)\n");
  EXPECT_FALSE(verify_merge(m));
  // A name inside a quoted property value is not a symbol of the library.
  const MergeResult ghost = merge_symbols(kLib, {entry("GHOST")});
  EXPECT_EQ(ghost.inserted, std::vector<std::string>{"GHOST"});
  EXPECT_FALSE(verify_merge(ghost));
}

TEST(LibraryMerge, NewLibraryAndTextWithoutLibraryHead) {
  const std::string header =
      "(kicad_symbol_lib\n\t(version 20231120)\n\t(generator \"vorn-lbr\")\n\t(generator_version \"8.0\")\n)\n";
  EXPECT_EQ(new_library_header(), header);
  const MergeResult empty = merge_symbols(std::nullopt, {});
  EXPECT_EQ(empty.text, header);
  EXPECT_FALSE(verify_merge(empty));
  const MergeResult fresh = merge_symbols(std::nullopt, {entry("A")});
  EXPECT_EQ(fresh.text, header.substr(0, header.size() - 2) + "\t" + entry("A").block + "\n)\n");
  EXPECT_FALSE(verify_merge(fresh));
  // A pulled text without the library head is rebuilt from the header: the shrink guard's count
  // then drops below the pulled one.
  const std::string odd = "(symbol \"X\") (symbol \"Y\")";
  const MergeResult rebuilt = merge_symbols(odd, {entry("Z")});
  EXPECT_EQ(rebuilt.base, header);
  EXPECT_LT(count_symbol_openings(rebuilt.text), count_symbol_openings(odd));
}

TEST(LibraryMerge, VerificationRefusesCraftedBadMerges) {
  const MergeResult good = merge_symbols(kLib, {entry("NEW")});
  ASSERT_FALSE(verify_merge(good));

  MergeResult unbalanced = good;
  unbalanced.text.insert(unbalanced.text.find("(symbol \"NEW\""), "(");
  EXPECT_TRUE(verify_merge(unbalanced));

  MergeResult lost = good;
  const size_t two = lost.text.find("\t(symbol \"TWO\"");
  lost.text.erase(two, lost.text.find('\n', two) + 1 - two);
  EXPECT_TRUE(verify_merge(lost));

  MergeResult changed = good;
  changed.text.replace(changed.text.find("a ) "), 4, "a ] ");
  ASSERT_NE(changed.text, good.text);
  EXPECT_TRUE(verify_merge(changed));

  MergeResult reordered = good;  // whitespace inside an old block
  reordered.text.replace(reordered.text.find("\t\t(symbol \"OLD_1_1\")"), 2, "  ");
  EXPECT_TRUE(verify_merge(reordered));

  MergeResult extra = good;  // a symbol nobody added
  extra.text.insert(extra.text.rfind(')'), "\t(symbol \"SNEAK\")\n");
  EXPECT_TRUE(verify_merge(extra));

  MergeResult not_added = good;  // claims an insertion that is not in the text
  not_added.inserted.push_back("MISSING");
  EXPECT_TRUE(verify_merge(not_added));

  MergeResult wrong_root = good;
  wrong_root.text.replace(1, 16, "kicad_footprint ");
  EXPECT_TRUE(verify_merge(wrong_root));

  MergeResult broken_base = merge_symbols(std::string("(kicad_symbol_lib (symbol \"A\""), {entry("B")});
  EXPECT_TRUE(verify_merge(broken_base));
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The guard's answer for `record` after `change`, or "" when it lets the record through.
template <class Record, class Guard, class Change>
std::string refusal_after(Record record, Guard guard, Change change) {
  change(record);
  return guard(record).value_or("");
}

TEST(SymbolGuard, RefusesWhatKiCadCannotLoad) {
  altium_codec::Symbol ok;
  ok.name = "LM358 (dual) é";
  ok.pins = {{"1", "IN\"+", 0, 0, std::nullopt, 270}};
  ok.parameters = {{"MPN", "a\"b\\c", false}};
  ok.graphics = {altium_codec::GraphicPolyline{{{0, 0}, {1, 1}}, 1}};
  EXPECT_EQ(symbol_refusal(ok), std::nullopt);

  auto with = [&](auto change) { return refusal_after(ok, symbol_refusal, change); };
  EXPECT_EQ(with([](auto& s) { s.name = "a\"b"; }), "the symbol name holds a double quote");
  EXPECT_EQ(with([](auto& s) { s.name = "a\\b"; }), "the symbol name holds a backslash");
  EXPECT_EQ(with([](auto& s) { s.name = "lib:x"; }), "the symbol name holds a colon");
  EXPECT_EQ(with([](auto& s) { s.name = "<A>"; }), "the symbol name holds an angle bracket");
  EXPECT_EQ(with([](auto& s) { s.name = ""; }), "the symbol name is empty");
  EXPECT_EQ(with([](auto& s) { s.name = std::string(201, 'A'); }), "the symbol name is longer than 200 bytes");
  EXPECT_EQ(with([](auto& s) { s.name = std::string(200, 'A'); }), "");
  EXPECT_EQ(with([](auto& s) { s.name = "A\xff"; }), "the symbol holds text that is not valid UTF-8");
  EXPECT_EQ(with([](auto& s) { s.parameters[0].value = "\xc3"; }), "the symbol holds text that is not valid UTF-8");
  EXPECT_EQ(with([](auto& s) { s.name = "a\nb"; }), "the symbol name holds a control character");
  EXPECT_EQ(with([](auto& s) { s.pins[0].rotation = 45; }), "pin 1 has rotation 45 (KiCad takes 0, 90, 180 or 270)");
  EXPECT_EQ(with([](auto& s) { s.parameters[0].name = ""; }), "a parameter has an empty name");
  EXPECT_EQ(with([](auto& s) { s.parameters[0].name = "M\"P"; }), "parameter name M\"P holds a double quote");
  EXPECT_EQ(with([](auto& s) { s.graphics = {altium_codec::GraphicPolyline{}}; }), "a polyline has no points");
  EXPECT_EQ(with([](auto& s) { s.graphics = {altium_codec::GraphicCircle{0, 0, kInfinity, 0}}; }),
            "a circle holds a number that is not finite");
}

TEST(FootprintGuard, RefusesWhatKiCadCannotLoadOrHangsOn) {
  altium_codec::Footprint ok;
  ok.name = "SOT-23 \"x\" <µ>";
  ok.pads = {{"1\"", 0, 0, 1, 1, 0, -360, "rect", std::nullopt}, {"2", 1, 0, 1, 1, 0.5, 360, "circle", true}};
  ok.graphics = {altium_codec::FpArc{{}, 0, 0, 1, 0, 720, 0.1}};
  EXPECT_EQ(footprint_refusal(ok), std::nullopt);

  auto with = [&](auto change) { return refusal_after(ok, footprint_refusal, change); };
  EXPECT_EQ(with([](auto& f) { f.name = "a\nb"; }), "the footprint name holds a line break");
  EXPECT_EQ(with([](auto& f) { f.name = "a\xff"; }), "the footprint name is not valid UTF-8");
  EXPECT_EQ(with([](auto& f) { f.pads[1].number = "2\n"; }), "a pad number holds a line break");
  EXPECT_EQ(with([](auto& f) { f.pads[1].number = "\xe2\x82"; }), "a pad number is not valid UTF-8");
  EXPECT_EQ(with([](auto& f) { f.pads[1].rotation = 1e15; }), "pad 2 has rotation 1e+15 (KiCad takes -360 to 360)");
  EXPECT_EQ(with([](auto& f) { f.pads[1].rotation = -450; }), "pad 2 has rotation -450 (KiCad takes -360 to 360)");
  EXPECT_EQ(with([](auto& f) { f.pads[1].w_mm = std::numeric_limits<double>::quiet_NaN(); }),
            "pad 2 holds a number that is not finite");
  EXPECT_EQ(with([](auto& f) { f.graphics = {altium_codec::FpLine{{}, 0, 0, kInfinity, 0, 0.1}}; }),
            "a footprint shape holds a number that is not finite");
}

TEST(SymbolGuard, AcceptedSymbolsMergeAndVerify) {
  altium_codec::Symbol s;
  s.name = "R_(x)";
  s.parameters = {{"Note", "has ) and ( and \\\" inside", true}};
  const auto e = first_symbol_entry(altium_codec::write_kicad_symbol_lib(s));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->name, "R_(x)");
  const MergeResult m = merge_symbols(kLib, {*e});
  EXPECT_FALSE(verify_merge(m)) << m.text;
}

}  // namespace
}  // namespace vorn
