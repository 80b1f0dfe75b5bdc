// The writer: life, byte layouts, recording, refusals and sources inside its own
// buffer; and everything it writes read back through a reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "support.h"

using namespace tavbin_test;

namespace {

TEST(WriterOpen, Arguments) {
  const struct {
    uint64_t cap;
    tavbin_endian e;
    bool opens;
  } cases[] = {{0, TAVBIN_BIG_ENDIAN, true},
               {1, TAVBIN_LITTLE_ENDIAN, true},
               {3, 0, true},
               {1000, 1, true},
               {0, 2, false},
               {64, UINT32_MAX, false}};
  for (const auto &c : cases) {
    tavbin_writer *w = tavbinw_open(c.cap, c.e);
    EXPECT_EQ(w != nullptr, c.opens) << c.cap << " " << c.e;
    if (w == nullptr) continue;
    EXPECT_NE(tavbinw_data(w), nullptr); // a buffer even while empty
    EXPECT_EQ(tavbinw_len(w), 0u);
    EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OK);
    tavbinw_close(w);
  }
}

TEST(WriterNullHandle, StatusesAndNeutralValues) {
  const uint8_t b[1] = {0};
  EXPECT_EQ(tavbinw_set_endian(nullptr, 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_bytes(nullptr, b, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_bytes(nullptr, nullptr, 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_u8(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_u16(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_i16(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_u32(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_i32(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_f32(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_u64(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_i64(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_f64(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_leb128(nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_string_u32(nullptr, "a", 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_string_u32(nullptr, nullptr, 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_last_error(nullptr), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_data(nullptr), nullptr);
  EXPECT_EQ(tavbinw_len(nullptr), 0u);
  tavbinw_close(nullptr);
}

using Append = tavbin_status (*)(tavbin_writer *);

TEST(WriterLayout, EveryEncodingInBothOrders) {
  const struct {
    const char *what;
    Append op;
    Bytes big, little;
  } cases[] = {
      {"u8", [](tavbin_writer *w) { return tavbinw_u8(w, 0xAB); }, {0xAB}, {0xAB}},
      {"u16", [](tavbin_writer *w) { return tavbinw_u16(w, 0x1234); }, {0x12, 0x34}, {0x34, 0x12}},
      {"i16", [](tavbin_writer *w) { return tavbinw_i16(w, -2); }, {0xFF, 0xFE}, {0xFE, 0xFF}},
      {"u32", [](tavbin_writer *w) { return tavbinw_u32(w, 0x01020304); }, {1, 2, 3, 4}, {4, 3, 2, 1}},
      {"i32",
       [](tavbin_writer *w) { return tavbinw_i32(w, -1); },
       {0xFF, 0xFF, 0xFF, 0xFF},
       {0xFF, 0xFF, 0xFF, 0xFF}},
      {"f32", [](tavbin_writer *w) { return tavbinw_f32(w, 1.0f); }, {0x3F, 0x80, 0, 0}, {0, 0, 0x80, 0x3F}},
      {"u64",
       [](tavbin_writer *w) { return tavbinw_u64(w, 0x0102030405060708); },
       {1, 2, 3, 4, 5, 6, 7, 8},
       {8, 7, 6, 5, 4, 3, 2, 1}},
      {"i64",
       [](tavbin_writer *w) { return tavbinw_i64(w, INT64_MIN); },
       {0x80, 0, 0, 0, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, 0, 0, 0x80}},
      {"f64",
       [](tavbin_writer *w) { return tavbinw_f64(w, 1.0); },
       {0x3F, 0xF0, 0, 0, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {"string",
       [](tavbin_writer *w) { return tavbinw_string_u32(w, "abc", 3); },
       {0, 0, 0, 3, 0x61, 0x62, 0x63},
       {3, 0, 0, 0, 0x61, 0x62, 0x63}},
      {"empty string",
       [](tavbin_writer *w) { return tavbinw_string_u32(w, nullptr, 0); },
       {0, 0, 0, 0},
       {0, 0, 0, 0}},
      {"bytes", [](tavbin_writer *w) { return tavbinw_bytes(w, "\x01\x02\x03", 3); }, {1, 2, 3}, {1, 2, 3}},
      {"no bytes", [](tavbin_writer *w) { return tavbinw_bytes(w, nullptr, 0); }, {}, {}},
  };
  for (const auto &c : cases) {
    for (tavbin_endian e : {TAVBIN_BIG_ENDIAN, TAVBIN_LITTLE_ENDIAN}) {
      Writer w(e);
      tavbinw_set_endian(w, 7); // records TAVBIN_INVALID_ARG, order kept
      ASSERT_EQ(c.op(w), TAVBIN_OK) << c.what;
      EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OK) << c.what;
      EXPECT_EQ(hex(w.bytes()), hex(e == TAVBIN_BIG_ENDIAN ? c.big : c.little)) << c.what;
    }
  }
}

TEST(WriterLayout, Leb128ShortestForm) {
  const struct {
    uint64_t value;
    Bytes want;
  } cases[] = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x80, 0x01}},
      {16384, {0x80, 0x80, 0x01}},
      {624485, {0xE5, 0x8E, 0x26}},
      {uint64_t{1} << 63, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}},
      {UINT64_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
  };
  for (const auto &c : cases) {
    Writer w;
    ASSERT_EQ(tavbinw_leb128(w, c.value), TAVBIN_OK);
    EXPECT_EQ(hex(w.bytes()), hex(c.want)) << c.value;
  }
}

// Numbers of every length appended with 0 to 11 bytes of room left: the shortest
// form lands after the earlier bytes whether it fits in place (the buffer is a
// heap block of exactly its capacity, so a store past it shows under the
// sanitizers) or the buffer grows first.
TEST(WriterLayout, Leb128WithEveryRoomLeft) {
  constexpr uint64_t kCap = 16;
  for (unsigned n = 1; n <= 10; ++n) {
    // The smallest n-byte value with a varied payload below its top bit.
    const uint64_t value =
        n == 1 ? 0x5B : (uint64_t{1} << (7 * (n - 1))) | (0x2D5A4B3C1E0F6978u >> (71 - 7 * n));
    Bytes want;
    for (uint64_t v = value;; v >>= 7) {
      want.push_back(static_cast<uint8_t>((v & 0x7F) | (v >= 0x80 ? 0x80 : 0)));
      if (v < 0x80) break;
    }
    ASSERT_EQ(want.size(), n);
    for (uint64_t room = 0; room <= 11; ++room) {
      Writer w(TAVBIN_BIG_ENDIAN, kCap);
      const Bytes head(kCap - std::min(room, kCap), 0xEE);
      ASSERT_EQ(tavbinw_bytes(w, head.data(), head.size()), TAVBIN_OK);
      ASSERT_EQ(tavbinw_leb128(w, value), TAVBIN_OK) << n << " room " << room;
      Bytes all = head;
      all.insert(all.end(), want.begin(), want.end());
      EXPECT_EQ(hex(w.bytes()), hex(all)) << n << " room " << room;
    }
  }
}

// Every bit width, at and around its powers of two, appended back to back and
// read back: the encoder's and the decoder's group packing agree.
TEST(RoundTrip, Leb128OfEveryWidth) {
  std::vector<uint64_t> values;
  for (unsigned bit = 0; bit < 64; ++bit) {
    const uint64_t p = uint64_t{1} << bit;
    for (uint64_t v : {p - 1, p, p + 1, p | (0xA5C3F00F5A3C0FF0u & (p - 1))})
      values.push_back(v);
  }
  values.push_back(UINT64_MAX);
  Writer w(TAVBIN_LITTLE_ENDIAN, 1);
  for (uint64_t v : values)
    ASSERT_EQ(tavbinw_leb128(w, v), TAVBIN_OK) << v;
  Reader r(w.bytes());
  for (uint64_t v : values) {
    uint64_t got = 0;
    ASSERT_EQ(tavbin_leb128(r, &got, 10), TAVBIN_OK) << v;
    EXPECT_EQ(got, v);
  }
  EXPECT_EQ(tavbin_remaining(r), 0u);
}

TEST(WriterLayout, ByteOrderChangeAffectsOnlyLaterWrites) {
  Writer w(TAVBIN_BIG_ENDIAN);
  tavbinw_u16(w, 0x1234);
  ASSERT_EQ(tavbinw_set_endian(w, TAVBIN_LITTLE_ENDIAN), TAVBIN_OK);
  tavbinw_u16(w, 0x1234);
  EXPECT_EQ(tavbinw_set_endian(w, 5), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_last_error(w), TAVBIN_INVALID_ARG);
  tavbinw_u16(w, 0x1234);
  EXPECT_EQ(hex(w.bytes()), "12 34 34 12 34 12");
}

// Refusals: which are recorded, and that nothing is appended.
TEST(WriterRefusal, RecordedOrNotAndNothingAppended) {
  static const char src[4] = {'a', 'b', 'c', 'd'};
  const struct {
    const char *what;
    Append op;
    tavbin_status want;
    bool recorded;
  } cases[] = {
      {"control", [](tavbin_writer *w) { return tavbinw_bytes(w, src, 4); }, TAVBIN_OK, true},
      {"NULL source, count 5", [](tavbin_writer *w) { return tavbinw_bytes(w, nullptr, 5); },
       TAVBIN_INVALID_ARG, false},
      {"2^63 + 1 bytes", [](tavbin_writer *w) { return tavbinw_bytes(w, src, (uint64_t{1} << 63) + 1); },
       TAVBIN_OOM, true},
      {"len + n past 2^64", [](tavbin_writer *w) { return tavbinw_bytes(w, src, UINT64_MAX - 1); },
       TAVBIN_OOM, true},
      {"string of 2^32 bytes", [](tavbin_writer *w) { return tavbinw_string_u32(w, src, uint64_t{1} << 32); },
       TAVBIN_TOO_LARGE, true},
      {"string of 2^64 - 1 bytes", [](tavbin_writer *w) { return tavbinw_string_u32(w, src, UINT64_MAX); },
       TAVBIN_TOO_LARGE, true},
      {"NULL string of 2^32 bytes",
       [](tavbin_writer *w) { return tavbinw_string_u32(w, nullptr, uint64_t{1} << 32); }, TAVBIN_INVALID_ARG,
       false},
      {"NULL string, count 1", [](tavbin_writer *w) { return tavbinw_string_u32(w, nullptr, 1); },
       TAVBIN_INVALID_ARG, false},
      // Bytes past the written length have no defined content.
      {"source in the unwritten tail",
       [](tavbin_writer *w) { return tavbinw_bytes(w, tavbinw_data(w) + tavbinw_len(w), 1); },
       TAVBIN_INVALID_ARG, true},
      {"source running past the written bytes",
       [](tavbin_writer *w) { return tavbinw_bytes(w, tavbinw_data(w), tavbinw_len(w) + 1); },
       TAVBIN_INVALID_ARG, true},
      {"string source running past the written bytes",
       [](tavbin_writer *w) {
         return tavbinw_string_u32(w, reinterpret_cast<const char *>(tavbinw_data(w)) + 2, tavbinw_len(w));
       },
       TAVBIN_INVALID_ARG, true},
      // An impossible size is refused as such, wherever the source lies.
      {"2^63 + 1 bytes from inside",
       [](tavbin_writer *w) { return tavbinw_bytes(w, tavbinw_data(w), (uint64_t{1} << 63) + 1); },
       TAVBIN_OOM, true},
  };
  for (const auto &c : cases) {
    Writer w;
    ASSERT_EQ(tavbinw_bytes(w, "xyz", 3), TAVBIN_OK);
    // Record a status unlike the expected one, to tell "not recorded" apart.
    const tavbin_status prior = c.want == TAVBIN_TOO_LARGE ? TAVBIN_INVALID_ARG : TAVBIN_TOO_LARGE;
    if (prior == TAVBIN_TOO_LARGE) {
      ASSERT_EQ(tavbinw_string_u32(w, "", uint64_t{1} << 32), TAVBIN_TOO_LARGE);
    } else {
      ASSERT_EQ(tavbinw_set_endian(w, 9), TAVBIN_INVALID_ARG);
    }
    EXPECT_EQ(c.op(w), c.want) << c.what;
    EXPECT_EQ(tavbinw_last_error(w), c.recorded ? c.want : prior) << c.what;
    if (c.want != TAVBIN_OK) {
      EXPECT_EQ(hex(w.bytes()), "78 79 7A") << c.what;
    }
    // Still usable.
    EXPECT_EQ(tavbinw_u8(w, 1), TAVBIN_OK) << c.what;
  }
}

TEST(WriterRefusal, NothingIsRecordedOnNullArguments) {
  Writer w;
  tavbinw_set_endian(w, 2);
  EXPECT_EQ(tavbinw_bytes(w, nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_last_error(w), TAVBIN_INVALID_ARG);
  tavbinw_u8(w, 0);
  EXPECT_EQ(tavbinw_bytes(w, nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OK);
  EXPECT_EQ(tavbinw_bytes(w, nullptr, 0), TAVBIN_OK);
  EXPECT_EQ(tavbinw_string_u32(w, nullptr, 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OK);
  EXPECT_EQ(tavbinw_len(w), 1u);
}

// A source inside the written bytes is read from where it lies after the buffer
// has moved, whether or not the append makes it grow.
TEST(WriterSelfSource, CopiedFromWhereItLies) {
  const struct {
    uint64_t cap;
    uint64_t offset, n; // the source, within the written bytes "abcdef"
    bool as_string;
    std::string want;
  } cases[] = {
      {64, 0, 6, false, "abcdefabcdef"}, // fits: no growth
      {6, 0, 6, false, "abcdefabcdef"},  // doubles the content while the buffer moves
      {6, 2, 3, false, "abcdefcde"},
      {6, 5, 1, false, "abcdeff"},
      {7, 0, 6, false, "abcdefabcdef"},
      {6, 1, 4, true, std::string("abcdef\0\0\0\4bcde", 14)},
      {64, 0, 6, true, std::string("abcdef\0\0\0\6abcdef", 16)},
  };
  for (const auto &c : cases) {
    Writer w(TAVBIN_BIG_ENDIAN, c.cap);
    ASSERT_EQ(tavbinw_bytes(w, "abcdef", 6), TAVBIN_OK);
    const uint8_t *src = tavbinw_data(w) + c.offset;
    const tavbin_status s = c.as_string ? tavbinw_string_u32(w, reinterpret_cast<const char *>(src), c.n)
                                        : tavbinw_bytes(w, src, c.n);
    ASSERT_EQ(s, TAVBIN_OK) << c.cap << " " << c.offset << " " << c.n;
    const Bytes got = w.bytes();
    EXPECT_EQ(std::string(got.begin(), got.end()), c.want) << c.cap << " " << c.offset << " " << c.n;
  }
}

TEST(WriterSelfSource, RepeatedDoublingFromOneByte) {
  Writer w(TAVBIN_BIG_ENDIAN, 1);
  ASSERT_EQ(tavbinw_u8(w, 0x5A), TAVBIN_OK);
  for (int i = 0; i < 16; ++i)
    ASSERT_EQ(tavbinw_bytes(w, tavbinw_data(w), tavbinw_len(w)), TAVBIN_OK);
  const Bytes got = w.bytes();
  ASSERT_EQ(got.size(), 65536u);
  EXPECT_EQ(std::count(got.begin(), got.end(), 0x5A), 65536);
}

TEST(WriterGrowth, ManySmallAppendsKeepEveryByte) {
  Writer w(TAVBIN_LITTLE_ENDIAN, 1);
  for (uint32_t i = 0; i < 5000; ++i)
    ASSERT_EQ(tavbinw_u32(w, i), TAVBIN_OK);
  Reader r(w.bytes(), TAVBIN_LITTLE_ENDIAN);
  for (uint32_t i = 0; i < 5000; ++i) {
    uint32_t v = 0;
    ASSERT_EQ(tavbin_u32(r, &v), TAVBIN_OK);
    ASSERT_EQ(v, i);
  }
}

// Strings of every length from 0 to 40 bytes (the short ones are copied without
// memcpy, in pieces chosen by length), appended with room to spare and with
// growth, read back straight and after a partly read byte into a destination of
// exactly the length plus the NUL, so that a byte written outside it shows.
TEST(RoundTrip, StringsOfEveryLength) {
  for (uint64_t n = 0; n <= 40; ++n) {
    std::vector<char> src(n);
    for (uint64_t i = 0; i < n; ++i)
      src[i] = static_cast<char>('A' + i);
    for (const uint64_t cap : {uint64_t{1}, uint64_t{4096}}) {
      for (const tavbin_endian e : {TAVBIN_BIG_ENDIAN, TAVBIN_LITTLE_ENDIAN}) {
        Writer w(e, cap);
        ASSERT_EQ(tavbinw_u8(w, 0xA5), TAVBIN_OK);
        ASSERT_EQ(tavbinw_string_u32(w, src.data(), n), TAVBIN_OK) << n;
        ASSERT_EQ(tavbinw_len(w), 5 + n);
        for (const bool after_bits : {false, true}) {
          Reader r(w.bytes(), e);
          uint64_t skipped = 0;
          ASSERT_EQ(tavbin_bits(r, after_bits ? 3 : 8, &skipped), TAVBIN_OK);
          std::vector<char> dst(n + 1, '#');
          uint64_t len = 0;
          ASSERT_EQ(tavbin_string_u32(r, dst.data(), n + 1, n, &len), TAVBIN_OK) << n;
          EXPECT_EQ(len, n);
          EXPECT_EQ(std::string(dst.data(), n), std::string(src.data(), n)) << n;
          EXPECT_EQ(dst[n], '\0');
          EXPECT_EQ(tavbin_tell(r), 5 + n);
        }
      }
    }
  }
}

// One value of every kind, with the byte order changed between writes, read back
// in the same orders.
TEST(RoundTrip, EveryKindInBothOrders) {
  const float f32s[] = {1.5f, -0.0f, std::bit_cast<float>(0x7F800001u), std::bit_cast<float>(0x00000001u)};
  const double f64s[] = {-2.25, std::bit_cast<double>(0x7FF0000000000001u),
                         std::bit_cast<double>(0x8000000000000000u)};
  const uint64_t lebs[] = {0, 127, 128, 624485, uint64_t{1} << 63, UINT64_MAX};
  const std::string text("bin\0ary", 7);
  for (unsigned pattern = 0; pattern < 4; ++pattern) {
    // pattern bit 0: the first order; bit 1: flip the order after every value.
    auto order = [&](unsigned i) {
      const unsigned flip = (pattern & 2) ? i % 2 : 0;
      return static_cast<tavbin_endian>((pattern & 1) ^ flip);
    };
    Writer w(order(0), 3);
    unsigned i = 0;
    auto next = [&] { tavbinw_set_endian(w, order(i++)); };
    next();
    ASSERT_EQ(tavbinw_u8(w, 0xFE), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_u16(w, 0xBEEF), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_i16(w, -12345), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_u32(w, 0xDEADBEEF), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_i32(w, INT32_MIN), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_u64(w, 0x0123456789ABCDEF), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_i64(w, -1), TAVBIN_OK);
    for (float f : f32s) {
      next();
      ASSERT_EQ(tavbinw_f32(w, f), TAVBIN_OK);
    }
    for (double d : f64s) {
      next();
      ASSERT_EQ(tavbinw_f64(w, d), TAVBIN_OK);
    }
    for (uint64_t v : lebs) {
      next();
      ASSERT_EQ(tavbinw_leb128(w, v), TAVBIN_OK);
    }
    next();
    ASSERT_EQ(tavbinw_string_u32(w, text.data(), text.size()), TAVBIN_OK);
    next();
    ASSERT_EQ(tavbinw_bytes(w, "raw", 3), TAVBIN_OK);

    Reader r(w.bytes(), order(0));
    i = 0;
    auto again = [&] { tavbin_set_endian(r, order(i++)); };
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    int16_t i16 = 0;
    uint32_t u32 = 0;
    int32_t i32 = 0;
    uint64_t u64 = 0;
    int64_t i64 = 0;
    again();
    ASSERT_EQ(tavbin_u8(r, &u8), TAVBIN_OK);
    EXPECT_EQ(u8, 0xFE);
    again();
    ASSERT_EQ(tavbin_u16(r, &u16), TAVBIN_OK);
    EXPECT_EQ(u16, 0xBEEF);
    again();
    ASSERT_EQ(tavbin_i16(r, &i16), TAVBIN_OK);
    EXPECT_EQ(i16, -12345);
    again();
    ASSERT_EQ(tavbin_u32(r, &u32), TAVBIN_OK);
    EXPECT_EQ(u32, 0xDEADBEEF);
    again();
    ASSERT_EQ(tavbin_i32(r, &i32), TAVBIN_OK);
    EXPECT_EQ(i32, INT32_MIN);
    again();
    ASSERT_EQ(tavbin_u64(r, &u64), TAVBIN_OK);
    EXPECT_EQ(u64, 0x0123456789ABCDEFu);
    again();
    ASSERT_EQ(tavbin_i64(r, &i64), TAVBIN_OK);
    EXPECT_EQ(i64, -1);
    for (float f : f32s) {
      float got = 0;
      again();
      ASSERT_EQ(tavbin_f32(r, &got), TAVBIN_OK);
      EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(f));
    }
    for (double d : f64s) {
      double got = 0;
      again();
      ASSERT_EQ(tavbin_f64(r, &got), TAVBIN_OK);
      EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(d));
    }
    for (uint64_t v : lebs) {
      uint64_t got = 0;
      again();
      ASSERT_EQ(tavbin_leb128(r, &got, 10), TAVBIN_OK);
      EXPECT_EQ(got, v);
    }
    char s[8];
    uint64_t len = 0;
    again();
    ASSERT_EQ(tavbin_string_u32(r, s, sizeof s, text.size(), &len), TAVBIN_OK);
    EXPECT_EQ(std::string(s, len), text);
    char raw[3];
    again();
    ASSERT_EQ(tavbin_bytes(r, raw, 3), TAVBIN_OK);
    EXPECT_EQ(std::string(raw, 3), "raw");
    EXPECT_EQ(tavbin_remaining(r), 0u) << pattern;
  }
}

} // namespace
