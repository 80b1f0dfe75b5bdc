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
  auto r = tavbin::reader::open(w.bytes());
  tavbin::cursor c(r);
  const std::int64_t n = c.sleb128() + static_cast<std::int64_t>(c.cstring(8).size() + c.sub(1).size());
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
