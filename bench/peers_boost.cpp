// peers_boost.cpp - Boost.Endian's loads and stores behind the same bounds tests
// as the inline code: built when Boost is found (Debian: libboost-dev).
#include "ops.hpp"

#include <boost/endian/conversion.hpp>

#include <memory>

namespace bench {
namespace {

// Boost.Endian's unaligned loads behind the same bounds test.
template <typename T, bool Big> u64 boost_read_pass(const std::vector<u8> &d) {
  using namespace boost::endian;
  const u8 *p = d.data();
  const u64 size = d.size();
  u64 pos = 0, sum = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (size - pos < sizeof(T)) [[unlikely]]
      fail("boost");
    T v;
    if constexpr (Big)
      v = endian_load<T, sizeof(T), order::big>(p + pos);
    else
      v = endian_load<T, sizeof(T), order::little>(p + pos);
    pos += sizeof(T);
    sum += v;
  }
  return sum;
}

// Boost.Endian stores into a buffer of known capacity behind a capacity test.
template <typename T, bool Big> u64 boost_write_pass() {
  using namespace boost::endian;
  const u64 cap = kValues * 8;
  std::unique_ptr<u8[]> buf(new u8[cap]);
  u64 len = 0;
  for (unsigned i = 0; i < kValues; ++i) {
    if (cap - len < sizeof(T)) [[unlikely]]
      fail("boost store");
    if constexpr (Big)
      endian_store<T, sizeof(T), order::big>(buf.get() + len, value_at<T>(i));
    else
      endian_store<T, sizeof(T), order::little>(buf.get() + len, value_at<T>(i));
    len += sizeof(T);
  }
  clobber(buf.get());
  return len + buf[0];
}

} // namespace

void add_boost_ops(std::vector<Op> &t) {
  const u64 N = kValues;
  t.push_back({"read/u16_be/boost", N, [] { return boost_read_pass<u16, true>(g->fixed); }});
  t.push_back({"read/u16_le/boost", N, [] { return boost_read_pass<u16, false>(g->fixed); }});
  t.push_back({"read/u32_be/boost", N, [] { return boost_read_pass<u32, true>(g->fixed); }});
  t.push_back({"read/u32_le/boost", N, [] { return boost_read_pass<u32, false>(g->fixed); }});
  t.push_back({"read/u64_be/boost", N, [] { return boost_read_pass<u64, true>(g->fixed); }});
  t.push_back({"read/u64_le/boost", N, [] { return boost_read_pass<u64, false>(g->fixed); }});
  t.push_back({"write/u32_be/boost", N, [] { return boost_write_pass<u32, true>(); }});
  t.push_back({"write/u64_be/boost", N, [] { return boost_write_pass<u64, true>(); }});
}

} // namespace bench
