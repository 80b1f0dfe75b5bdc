// The C++ header on its own, under the strictest flags a user might build with:
// C++17, pedantic, no exceptions, no RTTI.
#include "tavbin.hpp"

int main() {
  auto w = tavbin::writer::open();
  (void)w.sleb128(-1);
  (void)w.patch_u16(0, 1);
  auto r = tavbin::reader::open(w.bytes());
  tavbin::cursor c(r);
  const std::int64_t n = c.sleb128() + static_cast<std::int64_t>(c.cstring(8).size() + c.sub(1).size());
  const std::error_code ec = tavbin::errc::eof;
  return r.u8().value_or(0) + (ec ? 0 : 1) + (n == 0 ? 0 : 1) + w.first_error() + c.status();
}
