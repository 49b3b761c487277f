// SipHash-1-3 with incremental input.
#include "util/siphash.h"

#include <bit>

namespace vorn {
namespace {

struct State {
  uint64_t v0, v1, v2, v3;
};

void sip_round(State& s) {
  s.v0 += s.v1;
  s.v1 = std::rotl(s.v1, 13);
  s.v1 ^= s.v0;
  s.v0 = std::rotl(s.v0, 32);
  s.v2 += s.v3;
  s.v3 = std::rotl(s.v3, 16);
  s.v3 ^= s.v2;
  s.v0 += s.v3;
  s.v3 = std::rotl(s.v3, 21);
  s.v3 ^= s.v0;
  s.v2 += s.v1;
  s.v1 = std::rotl(s.v1, 17);
  s.v1 ^= s.v2;
  s.v2 = std::rotl(s.v2, 32);
}

}  // namespace

SipHash13::SipHash13(uint64_t k0, uint64_t k1)
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

void SipHash13::compress(uint64_t block) {
  State s{v0_, v1_, v2_, v3_};
  s.v3 ^= block;
  sip_round(s);
  s.v0 ^= block;
  v0_ = s.v0;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
}

void SipHash13::update(std::string_view bytes) {
  total_ += bytes.size();
  size_t i = 0;
  // Fill the pending partial block first.
  while (tail_len_ != 0 && i < bytes.size()) {
    tail_ |= uint64_t{static_cast<unsigned char>(bytes[i++])} << (8 * tail_len_);
    if (++tail_len_ == 8) {
      compress(tail_);
      tail_ = 0;
      tail_len_ = 0;
    }
  }
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t block = 0;
    for (int b = 0; b < 8; ++b) block |= uint64_t{static_cast<unsigned char>(bytes[i + b])} << (8 * b);
    compress(block);
  }
  for (; i < bytes.size(); ++i) {
    tail_ |= uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * tail_len_);
    ++tail_len_;
  }
}

void SipHash13::update_u64_le(uint64_t value) {
  char bytes[8];
  for (int b = 0; b < 8; ++b) bytes[b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  update(std::string_view(bytes, 8));
}

uint64_t SipHash13::finish() const {
  State s{v0_, v1_, v2_, v3_};
  const uint64_t last = tail_ | (total_ << 56);
  s.v3 ^= last;
  sip_round(s);
  s.v0 ^= last;
  s.v2 ^= 0xFF;
  sip_round(s);
  sip_round(s);
  sip_round(s);
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

uint64_t siphash13(std::string_view bytes, uint64_t k0, uint64_t k1) {
  SipHash13 h(k0, k1);
  h.update(bytes);
  return h.finish();
}

std::string hex64(uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) out[i] = kDigits[value & 0xF];
  return out;
}

}  // namespace vorn
