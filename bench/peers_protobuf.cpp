// peers_protobuf.cpp - protobuf's coded streams, CodedInputStream over the input
// and CodedOutputStream over an ArrayOutputStream: built when protobuf is found
// (Debian: libprotobuf-dev).
#include "ops.hpp"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <memory>

namespace bench {
namespace {

namespace pio = google::protobuf::io;

template <typename T> u64 pb_read_pass(const std::vector<u8> &d) {
  pio::CodedInputStream in(d.data(), static_cast<int>(d.size()));
  u64 sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    T v;
    bool ok;
    if constexpr (sizeof(T) == 4)
      ok = in.ReadLittleEndian32(&v);
    else
      ok = in.ReadLittleEndian64(&v);
    if (!ok) [[unlikely]]
      fail("protobuf");
    sum += v;
  }
  return sum;
}

u64 pb_varint_pass(const std::vector<u8> &d, unsigned count = kValues) {
  pio::CodedInputStream in(d.data(), static_cast<int>(d.size()));
  u64 sum = 0;
  for (unsigned i = 0; i < count; ++i) {
    u64 v;
    if (!in.ReadVarint64(&v)) [[unlikely]]
      fail("protobuf varint");
    sum += v;
  }
  return sum;
}

template <typename T> u64 pb_write_pass() {
  const u64 cap = kValues * 8;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 n;
  {
    pio::ArrayOutputStream aos(buf.get(), static_cast<int>(cap));
    pio::CodedOutputStream out(&aos);
    for (unsigned i = 0; i < kValues; ++i) {
      if constexpr (sizeof(T) == 4)
        out.WriteLittleEndian32(value_at<T>(i));
      else
        out.WriteLittleEndian64(value_at<T>(i));
    }
    n = static_cast<u64>(out.ByteCount());
  }
  clobber(buf.get());
  return n + buf[0];
}

u64 pb_varint_write_pass(const std::vector<u64> &vals) {
  const u64 cap = vals.size() * 10;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 n;
  {
    pio::ArrayOutputStream aos(buf.get(), static_cast<int>(cap));
    pio::CodedOutputStream out(&aos);
    for (u64 v : vals)
      out.WriteVarint64(v);
    n = static_cast<u64>(out.ByteCount());
  }
  clobber(buf.get());
  return n + buf[0];
}

} // namespace

void add_protobuf_ops(std::vector<Op> &t) {
  const u64 N = kValues;
  t.push_back({"read/u32_le/protobuf", N, [] { return pb_read_pass<u32>(g->fixed); }});
  t.push_back({"read/u64_le/protobuf", N, [] { return pb_read_pass<u64>(g->fixed); }});
  t.push_back({"leb128/1byte/protobuf", N, [] { return pb_varint_pass(g->leb1); }});
  t.push_back({"leb128/mix/protobuf", N, [] { return pb_varint_pass(g->lebmix); }});
  t.push_back(
      {"leb128/longmix/protobuf", kLongValues, [] { return pb_varint_pass(g->lebmix_long, kLongValues); }});
  t.push_back({"write/u32_le/protobuf", N, [] { return pb_write_pass<u32>(); }});
  t.push_back({"write/u64_le/protobuf", N, [] { return pb_write_pass<u64>(); }});
  t.push_back({"wleb128/1byte/protobuf", N, [] { return pb_varint_write_pass(g->leb1_values); }});
  t.push_back({"wleb128/mix/protobuf", N, [] { return pb_varint_write_pass(g->mix); }});
  t.push_back({"wleb128/longmix/protobuf", kLongValues, [] { return pb_varint_write_pass(g->mix_long); }});
}

} // namespace bench
