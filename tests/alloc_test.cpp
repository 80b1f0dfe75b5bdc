// Allocation failure and the growth rule, seen from the heap's side.
//
// This executable defines calloc, malloc, realloc and free itself; the dynamic
// linker binds the library's calls to these, which forward to the C library's
// own entry points. A call can be made to fail, and every block and every size
// asked of realloc is counted, so these tests see exactly what the library asks;
// a malloc can also be answered with a block the test chose, so it knows what
// lies around the writer's buffer.
// Built only without sanitizers, which bring allocators of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "support.h"
#include "tavbin.hpp"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace heap {

// Plain globals: the allocator must not allocate, and the tests are single-threaded.
bool watching = false;
long calls = 0;     // allocation calls seen while watching
long fail_from = 0; // the first call to fail (1-based); 0 fails none
bool persistent = false;
long live = 0; // blocks allocated minus blocks freed while watching
uint64_t mallocs[16];
int n_mallocs = 0;
uint64_t reallocs[16];
int n_reallocs = 0;

bool fails() {
  if (!watching) return false;
  ++calls;
  return fail_from != 0 && (persistent ? calls >= fail_from : calls == fail_from);
}

// Watch one operation; the N-th allocation call in it fails (and, when
// persistent, every later one too).
void watch(long fail_at = 0, bool keep_failing = false) {
  calls = live = 0;
  n_mallocs = n_reallocs = 0;
  fail_from = fail_at;
  persistent = keep_failing;
  watching = true;
}
void stop() { watching = false; }

// The next malloc of exactly `size` bytes returns `block`, which free() then
// leaves alone; realloc() moves its bytes to the heap.
uint8_t *placed = nullptr;
size_t placed_size = 0;
uint8_t *handed_out = nullptr;
size_t handed_out_size = 0;
void place(uint8_t *block, size_t size) {
  placed = block;
  placed_size = size;
}

} // namespace heap

extern "C" {

void *malloc(size_t n) {
  if (heap::placed != nullptr && n == heap::placed_size) {
    heap::handed_out = std::exchange(heap::placed, nullptr);
    heap::handed_out_size = n;
    return heap::handed_out;
  }
  if (heap::watching && heap::n_mallocs < 16) heap::mallocs[heap::n_mallocs++] = n;
  if (heap::fails()) return nullptr;
  void *p = __libc_malloc(n);
  if (p != nullptr && heap::watching) ++heap::live;
  return p;
}

void *calloc(size_t n, size_t size) {
  if (heap::fails()) return nullptr;
  void *p = __libc_calloc(n, size);
  if (p != nullptr && heap::watching) ++heap::live;
  return p;
}

void *realloc(void *old, size_t n) {
  if (old != nullptr && old == heap::handed_out) {
    void *p = __libc_malloc(n);
    if (p != nullptr) {
      std::memcpy(p, heap::handed_out, std::min(n, heap::handed_out_size));
      heap::handed_out = nullptr;
    }
    return p;
  }
  if (heap::watching && heap::n_reallocs < 16) heap::reallocs[heap::n_reallocs++] = n;
  if (heap::fails()) return nullptr;
  void *p = __libc_realloc(old, n);
  if (p != nullptr && old == nullptr && heap::watching) ++heap::live;
  return p;
}

void free(void *p) {
  if (p != nullptr && p == heap::handed_out) {
    heap::handed_out = nullptr;
    return;
  }
  if (p != nullptr && heap::watching) --heap::live;
  __libc_free(p);
}

} // extern "C"

using namespace tavbin_test;

namespace {

TEST(Growth, CapacitiesAreTheInitialOneDoubled) {
  {
    heap::watch();
    auto w = tavbin::writer::open(); // the wrapper's default leaves the choice to the library
    heap::stop();
    ASSERT_EQ(heap::n_mallocs, 1);
    EXPECT_EQ(heap::mallocs[0], 64u);
  }
  {
    heap::watch();
    tavbin_writer *w = tavbinw_open(0, TAVBIN_BIG_ENDIAN);
    heap::stop();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(heap::n_mallocs, 1);
    EXPECT_EQ(heap::mallocs[0], 64u);
    heap::watch();
    for (int i = 0; i < 64; ++i)
      tavbinw_u8(w, static_cast<uint8_t>(i));
    EXPECT_EQ(heap::n_reallocs, 0); // 64 bytes fit the first buffer
    tavbinw_u8(w, 64);
    heap::stop();
    ASSERT_EQ(heap::n_reallocs, 1);
    EXPECT_EQ(heap::reallocs[0], 128u);
    tavbinw_close(w);
  }
  const struct {
    uint64_t initial;
    uint64_t first, then; // bytes appended in two steps
    std::vector<uint64_t> reallocs;
  } cases[] = {
      {3, 3, 1, {6}},   // one byte over: doubled once
      {3, 0, 20, {24}}, // a large append jumps in one reallocation
      {3, 2, 20, {24}}, {1, 1, 1000, {1024}}, {1000, 999, 2, {2000}}, {3, 6, 1, {6, 12}}, {5, 4, 1, {}},
  };
  for (const auto &c : cases) {
    tavbin_writer *w = tavbinw_open(c.initial, TAVBIN_BIG_ENDIAN);
    ASSERT_NE(w, nullptr);
    const Bytes fill(c.first + c.then, 0x33);
    heap::watch();
    tavbinw_bytes(w, fill.data(), c.first);
    tavbinw_bytes(w, fill.data(), c.then);
    heap::stop();
    EXPECT_EQ(std::vector<uint64_t>(heap::reallocs, heap::reallocs + heap::n_reallocs), c.reallocs)
        << c.initial;
    EXPECT_EQ(tavbinw_len(w), c.first + c.then);
    tavbinw_close(w);
  }
}

TEST(Growth, ImpossibleSizesAreRefusedBeforeAnyReallocation) {
  tavbin_writer *w = tavbinw_open(64, TAVBIN_BIG_ENDIAN);
  const uint8_t src[1] = {0};
  heap::watch();
  EXPECT_EQ(tavbinw_bytes(w, src, (uint64_t{1} << 63) + 1), TAVBIN_OOM);
  EXPECT_EQ(tavbinw_bytes(w, src, UINT64_MAX), TAVBIN_OOM);
  heap::stop();
  EXPECT_EQ(heap::calls, 0);
  EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OOM);
  EXPECT_EQ(tavbinw_len(w), 0u);
  tavbinw_close(w);
}

// The largest capacity the doubling can reach, 2^63, is still asked for: from
// 64, exactly 2^63 bytes need 2^57 doublings and one reallocation, which the
// heap refuses. (One byte more is the refusal above, before any call.)
TEST(Growth, LargestReachableCapacityIsAskedForOnce) {
  tavbin_writer *w = tavbinw_open(64, TAVBIN_BIG_ENDIAN);
  const uint8_t src[1] = {0};
  heap::watch(1, true);
  EXPECT_EQ(tavbinw_bytes(w, src, uint64_t{1} << 63), TAVBIN_OOM);
  heap::stop();
  ASSERT_EQ(heap::n_reallocs, 1);
  EXPECT_EQ(heap::reallocs[0], uint64_t{1} << 63);
  EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OOM);
  EXPECT_EQ(tavbinw_len(w), 0u);
  tavbinw_close(w);
}

// A count of exactly 0xFFFFFFFF passes the length test and goes on to the growth
// rule; with the allocation refused, nothing is read from the source.
TEST(Growth, LongestStringReachesTheGrowthRule) {
  tavbin_writer *w = tavbinw_open(0, TAVBIN_LITTLE_ENDIAN);
  const char src[1] = {'x'};
  heap::watch(1, true);
  EXPECT_EQ(tavbinw_string_u32(w, src, 0xFFFFFFFF), TAVBIN_OOM);
  heap::stop();
  ASSERT_EQ(heap::n_reallocs, 1);
  EXPECT_EQ(heap::reallocs[0], uint64_t{64} << 27); // first 64 * 2^k >= 4 + 0xFFFFFFFF
  EXPECT_EQ(tavbinw_len(w), 0u);
  tavbinw_close(w);
}

TEST(OpenFailure, EveryAllocationOfEachOpen) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  for (bool keep : {false, true}) {
    for (long n = 1;; ++n) {
      heap::watch(n, keep);
      tavbin_reader *r = tavbin_open(bytes, 4, TAVBIN_BIG_ENDIAN);
      heap::stop();
      if (r != nullptr) {
        EXPECT_EQ(n, 2); // the handle is the only allocation
        tavbin_close(r);
        break;
      }
      EXPECT_EQ(heap::live, 0) << "reader open, call " << n;
    }
    for (uint64_t cap : {uint64_t{0}, uint64_t{3}}) {
      for (long n = 1;; ++n) {
        heap::watch(n, keep);
        tavbin_writer *w = tavbinw_open(cap, TAVBIN_BIG_ENDIAN);
        heap::stop();
        if (w != nullptr) {
          EXPECT_EQ(n, 3); // handle, then buffer
          tavbinw_close(w);
          break;
        }
        EXPECT_EQ(heap::live, 0) << "writer open, call " << n << (keep ? " onwards" : "");
      }
    }
  }
}

using Append = tavbin_status (*)(tavbin_writer *);

// Each kind of append, made on a writer whose buffer is exactly full so that it
// must grow: fail its 1st, 2nd, ... allocation until it completes, once failing
// only that call and once failing every later call too.
TEST(AppendFailure, SweepEveryKind) {
  const struct {
    const char *what;
    Append op;
  } ops[] = {
      {"bytes", [](tavbin_writer *w) { return tavbinw_bytes(w, "12345678", 8); }},
      {"own bytes", [](tavbin_writer *w) { return tavbinw_bytes(w, tavbinw_data(w), tavbinw_len(w)); }},
      {"u8", [](tavbin_writer *w) { return tavbinw_u8(w, 1); }},
      {"u16", [](tavbin_writer *w) { return tavbinw_u16(w, 1); }},
      {"i16", [](tavbin_writer *w) { return tavbinw_i16(w, -1); }},
      {"u32", [](tavbin_writer *w) { return tavbinw_u32(w, 1); }},
      {"i32", [](tavbin_writer *w) { return tavbinw_i32(w, -1); }},
      {"f32", [](tavbin_writer *w) { return tavbinw_f32(w, 1.0f); }},
      {"u64", [](tavbin_writer *w) { return tavbinw_u64(w, 1); }},
      {"i64", [](tavbin_writer *w) { return tavbinw_i64(w, -1); }},
      {"f64", [](tavbin_writer *w) { return tavbinw_f64(w, 1.0); }},
      {"leb128", [](tavbin_writer *w) { return tavbinw_leb128(w, UINT64_MAX); }},
      {"string", [](tavbin_writer *w) { return tavbinw_string_u32(w, "abc", 3); }},
      {"empty string", [](tavbin_writer *w) { return tavbinw_string_u32(w, nullptr, 0); }},
      {"own string",
       [](tavbin_writer *w) {
         return tavbinw_string_u32(w, reinterpret_cast<const char *>(tavbinw_data(w)), tavbinw_len(w));
       }},
  };
  for (const auto &op : ops) {
    // What the append produces when nothing fails.
    Bytes want;
    {
      tavbin_writer *w = tavbinw_open(3, TAVBIN_BIG_ENDIAN);
      tavbinw_bytes(w, "abc", 3);
      ASSERT_EQ(op.op(w), TAVBIN_OK) << op.what;
      want.assign(tavbinw_data(w), tavbinw_data(w) + tavbinw_len(w));
      tavbinw_close(w);
    }
    for (bool keep : {false, true}) {
      for (long n = 1;; ++n) {
        tavbin_writer *w = tavbinw_open(3, TAVBIN_BIG_ENDIAN);
        ASSERT_EQ(tavbinw_bytes(w, "abc", 3), TAVBIN_OK);
        heap::watch(n, keep);
        const tavbin_status s = op.op(w);
        heap::stop();
        if (s == TAVBIN_OK) {
          EXPECT_GT(n, 1) << op.what; // a full buffer cannot take it without growing
          EXPECT_EQ(hex(Bytes(tavbinw_data(w), tavbinw_data(w) + tavbinw_len(w))), hex(want)) << op.what;
          tavbinw_close(w);
          break;
        }
        EXPECT_EQ(s, TAVBIN_OOM) << op.what << ", call " << n;
        EXPECT_EQ(tavbinw_last_error(w), TAVBIN_OOM) << op.what;
        EXPECT_EQ(heap::live, 0) << op.what;
        EXPECT_EQ(hex(Bytes(tavbinw_data(w), tavbinw_data(w) + tavbinw_len(w))), "61 62 63") << op.what;
        // Usable again once memory is there.
        EXPECT_EQ(op.op(w), TAVBIN_OK) << op.what;
        EXPECT_EQ(hex(Bytes(tavbinw_data(w), tavbinw_data(w) + tavbinw_len(w))), hex(want)) << op.what;
        tavbinw_close(w);
        ASSERT_LT(n, 8) << op.what; // no append makes more than one allocation
      }
    }
  }
}

TEST(AppendFailure, AFittingAppendAllocatesNothing) {
  tavbin_writer *w = tavbinw_open(256, TAVBIN_LITTLE_ENDIAN);
  heap::watch(1, true); // any allocation would fail
  EXPECT_EQ(tavbinw_u8(w, 1), TAVBIN_OK);
  EXPECT_EQ(tavbinw_u16(w, 1), TAVBIN_OK);
  EXPECT_EQ(tavbinw_u32(w, 1), TAVBIN_OK);
  EXPECT_EQ(tavbinw_f64(w, 1), TAVBIN_OK);
  EXPECT_EQ(tavbinw_leb128(w, UINT64_MAX), TAVBIN_OK);
  EXPECT_EQ(tavbinw_string_u32(w, "abc", 3), TAVBIN_OK);
  EXPECT_EQ(tavbinw_bytes(w, tavbinw_data(w), tavbinw_len(w)), TAVBIN_OK);
  heap::stop();
  EXPECT_EQ(heap::calls, 0);
  tavbinw_close(w);
}

// An append that exactly fills the buffer needs no growth: every kind, and
// LEB128 numbers of every length.
TEST(AppendFailure, AnAppendThatExactlyFillsAllocatesNothing) {
  const struct {
    const char *what;
    uint64_t len;
    Append op;
  } ops[] = {
      {"u8", 1, [](tavbin_writer *w) { return tavbinw_u8(w, 1); }},
      {"u16", 2, [](tavbin_writer *w) { return tavbinw_u16(w, 1); }},
      {"i16", 2, [](tavbin_writer *w) { return tavbinw_i16(w, -1); }},
      {"u32", 4, [](tavbin_writer *w) { return tavbinw_u32(w, 1); }},
      {"i32", 4, [](tavbin_writer *w) { return tavbinw_i32(w, -1); }},
      {"f32", 4, [](tavbin_writer *w) { return tavbinw_f32(w, 1.0f); }},
      {"u64", 8, [](tavbin_writer *w) { return tavbinw_u64(w, 1); }},
      {"i64", 8, [](tavbin_writer *w) { return tavbinw_i64(w, -1); }},
      {"f64", 8, [](tavbin_writer *w) { return tavbinw_f64(w, 1.0); }},
      {"bytes", 5, [](tavbin_writer *w) { return tavbinw_bytes(w, "12345", 5); }},
      {"string", 7, [](tavbin_writer *w) { return tavbinw_string_u32(w, "abc", 3); }},
  };
  auto fill_exactly = [](uint64_t len, auto append) {
    tavbin_writer *w = tavbinw_open(3 + len, TAVBIN_LITTLE_ENDIAN);
    EXPECT_EQ(tavbinw_bytes(w, "abc", 3), TAVBIN_OK);
    heap::watch(1, true); // any allocation would fail
    const tavbin_status s = append(w);
    heap::stop();
    EXPECT_EQ(heap::calls, 0);
    EXPECT_EQ(tavbinw_len(w), 3 + len);
    tavbinw_close(w);
    return s;
  };
  for (const auto &op : ops)
    EXPECT_EQ(fill_exactly(op.len, op.op), TAVBIN_OK) << op.what;
  for (unsigned n = 1; n <= 10; ++n) {
    const uint64_t value = uint64_t{1} << (7 * (n - 1)); // the smallest number of n bytes
    EXPECT_EQ(fill_exactly(n, [=](tavbin_writer *w) { return tavbinw_leb128(w, value); }), TAVBIN_OK) << n;
  }
}

// Sources right next to the writer's buffer, placed in one block so that the
// bytes around it are known. One that ends exactly where the buffer starts, or
// starts exactly one past its end, is someone else's memory and is copied; one
// that straddles the buffer's start reaches into its unwritten bytes and is
// refused; the same as a block or as a string.
TEST(SourcePlacement, NextToTheBuffer) {
  alignas(16) static uint8_t block[64];
  uint8_t *const buffer = block + 16; // 16 bytes, with 16 before it and 32 after
  const struct {
    const char *what;
    ptrdiff_t offset; // of the source from the buffer's start
    uint64_t n;
    tavbin_status want;
  } cases[] = {
      {"ending one byte before the buffer", -5, 4, TAVBIN_OK}, // control
      {"ending where the buffer starts", -4, 4, TAVBIN_OK},
      {"starting one past the buffer's end", 16, 4, TAVBIN_OK},
      {"starting at the buffer's last byte", 15, 4, TAVBIN_INVALID_ARG},
      {"straddling the buffer's start by one byte", -3, 4, TAVBIN_INVALID_ARG},
      {"straddling the start into the written bytes", -2, 4, TAVBIN_INVALID_ARG},
      {"straddling the whole buffer", -1, 18, TAVBIN_INVALID_ARG},
      // Eight bytes: as a string, short enough for the append in place.
      {"8 bytes ending where the buffer starts", -8, 8, TAVBIN_OK},
      {"8 bytes straddling the buffer's start by one byte", -7, 8, TAVBIN_INVALID_ARG},
      {"8 bytes starting one past the buffer's end", 16, 8, TAVBIN_OK},
      {"8 bytes starting at the buffer's last byte", 15, 8, TAVBIN_INVALID_ARG},
  };
  for (const bool as_string : {false, true}) {
    for (const auto &c : cases) {
      for (size_t i = 0; i < sizeof block; ++i)
        block[i] = static_cast<uint8_t>(0x80 + i);
      heap::place(buffer, 16);
      tavbin_writer *w = tavbinw_open(16, TAVBIN_BIG_ENDIAN);
      heap::place(nullptr, 0);
      ASSERT_EQ(tavbinw_data(w), buffer);
      ASSERT_EQ(tavbinw_bytes(w, "xyz", 3), TAVBIN_OK);
      const uint8_t *src = buffer + c.offset;
      Bytes want = {'x', 'y', 'z'};
      if (c.want == TAVBIN_OK && as_string) want.insert(want.end(), {0, 0, 0, static_cast<uint8_t>(c.n)});
      if (c.want == TAVBIN_OK) want.insert(want.end(), src, src + c.n);
      const tavbin_status s = as_string ? tavbinw_string_u32(w, reinterpret_cast<const char *>(src), c.n)
                                        : tavbinw_bytes(w, src, c.n);
      EXPECT_EQ(s, c.want) << c.what << (as_string ? " (string)" : "");
      EXPECT_EQ(tavbinw_last_error(w), c.want) << c.what;
      EXPECT_EQ(hex(Bytes(tavbinw_data(w), tavbinw_data(w) + tavbinw_len(w))), hex(want)) << c.what;
      tavbinw_close(w);
    }
  }
}

TEST(Close, FreesEverything) {
  heap::watch();
  tavbin_writer *w = tavbinw_open(1, TAVBIN_BIG_ENDIAN);
  for (int i = 0; i < 100; ++i)
    tavbinw_u32(w, 0);
  tavbinw_close(w);
  const uint8_t b[1] = {0};
  tavbin_close(tavbin_open(b, 1, TAVBIN_BIG_ENDIAN));
  heap::stop();
  EXPECT_EQ(heap::live, 0);
}

// The C++ wrapper: every append counts for first_error(), which keeps the
// failure after later appends succeed and last_error() has moved on.
const std::string long_string(600, 'a'); // made before any allocation is watched

TEST(WrapperFailure, FirstErrorKeepsTheFailedAppend) {
  using Op = tavbin_status (*)(tavbin::writer &);
  const struct {
    const char *what;
    Op op;
  } ops[] = {
      {"u8", [](tavbin::writer &w) { return w.u8(1); }},
      {"i8", [](tavbin::writer &w) { return w.i8(-1); }},
      {"u16", [](tavbin::writer &w) { return w.u16(1); }},
      {"i16", [](tavbin::writer &w) { return w.i16(-1); }},
      {"u32", [](tavbin::writer &w) { return w.u32(1); }},
      {"i32", [](tavbin::writer &w) { return w.i32(-1); }},
      {"u64", [](tavbin::writer &w) { return w.u64(1); }},
      {"i64", [](tavbin::writer &w) { return w.i64(-1); }},
      {"f32", [](tavbin::writer &w) { return w.f32(1); }},
      {"f64", [](tavbin::writer &w) { return w.f64(1); }},
      {"leb128", [](tavbin::writer &w) { return w.leb128(300); }},
      {"sleb128", [](tavbin::writer &w) { return w.sleb128(INT64_MIN); }},
      {"append", [](tavbin::writer &w) { return w.append(std::string_view("ab")); }},
      {"string_u32", [](tavbin::writer &w) { return w.string_u32("ab"); }},
      {"string_u8", [](tavbin::writer &w) { return w.string_u8("ab"); }},
      {"string_u16", [](tavbin::writer &w) { return w.string_u16("ab"); }},
      {"string_leb128", [](tavbin::writer &w) { return w.string_leb128("ab"); }},
      // Long enough to be put together on the heap: the first allocation fails.
      {"long string_u16", [](tavbin::writer &w) { return w.string_u16(long_string); }},
  };
  for (const auto &op : ops) {
    auto w = tavbin::writer::open(tavbin::endian::little, 1);
    ASSERT_EQ(w.u8(0xAA), TAVBIN_OK); // the buffer is full
    heap::watch(1, true);
    EXPECT_EQ(op.op(w), TAVBIN_OOM) << op.what;
    heap::stop();
    EXPECT_EQ(w.size(), 1u) << op.what;
    EXPECT_EQ(op.op(w), TAVBIN_OK) << op.what;
    EXPECT_EQ(w.last_error(), TAVBIN_OK) << op.what;
    EXPECT_EQ(w.first_error(), TAVBIN_OOM) << op.what;
  }
}

// A long string is put together with its length in a block of its own: when
// the writer's buffer then cannot grow, nothing is appended and the block is
// freed all the same.
TEST(WrapperFailure, LongStringWhoseAppendFails) {
  auto w = tavbin::writer::open(tavbin::endian::big, 1);
  const std::string s(600, 'b');
  heap::watch(2);
  EXPECT_EQ(w.string_leb128(s), TAVBIN_OOM);
  heap::stop();
  EXPECT_EQ(heap::calls, 2);
  EXPECT_EQ(heap::live, 0);
  EXPECT_EQ(w.size(), 0u);
  EXPECT_EQ(w.last_error(), TAVBIN_OOM);
  EXPECT_EQ(w.string_leb128(s), TAVBIN_OK);
  EXPECT_EQ(w.size(), 602u);
}

// A sub-reader is a second handle: when it cannot be allocated, the parent has
// not moved and the cursor keeps the failure as TAVBIN_OOM.
TEST(WrapperFailure, SubReaderWithoutMemory) {
  const HeapBytes b({1, 2, 3, 4});
  auto r = tavbin::reader::open(b);
  tavbin::cursor c(r);
  EXPECT_EQ(c.u8(), 1);
  heap::watch(1, true);
  tavbin::reader part = c.sub(2);
  heap::stop();
  EXPECT_FALSE(part);
  EXPECT_EQ(c.status(), TAVBIN_OOM);
  EXPECT_EQ(c.offset(), 1u);
  EXPECT_EQ(r.tell(), 1u);
  EXPECT_EQ(heap::live, 0);
  EXPECT_TRUE(r.sub(2)); // once memory is back
  EXPECT_EQ(r.tell(), 3u);
}

} // namespace
