// Test helpers: inputs on the heap at exactly their size, so AddressSanitizer and
// valgrind catch a read of even one byte past the end.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tavbin.h"

namespace tavbin_test {

using Bytes = std::vector<uint8_t>;

struct HeapBytes {
  explicit HeapBytes(const Bytes &b) : n(b.size()), p(static_cast<uint8_t *>(std::malloc(b.empty() ? 1 : b.size()))) {
    if (!b.empty()) std::memcpy(p, b.data(), b.size());
  }
  ~HeapBytes() { std::free(p); }
  HeapBytes(const HeapBytes &) = delete;
  HeapBytes &operator=(const HeapBytes &) = delete;
  size_t n;
  uint8_t *p;
};

// A reader over a heap copy of `bytes`; both die with this object.
class Reader {
public:
  Reader(const Bytes &bytes, tavbin_endian e = TAVBIN_BIG_ENDIAN) : buf_(bytes), r_(tavbin_open(buf_.p, buf_.n, e)) {}
  ~Reader() { tavbin_close(r_); }
  Reader(const Reader &) = delete;
  Reader &operator=(const Reader &) = delete;
  tavbin_reader *get() const { return r_; }
  operator tavbin_reader *() const { return r_; }
  const uint8_t *data() const { return buf_.p; }

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

// The cursor as (byte, bit). The interface has no query for the bit position, so
// it is found by taking single bits until the byte position moves: this consumes
// the rest of the byte and changes the last status, so call it last.
struct Cursor {
  uint64_t pos;
  uint32_t bit;
  bool operator==(const Cursor &) const = default;
};

inline Cursor cursor_of(tavbin_reader *r) {
  const uint64_t pos = tavbin_tell(r);
  if (pos >= tavbin_size(r)) return {pos, 0};
  uint32_t taken = 0;
  uint64_t ignored;
  while (tavbin_tell(r) == pos && tavbin_bits(r, 1, &ignored) == TAVBIN_OK) ++taken;
  return {pos, 8 - taken};
}

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
