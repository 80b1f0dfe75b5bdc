// Shared pieces of the fuzz targets: a failure that stops the run under any
// driver, a byte source for the operation scripts, and the reference decoding
// the targets compare the library against. The heap copies of the input, the
// bit-by-bit reference and the bit-position probe are shared with the unit
// tests (testing/support.h). Plain C++, so the targets build with g++ for corpus replay
// as well as with clang's libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support.h"
#include "tavbin.h"

// Invariant checks stay on in every build type: they are the point of the target.
#define FUZZ_CHECK(cond)                                                                                     \
  do {                                                                                                       \
    if (!(cond)) {                                                                                           \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                          \
      std::abort();                                                                                          \
    }                                                                                                        \
  } while (0)

namespace tavbin_fuzz {

using tavbin_test::bit_pos;
using tavbin_test::BitCursor;
using tavbin_test::HeapBytes;

// Input layout shared by the targets: byte 0 is the length of the operation
// script that follows it; whatever comes after the script is the target's data.
struct Split {
  const uint8_t *script;
  size_t script_len;
  const uint8_t *data;
  size_t data_len;
};

inline Split split_input(const uint8_t *in, size_t n) {
  if (n == 0) return {nullptr, 0, nullptr, 0};
  size_t len = in[0];
  if (len > n - 1) len = n - 1;
  return {in + 1, len, in + 1 + len, n - 1 - len};
}

// Reads script bytes; past the end it yields zeros, so every input is a script.
class Script {
public:
  Script(const uint8_t *p, size_t n) : p_(p), n_(n) {}
  bool done() const { return i_ >= n_; }
  uint8_t byte() { return i_ < n_ ? p_[i_++] : 0; }
  uint64_t raw(unsigned width) {
    uint64_t v = 0;
    for (unsigned k = 0; k < width; ++k)
      v = (v << 8) | byte();
    return v;
  }
  // A count or offset where the boundary cases live: small values, values around
  // `size`, around 2^32 and around 2^63 and 2^64, or raw bits.
  uint64_t edge(uint64_t size) {
    const uint8_t sel = byte();
    const uint64_t k = sel >> 3;
    switch (sel & 7) {
    case 0:
    case 1:
      return k;
    case 2:
      return size >= k ? size - k : 0;
    case 3:
      return size + k;
    case 4:
      return UINT64_MAX - k;
    case 5:
      return (uint64_t{1} << 63) + k - 16;
    case 6:
      return (uint64_t{1} << 32) + k - 16;
    default:
      return raw(8);
    }
  }

private:
  const uint8_t *p_;
  size_t n_;
  size_t i_ = 0;
};

// The reference decoding: one byte at a time, no shifts wider than a byte.
inline uint64_t decode(const uint8_t *p, unsigned width, tavbin_endian e) {
  uint64_t v = 0;
  for (unsigned k = 0; k < width; ++k)
    v = (v << 8) | p[e == TAVBIN_BIG_ENDIAN ? k : width - 1 - k];
  return v;
}

inline void encode(std::vector<uint8_t> &out, uint64_t v, unsigned width, tavbin_endian e) {
  for (unsigned k = 0; k < width; ++k) {
    const unsigned shift = 8 * (e == TAVBIN_BIG_ENDIAN ? width - 1 - k : k);
    out.push_back(static_cast<uint8_t>(v >> shift));
  }
}

} // namespace tavbin_fuzz
