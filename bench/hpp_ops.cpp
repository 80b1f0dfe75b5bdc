// hpp_ops.cpp - the C++ wrapper's reads beside the reader's: a read through
// tavbin::cursor against the same read through tavbin::reader, and n values
// through reader::array against n calls of the single read.
#include "ops.hpp"

#include "tavbin.hpp"

namespace bench {
namespace {

// Values per array() call, as the goal is stated: 1,000 u32 values.
constexpr unsigned kArray = 1000;
constexpr unsigned kArrays = 4;

tavbin::reader &wrapper(tavbin::endian order) {
  static tavbin::reader big = tavbin::reader::open(tavbin::byte_view(g->fixed.data(), g->fixed.size()));
  static tavbin::reader little =
      tavbin::reader::open(tavbin::byte_view(g->fixed.data(), g->fixed.size()), tavbin::endian::little);
  return order == tavbin::endian::big ? big : little;
}

template <typename T, tavbin::endian Order> u64 reader_pass() {
  tavbin::reader &r = wrapper(Order);
  if (r.seek(0) != TAVBIN_OK) fail("seek");
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    tavbin::result<T> v;
    if constexpr (sizeof(T) == 1)
      v = r.u8();
    else if constexpr (sizeof(T) == 4)
      v = r.u32();
    else
      v = r.u64();
    if (!v) [[unlikely]]
      fail("reader");
    sum += v.value;
  }
  return sum;
}

// The record checked once, at the end, as a cursor is used.
template <typename T, tavbin::endian Order> u64 cursor_pass() {
  tavbin::reader &r = wrapper(Order);
  if (r.seek(0) != TAVBIN_OK) fail("seek");
  tavbin::cursor c(r);
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if constexpr (sizeof(T) == 1)
      sum += c.u8();
    else if constexpr (sizeof(T) == 4)
      sum += c.u32();
    else
      sum += c.u64();
  }
  if (!c) [[unlikely]]
    fail("cursor");
  return sum;
}

template <tavbin::endian Order> u64 calls_pass() {
  tavbin::reader &r = wrapper(Order);
  if (r.seek(0) != TAVBIN_OK) fail("seek");
  static u32 out[kArray];
  u64 sum = 0;
  for (unsigned k = 0; k < kArrays; ++k) {
    for (unsigned i = 0; i < kArray; ++i) {
      const auto v = r.u32();
      if (!v) [[unlikely]]
        fail("u32");
      out[i] = v.value;
    }
    clobber(out);
    sum += out[k];
  }
  return sum;
}

template <tavbin::endian Order> u64 array_pass() {
  tavbin::reader &r = wrapper(Order);
  if (r.seek(0) != TAVBIN_OK) fail("seek");
  static u32 out[kArray];
  u64 sum = 0;
  for (unsigned k = 0; k < kArrays; ++k) {
    if (r.array(out, kArray) != TAVBIN_OK) [[unlikely]]
      fail("array");
    clobber(out);
    sum += out[k];
  }
  return sum;
}

} // namespace

void add_hpp_ops(std::vector<Op> &t) {
  constexpr auto big = tavbin::endian::big, little = tavbin::endian::little;
  auto add = [&t](std::string name, u64 items, std::function<u64()> run) {
    t.push_back(Op{std::move(name), items, std::move(run)});
  };
  add("hpp/u8/reader", kValues, [] { return reader_pass<u8, big>(); });
  add("hpp/u8/cursor", kValues, [] { return cursor_pass<u8, big>(); });
  add("hpp/u32_le/reader", kValues, [] { return reader_pass<u32, little>(); });
  add("hpp/u32_le/cursor", kValues, [] { return cursor_pass<u32, little>(); });
  add("hpp/u64_be/reader", kValues, [] { return reader_pass<u64, big>(); });
  add("hpp/u64_be/cursor", kValues, [] { return cursor_pass<u64, big>(); });
  add("hpp/array_u32_le/calls", u64{kArray} * kArrays, [] { return calls_pass<little>(); });
  add("hpp/array_u32_le/array", u64{kArray} * kArrays, [] { return array_pass<little>(); });
  add("hpp/array_u32_be/calls", u64{kArray} * kArrays, [] { return calls_pass<big>(); });
  add("hpp/array_u32_be/array", u64{kArray} * kArrays, [] { return array_pass<big>(); });
}

} // namespace bench
