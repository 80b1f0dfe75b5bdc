// elf_symbols - list the symbol tables of an ELF file (object file, executable or
// shared object), as `readelf --syms` does, through the C++ wrapper.
//
// An ELF file opens with 16 identification bytes: "\x7F" "ELF", the class (1 for
// 32-bit, 2 for 64-bit), the byte order of everything after them (1 little-,
// 2 big-endian) and the version (1). The file header that follows locates the
// section header table. Each symbol table section (.symtab, .dynsym) holds
// fixed-size entries; its sh_link names the string table section that holds
// the symbols' names, NUL-terminated, at the offsets the entries give.
//
// Each section is read by a sub-reader confined to its size, which inherits the
// file's byte order, each record through a cursor checked once at its end, and
// each name with one cstring_at at its offset in the string table.
//
// Usage: elf_symbols FILE
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

#include "example.h"
#include "tavbin.hpp"

namespace {

constexpr std::uint32_t sht_symtab = 2, sht_dynsym = 11;
constexpr std::uint64_t longest_name = 65535; // C++ names can be long; a runaway one is not a name

struct section {
  std::uint32_t name, type, link;
  std::uint64_t offset, size, entsize;
};

const char *symbol_type(unsigned t) {
  const char *const names[] = {"NOTYPE", "OBJECT", "FUNC", "SECTION", "FILE", "COMMON", "TLS"};
  return t < 7 ? names[t] : t == 10 ? "IFUNC" : "OTHER";
}

const char *symbol_bind(unsigned b) {
  const char *const names[] = {"LOCAL", "GLOBAL", "WEAK"};
  return b < 3 ? names[b] : b == 10 ? "UNIQUE" : "OTHER";
}

const char *file_type(unsigned t) {
  const char *const names[] = {"NONE", "REL", "EXEC", "DYN", "CORE"};
  return t < 5 ? names[t] : "OTHER";
}

int fail(const char *path, const char *why) {
  std::fprintf(stderr, "elf_symbols: %s: %s\n", path, why);
  return 1;
}

class elf_file {
public:
  elf_file(tavbin::reader &file, bool wide, tavbin::reader table)
      : file_(file), wide_(wide), table_(std::move(table)) {}

  // Section header i of the table; false if there is no such section.
  bool header(std::uint64_t i, section &s) {
    if (table_.seek(i * header_size(wide_)) != TAVBIN_OK) return false;
    tavbin::cursor c(table_);
    s.name = c.u32();
    s.type = c.u32();
    address(c); // flags
    address(c); // address in memory
    s.offset = address(c);
    s.size = address(c);
    s.link = c.u32();
    c.skip(4);  // info
    address(c); // alignment
    s.entsize = address(c);
    return static_cast<bool>(c);
  }

  // A reader over a section's bytes in the file; empty if they lie outside it.
  tavbin::reader contents(const section &s) {
    if (file_.seek(s.offset) != TAVBIN_OK) return tavbin::reader();
    return file_.sub(s.size);
  }

  static std::uint64_t header_size(bool wide) { return wide ? 64 : 40; }
  std::uint64_t address(tavbin::cursor &c) const { return wide_ ? c.u64() : c.u32(); }
  bool wide() const { return wide_; }

private:
  tavbin::reader &file_;
  bool wide_;
  tavbin::reader table_;
};

// Lists one symbol table; the reason it cannot, or nullptr.
const char *list_symbols(elf_file &elf, const section &symtab, std::string_view name) {
  if (symtab.entsize != (elf.wide() ? 24u : 16u)) return "unexpected symbol entry size";
  tavbin::reader entries = elf.contents(symtab);
  if (!entries) return "symbol table runs past the end of the file";
  section strtab{};
  if (!elf.header(symtab.link, strtab)) return "symbol table links to a missing string table";
  tavbin::reader names = elf.contents(strtab);
  if (!names) return "string table runs past the end of the file";

  const std::uint64_t count = symtab.size / symtab.entsize;
  std::printf("\nSymbol table '%.*s' holds %llu entries:\n", static_cast<int>(name.size()), name.data(),
              static_cast<unsigned long long>(count));
  std::printf("   Num:            Value   Size Type    Bind   Name\n");
  for (std::uint64_t i = 0; i < count; ++i) {
    tavbin::cursor c(entries);
    std::uint32_t name_at = c.u32();
    std::uint64_t value = 0, size = 0;
    if (!elf.wide()) {
      value = c.u32();
      size = c.u32();
    }
    const std::uint8_t info = c.u8();
    c.skip(3); // visibility, section index
    if (elf.wide()) {
      value = c.u64();
      size = c.u64();
    }
    if (!c) return "symbol table ends inside an entry";
    const auto symbol = names.cstring_at(name_at, longest_name);
    if (symbol.status == TAVBIN_RANGE) return "symbol name lies outside the string table";
    if (symbol.status == TAVBIN_EOF) return "symbol name runs past the end of the string table";
    if (!symbol) return "symbol name is longer than 65535 bytes";
    std::printf("%6llu: %016llx %6llu %-7s %-6s %.*s\n", static_cast<unsigned long long>(i),
                static_cast<unsigned long long>(value), static_cast<unsigned long long>(size),
                symbol_type(info & 0xF), symbol_bind(info >> 4), static_cast<int>(symbol.value.size()),
                symbol.value.data());
  }
  return nullptr;
}

int list(const char *path, tavbin::byte_view bytes) {
  auto file = tavbin::reader::open(bytes);
  tavbin::cursor c(file);
  const tavbin::byte_view magic = c.view(4);
  const std::uint8_t elf_class = c.u8();
  const std::uint8_t order = c.u8();
  const std::uint8_t version = c.u8();
  if (magic.str() != "\x7F"
                     "ELF")
    return fail(path, "not an ELF file");
  if (!c) return fail(path, "truncated ELF header");
  if ((elf_class != 1 && elf_class != 2) || (order != 1 && order != 2) || version != 1)
    return fail(path, "unknown ELF class, byte order or version");
  const bool wide = elf_class == 2;
  // Everything after the identification bytes is in the file's byte order, and
  // so is every sub-reader made from here on.
  (void)file.set_endian(order == 1 ? tavbin::endian::little : tavbin::endian::big);

  c.skip(9); // padding up to 16 bytes
  const std::uint16_t type = c.u16();
  const std::uint16_t machine = c.u16();
  c.skip(4);             // version again
  c.skip(wide ? 16 : 8); // entry point, program header table
  const std::uint64_t shoff = wide ? c.u64() : c.u32();
  c.skip(4 + 2 + 2 + 2); // flags, header size, program header entry size and count
  const std::uint16_t shentsize = c.u16();
  const std::uint16_t shnum = c.u16();
  const std::uint16_t shstrndx = c.u16();
  if (!c) return fail(path, "truncated ELF header");
  std::printf("ELF%d %s-endian, type %s, machine %u\n", wide ? 64 : 32, order == 1 ? "little" : "big",
              file_type(type), static_cast<unsigned>(machine));
  if (shnum == 0) return fail(path, "no section header table");
  if (shentsize != elf_file::header_size(wide)) return fail(path, "unexpected section header size");

  if (file.seek(shoff) != TAVBIN_OK) return fail(path, "section header table lies outside the file");
  tavbin::reader table = file.sub(std::uint64_t{shnum} * shentsize);
  if (!table) return fail(path, "section header table runs past the end of the file");
  elf_file elf(file, wide, std::move(table));

  section names{};
  if (!elf.header(shstrndx, names)) return fail(path, "section name table is missing");
  tavbin::reader section_names = elf.contents(names);
  if (!section_names) return fail(path, "section name table runs past the end of the file");

  int tables = 0;
  for (std::uint64_t i = 0; i < shnum; ++i) {
    section s{};
    if (!elf.header(i, s)) return fail(path, "truncated section header");
    if (s.type != sht_symtab && s.type != sht_dynsym) continue;
    const std::string_view name = section_names.cstring_at(s.name, 255).value_or("?");
    if (const char *why = list_symbols(elf, s, name)) return fail(path, why);
    ++tables;
  }
  if (tables == 0) std::printf("no symbol tables\n");
  return 0;
}

} // namespace

const char example_name[] = "elf_symbols";
const char example_file[] = "FILE";

int example_run(const char *path, const unsigned char *data, std::size_t size) {
  return list(path, tavbin::byte_view(data, size));
}
