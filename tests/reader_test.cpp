// Reader life, cursor, single-byte reads, bit fields and the byte-alignment step.
#include <gtest/gtest.h>

#include <random>

#include "support.h"

using namespace tavbin_test;

namespace {

TEST(ReaderOpen, Arguments) {
  const uint8_t b[4] = {1, 2, 3, 4};
  const struct {
    const void *data;
    uint64_t size;
    tavbin_endian e;
    bool opens;
  } cases[] = {
      {b, 4, TAVBIN_BIG_ENDIAN, true}, {b, 4, TAVBIN_LITTLE_ENDIAN, true},
      {nullptr, 0, 0, true},           {b, 0, 1, true},
      {nullptr, 1, 0, false},          {b, 4, 2, false},
      {nullptr, 1, 2, false},          {b, UINT64_MAX, UINT32_MAX, false},
  };
  for (const auto &c : cases) {
    tavbin_reader *r = tavbin_open(c.data, c.size, c.e);
    EXPECT_EQ(r != nullptr, c.opens) << c.size << " " << c.e;
    if (r == nullptr) continue;
    EXPECT_EQ(tavbin_tell(r), 0u);
    EXPECT_EQ(tavbin_size(r), c.size);
    EXPECT_EQ(tavbin_remaining(r), c.size);
    EXPECT_EQ(tavbin_last_error(r), TAVBIN_OK);
    tavbin_close(r);
  }
}

TEST(ReaderOpen, EmptyReaderIsAtTheEnd) {
  tavbin_reader *r = tavbin_open(nullptr, 0, TAVBIN_BIG_ENDIAN);
  uint8_t v = 7;
  uint64_t bits = 7;
  EXPECT_EQ(tavbin_u8(r, &v), TAVBIN_EOF);
  EXPECT_EQ(tavbin_bits(r, 1, &bits), TAVBIN_EOF);
  EXPECT_EQ(tavbin_seek(r, 0), TAVBIN_OK);
  EXPECT_EQ(tavbin_seek(r, 1), TAVBIN_RANGE);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(bits, 7u);
  tavbin_close(r);
}

TEST(ReaderNullHandle, StatusesAndNeutralValues) {
  uint8_t u8 = 0;
  int8_t i8 = 0;
  uint64_t v = 0;
  EXPECT_EQ(tavbin_set_endian(nullptr, 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_seek(nullptr, 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_u8(nullptr, &u8), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_i8(nullptr, &i8), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_bits(nullptr, 1, &v), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_bits(nullptr, 0, &v), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_last_error(nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_tell(nullptr), 0u);
  EXPECT_EQ(tavbin_size(nullptr), 0u);
  EXPECT_EQ(tavbin_remaining(nullptr), 0u);
  tavbin_bit_align(nullptr);
  tavbin_close(nullptr);
}

TEST(ReaderEndian, SetAndRefuse) {
  Reader r({0x12, 0x34});
  EXPECT_EQ(tavbin_set_endian(r, 2), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_set_endian(r, TAVBIN_LITTLE_ENDIAN), TAVBIN_OK);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_OK);
  EXPECT_EQ(tavbin_tell(r), 0u);
}

TEST(ReaderSeek, BoundsAndBitPosition) {
  const struct {
    uint64_t start_pos;
    uint32_t start_bit;
    uint64_t offset;
    tavbin_status want;
    Cursor after;
  } cases[] = {
      {0, 0, 3, TAVBIN_OK, {3, 0}},             // control
      {0, 0, 4, TAVBIN_OK, {4, 0}},             // exactly the end
      {1, 0, 5, TAVBIN_RANGE, {1, 0}},          // one past the end
      {1, 3, UINT64_MAX, TAVBIN_RANGE, {1, 3}}, // bit position kept too
      {1, 3, 1, TAVBIN_OK, {1, 0}},             // same byte: the bit position is cleared
      {2, 5, 0, TAVBIN_OK, {0, 0}},
  };
  for (const auto &c : cases) {
    Reader r({1, 2, 3, 4});
    place(r, c.start_pos, c.start_bit);
    EXPECT_EQ(tavbin_seek(r, c.offset), c.want) << c.offset;
    EXPECT_EQ(tavbin_last_error(r), c.want);
    EXPECT_EQ(cursor_of(r), c.after) << c.offset;
  }
}

TEST(ReaderSeek, ThenReadsTheByteWhole) {
  Reader r({0xA0, 0x55});
  uint64_t v;
  uint8_t b;
  ASSERT_EQ(tavbin_bits(r, 3, &v), TAVBIN_OK);
  ASSERT_EQ(tavbin_seek(r, 0), TAVBIN_OK);
  ASSERT_EQ(tavbin_u8(r, &b), TAVBIN_OK);
  EXPECT_EQ(b, 0xA0);
}

TEST(ReaderBytes, SingleBytesToTheEnd) {
  Reader r({0x01, 0xFF, 0x80});
  const struct {
    uint8_t u;
    int8_t i;
  } want[] = {{0x01, 1}, {0xFF, -1}, {0x80, -128}};
  for (const auto &w : want) {
    uint8_t u = 0;
    int8_t i = 0;
    ASSERT_EQ(tavbin_u8(r, &u), TAVBIN_OK);
    ASSERT_EQ(tavbin_seek(r, tavbin_tell(r) - 1), TAVBIN_OK);
    ASSERT_EQ(tavbin_i8(r, &i), TAVBIN_OK);
    EXPECT_EQ(u, w.u);
    EXPECT_EQ(i, w.i);
  }
  uint8_t u = 9;
  int8_t i = 9;
  EXPECT_EQ(tavbin_u8(r, &u), TAVBIN_EOF);
  EXPECT_EQ(tavbin_i8(r, &i), TAVBIN_EOF);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_EOF);
  EXPECT_EQ(tavbin_tell(r), 3u);
  EXPECT_EQ(u, 9);
  EXPECT_EQ(i, 9);
}

TEST(ReaderBytes, NullDestinationRecordsNothing) {
  Reader r({0x01});
  place(r, 0, 3);
  ASSERT_EQ(tavbin_seek(r, 7), TAVBIN_RANGE);
  EXPECT_EQ(tavbin_u8(r, nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_i8(r, nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_bits(r, 0, nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_RANGE);
  EXPECT_EQ(cursor_of(r), (Cursor{0, 3})); // and the alignment step did not run
}

TEST(ReaderAlign, ByteReadAfterBits) {
  const struct {
    Bytes in;
    uint32_t bits;
    tavbin_status want;
    uint8_t value;
    uint64_t pos_after;
  } cases[] = {
      {{0xA0, 0x55}, 3, TAVBIN_OK, 0x55, 2}, // control: rest of byte 0 skipped
      {{0xA0, 0x55}, 8, TAVBIN_OK, 0x55, 2}, // whole byte taken: no skip
      {{0xA0}, 3, TAVBIN_EOF, 0, 1},         // skip, then nothing left
      {{0xA0, 0x55}, 11, TAVBIN_EOF, 0, 2},
  };
  for (const auto &c : cases) {
    Reader r(c.in);
    uint64_t v;
    ASSERT_EQ(tavbin_bits(r, c.bits, &v), TAVBIN_OK);
    uint8_t b = 0;
    EXPECT_EQ(tavbin_u8(r, &b), c.want) << c.bits;
    if (c.want == TAVBIN_OK) {
      EXPECT_EQ(b, c.value);
    }
    EXPECT_EQ(cursor_of(r), (Cursor{c.pos_after, 0})) << c.bits;
  }
}

TEST(ReaderAlign, ExplicitAlignDoesNotRecord) {
  Reader r({0xA0, 0x55});
  tavbin_seek(r, 9); // TAVBIN_RANGE recorded
  tavbin_bit_align(r);
  EXPECT_EQ(tavbin_tell(r), 0u); // aligned already: nothing moves
  place(r, 0, 3);
  tavbin_seek(r, 9);
  tavbin_bit_align(r);
  EXPECT_EQ(tavbin_last_error(r), TAVBIN_RANGE);
  EXPECT_EQ(cursor_of(r), (Cursor{1, 0}));
}

TEST(ReaderBits, ValuesShortagesAndBadCounts) {
  const uint64_t keep = 0xC0FFEE;
  const struct {
    Bytes in;
    uint32_t skip; // bits taken first
    uint32_t count;
    tavbin_status want;
    uint64_t value;
    Cursor after;
  } cases[] = {
      {{0xB4}, 0, 3, TAVBIN_OK, 5, {0, 3}}, // control
      {{0xB4}, 3, 5, TAVBIN_OK, 20, {1, 0}},
      {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 0, 64, TAVBIN_OK, 0x0102030405060708, {8, 0}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 7, 64, TAVBIN_OK, UINT64_MAX, {8, 7}},
      {{0x80, 0, 0, 0, 0, 0, 0, 0, 0x80}, 1, 64, TAVBIN_OK, 1, {8, 1}}, // last bit from a ninth byte
      {{0x7F, 0, 0, 0, 0, 0, 0, 0, 0x80}, 1, 64, TAVBIN_OK, 0xFE00000000000001, {8, 1}},
      {{0xAB, 0xCD}, 4, 8, TAVBIN_OK, 0xBC, {1, 4}},
      {{0xAB, 0xCD}, 4, 12, TAVBIN_OK, 0xBCD, {2, 0}},
      {{0xAB}, 0, 12, TAVBIN_EOF, keep, {1, 0}}, // every bit taken before the shortage
      {{0xAB, 0xCD}, 5, 12, TAVBIN_EOF, keep, {2, 0}},
      {{0xAB, 0xCD}, 0, 0, TAVBIN_INVALID_ARG, keep, {0, 0}},
      {{0xAB, 0xCD}, 3, 65, TAVBIN_INVALID_ARG, keep, {0, 3}},
      {{0xAB, 0xCD}, 3, UINT32_MAX, TAVBIN_INVALID_ARG, keep, {0, 3}},
      {{}, 0, 1, TAVBIN_EOF, keep, {0, 0}},
  };
  for (const auto &c : cases) {
    Reader r(c.in);
    place(r, 0, c.skip);
    uint64_t v = keep;
    EXPECT_EQ(tavbin_bits(r, c.count, &v), c.want) << hex(c.in) << " skip " << c.skip << " count " << c.count;
    EXPECT_EQ(tavbin_last_error(r), c.want);
    EXPECT_EQ(v, c.value) << hex(c.in) << " skip " << c.skip << " count " << c.count;
    EXPECT_EQ(cursor_of(r), c.after) << hex(c.in) << " skip " << c.skip << " count " << c.count;
  }
}

TEST(ReaderBits, IgnoresByteOrder) {
  const Bytes in = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  for (tavbin_endian e : {TAVBIN_BIG_ENDIAN, TAVBIN_LITTLE_ENDIAN}) {
    Reader r(in, e);
    uint64_t v = 0;
    ASSERT_EQ(tavbin_bits(r, 64, &v), TAVBIN_OK);
    EXPECT_EQ(v, 0x0102030405060708u);
  }
}

// The bit reader takes whole windows at a time; check it against the obvious
// one-bit-at-a-time reading on random data, every width and every start bit,
// including fields that end exactly at, or run past, the end of the data.
TEST(ReaderBits, MatchesBitByBitReference) {
  std::mt19937_64 rng(42);
  for (size_t size = 0; size <= 12; ++size) {
    Bytes in(size);
    for (auto &b : in)
      b = static_cast<uint8_t>(rng());
    for (uint64_t start = 0; start <= size * 8; ++start) {
      for (uint32_t count = 1; count <= 64; ++count) {
        Reader r(in);
        place(r, start / 8, static_cast<uint32_t>(start % 8));
        BitCursor ref{in.data(), size, start / 8, static_cast<uint32_t>(start % 8)};
        uint64_t v = 0xA5A5A5A5A5A5A5A5u, want = v; // left as they are on failure
        ASSERT_EQ(tavbin_bits(r, count, &v), ref.bits(count, &want)) << size << " " << start << " " << count;
        ASSERT_EQ(v, want) << size << " " << start << " " << count;
        ASSERT_EQ(cursor_of(r), (Cursor{ref.pos, ref.bit})) << size << " " << start << " " << count;
      }
    }
  }
}

} // namespace
