// SipHash-1-3 with incremental input.
#include "util/siphash.h"

#include <bit>
#include <cstring>

namespace vorn {
namespace {

struct State {
  uint64_t v0, v1, v2, v3;
};

[[gnu::always_inline]] inline void sip_round(State& s) {
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

// Eight bytes as a little-endian word.
uint64_t load_le64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
  return v;
}

[[gnu::always_inline]] inline void compress_into(State& s, uint64_t block) {
  s.v3 ^= block;
  sip_round(s);
  s.v0 ^= block;
}

}  // namespace

SipHash13::SipHash13(uint64_t k0, uint64_t k1)
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

SipHash13 SipHash13::wide(uint64_t k0, uint64_t k1) {
  SipHash13 h(k0, k1);
  h.v1_ ^= 0xee;
  return h;
}

void SipHash13::compress(uint64_t block) {
  State s{v0_, v1_, v2_, v3_};
  compress_into(s, block);
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
  // Whole blocks with the state held in registers.
  State s{v0_, v1_, v2_, v3_};
  for (; i + 8 <= bytes.size(); i += 8) compress_into(s, load_le64(bytes.data() + i));
  v0_ = s.v0;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
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
  compress_into(s, tail_ | (total_ << 56));
  s.v2 ^= 0xFF;
  sip_round(s);
  sip_round(s);
  sip_round(s);
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::pair<uint64_t, uint64_t> SipHash13::finish128() const {
  State s{v0_, v1_, v2_, v3_};
  compress_into(s, tail_ | (total_ << 56));
  s.v2 ^= 0xee;
  sip_round(s);
  sip_round(s);
  sip_round(s);
  const uint64_t first = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
  s.v1 ^= 0xdd;
  sip_round(s);
  sip_round(s);
  sip_round(s);
  return {first, s.v0 ^ s.v1 ^ s.v2 ^ s.v3};
}

uint64_t siphash13(std::string_view bytes, uint64_t k0, uint64_t k1) {
  SipHash13 h(k0, k1);
  h.update(bytes);
  return h.finish();
}

std::pair<uint64_t, uint64_t> siphash13_128(std::string_view bytes, uint64_t k0, uint64_t k1) {
  SipHash13 h = SipHash13::wide(k0, k1);
  h.update(bytes);
  return h.finish128();
}

std::string hex64(uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) out[i] = kDigits[value & 0xF];
  return out;
}

}  // namespace vorn
