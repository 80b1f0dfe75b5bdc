// binary-read-util: the whole library in one unit.
//
// Order: the common layer (statuses, byte order, loads and stores, LEB128 and
// short copies), then the reader, then the writer. No exported function calls
// another: they share the inline helpers in the anonymous namespaces below and
// ten out-of-line ones that hold the rare paths (bits_near_end, leb128_bytewise,
// string_take_other, string_after_bits, skip_rest, capacity_for, resize,
// grow_and_put, grow_and_put_leb128 and string_append), all internal and reached
// by direct calls or jumps. So no call from one part of the module to another
// goes through the PLT or the import table; the calls into the C runtime
// (calloc, malloc, realloc, free and the memcpy of long blocks) go through the
// GOT on ELF (-fno-plt) and the import table on Windows.
//
// The module must load with nothing but the C runtime: no exceptions, no RTTI, no
// static constructors, no libstdc++ symbols. Only header-only pieces of the
// standard library are used: <bit>, <cstddef>, <cstdint>, <cstdlib> and
// <cstring>, and <cstdio> in builds with the invariant checks.

#include "tavbin.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "mixed-endian hosts are not supported");
static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE 754 binary32 and binary64 are required");

#if defined(__GNUC__) || defined(__clang__)
#define TAVBIN_LIKELY(x) __builtin_expect(!!(x), 1)
#define TAVBIN_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define TAVBIN_NOINLINE __attribute__((noinline))
#else
#define TAVBIN_LIKELY(x) (x)
#define TAVBIN_UNLIKELY(x) (x)
#define TAVBIN_NOINLINE
#endif

// The handles' invariants, checked after every operation that changes a handle
// when the library is built with TAVBIN_DEBUG=1 (the sanitizer and fuzz presets
// do), and compiled out otherwise: a release module never prints or aborts.
#ifndef TAVBIN_DEBUG
#define TAVBIN_DEBUG 0
#endif
#if TAVBIN_DEBUG
#include <cstdio>
#define TAVBIN_INVARIANT(cond) ((cond) ? (void)0 : invariant_broken(#cond, __LINE__))
namespace {
[[noreturn]] void invariant_broken(const char *what, int line) {
  std::fprintf(stderr, "binary-read-util: invariant broken at src/tavbin.cpp:%d: %s\n", line, what);
  std::abort();
}
} // namespace
#else
#define TAVBIN_INVARIANT(cond) ((void)0)
#endif

// ---------------------------------------------------------------------------
// Common layer
// ---------------------------------------------------------------------------

namespace {

constexpr bool valid_endian(tavbin_endian e) { return e <= TAVBIN_LITTLE_ENDIAN; }

constexpr uint8_t bswap(uint8_t v) { return v; }
constexpr uint16_t bswap(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t bswap(uint32_t v) {
  return ((v & 0x000000FFu) << 24) | ((v & 0x0000FF00u) << 8) | ((v & 0x00FF0000u) >> 8) |
         ((v & 0xFF000000u) >> 24);
}
constexpr uint64_t bswap(uint64_t v) {
  return (static_cast<uint64_t>(bswap(static_cast<uint32_t>(v))) << 32) |
         bswap(static_cast<uint32_t>(v >> 32));
}

// Host order to or from the requested order. The host's order only decides
// whether a swap is needed; the result is the same on every host.
template <typename T> constexpr T to_order(T v, tavbin_endian e) {
  const bool host_little = std::endian::native == std::endian::little;
  return (e == TAVBIN_LITTLE_ENDIAN) == host_little ? v : bswap(v);
}

// Load a T from its bytes at p, any alignment; the caller has checked that they
// exist.
template <typename T> inline T load(const uint8_t *p, tavbin_endian e) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return to_order(v, e);
}

template <typename T> inline void store(uint8_t *p, T v, tavbin_endian e) {
  v = to_order(v, e);
  std::memcpy(p, &v, sizeof v);
}

template <typename T>
inline tavbin_status load_checked(const void *src, uint64_t avail, tavbin_endian e, T *out) {
  if (src == nullptr || out == nullptr) return TAVBIN_INVALID_ARG;
  if (avail < sizeof(T)) return TAVBIN_EOF;
  if (!valid_endian(e)) return TAVBIN_INVALID_ARG;
  *out = load<T>(static_cast<const uint8_t *>(src), e);
  return TAVBIN_OK;
}

template <typename T> inline tavbin_status store_checked(void *dst, uint64_t cap, tavbin_endian e, T value) {
  if (dst == nullptr) return TAVBIN_INVALID_ARG;
  if (cap < sizeof(T)) return TAVBIN_RANGE;
  if (!valid_endian(e)) return TAVBIN_INVALID_ARG;
  store<T>(static_cast<uint8_t *>(dst), value, e);
  return TAVBIN_OK;
}

// LEB128, shared by reader and writer. Eight 7-bit groups, one a byte, sit in a
// little-endian word as the number's first eight bytes do, high bits aside.
constexpr uint64_t kHighBits = 0x8080808080808080u;
constexpr uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7Fu;

// The 7-bit groups of eight LEB128 bytes, taken as one little-endian word with
// the high bits clear, packed into 56 bits: pairs, then fours, then the two
// halves close their gaps. Each step takes the upper part t of every lane (an
// and) and moves it down by k bits: x - t + (t >> k), which is x minus
// (t >> k) * (2^k - 1) as t's low k bits are clear: a shift, a multiply by 1, 3
// or 15 (none, an lea, or a shift and a subtraction) and a subtraction.
constexpr uint64_t leb128_gather(uint64_t x) {
  uint64_t t = x & 0x7F007F007F007F00u;
  x -= t >> 1;
  t = x & 0x3FFF00003FFF0000u;
  x -= (t >> 2) * 3;
  t = x & 0x0FFFFFFF00000000u;
  return x - (t >> 4) * 15;
}

// The reverse: the low 56 bits of x spread into eight 7-bit groups, one a byte.
// After the first step (which also drops the bits above 56), each moves the
// upper part t of every lane up by k bits as x + t * (2^k - 1).
constexpr uint64_t leb128_spread(uint64_t x) {
  x = (x & 0x000000000FFFFFFFu) + ((x & 0x00FFFFFFF0000000u) << 4);
  x += (x & 0x0FFFC0000FFFC000u) * 3;
  return x + (x & 0x3F803F803F803F80u);
}

static_assert(leb128_gather(0x7F7F7F7F7F7F7F7Fu) == 0x00FFFFFFFFFFFFFFu);
static_assert(leb128_spread(0x00FFFFFFFFFFFFFFu) == 0x7F7F7F7F7F7F7F7Fu);
static_assert(leb128_gather(leb128_spread(0x0012345678ABCDEFu)) == 0x0012345678ABCDEFu);

// Copies n bytes, 8 to 32 of them, as four 8-byte moves that overlap as much
// as n requires, with no branch on n and no call: [0, 8), [a, a + 8),
// [n - 8 - a, n - a) and [n - 8, n), where a is 8 from 16 bytes up and n - 8
// below. Nothing outside [0, n) of either side is touched. Like memcpy, for
// ranges that do not overlap.
inline void copy_8_to_32(uint8_t *dst, const uint8_t *src, uint64_t n) {
  const uint64_t a = n >= 16 ? 8 : n - 8;
  const uint64_t c = n - 8 - a;
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
  std::memcpy(&v, src + a, 8);
  std::memcpy(dst + a, &v, 8);
  std::memcpy(&v, src + c, 8);
  std::memcpy(dst + c, &v, 8);
  std::memcpy(&v, src + n - 8, 8);
  std::memcpy(dst + n - 8, &v, 8);
}

// Copies n bytes of src to dst, n outside 8 to 32 (copy_8_to_32 takes those).
// A string's few bytes go without a call into the C runtime (which costs more
// than moving them); longer runs go to memcpy.
inline void copy_short_or_long(uint8_t *dst, const uint8_t *src, uint64_t n) {
  if (n < 8) {
    if (n >= 4) {
      uint32_t v;
      std::memcpy(&v, src, 4);
      std::memcpy(dst, &v, 4);
      std::memcpy(&v, src + n - 4, 4);
      std::memcpy(dst + n - 4, &v, 4);
    } else if (n != 0) {
      // 1 to 3 bytes: the first, the middle and the last cover them.
      dst[0] = src[0];
      dst[n / 2] = src[n / 2];
      dst[n - 1] = src[n - 1];
    }
  } else {
    std::memcpy(dst, src, static_cast<size_t>(n));
  }
}

} // namespace

extern "C" {

const char *tavbin_strerror(tavbin_status status) {
  static const char *const texts[] = {"ok", "eof", "range", "invalid_arg", "too_large", "oom"};
  // Compared unsigned, so a negative status lands in "unknown" with one test.
  const auto i = static_cast<uint32_t>(status);
  return i < sizeof texts / sizeof texts[0] ? texts[i] : "unknown";
}

tavbin_status tavbin_load_u16(const void *src, uint64_t avail, tavbin_endian endian, uint16_t *out) {
  return load_checked(src, avail, endian, out);
}
tavbin_status tavbin_load_u32(const void *src, uint64_t avail, tavbin_endian endian, uint32_t *out) {
  return load_checked(src, avail, endian, out);
}
tavbin_status tavbin_load_u64(const void *src, uint64_t avail, tavbin_endian endian, uint64_t *out) {
  return load_checked(src, avail, endian, out);
}

tavbin_status tavbin_store_u16(void *dst, uint64_t cap, tavbin_endian endian, uint16_t value) {
  return store_checked(dst, cap, endian, value);
}
tavbin_status tavbin_store_u32(void *dst, uint64_t cap, tavbin_endian endian, uint32_t value) {
  return store_checked(dst, cap, endian, value);
}
tavbin_status tavbin_store_u64(void *dst, uint64_t cap, tavbin_endian endian, uint64_t value) {
  return store_checked(dst, cap, endian, value);
}

} // extern "C"

// ---------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------

struct tavbin_reader {
  const uint8_t *data;
  uint64_t size;
  uint64_t pos;     // pos <= size, always
  uint32_t endian;  // 0 or 1, always
  uint32_t bit_pos; // bits of data[pos] already taken by tavbin_bits; 0 unless pos < size
  tavbin_status last_error;
};

namespace {

inline void check_invariants(const tavbin_reader *r) {
  TAVBIN_INVARIANT(r->pos <= r->size);
  TAVBIN_INVARIANT(r->bit_pos < 8 && (r->bit_pos == 0 || r->pos < r->size));
  TAVBIN_INVARIANT(valid_endian(r->endian));
  (void)r;
}

// Every operation that changes a reader ends here (or in tavbin_bit_align).
inline tavbin_status record(tavbin_reader *r, tavbin_status s) {
  check_invariants(r);
  r->last_error = s;
  return s;
}

// Where a byte-level read starts: past a partly read byte, if there is one.
// bit_pos != 0 implies pos < size, so the result never passes size. Only the
// peeks take it as arithmetic: they store no position, so no later call waits on
// it.
inline uint64_t aligned_pos(const tavbin_reader *r) { return r->pos + (r->bit_pos != 0 ? 1 : 0); }

// The byte-alignment step of the consuming reads: a predicted branch on bit_pos
// rather than pos + (bit_pos != 0). Byte reads after a bit field are rare, and
// the branch leaves the position a read stores depending only on the position it
// loaded: load, add, store. The arithmetic puts a load of bit_pos, a compare and a
// set on that chain, which runs from one call's store to the next call's load; a
// CPU that does not forward that store by renaming memory pays for every step of
// it on every read.
inline void byte_align(tavbin_reader *r) {
  if (TAVBIN_UNLIKELY(r->bit_pos != 0)) {
    r->pos += 1;
    r->bit_pos = 0;
  }
}

// Bytes available at offset p; p <= size is an invariant of every caller.
inline uint64_t avail_at(const tavbin_reader *r, uint64_t p) { return r->size - p; }

// The consuming fixed-width read: align, test, decode, advance, record.
template <typename T> inline tavbin_status read_fixed(tavbin_reader *r, T *out) {
  if (r == nullptr || out == nullptr) return TAVBIN_INVALID_ARG;
  // An aligned reader stores its cursor once; the alignment stays even if the
  // read then fails.
  byte_align(r);
  const uint64_t p = r->pos;
  if (TAVBIN_UNLIKELY(avail_at(r, p) < sizeof(T))) return record(r, TAVBIN_EOF);
  *out = load<T>(r->data + p, r->endian);
  r->pos = p + sizeof(T);
  return record(r, TAVBIN_OK);
}

// Signed and float reads deliver the unsigned read's bit pattern, only on success.
template <typename U, typename T> inline tavbin_status read_as(tavbin_reader *r, T *out) {
  if (out == nullptr) return TAVBIN_INVALID_ARG;
  U u;
  const tavbin_status s = read_fixed(r, &u);
  if (s == TAVBIN_OK) *out = std::bit_cast<T>(u);
  return s;
}

// A peek is the consuming read computed from the aligned position without moving
// the cursor; it records what that read would have recorded.
template <typename T> inline tavbin_status peek_fixed(tavbin_reader *r, T *out) {
  if (r == nullptr || out == nullptr) return TAVBIN_INVALID_ARG;
  const uint64_t p = aligned_pos(r);
  if (TAVBIN_UNLIKELY(avail_at(r, p) < sizeof(T))) return record(r, TAVBIN_EOF);
  *out = load<T>(r->data + p, r->endian);
  return record(r, TAVBIN_OK);
}

template <typename T> inline tavbin_status read_at(tavbin_reader *r, uint64_t offset, T *out) {
  if (r == nullptr || out == nullptr) return TAVBIN_INVALID_ARG;
  // offset > size first, so the subtraction cannot wrap.
  if (TAVBIN_UNLIKELY(offset > r->size || r->size - offset < sizeof(T))) return record(r, TAVBIN_RANGE);
  *out = load<T>(r->data + offset, r->endian);
  return record(r, TAVBIN_OK);
}

inline tavbin_status read_block(tavbin_reader *r, void *dst, uint64_t n) {
  if (r == nullptr || (dst == nullptr && n != 0)) return TAVBIN_INVALID_ARG;
  byte_align(r);
  // Held in a local: the copy may write anywhere, so r->pos would be loaded again.
  const uint64_t p = r->pos;
  if (TAVBIN_UNLIKELY(avail_at(r, p) < n)) return record(r, TAVBIN_EOF);
  if (n != 0) std::memcpy(dst, r->data + p, static_cast<size_t>(n));
  r->pos = p + n;
  return record(r, TAVBIN_OK);
}

// A bit field of `count` bits (1 to 64) that the data holds, from `window`, the
// eight bytes at pos read big-endian (missing bytes as zeros): drop the bits
// already taken, keep the next `count` at the bottom. When the field reaches
// into a ninth byte (which then exists), its top bits fill in the low end.
inline tavbin_status bits_take(tavbin_reader *r, uint32_t count, uint64_t *out, uint64_t window) {
  const uint32_t bit = r->bit_pos;
  uint64_t v = (window << bit) >> (64 - count);
  const uint32_t end = bit + count;
  if (end > 64) v |= static_cast<uint64_t>(r->data[r->pos + 8]) >> (72 - end);
  *out = v;
  r->pos += end / 8;
  r->bit_pos = end % 8;
  return record(r, TAVBIN_OK);
}

// A bit field that starts in the last eight bytes, out of line.
TAVBIN_NOINLINE tavbin_status bits_near_end(tavbin_reader *r, uint32_t count, uint64_t *out) {
  const uint64_t left = r->size - r->pos;
  // left < 9, so left * 8 cannot overflow.
  if (left * 8 - r->bit_pos < count) {
    // Every bit up to the end is taken before the shortage shows.
    r->pos = r->size;
    r->bit_pos = 0;
    return record(r, TAVBIN_EOF);
  }
  const uint8_t *p = r->data + r->pos;
  uint64_t window = 0;
  for (uint64_t i = 0; i < left; ++i)
    window |= static_cast<uint64_t>(p[i]) << (56 - 8 * i);
  return bits_take(r, count, out, window);
}

// The LEB128 numbers tavbin_leb128 leaves to a byte loop: those of more than one
// byte that start within ten bytes of the end of the data or are read under a
// limit below ten bytes (`avail`: readable and within the caller's limit, at
// most 10). Out of line and reached by a tail call, so the common paths need no stack
// frame. On failure the cursor stays where the number began.
TAVBIN_NOINLINE tavbin_status leb128_bytewise(tavbin_reader *r, uint64_t *out, uint64_t avail) {
  const uint64_t start = r->pos;
  const uint8_t *p = r->data + start;
  uint64_t v = 0;
  for (uint64_t i = 0; i < avail; ++i) {
    const uint8_t b = p[i];
    // The tenth byte is shifted by 63: only its lowest bit survives.
    v |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
    if (b < 0x80) {
      *out = v;
      r->pos = start + i + 1;
      return record(r, TAVBIN_OK);
    }
  }
  // Ten bytes with the continuation bit are malformed (avail is 10 only when
  // both the data and the limit allow ten); a shorter run ran out of data or of
  // the caller's limit.
  return record(r, avail == 10 ? TAVBIN_INVALID_ARG : TAVBIN_EOF);
}

// The end of a string read that fits: the bytes, the terminator, the cursor
// past them, the length. `Short`: the length is 8 to 32, copied in place;
// `aligned` says bit_pos is 0 already. (A flag, not the copy function: clang's
// function sanitizer checks a call through a pointer with a C++ runtime that a C
// program linked to the library does not have.)
template <bool Short>
inline tavbin_status string_take(tavbin_reader *r, uint64_t p, char *dst, uint64_t len, uint64_t *out_len,
                                 bool aligned) {
  if constexpr (Short) {
    copy_8_to_32(reinterpret_cast<uint8_t *>(dst), r->data + p + 4, len);
  } else {
    copy_short_or_long(reinterpret_cast<uint8_t *>(dst), r->data + p + 4, len);
  }
  dst[len] = '\0';
  r->pos = p + 4 + len;
  if (!aligned) r->bit_pos = 0;
  if (out_len != nullptr) *out_len = len;
  return record(r, TAVBIN_OK);
}

// Strings shorter than 8 bytes or longer than 32, out of line and reached by a
// tail call: the call to memcpy they may make would otherwise give every string
// read a stack frame.
TAVBIN_NOINLINE tavbin_status string_take_other(tavbin_reader *r, uint64_t p, char *dst, uint64_t len,
                                                uint64_t *out_len) {
  return string_take<false>(r, p, dst, len, out_len, false);
}

// The string at p, the aligned position. Nothing moves until the whole string
// is known to fit, so every failure leaves the cursor, bit position included,
// exactly as it was.
// `aligned`: bit_pos is 0, so a successful read need not clear it.
inline tavbin_status string_at(tavbin_reader *r, uint64_t p, char *dst, uint64_t dst_cap, uint64_t max_len,
                               uint64_t *out_len, bool aligned) {
  if (avail_at(r, p) < 4) return record(r, TAVBIN_EOF);
  const uint64_t len = load<uint32_t>(r->data + p, r->endian);
  // dst_cap < len + 1, with len below 2^32 so that len + 1 cannot wrap.
  if (len > max_len || dst_cap <= len) return record(r, TAVBIN_TOO_LARGE);
  if (avail_at(r, p + 4) < len) return record(r, TAVBIN_EOF);
  if (TAVBIN_UNLIKELY(len - 8 > 24)) return string_take_other(r, p, dst, len, out_len);
  return string_take<true>(r, p, dst, len, out_len, aligned);
}

// A string after a partly read byte, out of line: the common path then tests
// bit_pos with a branch the compiler cannot turn back into arithmetic, and starts
// from the position it loaded.
TAVBIN_NOINLINE tavbin_status string_after_bits(tavbin_reader *r, char *dst, uint64_t dst_cap,
                                                uint64_t max_len, uint64_t *out_len) {
  return string_at(r, r->pos + 1, dst, dst_cap, max_len, out_len, false);
}

// A skip after a partly read byte or past the end, out of line: the common path
// is then one load of the position, the bounds test and the store, with every
// test on its way falling through (measured faster that way than the same tests
// in line).
TAVBIN_NOINLINE tavbin_status skip_rest(tavbin_reader *r, uint64_t n) {
  byte_align(r);
  if (avail_at(r, r->pos) < n) return record(r, TAVBIN_EOF);
  r->pos += n;
  return record(r, TAVBIN_OK);
}

} // namespace

extern "C" {

tavbin_reader *tavbin_open(const void *data, uint64_t size, tavbin_endian endian) {
  if (data == nullptr && size != 0) return nullptr;
  if (!valid_endian(endian)) return nullptr;
  auto *r = static_cast<tavbin_reader *>(std::calloc(1, sizeof(tavbin_reader)));
  if (r == nullptr) return nullptr;
  r->data = static_cast<const uint8_t *>(data);
  r->size = size;
  r->endian = endian;
  r->last_error = TAVBIN_OK;
  return r;
}

void tavbin_close(tavbin_reader *r) { std::free(r); }

tavbin_status tavbin_set_endian(tavbin_reader *r, tavbin_endian endian) {
  if (r == nullptr) return TAVBIN_INVALID_ARG;
  if (!valid_endian(endian)) return record(r, TAVBIN_INVALID_ARG);
  r->endian = endian;
  return record(r, TAVBIN_OK);
}

tavbin_status tavbin_seek(tavbin_reader *r, uint64_t offset) {
  if (r == nullptr) return TAVBIN_INVALID_ARG;
  if (offset > r->size) return record(r, TAVBIN_RANGE);
  r->pos = offset;
  r->bit_pos = 0;
  return record(r, TAVBIN_OK);
}

uint64_t tavbin_tell(const tavbin_reader *r) { return r != nullptr ? r->pos : 0; }

// pos <= size always holds (checked with the other invariants where they are
// compiled in), so the difference never wraps and needs no guard.
uint64_t tavbin_remaining(const tavbin_reader *r) { return r != nullptr ? r->size - r->pos : 0; }

uint64_t tavbin_size(const tavbin_reader *r) { return r != nullptr ? r->size : 0; }

tavbin_status tavbin_last_error(const tavbin_reader *r) {
  return r != nullptr ? r->last_error : TAVBIN_INVALID_ARG;
}

void tavbin_bit_align(tavbin_reader *r) {
  if (r == nullptr) return;
  byte_align(r);
  check_invariants(r);
}

tavbin_status tavbin_u8(tavbin_reader *r, uint8_t *out) { return read_fixed(r, out); }

tavbin_status tavbin_i8(tavbin_reader *r, int8_t *out) { return read_as<uint8_t>(r, out); }

tavbin_status tavbin_bits(tavbin_reader *r, uint32_t count, uint64_t *out) {
  if (r == nullptr || out == nullptr) return TAVBIN_INVALID_ARG;
  if (count - 1 >= 64) return record(r, TAVBIN_INVALID_ARG); // 0 wraps to the top
  const uint64_t pos = r->pos;
  // Nine bytes always hold bit_pos + count <= 7 + 64 bits; closer to the end,
  // out of line.
  if (TAVBIN_UNLIKELY(r->size - pos < 9)) return bits_near_end(r, count, out);
  return bits_take(r, count, out, load<uint64_t>(r->data + pos, TAVBIN_BIG_ENDIAN));
}

tavbin_status tavbin_u16(tavbin_reader *r, uint16_t *out) { return read_fixed(r, out); }
tavbin_status tavbin_i16(tavbin_reader *r, int16_t *out) { return read_as<uint16_t>(r, out); }
tavbin_status tavbin_u32(tavbin_reader *r, uint32_t *out) { return read_fixed(r, out); }
tavbin_status tavbin_i32(tavbin_reader *r, int32_t *out) { return read_as<uint32_t>(r, out); }
tavbin_status tavbin_f32(tavbin_reader *r, float *out) { return read_as<uint32_t>(r, out); }
tavbin_status tavbin_u64(tavbin_reader *r, uint64_t *out) { return read_fixed(r, out); }
tavbin_status tavbin_i64(tavbin_reader *r, int64_t *out) { return read_as<uint64_t>(r, out); }
tavbin_status tavbin_f64(tavbin_reader *r, double *out) { return read_as<uint64_t>(r, out); }

tavbin_status tavbin_bytes(tavbin_reader *r, void *dst, uint64_t n) { return read_block(r, dst, n); }
tavbin_status tavbin_ascii(tavbin_reader *r, char *dst, uint64_t n) { return read_block(r, dst, n); }

tavbin_status tavbin_skip(tavbin_reader *r, uint64_t n) {
  if (r == nullptr) return TAVBIN_INVALID_ARG;
  const uint64_t p = r->pos;
  if (TAVBIN_UNLIKELY((r->bit_pos != 0) | (avail_at(r, p) < n))) return skip_rest(r, n);
  r->pos = p + n;
  return record(r, TAVBIN_OK);
}

tavbin_status tavbin_peek_u8(tavbin_reader *r, uint8_t *out) { return peek_fixed(r, out); }
tavbin_status tavbin_peek_u16(tavbin_reader *r, uint16_t *out) { return peek_fixed(r, out); }
tavbin_status tavbin_peek_u32(tavbin_reader *r, uint32_t *out) { return peek_fixed(r, out); }
tavbin_status tavbin_peek_u64(tavbin_reader *r, uint64_t *out) { return peek_fixed(r, out); }

tavbin_status tavbin_u8_at(tavbin_reader *r, uint64_t offset, uint8_t *out) {
  return read_at(r, offset, out);
}
tavbin_status tavbin_u16_at(tavbin_reader *r, uint64_t offset, uint16_t *out) {
  return read_at(r, offset, out);
}
tavbin_status tavbin_u32_at(tavbin_reader *r, uint64_t offset, uint32_t *out) {
  return read_at(r, offset, out);
}
tavbin_status tavbin_u64_at(tavbin_reader *r, uint64_t offset, uint64_t *out) {
  return read_at(r, offset, out);
}

tavbin_status tavbin_string_u32(tavbin_reader *r, char *dst, uint64_t dst_cap, uint64_t max_len,
                                uint64_t *out_len) {
  if (r == nullptr || dst == nullptr) return TAVBIN_INVALID_ARG;
  if (TAVBIN_UNLIKELY(r->bit_pos != 0)) return string_after_bits(r, dst, dst_cap, max_len, out_len);
  return string_at(r, r->pos, dst, dst_cap, max_len, out_len, true);
}

tavbin_status tavbin_leb128(tavbin_reader *r, uint64_t *out, uint64_t max_bytes) {
  if (r == nullptr || out == nullptr) return TAVBIN_INVALID_ARG;
  if (max_bytes == 0) return record(r, TAVBIN_INVALID_ARG);
  byte_align(r);
  // The start is held in a local: *out may alias the handle, so after storing
  // the value r->pos would be loaded again.
  const uint64_t start = r->pos;
  const uint8_t *p = r->data + start;
  const uint64_t left = avail_at(r, start);
  // One byte is the commonest number: a predicted branch keeps the next position
  // independent of the byte.
  if (TAVBIN_LIKELY(left != 0 && p[0] < 0x80)) {
    *out = p[0];
    r->pos = start + 1;
    return record(r, TAVBIN_OK);
  }
  // With ten bytes readable and allowed, every number comes from two loads with
  // no branch on its length: the lowest clear high bit of the first eight bytes
  // ends the number, and everything above it is masked off before the groups are
  // packed. A loop whose exit depends on each byte mispredicts on numbers of mixed
  // lengths; this does not. Near the end of the data or under a smaller limit the
  // bytes go one by one.
  if (TAVBIN_LIKELY(left >= 10 && max_bytes >= 10)) {
    const auto w = load<uint64_t>(p, TAVBIN_LITTLE_ENDIAN);
    const uint64_t stops = ~w & kHighBits;
    if (TAVBIN_LIKELY(stops != 0)) {
      // The lowest stop is bit 8k + 7 of a (k + 1)-byte number; stops - 1 keeps
      // every bit below it, the groups of all k + 1 bytes.
      *out = leb128_gather(w & (stops - 1) & kLowSeven);
      r->pos = start + static_cast<unsigned>(std::countr_zero(stops)) / 8 + 1;
      return record(r, TAVBIN_OK);
    }
    // Eight bytes with the continuation bit: bytes 8 and 9 finish the number.
    // Byte 8 gives bits 56 to 62; if it continues, byte 9 is the last and only
    // its lowest bit (bit 63) survives; if that one continues too, the number
    // is over-long.
    const auto t = load<uint16_t>(p + 8, TAVBIN_LITTLE_ENDIAN);
    const uint64_t tenth = t >> 7 & 1;
    if (TAVBIN_UNLIKELY((t & 0x8080) == 0x8080)) return record(r, TAVBIN_INVALID_ARG);
    *out = leb128_gather(w & kLowSeven) | uint64_t{t & 0x7Fu} << 56 | (uint64_t{t} >> 8 & tenth) << 63;
    r->pos = start + 9 + tenth;
    return record(r, TAVBIN_OK);
  }
  // Ten bytes is the longest number; more than that is never looked at.
  const uint64_t lim = max_bytes < 10 ? max_bytes : 10;
  // cppcheck takes lim for 0 here, missing the max_bytes == 0 return above.
  // cppcheck-suppress knownConditionTrueFalse
  return leb128_bytewise(r, out, left < lim ? left : lim);
}

} // extern "C"

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

struct tavbin_writer {
  uint8_t *data; // never NULL while the writer lives
  uint64_t len;  // len <= cap
  uint64_t cap;  // initial capacity times a power of two
  uint32_t endian;
  tavbin_status last_error;
};

namespace {

// Every operation that changes a writer ends here.
inline tavbin_status record(tavbin_writer *w, tavbin_status s) {
  TAVBIN_INVARIANT(w->data != nullptr && w->cap != 0 && w->len <= w->cap);
  TAVBIN_INVARIANT(valid_endian(w->endian));
  w->last_error = s;
  return s;
}

// The capacity that holds `n` more bytes: the current one doubled until it is
// large enough, or 0 when no such capacity exists. A count that would carry
// len + n past 2^64 can never fit and is refused like any other growth that
// cannot be had.
TAVBIN_NOINLINE uint64_t capacity_for(const tavbin_writer *w, uint64_t n) {
  if (n > UINT64_MAX - w->len) return 0;
  const uint64_t need = w->len + n;
  uint64_t new_cap = w->cap;
  while (new_cap < need) {
    if (new_cap >> 63) return 0; // doubling would wrap
    new_cap <<= 1;
  }
  if constexpr (SIZE_MAX < UINT64_MAX) {
    if (new_cap > SIZE_MAX) return 0;
  }
  return new_cap;
}

// Move the buffer to a block of new_cap bytes; on failure nothing changes.
TAVBIN_NOINLINE bool resize(tavbin_writer *w, uint64_t new_cap) {
  void *p = std::realloc(w->data, static_cast<size_t>(new_cap));
  if (p == nullptr) return false;
  w->data = static_cast<uint8_t *>(p);
  w->cap = new_cap;
  return true;
}

// Make room for n more bytes that do not fit now, in one reallocation. The
// callers test the fit themselves, inline, and come here only to grow.
inline bool grow(tavbin_writer *w, uint64_t n) {
  const uint64_t new_cap = capacity_for(w, n);
  return new_cap != 0 && resize(w, new_cap);
}

// Where a source lies relative to the writer's buffer. Inside the written bytes
// it must be re-found after a reallocation; reaching into the unwritten tail
// (or straddling the buffer's start) it would read bytes of no defined content,
// possibly ones this very append overwrites.
enum class src_kind { outside, written, tail };

inline src_kind classify(const tavbin_writer *w, const void *src, uint64_t n) {
  const auto s = reinterpret_cast<uintptr_t>(src);
  const auto b = reinterpret_cast<uintptr_t>(w->data);
  if (n == 0 || s >= b + w->cap || (s < b && b - s >= n)) return src_kind::outside;
  return s >= b && s - b <= w->len && w->len - (s - b) >= n ? src_kind::written : src_kind::tail;
}

// Append `head` (a local encoding of at most 8 bytes, may be empty) and then n
// bytes of src, as one all-or-nothing append. head_len + n cannot wrap: callers
// with a head bound n to 32 bits.
inline tavbin_status append(tavbin_writer *w, const uint8_t *head, uint64_t head_len, const void *src,
                            uint64_t n) {
  const uint64_t total = head_len + n;
  const bool grows = w->cap - w->len < total;
  uint64_t new_cap = 0;
  // An impossible growth is refused first, whatever the source.
  if (TAVBIN_UNLIKELY(grows) && (new_cap = capacity_for(w, total)) == 0) return record(w, TAVBIN_OOM);
  const src_kind kind = classify(w, src, n);
  if (TAVBIN_UNLIKELY(kind == src_kind::tail)) return record(w, TAVBIN_INVALID_ARG);
  const uint64_t offset =
      kind == src_kind::written ? static_cast<uint64_t>(static_cast<const uint8_t *>(src) - w->data) : 0;
  if (TAVBIN_UNLIKELY(grows) && !resize(w, new_cap)) return record(w, TAVBIN_OOM);
  if (kind == src_kind::written) src = w->data + offset; // where it lies now
  uint8_t *dst = w->data + w->len;
  if (head_len != 0) std::memcpy(dst, head, static_cast<size_t>(head_len));
  // The written bytes end where the new ones begin, so the two never overlap.
  if (n != 0) std::memcpy(dst + head_len, src, static_cast<size_t>(n));
  w->len += total;
  return record(w, TAVBIN_OK);
}

// Fixed-width appends store in place: the common case is one capacity test and
// one store.
template <typename T> inline tavbin_status put_fixed(tavbin_writer *w, T value) {
  store<T>(w->data + w->len, value, w->endian);
  w->len += sizeof(T);
  return record(w, TAVBIN_OK);
}

// Out of line and reached by a tail call, so the append that fits needs no
// stack frame.
template <typename T> TAVBIN_NOINLINE tavbin_status grow_and_put(tavbin_writer *w, T value) {
  if (!grow(w, sizeof(T))) return record(w, TAVBIN_OOM);
  return put_fixed(w, value);
}

template <typename T> inline tavbin_status write_fixed(tavbin_writer *w, T value) {
  if (w == nullptr) return TAVBIN_INVALID_ARG;
  if (TAVBIN_UNLIKELY(w->cap - w->len < sizeof(T))) return grow_and_put(w, value);
  return put_fixed(w, value);
}

// The bytes of value's LEB128 after the first: the index of its highest set bit
// (value must not be 0) over 7, which x * 37 >> 8 is for every x below 64.
inline uint64_t leb128_more(uint64_t value) {
#if defined(__GNUC__) || defined(__clang__)
  // Undefined for 0, which lets the compiler drop countl_zero's test for it.
  const unsigned top = 63u ^ static_cast<unsigned>(__builtin_clzll(value));
#else
  const unsigned top = 63u - static_cast<unsigned>(std::countl_zero(value));
#endif
  return top * 37 >> 8;
}

// Shortest LEB128 straight into the buffer; n is its length in bytes.
inline tavbin_status put_leb128(tavbin_writer *w, uint64_t value, uint64_t n) {
  uint8_t *dst = w->data + w->len;
  while (value >= 0x80) {
    *dst++ = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  *dst = static_cast<uint8_t>(value);
  w->len += n;
  return record(w, TAVBIN_OK);
}

TAVBIN_NOINLINE tavbin_status grow_and_put_leb128(tavbin_writer *w, uint64_t value, uint64_t n) {
  if (!grow(w, n)) return record(w, TAVBIN_OOM);
  return put_leb128(w, value, n);
}

// Every string append but the short one from outside the buffer that fits: out
// of line and reached by a tail call, so that one needs no stack frame.
TAVBIN_NOINLINE tavbin_status string_append(tavbin_writer *w, const char *src, uint64_t n) {
  if (n > 0xFFFFFFFFu) return record(w, TAVBIN_TOO_LARGE);
  // Prefix and body go in as one append: either both land or neither does.
  uint8_t prefix[4];
  store<uint32_t>(prefix, static_cast<uint32_t>(n), w->endian);
  return append(w, prefix, 4, src, n);
}

} // namespace

extern "C" {

tavbin_writer *tavbinw_open(uint64_t initial_cap, tavbin_endian endian) {
  if (!valid_endian(endian)) return nullptr;
  const uint64_t cap = initial_cap != 0 ? initial_cap : 64;
  if constexpr (SIZE_MAX < UINT64_MAX) {
    if (cap > SIZE_MAX) return nullptr;
  }
  auto *w = static_cast<tavbin_writer *>(std::calloc(1, sizeof(tavbin_writer)));
  if (w == nullptr) return nullptr;
  w->data = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(cap)));
  if (w->data == nullptr) {
    std::free(w);
    return nullptr;
  }
  w->cap = cap;
  w->endian = endian;
  w->last_error = TAVBIN_OK;
  return w;
}

void tavbinw_close(tavbin_writer *w) {
  if (w == nullptr) return;
  std::free(w->data);
  std::free(w);
}

tavbin_status tavbinw_set_endian(tavbin_writer *w, tavbin_endian endian) {
  if (w == nullptr) return TAVBIN_INVALID_ARG;
  if (!valid_endian(endian)) return record(w, TAVBIN_INVALID_ARG);
  w->endian = endian;
  return record(w, TAVBIN_OK);
}

const uint8_t *tavbinw_data(const tavbin_writer *w) { return w != nullptr ? w->data : nullptr; }

uint64_t tavbinw_len(const tavbin_writer *w) { return w != nullptr ? w->len : 0; }

tavbin_status tavbinw_last_error(const tavbin_writer *w) {
  return w != nullptr ? w->last_error : TAVBIN_INVALID_ARG;
}

tavbin_status tavbinw_bytes(tavbin_writer *w, const void *src, uint64_t n) {
  if (w == nullptr || (src == nullptr && n != 0)) return TAVBIN_INVALID_ARG;
  return append(w, nullptr, 0, src, n);
}

tavbin_status tavbinw_u8(tavbin_writer *w, uint8_t value) { return write_fixed(w, value); }
tavbin_status tavbinw_u16(tavbin_writer *w, uint16_t value) { return write_fixed(w, value); }
tavbin_status tavbinw_i16(tavbin_writer *w, int16_t value) {
  return write_fixed(w, static_cast<uint16_t>(value));
}
tavbin_status tavbinw_u32(tavbin_writer *w, uint32_t value) { return write_fixed(w, value); }
tavbin_status tavbinw_i32(tavbin_writer *w, int32_t value) {
  return write_fixed(w, static_cast<uint32_t>(value));
}
tavbin_status tavbinw_f32(tavbin_writer *w, float value) {
  return write_fixed(w, std::bit_cast<uint32_t>(value));
}
tavbin_status tavbinw_u64(tavbin_writer *w, uint64_t value) { return write_fixed(w, value); }
tavbin_status tavbinw_i64(tavbin_writer *w, int64_t value) {
  return write_fixed(w, static_cast<uint64_t>(value));
}
tavbin_status tavbinw_f64(tavbin_writer *w, double value) {
  return write_fixed(w, std::bit_cast<uint64_t>(value));
}

tavbin_status tavbinw_leb128(tavbin_writer *w, uint64_t value) {
  if (w == nullptr) return TAVBIN_INVALID_ARG;
  const uint64_t len = w->len;
  const uint64_t room = w->cap - len;
  // One byte, the commonest number, is a store and nothing else.
  if (TAVBIN_LIKELY(value < 0x80 && room != 0)) {
    w->data[len] = static_cast<uint8_t>(value);
    w->len = len + 1;
    return record(w, TAVBIN_OK);
  }
  // With ten bytes of room, any longer number is two stores and no branch on its
  // length.
  if (TAVBIN_LIKELY(room >= 10)) {
    // value >= 0x80 here: a room of ten is not 0, so the test above failed on it.
    const uint64_t more = leb128_more(value);
    static constexpr uint64_t kStops[10] = {0,          0x80,         0x8080,         0x808080,
                                            0x80808080, 0x8080808080, 0x808080808080, 0x80808080808080,
                                            kHighBits,  kHighBits};
    uint8_t *dst = w->data + len;
    store<uint64_t>(dst, leb128_spread(value) | kStops[more], TAVBIN_LITTLE_ENDIAN);
    // Bytes 8 and 9: bits 56 to 62 with bit 63 as the continuation bit, then bit 63.
    store<uint16_t>(dst + 8, static_cast<uint16_t>((value >> 56) | (value >> 63 << 8)), TAVBIN_LITTLE_ENDIAN);
    w->len = len + more + 1;
    return record(w, TAVBIN_OK);
  }
  // Near the end of the room the bytes go one by one, straight into the buffer
  // (a copy of a variable length would be a call to memcpy), after the growth
  // rule has made room for the number if it does not fit.
  const uint64_t n = leb128_more(value | 1) + 1;
  if (TAVBIN_UNLIKELY(room < n)) return grow_and_put_leb128(w, value, n);
  return put_leb128(w, value, n);
}

tavbin_status tavbinw_string_u32(tavbin_writer *w, const char *src, uint64_t n) {
  if (w == nullptr || (src == nullptr && n != 0)) return TAVBIN_INVALID_ARG;
  const uint64_t len = w->len;
  // A string of 8 to 32 bytes that fits, from a source wholly outside the buffer
  // (below it by at least n, or at or past its end), is two stores in place. The
  // two address tests are the cheap half of classify(): the rest of the cases,
  // sources inside the buffer included, take the general append below.
  const auto s = reinterpret_cast<uintptr_t>(src);
  const auto b = reinterpret_cast<uintptr_t>(w->data);
  if (TAVBIN_LIKELY(n - 8 <= 24 && w->cap - len >= n + 4 && s - b >= w->cap && b - s >= n)) {
    uint8_t *dst = w->data + len;
    store<uint32_t>(dst, static_cast<uint32_t>(n), w->endian);
    copy_8_to_32(dst + 4, reinterpret_cast<const uint8_t *>(src), n);
    w->len = len + 4 + n;
    return record(w, TAVBIN_OK);
  }
  return string_append(w, src, n);
}

} // extern "C"
