// The C++ wrapper: what it adds over the C interface (ownership, moves, results,
// error codes), not the decoding again. Built once as C++17 without exceptions
// and once as C++20.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tavbin.hpp"

namespace {

// tests/support.h is C++20; this file must also build as C++17, so it keeps its
// own heap copy of exactly the input's size.
struct HeapBytes {
  explicit HeapBytes(std::initializer_list<uint8_t> b) : n(b.size()), p(static_cast<uint8_t *>(std::malloc(b.size()))) {
    std::memcpy(p, b.begin(), b.size());
  }
  ~HeapBytes() { std::free(p); }
  HeapBytes(const HeapBytes &) = delete;
  HeapBytes &operator=(const HeapBytes &) = delete;
  size_t n;
  uint8_t *p;
};

static_assert(!std::is_copy_constructible_v<tavbin::reader> && !std::is_copy_assignable_v<tavbin::reader>);
static_assert(!std::is_copy_constructible_v<tavbin::writer> && !std::is_copy_assignable_v<tavbin::writer>);
static_assert(std::is_nothrow_move_constructible_v<tavbin::reader> &&
              std::is_nothrow_move_assignable_v<tavbin::reader>);
static_assert(std::is_nothrow_move_constructible_v<tavbin::writer> &&
              std::is_nothrow_move_assignable_v<tavbin::writer>);
static_assert(!std::is_convertible_v<tavbin::reader, bool> && std::is_constructible_v<bool, tavbin::reader>);
static_assert(!std::is_convertible_v<tavbin::result<int>, bool>);

// Every call on an empty handle gets the C library's answer for NULL.
void expect_empty(tavbin::reader &r) {
  EXPECT_FALSE(r);
  EXPECT_EQ(r.get(), nullptr);
  EXPECT_EQ(r.u8().status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.view(0).status, TAVBIN_INVALID_ARG);
  EXPECT_EQ(r.size(), 0u);
  EXPECT_EQ(r.last_error(), TAVBIN_INVALID_ARG);
}
void expect_empty(tavbin::writer &w) {
  EXPECT_FALSE(w);
  EXPECT_EQ(w.get(), nullptr);
  EXPECT_EQ(w.u8(1), TAVBIN_INVALID_ARG);
  EXPECT_EQ(w.size(), 0u);
  EXPECT_TRUE(w.bytes().empty());
  EXPECT_EQ(w.last_error(), TAVBIN_INVALID_ARG);
}

TEST(HppReader, OpenReportsRefusalAsEmpty) {
  const HeapBytes b({1, 2, 3});
  auto ok = tavbin::reader::open(tavbin::byte_view(b.p, b.n));
  EXPECT_TRUE(ok);
  EXPECT_EQ(ok.size(), 3u);
  auto bad = tavbin::reader::open(tavbin::byte_view(b.p, b.n), static_cast<tavbin::endian>(2));
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
  auto a = tavbin::reader::open(tavbin::byte_view(b.p, b.n));
  tavbin_reader *handle = a.get();
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(a.u8());

  tavbin::reader moved(std::move(a));
  expect_empty(a); // NOLINT(bugprone-use-after-move): a moved-from reader is documented as empty
  EXPECT_EQ(moved.get(), handle);
  EXPECT_EQ(moved.tell(), 1u); // the cursor went with it
  const auto v = moved.view(2);
  ASSERT_TRUE(v);
  EXPECT_EQ(v.value.data(), b.p + 1); // and so did the input, for view()

  // Assignment closes what the target held (the sanitizers and valgrind see a leak
  // or a double close otherwise) and empties the source.
  auto other = tavbin::reader::open(tavbin::byte_view(b.p, b.n));
  other = std::move(moved);
  EXPECT_EQ(other.get(), handle);
  expect_empty(moved); // NOLINT(bugprone-use-after-move)

  // Moving an empty reader in closes the old handle and leaves both empty.
  other = tavbin::reader();
  expect_empty(other);
}

TEST(HppReader, SelfMoveKeepsTheHandle) {
  const HeapBytes b({1, 2});
  auto r = tavbin::reader::open(tavbin::byte_view(b.p, b.n));
  tavbin_reader *handle = r.get();
  auto &alias = r; // through a reference, so the compiler does not warn about the self-move
  r = std::move(alias);
  EXPECT_EQ(r.get(), handle);
  EXPECT_EQ(r.u16().value, 0x0102);
}

TEST(HppReader, ReleaseHandsOwnershipBack) {
  const HeapBytes b({1});
  auto r = tavbin::reader::open(tavbin::byte_view(b.p, b.n));
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
  auto r = tavbin::reader::open(tavbin::byte_view(b.p, b.n), tavbin::endian::little);
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
  for (const auto &c : cases) EXPECT_EQ(c.got.status, c.want);
  EXPECT_EQ(r.last_error(), TAVBIN_OK);
  EXPECT_EQ(r.u8().status, TAVBIN_EOF);
  EXPECT_EQ(r.last_error_code(), tavbin::errc::eof);
}

TEST(HppReader, ViewAndStringPointWhereTheyShould) {
  // view() after a partly read byte: the skip drops the rest of the byte first.
  const HeapBytes b({0xF0, 'a', 'b', 0, 0, 0, 2, 'h', 'i'});
  auto r = tavbin::reader::open(tavbin::byte_view(b.p, b.n));
  ASSERT_TRUE(r.bits(4));
  const auto v = r.view(2);
  ASSERT_TRUE(v);
  EXPECT_EQ(v.value.str(), "ab");
  EXPECT_EQ(v.value.data(), b.p + 1);
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
  static_assert(!std::is_constructible_v<tavbin::byte_view, std::vector<uint32_t>>, "wider elements are refused");
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
  expect_empty(moved); // NOLINT(bugprone-use-after-move)
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
  for (tavbin_status s : st) EXPECT_EQ(s, TAVBIN_OK);
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
  const std::errc all[] = {std::errc::invalid_argument, std::errc::value_too_large, std::errc::not_enough_memory,
                           std::errc::result_out_of_range, std::errc::io_error};
  for (const auto &c : cases) {
    const std::error_code ec = c.e;
    for (std::errc other : all) EXPECT_EQ(ec == other, other == c.cond) << ec.message();
    // A status is never confused with the same number in another category.
    EXPECT_NE(ec, std::error_code(static_cast<int>(c.e), std::generic_category()));
  }
}

} // namespace
