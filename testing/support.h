// Helpers shared by the unit tests and the fuzz targets: inputs on the heap at
// exactly their size, the plain bit-by-bit reading of a bit field, and the bit
// position found through the public calls. C++17, so the C++17 build of the
// wrapper's tests can use them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tavbin.h"

namespace tavbin_test {

using Bytes = std::vector<uint8_t>;

// A copy of the input in a heap block of exactly its size, so AddressSanitizer
// and valgrind catch a read of even one byte past the end. An empty input is
// NULL, which the library must take with a length of 0 and never hand on to
// memcpy. A contiguous byte range (data() and size()), so tavbin::byte_view
// takes it as it is.
class HeapBytes {
public:
  HeapBytes(const void *bytes, size_t size)
      : n_(size), p_(size != 0 ? static_cast<uint8_t *>(std::malloc(size)) : nullptr) {
    if (size != 0) std::memcpy(p_, bytes, size);
  }
  explicit HeapBytes(const Bytes &b) : HeapBytes(b.data(), b.size()) {}
  explicit HeapBytes(std::initializer_list<uint8_t> b) : HeapBytes(b.begin(), b.size()) {}
  ~HeapBytes() { std::free(p_); }
  HeapBytes(const HeapBytes &) = delete;
  HeapBytes &operator=(const HeapBytes &) = delete;
  const uint8_t *data() const { return p_; }
  size_t size() const { return n_; }

private:
  size_t n_;
  uint8_t *p_;
};

// A reader over a heap copy of `bytes`; both die with this object.
class Reader {
public:
  Reader(const Bytes &bytes, tavbin_endian e = TAVBIN_BIG_ENDIAN)
      : buf_(bytes), r_(tavbin_open(buf_.data(), buf_.size(), e)) {}
  ~Reader() { tavbin_close(r_); }
  Reader(const Reader &) = delete;
  Reader &operator=(const Reader &) = delete;
  tavbin_reader *get() const { return r_; }
  operator tavbin_reader *() const { return r_; }
  const uint8_t *data() const { return buf_.data(); }

private:
  HeapBytes buf_;
  tavbin_reader *r_;
};

class Writer {
public:
  explicit Writer(tavbin_endian e = TAVBIN_BIG_ENDIAN, uint64_t cap = 0) : w_(tavbinw_open(cap, e)) {}
  ~Writer() { tavbinw_close(w_); }
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;
  operator tavbin_writer *() const { return w_; }
  Bytes bytes() const { return Bytes(tavbinw_data(w_), tavbinw_data(w_) + tavbinw_len(w_)); }

private:
  tavbin_writer *w_;
};

// The definition of a bit field, one bit at a time: the most significant bit of
// each byte first, byte order playing no part. Every bit there is is taken
// before a shortage is found, so on TAVBIN_EOF the cursor stands at the end.
// The reference the bit reader, which takes whole windows, is compared with.
struct BitCursor {
  const uint8_t *data;
  uint64_t size;
  uint64_t pos = 0;
  uint32_t bit = 0; // bits of data[pos] already taken

  tavbin_status bits(uint32_t count, uint64_t *out) {
    if (count == 0 || count > 64) return TAVBIN_INVALID_ARG;
    uint64_t v = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (pos >= size) return TAVBIN_EOF;
      v = (v << 1) | ((data[pos] >> (7 - bit)) & 1u);
      if (++bit == 8) {
        bit = 0;
        ++pos;
      }
    }
    *out = v;
    return TAVBIN_OK;
  }
  void align() {
    if (bit != 0) {
      bit = 0;
      ++pos;
    }
  }
};

// What bit_pos() returns when the reader does not behave as it relies on.
constexpr uint32_t kNoBitPos = 0xFFFFFFFF;

// The bit position within the current byte, which no call reports. Found by
// taking single bits until the byte position moves, then the cursor is put back
// with a seek and a bit read: it is left where it was, with TAVBIN_OK recorded.
inline uint32_t bit_pos(tavbin_reader *r) {
  const uint64_t pos = tavbin_tell(r);
  uint32_t taken = 0;
  uint64_t ignored;
  if (pos < tavbin_size(r)) {
    while (tavbin_tell(r) == pos) {
      if (tavbin_bits(r, 1, &ignored) != TAVBIN_OK || ++taken > 8) return kNoBitPos;
    }
  }
  const uint32_t bit = taken != 0 ? 8 - taken : 0;
  if (tavbin_seek(r, pos) != TAVBIN_OK) return kNoBitPos;
  if (bit != 0 && tavbin_bits(r, bit, &ignored) != TAVBIN_OK) return kNoBitPos;
  return bit;
}

// The cursor as (byte, bit).
struct Cursor {
  uint64_t pos;
  uint32_t bit;
  bool operator==(const Cursor &o) const { return pos == o.pos && bit == o.bit; }
};

inline Cursor cursor_of(tavbin_reader *r) { return {tavbin_tell(r), bit_pos(r)}; }

// Position the reader at byte `pos`, bit `bit`, through the public interface.
inline void place(tavbin_reader *r, uint64_t pos, uint32_t bit) {
  tavbin_seek(r, pos);
  uint64_t ignored;
  if (bit != 0) tavbin_bits(r, bit, &ignored);
}

inline std::string hex(const Bytes &b) {
  static const char *digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t c : b) {
    if (!s.empty()) s += ' ';
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

} // namespace tavbin_test
