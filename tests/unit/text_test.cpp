// Text helpers that requests and desktop commands depend on.
#include "util/text.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(PercentDecode, DecodesBytesPlusAndKeepsStrayPercent) {
  EXPECT_EQ(percent_decode("a%2Fb+c"), "a/b c");
  EXPECT_EQ(percent_decode("100%"), "100%");
  EXPECT_EQ(percent_decode("%zz"), "%zz");
  EXPECT_EQ(percent_decode("%4"), "%4");
  EXPECT_EQ(percent_decode("%C3%A9"), "\xC3\xA9");
  EXPECT_EQ(percent_decode("%FF"), "\xEF\xBF\xBD");
}

TEST(Utf8, LossyDecodingReplacesIllFormedSequences) {
  EXPECT_TRUE(is_valid_utf8("\xE2\x80\xA6"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));      // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // surrogate
  EXPECT_EQ(to_utf8_lossy("a\xFF"
                          "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(to_utf8_lossy("\xE2\x80"), "\xEF\xBF\xBD");  // truncated sequence: one replacement
}

// Validation skips ASCII eight bytes at a time: a sequence straddling a word, or a bad byte in
// any position of the first, a middle or the last partial word, must still be seen.
TEST(Utf8, ValidationSeesEveryByteAroundAsciiRuns) {
  const std::string ascii(21, 'a');
  for (size_t at = 0; at <= ascii.size(); ++at) {
    std::string text = ascii;
    text.insert(at, "\xE2\x80\xA6");
    EXPECT_TRUE(is_valid_utf8(text)) << at;
    text = ascii;
    text.insert(at, "\xFF");
    EXPECT_FALSE(is_valid_utf8(text)) << at;
    text = ascii;
    text.insert(at, "\xE2\x80");  // truncated: the next byte is ASCII
    EXPECT_FALSE(is_valid_utf8(text)) << at;
  }
  EXPECT_TRUE(is_valid_utf8(ascii));
  EXPECT_FALSE(is_valid_utf8(ascii + "\xC3"));  // cut off at the very end
}

TEST(PosixQuote, WrapsAndEscapesSingleQuotes) {
  EXPECT_EQ(posix_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(posix_quote(""), "''");
  EXPECT_EQ(posix_quote("$(touch x) `y`"), "'$(touch x) `y`'");
}

TEST(Encodings, Base64OfUtf16LeMatchesPowerShellForm) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  // "dir" in UTF-16LE is 64 00 69 00 72 00.
  EXPECT_EQ(base64_encode(utf16le_encode("dir")), "ZABpAHIA");
  EXPECT_EQ(utf16le_encode("\xF0\x9F\x98\x80"), std::string("\x3D\xD8\x00\xDE", 4));
}

TEST(CaseMapping, UpperCasesBeyondAscii) {
  EXPECT_EQ(to_upper("cl21a476mqynnne"), "CL21A476MQYNNNE");
  EXPECT_EQ(to_upper("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");  // été
  EXPECT_EQ(to_lower("ABC\xC3\x89"), "abc\xC3\xA9");
}

}  // namespace
}  // namespace vorn
