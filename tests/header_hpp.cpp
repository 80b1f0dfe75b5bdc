// The C++ header on its own, under the strictest flags a user might build with:
// C++17, pedantic, no exceptions, no RTTI. tools/lint.sh analyses the header
// through this file, so it instantiates every template the header has.
#include "tavbin.hpp"

int main() {
  auto w = tavbin::writer::open();
  (void)w.sleb128(-1);
  (void)w.patch_u16(0, 1);
  (void)w.u24(1);
  const double d[1] = {0.5};
  (void)w.array(d, 1);
  (void)w.string_u8("a");
  (void)w.string_u16("b");
  (void)w.string_leb128("c");
  auto r = tavbin::reader::open(w.bytes());
  tavbin::cursor c(r);
  char s[4];
  const std::size_t strings = r.string_u8(3).value.size() + r.string_u16(s).value.size() +
                              c.string_leb128(s, sizeof s, 3).size() + c.string_u32(3).size() +
                              r.cstring_at(0, 3).value.size();
  const std::int64_t n = c.sleb128() + c.sleb128_i32() + c.leb128_u32() + r.leb128_u32().value +
                         static_cast<std::int64_t>(c.cstring(8).size() + c.sub(1).size() + strings);
  std::uint16_t u[1] = {};
  c.array(u, 1);
  c.seek(c.tell() + c.remaining());
  const std::error_code ec = tavbin::make_error_code(r.last_error());
  tavbin::lsb_bits bits(r);
  const auto field = bits.read(3);
  bits.done();
  return r.u8().value_or(0) + (ec ? 0 : 1) + (n == 0 ? 0 : 1) + w.first_error() + c.status() +
         (field ? 1 : 0) + r.i24().value + static_cast<int>(r.origin());
}
