// wasm_sections - list the sections of a WebAssembly module and the constant
// initialisers of its globals, through the C++ wrapper.
//
// A module is "\0asm", a little-endian u32 version (1), then sections:
//   u8 id, LEB128 size, <size> bytes.
// A custom section (id 0) begins with its name: LEB128 length, then UTF-8 bytes.
// The global section (id 6) is a LEB128 count, then per global a value type (u8),
// a mutability flag (u8) and an initialiser: one instruction and the end opcode
// 0x0B. The constant instructions are i32.const and i64.const with a signed
// LEB128 operand (at most 5 and 10 bytes), f32.const and f64.const with the IEEE
// bits, and global.get with an unsigned LEB128 index.
//
// Each section is read by a sub-reader confined to its size, so a bad length
// inside it cannot reach beyond it, and each record through a cursor, checked
// once at its end.
//
// Usage: wasm_sections FILE.wasm
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "example.h"
#include "tavbin.hpp"

namespace {

const char *const section_names[] = {"custom", "type",  "import",  "function", "table", "memory",    "global",
                                     "export", "start", "element", "code",     "data",  "datacount", "tag"};
constexpr std::size_t section_count = sizeof section_names / sizeof *section_names;

enum : std::uint8_t {
  op_global_get = 0x23,
  op_i32 = 0x41,
  op_i64 = 0x42,
  op_f32 = 0x43,
  op_f64 = 0x44,
  op_end = 0x0B
};

const char *type_name(std::uint8_t type) {
  switch (type) {
  case 0x7F:
    return "i32";
  case 0x7E:
    return "i64";
  case 0x7D:
    return "f32";
  case 0x7C:
    return "f64";
  case 0x7B:
    return "v128";
  case 0x70:
    return "funcref";
  case 0x6F:
    return "externref";
  default:
    return "unknown type";
  }
}

int fail(const char *path, const char *why, std::uint64_t offset) {
  std::fprintf(stderr, "wasm_sections: %s: %s (at byte %llu)\n", path, why,
               static_cast<unsigned long long>(offset));
  return 1;
}

// Prints the custom section's name; the reason it cannot, or nullptr.
const char *custom_name(tavbin::reader &body) {
  tavbin::cursor c(body);
  const std::uint64_t len = c.leb128(5);
  const tavbin::byte_view name = c.view(len);
  if (!c) return "custom section name runs past the section";
  std::printf("  \"%.*s\"", static_cast<int>(name.size()), reinterpret_cast<const char *>(name.data()));
  return nullptr;
}

// Prints every global with its initialiser; the reason it cannot, or nullptr.
const char *globals(tavbin::reader &body) {
  tavbin::cursor c(body);
  const std::uint64_t n = c.leb128(5);
  for (std::uint64_t i = 0; c && i < n; ++i) {
    const std::uint8_t type = c.u8();
    const bool mut = c.u8() != 0;
    const std::uint8_t op = c.u8();
    std::int64_t integer = 0;
    double real = 0;
    switch (op) {
    case op_i32:
      integer = c.sleb128(5);
      break;
    case op_i64:
      integer = c.sleb128();
      break;
    case op_f32:
      real = c.f32();
      break;
    case op_f64:
      real = c.f64();
      break;
    case op_global_get:
      integer = static_cast<std::int64_t>(c.leb128(5));
      break;
    default:
      if (c) return "global initialiser is not a constant instruction";
    }
    const std::uint8_t end = c.u8();
    if (!c) {
      // sleb128 refuses a tenth byte that does not repeat the sign: the value
      // would not fit in 64 bits. Below 10 bytes a number that goes on is EOF.
      if (c.status() == TAVBIN_INVALID_ARG) return "i64.const initialiser does not fit in 64 bits";
      if (op == op_i32 && body.remaining() >= 5) return "i32.const initialiser is longer than 5 bytes";
      return "global runs past the end of its section";
    }
    if (op == op_i32 && (integer < INT32_MIN || integer > INT32_MAX))
      return "i32.const initialiser out of range";
    if (end != op_end) return "global initialiser is more than one instruction";
    std::printf("  global %llu: %s%s = ", static_cast<unsigned long long>(i), mut ? "mut " : "",
                type_name(type));
    switch (op) {
    case op_i32:
      std::printf("i32.const %lld\n", static_cast<long long>(integer));
      break;
    case op_i64:
      std::printf("i64.const %lld\n", static_cast<long long>(integer));
      break;
    case op_f32:
      std::printf("f32.const %g\n", real);
      break;
    case op_f64:
      std::printf("f64.const %g\n", real);
      break;
    default:
      std::printf("global.get %lld\n", static_cast<long long>(integer));
      break;
    }
  }
  if (!c) return "global count runs past the section";
  return nullptr;
}

int list(const char *path, tavbin::byte_view bytes) {
  auto r = tavbin::reader::open(bytes, tavbin::endian::little);
  tavbin::cursor c(r);
  const tavbin::byte_view magic = c.view(4);
  const std::uint32_t version = c.u32();
  if (magic.str() != std::string_view("\0asm", 4))
    return fail(path, "not a WebAssembly module (wrong magic)", 0);
  if (!c) return fail(path, "truncated header", c.offset());
  if (version != 1) return fail(path, "unsupported version", 4);
  std::printf("WebAssembly module, version %u\n", static_cast<unsigned>(version));

  int count = 0;
  while (r.remaining() > 0) {
    const std::uint64_t start = r.tell();
    const std::uint8_t id = c.u8();
    const std::uint64_t size = c.leb128(5); // a u32 in LEB128 takes at most 5 bytes
    if (!c) {
      // The failed read left the reader where the size began.
      if (c.status() == TAVBIN_EOF && r.remaining() >= 5)
        return fail(path, "section size is longer than 5 bytes", start);
      return fail(path, "truncated section header", start);
    }
    if (id >= section_count) return fail(path, "unknown section id", start);
    tavbin::reader body = c.sub(size);
    if (!c) return fail(path, "section size runs past the end of the file", start);
    std::printf("section %2u %-9s %8llu bytes", id, section_names[id], static_cast<unsigned long long>(size));
    const char *why = id == 0 ? custom_name(body) : nullptr;
    std::printf("\n");
    if (id == 6) why = globals(body);
    if (why != nullptr) return fail(path, why, start);
    ++count;
  }
  std::printf("%s: %d sections\n", path, count);
  return 0;
}

} // namespace

const char example_name[] = "wasm_sections";
const char example_file[] = "FILE.wasm";

int example_run(const char *path, const unsigned char *data, std::size_t size) {
  return list(path, tavbin::byte_view(data, size));
}
