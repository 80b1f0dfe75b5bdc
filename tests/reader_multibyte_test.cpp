// Fixed-width, block, peek, absolute, string and LEB128 reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "support.h"

using namespace tavbin_test;

namespace {

// Every value read through one signature: the value's bit pattern, widened.
using ReadFn = tavbin_status (*)(tavbin_reader *, uint64_t *);

template <typename T, tavbin_status (*F)(tavbin_reader *, T *)>
tavbin_status widen(tavbin_reader *r, uint64_t *out) {
  T v{};
  const tavbin_status s = F(r, out != nullptr ? &v : nullptr);
  if (s == TAVBIN_OK) {
    if constexpr (sizeof(T) == 1) *out = std::bit_cast<uint8_t>(v);
    if constexpr (sizeof(T) == 2) *out = std::bit_cast<uint16_t>(v);
    if constexpr (sizeof(T) == 4) *out = std::bit_cast<uint32_t>(v);
    if constexpr (sizeof(T) == 8) *out = std::bit_cast<uint64_t>(v);
  }
  return s;
}

struct Read {
  const char *name;
  unsigned width;
  ReadFn fn;
  ReadFn raw; // the same read with the destination passed through, NULL included
};

template <typename T, tavbin_status (*F)(tavbin_reader *, T *)>
tavbin_status raw(tavbin_reader *r, uint64_t *out) {
  return out == nullptr ? F(r, nullptr) : widen<T, F>(r, out);
}

#define READ(name, T, w)                                                                                     \
  { #name, w, widen < T, tavbin_##name>, raw < T, tavbin_##name> }
const Read reads[] = {
    READ(u8, uint8_t, 1),   READ(i8, int8_t, 1),   READ(u16, uint16_t, 2), READ(i16, int16_t, 2),
    READ(u32, uint32_t, 4), READ(i32, int32_t, 4), READ(f32, float, 4),    READ(u64, uint64_t, 8),
    READ(i64, int64_t, 8),  READ(f64, double, 8),
};
const Read peeks[] = {
    READ(peek_u8, uint8_t, 1),
    READ(peek_u16, uint16_t, 2),
    READ(peek_u32, uint32_t, 4),
    READ(peek_u64, uint64_t, 8),
};
#undef READ

const Read &read_named(const char *name) {
  for (const Read &r : reads)
    if (std::string(r.name) == name) return r;
  std::abort();
}

constexpr uint64_t kUntouched = 0x5A5A5A5A5A5A5A5Au;

TEST(FixedRead, ValuesInBothOrders) {
  const struct {
    const char *op;
    Bytes in;
    tavbin_endian e;
    uint64_t bits;
  } cases[] = {
      {"u32", {0x01, 0x02, 0x03, 0x04}, TAVBIN_BIG_ENDIAN, 0x01020304},
      {"u32", {0x01, 0x02, 0x03, 0x04}, TAVBIN_LITTLE_ENDIAN, 0x04030201},
      {"u16", {0x01, 0x02}, TAVBIN_BIG_ENDIAN, 0x0102},
      {"u16", {0x01, 0x02}, TAVBIN_LITTLE_ENDIAN, 0x0201},
      {"i16", {0xFF, 0xFE}, TAVBIN_BIG_ENDIAN, std::bit_cast<uint16_t>(int16_t{-2})},
      {"i16", {0xFF, 0xFE}, TAVBIN_LITTLE_ENDIAN, std::bit_cast<uint16_t>(int16_t{-257})},
      {"i32", {0x80, 0, 0, 0}, TAVBIN_BIG_ENDIAN, 0x80000000},
      {"u64", {1, 2, 3, 4, 5, 6, 7, 8}, TAVBIN_BIG_ENDIAN, 0x0102030405060708},
      {"u64", {1, 2, 3, 4, 5, 6, 7, 8}, TAVBIN_LITTLE_ENDIAN, 0x0807060504030201},
      {"i64",
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE},
       TAVBIN_BIG_ENDIAN,
       std::bit_cast<uint64_t>(int64_t{-2})},
      {"f32", {0x3F, 0x80, 0, 0}, TAVBIN_BIG_ENDIAN, std::bit_cast<uint32_t>(1.0f)},
      {"f32", {0, 0, 0x80, 0x3F}, TAVBIN_LITTLE_ENDIAN, std::bit_cast<uint32_t>(1.0f)},
      {"f64", {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, TAVBIN_LITTLE_ENDIAN, std::bit_cast<uint64_t>(1.0)},
      {"u8", {0xFF}, TAVBIN_LITTLE_ENDIAN, 0xFF},
      {"i8", {0x80}, TAVBIN_BIG_ENDIAN, 0x80},
  };
  for (const auto &c : cases) {
    Reader r(c.in, c.e);
    uint64_t v = kUntouched;
    ASSERT_EQ(read_named(c.op).fn(r, &v), TAVBIN_OK) << c.op;
    EXPECT_EQ(v, c.bits) << c.op << " " << hex(c.in);
    EXPECT_EQ(tavbin_tell(r), c.in.size());
    EXPECT_EQ(tavbin_last_error(r), TAVBIN_OK);
  }
}

TEST(FixedRead, SignedValuesAreTwosComplement) {
  Reader r({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF});
  int16_t a = 0;
  int32_t b = 0;
  ASSERT_EQ(tavbin_i16(r, &a), TAVBIN_OK);
  ASSERT_EQ(tavbin_i32(r, &b), TAVBIN_OK);
  EXPECT_EQ(a, -2);
  EXPECT_EQ(b, -1);
}

// NaN payloads, signalling NaNs, negative zero and subnormals must survive: the
// read is a bit copy, never a numeric conversion.
TEST(FixedRead, FloatsPassBitForBit) {
  const uint32_t f32s[] = {0x7F800001, 0x7FA00000, 0xFFC12345, 0x80000000,
                           0x00000001, 0x807FFFFF, 0xFF800000};
  const uint64_t f64s[] = {0x7FF0000000000001, 0x7FF4000000000000, 0xFFF8DEADBEEF0001, 0x8000000000000000,
                           0x0000000000000001, 0x800FFFFFFFFFFFFF, 0x7FF0000000000000};
  for (tavbin_endian e : {TAVBIN_BIG_ENDIAN, TAVBIN_LITTLE_ENDIAN}) {
    for (uint32_t bits : f32s) {
      uint8_t b[4];
      ASSERT_EQ(tavbin_store_u32(b, 4, e, bits), TAVBIN_OK);
      Reader r(Bytes(b, b + 4), e);
      float f = 0;
      ASSERT_EQ(tavbin_f32(r, &f), TAVBIN_OK);
      EXPECT_EQ(std::bit_cast<uint32_t>(f), bits);
    }
    for (uint64_t bits : f64s) {
      uint8_t b[8];
      ASSERT_EQ(tavbin_store_u64(b, 8, e, bits), TAVBIN_OK);
      Reader r(Bytes(b, b + 8), e);
      double d = 0;
      ASSERT_EQ(tavbin_f64(r, &d), TAVBIN_OK);
      EXPECT_EQ(std::bit_cast<uint64_t>(d), bits);
    }
  }
}

// Each read on its input cut short at every length: end of data, nothing
// delivered, the cursor where it was, and the reader still usable.
TEST(FixedRead, TruncatedAtEveryShorterLength) {
  for (const Read &op : reads) {
    for (unsigned len = 0; len < op.width; ++len) {
      Reader r(Bytes(len, 0xAB));
      uint64_t v = kUntouched;
      EXPECT_EQ(op.fn(r, &v), TAVBIN_EOF) << op.name << " on " << len;
      EXPECT_EQ(v, kUntouched) << op.name;
      EXPECT_EQ(tavbin_last_error(r), TAVBIN_EOF);
      EXPECT_EQ(tavbin_tell(r), 0u);
      if (len > 0) {
        uint8_t b = 0;
        EXPECT_EQ(tavbin_u8(r, &b), TAVBIN_OK) << op.name;
      }
    }
  }
}

TEST(FixedRead, NullDestinationChangesNothing) {
  for (const Read &op : reads) {
    Reader r(Bytes(9, 0x11));
    place(r, 0, 3);
    tavbin_seek(r, 100); // records TAVBIN_RANGE
    EXPECT_EQ(op.raw(r, nullptr), TAVBIN_INVALID_ARG) << op.name;
    EXPECT_EQ(op.raw(nullptr, nullptr), TAVBIN_INVALID_ARG) << op.name;
    uint64_t v = kUntouched;
    EXPECT_EQ(op.raw(nullptr, &v), TAVBIN_INVALID_ARG) << op.name;
    EXPECT_EQ(v, kUntouched);
    EXPECT_EQ(tavbin_last_error(r), TAVBIN_RANGE) << op.name;
    EXPECT_EQ(cursor_of(r), (Cursor{0, 3})) << op.name; // no alignment step either
  }
}

// The byte-alignment step runs before the length test and stays in effect when
// the read then fails.
TEST(FixedRead, AfterPartialBits) {
  const struct {
    size_t size;
    uint32_t bits;
    const char *op;
    tavbin_status want;
    uint64_t value;
    uint64_t pos_after;
  } cases[] = {
      {5, 1, "u32", TAVBIN_OK, 0x02030405, 5}, // control: bytes 1 to 4
      {4, 1, "u32", TAVBIN_EOF, kUntouched, 1},
      {9, 7, "u64", TAVBIN_OK, 0x0203040506070809, 9},
      {8, 7, "u64", TAVBIN_EOF, kUntouched, 1},
      {3, 8, "u16", TAVBIN_OK, 0x0203, 3}, // a whole byte taken: nothing skipped
      {2, 12, "u8", TAVBIN_EOF, kUntouched, 2},
  };
  for (const auto &c : cases) {
    Bytes in(c.size);
    for (size_t i = 0; i < c.size; ++i)
      in[i] = static_cast<uint8_t>(i + 1);
    Reader r(in);
    uint64_t ignored;
    ASSERT_EQ(tavbin_bits(r, c.bits, &ignored), TAVBIN_OK);
    uint64_t v = kUntouched;
    EXPECT_EQ(read_named(c.op).fn(r, &v), c.want) << c.op << " after " << c.bits;
    EXPECT_EQ(v, c.value) << c.op;
    EXPECT_EQ(cursor_of(r), (Cursor{c.pos_after, 0})) << c.op << " after " << c.bits;
  }
}

TEST(FixedRead, ByteOrderChangeAffectsOnlyLaterReads) {
  Reader r({0x12, 0x34, 0x12, 0x34});
  uint16_t a = 0, b = 0;
  ASSERT_EQ(tavbin_u16(r, &a), TAVBIN_OK);
  ASSERT_EQ(tavbin_set_endian(r, TAVBIN_LITTLE_ENDIAN), TAVBIN_OK);
  ASSERT_EQ(tavbin_u16(r, &b), TAVBIN_OK);
  EXPECT_EQ(a, 0x1234);
  EXPECT_EQ(b, 0x3412);
}

// tavbin_bytes, tavbin_ascii and tavbin_skip share one contract.
enum class Block { bytes, ascii, skip };

tavbin_status block(Block k, tavbin_reader *r, uint8_t *dst, uint64_t n) {
  switch (k) {
  case Block::bytes:
    return tavbin_bytes(r, dst, n);
  case Block::ascii:
    return tavbin_ascii(r, reinterpret_cast<char *>(dst), n);
  case Block::skip:
    return tavbin_skip(r, n);
  }
  return TAVBIN_OK;
}

TEST(BlockRead, CountsUpToAndPastTheEnd) {
  const Bytes in = {0x61, 0x62, 0x63, 0x64, 0x65, 0x66};
  const struct {
    uint64_t start;
    uint32_t bit;
    uint64_t n;
    tavbin_status want;
    uint64_t pos_after;
  } cases[] = {
      {0, 0, 3, TAVBIN_OK, 3}, // control
      {0, 0, 6, TAVBIN_OK, 6}, // exactly what remains
      {2, 0, 4, TAVBIN_OK, 6},
      {2, 0, 5, TAVBIN_EOF, 2}, // one more: nothing moves
      {6, 0, 0, TAVBIN_OK, 6},  // nothing, at the end
      {6, 0, 1, TAVBIN_EOF, 6},
      {0, 0, UINT64_MAX, TAVBIN_EOF, 0}, // no wrap
      {3, 0, UINT64_MAX - 2, TAVBIN_EOF, 3},
      {1, 4, 2, TAVBIN_OK, 4},  // the partly read byte is skipped first
      {1, 4, 5, TAVBIN_EOF, 2}, // ... and stays skipped
      {5, 1, 0, TAVBIN_OK, 6},
  };
  for (Block k : {Block::bytes, Block::ascii, Block::skip}) {
    for (const auto &c : cases) {
      Reader r(in);
      place(r, c.start, c.bit);
      // A failing call gets a dst of one byte, smaller than n: a failure touches no
      // byte of dst (the bindings rely on it), and AddressSanitizer sees any that is.
      Bytes dst(c.want == TAVBIN_OK ? 8 : 1, 0xEE);
      const tavbin_status s = block(k, r, dst.data(), c.n);
      const uint64_t aligned = c.start + (c.bit ? 1 : 0);
      EXPECT_EQ(s, c.want) << int(k) << " n " << c.n;
      EXPECT_EQ(tavbin_last_error(r), c.want);
      EXPECT_EQ(cursor_of(r), (Cursor{c.pos_after, 0})) << int(k) << " n " << c.n;
      Bytes want(dst.size(), 0xEE);
      if (k != Block::skip && s == TAVBIN_OK)
        std::copy(in.begin() + static_cast<std::ptrdiff_t>(aligned),
                  in.begin() + static_cast<std::ptrdiff_t>(aligned + c.n), want.begin());
      EXPECT_EQ(hex(dst), hex(want)) << int(k) << " n " << c.n; // no terminator, nothing on failure
    }
  }
}

TEST(BlockRead, NullArguments) {
  for (Block k : {Block::bytes, Block::ascii}) {
    Reader r({1, 2});
    place(r, 0, 2);
    EXPECT_EQ(block(k, r, nullptr, 1), TAVBIN_INVALID_ARG);
    EXPECT_EQ(tavbin_last_error(r), TAVBIN_OK); // not recorded
    EXPECT_EQ(block(k, nullptr, nullptr, 0), TAVBIN_INVALID_ARG);
    EXPECT_EQ(cursor_of(r), (Cursor{0, 2}));
    tavbin_seek(r, 9);
    EXPECT_EQ(block(k, r, nullptr, 0), TAVBIN_OK); // nothing to copy: recorded
    EXPECT_EQ(tavbin_last_error(r), TAVBIN_OK);
  }
  EXPECT_EQ(tavbin_skip(nullptr, 0), TAVBIN_INVALID_ARG);
}

TEST(Peek, MirrorsTheReadAndRestoresTheCursor) {
  const Bytes in = {0xA0, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90};
  for (const Read &op : peeks) {
    const Read &read = reads[op.width == 1 ? 0 : op.width == 2 ? 2 : op.width == 4 ? 4 : 7];
    for (uint64_t start = 0; start <= in.size(); ++start) {
      for (uint32_t bit : {0u, 4u}) {
        if (bit != 0 && start == in.size()) continue;
        Reader peeked(in), consumed(in);
        place(peeked, start, bit);
        place(consumed, start, bit);
        uint64_t p1 = kUntouched, p2 = kUntouched, v = kUntouched;
        const tavbin_status s1 = op.fn(peeked, &p1);
        const tavbin_status s2 = op.fn(peeked, &p2);
        const tavbin_status want = read.fn(consumed, &v);
        EXPECT_EQ(s1, want) << op.name << " at " << start << "." << bit;
        EXPECT_EQ(s2, want);
        EXPECT_EQ(p1, v) << op.name << " at " << start << "." << bit;
        EXPECT_EQ(p2, v);
        EXPECT_EQ(tavbin_last_error(peeked), want);
        EXPECT_EQ(cursor_of(peeked), (Cursor{start, bit})) << op.name;
      }
    }
    Reader r(in);
    EXPECT_EQ(op.raw(r, nullptr), TAVBIN_INVALID_ARG);
    uint64_t v = kUntouched;
    EXPECT_EQ(op.raw(nullptr, &v), TAVBIN_INVALID_ARG);
    EXPECT_EQ(v, kUntouched);
  }
}

TEST(Peek, BitsContinueAfterAPeek) {
  Reader r({0xA0, 0x55});
  uint64_t hi = 0, lo = 9;
  uint8_t b = 0;
  ASSERT_EQ(tavbin_bits(r, 4, &hi), TAVBIN_OK);
  ASSERT_EQ(tavbin_peek_u8(r, &b), TAVBIN_OK);
  EXPECT_EQ(b, 0x55);
  EXPECT_EQ(tavbin_tell(r), 0u);
  ASSERT_EQ(tavbin_bits(r, 4, &lo), TAVBIN_OK);
  EXPECT_EQ(lo, 0u);
}

// Absolute reads through one signature.
using AtFn = tavbin_status (*)(tavbin_reader *, uint64_t, uint64_t *);
template <typename T, tavbin_status (*F)(tavbin_reader *, uint64_t, T *)>
tavbin_status widen_at(tavbin_reader *r, uint64_t off, uint64_t *out) {
  T v{};
  const tavbin_status s = F(r, off, out != nullptr ? &v : nullptr);
  if (s == TAVBIN_OK) *out = v;
  return s;
}
const struct {
  const char *name;
  unsigned width;
  AtFn fn;
} ats[] = {{"u8_at", 1, widen_at<uint8_t, tavbin_u8_at>},
           {"u16_at", 2, widen_at<uint16_t, tavbin_u16_at>},
           {"u32_at", 4, widen_at<uint32_t, tavbin_u32_at>},
           {"u64_at", 8, widen_at<uint64_t, tavbin_u64_at>}};

TEST(AbsoluteRead, OffsetsNearTheEndAndNear2To64) {
  Bytes in(20);
  for (size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<uint8_t>(0x10 + i);
  for (const auto &op : ats) {
    const uint64_t size = in.size(), w = op.width;
    const struct {
      uint64_t offset;
      tavbin_status want;
    } cases[] = {
        {0, TAVBIN_OK}, // control
        {size - w, TAVBIN_OK},
        {size - w + 1, TAVBIN_RANGE},
        {size, TAVBIN_RANGE},
        {size + 10, TAVBIN_RANGE},
        {UINT64_MAX - w + 1, TAVBIN_RANGE}, // offset + width would wrap to 0
        {UINT64_MAX - 3, TAVBIN_RANGE},
        {UINT64_MAX, TAVBIN_RANGE},
    };
    for (tavbin_endian e : {TAVBIN_BIG_ENDIAN, TAVBIN_LITTLE_ENDIAN}) {
      for (const auto &c : cases) {
        Reader r(in, e);
        place(r, 3, 5);
        uint64_t v = kUntouched;
        EXPECT_EQ(op.fn(r, c.offset, &v), c.want) << op.name << " at " << c.offset;
        EXPECT_EQ(tavbin_last_error(r), c.want);
        if (c.want == TAVBIN_OK) {
          uint64_t want = 0;
          for (unsigned i = 0; i < w; ++i) {
            const unsigned k = e == TAVBIN_BIG_ENDIAN ? i : w - 1 - i;
            want = want << 8 | in[c.offset + k];
          }
          EXPECT_EQ(v, want) << op.name << " at " << c.offset;
        } else {
          EXPECT_EQ(v, kUntouched);
        }
        EXPECT_EQ(cursor_of(r), (Cursor{3, 5})) << op.name; // the bit field goes on
      }
    }
    Reader r(in);
    EXPECT_EQ(op.fn(r, 0, nullptr), TAVBIN_INVALID_ARG);
    EXPECT_EQ(op.fn(nullptr, 0, nullptr), TAVBIN_INVALID_ARG);
  }
}

TEST(AbsoluteRead, SuccessClearsAnEarlierEof) {
  Reader r({1, 2, 3, 4});
  uint64_t v;
  uint32_t u = 0;
  tavbin_seek(r, 4);
  ASSERT_EQ(tavbin_u64(r, &v), TAVBIN_EOF);
  EXPECT_EQ(tavbin_u32_at(r, 0, &u), TAVBIN_OK);
  EXPECT_EQ(u, 0x01020304u);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_OK);
}

TEST(StringRead, LimitsShortagesAndPartlyReadBytes) {
  const Bytes abc = {0, 0, 0, 3, 0x61, 0x62, 0x63};
  const struct {
    Bytes in;
    tavbin_endian e;
    uint32_t bit; // bits taken before the read
    uint64_t dst_cap, max_len;
    tavbin_status want;
    std::string text;
  } cases[] = {
      {abc, TAVBIN_BIG_ENDIAN, 0, 4, 3, TAVBIN_OK, "abc"}, // control
      {{3, 0, 0, 0, 0x61, 0x62, 0x63}, TAVBIN_LITTLE_ENDIAN, 0, 4, 3, TAVBIN_OK, "abc"},
      {abc, TAVBIN_BIG_ENDIAN, 0, 3, 3, TAVBIN_TOO_LARGE, ""}, // no room for the NUL
      {abc, TAVBIN_BIG_ENDIAN, 0, 4, 2, TAVBIN_TOO_LARGE, ""},
      {{0, 0, 0, 5, 1, 2, 3}, TAVBIN_BIG_ENDIAN, 0, 6, 5, TAVBIN_EOF, ""},
      {{0, 0, 0, 5, 1, 2, 3}, TAVBIN_BIG_ENDIAN, 0, 5, 5, TAVBIN_TOO_LARGE, ""}, // limits before data
      {{0xFF, 0xFF, 0xFF, 0xFF}, TAVBIN_BIG_ENDIAN, 0, 0xFFFFFFFF, 0xFFFFFFFF, TAVBIN_TOO_LARGE, ""},
      {{0xFF, 0xFF, 0xFF, 0xFF}, TAVBIN_BIG_ENDIAN, 0, UINT64_MAX, UINT64_MAX, TAVBIN_EOF, ""},
      {{0, 0, 0, 0}, TAVBIN_BIG_ENDIAN, 0, 1, 0, TAVBIN_OK, ""},
      {{0, 0, 0, 0}, TAVBIN_BIG_ENDIAN, 0, 0, 0, TAVBIN_TOO_LARGE, ""},
      {{0, 0, 0}, TAVBIN_BIG_ENDIAN, 0, 8, 8, TAVBIN_EOF, ""}, // no whole prefix
      {{0, 0, 0, 2, 0x61, 0, 0x62}, TAVBIN_BIG_ENDIAN, 0, 8, 8, TAVBIN_OK, std::string("a\0", 2)},
      {{0xFF, 0, 0, 0, 1, 0x7A}, TAVBIN_BIG_ENDIAN, 2, 8, 8, TAVBIN_OK, "z"},       // after bits: aligned
      {{0xFF, 0, 0, 0, 1, 0x7A, 0x55}, TAVBIN_BIG_ENDIAN, 3, 8, 8, TAVBIN_OK, "z"}, // and no bit position
                                                                                    // left
      {{0xFF, 0, 0, 0, 1}, TAVBIN_BIG_ENDIAN, 2, 8, 8, TAVBIN_EOF, ""},             // fails: bits restored
      {{0xFF, 0, 0, 0, 9, 0}, TAVBIN_BIG_ENDIAN, 2, 8, 8, TAVBIN_TOO_LARGE, ""},
  };
  for (const auto &c : cases) {
    Reader r(c.in, c.e);
    place(r, 0, c.bit);
    // As for the block reads: a failing call gets one byte whatever dst_cap says.
    Bytes dst(c.want == TAVBIN_OK ? 16 : 1, 0xEE);
    uint64_t len = kUntouched;
    const tavbin_status s =
        tavbin_string_u32(r, reinterpret_cast<char *>(dst.data()), c.dst_cap, c.max_len, &len);
    EXPECT_EQ(s, c.want) << hex(c.in) << " cap " << c.dst_cap << " max " << c.max_len;
    EXPECT_EQ(tavbin_last_error(r), c.want);
    Bytes want(dst.size(), 0xEE);
    if (c.want == TAVBIN_OK) {
      std::copy(c.text.begin(), c.text.end(), want.begin());
      want[c.text.size()] = 0;
      EXPECT_EQ(len, c.text.size());
      EXPECT_EQ(cursor_of(r), (Cursor{(c.bit ? 1u : 0u) + 4 + c.text.size(), 0}));
    } else {
      EXPECT_EQ(len, kUntouched);
      EXPECT_EQ(cursor_of(r), (Cursor{0, c.bit})) << hex(c.in); // the whole cursor is restored
    }
    EXPECT_EQ(hex(dst), hex(want)) << hex(c.in);
  }
}

TEST(StringRead, TruncatedAtEveryShorterLength) {
  const Bytes in = {0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o'};
  for (size_t len = 0; len < in.size(); ++len) {
    Reader r(Bytes(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(len)));
    char dst[8] = "xxxxxxx";
    EXPECT_EQ(tavbin_string_u32(r, dst, sizeof dst, 5, nullptr), TAVBIN_EOF) << len;
    EXPECT_EQ(tavbin_tell(r), 0u);
    EXPECT_STREQ(dst, "xxxxxxx");
  }
}

TEST(StringRead, NullArguments) {
  Reader r({0, 0, 0, 1, 0x61});
  char dst[4];
  tavbin_seek(r, 9);
  EXPECT_EQ(tavbin_string_u32(r, nullptr, 0, 10, nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_string_u32(r, nullptr, 4, 10, nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_string_u32(nullptr, dst, 4, 10, nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_RANGE);
  EXPECT_EQ(tavbin_string_u32(r, dst, 4, 10, nullptr), TAVBIN_OK); // out_len may be NULL
  EXPECT_STREQ(dst, "a");
}

TEST(Leb128Read, LengthsLimitsAndOverlongForms) {
  const Bytes ff9 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  auto cat = [](Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    Bytes in;
    uint64_t max_bytes;
    tavbin_status want;
    uint64_t value;
    uint64_t used;
  } cases[] = {
      {{0x00}, 10, TAVBIN_OK, 0, 1}, // control
      {{0x7F}, 10, TAVBIN_OK, 127, 1},
      {{0x80, 0x01}, 10, TAVBIN_OK, 128, 2},
      {{0xE5, 0x8E, 0x26}, 10, TAVBIN_OK, 624485, 3},
      {{0xE5, 0x8E, 0x26, 0xFF}, 3, TAVBIN_OK, 624485, 3}, // stops at the last byte
      {{0x80, 0x80, 0x00}, 10, TAVBIN_OK, 0, 3},           // padded form
      {{0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, 10, TAVBIN_OK, 1, 10},
      {cat(ff9, {0x01}), 10, TAVBIN_OK, UINT64_MAX, 10},
      {cat(ff9, {0x7F}), 10, TAVBIN_OK, UINT64_MAX, 10}, // the tenth byte's extra bits drop
      {cat(ff9, {0x01}), UINT64_MAX, TAVBIN_OK, UINT64_MAX, 10},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7E}, 10, TAVBIN_OK, 0, 10},
      {cat(ff9, {0x01}), 9, TAVBIN_EOF, 0, 0},
      {cat(ff9, {0x7F}), 9, TAVBIN_EOF, 0, 0},
      {cat(ff9, {0xFF, 0x01}), 10, TAVBIN_INVALID_ARG, 0, 0}, // over-long before the limit
      {cat(ff9, {0xFF, 0x01}), 16, TAVBIN_INVALID_ARG, 0, 0},
      {cat(ff9, {0xFF}), 11, TAVBIN_INVALID_ARG, 0, 0}, // ten at the very end
      {cat(ff9, {0xFF, 0x01}), 9, TAVBIN_EOF, 0, 0},
      {ff9, 10, TAVBIN_EOF, 0, 0}, // data ends first
      {{0x80, 0x80, 0x01}, 2, TAVBIN_EOF, 0, 0},
      {{0x80, 0x80, 0x01}, 3, TAVBIN_OK, 16384, 3},
      {{0x80}, 10, TAVBIN_EOF, 0, 0},
      {{}, 10, TAVBIN_EOF, 0, 0},
      {{0x05}, 0, TAVBIN_INVALID_ARG, 0, 0},
      {{0x05}, 1, TAVBIN_OK, 5, 1},
  };
  for (const auto &c : cases) {
    for (uint64_t lead : {0u, 1u}) { // also after a partly read byte
      Bytes in = c.in;
      if (lead) in.insert(in.begin(), 0xAA);
      Reader r(in);
      place(r, 0, lead ? 3 : 0);
      uint64_t v = kUntouched;
      EXPECT_EQ(tavbin_leb128(r, &v, c.max_bytes), c.want) << hex(in) << " max " << c.max_bytes;
      EXPECT_EQ(tavbin_last_error(r), c.want);
      EXPECT_EQ(v, c.want == TAVBIN_OK ? c.value : kUntouched) << hex(in);
      // On failure the cursor goes back to where the number began, after the
      // alignment step; a zero limit is refused before that step.
      const Cursor start = c.max_bytes == 0 ? Cursor{0, lead ? 3u : 0u} : Cursor{lead, 0};
      const Cursor want = c.want == TAVBIN_OK ? Cursor{lead + c.used, 0} : start;
      EXPECT_EQ(cursor_of(r), want) << hex(in);
    }
  }
}

// Every well-formed number, cut short anywhere, is end of data with nothing taken.
TEST(Leb128Read, TruncatedAtEveryShorterLength) {
  const Bytes in = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x01};
  for (size_t len = 0; len < in.size(); ++len) {
    for (uint64_t max : {uint64_t{10}, uint64_t{64}}) {
      Reader r(Bytes(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(len)));
      uint64_t v = kUntouched;
      EXPECT_EQ(tavbin_leb128(r, &v, max), TAVBIN_EOF) << len;
      EXPECT_EQ(v, kUntouched);
      EXPECT_EQ(tavbin_tell(r), 0u);
    }
  }
}

// Numbers that end within a window of ten readable bytes and ones that end at the
// data's last byte decode alike.
TEST(Leb128Read, FastAndNearTheEndAgree) {
  for (unsigned n = 1; n <= 10; ++n) {
    Bytes num(n, 0xFF);
    num[n - 1] = 0x01;
    uint64_t want = 0;
    for (unsigned i = 0; i < n; ++i)
      want |= uint64_t{num[i] & 0x7Fu} << (7 * i);
    for (size_t pad : {0u, 1u, 9u, 16u}) {
      Bytes in = num;
      in.resize(n + pad, 0x80);
      Reader r(in);
      uint64_t v = 0;
      ASSERT_EQ(tavbin_leb128(r, &v, 10), TAVBIN_OK) << n << " + " << pad;
      EXPECT_EQ(v, want);
      EXPECT_EQ(tavbin_tell(r), n);
    }
  }
}

// Every length (and ten continuation bytes, "length 11") at every distance from
// the end of the data and under every limit: a number decodes alike whether it
// ends within an 8-byte window, at the data's last byte, or at the limit. The
// payloads differ byte by byte and the bytes after the number alternate high bits,
// so a wrong mask or a byte taken from past the number shows in the value.
TEST(Leb128Read, EveryLengthDistanceFromTheEndAndLimit) {
  for (unsigned n = 1; n <= 11; ++n) {
    Bytes num;
    uint64_t want = 0;
    for (unsigned i = 0; i < n && i < 10; ++i) {
      const uint8_t group = static_cast<uint8_t>((0x5A + 0x1D * i + 0x0B * n) & 0x7F);
      num.push_back(static_cast<uint8_t>(group | (i + 1 < n ? 0x80 : 0)));
      want |= uint64_t{group} << (7 * i); // the tenth group loses all but its lowest bit
    }
    for (size_t pad = 0; pad <= 10; ++pad) {
      Bytes in = num;
      for (size_t k = 0; k < pad; ++k)
        in.push_back(k % 2 ? 0x7F : 0xC3);
      for (uint64_t max : {1, 2, 3, 7, 8, 9, 10, 11, 64}) {
        Reader r(in);
        uint64_t v = kUntouched;
        const uint64_t can = std::min<uint64_t>(max, in.size());
        const tavbin_status st = n <= 10 && n <= max   ? TAVBIN_OK
                                 : can >= 10 && n > 10 ? TAVBIN_INVALID_ARG
                                                       : TAVBIN_EOF;
        ASSERT_EQ(tavbin_leb128(r, &v, max), st) << n << " + " << pad << " max " << max;
        EXPECT_EQ(v, st == TAVBIN_OK ? want : kUntouched) << n << " + " << pad << " max " << max;
        EXPECT_EQ(tavbin_tell(r), st == TAVBIN_OK ? n : 0u);
      }
    }
  }
}

TEST(Leb128Read, NullArguments) {
  Reader r({0x01});
  uint64_t v = kUntouched;
  tavbin_seek(r, 9);
  EXPECT_EQ(tavbin_leb128(r, nullptr, 10), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_leb128(r, nullptr, 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_leb128(nullptr, &v, 10), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_RANGE);
  EXPECT_EQ(v, kUntouched);
}

} // namespace
