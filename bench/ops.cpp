// ops.cpp - the operations of ops.hpp: the library, the call floor, inline code
// and the peers a user would otherwise pick, each doing the same work per value.
#include "ops.hpp"

#include "floor.h"
#include "tavbin.h"

#include <boost/endian/conversion.hpp>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <type_traits>

namespace bench {
namespace {

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
namespace pio = google::protobuf::io;

[[noreturn]] __attribute__((noinline, cold)) void fail(const char *what) {
  std::fprintf(stderr, "benchmark pass failed: %s\n", what);
  std::abort();
}

// Keeps a copy whose result nobody reads from being dropped.
inline void clobber(const void *p) { asm volatile("" : : "r"(p) : "memory"); }

template <typename T> u64 bits_of(T v) {
  if constexpr (std::is_same_v<T, float>) return std::bit_cast<u32>(v);
  else if constexpr (std::is_same_v<T, double>) return std::bit_cast<u64>(v);
  else return static_cast<u64>(v);
}

template <typename T> T bswap_any(T v) {
  if constexpr (sizeof(T) == 1) return v;
  else if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(static_cast<u16>(v)));
  else if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(static_cast<u32>(v)));
  else return static_cast<T>(__builtin_bswap64(static_cast<u64>(v)));
}

// Every input lives in a block of exactly its size, made once with fixed seeds.
struct Data {
  std::vector<u8> fixed;   // 32 KiB of random bytes: 4096 values of up to 8 bytes, 4096 bit fields of up to 64
  std::vector<u8> leb1;    // 4096 one-byte LEB128 numbers
  std::vector<u8> lebmix;  // 4096 LEB128 numbers of 1 to 10 bytes, lengths uniform
  std::vector<u64> mix;    // their values
  std::vector<u8> strings; // 4096 big-endian length-prefixed strings of 0 to 15 bytes
  std::vector<u32> str_len;
  std::vector<u8> block;   // 64 KiB
  std::vector<u8> dst;     // 64 KiB scratch destination
  std::vector<u32> v32;    // values to write
  std::vector<u64> v64;
  std::string fixed_str;   // the fixed bytes again, for the stream peer
  std::istringstream stream;
  tavbin_reader *fixed_be = nullptr, *fixed_le = nullptr, *leb1_r = nullptr, *lebmix_r = nullptr,
                *str_r = nullptr, *block_r = nullptr;
  floor_reader *fl = nullptr;
};

Data *g = nullptr;

void leb_encode(std::vector<u8> &out, u64 v) {
  while (v >= 0x80) {
    out.push_back(static_cast<u8>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<u8>(v));
}

void build() {
  g = new Data;
  std::mt19937_64 rng(20261208);
  g->fixed.resize(kValues * 8);
  for (auto &b : g->fixed) b = static_cast<u8>(rng());
  g->leb1.resize(kValues);
  for (auto &b : g->leb1) b = static_cast<u8>(rng() & 0x7F);
  for (unsigned i = 0; i < kValues; ++i) {
    const unsigned len = 1 + static_cast<unsigned>(rng() % 10); // bytes of the encoding
    u64 v = len == 1 ? rng() & 0x7F : (rng() | (u64{1} << (7 * (len - 1)))) & (len == 10 ? ~u64{0} : (u64{1} << (7 * len)) - 1);
    if (len == 10) v |= u64{1} << 63;
    g->mix.push_back(v);
    leb_encode(g->lebmix, v);
  }
  g->lebmix.shrink_to_fit();
  for (unsigned i = 0; i < kValues; ++i) {
    const u32 len = static_cast<u32>(rng() % 16);
    g->str_len.push_back(len);
    for (int k = 3; k >= 0; --k) g->strings.push_back(static_cast<u8>(len >> (8 * k)));
    for (u32 k = 0; k < len; ++k) g->strings.push_back(static_cast<u8>('a' + rng() % 26));
  }
  g->strings.shrink_to_fit();
  g->block.resize(kBlock * kBlocks);
  for (auto &b : g->block) b = static_cast<u8>(rng());
  g->dst.resize(kBlock * kBlocks);
  for (unsigned i = 0; i < kValues; ++i) {
    g->v64.push_back(rng());
    g->v32.push_back(static_cast<u32>(g->v64.back() >> 16));
  }
  g->fixed_str.assign(g->fixed.begin(), g->fixed.end());
  g->stream.str(g->fixed_str);
  g->fixed_be = tavbin_open(g->fixed.data(), g->fixed.size(), TAVBIN_BIG_ENDIAN);
  g->fixed_le = tavbin_open(g->fixed.data(), g->fixed.size(), TAVBIN_LITTLE_ENDIAN);
  g->leb1_r = tavbin_open(g->leb1.data(), g->leb1.size(), TAVBIN_LITTLE_ENDIAN);
  g->lebmix_r = tavbin_open(g->lebmix.data(), g->lebmix.size(), TAVBIN_LITTLE_ENDIAN);
  g->str_r = tavbin_open(g->strings.data(), g->strings.size(), TAVBIN_BIG_ENDIAN);
  g->block_r = tavbin_open(g->block.data(), g->block.size(), TAVBIN_BIG_ENDIAN);
  g->fl = floor_open(g->fixed.data(), g->fixed.size());
  if (!g->fixed_be || !g->fixed_le || !g->leb1_r || !g->lebmix_r || !g->str_r || !g->block_r || !g->fl)
    fail("set-up");
}

// ---------------------------------------------------------------------------
// Reader passes
// ---------------------------------------------------------------------------

template <typename T, auto F> u64 read_pass(tavbin_reader *r) {
  tavbin_seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    if (F(r, &v) != TAVBIN_OK) [[unlikely]] fail("read");
    sum += bits_of(v);
  }
  return sum;
}

template <typename T, auto F> u64 floor_pass(floor_reader *r) {
  floor_seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    if (F(r, &v) != 0) [[unlikely]] fail("floor");
    sum += v;
  }
  return sum;
}

template <typename T, auto F, typename H> u64 at_pass(H *r) {
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    if (F(r, u64{i} * sizeof(T), &v) != 0) [[unlikely]] fail("at");
    sum += v;
  }
  return sum;
}

template <uint32_t W, auto F, auto Seek, typename H> u64 bits_pass(H *r) {
  Seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u64 v;
    if (F(r, W, &v) != 0) [[unlikely]] fail("bits");
    sum += v;
  }
  return sum;
}

template <auto F, auto Seek, typename H> u64 leb_pass(H *r) {
  Seek(r, 0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u64 v;
    if (F(r, &v, 10) != 0) [[unlikely]] fail("leb128");
    sum += v;
  }
  return sum;
}

// Inline code: the bounds test and decode a caller would write by hand.
template <typename T, bool Big> u64 inline_read_pass(const std::vector<u8> &d) {
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (size - pos < sizeof(T)) [[unlikely]] fail("inline");
    T v;
    std::memcpy(&v, p + pos, sizeof v);
    if constexpr (Big == (std::endian::native == std::endian::little)) v = bswap_any(v);
    pos += sizeof(T);
    sum += v;
  }
  return sum;
}

// Boost.Endian's unaligned loads behind the same bounds test.
template <typename T, bool Big> u64 boost_read_pass(const std::vector<u8> &d) {
  using namespace boost::endian;
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (size - pos < sizeof(T)) [[unlikely]] fail("boost");
    T v;
    if constexpr (Big) v = endian_load<T, sizeof(T), order::big>(p + pos);
    else v = endian_load<T, sizeof(T), order::little>(p + pos);
    pos += sizeof(T);
    sum += v;
  }
  return sum;
}

// A binary-parsing runtime over std::istream: read() into the value, check the
// stream, swap to host order.
template <typename T, bool Big> u64 istream_pass(std::istringstream &is) {
  is.clear();
  is.seekg(0);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    is.read(reinterpret_cast<char *>(&v), sizeof v);
    if (!is) [[unlikely]] fail("istream");
    if constexpr (Big == (std::endian::native == std::endian::little)) v = bswap_any(v);
    sum += v;
  }
  return sum;
}

template <typename T> u64 pb_read_pass(const std::vector<u8> &d) {
  pio::CodedInputStream in(d.data(), static_cast<int>(d.size()));
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    bool ok;
    if constexpr (sizeof(T) == 4) ok = in.ReadLittleEndian32(&v);
    else ok = in.ReadLittleEndian64(&v);
    if (!ok) [[unlikely]] fail("protobuf");
    sum += v;
  }
  return sum;
}

u64 pb_varint_pass(const std::vector<u8> &d) {
  pio::CodedInputStream in(d.data(), static_cast<int>(d.size()));
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u64 v;
    if (!in.ReadVarint64(&v)) [[unlikely]] fail("protobuf varint");
    sum += v;
  }
  return sum;
}

u64 inline_leb_pass(const std::vector<u8> &d) {
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u64 v = 0;
    for (unsigned shift = 0;; shift += 7) {
      if (pos == size || shift >= 70) [[unlikely]] fail("inline leb128");
      const u8 b = p[pos++];
      v |= static_cast<u64>(b & 0x7F) << shift;
      if (b < 0x80) break;
    }
    sum += v;
  }
  return sum;
}

template <auto F, typename H> u64 string_pass(H *r) {
  u64 sum = 0;
  char buf[16];
  u64 len;
  for (unsigned i = 0; i < kValues; ++i) {
    if (F(r, buf, sizeof buf, 15, &len) != 0) [[unlikely]] fail("string");
    sum += len + static_cast<u8>(buf[0]);
  }
  return sum;
}

u64 inline_string_pass(const std::vector<u8> &d) {
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  char buf[16];
  for (unsigned i = 0; i < kValues; ++i) {
    if (size - pos < 4) [[unlikely]] fail("inline string");
    u32 len;
    std::memcpy(&len, p + pos, 4);
    len = __builtin_bswap32(len);
    if (len > 15 || size - pos - 4 < len) [[unlikely]] fail("inline string");
    std::memcpy(buf, p + pos + 4, len);
    buf[len] = '\0';
    pos += 4 + len;
    sum += len + static_cast<u8>(buf[0]);
  }
  return sum;
}

u64 bytes_block_pass() {
  tavbin_seek(g->block_r, 0);
  u8 *dst = g->dst.data();
  for (unsigned i = 0; i < kBlocks; ++i) {
    if (tavbin_bytes(g->block_r, dst, kBlock) != TAVBIN_OK) [[unlikely]] fail("bytes");
    clobber(dst);
  }
  return dst[0];
}

u64 ascii_block_pass() {
  tavbin_seek(g->block_r, 0);
  char *dst = reinterpret_cast<char *>(g->dst.data());
  for (unsigned i = 0; i < kBlocks; ++i) {
    if (tavbin_ascii(g->block_r, dst, kBlock) != TAVBIN_OK) [[unlikely]] fail("ascii");
    clobber(dst);
  }
  return static_cast<u8>(dst[0]);
}

u64 memcpy_block_pass() {
  const u8 *src = g->block.data();
  u8 *dst = g->dst.data();
  for (unsigned i = 0; i < kBlocks; ++i) {
    std::memcpy(dst, src + u64{i} * kBlock, kBlock);
    clobber(dst);
  }
  return dst[0];
}

template <auto F, auto Seek, typename H> u64 skip_pass(H *r) {
  Seek(r, 0);
  for (unsigned i = 0; i < kValues; ++i)
    if (F(r, 4) != 0) [[unlikely]] fail("skip");
  return 1;
}

template <auto F> u64 load_pass() {
  const u8 *p = g->fixed.data();
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    u32 v;
    if (F(p + 4 * u64{i}, 4, TAVBIN_BIG_ENDIAN, &v) != 0) [[unlikely]] fail("load");
    sum += v;
  }
  return sum;
}

template <auto F> u64 store_pass() {
  u8 *p = g->dst.data();
  for (unsigned i = 0; i < kValues; ++i)
    if (F(p + 4 * u64{i}, 4, TAVBIN_BIG_ENDIAN, g->v32[i]) != 0) [[unlikely]] fail("store");
  clobber(p);
  return p[0];
}

// ---------------------------------------------------------------------------
// Writer passes. Each opens a writer with room for the whole pass (or none, for
// growth), appends, and closes it: one allocation per 4096 values.
// ---------------------------------------------------------------------------

template <typename T> T value_at(unsigned i) {
  if constexpr (sizeof(T) == 8) return std::bit_cast<T>(g->v64[i]);
  else if constexpr (sizeof(T) == 4) return std::bit_cast<T>(g->v32[i]);
  else return static_cast<T>(g->v32[i]);
}

template <typename T, auto F> u64 write_pass(tavbin_endian e, uint64_t cap = kValues * 8) {
  tavbin_writer *w = tavbinw_open(cap, e);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (F(w, value_at<T>(i)) != TAVBIN_OK) [[unlikely]] fail("write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

template <typename T, auto F> u64 floor_write_pass() {
  floor_writer *w = floor_wopen(kValues * 8);
  if (w == nullptr) fail("floor writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (F(w, value_at<T>(i)) != 0) [[unlikely]] fail("floor write");
  floor_wclose(w);
  return 1;
}

// std::vector: the store a caller writes by hand, appended with insert().
template <typename T, bool Big> u64 vector_write_pass(bool reserve = true) {
  std::vector<u8> out;
  if (reserve) out.reserve(kValues * 8);
  for (unsigned i = 0; i < kValues; ++i) {
    T v = value_at<T>(i);
    if constexpr (Big == (std::endian::native == std::endian::little)) v = bswap_any(v);
    u8 b[sizeof(T)];
    std::memcpy(b, &v, sizeof v);
    out.insert(out.end(), b, b + sizeof b);
  }
  return out.size() + out[0];
}

// Boost.Endian stores into a buffer of known capacity behind a capacity test.
template <typename T, bool Big> u64 boost_write_pass() {
  using namespace boost::endian;
  const u64 cap = kValues * 8;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 len = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (cap - len < sizeof(T)) [[unlikely]] fail("boost store");
    if constexpr (Big) endian_store<T, sizeof(T), order::big>(buf.get() + len, value_at<T>(i));
    else endian_store<T, sizeof(T), order::little>(buf.get() + len, value_at<T>(i));
    len += sizeof(T);
  }
  clobber(buf.get());
  return len + buf[0];
}

template <typename T> u64 pb_write_pass() {
  const u64 cap = kValues * 8;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 n;
  {
    pio::ArrayOutputStream aos(buf.get(), static_cast<int>(cap));
    pio::CodedOutputStream out(&aos);
    for (unsigned i = 0; i < kValues; ++i) {
      if constexpr (sizeof(T) == 4) out.WriteLittleEndian32(value_at<T>(i));
      else out.WriteLittleEndian64(value_at<T>(i));
    }
    n = static_cast<u64>(out.ByteCount());
  }
  clobber(buf.get());
  return n + buf[0];
}

u64 leb_write_pass(const std::vector<u64> &vals) {
  tavbin_writer *w = tavbinw_open(kValues * 10, TAVBIN_LITTLE_ENDIAN);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (tavbinw_leb128(w, vals[i]) != TAVBIN_OK) [[unlikely]] fail("leb128 write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

u64 floor_leb_write_pass(const std::vector<u64> &vals) {
  floor_writer *w = floor_wopen(kValues * 10);
  if (w == nullptr) fail("floor writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (floor_w64(w, vals[i]) != 0) [[unlikely]] fail("floor write");
  floor_wclose(w);
  return 1;
}

u64 pb_varint_write_pass(const std::vector<u64> &vals) {
  const u64 cap = kValues * 10;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 n;
  {
    pio::ArrayOutputStream aos(buf.get(), static_cast<int>(cap));
    pio::CodedOutputStream out(&aos);
    for (unsigned i = 0; i < kValues; ++i) out.WriteVarint64(vals[i]);
    n = static_cast<u64>(out.ByteCount());
  }
  clobber(buf.get());
  return n + buf[0];
}

u64 inline_leb_write_pass(const std::vector<u64> &vals) {
  const u64 cap = kValues * 10;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 len = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (cap - len < 10) [[unlikely]] fail("inline leb128 write");
    u64 v = vals[i];
    while (v >= 0x80) {
      buf[len++] = static_cast<u8>(v | 0x80);
      v >>= 7;
    }
    buf[len++] = static_cast<u8>(v);
  }
  clobber(buf.get());
  return len + buf[0];
}

std::vector<u64> one_byte_values() {
  std::vector<u64> v;
  for (unsigned i = 0; i < kValues; ++i) v.push_back(g->leb1[i]);
  return v;
}

const char *string_src(unsigned i) { return reinterpret_cast<const char *>(g->block.data()) + (i * 16) % 60000; }

u64 wstring_pass() {
  tavbin_writer *w = tavbinw_open(kValues * 20, TAVBIN_BIG_ENDIAN);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (tavbinw_string_u32(w, string_src(i), g->str_len[i]) != TAVBIN_OK) [[unlikely]] fail("string write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

u64 floor_wstring_pass() {
  floor_writer *w = floor_wopen(kValues * 20);
  if (w == nullptr) fail("floor writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (floor_wstring_u32(w, string_src(i), g->str_len[i]) != 0) [[unlikely]] fail("floor string write");
  floor_wclose(w);
  return 1;
}

u64 vector_wstring_pass() {
  std::vector<u8> out;
  out.reserve(kValues * 20);
  for (unsigned i = 0; i < kValues; ++i) {
    const u32 n = g->str_len[i];
    u8 b[4];
    boost::endian::store_big_u32(b, n);
    out.insert(out.end(), b, b + 4);
    out.insert(out.end(), string_src(i), string_src(i) + n);
  }
  return out.size() + out[0];
}

u64 wblock_pass() {
  tavbin_writer *w = tavbinw_open(kBlock * kBlocks, TAVBIN_BIG_ENDIAN);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kBlocks; ++i)
    if (tavbinw_bytes(w, g->block.data() + u64{i} * kBlock, kBlock) != TAVBIN_OK) [[unlikely]] fail("bytes write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

u64 memcpy_wblock_pass() {
  std::unique_ptr<u8[]> buf(new u8[kBlock * kBlocks]);
  u64 len = 0;
  for (unsigned i = 0; i < kBlocks; ++i) {
    std::memcpy(buf.get() + len, g->block.data() + u64{i} * kBlock, kBlock);
    len += kBlock;
  }
  clobber(buf.get());
  return len + buf[0];
}

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

std::vector<Op> make_table() {
  build();
  std::vector<Op> t;
  auto add = [&t](std::string name, u64 items, std::function<u64()> run) {
    t.push_back(Op{std::move(name), items, std::move(run)});
  };
  const u64 N = kValues;

  // The floor, one per shape.
  add("floor/u8", N, [] { return floor_pass<u8, floor_u8>(g->fl); });
  add("floor/u16", N, [] { return floor_pass<u16, floor_u16>(g->fl); });
  add("floor/u32", N, [] { return floor_pass<u32, floor_u32>(g->fl); });
  add("floor/u64", N, [] { return floor_pass<u64, floor_u64>(g->fl); });
  add("floor/u8_at", N, [] { return at_pass<u8, floor_u8_at>(g->fl); });
  add("floor/u16_at", N, [] { return at_pass<u16, floor_u16_at>(g->fl); });
  add("floor/u32_at", N, [] { return at_pass<u32, floor_u32_at>(g->fl); });
  add("floor/u64_at", N, [] { return at_pass<u64, floor_u64_at>(g->fl); });
  add("floor/bits", N, [] { return bits_pass<13, floor_bits, floor_seek>(g->fl); });
  add("floor/leb128", N, [] { return leb_pass<floor_leb128, floor_seek>(g->fl); });
  add("floor/string", N, [] { return string_pass<floor_string_u32>(g->fl); });
  add("floor/skip", N, [] { return skip_pass<floor_seek, floor_seek>(g->fl); });
  add("floor/load", N, [] { return load_pass<floor_load_u32>(); });
  add("floor/w8", N, [] { return floor_write_pass<u8, floor_w8>(); });
  add("floor/w16", N, [] { return floor_write_pass<u16, floor_w16>(); });
  add("floor/w32", N, [] { return floor_write_pass<u32, floor_w32>(); });
  add("floor/w64", N, [] { return floor_write_pass<u64, floor_w64>(); });
  add("floor/wleb128", N, [] { return floor_leb_write_pass(g->mix); });
  add("floor/wstring", N, [] { return floor_wstring_pass(); });
  add("floor/store", N, [] { return store_pass<floor_store_u32>(); });

  // Fixed-width reads in both orders, and their peers.
#define READ(T, F, name)                                                                           \
  add("read/" name "_be/tavbin", N, [] { return read_pass<T, F>(g->fixed_be); });                \
  add("read/" name "_le/tavbin", N, [] { return read_pass<T, F>(g->fixed_le); });
  READ(u8, tavbin_u8, "u8")
  READ(int8_t, tavbin_i8, "i8")
  READ(u16, tavbin_u16, "u16")
  READ(int16_t, tavbin_i16, "i16")
  READ(u32, tavbin_u32, "u32")
  READ(int32_t, tavbin_i32, "i32")
  READ(float, tavbin_f32, "f32")
  READ(u64, tavbin_u64, "u64")
  READ(int64_t, tavbin_i64, "i64")
  READ(double, tavbin_f64, "f64")
#undef READ
#define PEERS(T, name)                                                                             \
  add("read/" name "_be/inline", N, [] { return inline_read_pass<T, true>(g->fixed); });         \
  add("read/" name "_le/inline", N, [] { return inline_read_pass<T, false>(g->fixed); });        \
  add("read/" name "_be/istream", N, [] { return istream_pass<T, true>(g->stream); });           \
  add("read/" name "_le/istream", N, [] { return istream_pass<T, false>(g->stream); });
  PEERS(u8, "u8")
  PEERS(u16, "u16")
  PEERS(u32, "u32")
  PEERS(u64, "u64")
#undef PEERS
  add("read/u16_be/boost", N, [] { return boost_read_pass<u16, true>(g->fixed); });
  add("read/u16_le/boost", N, [] { return boost_read_pass<u16, false>(g->fixed); });
  add("read/u32_be/boost", N, [] { return boost_read_pass<u32, true>(g->fixed); });
  add("read/u32_le/boost", N, [] { return boost_read_pass<u32, false>(g->fixed); });
  add("read/u64_be/boost", N, [] { return boost_read_pass<u64, true>(g->fixed); });
  add("read/u64_le/boost", N, [] { return boost_read_pass<u64, false>(g->fixed); });
  add("read/u32_le/protobuf", N, [] { return pb_read_pass<u32>(g->fixed); });
  add("read/u64_le/protobuf", N, [] { return pb_read_pass<u64>(g->fixed); });

  add("peek/u8/tavbin", N, [] { return read_pass<u8, tavbin_peek_u8>(g->fixed_be); });
  add("peek/u16/tavbin", N, [] { return read_pass<u16, tavbin_peek_u16>(g->fixed_be); });
  add("peek/u32/tavbin", N, [] { return read_pass<u32, tavbin_peek_u32>(g->fixed_be); });
  add("peek/u64/tavbin", N, [] { return read_pass<u64, tavbin_peek_u64>(g->fixed_be); });
  add("at/u8/tavbin", N, [] { return at_pass<u8, tavbin_u8_at>(g->fixed_be); });
  add("at/u16/tavbin", N, [] { return at_pass<u16, tavbin_u16_at>(g->fixed_be); });
  add("at/u32/tavbin", N, [] { return at_pass<u32, tavbin_u32_at>(g->fixed_be); });
  add("at/u64/tavbin", N, [] { return at_pass<u64, tavbin_u64_at>(g->fixed_be); });
  add("load/u32/tavbin", N, [] { return load_pass<tavbin_load_u32>(); });
  add("store/u32/tavbin", N, [] { return store_pass<tavbin_store_u32>(); });

  add("bits/1/tavbin", N, [] { return bits_pass<1, tavbin_bits, tavbin_seek>(g->fixed_be); });
  add("bits/7/tavbin", N, [] { return bits_pass<7, tavbin_bits, tavbin_seek>(g->fixed_be); });
  add("bits/13/tavbin", N, [] { return bits_pass<13, tavbin_bits, tavbin_seek>(g->fixed_be); });
  add("bits/32/tavbin", N, [] { return bits_pass<32, tavbin_bits, tavbin_seek>(g->fixed_be); });
  add("bits/57/tavbin", N, [] { return bits_pass<57, tavbin_bits, tavbin_seek>(g->fixed_be); });
  add("bits/64/tavbin", N, [] { return bits_pass<64, tavbin_bits, tavbin_seek>(g->fixed_be); });

  add("leb128/1byte/tavbin", N, [] { return leb_pass<tavbin_leb128, tavbin_seek>(g->leb1_r); });
  add("leb128/1byte/inline", N, [] { return inline_leb_pass(g->leb1); });
  add("leb128/1byte/protobuf", N, [] { return pb_varint_pass(g->leb1); });
  add("leb128/mix/tavbin", N, [] { return leb_pass<tavbin_leb128, tavbin_seek>(g->lebmix_r); });
  add("leb128/mix/inline", N, [] { return inline_leb_pass(g->lebmix); });
  add("leb128/mix/protobuf", N, [] { return pb_varint_pass(g->lebmix); });

  add("string/u32/tavbin", N, [] {
    tavbin_seek(g->str_r, 0);
    return string_pass<tavbin_string_u32>(g->str_r);
  });
  add("string/u32/inline", N, [] { return inline_string_pass(g->strings); });
  add("skip/4/tavbin", N, [] { return skip_pass<tavbin_skip, tavbin_seek>(g->fixed_be); });

  const u64 B = u64{kBlock} * kBlocks;
  add("block/bytes/tavbin", B, [] { return bytes_block_pass(); });
  add("block/ascii/tavbin", B, [] { return ascii_block_pass(); });
  add("block/bytes/memcpy", B, [] { return memcpy_block_pass(); });

  // Writer appends.
#define WRITE(T, F, name)                                                                          \
  add("write/" name "_be/tavbin", N, [] { return write_pass<T, F>(TAVBIN_BIG_ENDIAN); });        \
  add("write/" name "_le/tavbin", N, [] { return write_pass<T, F>(TAVBIN_LITTLE_ENDIAN); });
  WRITE(u8, tavbinw_u8, "u8")
  WRITE(u16, tavbinw_u16, "u16")
  WRITE(int16_t, tavbinw_i16, "i16")
  WRITE(u32, tavbinw_u32, "u32")
  WRITE(int32_t, tavbinw_i32, "i32")
  WRITE(float, tavbinw_f32, "f32")
  WRITE(u64, tavbinw_u64, "u64")
  WRITE(int64_t, tavbinw_i64, "i64")
  WRITE(double, tavbinw_f64, "f64")
#undef WRITE
  add("write/u8_be/vector", N, [] { return vector_write_pass<u8, true>(); });
  add("write/u16_be/vector", N, [] { return vector_write_pass<u16, true>(); });
  add("write/u32_be/vector", N, [] { return vector_write_pass<u32, true>(); });
  add("write/u64_be/vector", N, [] { return vector_write_pass<u64, true>(); });
  add("write/u32_be/boost", N, [] { return boost_write_pass<u32, true>(); });
  add("write/u64_be/boost", N, [] { return boost_write_pass<u64, true>(); });
  add("write/u32_le/protobuf", N, [] { return pb_write_pass<u32>(); });
  add("write/u64_le/protobuf", N, [] { return pb_write_pass<u64>(); });

  add("wleb128/1byte/tavbin", N, [] {
    static const std::vector<u64> vals = one_byte_values();
    return leb_write_pass(vals);
  });
  add("wleb128/1byte/protobuf", N, [] {
    static const std::vector<u64> vals = one_byte_values();
    return pb_varint_write_pass(vals);
  });
  add("wleb128/mix/tavbin", N, [] { return leb_write_pass(g->mix); });
  add("wleb128/mix/inline", N, [] { return inline_leb_write_pass(g->mix); });
  add("wleb128/mix/protobuf", N, [] { return pb_varint_write_pass(g->mix); });

  add("wstring/u32/tavbin", N, [] { return wstring_pass(); });
  add("wstring/u32/vector", N, [] { return vector_wstring_pass(); });
  add("wblock/bytes/tavbin", B, [] { return wblock_pass(); });
  add("wblock/bytes/memcpy", B, [] { return memcpy_wblock_pass(); });

  // Growth from an empty writer (64 bytes, doubled seven times) against an empty vector.
  add("grow/u32/tavbin", N, [] { return write_pass<u32, tavbinw_u32>(TAVBIN_BIG_ENDIAN, 0); });
  add("grow/u32/vector", N, [] { return vector_write_pass<u32, true>(false); });
  return t;
}

} // namespace

const std::vector<Op> &ops() {
  static const std::vector<Op> table = make_table();
  return table;
}

} // namespace bench
