// Status texts and the stateless loads and stores.
#include <gtest/gtest.h>

#include "support.h"

using namespace tavbin_test;

namespace {

TEST(StatusText, EveryCodeAndOutsiders) {
  const struct {
    tavbin_status status;
    const char *text;
  } cases[] = {{TAVBIN_OK, "ok"},
               {TAVBIN_EOF, "eof"},
               {TAVBIN_RANGE, "range"},
               {TAVBIN_INVALID_ARG, "invalid_arg"},
               {TAVBIN_TOO_LARGE, "too_large"},
               {TAVBIN_OOM, "oom"},
               {6, "unknown"},
               {-1, "unknown"},
               {INT32_MIN, "unknown"},
               {INT32_MAX, "unknown"}};
  for (const auto &c : cases)
    EXPECT_STREQ(tavbin_strerror(c.status), c.text) << c.status;
}

TEST(StatusText, PinnedValues) {
  static_assert(sizeof(tavbin_status) == 4 && static_cast<tavbin_status>(-1) < 0);
  static_assert(sizeof(tavbin_endian) == 4 && static_cast<tavbin_endian>(-1) > 0);
  static_assert(TAVBIN_OK == 0 && TAVBIN_EOF == 1 && TAVBIN_RANGE == 2 && TAVBIN_INVALID_ARG == 3 &&
                TAVBIN_TOO_LARGE == 4 && TAVBIN_OOM == 5);
  static_assert(TAVBIN_BIG_ENDIAN == 0 && TAVBIN_LITTLE_ENDIAN == 1);
}

// One load of each width through a common signature.
struct Load {
  const char *name;
  unsigned width;
  tavbin_status (*fn)(const void *, uint64_t, tavbin_endian, uint64_t *);
};

template <typename T, tavbin_status (*F)(const void *, uint64_t, tavbin_endian, T *)>
tavbin_status widen_load(const void *src, uint64_t avail, tavbin_endian e, uint64_t *out) {
  T v;
  const tavbin_status s = F(src, avail, e, out != nullptr ? &v : nullptr);
  if (s == TAVBIN_OK) *out = v;
  return s;
}

const Load loads[] = {{"u16", 2, widen_load<uint16_t, tavbin_load_u16>},
                      {"u32", 4, widen_load<uint32_t, tavbin_load_u32>},
                      {"u64", 8, widen_load<uint64_t, tavbin_load_u64>}};

TEST(Load, ValuesInBothOrders) {
  const Bytes b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  const struct {
    unsigned width;
    uint64_t big, little;
  } cases[] = {{2, 0x0102, 0x0201}, {4, 0x01020304, 0x04030201}, {8, 0x0102030405060788, 0x8807060504030201}};
  for (const auto &c : cases) {
    const Load &l = loads[c.width == 2 ? 0 : c.width == 4 ? 1 : 2];
    HeapBytes in(Bytes(b.begin(), b.begin() + c.width));
    uint64_t v = 0;
    ASSERT_EQ(l.fn(in.data(), c.width, TAVBIN_BIG_ENDIAN, &v), TAVBIN_OK) << l.name;
    EXPECT_EQ(v, c.big) << l.name;
    ASSERT_EQ(l.fn(in.data(), c.width, TAVBIN_LITTLE_ENDIAN, &v), TAVBIN_OK) << l.name;
    EXPECT_EQ(v, c.little) << l.name;
  }
}

TEST(Load, AnyAlignmentReadsOnlyTheWidth) {
  Bytes b(17);
  for (size_t i = 0; i < b.size(); ++i)
    b[i] = static_cast<uint8_t>(0xA0 + i);
  HeapBytes in(b);
  for (const Load &l : loads) {
    for (unsigned off = 0; off + l.width <= b.size(); ++off) {
      uint64_t expect = 0;
      for (unsigned i = 0; i < l.width; ++i)
        expect = expect << 8 | b[off + i];
      uint64_t v = 0;
      // avail far beyond the width: only the width is read.
      ASSERT_EQ(l.fn(in.data() + off, UINT64_MAX, TAVBIN_BIG_ENDIAN, &v), TAVBIN_OK);
      EXPECT_EQ(v, expect) << l.name << " at " << off;
    }
  }
}

TEST(Load, CheckOrder) {
  const uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const struct {
    const void *src;
    bool out;
    uint64_t avail; // in units of the width: 0 short by one, 1 exact
    tavbin_endian e;
    tavbin_status want;
  } cases[] = {
      {b, true, 1, TAVBIN_BIG_ENDIAN, TAVBIN_OK}, // control
      {nullptr, true, 0, 7, TAVBIN_INVALID_ARG},  // NULL wins over short and bad order
      {b, false, 0, 7, TAVBIN_INVALID_ARG},       // NULL out likewise
      {b, true, 0, 7, TAVBIN_EOF},                // short wins over bad order
      {b, true, 1, 2, TAVBIN_INVALID_ARG},        // bad order
      {b, true, 1, UINT32_MAX, TAVBIN_INVALID_ARG},
  };
  for (const Load &l : loads) {
    for (const auto &c : cases) {
      uint64_t v = 0xDEAD;
      const uint64_t avail = c.avail ? l.width : l.width - 1;
      EXPECT_EQ(l.fn(c.src, avail, c.e, c.out ? &v : nullptr), c.want) << l.name;
      if (c.want != TAVBIN_OK) {
        EXPECT_EQ(v, 0xDEADu) << l.name;
      }
    }
  }
}

template <typename T, tavbin_status (*F)(void *, uint64_t, tavbin_endian, T)>
tavbin_status narrow_store(void *dst, uint64_t cap, tavbin_endian e, uint64_t v) {
  return F(dst, cap, e, static_cast<T>(v));
}

struct Store {
  const char *name;
  unsigned width;
  tavbin_status (*fn)(void *, uint64_t, tavbin_endian, uint64_t);
};

const Store stores[] = {{"u16", 2, narrow_store<uint16_t, tavbin_store_u16>},
                        {"u32", 4, narrow_store<uint32_t, tavbin_store_u32>},
                        {"u64", 8, narrow_store<uint64_t, tavbin_store_u64>}};

TEST(Store, LayoutAndNothingBeyondTheWidth) {
  const struct {
    unsigned width;
    tavbin_endian e;
    uint64_t value;
    Bytes want;
  } cases[] = {
      {2, TAVBIN_BIG_ENDIAN, 0xABCD, {0xAB, 0xCD}},
      {2, TAVBIN_LITTLE_ENDIAN, 0xABCD, {0xCD, 0xAB}},
      {4, TAVBIN_BIG_ENDIAN, 0x01020304, {1, 2, 3, 4}},
      {4, TAVBIN_LITTLE_ENDIAN, 0x01020304, {4, 3, 2, 1}},
      {8, TAVBIN_BIG_ENDIAN, 0x0102030405060708, {1, 2, 3, 4, 5, 6, 7, 8}},
      {8, TAVBIN_LITTLE_ENDIAN, 0x0102030405060708, {8, 7, 6, 5, 4, 3, 2, 1}},
  };
  for (const auto &c : cases) {
    const Store &s = stores[c.width == 2 ? 0 : c.width == 4 ? 1 : 2];
    for (unsigned off = 0; off < 3; ++off) { // misaligned destinations too
      Bytes buf(16, 0xEE);
      ASSERT_EQ(s.fn(buf.data() + off, 100, c.e, c.value), TAVBIN_OK);
      Bytes want(16, 0xEE);
      std::copy(c.want.begin(), c.want.end(), want.begin() + off);
      EXPECT_EQ(hex(buf), hex(want)) << s.name;
    }
  }
}

TEST(Store, CheckOrderWritesNothingOnFailure) {
  const struct {
    bool dst;
    bool cap_short;
    tavbin_endian e;
    tavbin_status want;
  } cases[] = {
      {true, false, TAVBIN_LITTLE_ENDIAN, TAVBIN_OK}, // control
      {false, true, 9, TAVBIN_INVALID_ARG},
      {true, true, 9, TAVBIN_RANGE},
      {true, false, 2, TAVBIN_INVALID_ARG},
  };
  for (const Store &s : stores) {
    for (const auto &c : cases) {
      Bytes buf(8, 0xEE);
      const uint64_t cap = c.cap_short ? s.width - 1 : s.width;
      EXPECT_EQ(s.fn(c.dst ? buf.data() : nullptr, cap, c.e, 0), c.want) << s.name;
      if (c.want != TAVBIN_OK) {
        EXPECT_EQ(hex(buf), hex(Bytes(8, 0xEE))) << s.name;
      }
    }
  }
}

TEST(Store, ThenLoadGivesTheValueBack) {
  const uint64_t values[] = {0, 1, 0x80, 0xFFFF, 0x12345678, 0x8000000000000000u, UINT64_MAX};
  for (unsigned i = 0; i < 3; ++i) {
    const uint64_t mask = stores[i].width == 8 ? UINT64_MAX : (uint64_t{1} << (8 * stores[i].width)) - 1;
    for (tavbin_endian e : {TAVBIN_BIG_ENDIAN, TAVBIN_LITTLE_ENDIAN}) {
      for (uint64_t v : values) {
        uint8_t buf[8];
        uint64_t back = 0;
        ASSERT_EQ(stores[i].fn(buf, 8, e, v), TAVBIN_OK);
        ASSERT_EQ(loads[i].fn(buf, 8, e, &back), TAVBIN_OK);
        EXPECT_EQ(back, v & mask);
      }
    }
  }
}

} // namespace
