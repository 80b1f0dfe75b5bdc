// wasm_sections - list the sections of a WebAssembly module, through the C++ wrapper.
//
// A module is "\0asm", a little-endian u32 version (1), then sections:
//   u8 id, LEB128 size, <size> bytes.
// A custom section (id 0) begins with its name: LEB128 length, then UTF-8 bytes.
//
// Usage: wasm_sections FILE.wasm
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "read_file.h"
#include "tavbin.hpp"

namespace {

const char *const section_names[] = {"custom", "type",    "import", "function", "table", "memory",    "global",
                                     "export", "start",   "element", "code",    "data",  "datacount", "tag"};

int fail(const char *path, const char *why, std::uint64_t offset) {
  std::fprintf(stderr, "wasm_sections: %s: %s (at byte %llu)\n", path, why, static_cast<unsigned long long>(offset));
  return 1;
}

int list(const char *path, tavbin::byte_view bytes) {
  auto r = tavbin::reader::open(bytes, tavbin::endian::little);
  const auto magic = r.view(4);
  if (!magic || magic.value.str() != std::string_view("\0asm", 4)) return fail(path, "not a WebAssembly module (wrong magic)", 0);
  const auto version = r.u32();
  if (!version) return fail(path, "truncated header", 4);
  if (version.value != 1) return fail(path, "unsupported version", 4);
  std::printf("WebAssembly module, version %u\n", static_cast<unsigned>(version.value));

  int count = 0;
  while (r.remaining() > 0) {
    const std::uint64_t start = r.tell();
    const auto id = r.u8();
    // A u32 in LEB128 takes at most 5 bytes; more is a malformed module.
    const auto size = r.leb128(5);
    if (!size) {
      if (size.status == TAVBIN_EOF && r.remaining() >= 5) return fail(path, "section size is longer than 5 bytes", start);
      return fail(path, "truncated section header", start);
    }
    if (id.value >= sizeof section_names / sizeof *section_names) return fail(path, "unknown section id", start);
    const auto body = r.view(size.value);
    if (!body) return fail(path, "section size runs past the end of the file", start);
    std::printf("section %2u %-9s %8llu bytes", id.value, section_names[id.value],
                static_cast<unsigned long long>(size.value));
    if (id.value == 0) {
      // The name lies inside the section: read it with a reader over the body alone,
      // so a bad length cannot reach beyond the section.
      auto sub = tavbin::reader::open(body.value, tavbin::endian::little);
      const auto len = sub.leb128(5);
      const auto name = sub.view(len.value);
      if (!len || !name) {
        std::printf("\n");
        return fail(path, "custom section name runs past the section", start);
      }
      std::printf("  \"%.*s\"", static_cast<int>(name.value.size()), reinterpret_cast<const char *>(name.value.data()));
    }
    std::printf("\n");
    ++count;
  }
  std::printf("%s: %d sections\n", path, count);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wasm_sections FILE.wasm\n");
    return 2;
  }
  std::size_t size = 0;
  unsigned char *data = read_file("wasm_sections", argv[1], &size);
  if (data == nullptr) return 1;
  const int status = list(argv[1], tavbin::byte_view(data, size));
  std::free(data);
  return status;
}
