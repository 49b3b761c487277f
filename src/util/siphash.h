// SipHash-1-3 (one compression round per block, three finalisation rounds), 64-bit output.
// Used for the content hash of a board render and the fingerprints of fetched files. A SipHash13
// value hashes bytes fed in pieces exactly as if they had been fed at once. Instances are not
// shared; the functions are pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace vorn {

class SipHash13 {
 public:
  explicit SipHash13(uint64_t k0 = 0, uint64_t k1 = 0);
  // The 128-bit output form: keyed apart from the 64-bit form, finished with finish128().
  static SipHash13 wide(uint64_t k0 = 0, uint64_t k1 = 0);

  void update(std::string_view bytes);
  void update_u64_le(uint64_t value);
  // The hash of everything fed so far. The state is not changed, so feeding may go on.
  uint64_t finish() const;
  // The two 64-bit words of the 128-bit form (only meaningful for an instance made by wide()).
  std::pair<uint64_t, uint64_t> finish128() const;

 private:
  void compress(uint64_t block);

  uint64_t v0_, v1_, v2_, v3_;
  uint64_t tail_ = 0;  // up to seven pending bytes, little-endian
  size_t tail_len_ = 0;
  uint64_t total_ = 0;  // bytes fed, modulo 2^64
};

uint64_t siphash13(std::string_view bytes, uint64_t k0 = 0, uint64_t k1 = 0);
// 128 bits from one pass over the bytes.
std::pair<uint64_t, uint64_t> siphash13_128(std::string_view bytes, uint64_t k0 = 0,
                                            uint64_t k1 = 0);

// Sixteen lower-case hexadecimal digits, zero-padded.
std::string hex64(uint64_t value);

}  // namespace vorn
