// ops.hpp - every measured operation as one pass over in-cache data.
//
// The benchmark binary times each pass; the instruction counter runs each pass
// under callgrind. Both take the same table, so the two measure the same code.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace bench {

// Values per pass: enough to amortise a pass's set-up, few enough to stay in L1/L2.
constexpr unsigned kValues = 4096;
// The long LEB128 mix: 2^20 numbers, far more than a branch predictor can learn
// the lengths of, pass after pass (4096 it largely can); about 5.5 MB, so the
// bytes stream from memory rather than sit in L2.
constexpr unsigned kLongValues = 1u << 20;
// Block passes move 16 blocks of 4 KiB.
constexpr unsigned kBlock = 4096;
constexpr unsigned kBlocks = 16;

struct Op {
  std::string name;              // group/case/implementation, e.g. "read/u32_be/tavbin"
  uint64_t items;                // values (or bytes, for blocks) handled by one pass
  std::function<uint64_t()> run; // one pass; returns a checksum the caller keeps alive
};

// Builds the data (fixed seeds) and the table; call once before anything else.
const std::vector<Op> &ops();

// ---------------------------------------------------------------------------
// What the passes share: the library's passes are compiled once per build of the
// library measured (this one and, with a baseline, an earlier one), so nothing
// here names a library function; each pass takes the functions it calls.
// ---------------------------------------------------------------------------

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;

// Every input lives in a block of exactly its size, made once with fixed seeds.
struct Inputs {
  std::vector<u8> fixed; // 32 KiB of random bytes: 4096 values of up to 8 bytes, 4096 bit fields of up to 64
  std::vector<u8> leb1;  // 4096 one-byte LEB128 numbers
  std::vector<u64> leb1_values;
  std::vector<u8> lebmix;      // 4096 LEB128 numbers of 1 to 10 bytes, lengths uniform
  std::vector<u64> mix;        // their values
  std::vector<u8> lebmix_long; // 65536 numbers of the same mix
  std::vector<u64> mix_long;
  std::vector<u8> strings; // 4096 big-endian length-prefixed strings of 8 to 31 bytes
  std::vector<u32> str_len;
  std::vector<u32> wstr_len; // lengths of the 4096 string appends: 8 to 16 bytes
  std::vector<u8> block;     // 64 KiB
  std::vector<u8> dst;       // 64 KiB scratch destination
  std::vector<u32> v32;      // values to write
  std::vector<u64> v64;
};

// Made by ops() before any operation is added or run.
extern Inputs *g;

// The operations of one build of the library, named group/case/`impl`.
void add_library_ops(std::vector<Op> &t, const char *impl);
void add_baseline_ops(std::vector<Op> &t, const char *impl);
// The peer libraries' operations, in files of their own: each is built only
// when its library is found.
void add_boost_ops(std::vector<Op> &t);
// The C++ wrapper's cursor and bulk reads (hpp_ops.cpp).
void add_hpp_ops(std::vector<Op> &t);
void add_protobuf_ops(std::vector<Op> &t);

[[noreturn]] __attribute__((noinline, cold)) inline void fail(const char *what) {
  std::fprintf(stderr, "benchmark pass failed: %s\n", what);
  std::abort();
}

// Keeps a copy whose result nobody reads from being dropped.
inline void clobber(const void *p) { asm volatile("" : : "r"(p) : "memory"); }

template <typename T> u64 bits_of(T v) {
  if constexpr (std::is_same_v<T, float>)
    return std::bit_cast<u32>(v);
  else if constexpr (std::is_same_v<T, double>)
    return std::bit_cast<u64>(v);
  else
    return static_cast<u64>(v);
}

template <typename T> T value_at(unsigned i) {
  if constexpr (sizeof(T) == 8)
    return std::bit_cast<T>(g->v64[i]);
  else if constexpr (sizeof(T) == 4)
    return std::bit_cast<T>(g->v32[i]);
  else
    return static_cast<T>(g->v32[i]);
}

// The source of the i-th string append: 8 to 16 bytes of the block.
inline const char *string_src(unsigned i) {
  return reinterpret_cast<const char *>(g->block.data()) + (i * 16) % 60000;
}

// Reader passes, for the library and the floor alike: Seek rewinds the handle.
template <typename T, auto F, auto Seek, typename H> u64 read_pass(H *r) {
  Seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    if (F(r, &v) != 0) [[unlikely]]
      fail("read");
    sum += bits_of(v);
  }
  return sum;
}

template <typename T, auto F, typename H> u64 at_pass(H *r) {
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    if (F(r, u64{i} * sizeof(T), &v) != 0) [[unlikely]]
      fail("at");
    sum += v;
  }
  return sum;
}

template <uint32_t W, auto F, auto Seek, typename H> u64 bits_pass(H *r) {
  Seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u64 v;
    if (F(r, W, &v) != 0) [[unlikely]]
      fail("bits");
    sum += v;
  }
  return sum;
}

template <auto F, auto Seek, unsigned Count = kValues, typename H> u64 leb_pass(H *r) {
  Seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < Count; ++i) {
    u64 v;
    if (F(r, &v, 10) != 0) [[unlikely]]
      fail("leb128");
    sum += v;
  }
  return sum;
}

template <auto F, auto Seek, typename H> u64 string_pass(H *r) {
  Seek(r, 0);
  u64 sum = 0;
  char buf[32];
  u64 len;
  for (unsigned i = 0; i < kValues; ++i) {
    if (F(r, buf, sizeof buf, 31, &len) != 0) [[unlikely]]
      fail("string");
    sum += len + static_cast<u8>(buf[0]);
  }
  return sum;
}

template <auto F, auto Seek, typename H> u64 skip_pass(H *r) {
  Seek(r, 0);
  for (unsigned i = 0; i < kValues; ++i)
    if (F(r, 4) != 0) [[unlikely]]
      fail("skip");
  return 1;
}

// Stateless loads and stores; 0 is the big-endian order of both interfaces.
template <auto F> u64 load_pass() {
  const u8 *p = g->fixed.data();
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u32 v;
    if (F(p + 4 * u64{i}, 4, 0, &v) != 0) [[unlikely]]
      fail("load");
    sum += v;
  }
  return sum;
}

template <auto F> u64 store_pass() {
  u8 *p = g->dst.data();
  for (unsigned i = 0; i < kValues; ++i)
    if (F(p + 4 * u64{i}, 4, 0, g->v32[i]) != 0) [[unlikely]]
      fail("store");
  clobber(p);
  return p[0];
}

} // namespace bench
