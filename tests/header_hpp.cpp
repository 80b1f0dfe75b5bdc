// The C++ header on its own, under the strictest flags a user might build with:
// C++17, pedantic, no exceptions, no RTTI.
#include "tavbin.hpp"

int main() {
  auto w = tavbin::writer::open();
  auto r = tavbin::reader::open(w.bytes());
  const std::error_code ec = tavbin::errc::eof;
  return r.u8().value_or(0) + (ec ? 0 : 1);
}
