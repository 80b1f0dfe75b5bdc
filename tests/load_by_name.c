/* Loads the module at run time, the way a program that cannot link against it
 * would (a plug-in host, a foreign-function interface): by its file name, then
 * every function by its exported name. A missing or decorated name, or a
 * 64-bit argument cut to 32 bits on the way through the export table (LLP64
 * Windows has a 32-bit long), shows up here and nowhere else.
 *
 * Usage: load_by_name <path of the module>
 * The program is not linked against the library; tavbin.h gives only types and
 * constants. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "export_names.h" /* TAVBIN_EXPORT_NAMES, generated from exports.txt */
#include "tavbin.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE module_t;
static module_t module_load(const char *path) { return LoadLibraryA(path); }
static void *module_symbol(module_t m, const char *name) {
  FARPROC f = GetProcAddress(m, name);
  void *p;
  memcpy(&p, &f, sizeof p);
  return p;
}
static void module_unload(module_t m) { FreeLibrary(m); }
static void print_load_error(const char *path) {
  fprintf(stderr, "LoadLibraryA(%s) failed: error %lu\n", path, (unsigned long)GetLastError());
}
#else
#include <dlfcn.h>
typedef void *module_t;
static module_t module_load(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void *module_symbol(module_t m, const char *name) { return dlsym(m, name); }
static void module_unload(module_t m) { dlclose(m); }
static void print_load_error(const char *path) {
  fprintf(stderr, "dlopen(%s) failed: %s\n", path, dlerror());
}
#endif

/* The signatures as a caller without the import library declares them. */
typedef const char *(*strerror_fn)(tavbin_status);
typedef tavbin_reader *(*open_fn)(const void *, uint64_t, tavbin_endian);
typedef void (*close_fn)(tavbin_reader *);
typedef tavbin_status (*set_endian_fn)(tavbin_reader *, tavbin_endian);
typedef tavbin_status (*seek_fn)(tavbin_reader *, uint64_t);
typedef uint64_t (*query_fn)(const tavbin_reader *);
typedef tavbin_status (*u64_fn)(tavbin_reader *, uint64_t *);
typedef tavbin_status (*u32_at_fn)(tavbin_reader *, uint64_t, uint32_t *);
typedef tavbin_status (*u8_at_fn)(tavbin_reader *, uint64_t, uint8_t *);
typedef tavbin_status (*leb128_fn)(tavbin_reader *, uint64_t *, uint64_t);
typedef tavbin_status (*load_u64_fn)(const void *, uint64_t, tavbin_endian, uint64_t *);
typedef tavbin_writer *(*wopen_fn)(uint64_t, tavbin_endian);
typedef void (*wclose_fn)(tavbin_writer *);
typedef tavbin_status (*wset_endian_fn)(tavbin_writer *, tavbin_endian);
typedef tavbin_status (*wu64_fn)(tavbin_writer *, uint64_t);
typedef tavbin_status (*wstring_fn)(tavbin_writer *, const char *, uint64_t);
typedef tavbin_status (*wlast_fn)(const tavbin_writer *);
typedef const uint8_t *(*wdata_fn)(const tavbin_writer *);
typedef uint64_t (*wlen_fn)(const tavbin_writer *);

static const char *const export_names[] = {TAVBIN_EXPORT_NAMES};
#define EXPORT_COUNT (sizeof export_names / sizeof export_names[0])
static void *resolved[EXPORT_COUNT];
static int failures;

#define CHECK(cond)                                                                                          \
  do {                                                                                                       \
    if (!(cond)) {                                                                                           \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                               \
      ++failures;                                                                                            \
    }                                                                                                        \
  } while (0)

/* The resolved address of an exported name; FN turns it into a function pointer. */
static void *address_of(const char *name) {
  size_t i;
  for (i = 0; i < EXPORT_COUNT; ++i)
    if (strcmp(export_names[i], name) == 0) return resolved[i];
  fprintf(stderr, "%s is not in the exports list\n", name);
  exit(1);
}
#define FN(T, name, var)                                                                                     \
  T var;                                                                                                     \
  do {                                                                                                       \
    void *p_ = address_of(name);                                                                             \
    memcpy(&var, &p_, sizeof var);                                                                           \
  } while (0)

static const uint64_t big = 0x0102030405060708u;
static const uint64_t beyond_32_bits = 0x100000001u; /* 2^32 + 1 */

static void call_some(void) {
  FN(strerror_fn, "tavbin_strerror", strerror_);
  FN(open_fn, "tavbin_open", open_);
  FN(close_fn, "tavbin_close", close_);
  FN(set_endian_fn, "tavbin_set_endian", set_endian);
  FN(seek_fn, "tavbin_seek", seek);
  FN(seek_fn, "tavbin_skip", skip);
  FN(query_fn, "tavbin_tell", tell);
  FN(query_fn, "tavbin_size", size);
  FN(u64_fn, "tavbin_u64", u64);
  FN(u32_at_fn, "tavbin_u32_at", u32_at);
  FN(u8_at_fn, "tavbin_u8_at", u8_at);
  FN(leb128_fn, "tavbin_leb128", leb128);
  FN(load_u64_fn, "tavbin_load_u64", load_u64);
  FN(wopen_fn, "tavbinw_open", wopen);
  FN(wclose_fn, "tavbinw_close", wclose);
  FN(wset_endian_fn, "tavbinw_set_endian", wset_endian);
  FN(wu64_fn, "tavbinw_u64", wu64);
  FN(wu64_fn, "tavbinw_leb128", wleb128);
  FN(wstring_fn, "tavbinw_string_u32", wstring);
  FN(wlast_fn, "tavbinw_last_error", wlast);
  FN(wdata_fn, "tavbinw_data", wdata);
  FN(wlen_fn, "tavbinw_len", wlen);

  CHECK(strcmp(strerror_(TAVBIN_RANGE), "range") == 0);
  CHECK(strcmp(strerror_(-1), "unknown") == 0);

  /* Write: the same 64-bit value in both orders, then a LEB128 of more than 32 bits. */
  tavbin_writer *w = wopen(0, TAVBIN_BIG_ENDIAN);
  CHECK(w != NULL);
  if (w == NULL) return;
  CHECK(wu64(w, big) == TAVBIN_OK);
  CHECK(wset_endian(w, TAVBIN_LITTLE_ENDIAN) == TAVBIN_OK);
  CHECK(wu64(w, big) == TAVBIN_OK);
  CHECK(wleb128(w, 0x123456789Au) == TAVBIN_OK); /* 37 bits: 6 bytes */
  /* A string length of 2^32 does not fit the 32-bit prefix, however wide long is. */
  CHECK(wstring(w, "x", UINT64_C(0x100000000)) == TAVBIN_TOO_LARGE);
  CHECK(wlast(w) == TAVBIN_TOO_LARGE);
  CHECK(wlen(w) == 22);
  static const uint8_t expected[22] = {1, 2, 3, 4, 5, 6,    7,    8,    8,    7,    6,
                                       5, 4, 3, 2, 1, 0x9A, 0xF1, 0xD9, 0xA2, 0xA3, 0x02};
  CHECK(wlen(w) == sizeof expected && memcmp(wdata(w), expected, sizeof expected) == 0);

  /* Read it back from a heap copy of exactly its size. */
  uint8_t *bytes = malloc(sizeof expected);
  if (bytes == NULL) return;
  memcpy(bytes, wdata(w), sizeof expected);
  wclose(w);

  tavbin_reader *r = open_(bytes, sizeof expected, TAVBIN_BIG_ENDIAN);
  CHECK(r != NULL);
  if (r != NULL) {
    uint64_t v = 0;
    uint32_t v32 = 0;
    uint8_t v8 = 0;
    CHECK(size(r) == sizeof expected);
    CHECK(u64(r, &v) == TAVBIN_OK && v == big);
    CHECK(set_endian(r, TAVBIN_LITTLE_ENDIAN) == TAVBIN_OK);
    CHECK(u64(r, &v) == TAVBIN_OK && v == big);
    CHECK(leb128(r, &v, 10) == TAVBIN_OK && v == 0x123456789Au);
    CHECK(tell(r) == sizeof expected);

    /* Offsets and counts beyond 2^32 must not wrap to small ones. */
    CHECK(seek(r, beyond_32_bits) == TAVBIN_RANGE);
    CHECK(seek(r, UINT64_C(0x100000000) + 2) == TAVBIN_RANGE);
    CHECK(tell(r) == sizeof expected);
    CHECK(seek(r, 0) == TAVBIN_OK);
    CHECK(skip(r, UINT64_C(0x100000000)) == TAVBIN_EOF);
    CHECK(skip(r, UINT64_C(0x100000000) + 8) == TAVBIN_EOF);
    CHECK(tell(r) == 0);
    CHECK(u32_at(r, beyond_32_bits, &v32) == TAVBIN_RANGE);
    CHECK(u8_at(r, UINT64_C(0x100000000) + 1, &v8) == TAVBIN_RANGE);
    CHECK(u8_at(r, UINT64_MAX, &v8) == TAVBIN_RANGE);
    CHECK(u32_at(r, 4, &v32) == TAVBIN_OK && v32 == 0x08070605u); /* little-endian now */
    CHECK(u8_at(r, 1, &v8) == TAVBIN_OK && v8 == 2);
    close_(r);
  }

  uint64_t v = 0;
  CHECK(load_u64(bytes, UINT64_C(0x100000000) + 8, TAVBIN_BIG_ENDIAN, &v) == TAVBIN_OK && v == big);
  CHECK(load_u64(bytes, 7, TAVBIN_BIG_ENDIAN, &v) == TAVBIN_EOF);
  free(bytes);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <module>\n", argv[0]);
    return 2;
  }
  module_t m = module_load(argv[1]);
  if (m == NULL) {
    print_load_error(argv[1]);
    return 1;
  }
  size_t i;
  for (i = 0; i < EXPORT_COUNT; ++i) {
    resolved[i] = module_symbol(m, export_names[i]);
    if (resolved[i] == NULL) {
      fprintf(stderr, "not exported: %s\n", export_names[i]);
      ++failures;
    }
  }
  CHECK(EXPORT_COUNT == TAVBIN_EXPORT_COUNT); /* each name of the list became one string */
  if (failures == 0) call_some();
  module_unload(m);
  if (failures != 0) {
    fprintf(stderr, "%d failure(s)\n", failures);
    return 1;
  }
  printf("%s: resolved %u names by name, calls agree\n", argv[1], (unsigned)EXPORT_COUNT);
  return 0;
}
