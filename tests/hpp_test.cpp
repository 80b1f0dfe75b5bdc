// The C++ wrapper: what it adds over the C interface (ownership, moves, results,
// error codes, the cursor, the reads and writes built on the C calls), not the
// decoding again. Built once as C++17 without exceptions and once as C++20.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "support.h"
#include "tavbin.hpp"

using tavbin_test::HeapBytes;

namespace {

static_assert(!std::is_copy_constructible_v<tavbin::reader> && !std::is_copy_assignable_v<tavbin::reader>);
static_assert(!std::is_copy_constructible_v<tavbin::writer> && !std::is_copy_assignable_v<tavbin::writer>);
static_assert(std::is_nothrow_move_constructible_v<tavbin::reader> &&
              std::is_nothrow_move_assignable_v<tavbin::reader>);
static_assert(std::is_nothrow_move_constructible_v<tavbin::writer> &&
              std::is_nothrow_move_assignable_v<tavbin::writer>);
static_assert(!std::is_convertible_v<tavbin::reader, bool> && std::is_constructible_v<bool, tavbin::reader>);
static_assert(!std::is_convertible_v<tavbin::result<int>, bool>);

std::vector<uint8_t> written(const tavbin::writer &w) {
  return std::vector<uint8_t>(w.bytes().begin(), w.bytes().end());
}

// Every call on an empty handle gets the C library's answer for NULL.
void expect_empty(tavbin::reader &r) {
  EXPECT_FALSE(r);
  EXPECT_EQ(r.get(), nullptr);
  EXPECT_EQ(r.u8().status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.view(0).status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.u24().status, TAVBIN_INVALID_ARG);
  char dst[4];
  for (const auto s :
       {r.string_u8(3), r.string_u16(dst), r.string_leb128(3), r.string_u32(3), r.cstring_at(0, 3)})
    EXPECT_EQ(s.status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.leb128_u32().status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.sleb128_i32().status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.array(static_cast<uint32_t *>(nullptr), 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(tavbin::lsb_bits(r).read(1).status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.origin(), 0u);
  EXPECT_EQ(r.size(), 0u);
  EXPECT_EQ(r.last_error(), TAVBIN_INVALID_ARG);
}
void expect_empty(tavbin::writer &w) {
  EXPECT_FALSE(w);
  EXPECT_EQ(w.get(), nullptr);
  EXPECT_EQ(w.u8(1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.i24(1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.array(static_cast<const double *>(nullptr), 0), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.size(), 0u);
  EXPECT_TRUE(w.bytes().empty());
  EXPECT_EQ(w.last_error(), TAVBIN_INVALID_ARG);
}

TEST(HppReader, OpenReportsRefusalAsEmpty) {
  const HeapBytes b({1, 2, 3});
  auto ok = tavbin::reader::open(b);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ok.size(), 3u);
  auto bad = tavbin::reader::open(b, static_cast<tavbin::endian>(2));
  expect_empty(bad);
  tavbin::reader none;
  expect_empty(none);
  // No bytes at all is a valid, empty input.
  auto nothing = tavbin::reader::open(tavbin::byte_view());
  EXPECT_TRUE(nothing);
  EXPECT_EQ(nothing.u8().status, TAVBIN_EOF);
}

TEST(HppReader, MovesTransferTheHandleAndTheInput) {
  const HeapBytes b({0xAB, 0xCD, 0xEF});
  auto a = tavbin::reader::open(b);
  tavbin_reader *handle = a.get();
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(a.u8());

  tavbin::reader moved(std::move(a));
  expect_empty(a); // NOLINT(bugprone-use-after-move): a moved-from reader is documented as empty
  EXPECT_EQ(moved.get(), handle);
  EXPECT_EQ(moved.tell(), 1u); // the cursor went with it
  const auto v = moved.view(2);
  ASSERT_TRUE(v);
  EXPECT_EQ(v.value.data(), b.data() + 1); // and so did the input, for view()

  // Assignment closes what the target held (the sanitizers and valgrind see a leak
  // or a double close otherwise) and empties the source.
  auto other = tavbin::reader::open(b);
  other = std::move(moved);
  EXPECT_EQ(other.get(), handle);
  expect_empty(moved); // NOLINT(bugprone-use-after-move)

  // Moving an empty reader in closes the old handle and leaves both empty.
  other = tavbin::reader();
  expect_empty(other);

  // The byte order goes with the handle, for what the wrapper reads itself.
  auto little = tavbin::reader::open(b, tavbin::endian::little);
  other = tavbin::reader::open(b);
  other = std::move(little);
  EXPECT_EQ(other.sub(2).u16().value, 0xCDABu);
  EXPECT_EQ(other.u8().value, 0xEFu);
}

TEST(HppReader, SelfMoveKeepsTheHandle) {
  const HeapBytes b({1, 2});
  auto r = tavbin::reader::open(b);
  tavbin_reader *handle = r.get();
  auto &alias = r; // through a reference, so the compiler does not warn about the self-move
  r = std::move(alias);
  EXPECT_EQ(r.get(), handle);
  EXPECT_EQ(r.u16().value, 0x0102);
}

TEST(HppReader, ReleaseHandsOwnershipBack) {
  const HeapBytes b({1});
  auto r = tavbin::reader::open(b);
  tavbin_reader *raw = r.release();
  ASSERT_NE(raw, nullptr);
  expect_empty(r);
  uint8_t v = 0;
  EXPECT_EQ(tavbin_u8(raw, &v), TAVBIN_OK);
  EXPECT_EQ(v, 1);
  tavbin_close(raw);
}

TEST(HppReader, ResultsCarryTheStatusAndOnlyAValueOnSuccess) {
  const HeapBytes b({0x12, 0x34, 0x56, 0x78, 0x9A});
  auto r = tavbin::reader::open(b, tavbin::endian::little);
  const auto ok = r.u32();
  EXPECT_TRUE(ok);
  EXPECT_EQ(ok.status, TAVBIN_OK);
  EXPECT_EQ(ok.value, 0x78563412u);
  EXPECT_FALSE(ok.error());

  const auto eof = r.u16();
  EXPECT_FALSE(eof);
  EXPECT_EQ(eof.status, TAVBIN_EOF);
  EXPECT_EQ(eof.value, 0u);
  EXPECT_EQ(eof.value_or(7), 7u);
  EXPECT_EQ(eof.error(), tavbin::errc::eof);

  const struct {
    tavbin::result<uint64_t> got;
    tavbin_status want;
  } cases[] = {
      {r.bits(0), TAVBIN_INVALID_ARG}, // recorded by the handle, returned by the wrapper
      {r.leb128(0), TAVBIN_INVALID_ARG},
      {r.u64_at(2), TAVBIN_RANGE},
      {r.bits(8), TAVBIN_OK},
  };
  for (const auto &c : cases)
    EXPECT_EQ(c.got.status, c.want);
  const auto at = r.u32_at(1); // an absolute read carries its value too
  EXPECT_EQ(at.status, TAVBIN_OK);
  EXPECT_EQ(at.value, 0x9A785634u);
  EXPECT_EQ(r.last_error(), TAVBIN_OK);
  EXPECT_EQ(r.u8().status, TAVBIN_EOF);
  EXPECT_EQ(r.last_error_code(), tavbin::errc::eof);
}

// What a call does with its defaults: ten bytes for a LEB128 number, a
// big-endian writer.
TEST(HppReader, DefaultsTakeTenBytesAndBigEndian) {
  const HeapBytes b({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  for (bool through_cursor : {false, true}) {
    auto r = tavbin::reader::open(b);
    tavbin::cursor c(r);
    EXPECT_EQ(through_cursor ? c.leb128() : r.leb128().value, UINT64_MAX);
    EXPECT_EQ(r.tell(), 10u);
    ASSERT_EQ(r.seek(0), TAVBIN_OK);
    EXPECT_EQ(through_cursor ? c.sleb128() : r.sleb128().value, 0); // all ten read, the tenth refused
    EXPECT_EQ(r.last_error(), TAVBIN_INVALID_ARG);
  }
  auto w = tavbin::writer::open();
  ASSERT_EQ(w.u16(0x0102), TAVBIN_OK);
  ASSERT_EQ(w.u24(0x030405), TAVBIN_OK);
  ASSERT_EQ(w.array(std::array<uint16_t, 1>{0x0607}.data(), 1), TAVBIN_OK);
  EXPECT_EQ(written(w), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(HppReader, ViewAndStringPointWhereTheyShould) {
  // view() after a partly read byte: the skip drops the rest of the byte first.
  const HeapBytes b({0xF0, 'a', 'b', 0, 0, 0, 2, 'h', 'i'});
  auto r = tavbin::reader::open(b);
  ASSERT_TRUE(r.bits(4));
  EXPECT_EQ(r.peek_u8().value, 'a'); // past the partly read byte, which stays partly read
  EXPECT_EQ(r.tell(), 0u);
  const auto v = r.view(2);
  ASSERT_TRUE(v);
  EXPECT_EQ(v.value.str(), "ab");
  EXPECT_EQ(v.value.data(), b.data() + 1);
  char name[3];
  const auto s = r.string_u32(name);
  ASSERT_TRUE(s);
  EXPECT_EQ(s.value, "hi");
  EXPECT_EQ(s.value.data(), name);
  EXPECT_EQ(r.view(1).status, TAVBIN_EOF);
  EXPECT_EQ(r.view(1).value.data(), nullptr);

  char tiny[2]; // "hi" needs three with its NUL
  ASSERT_EQ(r.seek(3), TAVBIN_OK);
  EXPECT_EQ(r.string_u32(tiny).status, TAVBIN_TOO_LARGE);
  EXPECT_EQ(r.tell(), 3u);
}

TEST(HppByteView, TakesAnyByteRange) {
  const std::string s = "xyz";
  const std::vector<uint8_t> v = {1, 2};
  const std::array<char, 4> a = {'a', 'b', 'c', 'd'};
  const struct {
    tavbin::byte_view view;
    const void *data;
    size_t size;
  } cases[] = {
      {std::string_view(s), s.data(), 3}, {s, s.data(), 3}, {v, v.data(), 2}, {a, a.data(), 4},
      {tavbin::byte_view(), nullptr, 0},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(static_cast<const void *>(c.view.data()), c.data);
    EXPECT_EQ(c.view.size(), c.size);
  }
  static_assert(!std::is_constructible_v<tavbin::byte_view, std::vector<uint32_t>>,
                "wider elements are refused");
#if defined(__cpp_lib_span)
  const std::span<const uint8_t> sp = tavbin::byte_view(v);
  EXPECT_EQ(sp.data(), v.data());
  EXPECT_EQ(sp.size(), 2u);
  EXPECT_EQ(tavbin::byte_view(std::span<const uint8_t>(v)).data(), v.data());
#endif
}

TEST(HppWriter, OwnershipAndMoves) {
  auto w = tavbin::writer::open(tavbin::endian::little, 4);
  ASSERT_TRUE(w);
  EXPECT_EQ(w.u16(0x0201), TAVBIN_OK);
  tavbin_writer *handle = w.get();

  tavbin::writer moved(std::move(w));
  expect_empty(w); // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.get(), handle);
  EXPECT_EQ(std::vector<uint8_t>(moved.bytes().begin(), moved.bytes().end()), (std::vector<uint8_t>{1, 2}));

  auto other = tavbin::writer::open();
  other = std::move(moved);
  EXPECT_EQ(other.get(), handle);
  expect_empty(moved);                              // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(other.patch_u16(0, 0x0A0B), TAVBIN_OK); // little-endian still
  EXPECT_EQ(written(other), (std::vector<uint8_t>{0x0B, 0x0A}));
  auto &alias = other;
  other = std::move(alias);
  EXPECT_EQ(other.get(), handle);

  auto bad = tavbin::writer::open(static_cast<tavbin::endian>(9));
  expect_empty(bad);

  tavbin_writer *raw = other.release();
  expect_empty(other);
  EXPECT_EQ(tavbinw_len(raw), 2u);
  tavbinw_close(raw);
}

TEST(HppWriter, WhatItWritesReadsBack) {
  auto w = tavbin::writer::open(tavbin::endian::big);
  ASSERT_TRUE(w);
  const std::vector<uint8_t> raw = {0xDE, 0xAD};
  const tavbin_status st[] = {w.i8(-2), w.append(raw), w.string_u32("tav"), w.leb128(300), w.f64(-0.5)};
  for (tavbin_status s : st)
    EXPECT_EQ(s, TAVBIN_OK);
  EXPECT_EQ(w.size(), w.bytes().size());
  EXPECT_EQ(w.str().size(), w.size());
  EXPECT_EQ(static_cast<const void *>(w.str().data()), w.bytes().data());

  auto r = tavbin::reader::open(w.bytes());
  EXPECT_EQ(r.i8().value, -2);
  EXPECT_EQ(r.u16().value, 0xDEADu);
  char s[8];
  EXPECT_EQ(r.string_u32(s).value, "tav");
  EXPECT_EQ(r.leb128().value, 300u);
  EXPECT_EQ(r.f64().value, -0.5);
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(HppErrorCode, CategoryAndMessages) {
  const struct {
    tavbin_status status;
    tavbin::errc e;
    const char *text;
  } cases[] = {
      {TAVBIN_OK, tavbin::errc::ok, "ok"},
      {TAVBIN_EOF, tavbin::errc::eof, "eof"},
      {TAVBIN_RANGE, tavbin::errc::range, "range"},
      {TAVBIN_INVALID_ARG, tavbin::errc::invalid_arg, "invalid_arg"},
      {TAVBIN_TOO_LARGE, tavbin::errc::too_large, "too_large"},
      {TAVBIN_OOM, tavbin::errc::oom, "oom"},
      {-1, static_cast<tavbin::errc>(-1), "unknown"},
      {6, static_cast<tavbin::errc>(6), "unknown"},
  };
  for (const auto &c : cases) {
    const std::error_code from_status = tavbin::make_error_code(c.status);
    const std::error_code from_enum = c.e; // implicit: errc is an error code enum
    EXPECT_EQ(from_status, from_enum);
    EXPECT_EQ(from_status.value(), c.status);
    EXPECT_EQ(&from_status.category(), &tavbin::category());
    EXPECT_STREQ(from_status.category().name(), "tavbin");
    EXPECT_EQ(from_status.message(), c.text);
    EXPECT_EQ(static_cast<bool>(from_status), c.status != TAVBIN_OK);
  }
}

TEST(HppErrorCode, PortableConditions) {
  const struct {
    tavbin::errc e;
    std::errc cond; // the std::errc it must equal, or {} for none
  } cases[] = {
      {tavbin::errc::invalid_arg, std::errc::invalid_argument},
      {tavbin::errc::too_large, std::errc::value_too_large},
      {tavbin::errc::oom, std::errc::not_enough_memory},
      {tavbin::errc::eof, std::errc{}},
      {tavbin::errc::range, std::errc{}},
  };
  const std::errc all[] = {std::errc::invalid_argument, std::errc::value_too_large,
                           std::errc::not_enough_memory, std::errc::result_out_of_range, std::errc::io_error};
  for (const auto &c : cases) {
    const std::error_code ec = c.e;
    for (std::errc other : all)
      EXPECT_EQ(ec == other, other == c.cond) << ec.message();
    // A status is never confused with the same number in another category.
    EXPECT_NE(ec, std::error_code(static_cast<int>(c.e), std::generic_category()));
  }
}

} // namespace

namespace {

using namespace std::string_view_literals;

// ---------------------------------------------------------------------------
// Cursor
// ---------------------------------------------------------------------------

// After a failure, each of these would succeed, move the reader or record a
// status if it reached the library; none may.
void expect_stopped(tavbin::cursor &c, tavbin::reader &r, const char *what) {
  const tavbin_status status = c.status();
  const uint64_t offset = c.offset(), tell = r.tell();
  const tavbin_status last = r.last_error();
  char dst[2] = {'x', 'x'};
  const uint64_t got = c.u8() + c.peek_u8() + c.u8_at(0) + c.bits(3) + c.leb128() + c.u16_at(0);
  c.skip(0);
  c.seek(0);
  uint32_t values[1] = {9};
  c.array(values, 1);
  EXPECT_EQ(values[0], 9u) << what;
  EXPECT_EQ(got + c.u24() + static_cast<uint64_t>(c.i24()), 0u) << what;
  EXPECT_EQ(c.sleb128(), 0) << what;
  EXPECT_EQ(c.leb128_u32() + static_cast<uint32_t>(c.sleb128_i32()), 0u) << what;
  EXPECT_TRUE(c.bytes(dst, 1).empty() && c.view(0).empty() && c.cstring(9).empty()) << what;
  EXPECT_TRUE(c.cstring_at(0, 9).empty() && c.string_u8(dst).empty() && c.string_u16(9).empty() &&
              c.string_leb128(dst, 2, 1).empty() && c.string_u32(9).empty())
      << what;
  EXPECT_FALSE(c.sub(0)) << what;
  EXPECT_EQ(dst[0], 'x') << what;
  EXPECT_EQ(r.tell(), tell) << what;
  EXPECT_EQ(r.last_error(), last) << what;
  EXPECT_EQ(c.status(), status) << what;
  EXPECT_EQ(c.offset(), offset) << what;
}

TEST(HppCursor, KeepsTheFirstFailureWhereItHappenedAndCallsNothingAfter) {
  using Read = void (*)(tavbin::cursor &);
  const struct {
    const char *what;
    Read before; // succeeds
    Read fails;
    tavbin_status status;
    uint64_t offset, tell_after;
  } cases[] = {
      {"control", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { c.u16(); }, TAVBIN_OK, 3, 3},
      {"eof", [](tavbin::cursor &c) { c.u16(); }, [](tavbin::cursor &c) { c.u32(); }, TAVBIN_EOF, 2, 2},
      // A partly read byte counts as not read, and the failing read skips it.
      {"eof after bits", [](tavbin::cursor &c) { c.bits(4); }, [](tavbin::cursor &c) { c.u32(); }, TAVBIN_EOF,
       0, 1},
      {"range", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { c.u16_at(3); }, TAVBIN_RANGE, 1,
       1},
      {"bad bit count", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { c.bits(65); },
       TAVBIN_INVALID_ARG, 1, 1},
      {"too large", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { c.cstring(1); },
       TAVBIN_TOO_LARGE, 1, 1},
      {"sub", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { (void)c.sub(4); }, TAVBIN_EOF, 1, 1},
      {"string", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { c.string_u8(1); },
       TAVBIN_TOO_LARGE, 1, 1},
      // A failed string read moves nothing, not even past a partly read byte.
      {"string after bits", [](tavbin::cursor &c) { c.bits(4); },
       [](tavbin::cursor &c) { c.string_u16(9999); }, TAVBIN_EOF, 0, 0},
      {"cstring_at", [](tavbin::cursor &c) { c.u8(); }, [](tavbin::cursor &c) { c.cstring_at(5, 1); },
       TAVBIN_RANGE, 1, 1},
      {"peek", [](tavbin::cursor &c) { c.skip(3); }, [](tavbin::cursor &c) { c.peek_u16(); }, TAVBIN_EOF, 3,
       3},
      {"seek", [](tavbin::cursor &c) { c.seek(4); }, [](tavbin::cursor &c) { c.seek(5); }, TAVBIN_RANGE, 4,
       4},
      {"array", [](tavbin::cursor &c) { c.u8(); },
       [](tavbin::cursor &c) {
         uint16_t v[2] = {7, 7};
         c.array(v, 2);
         EXPECT_EQ(v[0], 7); // all or nothing
       },
       TAVBIN_EOF, 1, 1},
  };
  for (const auto &k : cases) {
    const HeapBytes b({0x10, 0x20, 0x30, 0x00});
    auto r = tavbin::reader::open(b);
    tavbin::cursor c(r);
    k.before(c);
    ASSERT_TRUE(c) << k.what;
    k.fails(c);
    EXPECT_EQ(c.status(), k.status) << k.what;
    EXPECT_EQ(c.error(), tavbin::make_error_code(k.status)) << k.what;
    EXPECT_EQ(c.offset(), k.offset) << k.what;
    EXPECT_EQ(r.tell(), k.tell_after) << k.what;
    if (!c) expect_stopped(c, r, k.what);
  }
  tavbin::reader none;
  tavbin::cursor c(none);
  EXPECT_EQ(c.u8(), 0);
  EXPECT_EQ(c.status(), TAVBIN_INVALID_ARG);
}

// The reads whose value is not simply the reader's: views into the input or
// into the caller's buffer, and readers.
TEST(HppCursor, ViewsPointWhereTheyShould) {
  const HeapBytes b({0xFF, 0x81, 0x7F, 'n', 0, 0, 0, 0, 2, 's', 't', 1, 2, 3, 4});
  auto r = tavbin::reader::open(b);
  tavbin::cursor c(r);
  EXPECT_EQ(c.bits(4), 0xFu);
  EXPECT_EQ(c.sleb128(), -127);
  const std::string_view name = c.cstring(4);
  EXPECT_EQ(name, "n");
  EXPECT_EQ(static_cast<const void *>(name.data()), b.data() + 3);
  char s[3];
  const std::string_view str = c.string_u32(s);
  EXPECT_EQ(str, "st");
  EXPECT_EQ(str.data(), s);
  uint8_t one[1];
  EXPECT_EQ(c.bytes(one, 1).data(), one);
  EXPECT_EQ(one[0], 1);
  EXPECT_EQ(c.view(1).data(), b.data() + 12);
  EXPECT_EQ(c.tell(), 13u);
  EXPECT_EQ(c.remaining(), 2u);
  auto rest = c.sub(2);
  EXPECT_EQ(rest.origin(), 13u);
  EXPECT_EQ(rest.u16().value, 0x0304);
  EXPECT_TRUE(c) << c.error().message();
  EXPECT_EQ(r.remaining(), 0u);
}

// ---------------------------------------------------------------------------
// Signed LEB128 and zigzag
// ---------------------------------------------------------------------------

TEST(HppSleb128, ShortestFormsBothWays) {
  const struct {
    int64_t value;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {0, {0x00}},
      {2, {0x02}},
      {-2, {0x7E}},
      {63, {0x3F}},
      {-64, {0x40}},
      {64, {0xC0, 0x00}},
      {-65, {0xBF, 0x7F}},
      {127, {0xFF, 0x00}},
      {-127, {0x81, 0x7F}},
      {128, {0x80, 0x01}},
      {-128, {0x80, 0x7F}},
      {129, {0x81, 0x01}},
      {-129, {0xFF, 0x7E}},
      {-1, {0x7F}},
      {INT64_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
      {INT64_MIN, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7F}},
  };
  for (const auto &c : cases) {
    auto w = tavbin::writer::open();
    ASSERT_EQ(w.sleb128(c.value), TAVBIN_OK);
    EXPECT_EQ(written(w), c.bytes) << c.value;
    const HeapBytes b(w.bytes().data(), w.bytes().size());
    auto r = tavbin::reader::open(b);
    const auto got = r.sleb128();
    EXPECT_EQ(got.status, TAVBIN_OK) << c.value;
    EXPECT_EQ(got.value, c.value);
    EXPECT_EQ(r.remaining(), 0u) << c.value;
  }
}

TEST(HppSleb128, RoundTripsAroundEveryPowerOfTwo) {
  for (int k = 0; k < 64; ++k) {
    const uint64_t p = uint64_t{1} << k;
    for (uint64_t u : {p - 1, p, p + 1, 0 - (p - 1), 0 - p, 0 - (p + 1)}) {
      const int64_t v = tavbin::zigzag_decode(tavbin::zigzag_encode(static_cast<int64_t>(u)));
      EXPECT_EQ(static_cast<uint64_t>(v), u);
      size_t shortest = 1; // the fewest 7-bit groups that hold v with its sign
      while (shortest < 10 &&
             (v < -(int64_t{1} << (7 * shortest - 1)) || v >= (int64_t{1} << (7 * shortest - 1))))
        ++shortest;
      auto w = tavbin::writer::open(tavbin::endian::little);
      ASSERT_EQ(w.sleb128(v), TAVBIN_OK);
      EXPECT_EQ(w.size(), shortest) << v;
      const HeapBytes b(w.bytes().data(), w.bytes().size());
      auto r = tavbin::reader::open(b);
      EXPECT_EQ(r.sleb128().value, v);
      EXPECT_EQ(r.remaining(), 0u) << v;
    }
  }
}

TEST(HppSleb128, RefusalsPutTheCursorBack) {
  const struct {
    std::vector<uint8_t> bytes; // after one byte the test reads first
    uint64_t max_bytes;
    tavbin_status status;
    int64_t value;
  } cases[] = {
      {{0xFF, 0x00}, 10, TAVBIN_OK, 127}, // control
      {{0x80, 0x80, 0x00}, 10, TAVBIN_OK, 0},
      {{0xFF, 0xFF, 0x7F}, 10, TAVBIN_OK, -1},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 10, TAVBIN_OK, -1},
      {{0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, 16, TAVBIN_OK, 1},
      {{0x7F}, 0, TAVBIN_INVALID_ARG, 0},
      {{0x80}, 10, TAVBIN_EOF, 0},
      {{0x80, 0x80, 0x01}, 2, TAVBIN_EOF, 0},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 9, TAVBIN_EOF, 0},
      // A tenth byte that does not repeat the sign: outside int64, never truncated.
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 10, TAVBIN_INVALID_ARG, 0},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7E}, 10, TAVBIN_INVALID_ARG, 0},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x40}, 10, TAVBIN_INVALID_ARG, 0},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 16, TAVBIN_INVALID_ARG, 0},
  };
  for (const auto &c : cases) {
    std::vector<uint8_t> input = {0xEA}; // bit 6 set: a sign, were it taken for the number's last byte
    input.insert(input.end(), c.bytes.begin(), c.bytes.end());
    const HeapBytes b(input.data(), input.size());
    for (bool partial : {false, true}) { // after a whole byte, or after 3 bits of it
      auto r = tavbin::reader::open(b);
      ASSERT_EQ(partial ? r.bits(3).status : r.u8().status, TAVBIN_OK);
      const auto got = r.sleb128(c.max_bytes);
      EXPECT_EQ(got.status, c.status) << c.bytes.size() << " bytes, max " << c.max_bytes;
      EXPECT_EQ(got.value, c.value);
      EXPECT_EQ(r.last_error(), c.status);
      if (c.status == TAVBIN_OK) {
        EXPECT_EQ(r.tell(), 1 + c.bytes.size());
      } else if (!(partial && c.max_bytes == 0)) {
        // Back at the number's first byte; only max_bytes 0 leaves the partial byte.
        EXPECT_EQ(r.u8().value, c.bytes[0]);
      }
    }
  }
}

static_assert(tavbin::zigzag_encode(0) == 0 && tavbin::zigzag_encode(-1) == 1 &&
              tavbin::zigzag_encode(1) == 2 && tavbin::zigzag_encode(-2) == 3 &&
              tavbin::zigzag_encode(INT64_MAX) == UINT64_MAX - 1 &&
              tavbin::zigzag_encode(INT64_MIN) == UINT64_MAX);
static_assert(tavbin::zigzag_decode(3) == -2 && tavbin::zigzag_decode(UINT64_MAX) == INT64_MIN &&
              tavbin::zigzag_decode(UINT64_MAX - 1) == INT64_MAX);

// ---------------------------------------------------------------------------
// C strings and sub-readers
// ---------------------------------------------------------------------------

TEST(HppCstring, LooksAtMostMaxLenPlusOneBytes) {
  const struct {
    std::string_view input;
    uint32_t bits_first;
    uint64_t max_len;
    tavbin_status status;
    std::string_view value;
    uint64_t tell;
  } cases[] = {
      {"ab\0c"sv, 0, 2, TAVBIN_OK, "ab", 3}, // control: the NUL is the (max_len + 1)-th byte
      {"\0"sv, 0, 0, TAVBIN_OK, "", 1},
      {"abc\0"sv, 0, UINT64_MAX, TAVBIN_OK, "abc", 4},
      {"\xFFhi\0"sv, 3, 2, TAVBIN_OK, "hi", 4},
      {"ab\0"sv, 0, 1, TAVBIN_TOO_LARGE, "", 0},
      {"ab"sv, 0, 1, TAVBIN_TOO_LARGE, "", 0},
      {"a"sv, 0, 0, TAVBIN_TOO_LARGE, "", 0},
      {"ab"sv, 0, 2, TAVBIN_EOF, "", 0},
      {"abc"sv, 0, UINT64_MAX, TAVBIN_EOF, "", 0},
      {""sv, 0, 0, TAVBIN_EOF, "", 0},
      {"\xFFhi"sv, 3, 9, TAVBIN_EOF, "", 1}, // the partly read byte stays skipped
  };
  for (const auto &c : cases) {
    const HeapBytes b(c.input.data(), c.input.size());
    auto r = tavbin::reader::open(b);
    if (c.bits_first != 0) {
      ASSERT_TRUE(r.bits(c.bits_first));
    }
    ASSERT_EQ(r.u8_at(UINT64_MAX).status, TAVBIN_RANGE); // a status to see overwritten, or not
    const auto got = r.cstring(c.max_len);
    EXPECT_EQ(got.status, c.status) << c.input;
    EXPECT_EQ(got.value, c.value) << c.input;
    EXPECT_EQ(r.tell(), c.tell) << c.input;
    EXPECT_EQ(r.last_error(), c.status == TAVBIN_TOO_LARGE ? TAVBIN_RANGE : c.status) << c.input;
    if (got) {
      EXPECT_EQ(reinterpret_cast<const uint8_t *>(got.value.data()), b.data() + c.tell - c.value.size() - 1);
    }
  }
  tavbin::reader none;
  EXPECT_EQ(none.cstring(5).status, TAVBIN_INVALID_ARG);
}

TEST(HppSub, ConfinesAReaderToItsBytes) {
  const HeapBytes b({0xF0, 0x01, 0x02, 0x03, 'h', 'i', 0, 0x09});
  auto r = tavbin::reader::open(b, tavbin::endian::big);
  ASSERT_EQ(r.set_endian(tavbin::endian::little), TAVBIN_OK);
  ASSERT_EQ(r.set_endian(static_cast<tavbin::endian>(7)), TAVBIN_INVALID_ARG); // refused: the order stays
  ASSERT_TRUE(r.bits(4));
  auto part = r.sub(6); // the partly read first byte is skipped
  ASSERT_TRUE(part);
  EXPECT_EQ(r.tell(), 7u);
  EXPECT_EQ(r.last_error(), TAVBIN_OK);
  EXPECT_EQ(part.size(), 6u);
  EXPECT_EQ(part.u16().value, 0x0201); // little-endian, as the parent
  auto inner = part.sub(4);
  ASSERT_TRUE(inner);
  EXPECT_EQ(r.origin(), 0u);
  EXPECT_EQ(part.origin(), 1u);
  EXPECT_EQ(inner.origin(), 3u); // in the outermost input
  EXPECT_EQ(inner.u8().value, 0x03);
  const auto name = inner.cstring(8);
  ASSERT_TRUE(name);
  EXPECT_EQ(reinterpret_cast<const uint8_t *>(name.value.data()), b.data() + 4); // still the original input
  EXPECT_EQ(inner.u8().status, TAVBIN_EOF); // its own end, although the input goes on

  // Too few bytes: an empty reader, TAVBIN_EOF recorded, nothing moved.
  EXPECT_FALSE(r.sub(2));
  EXPECT_EQ(r.last_error(), TAVBIN_EOF);
  EXPECT_EQ(r.tell(), 7u);
  auto rest = r.sub(1);
  EXPECT_EQ(rest.origin(), 7u);
  EXPECT_EQ(rest.u8().value, 0x09);
  auto nothing = r.sub(0); // at the very end: empty input, but a reader
  EXPECT_TRUE(nothing);
  EXPECT_EQ(nothing.size(), 0u);
  tavbin::reader none;
  EXPECT_FALSE(none.sub(0));
}

// ---------------------------------------------------------------------------
// Writer: back-patching and the first failure
// ---------------------------------------------------------------------------

TEST(HppWriter, PatchesInItsByteOrderInsideTheWrittenBytes) {
  auto w = tavbin::writer::open(tavbin::endian::big);
  ASSERT_EQ(w.set_endian(tavbin::endian::little), TAVBIN_OK);
  ASSERT_EQ(w.set_endian(static_cast<tavbin::endian>(5)), TAVBIN_INVALID_ARG);
  ASSERT_EQ(w.append(std::vector<uint8_t>(12, 0)), TAVBIN_OK);
  const struct {
    uint64_t offset;
    int width;
    tavbin_status status;
  } cases[] = {
      {0, 2, TAVBIN_OK},
      {10, 2, TAVBIN_OK},
      {8, 4, TAVBIN_OK},
      {4, 8, TAVBIN_OK},
      {11, 2, TAVBIN_RANGE},
      {12, 2, TAVBIN_RANGE},
      {9, 4, TAVBIN_RANGE},
      {5, 8, TAVBIN_RANGE},
      {UINT64_MAX, 2, TAVBIN_RANGE},
      {UINT64_MAX - 3, 4, TAVBIN_RANGE},
      {UINT64_MAX - 6, 8, TAVBIN_RANGE},
  };
  for (const auto &c : cases) {
    const std::string before(w.str());
    const tavbin_status s = c.width == 2   ? w.patch_u16(c.offset, 0x0102)
                            : c.width == 4 ? w.patch_u32(c.offset, 0x01020304)
                                           : w.patch_u64(c.offset, 0x0102030405060708);
    EXPECT_EQ(s, c.status) << c.offset << " " << c.width;
    if (s != TAVBIN_OK) {
      EXPECT_EQ(w.str(), before) << c.offset;
    }
  }
  EXPECT_EQ(written(w), (std::vector<uint8_t>{2, 1, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(w.size(), 12u);
  EXPECT_EQ(w.last_error(), TAVBIN_OK); // patches record nothing in the handle
  EXPECT_EQ(w.first_error(), TAVBIN_RANGE);
  tavbin::writer none;
  EXPECT_EQ(none.patch_u32(0, 1), TAVBIN_INVALID_ARG);
}

TEST(HppWriter, FirstErrorKeepsTheFirstFailure) {
  auto w = tavbin::writer::open(tavbin::endian::big, 16);
  EXPECT_EQ(w.first_error(), TAVBIN_OK);
  ASSERT_EQ(w.u32(7), TAVBIN_OK);
  // Bytes beyond the written ones are refused (TAVBIN_INVALID_ARG, recorded).
  EXPECT_EQ(w.append(tavbin::byte_view(w.bytes().data(), 5)), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.patch_u16(9, 1), TAVBIN_RANGE);
  EXPECT_EQ(w.sleb128(-1), TAVBIN_OK);
  EXPECT_EQ(w.last_error(), TAVBIN_OK);
  EXPECT_EQ(w.first_error(), TAVBIN_INVALID_ARG);

  tavbin::writer moved(std::move(w));
  EXPECT_EQ(moved.first_error(), TAVBIN_INVALID_ARG); // it travels with the handle
  EXPECT_EQ(w.first_error(), TAVBIN_INVALID_ARG);     // NOLINT(bugprone-use-after-move): empty
  auto assigned = tavbin::writer::open();
  assigned = std::move(moved);
  EXPECT_EQ(assigned.first_error(), TAVBIN_INVALID_ARG); // by assignment too
  EXPECT_EQ(assigned.u24(1u << 24), TAVBIN_RANGE);       // refused, not recorded
  EXPECT_EQ(assigned.last_error(), TAVBIN_OK);
  tavbinw_close(assigned.release());
  auto fresh = tavbin::writer::open();
  EXPECT_EQ(fresh.first_error(), TAVBIN_OK);
  EXPECT_EQ(tavbin::writer::open(static_cast<tavbin::endian>(3)).first_error(), TAVBIN_INVALID_ARG);
}

} // namespace

namespace {

// ---------------------------------------------------------------------------
// Least-significant-bit-first fields, bulk values (the shared vectors hold the
// values; these are what the vectors cannot say)
// ---------------------------------------------------------------------------

TEST(HppLsbBits, MovesTheReaderOnceWhenItsScopeEnds) {
  const HeapBytes b({0x0F, 0xF0, 0xAA});
  auto r = tavbin::reader::open(b);
  ASSERT_EQ(r.u8_at(9).status, TAVBIN_RANGE); // a status for done() to overwrite
  {
    tavbin::lsb_bits bits(r);
    EXPECT_EQ(bits.read(12).value, 0x00Fu);
    EXPECT_EQ(bits.offset(), 1u);
    EXPECT_EQ(r.tell(), 0u);
    EXPECT_EQ(r.last_error(), TAVBIN_RANGE); // reads record nothing
  }
  EXPECT_EQ(r.tell(), 2u);
  EXPECT_EQ(r.last_error(), TAVBIN_OK);
  EXPECT_EQ(r.u8().value, 0xAA);
}

TEST(HppArray, RefusesWhatItCannotHold) {
  const HeapBytes b({1, 2, 3, 4});
  auto r = tavbin::reader::open(b);
  EXPECT_EQ(r.array(static_cast<uint16_t *>(nullptr), 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.array(static_cast<uint16_t *>(nullptr), 0), TAVBIN_OK);
  EXPECT_EQ(r.tell(), 0u);
  auto w = tavbin::writer::open();
  EXPECT_EQ(w.array(static_cast<const uint32_t *>(nullptr), 1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.first_error(), TAVBIN_INVALID_ARG);
  const uint64_t one = 1;
  EXPECT_EQ(w.array(&one, SIZE_MAX), TAVBIN_OOM); // its byte count does not fit: nothing read or written
  EXPECT_EQ(w.last_error(), TAVBIN_OOM);
  EXPECT_EQ(w.size(), 0u);
}

} // namespace

namespace {

// ---------------------------------------------------------------------------
// Strings after a length, 32-bit LEB128, C strings at an offset (the shared
// vectors hold the values and positions; these are what they cannot say)
// ---------------------------------------------------------------------------

using StringRead = tavbin::result<std::string_view> (*)(tavbin::reader &, char *, size_t, uint64_t);

// The copying forms: the buffer's size bounds the length as max_len does, and
// a failure leaves the buffer alone, as tavbin_string_u32 does.
TEST(HppStrings, CopiesAreBoundByTheBuffer) {
  const struct {
    const char *what;
    StringRead copy;
    std::vector<uint8_t> input; // "hi" after its length
  } kinds[] = {
      {"u8",
       [](tavbin::reader &r, char *d, size_t cap, uint64_t max) { return r.string_u8(d, cap, max); },
       {2, 'h', 'i'}},
      {"u16",
       [](tavbin::reader &r, char *d, size_t cap, uint64_t max) { return r.string_u16(d, cap, max); },
       {0, 2, 'h', 'i'}},
      {"leb128",
       [](tavbin::reader &r, char *d, size_t cap, uint64_t max) { return r.string_leb128(d, cap, max); },
       {0x82, 0x00, 'h', 'i'}},
      {"u32",
       [](tavbin::reader &r, char *d, size_t cap, uint64_t max) { return r.string_u32(d, cap, max); },
       {0, 0, 0, 2, 'h', 'i'}},
  };
  const struct {
    size_t cap;
    uint64_t max_len;
    tavbin_status status;
  } cases[] = {
      {3, 2, TAVBIN_OK},                                    // control: room for the NUL exactly
      {8, UINT64_MAX, TAVBIN_OK}, {2, 8, TAVBIN_TOO_LARGE}, // no room for the NUL
      {0, 8, TAVBIN_TOO_LARGE},   {8, 1, TAVBIN_TOO_LARGE},
  };
  for (const auto &k : kinds) {
    const HeapBytes b(k.input.data(), k.input.size());
    for (const auto &c : cases) {
      auto r = tavbin::reader::open(b);
      char dst[8];
      std::memset(dst, 'x', sizeof dst);
      const auto got = k.copy(r, dst, c.cap, c.max_len);
      EXPECT_EQ(got.status, c.status) << k.what << " cap " << c.cap;
      if (got) {
        EXPECT_EQ(got.value, "hi");
        EXPECT_EQ(got.value.data(), dst);
        EXPECT_EQ(dst[2], '\0');
        EXPECT_EQ(r.tell(), b.size());
      } else {
        EXPECT_EQ(std::string_view(dst, sizeof dst), "xxxxxxxx") << k.what;
        EXPECT_EQ(r.tell(), 0u);
      }
    }
    auto r = tavbin::reader::open(b);
    ASSERT_EQ(r.u8_at(UINT64_MAX).status, TAVBIN_RANGE);
    EXPECT_EQ(k.copy(r, nullptr, 8, 8).status, TAVBIN_INVALID_ARG) << k.what;
    EXPECT_EQ(r.last_error(), TAVBIN_RANGE) << k.what; // a refusal, not recorded
  }
  // The array forms: its size is the capacity, one less the longest string.
  const HeapBytes b({0, 2, 'h', 'i'});
  auto r = tavbin::reader::open(b);
  char two[2], three[3];
  EXPECT_EQ(r.string_u16(two).status, TAVBIN_TOO_LARGE);
  EXPECT_EQ(r.string_u16(three).value, "hi");
}

// What last_error() reports after each read: what the C calls made recorded.
// Those that fail without moving record a failure only where a C call can
// record it without moving anything.
TEST(HppStrings, RecordWhatACallCanRecordWithoutMoving) {
  using Read = tavbin::result<int64_t> (*)(tavbin::reader &);
  const struct {
    const char *what;
    std::vector<uint8_t> input;
    bool bits_first; // 4 bits of the first byte read before
    Read read;
    tavbin_status status, recorded;
  } cases[] = {
      {"string ok",
       {1, 'a'},
       false,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.string_u8(1).status};
       },
       TAVBIN_OK,
       TAVBIN_OK},
      {"string eof",
       {5, 'a'},
       false,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.string_u8(9).status};
       },
       TAVBIN_EOF,
       TAVBIN_EOF},
      // The skip that would record it would drop the partly read byte.
      {"string eof after bits",
       {0xF0, 5, 'a'},
       true,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.string_u8(9).status};
       },
       TAVBIN_EOF,
       TAVBIN_RANGE},
      {"string too large",
       {5, 'a'},
       false,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.string_leb128(1).status};
       },
       TAVBIN_TOO_LARGE,
       TAVBIN_RANGE},
      {"string_u32 copy too large (the C call)",
       {0, 0, 0, 5, 'a'},
       false,
       [](tavbin::reader &r) {
         char d[2];
         return tavbin::result<int64_t>{0, r.string_u32(d).status};
       },
       TAVBIN_TOO_LARGE,
       TAVBIN_TOO_LARGE},
      {"string length of eleven bytes", std::vector<uint8_t>(11, 0x80), true,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.string_leb128(9).status};
       },
       TAVBIN_INVALID_ARG, TAVBIN_INVALID_ARG},
      {"cstring_at",
       {'a', 0},
       false,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.cstring_at(0, 1).status};
       },
       TAVBIN_OK,
       TAVBIN_RANGE},
      {"cstring_at eof",
       {'a', 'b'},
       false,
       [](tavbin::reader &r) {
         return tavbin::result<int64_t>{0, r.cstring_at(1, 5).status};
       },
       TAVBIN_EOF,
       TAVBIN_RANGE},
      {"leb128_u32",
       {0x80, 0x01},
       true,
       [](tavbin::reader &r) {
         const auto v = r.leb128_u32();
         return tavbin::result<int64_t>{v.value, v.status};
       },
       TAVBIN_OK,
       TAVBIN_OK},
      {"leb128_u32 too big",
       {0xF0, 0x80, 0x80, 0x80, 0x80, 0x10},
       true,
       [](tavbin::reader &r) {
         const auto v = r.leb128_u32();
         return tavbin::result<int64_t>{v.value, v.status};
       },
       TAVBIN_INVALID_ARG,
       TAVBIN_INVALID_ARG},
      {"leb128_u32 eof",
       {0x80},
       false,
       [](tavbin::reader &r) {
         const auto v = r.leb128_u32();
         return tavbin::result<int64_t>{v.value, v.status};
       },
       TAVBIN_EOF,
       TAVBIN_EOF},
      {"sleb128_i32 six bytes",
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
       false,
       [](tavbin::reader &r) {
         const auto v = r.sleb128_i32();
         return tavbin::result<int64_t>{v.value, v.status};
       },
       TAVBIN_INVALID_ARG,
       TAVBIN_INVALID_ARG},
  };
  for (const auto &c : cases) {
    const HeapBytes b(c.input.data(), c.input.size());
    auto r = tavbin::reader::open(b);
    if (c.bits_first) {
      ASSERT_TRUE(r.bits(4));
    }
    ASSERT_EQ(r.u8_at(UINT64_MAX).status, TAVBIN_RANGE); // a status to see overwritten, or not
    EXPECT_EQ(c.read(r).status, c.status) << c.what;
    EXPECT_EQ(r.last_error(), c.recorded) << c.what;
  }
}

// The writer's strings go in whole or not at all, long ones too (put
// together on the heap first), and from a source in its own bytes.
TEST(HppWriter, StringsGoInWholeOrNotAtAll) {
  auto w = tavbin::writer::open(tavbin::endian::little, 16);
  const std::string long_one(70000, 'z'); // a three-byte LEB128 length
  ASSERT_EQ(w.string_leb128(long_one), TAVBIN_OK);
  ASSERT_EQ(w.string_u16(std::string_view(long_one).substr(0, 65535)), TAVBIN_OK);
  const uint64_t size = w.size();
  EXPECT_EQ(size, 3 + 70000 + 2 + 65535u);
  EXPECT_EQ(w.string_u16(std::string_view(long_one).substr(0, 65536)), TAVBIN_TOO_LARGE);
  EXPECT_EQ(w.last_error(), TAVBIN_TOO_LARGE); // recorded, as string_u32 records its own
  EXPECT_EQ(w.string_u8(std::string(256, 'y')), TAVBIN_TOO_LARGE);
  EXPECT_EQ(w.size(), size);
  EXPECT_EQ(w.first_error(), TAVBIN_TOO_LARGE);
  // From its own bytes: copied before the append, which may move them.
  ASSERT_EQ(w.string_u8(w.str().substr(3, 200)), TAVBIN_OK);
  ASSERT_EQ(w.string_leb128(w.str().substr(3, 1000)), TAVBIN_OK);
  // Reaching beyond them into the rest of the buffer: refused as append() is.
  const std::string_view past(w.str().data() + w.size() - 1, 2);
  EXPECT_EQ(w.string_u16(past), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.last_error(), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.size(), size + 201 + 1002);

  auto r = tavbin::reader::open(w.bytes(), tavbin::endian::little);
  EXPECT_EQ(r.string_leb128(70000).value, long_one);
  EXPECT_EQ(r.string_u16(65535).value.size(), 65535u);
  EXPECT_EQ(r.string_u8(255).value, std::string(200, 'z'));
  EXPECT_EQ(r.string_leb128(1000).value, std::string(1000, 'z'));
  EXPECT_EQ(r.remaining(), 0u);

  tavbin::writer none;
  EXPECT_EQ(none.string_u8("a"), TAVBIN_INVALID_ARG);
  EXPECT_EQ(none.string_u16("a"), TAVBIN_INVALID_ARG);
  EXPECT_EQ(none.string_leb128("a"), TAVBIN_INVALID_ARG);
  EXPECT_EQ(none.first_error(), TAVBIN_INVALID_ARG);
}

} // namespace
