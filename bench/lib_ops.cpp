// lib_ops.cpp - the library's operations. This file is compiled once for each
// build of the library measured: as it is, against this tree's library, and with
// a baseline, once more with every exported name renamed to the baseline
// library's (TAVBIN_BENCH_ADD_OPS names the entry point then), so both builds run
// the very same passes in one benchmark run.
#include "ops.hpp"

#include "tavbin.h"

#ifndef TAVBIN_BENCH_ADD_OPS
#define TAVBIN_BENCH_ADD_OPS add_library_ops
#endif

namespace bench {
namespace {

// The library's readers over the shared inputs, opened once.
struct Readers {
  tavbin_reader *fixed_be, *fixed_le, *leb1, *lebmix, *lebmix_long, *strings, *block;
};

Readers *rd = nullptr;

tavbin_reader *open_or_fail(const std::vector<u8> &d, tavbin_endian e) {
  tavbin_reader *r = tavbin_open(d.data(), d.size(), e);
  if (r == nullptr) fail("set-up");
  return r;
}

u64 bytes_block_pass() {
  tavbin_seek(rd->block, 0);
  u8 *dst = g->dst.data();
  for (unsigned i = 0; i < kBlocks; ++i) {
    if (tavbin_bytes(rd->block, dst, kBlock) != TAVBIN_OK) [[unlikely]]
      fail("bytes");
    clobber(dst);
  }
  return dst[0];
}

u64 ascii_block_pass() {
  tavbin_seek(rd->block, 0);
  char *dst = reinterpret_cast<char *>(g->dst.data());
  for (unsigned i = 0; i < kBlocks; ++i) {
    if (tavbin_ascii(rd->block, dst, kBlock) != TAVBIN_OK) [[unlikely]]
      fail("ascii");
    clobber(dst);
  }
  return static_cast<u8>(dst[0]);
}

// Writer passes. Each opens a writer with room for the whole pass (or none, for
// growth), appends, and closes it: one allocation per 4096 values.
template <typename T, auto F> u64 write_pass(tavbin_endian e, uint64_t cap = kValues * 8) {
  tavbin_writer *w = tavbinw_open(cap, e);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (F(w, value_at<T>(i)) != TAVBIN_OK) [[unlikely]]
      fail("write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

u64 leb_write_pass(const std::vector<u64> &vals) {
  tavbin_writer *w = tavbinw_open(vals.size() * 10, TAVBIN_LITTLE_ENDIAN);
  if (w == nullptr) fail("writer");
  for (u64 v : vals)
    if (tavbinw_leb128(w, v) != TAVBIN_OK) [[unlikely]]
      fail("leb128 write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

u64 wstring_pass() {
  tavbin_writer *w = tavbinw_open(kValues * 20, TAVBIN_BIG_ENDIAN);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kValues; ++i)
    if (tavbinw_string_u32(w, string_src(i), g->wstr_len[i]) != TAVBIN_OK) [[unlikely]]
      fail("string write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

u64 wblock_pass() {
  tavbin_writer *w = tavbinw_open(kBlock * kBlocks, TAVBIN_BIG_ENDIAN);
  if (w == nullptr) fail("writer");
  for (unsigned i = 0; i < kBlocks; ++i)
    if (tavbinw_bytes(w, g->block.data() + u64{i} * kBlock, kBlock) != TAVBIN_OK) [[unlikely]]
      fail("bytes write");
  const u64 n = tavbinw_len(w) + tavbinw_data(w)[0];
  tavbinw_close(w);
  return n;
}

} // namespace

void TAVBIN_BENCH_ADD_OPS(std::vector<Op> &t, const char *impl) {
  const Inputs &in = *g;
  rd = new Readers{
      open_or_fail(in.fixed, TAVBIN_BIG_ENDIAN),          open_or_fail(in.fixed, TAVBIN_LITTLE_ENDIAN),
      open_or_fail(in.leb1, TAVBIN_LITTLE_ENDIAN),        open_or_fail(in.lebmix, TAVBIN_LITTLE_ENDIAN),
      open_or_fail(in.lebmix_long, TAVBIN_LITTLE_ENDIAN), open_or_fail(in.strings, TAVBIN_BIG_ENDIAN),
      open_or_fail(in.block, TAVBIN_BIG_ENDIAN)};
  const std::string suffix = std::string("/") + impl;
  auto add = [&t, &suffix](const std::string &name, u64 items, std::function<u64()> run) {
    t.push_back(Op{name + suffix, items, std::move(run)});
  };
  const u64 N = kValues;
  const u64 B = u64{kBlock} * kBlocks;

  // Fixed-width reads in both orders.
#define READ(T, F, name)                                                                                     \
  add("read/" name "_be", N, [] { return read_pass<T, F, tavbin_seek>(rd->fixed_be); });                     \
  add("read/" name "_le", N, [] { return read_pass<T, F, tavbin_seek>(rd->fixed_le); });
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

  add("peek/u8", N, [] { return read_pass<u8, tavbin_peek_u8, tavbin_seek>(rd->fixed_be); });
  add("peek/u16", N, [] { return read_pass<u16, tavbin_peek_u16, tavbin_seek>(rd->fixed_be); });
  add("peek/u32", N, [] { return read_pass<u32, tavbin_peek_u32, tavbin_seek>(rd->fixed_be); });
  add("peek/u64", N, [] { return read_pass<u64, tavbin_peek_u64, tavbin_seek>(rd->fixed_be); });
  add("at/u8", N, [] { return at_pass<u8, tavbin_u8_at>(rd->fixed_be); });
  add("at/u16", N, [] { return at_pass<u16, tavbin_u16_at>(rd->fixed_be); });
  add("at/u32", N, [] { return at_pass<u32, tavbin_u32_at>(rd->fixed_be); });
  add("at/u64", N, [] { return at_pass<u64, tavbin_u64_at>(rd->fixed_be); });
  add("load/u32", N, [] { return load_pass<tavbin_load_u32>(); });
  add("store/u32", N, [] { return store_pass<tavbin_store_u32>(); });

  add("bits/1", N, [] { return bits_pass<1, tavbin_bits, tavbin_seek>(rd->fixed_be); });
  add("bits/7", N, [] { return bits_pass<7, tavbin_bits, tavbin_seek>(rd->fixed_be); });
  add("bits/13", N, [] { return bits_pass<13, tavbin_bits, tavbin_seek>(rd->fixed_be); });
  add("bits/32", N, [] { return bits_pass<32, tavbin_bits, tavbin_seek>(rd->fixed_be); });
  add("bits/57", N, [] { return bits_pass<57, tavbin_bits, tavbin_seek>(rd->fixed_be); });
  add("bits/64", N, [] { return bits_pass<64, tavbin_bits, tavbin_seek>(rd->fixed_be); });

  add("leb128/1byte", N, [] { return leb_pass<tavbin_leb128, tavbin_seek>(rd->leb1); });
  add("leb128/mix", N, [] { return leb_pass<tavbin_leb128, tavbin_seek>(rd->lebmix); });
  add("leb128/longmix", kLongValues,
      [] { return leb_pass<tavbin_leb128, tavbin_seek, kLongValues>(rd->lebmix_long); });
  add("string/u32", N, [] { return string_pass<tavbin_string_u32, tavbin_seek>(rd->strings); });
  add("skip/4", N, [] { return skip_pass<tavbin_skip, tavbin_seek>(rd->fixed_be); });
  add("block/bytes", B, [] { return bytes_block_pass(); });
  add("block/ascii", B, [] { return ascii_block_pass(); });

  // Writer appends.
#define WRITE(T, F, name)                                                                                    \
  add("write/" name "_be", N, [] { return write_pass<T, F>(TAVBIN_BIG_ENDIAN); });                           \
  add("write/" name "_le", N, [] { return write_pass<T, F>(TAVBIN_LITTLE_ENDIAN); });
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

  add("wleb128/1byte", N, [] { return leb_write_pass(g->leb1_values); });
  add("wleb128/mix", N, [] { return leb_write_pass(g->mix); });
  add("wleb128/longmix", kLongValues, [] { return leb_write_pass(g->mix_long); });
  add("wstring/u32", N, [] { return wstring_pass(); });
  add("wblock/bytes", B, [] { return wblock_pass(); });
  // Growth from an empty writer: 64 bytes, doubled seven times.
  add("grow/u32", N, [] { return write_pass<u32, tavbinw_u32>(TAVBIN_BIG_ENDIAN, 0); });
}

} // namespace bench
