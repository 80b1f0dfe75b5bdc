// ops.cpp - the operations of ops.hpp: the call floor, inline code and the
// standard library's peers, each doing the same work per value as the library's
// operations (lib_ops.cpp); and the table of them all, with the peer libraries'
// operations (peers_*.cpp) where they are built.
#include "ops.hpp"

#include "floor.h"

#include <cstring>
#include <memory>
#include <random>
#include <sstream>

namespace bench {
namespace {

template <typename T> T bswap_any(T v) {
  if constexpr (sizeof(T) == 1)
    return v;
  else if constexpr (sizeof(T) == 2)
    return static_cast<T>(__builtin_bswap16(static_cast<u16>(v)));
  else if constexpr (sizeof(T) == 4)
    return static_cast<T>(__builtin_bswap32(static_cast<u32>(v)));
  else
    return static_cast<T>(__builtin_bswap64(static_cast<u64>(v)));
}

void leb_encode(std::vector<u8> &out, u64 v) {
  while (v >= 0x80) {
    out.push_back(static_cast<u8>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<u8>(v));
}

// LEB128 numbers of 1 to 10 bytes, lengths uniform.
void make_mix(std::mt19937_64 &rng, unsigned count, std::vector<u64> &values, std::vector<u8> &bytes) {
  for (unsigned i = 0; i < count; ++i) {
    const unsigned len = 1 + static_cast<unsigned>(rng() % 10); // bytes of the encoding
    u64 v = len == 1
                ? rng() & 0x7F
                : (rng() | (u64{1} << (7 * (len - 1)))) & (len == 10 ? ~u64{0} : (u64{1} << (7 * len)) - 1);
    if (len == 10) v |= u64{1} << 63;
    values.push_back(v);
    leb_encode(bytes, v);
  }
  bytes.shrink_to_fit();
}

Inputs build() {
  Inputs in;
  std::mt19937_64 rng(20261208);
  in.fixed.resize(kValues * 8);
  for (auto &b : in.fixed)
    b = static_cast<u8>(rng());
  in.leb1.resize(kValues);
  for (auto &b : in.leb1)
    b = static_cast<u8>(rng() & 0x7F);
  in.leb1_values.assign(in.leb1.begin(), in.leb1.end());
  make_mix(rng, kValues, in.mix, in.lebmix);
  for (unsigned i = 0; i < kValues; ++i) {
    const u32 len = 8 + static_cast<u32>(rng() % 24);
    in.str_len.push_back(len);
    in.wstr_len.push_back(8 + static_cast<u32>(rng() % 9));
    for (int k = 3; k >= 0; --k)
      in.strings.push_back(static_cast<u8>(len >> (8 * k)));
    for (u32 k = 0; k < len; ++k)
      in.strings.push_back(static_cast<u8>('a' + rng() % 26));
  }
  in.strings.shrink_to_fit();
  in.block.resize(kBlock * kBlocks);
  for (auto &b : in.block)
    b = static_cast<u8>(rng());
  in.dst.resize(kBlock * kBlocks);
  for (unsigned i = 0; i < kValues; ++i) {
    in.v64.push_back(rng());
    in.v32.push_back(static_cast<u32>(in.v64.back() >> 16));
  }
  make_mix(rng, kLongValues, in.mix_long, in.lebmix_long);
  return in;
}

// ---------------------------------------------------------------------------
// Reader passes
// ---------------------------------------------------------------------------

// Inline code: the bounds test and decode a caller would write by hand.
template <typename T, bool Big> u64 inline_read_pass(const std::vector<u8> &d) {
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (size - pos < sizeof(T)) [[unlikely]]
      fail("inline");
    T v;
    std::memcpy(&v, p + pos, sizeof v);
    if constexpr (Big == (std::endian::native == std::endian::little)) v = bswap_any(v);
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
    if (!is) [[unlikely]]
      fail("istream");
    if constexpr (Big == (std::endian::native == std::endian::little)) v = bswap_any(v);
    sum += v;
  }
  return sum;
}

u64 inline_leb_pass(const std::vector<u8> &d, unsigned count = kValues) {
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  for (unsigned i = 0; i < count; ++i) {
    u64 v = 0;
    for (unsigned shift = 0;; shift += 7) {
      if (pos == size || shift >= 70) [[unlikely]]
        fail("inline leb128");
      const u8 b = p[pos++];
      v |= static_cast<u64>(b & 0x7F) << shift;
      if (b < 0x80) break;
    }
    sum += v;
  }
  return sum;
}

u64 inline_string_pass(const std::vector<u8> &d) {
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  char buf[32];
  for (unsigned i = 0; i < kValues; ++i) {
    if (size - pos < 4) [[unlikely]]
      fail("inline string");
    u32 len;
    std::memcpy(&len, p + pos, 4);
    len = __builtin_bswap32(len);
    if (len > 31 || size - pos - 4 < len) [[unlikely]]
      fail("inline string");
    std::memcpy(buf, p + pos + 4, len);
    buf[len] = '\0';
    pos += 4 + len;
    sum += len + static_cast<u8>(buf[0]);
  }
  return sum;
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

// ---------------------------------------------------------------------------
// Writer passes
// ---------------------------------------------------------------------------

template <typename T, auto F> u64 floor_write_pass() {
  floor_writer *w = floor_wopen(kValues * 8);
  if (w == nullptr) fail("floor writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (F(w, value_at<T>(i)) != 0) [[unlikely]]
      fail("floor write");
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

u64 floor_leb_write_pass(const std::vector<u64> &vals) {
  floor_writer *w = floor_wopen(kValues * 10);
  if (w == nullptr) fail("floor writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (floor_w64(w, vals[i]) != 0) [[unlikely]]
      fail("floor write");
  floor_wclose(w);
  return 1;
}

u64 inline_leb_write_pass(const std::vector<u64> &vals) {
  const u64 cap = vals.size() * 10;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 len = 0;
  for (u64 v : vals) {
    if (cap - len < 10) [[unlikely]]
      fail("inline leb128 write");
    while (v >= 0x80) {
      buf[len++] = static_cast<u8>(v | 0x80);
      v >>= 7;
    }
    buf[len++] = static_cast<u8>(v);
  }
  clobber(buf.get());
  return len + buf[0];
}

u64 floor_wstring_pass() {
  floor_writer *w = floor_wopen(kValues * 20);
  if (w == nullptr) fail("floor writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (floor_wstring_u32(w, string_src(i), g->wstr_len[i]) != 0) [[unlikely]]
      fail("floor string write");
  floor_wclose(w);
  return 1;
}

u64 vector_wstring_pass() {
  std::vector<u8> out;
  out.reserve(kValues * 20);
  for (unsigned i = 0; i < kValues; ++i) {
    const u32 n = g->wstr_len[i];
    const u32 be = std::endian::native == std::endian::little ? bswap_any(n) : n;
    u8 b[4];
    std::memcpy(b, &be, 4);
    out.insert(out.end(), b, b + 4);
    out.insert(out.end(), string_src(i), string_src(i) + n);
  }
  return out.size() + out[0];
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

// The floor's handle and the stream peer's stream, over the shared inputs.
floor_reader *fl = nullptr;
std::istringstream *stream = nullptr;

std::vector<Op> make_table() {
  const Inputs &in = *g;
  fl = floor_open(in.fixed.data(), in.fixed.size());
  if (fl == nullptr) fail("set-up");
  stream = new std::istringstream(std::string(in.fixed.begin(), in.fixed.end()));
  std::vector<Op> t;
  auto add = [&t](std::string name, u64 items, std::function<u64()> run) {
    t.push_back(Op{std::move(name), items, std::move(run)});
  };
  const u64 N = kValues;

  // The floor: the cursor floor, then one per shape.
  add("floor/cursor", N, [] { return read_pass<u8, floor_cursor, floor_seek>(fl); });
  add("floor/u8", N, [] { return read_pass<u8, floor_u8, floor_seek>(fl); });
  add("floor/u16", N, [] { return read_pass<u16, floor_u16, floor_seek>(fl); });
  add("floor/u32", N, [] { return read_pass<u32, floor_u32, floor_seek>(fl); });
  add("floor/u64", N, [] { return read_pass<u64, floor_u64, floor_seek>(fl); });
  add("floor/u8_at", N, [] { return at_pass<u8, floor_u8_at>(fl); });
  add("floor/u16_at", N, [] { return at_pass<u16, floor_u16_at>(fl); });
  add("floor/u32_at", N, [] { return at_pass<u32, floor_u32_at>(fl); });
  add("floor/u64_at", N, [] { return at_pass<u64, floor_u64_at>(fl); });
  add("floor/bits", N, [] { return bits_pass<13, floor_bits, floor_seek>(fl); });
  add("floor/leb128", N, [] { return leb_pass<floor_leb128, floor_seek>(fl); });
  add("floor/string", N, [] { return string_pass<floor_string_u32, floor_seek>(fl); });
  add("floor/skip", N, [] { return skip_pass<floor_seek, floor_seek>(fl); });
  add("floor/load", N, [] { return load_pass<floor_load_u32>(); });
  add("floor/w8", N, [] { return floor_write_pass<u8, floor_w8>(); });
  add("floor/w16", N, [] { return floor_write_pass<u16, floor_w16>(); });
  add("floor/w32", N, [] { return floor_write_pass<u32, floor_w32>(); });
  add("floor/w64", N, [] { return floor_write_pass<u64, floor_w64>(); });
  add("floor/wleb128", N, [] { return floor_leb_write_pass(g->mix); });
  add("floor/wstring", N, [] { return floor_wstring_pass(); });
  add("floor/store", N, [] { return store_pass<floor_store_u32>(); });

  // The library, and the build it is compared with.
  add_library_ops(t, "tavbin");
  add_hpp_ops(t);
#ifdef TAVBIN_BENCH_BASELINE
  add_baseline_ops(t, "baseline");
#endif

  // Peers of the fixed-width reads.
#define PEERS(T, name)                                                                                       \
  add("read/" name "_be/inline", N, [] { return inline_read_pass<T, true>(g->fixed); });                     \
  add("read/" name "_le/inline", N, [] { return inline_read_pass<T, false>(g->fixed); });                    \
  add("read/" name "_be/istream", N, [] { return istream_pass<T, true>(*stream); });                         \
  add("read/" name "_le/istream", N, [] { return istream_pass<T, false>(*stream); });
  PEERS(u8, "u8")
  PEERS(u16, "u16")
  PEERS(u32, "u32")
  PEERS(u64, "u64")
#undef PEERS

  add("leb128/1byte/inline", N, [] { return inline_leb_pass(g->leb1); });
  add("leb128/mix/inline", N, [] { return inline_leb_pass(g->lebmix); });
  add("leb128/longmix/inline", kLongValues, [] { return inline_leb_pass(g->lebmix_long, kLongValues); });
  add("string/u32/inline", N, [] { return inline_string_pass(g->strings); });
  add("block/bytes/memcpy", u64{kBlock} * kBlocks, [] { return memcpy_block_pass(); });

  // Peers of the appends.
  add("write/u8_be/vector", N, [] { return vector_write_pass<u8, true>(); });
  add("write/u16_be/vector", N, [] { return vector_write_pass<u16, true>(); });
  add("write/u32_be/vector", N, [] { return vector_write_pass<u32, true>(); });
  add("write/u64_be/vector", N, [] { return vector_write_pass<u64, true>(); });
  add("wleb128/mix/inline", N, [] { return inline_leb_write_pass(g->mix); });
  add("wleb128/longmix/inline", kLongValues, [] { return inline_leb_write_pass(g->mix_long); });
  add("wstring/u32/vector", N, [] { return vector_wstring_pass(); });
  add("wblock/bytes/memcpy", u64{kBlock} * kBlocks, [] { return memcpy_wblock_pass(); });
  add("grow/u32/vector", N, [] { return vector_write_pass<u32, true>(false); });

#ifdef TAVBIN_BENCH_BOOST
  add_boost_ops(t);
#endif
#ifdef TAVBIN_BENCH_PROTOBUF
  add_protobuf_ops(t);
#endif
  return t;
}

} // namespace

Inputs *g = nullptr;

const std::vector<Op> &ops() {
  static const std::vector<Op> table = [] {
    g = new Inputs(build());
    return make_table();
  }();
  return table;
}

} // namespace bench
