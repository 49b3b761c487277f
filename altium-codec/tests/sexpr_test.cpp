#include "altium_codec/sexpr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace altium_codec::sexpr {
namespace {

std::string error_of(std::string_view text) {
  auto doc = parse(text);
  EXPECT_FALSE(doc.has_value()) << "parsed: " << text;
  return doc ? std::string() : doc.error();
}

// Renders a tree back as text, atoms in double quotes, to compare whole shapes.
std::string render(Node n) {
  if (n.is_atom()) return debug_quote(n.text());
  std::string out = "(";
  bool first = true;
  for (Node c : n) {
    if (!first) out += ' ';
    first = false;
    out += render(c);
  }
  return out + ")";
}

TEST(SexprErrors, NoExpression) {
  EXPECT_EQ(error_of(""), "no s-expression found");
  EXPECT_EQ(error_of("  words \"and a (string)\" ) )\n"), "no s-expression found");
}

TEST(SexprErrors, UnbalancedNamesInnermostOpenList) {
  EXPECT_EQ(error_of("(a (b c)"), "unbalanced s-expression: '(' at line 1 is never closed");
  EXPECT_EQ(error_of("(a\n (b\n (c d)\n"),
            "unbalanced s-expression: '(' at line 2 is never closed");
  EXPECT_EQ(error_of("(a\n \"x\ny\" (b"), "unbalanced s-expression: '(' at line 3 is never closed");
}

TEST(SexprErrors, TrailingContent) {
  EXPECT_EQ(error_of("(a) b"), "trailing content after the root s-expression: \"b\" at line 1");
  EXPECT_EQ(error_of("(a))"), "trailing content after the root s-expression: ')' at line 1");
  EXPECT_EQ(error_of("(a)\n\n(b)"), "trailing content after the root s-expression: '(' at line 3");
  // Only the first trailing token is named; quoted text is shown escaped.
  EXPECT_EQ(error_of("(a) \"q\\\"\\\\\tz\n\x01\" ) x"),
            "trailing content after the root s-expression: \"q\\\"\\\\\\tz\\n\\u{1}\" at line 1");
}

TEST(SexprErrors, UnterminatedString) {
  EXPECT_EQ(error_of("(a\n\n \"never closed\n)"), "unterminated string starting at line 3");
  EXPECT_EQ(error_of("(a \"ends in backslash\\"), "unterminated string starting at line 1");
  // A string left open wins over tree errors found earlier in the text.
  EXPECT_EQ(error_of("(a) b\n\"open"), "unterminated string starting at line 2");
  EXPECT_EQ(error_of("junk \"open"), "unterminated string starting at line 1");
}

TEST(SexprParse, IgnoresContentBeforeFirstList) {
  auto doc = parse("junk \"(not a list\" ) (a)");
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(render(doc->root()), "(\"a\")");
}

TEST(SexprParse, QuotedAndBareAtoms) {
  auto doc = parse("(k \"k\" \"a\\\"b\" \"x\\ny\\tz\\q\" w\"x \"\" ())");
  ASSERT_TRUE(doc) << doc.error();
  Node r = doc->root();
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r.atom(0), "k");
  EXPECT_EQ(r.atom(1), "k");
  EXPECT_EQ(r.atom(2), "a\"b");
  EXPECT_EQ(r.atom(3), "x\ny\tzq");
  EXPECT_EQ(r.atom(4), "w\"x");  // a quote inside a bare word is ordinary
  EXPECT_EQ(r.atom(5), "");
  EXPECT_EQ(r.atom(6), std::nullopt);  // a list, not an atom
  EXPECT_EQ(r.atom(7), std::nullopt);
}

TEST(SexprParse, UnicodeWhiteSpaceSeparatesWords) {
  // No-break space, em space, ideographic space; other multibyte characters stay in the word.
  auto doc = parse(
      "(a\xC2\xA0"
      "b\xE2\x80\x83"
      "c\xE3\x80\x80"
      "d \xC3\xA9t\xC3\xA9)");
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(render(doc->root()), "(\"a\" \"b\" \"c\" \"d\" \"\xC3\xA9t\xC3\xA9\")");
}

TEST(SexprParse, LineCountAcrossStrings) {
  // The multi-line string keeps its start line; the tokens after it see the advanced count.
  EXPECT_EQ(error_of("(a \"x\ny\\\nz\" b) c"),
            "trailing content after the root s-expression: \"c\" at line 3");
  EXPECT_EQ(error_of("(a) \"x\ny\""),
            "trailing content after the root s-expression: \"x\\ny\" at line 1");
}

TEST(SexprParse, DeepNestingDoesNotRecurse) {
  std::string text(200000, '(');
  text += std::string(200000, ')');
  auto doc = parse(text);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->node_count(), 200000u);
  std::string open(100000, '(');
  EXPECT_EQ(error_of(open), "unbalanced s-expression: '(' at line 1 is never closed");
}

TEST(SexprQueries, HeadChildAtomLists) {
  auto doc = parse(
      "(lib (version 7) (symbol \"A\" (pin (at 1 2) (name x)) (symbol \"A_1\" (pin (at 3 4))))"
      " (symbol B (pin)) ((nested) head) (\"quoted\" 1))");
  ASSERT_TRUE(doc) << doc.error();
  Node r = doc->root();
  EXPECT_EQ(r.head(), "lib");
  EXPECT_EQ(r.child("version")->atom(1), "7");
  EXPECT_EQ(r.child("symbol")->atom(1), "A");  // the first match
  EXPECT_EQ(r.child("lib"), std::nullopt);     // children only, not the node itself
  EXPECT_EQ(r.child("nested"), std::nullopt);  // a list headed by a list has no head
  EXPECT_EQ(r.child("quoted")->number(0), 1.0);

  // Pre-order, the node itself included, nested units included.
  std::vector<std::string> seen;
  for (Node n : r.lists("pin")) seen.push_back(render(n));
  EXPECT_EQ(seen, (std::vector<std::string>{"(\"pin\" (\"at\" \"1\" \"2\") (\"name\" \"x\"))",
                                            "(\"pin\" (\"at\" \"3\" \"4\"))", "(\"pin\")"}));
  Node sym = *r.child("symbol");
  EXPECT_EQ(sym.lists("symbol").size(), 2u);
  EXPECT_TRUE(r.lists("absent").empty());

  Node atom = *sym.begin();
  EXPECT_EQ(atom.head(), std::nullopt);
  EXPECT_EQ(atom.child("x"), std::nullopt);
  EXPECT_EQ(atom.atom(0), std::nullopt);
  EXPECT_TRUE(atom.numbers().empty());
  EXPECT_TRUE(atom.lists("symbol").empty());
}

TEST(SexprQueries, NumbersSkipNonNumbers) {
  auto doc = parse("(at 1.5 x -2 (y 3) +4e1 .5 5. 1e400 -1e-400 INF nan 0x10 1e 1_0 - . e5 \"7\")");
  ASSERT_TRUE(doc) << doc.error();
  std::vector<double> n = doc->root().numbers();
  ASSERT_EQ(n.size(), 10u);
  EXPECT_EQ(n[0], 1.5);
  EXPECT_EQ(n[1], -2.0);
  EXPECT_EQ(n[2], 40.0);
  EXPECT_EQ(n[3], 0.5);
  EXPECT_EQ(n[4], 5.0);
  EXPECT_TRUE(std::isinf(n[5]) && n[5] > 0);
  EXPECT_TRUE(n[6] == 0.0 && std::signbit(n[6]));
  EXPECT_TRUE(std::isinf(n[7]));
  EXPECT_TRUE(std::isnan(n[8]));
  EXPECT_EQ(n[9], 7.0);
  EXPECT_EQ(doc->root().number(1), -2.0);
  EXPECT_EQ(doc->root().number(10), std::nullopt);
  // The head is never a number, even when it looks like one.
  auto head_number = parse("(5 6)");
  EXPECT_EQ(head_number->root().numbers(), std::vector<double>{6.0});
}

TEST(SexprQueries, HandlesSurviveDocumentMoveAndSourceChanges) {
  std::string text = "(a (b \"c\" \"e\\\\s\" \"1\") \"2\" \"3\" \"4\\\"\")";
  auto doc = parse(text);
  ASSERT_TRUE(doc);
  text.assign(text.size(), 'x');  // the Document owns its copy
  Node b = *doc->root().child("b");
  Document moved = std::move(*doc);
  EXPECT_EQ(b.atom(1), "c");
  EXPECT_EQ(b.atom(2), "e\\s");
  EXPECT_EQ(moved.root().atom(4), "4\"");

  const std::string kept = "(k \"v\\\"w\" x)";
  auto borrowed = parse_borrowed(kept);
  ASSERT_TRUE(borrowed);
  EXPECT_EQ(borrowed->root().atom(1), "v\"w");
  EXPECT_EQ(borrowed->root().atom(2)->data(), kept.data() + kept.size() - 2);  // no copy
}

}  // namespace
}  // namespace altium_codec::sexpr
