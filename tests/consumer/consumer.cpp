// A C++17 program outside the library's tree, through the installed tavbin.hpp.
#include <tavbin.hpp>

#include <cstdio>
#include <string_view>

int main() {
  if (std::string_view(TAVBIN_VERSION_STRING) != PACKAGE_VERSION) {
    std::printf("consumer_cpp: header version %s, package version %s\n", TAVBIN_VERSION_STRING,
                PACKAGE_VERSION);
    return 1;
  }
  auto w = tavbin::writer::open(tavbin::endian::big);
  const bool written = w && w.u32(0xCAFEF00Du) == TAVBIN_OK && w.string_u32("hi") == TAVBIN_OK;
  auto r = tavbin::reader::open(w.bytes(), tavbin::endian::big);
  auto magic = r.u32();
  char name[8];
  auto text = r.string_u32(name);
  const bool ok =
      written && magic && magic.value == 0xCAFEF00Du && text && text.value == "hi" && r.remaining() == 0;
  std::puts(ok ? "consumer_cpp: ok" : "consumer_cpp: wrong values");
  return ok ? 0 : 1;
}
