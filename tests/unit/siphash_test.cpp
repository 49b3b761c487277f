// SipHash-1-3 against values computed by an independent implementation (the keyed empty input
// is the published reference vector), and piecewise feeding.
#include <gtest/gtest.h>

#include "util/siphash.h"

namespace vorn {
namespace {

std::string range_bytes(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(i));
  return s;
}

constexpr uint64_t kK0 = 0x0706050403020100ULL;  // key bytes 0..15, little-endian
constexpr uint64_t kK1 = 0x0f0e0d0c0b0a0908ULL;

TEST(SipHash13, MatchesReferenceValues) {
  EXPECT_EQ(siphash13("", kK0, kK1), 0xabac0158050fc4dcULL);
  EXPECT_EQ(siphash13(range_bytes(15), kK0, kK1), 0xd320d86d2a519956ULL);
  EXPECT_EQ(hex64(siphash13("")), "d1fba762150c532c");
  EXPECT_EQ(hex64(siphash13("abc")), "c03bc3a0042630f2");
  EXPECT_EQ(hex64(siphash13(range_bytes(63))), "385d3e39e5f37359");
}

TEST(SipHash13, PiecewiseFeedingEqualsOneShot) {
  const std::string data = range_bytes(63);
  for (size_t cut1 = 0; cut1 <= data.size(); cut1 += 5) {
    for (size_t cut2 = cut1; cut2 <= data.size(); cut2 += 7) {
      SipHash13 h;
      h.update(std::string_view(data).substr(0, cut1));
      h.update(std::string_view(data).substr(cut1, cut2 - cut1));
      h.update(std::string_view(data).substr(cut2));
      ASSERT_EQ(h.finish(), siphash13(data)) << cut1 << " " << cut2;
    }
  }
  SipHash13 h;
  h.update_u64_le(0x0706050403020100ULL);
  EXPECT_EQ(h.finish(), siphash13(range_bytes(8)));
}

TEST(SipHash13, HexIsZeroPadded) {
  EXPECT_EQ(hex64(0), "0000000000000000");
  EXPECT_EQ(hex64(0xabcULL), "0000000000000abc");
}

}  // namespace
}  // namespace vorn
