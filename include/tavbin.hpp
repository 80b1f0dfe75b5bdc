// tavbin.hpp - binary-read-util for C++17 and later: owning handles, byte views,
// reads that return their value with their status, a cursor that checks once per
// record, bit fields least significant bit first, bulk values, 24-bit integers,
// signed and 32-bit LEB128, strings with any length prefix, C strings, sub-readers,
// back-patching, std::error_code support.
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// Header-only, over the C interface of tavbin.h, which stays the manual. A member
// named after a C function less its prefix (reader::u32 for tavbin_u32,
// writer::u32 for tavbinw_u32, reader::size for tavbin_size) makes that one call,
// so its statuses, its cursor rules and what the handle records are the C
// function's. Four writer members do not follow that rule: writer::size() is
// tavbinw_len, writer::bytes() views the bytes written (tavbinw_data; the block
// append tavbinw_bytes is writer::append()), and writer::i8() appends a signed
// byte through tavbinw_u8, as the C writer has no signed 8-bit write. Nor does
// reader::string_u32(max_len), which views the string in the input as the other
// string reads do; string_u32(dst, cap, max_len) is tavbin_string_u32. What this
// header adds:
//
//  - tavbin::reader and tavbin::writer own their handle. They are move-only; the
//    handle is closed exactly once, by the object that holds it last. A moved-from
//    object is empty: every read, append or change on it fails with
//    TAVBIN_INVALID_ARG (the C rule for a NULL handle), its queries answer as the
//    C ones do for NULL (0, an empty view), and destroying it does nothing.
//  - Construction never throws: open() returns an empty object when the C open
//    returns NULL; test it with `if (r)`.
//  - A read returns result<T>: the value and its status. The value is T{} unless
//    the status is TAVBIN_OK. A call that only succeeds or fails (an append, a
//    skip, array()) returns the tavbin_status itself. sub() returns the new
//    reader, empty on failure; see sub() for telling TAVBIN_EOF from TAVBIN_OOM.
//  - Statuses convert to std::error_code in the category named "tavbin", whose
//    messages are the tavbin_strerror texts.
//  - Bytes come in as tavbin::byte_view (any contiguous range of 1-byte elements:
//    std::string_view, std::vector<uint8_t>, std::array, std::span, ...) and the
//    writer's bytes go out as one. Under C++20 a byte_view converts to
//    std::span<const std::uint8_t>. reader::open refuses a temporary container
//    that owns its bytes (it would die before the reader): that does not compile.
//  - tavbin::cursor walks a reader and keeps its first failure, so a record is
//    read with plain values and checked once; writer::first_error() does the same
//    for a producer.
//  - What the C interface lacks, built here on the C calls and on the input the
//    reader was opened over: tavbin::lsb_bits (bit fields least significant bit
//    first), reader::array and writer::array (many values in one block), u24 and
//    i24, reader::sleb128, leb128_u32 and sleb128_i32 (LEB128 numbers of 32
//    bits), string_u8, string_u16 and string_leb128 (strings after an 8-bit,
//    16-bit or LEB128 length), cstring, cstring_at, view, sub and origin;
//    writer::sleb128, string_u8, string_u16, string_leb128 and
//    patch_u16/u32/u64. Each says what the handle's last status (last_error())
//    reports afterwards: the handle records only what the C calls it makes
//    record.
//  - The C interface cannot tell a handle's byte order or bit position, so
//    reader and writer remember the byte order given to open() or set_endian(),
//    and the reader how many bits of a byte its own bits() calls took. Changes
//    made with the C calls on get() are not seen by them.
//
// Nothing here throws or needs RTTI, and the header compiles with
// -fno-exceptions. It allocates in two places: std::error_code::message()
// builds a std::string, as every error category's message() does, and the
// writer's string_u16 and string_leb128 put a string and its length, when they
// are more than 512 bytes together, in a block from std::malloc, freed before
// they return.
//
//     auto w = tavbin::writer::open(tavbin::endian::little);
//     w.u32(0xCAFEF00Du);
//     w.string_u32("hi");
//     auto r = tavbin::reader::open(w.bytes(), tavbin::endian::little);
//     if (auto magic = r.u32()) use(magic.value);
//     else std::fprintf(stderr, "%s\n", tavbin::make_error_code(magic.status).message().c_str());
//
// A whole record, checked once:
//
//     tavbin::cursor c(r);
//     const std::uint16_t kind = c.u16();
//     const std::int64_t delta = c.sleb128();
//     const std::string_view name = c.cstring(255);
//     if (!c) std::fprintf(stderr, "bad record at byte %llu: %s\n",
//                          static_cast<unsigned long long>(r.origin() + c.offset()),
//                          c.error().message().c_str());

// Below C++17 the header stops at this one line instead of a screen of errors
// about std::string_view and inline variables. (MSVC reports the standard in
// _MSVC_LANG; its __cplusplus stays 199711L unless /Zc:__cplusplus is given.)
#if !defined(__cplusplus) || (__cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#error "tavbin.hpp needs C++17 or later (-std=c++17, /std:c++17); C programs include tavbin.h"
#elif !defined(TAVBIN_HPP)
#define TAVBIN_HPP

#include "tavbin.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#if defined(__has_include)
#if __has_include(<version>)
#include <version>
#endif
#endif
#if defined(__cpp_lib_span)
#include <span>
#endif
// SSE2, which every x86-64 processor has, turns the byte order of array()'s
// values 16 bytes at a time.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TAVBIN_HPP_SSE2 1
#endif

namespace tavbin {

// ---------------------------------------------------------------------------
// Statuses and error codes
// ---------------------------------------------------------------------------

// The library's statuses as an enumeration, so that std::error_code accepts them.
enum class errc : tavbin_status {
  ok = TAVBIN_OK,
  eof = TAVBIN_EOF,
  range = TAVBIN_RANGE,
  invalid_arg = TAVBIN_INVALID_ARG,
  too_large = TAVBIN_TOO_LARGE,
  oom = TAVBIN_OOM,
};

} // namespace tavbin

// Declared before any use, so that `std::error_code ec = tavbin::errc::eof;` works.
template <> struct std::is_error_code_enum<tavbin::errc> : std::true_type {};

namespace tavbin {

namespace detail {
class category_impl final : public std::error_category {
public:
  const char *name() const noexcept override { return "tavbin"; }
  // Allocates the std::string it returns.
  std::string message(int code) const override { return tavbin_strerror(code); }
  // Lets callers compare against the portable conditions where one means the
  // same thing; eof and range have no std::errc counterpart and stay our own.
  std::error_condition default_error_condition(int code) const noexcept override {
    switch (code) {
    case TAVBIN_INVALID_ARG:
      return std::make_error_condition(std::errc::invalid_argument);
    case TAVBIN_TOO_LARGE:
      return std::make_error_condition(std::errc::value_too_large);
    case TAVBIN_OOM:
      return std::make_error_condition(std::errc::not_enough_memory);
    default:
      return {code, *this};
    }
  }
};
} // namespace detail

// The category of every error_code made from a tavbin status. One object per
// program (an inline function's static is shared by every translation unit).
inline const std::error_category &category() noexcept {
  static const detail::category_impl instance;
  return instance;
}

inline std::error_code make_error_code(errc e) noexcept { return {static_cast<int>(e), category()}; }
// TAVBIN_OK gives an error_code that tests false, as std::error_code{} does.
inline std::error_code make_error_code(tavbin_status s) noexcept { return {s, category()}; }

// A value read together with the status of the read.
// A plain aggregate, meant to be taken apart: its members are its interface.
template <class T> struct [[nodiscard]] result {
  T value{};                                 // NOLINT(misc-non-private-member-variables-in-classes)
  tavbin_status status = TAVBIN_INVALID_ARG; // NOLINT(misc-non-private-member-variables-in-classes)

  constexpr explicit operator bool() const noexcept { return status == TAVBIN_OK; }
  constexpr T value_or(T fallback) const noexcept { return status == TAVBIN_OK ? value : fallback; }
  std::error_code error() const noexcept { return make_error_code(status); }
};

enum class endian : tavbin_endian { big = TAVBIN_BIG_ENDIAN, little = TAVBIN_LITTLE_ENDIAN };

// ---------------------------------------------------------------------------
// Signed numbers
// ---------------------------------------------------------------------------

namespace detail {
// Two's complement reinterpretation, spelled out: converting a value above
// INT64_MAX is implementation-defined before C++20.
constexpr std::int64_t to_signed(std::uint64_t u) noexcept {
  return u <= 0x7FFFFFFFFFFFFFFFu ? static_cast<std::int64_t>(u) : -static_cast<std::int64_t>(~u) - 1;
}
} // namespace detail

// Map a signed value to an unsigned one so that small magnitudes of either sign
// stay small (0, -1, 1, -2 ... become 0, 1, 2, 3 ...): protobuf's sint encoding,
// to be written with writer::leb128.
// Returns the encoded value; every int64 has one, so nothing can fail.
constexpr std::uint64_t zigzag_encode(std::int64_t v) noexcept {
  return (static_cast<std::uint64_t>(v) << 1) ^ (v < 0 ? ~std::uint64_t{0} : 0);
}

// The inverse of zigzag_encode, for a value read with reader::leb128.
// Returns the decoded value; every uint64 has one, so nothing can fail.
constexpr std::int64_t zigzag_decode(std::uint64_t u) noexcept {
  return detail::to_signed((u >> 1) ^ (std::uint64_t{0} - (u & 1)));
}

// ---------------------------------------------------------------------------
// Byte views
// ---------------------------------------------------------------------------

namespace detail {
template <class C, class = void> struct is_byte_range : std::false_type {};
template <class C>
struct is_byte_range<
    C, std::void_t<decltype(std::declval<const C &>().data()), decltype(std::declval<const C &>().size())>>
    : std::bool_constant<sizeof(*std::declval<const C &>().data()) == 1 &&
                         std::is_trivially_copyable_v<
                             std::remove_reference_t<decltype(*std::declval<const C &>().data())>>> {};

template <class C> struct is_std_array : std::false_type {};
template <class T, std::size_t N> struct is_std_array<std::array<T, N>> : std::true_type {};

// A byte range that holds its bytes itself rather than viewing someone else's:
// std::array, and whatever cannot be copied bit for bit (std::vector,
// std::string, ...). Views (std::string_view, std::span, byte_view) are trivially
// copyable pointers and sizes.
template <class C>
struct owns_bytes : std::bool_constant<is_byte_range<C>::value &&
                                       (is_std_array<C>::value || !std::is_trivially_copyable_v<C>)> {};
} // namespace detail

// A non-owning view of bytes: what std::span<const std::uint8_t> is in C++20,
// usable from C++17. It never owns; the bytes must outlive it.
class byte_view {
public:
  constexpr byte_view() noexcept = default;
  byte_view(const void *data, std::size_t size) noexcept
      : data_(static_cast<const std::uint8_t *>(data)), size_(size) {}
  // Any contiguous range of 1-byte elements: string_view, vector<uint8_t>, span...
  template <class C,
            std::enable_if_t<detail::is_byte_range<C>::value && !std::is_same_v<C, byte_view>, int> = 0>
  // Implicit on purpose: any byte range passes where a byte_view is asked for.
  // cppcheck-suppress noExplicitConstructor
  byte_view(const C &range) noexcept : byte_view(range.data(), range.size()) {}

  constexpr const std::uint8_t *data() const noexcept { return data_; }
  constexpr std::size_t size() const noexcept { return size_; }
  constexpr bool empty() const noexcept { return size_ == 0; }
  constexpr const std::uint8_t *begin() const noexcept { return data_; }
  constexpr const std::uint8_t *end() const noexcept { return data_ + size_; }
  constexpr std::uint8_t operator[](std::size_t i) const noexcept { return data_[i]; }
  std::string_view str() const noexcept { return {reinterpret_cast<const char *>(data_), size_}; }
#if defined(__cpp_lib_span)
  constexpr operator std::span<const std::uint8_t>() const noexcept { return {data_, size_}; }
  std::span<const std::byte> as_bytes() const noexcept {
    return {reinterpret_cast<const std::byte *>(data_), size_};
  }
#endif

private:
  const std::uint8_t *data_ = nullptr;
  std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------
// Handles, byte order, records
// ---------------------------------------------------------------------------

namespace detail {
// The one owner of a C handle, for reader and writer alike: move-only, and the
// handle is closed exactly once, by the owner that holds it last.
template <class Handle, void (*Close)(Handle *)> class owner {
public:
  owner() noexcept = default;
  explicit owner(Handle *h) noexcept : h_(h) {}
  ~owner() { Close(h_); }
  owner(const owner &) = delete;
  owner &operator=(const owner &) = delete;
  owner(owner &&other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  owner &operator=(owner &&other) noexcept {
    if (this != &other) {
      Close(h_);
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  Handle *get() const noexcept { return h_; }
  Handle *release() noexcept { return std::exchange(h_, nullptr); }

private:
  Handle *h_ = nullptr;
};

// The unsigned type of a value's width, for moving its bytes.
template <std::size_t N> struct bits_of;
template <> struct bits_of<1> { using type = std::uint8_t; };
template <> struct bits_of<2> { using type = std::uint16_t; };
template <> struct bits_of<4> { using type = std::uint32_t; };
template <> struct bits_of<8> { using type = std::uint64_t; };

// The types array() reads and writes: fixed-width integers and IEEE floats.
template <class T>
inline constexpr bool is_array_value = (std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                        (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 ||
                                         sizeof(T) == 8)) ||
                                       (std::is_same_v<T, float> && sizeof(float) == 4) ||
                                       (std::is_same_v<T, double> && sizeof(double) == 8);

constexpr std::uint16_t byte_swap(std::uint16_t v) noexcept {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
constexpr std::uint32_t byte_swap(std::uint32_t v) noexcept {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
constexpr std::uint64_t byte_swap(std::uint64_t v) noexcept {
  return (std::uint64_t{byte_swap(static_cast<std::uint32_t>(v))} << 32) |
         byte_swap(static_cast<std::uint32_t>(v >> 32));
}

// Whether values in memory already have the given byte order; asked of the
// host's own bytes, so no platform is assumed. Compilers fold it to a constant.
inline bool host_order_is(endian order) noexcept {
  const std::uint16_t one = 1;
  std::uint8_t first = 0;
  std::memcpy(&first, &one, 1);
  return (first == 1) == (order == endian::little);
}

// Turns n values of width W at p, in memory, from one byte order to the other:
// 16 bytes at a time where SSE2 is sure to be there (every x86-64), each value
// on its own after that and elsewhere. p need not be aligned for the values.
template <std::size_t W> void swap_each(void *p, std::size_t n) noexcept {
  auto *b = static_cast<unsigned char *>(p);
  std::size_t i = 0;
#if defined(TAVBIN_HPP_SSE2)
  for (; n - i >= 16 / W; i += 16 / W, b += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
    x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8)); // the bytes of each 16-bit lane
    if constexpr (W == 4) x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1); // lanes 1 0 3 2
    if constexpr (W == 8) x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0x1B), 0x1B); // lanes 3 2 1 0
    _mm_storeu_si128(reinterpret_cast<__m128i *>(b), x);
  }
#endif
  using U = typename bits_of<W>::type;
  for (; i < n; ++i, b += W) {
    U v;
    std::memcpy(&v, b, W);
    v = byte_swap(v);
    std::memcpy(b, &v, W);
  }
}

// A 24-bit value's three bytes, first byte first, in the given order.
inline std::uint32_t load_u24(const std::uint8_t *b, endian order) noexcept {
  return order == endian::big ? (std::uint32_t{b[0]} << 16) | (std::uint32_t{b[1]} << 8) | b[2]
                              : (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[1]} << 8) | b[0];
}
inline void store_u24(std::uint8_t *b, std::uint32_t v, endian order) noexcept {
  const auto hi = static_cast<std::uint8_t>(v >> 16);
  const auto mid = static_cast<std::uint8_t>(v >> 8);
  const auto lo = static_cast<std::uint8_t>(v);
  b[0] = order == endian::big ? hi : lo;
  b[1] = mid;
  b[2] = order == endian::big ? lo : hi;
}
constexpr std::int32_t sign_extend_24(std::uint32_t v) noexcept {
  return static_cast<std::int32_t>(v & 0x7FFFFFu) - static_cast<std::int32_t>(v & 0x800000u);
}
// A 16- or 32-bit value from its bytes in the given order.
template <class U> U load(const std::uint8_t *b, endian order) noexcept {
  U v;
  std::memcpy(&v, b, sizeof v);
  return host_order_is(order) ? v : byte_swap(v);
}
// Two's complement reinterpretation of 32 bits, as to_signed.
constexpr std::int32_t to_signed32(std::uint32_t u) noexcept {
  return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

// The length before a string: its width in bytes, or LEB128.
enum class prefix : unsigned char { leb128 = 0, u8 = 1, u16 = 2, u32 = 4 };

// An unsigned LEB128 number among the avail bytes at p, of at most ten bytes
// as tavbin_leb128 reads it, except that a tenth byte above 1 (bits beyond
// the 64) is refused rather than dropped.
struct leb128_number {
  std::uint64_t value;
  std::uint64_t size;   // its bytes
  tavbin_status status; // TAVBIN_EOF if the bytes end first, TAVBIN_INVALID_ARG if it is refused
};
inline leb128_number leb128_at(const std::uint8_t *p, std::uint64_t avail) noexcept {
  std::uint64_t v = 0;
  for (std::uint64_t i = 0; i < 10; ++i) {
    if (i == avail) return {0, 0, TAVBIN_EOF};
    const std::uint8_t b = p[i];
    if (i == 9 && b > 1) break; // bits above the 64, or an eleventh byte announced
    v |= std::uint64_t{b & 0x7Fu} << (7 * i);
    if (b < 0x80) return {v, i + 1, TAVBIN_OK};
  }
  return {0, 0, TAVBIN_INVALID_ARG};
}
} // namespace detail

// ---------------------------------------------------------------------------
// Reads
// ---------------------------------------------------------------------------

namespace detail {
// What a cursor's read returns: the value alone.
template <class T> using plain = T;

// The reads that reader and cursor share, each written once as a function of
// the reader. reader derives from reads<reader, result>: a read returns that
// function's result<T>, the value with its status. cursor derives from
// reads<cursor, plain>: a read runs the same function on the cursor's reader
// and returns the plain T, the cursor keeping the first failure (see cursor).
// So a read does the same through either, at the same cost. The statuses
// below are the reader's; a cursor keeps them as its status().
// (Each function takes the reader as `auto &`, reader being complete only where
// a read is used; a body of more than one call is read_body's, above, so that
// both share one copy of it.)
// The reads below that are more than one call, as functions of the reader:
// reader and cursor share one instantiation of each.
struct read_body {
  template <class R> static result<std::uint64_t> bits(R &r, std::uint32_t count) noexcept {
    result<std::uint64_t> out;
    std::uint64_t v = 0;
    out.status = tavbin_bits(r.get(), count, &v);
    if (out.status == TAVBIN_OK) {
      out.value = v;
      r.bit_ = static_cast<std::uint8_t>((r.bit_ + count) % 8);
    } else if (out.status == TAVBIN_EOF) {
      r.bit_ = 0; // every bit up to the end was taken
    }
    return out;
  }
  template <class R> static result<std::uint64_t> leb128(R &r, std::uint64_t max_bytes) noexcept {
    result<std::uint64_t> out;
    std::uint64_t v = 0;
    out.status = tavbin_leb128(r.get(), &v, max_bytes);
    if (out.status != TAVBIN_OK) r.skipped_ = max_bytes != 0 && r.bit_ != 0 && r.get() != nullptr;
    if (max_bytes != 0) r.bit_ = 0;
    if (out.status == TAVBIN_OK) out.value = v;
    return out;
  }
  template <class R> static result<std::int64_t> sleb128(R &r, std::uint64_t max_bytes) noexcept {
    result<std::int64_t> out;
    // Aligning first (the C read would align anyway, except for max_bytes 0)
    // makes tell() the number's first byte.
    r.skipped_ = false;
    if (max_bytes != 0) r.bit_align();
    const std::uint64_t start = tavbin_tell(r.get());
    std::uint64_t v = 0;
    out.status = tavbin_leb128(r.get(), &v, max_bytes);
    if (out.status != TAVBIN_OK) return out;
    const std::uint64_t n = tavbin_tell(r.get()) - start; // 1 to 10
    // A read succeeded, so the input has bytes and data_ is not null.
    const std::uint8_t last = r.data_[start + n - 1]; // NOLINT(clang-analyzer-core.NullDereference)
    if (n == 10 && last != 0x00 && last != 0x7F) {
      (void)tavbin_seek(r.get(), start); // the bit position is already 0 there
      out.status = r.record(TAVBIN_INVALID_ARG);
      return out;
    }
    if (n < 10 && (last & 0x40) != 0) v |= ~std::uint64_t{0} << (7 * n);
    out.value = detail::to_signed(v);
    return out;
  }
  template <class R> static result<std::uint32_t> u24(R &r) noexcept {
    result<std::uint32_t> out;
    std::uint8_t b[3];
    out.status = r.aligned_unless_refused(tavbin_bytes(r.get(), b, 3));
    if (out.status == TAVBIN_OK) out.value = detail::load_u24(b, r.order_);
    return out;
  }
  template <class R> static result<std::int32_t> i24(R &r) noexcept {
    const auto u = r.u24();
    return result<std::int32_t>{detail::sign_extend_24(u.value), u.status};
  }
  template <class R> static result<byte_view> view(R &r, std::uint64_t n) noexcept {
    result<byte_view> out;
    out.status = r.skip(n);
    if (out.status == TAVBIN_OK)
      out.value = byte_view(r.data_ + (tavbin_tell(r.get()) - n), static_cast<std::size_t>(n));
    return out;
  }
  template <class R> static result<std::string_view> cstring(R &r, std::uint64_t max_len) noexcept {
    result<std::string_view> out;
    if (r.get() == nullptr) {
      out.status = r.refused();
      return out;
    }
    r.bit_align();
    const std::uint64_t pos = tavbin_tell(r.get());
    out = r.nul_terminated(pos, tavbin_remaining(r.get()), max_len);
    if (out.status == TAVBIN_OK)
      out.status = tavbin_skip(r.get(), out.value.size() + 1);
    else if (out.status == TAVBIN_EOF)
      (void)r.record(TAVBIN_EOF);
    return out;
  }
  template <class R>
  static result<std::string_view> cstring_at(R &r, std::uint64_t offset, std::uint64_t max_len) noexcept {
    result<std::string_view> out;
    const std::uint64_t size = tavbin_size(r.get());
    r.skipped_ = false;
    if (r.get() == nullptr)
      out.status = TAVBIN_INVALID_ARG;
    else if (offset > size)
      out.status = TAVBIN_RANGE;
    else
      out = r.nul_terminated(offset, size - offset, max_len);
    return out;
  }
  template <class R>
  static result<std::string_view> string_u32(R &r, char *dst, std::size_t cap,
                                             std::uint64_t max_len) noexcept {
    result<std::string_view> out;
    std::uint64_t len = 0;
    out.status = tavbin_string_u32(r.get(), dst, cap, max_len, &len);
    if (out.status == TAVBIN_OK) {
      out.value = std::string_view(dst, static_cast<std::size_t>(len));
      r.bit_ = 0;
    } else {
      r.skipped_ = false; // a failure puts the bit position back
    }
    return out;
  }
};

template <class Self, template <class> class Out> class reads {
public:
  // One byte or a fixed-width value in the reader's byte order: the C function
  // of the same name (tavbin_u8 ... tavbin_f64), one call.
  Out<std::uint8_t> u8() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_u8); });
  }
  Out<std::int8_t> i8() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_i8); });
  }
  Out<std::uint16_t> u16() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_u16); });
  }
  Out<std::int16_t> i16() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_i16); });
  }
  Out<std::uint32_t> u32() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_u32); });
  }
  Out<std::int32_t> i32() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_i32); });
  }
  Out<std::uint64_t> u64() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_u64); });
  }
  Out<std::int64_t> i64() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_i64); });
  }
  Out<float> f32() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_f32); });
  }
  Out<double> f64() noexcept {
    return run([](auto &r) noexcept { return r.call(tavbin_f64); });
  }

  // A bit field, most significant bit first (tavbin_bits).
  Out<std::uint64_t> bits(std::uint32_t count) noexcept {
    // A failure takes the bits up to the end, so the cursor asks tell() first.
    return run<true>([=](auto &r) noexcept { return read_body::bits(r, count); });
  }

  // An unsigned LEB128 number of at most max_bytes bytes (tavbin_leb128).
  Out<std::uint64_t> leb128(std::uint64_t max_bytes = 10) noexcept {
    return run([=](auto &r) noexcept { return read_body::leb128(r, max_bytes); });
  }

  // Read a signed LEB128 number, as DWARF and WebAssembly write them: 7-bit
  // groups, least significant first, bit 7 set on every byte but the last, the
  // sign taken from bit 6 of the last byte. Longer forms than needed are
  // accepted. Unlike leb128(), nothing is dropped at the top: a value outside
  // int64 is refused. The byte alignment applies.
  //   max_bytes: the most bytes to take; values above 10 act as 10.
  // Returns the value with TAVBIN_OK, cursor after the last byte.
  //         TAVBIN_INVALID_ARG if max_bytes is 0 (cursor unchanged, as leb128()).
  //         TAVBIN_EOF if the data ends before the number does, or max_bytes
  //         (below 10) bytes all carry bit 7.
  //         TAVBIN_INVALID_ARG if ten bytes all carry bit 7 (an eleventh byte is
  //         announced), or the tenth byte is neither 0x00 nor 0x7F (the value
  //         does not fit in int64).
  //         On these failures the cursor is back where the number began (after
  //         the byte alignment, which stays applied).
  //         last_error() then reports the returned status: it is recorded.
  Out<std::int64_t> sleb128(std::uint64_t max_bytes = 10) noexcept {
    return run([=](auto &r) noexcept { return read_body::sleb128(r, max_bytes); });
  }

  // Read an unsigned (leb128_u32) or signed (sleb128_i32) LEB128 number that
  // must fit in 32 bits, as WebAssembly's indices, sizes and i32 constants do:
  // at most five bytes, and of the fifth only the bits the value can hold,
  // which for the signed read repeat its sign. Longer forms than needed are
  // accepted within the five bytes. The byte alignment applies.
  // Returns the value with TAVBIN_OK, cursor after the last byte.
  //         TAVBIN_EOF if the data ends before the number does.
  //         TAVBIN_INVALID_ARG if five bytes all carry bit 7 (a sixth byte is
  //         announced: what leb128() returns for an eleventh), or the fifth
  //         byte has bits set beyond the value's 32 (above bit 3, or for the
  //         signed read, bits 4 to 6 unlike bit 3: the value does not fit, as
  //         sleb128() refuses a value outside int64).
  //         On these failures the cursor is back where the number began (after
  //         the byte alignment, which stays applied).
  //         last_error() then reports the returned status: it is recorded.
  Out<std::uint32_t> leb128_u32() noexcept {
    return run([](auto &r) noexcept { return r.template leb128_32<std::uint32_t>(); });
  }
  Out<std::int32_t> sleb128_i32() noexcept {
    return run([](auto &r) noexcept { return r.template leb128_32<std::int32_t>(); });
  }

  // A 24-bit integer in the reader's byte order (TLS lengths, FLV, 24-bit PCM),
  // read as one 3-byte block: its statuses, cursor rules and what the handle
  // records are tavbin_bytes'.
  Out<std::uint32_t> u24() noexcept {
    return run([](auto &r) noexcept { return read_body::u24(r); });
  }
  // The same, sign-extended from bit 23.
  Out<std::int32_t> i24() noexcept {
    return run([](auto &r) noexcept { return read_body::i24(r); });
  }

  // What the next read would deliver, the cursor unmoved (tavbin_peek_u8 ...).
  Out<std::uint8_t> peek_u8() noexcept {
    return run([](auto &r) noexcept { return r.call_at(tavbin_peek_u8); });
  }
  Out<std::uint16_t> peek_u16() noexcept {
    return run([](auto &r) noexcept { return r.call_at(tavbin_peek_u16); });
  }
  Out<std::uint32_t> peek_u32() noexcept {
    return run([](auto &r) noexcept { return r.call_at(tavbin_peek_u32); });
  }
  Out<std::uint64_t> peek_u64() noexcept {
    return run([](auto &r) noexcept { return r.call_at(tavbin_peek_u64); });
  }

  // The value at an absolute offset, the cursor unmoved (tavbin_u8_at ...).
  Out<std::uint8_t> u8_at(std::uint64_t offset) noexcept {
    return run([=](auto &r) noexcept { return r.call_at(tavbin_u8_at, offset); });
  }
  Out<std::uint16_t> u16_at(std::uint64_t offset) noexcept {
    return run([=](auto &r) noexcept { return r.call_at(tavbin_u16_at, offset); });
  }
  Out<std::uint32_t> u32_at(std::uint64_t offset) noexcept {
    return run([=](auto &r) noexcept { return r.call_at(tavbin_u32_at, offset); });
  }
  Out<std::uint64_t> u64_at(std::uint64_t offset) noexcept {
    return run([=](auto &r) noexcept { return r.call_at(tavbin_u64_at, offset); });
  }

  // The next n bytes of the input itself, without copying: a skip that tells
  // what it skipped. The view lives as long as the input bytes.
  Out<byte_view> view(std::uint64_t n) noexcept {
    return run([=](auto &r) noexcept { return read_body::view(r, n); });
  }

  // Read a NUL-terminated string: the bytes before the next NUL, consumed
  // together with the NUL, viewed in the input itself (no copy; the view lives as
  // long as the input bytes). Looks at no more than max_len + 1 bytes. The byte
  // alignment applies.
  //   max_len: the longest string accepted, NUL not counted.
  // Returns the string with TAVBIN_OK, cursor after the NUL (recorded).
  //         TAVBIN_INVALID_ARG if the reader is empty (not recorded).
  //         TAVBIN_TOO_LARGE if the next max_len + 1 bytes hold no NUL. Not
  //         recorded: no C call records it without moving, so last_error() still
  //         reports the call before.
  //         TAVBIN_EOF if the data ends, before max_len + 1 bytes, without a NUL
  //         (recorded).
  //         On failure the value is empty and the cursor does not move (after the
  //         byte alignment, which stays applied).
  Out<std::string_view> cstring(std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return read_body::cstring(r, max_len); });
  }

  // The same at an absolute offset, as ELF, PE and Mach-O name tables are
  // read: the cursor and the bit position do not move, and nothing is
  // recorded (last_error() still reports the call before).
  //   offset: 0 to size(); counted from this reader's first byte, as u8_at().
  // Returns the string with TAVBIN_OK.
  //         TAVBIN_INVALID_ARG if the reader is empty.
  //         TAVBIN_RANGE if offset > size(), as the absolute reads refuse one.
  //         TAVBIN_TOO_LARGE if the max_len + 1 bytes at offset hold no NUL.
  //         TAVBIN_EOF if the data ends, before max_len + 1 bytes, without a NUL
  //         (at offset size(): no byte at all).
  Out<std::string_view> cstring_at(std::uint64_t offset, std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return read_body::cstring_at(r, offset, max_len); });
  }

  // Read a string stored as its length L and then L bytes, unchanged (a NUL
  // among them is a byte like any other), as tavbin_string_u32 reads one:
  // string_u8 after an 8-bit length (Pascal strings, DNS labels), string_u16
  // after a 16-bit one in the reader's byte order (the JVM's Utf8 constants),
  // string_leb128 after an unsigned LEB128 one (WebAssembly names, protobuf
  // bytes), string_u32 after a 32-bit one.
  // With (max_len), the string is viewed in the input itself (no copy; the view
  // lives as long as the input bytes). With (dst, cap, max_len), its bytes are
  // copied to dst with a NUL after them, and the value views them there; the
  // (dst) form takes a char array, its size as cap and one less as max_len.
  // string_u32's copy is tavbin_string_u32 itself, one call; the others are
  // built here on the input, and copy with memcpy.
  //   max_len: the longest L accepted.
  //   cap:     the size of dst, at least L + 1.
  // Returns the string with TAVBIN_OK, the cursor past it, after the byte
  //         alignment (recorded).
  //         TAVBIN_INVALID_ARG if the reader is empty or dst is null (not
  //         recorded).
  //         TAVBIN_EOF if the data ends inside the length.
  //         TAVBIN_INVALID_ARG if a LEB128 length runs past ten bytes (ten all
  //         carry bit 7) or does not fit in 64 bits (the tenth byte is above 1),
  //         so that no length is ever read with bits dropped.
  //         TAVBIN_TOO_LARGE if L > max_len, or cap < L + 1; tested before
  //         whether L bytes follow.
  //         TAVBIN_EOF if fewer than L bytes follow the length.
  //         On every failure the cursor is exactly as it was, the bit position
  //         included, dst is untouched and the value is empty. A failure is
  //         recorded as tavbin_string_u32 records it, except where no C call
  //         can record it without moving: TAVBIN_TOO_LARGE (but for
  //         string_u32's copy) and, after a partly read byte, TAVBIN_EOF leave
  //         last_error() as the call before left it.
  Out<std::string_view> string_u8(std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return r.template prefixed<false>(detail::prefix::u8, max_len); });
  }
  Out<std::string_view> string_u16(std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return r.template prefixed<false>(detail::prefix::u16, max_len); });
  }
  Out<std::string_view> string_leb128(std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return r.template prefixed<false>(detail::prefix::leb128, max_len); });
  }
  Out<std::string_view> string_u32(std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return r.template prefixed<false>(detail::prefix::u32, max_len); });
  }
  Out<std::string_view> string_u8(char *dst, std::size_t cap, std::uint64_t max_len) noexcept {
    return run(
        [=](auto &r) noexcept { return r.template prefixed<true>(detail::prefix::u8, max_len, dst, cap); });
  }
  Out<std::string_view> string_u16(char *dst, std::size_t cap, std::uint64_t max_len) noexcept {
    return run(
        [=](auto &r) noexcept { return r.template prefixed<true>(detail::prefix::u16, max_len, dst, cap); });
  }
  Out<std::string_view> string_leb128(char *dst, std::size_t cap, std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept {
      return r.template prefixed<true>(detail::prefix::leb128, max_len, dst, cap);
    });
  }
  Out<std::string_view> string_u32(char *dst, std::size_t cap, std::uint64_t max_len) noexcept {
    return run([=](auto &r) noexcept { return read_body::string_u32(r, dst, cap, max_len); });
  }
  template <std::size_t N> Out<std::string_view> string_u8(char (&dst)[N]) noexcept {
    return string_u8(dst, N, N - 1);
  }
  template <std::size_t N> Out<std::string_view> string_u16(char (&dst)[N]) noexcept {
    return string_u16(dst, N, N - 1);
  }
  template <std::size_t N> Out<std::string_view> string_leb128(char (&dst)[N]) noexcept {
    return string_leb128(dst, N, N - 1);
  }
  template <std::size_t N> Out<std::string_view> string_u32(char (&dst)[N]) noexcept {
    return string_u32(dst, N, N - 1);
  }

private:
  // Runs read, a function of the reader that returns result<T>, as Self does.
  template <bool BitRead = false, class Read> decltype(auto) run(Read read) noexcept {
    return static_cast<Self &>(*this).template apply<BitRead>(read);
  }
};
} // namespace detail

// A cursor over bytes the caller owns: the bytes given to open() must outlive
// the reader and stay unchanged. Its reads, u8() to string_u32(), are
// detail::reads', above, which it shares with cursor.
class reader : public detail::reads<reader, result> {
public:
  reader() noexcept = default;

  // An empty reader if the C open refuses (bad byte order, out of memory).
  static reader open(byte_view data, endian order = endian::big) noexcept {
    reader r;
    r.h_ = handle(tavbin_open(data.data(), data.size(), static_cast<tavbin_endian>(order)));
    if (r.h_.get() != nullptr) {
      r.data_ = data.data();
      r.order_ = order;
    }
    return r;
  }
  // A temporary container that owns its bytes (std::vector, std::string,
  // std::array, ...) would be destroyed at the end of the statement while the
  // reader still points into it, so this does not compile. Keep the container in
  // a variable, or pass a view of bytes that live on.
  template <class C,
            std::enable_if_t<!std::is_lvalue_reference_v<C> && detail::owns_bytes<std::remove_cv_t<C>>::value,
                             int> = 0>
  static reader open(C &&temporary, endian order = endian::big) = delete;

  explicit operator bool() const noexcept { return h_.get() != nullptr; }
  // The C handle, still owned by this reader. Reads made through it move the same
  // cursor, but what they do is not seen here: a tavbin_set_endian is not seen by
  // sub(), u24(), array() and the string reads, which keep the byte order given
  // to open() or set_endian() here, and a tavbin_bits is not seen by lsb_bits,
  // cursor and the string reads, which keep count of a partly read byte from
  // this reader's own calls.
  tavbin_reader *get() const noexcept { return h_.get(); }
  // Gives up ownership: the caller must tavbin_close the handle.
  [[nodiscard]] tavbin_reader *release() noexcept {
    data_ = nullptr;
    return h_.release();
  }

  tavbin_status set_endian(endian order) noexcept {
    const tavbin_status s = tavbin_set_endian(get(), static_cast<tavbin_endian>(order));
    if (s == TAVBIN_OK) order_ = order;
    return s;
  }
  tavbin_status seek(std::uint64_t offset) noexcept { return aligned_if_ok(tavbin_seek(get(), offset)); }
  std::uint64_t tell() const noexcept { return tavbin_tell(get()); }
  std::uint64_t remaining() const noexcept { return tavbin_remaining(get()); }
  std::uint64_t size() const noexcept { return tavbin_size(get()); }
  // Where this reader's first byte lies in the input of the reader it was cut
  // from by sub(), counted from that reader's own origin: offsets in the
  // outermost input, the file a parser reports on. 0 for a reader opened on
  // its own, and for an empty reader.
  std::uint64_t origin() const noexcept { return get() != nullptr ? origin_ : 0; }
  tavbin_status last_error() const noexcept { return tavbin_last_error(get()); }
  std::error_code last_error_code() const noexcept { return make_error_code(tavbin_last_error(get())); }
  void bit_align() noexcept {
    tavbin_bit_align(get());
    skipped_ = bit_ != 0 && get() != nullptr;
    bit_ = 0;
  }

  // Read n values of T (a fixed-width integer of 8 to 64 bits, float or double)
  // in the reader's byte order into out, as one block read: all or nothing. The
  // byte alignment applies.
  // Returns TAVBIN_OK, the cursor past the n values (recorded).
  //         TAVBIN_EOF if fewer than n values remain, or n times the width
  //         does not fit in 64 bits: out untouched, the cursor unmoved
  //         (recorded).
  //         TAVBIN_INVALID_ARG if the reader is empty, or out is null and n is
  //         not 0 (not recorded).
  template <class T> tavbin_status array(T *out, std::size_t n) noexcept {
    static_assert(detail::is_array_value<T>, "array() reads fixed-width integers, float and double");
    if (get() == nullptr || (out == nullptr && n != 0)) return refused();
    if (static_cast<std::uint64_t>(n) > UINT64_MAX / sizeof(T)) {
      bit_align();
      return record(TAVBIN_EOF);
    }
    const tavbin_status s = aligned_unless_refused(tavbin_bytes(get(), out, std::uint64_t{n} * sizeof(T)));
    if constexpr (sizeof(T) > 1) {
      if (s == TAVBIN_OK && !detail::host_order_is(order_)) detail::swap_each<sizeof(T)>(out, n);
    }
    return s;
  }

  tavbin_status bytes(void *dst, std::uint64_t n) noexcept {
    return aligned_unless_refused(tavbin_bytes(get(), dst, n));
  }
  tavbin_status ascii(char *dst, std::uint64_t n) noexcept {
    return aligned_unless_refused(tavbin_ascii(get(), dst, n));
  }
  tavbin_status skip(std::uint64_t n) noexcept { return aligned_unless_refused(tavbin_skip(get(), n)); }
#if defined(__cpp_lib_span)
  tavbin_status bytes(std::span<std::uint8_t> dst) noexcept { return bytes(dst.data(), dst.size()); }
  tavbin_status bytes(std::span<std::byte> dst) noexcept { return bytes(dst.data(), dst.size()); }
#endif

  // A new reader over the next n bytes of this one's input, in the same byte
  // order, its cursor at 0 and its origin() where those bytes lie: a record or
  // section confined to its own length, so a bad length inside it cannot reach
  // beyond it. This reader moves past the n bytes. The new reader views the same
  // input, which must outlive both. The byte alignment applies.
  //   n: any count; 0 gives an empty input (a reader that tests true).
  // Returns the new reader; this one advanced by n and TAVBIN_OK recorded.
  //         An empty reader (tests false) on failure, this one unmoved (after
  //         the byte alignment): if fewer than n bytes remain (TAVBIN_EOF,
  //         recorded), if memory runs out (nothing recorded), or if this one
  //         is empty. To tell them apart, compare remaining() with n, or cut
  //         through a cursor, whose status() names the failure (TAVBIN_OOM for
  //         memory).
  reader sub(std::uint64_t n) noexcept { return split(n).value; }

private:
  template <class, template <class> class> friend class detail::reads;
  friend struct detail::read_body;
  friend class cursor;
  friend class lsb_bits;
  using handle = detail::owner<tavbin_reader, tavbin_close>;

  // A read of detail::reads, run on this reader.
  template <bool, class Read> auto apply(Read read) noexcept { return read(*this); }

  // sub() with its status, for the cursor.
  result<reader> split(std::uint64_t n) noexcept {
    result<reader> out;
    if (get() == nullptr) {
      out.status = refused();
      return out;
    }
    bit_align();
    const std::uint64_t at = tavbin_tell(get());
    if (tavbin_remaining(get()) < n) {
      out.status = record(TAVBIN_EOF);
      return out;
    }
    // Opened before this one moves, so that running out of memory moves nothing.
    out.value = open(byte_view(data_ + at, static_cast<std::size_t>(n)), order_);
    out.value.origin_ = origin_ + at;
    out.status = out.value ? tavbin_skip(get(), n) : TAVBIN_OOM;
    return out;
  }

  // The NUL-terminated string at pos, in the rem bytes from there to the end,
  // as cstring() finds it; nothing moved, nothing recorded.
  result<std::string_view> nul_terminated(std::uint64_t pos, std::uint64_t rem,
                                          std::uint64_t max_len) const noexcept {
    result<std::string_view> out;
    const std::uint64_t window = max_len < rem ? max_len + 1 : rem;
    const std::uint8_t *first = data_ + pos;
    const void *nul = window == 0 ? nullptr : std::memchr(first, 0, static_cast<std::size_t>(window));
    if (nul == nullptr) {
      out.status = max_len < rem ? TAVBIN_TOO_LARGE : TAVBIN_EOF;
      return out;
    }
    const auto len = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - first);
    out.value = std::string_view(reinterpret_cast<const char *>(first), len);
    out.status = TAVBIN_OK;
    return out;
  }

  // The string reads other than tavbin_string_u32's copy: the length and the
  // bytes found in the input after the byte alignment, without moving, then
  // one skip past them if they are all there; the bytes copied to dst if Copy.
  template <bool Copy>
  result<std::string_view> prefixed(detail::prefix p, std::uint64_t max_len, char *dst = nullptr,
                                    std::uint64_t cap = 0) noexcept {
    result<std::string_view> out;
    skipped_ = false;
    if (get() == nullptr || (Copy && dst == nullptr)) {
      out.status = TAVBIN_INVALID_ARG;
      return out;
    }
    const std::uint64_t pos = tavbin_tell(get());
    const std::uint64_t rem = tavbin_remaining(get());
    const std::uint64_t partial = bit_ != 0 && rem != 0 ? 1 : 0; // the skip below drops it first
    const std::uint64_t avail = rem - partial;
    if (avail == 0) { // every length takes a byte at least
      out.status = unmoved(TAVBIN_EOF);
      return out;
    }
    // Bytes remain, so data_ is not null.
    const std::uint8_t *at = data_ + pos + partial;
    auto head = static_cast<std::uint64_t>(p);
    std::uint64_t len = 0;
    if (p == detail::prefix::leb128) {
      const detail::leb128_number n = detail::leb128_at(at, avail);
      if (n.status != TAVBIN_OK) {
        out.status = unmoved(n.status);
        return out;
      }
      head = n.size;
      len = n.value;
    } else if (avail < head) {
      out.status = unmoved(TAVBIN_EOF);
      return out;
    } else {
      len = p == detail::prefix::u8    ? std::uint64_t{at[0]}
            : p == detail::prefix::u16 ? std::uint64_t{detail::load<std::uint16_t>(at, order_)}
                                       : std::uint64_t{detail::load<std::uint32_t>(at, order_)};
    }
    if (len > max_len || (Copy && len >= cap)) {
      out.status = TAVBIN_TOO_LARGE; // no C call records it without moving
      return out;
    }
    if (avail - head < len) {
      out.status = unmoved(TAVBIN_EOF);
      return out;
    }
    out.status = tavbin_skip(get(), head + len);
    bit_ = 0;
    const auto n = static_cast<std::size_t>(len);
    const char *first = reinterpret_cast<const char *>(at) + head;
    if constexpr (Copy) {
      if (n != 0) std::memcpy(dst, first, n);
      dst[n] = '\0';
      first = dst;
    }
    out.value = std::string_view(first, n);
    return out;
  }

  // leb128_u32() and sleb128_i32(): tavbin_leb128 of at most five bytes, then
  // the five bytes' limits.
  template <class T> result<T> leb128_32() noexcept {
    result<T> out;
    skipped_ = false;
    bit_align(); // so that tell() is the number's first byte
    const std::uint64_t start = tavbin_tell(get());
    std::uint64_t v = 0;
    out.status = tavbin_leb128(get(), &v, 5);
    if (out.status == TAVBIN_EOF && tavbin_remaining(get()) >= 5) {
      out.status = record(TAVBIN_INVALID_ARG); // five bytes that all carry bit 7
      return out;
    }
    if (out.status != TAVBIN_OK) return out;
    const std::uint64_t n = tavbin_tell(get()) - start; // 1 to 5
    // A read succeeded, so the input has bytes and data_ is not null.
    const std::uint8_t last = data_[start + n - 1]; // NOLINT(clang-analyzer-core.NullDereference)
    if constexpr (std::is_signed_v<T>) {
      // Bits 3 to 6 of a fifth byte are bits 31 to 34 of the value: all its sign.
      if (n == 5 && (last & 0x78) != 0 && (last & 0x78) != 0x78) return refuse_at(start, out);
      if (n < 5 && (last & 0x40) != 0) v |= ~std::uint64_t{0} << (7 * n);
      out.value = detail::to_signed32(static_cast<std::uint32_t>(v));
    } else {
      if (n == 5 && last > 0x0F) return refuse_at(start, out);
      out.value = static_cast<std::uint32_t>(v);
    }
    return out;
  }
  // A number read and then refused: the cursor back at its first byte, where
  // the bit position is 0 already, and TAVBIN_INVALID_ARG recorded.
  template <class T> result<T> refuse_at(std::uint64_t start, result<T> out) noexcept {
    (void)tavbin_seek(get(), start);
    out.status = record(TAVBIN_INVALID_ARG);
    return out;
  }

  // Records s in the handle, for a refusal this header makes itself: the C
  // reader records a status only as the outcome of one of its calls, so this
  // makes a call known to fail in just that way while moving nothing (the
  // cursor is aligned already). TAVBIN_EOF: a skip past the end; otherwise
  // (TAVBIN_INVALID_ARG): a LEB128 read of at most 0 bytes. Returns s.
  tavbin_status
  record(tavbin_status s) noexcept { // NOLINT(readability-make-member-function-const): it records
    std::uint64_t unused = 0;
    return s == TAVBIN_EOF ? tavbin_skip(get(), UINT64_MAX) : tavbin_leb128(get(), &unused, 0);
  }
  // Records s, TAVBIN_EOF or TAVBIN_INVALID_ARG, for a read that moves
  // nothing on failure, not even past a partly read byte: the skip that records
  // TAVBIN_EOF would drop that byte, so then it is not recorded. Returns s.
  tavbin_status unmoved(tavbin_status s) noexcept { return s == TAVBIN_EOF && bit_ != 0 ? s : record(s); }

  // After a consuming byte read: the alignment has happened unless the C call
  // refused its arguments before touching the cursor (TAVBIN_INVALID_ARG).
  // On failure, whether the call skipped the rest of a partly read byte is kept
  // in skipped_, for the cursor, which so learns where the reader stood without
  // asking before every read.
  tavbin_status aligned_unless_refused(tavbin_status s) noexcept {
    if (s == TAVBIN_OK) {
      bit_ = 0;
    } else {
      skipped_ = s != TAVBIN_INVALID_ARG && bit_ != 0;
      if (s != TAVBIN_INVALID_ARG) bit_ = 0;
    }
    return s;
  }
  tavbin_status aligned_if_ok(tavbin_status s) noexcept {
    if (s == TAVBIN_OK)
      bit_ = 0;
    else
      skipped_ = false;
    return s;
  }
  // A refusal before anything moved.
  tavbin_status refused() noexcept {
    skipped_ = false;
    return TAVBIN_INVALID_ARG;
  }

  template <class T> result<T> call(tavbin_status (*fn)(tavbin_reader *, T *)) noexcept {
    result<T> out;
    T v{};
    out.status = aligned_unless_refused(fn(get(), &v));
    if (out.status == TAVBIN_OK) out.value = v;
    return out;
  }
  // Reads that leave the cursor as it was: peeks and absolute reads.
  template <class T> result<T> call_at(tavbin_status (*fn)(tavbin_reader *, T *)) noexcept {
    result<T> out;
    T v{};
    out.status = fn(get(), &v);
    if (out.status == TAVBIN_OK)
      out.value = v;
    else
      skipped_ = false;
    return out;
  }
  template <class T>
  result<T> call_at(tavbin_status (*fn)(tavbin_reader *, std::uint64_t, T *), std::uint64_t offset) noexcept {
    result<T> out;
    T v{};
    out.status = fn(get(), offset, &v);
    if (out.status == TAVBIN_OK)
      out.value = v;
    else
      skipped_ = false;
    return out;
  }

  handle h_;
  const std::uint8_t *data_ = nullptr; // the input: the C reader does not hand its bytes out
  std::uint64_t origin_ = 0;           // for origin()
  endian order_ =
      endian::big;       // for sub(), u24(), array(), the strings: the C reader does not tell its byte order
  std::uint8_t bit_ = 0; // bits taken from the byte at tell(), 0 to 7, as this object's calls left it
  bool skipped_ = false; // after a failed read: it skipped the rest of a partly read byte
};

// ---------------------------------------------------------------------------
// Bit fields taken least significant bit first
// ---------------------------------------------------------------------------

// Bit fields as DEFLATE, GIF's LZW and many sensor formats pack them: each byte
// is used from its least significant bit up, and the first bit taken is bit 0
// of the value. Starts at the reader's cursor, past a partly read
// most-significant-first byte (as every byte read is), and reads the input
// itself, inline: the reader does not move until done(), which moves it once,
// past every byte a bit was taken from. Meanwhile the reader must not be used.
// Not copyable or movable: it stands for the reader's cursor.
//
//     tavbin::lsb_bits b(r);
//     const auto final_block = b.read(1);
//     const auto type = b.read(2);
//     b.done(); // or at the end of the scope
class lsb_bits {
public:
  explicit lsb_bits(reader &r) noexcept : r_(r.get() != nullptr ? &r : nullptr) {
    if (r_ == nullptr) return;
    const std::uint64_t at = r.tell();
    const std::uint64_t rem = r.remaining();
    const bool partial = r.bit_ != 0 && rem != 0;
    start_ = at + (partial ? 1 : 0);
    next_ = r.data_ + start_;
    left_ = rem - (partial ? 1 : 0);
  }
  ~lsb_bits() { done(); }
  lsb_bits(const lsb_bits &) = delete;
  lsb_bits &operator=(const lsb_bits &) = delete;

  // count bits, 1 to 64, the first taken being bit 0 of the value.
  // Returns the bits with TAVBIN_OK.
  //         TAVBIN_INVALID_ARG if count is 0 or above 64, after done(), or if
  //         the reader is empty.
  //         TAVBIN_EOF if fewer than count bits remain.
  //         On failure nothing is taken. Nothing is recorded in the reader.
  result<std::uint64_t> read(std::uint32_t count) noexcept {
    result<std::uint64_t> out;
    if (r_ == nullptr || count == 0 || count > 64) return out;
    // Bits left: those of the current byte, then whole bytes.
    if (left_ < 9 && left_ * 8 - bit_ < count) {
      out.status = TAVBIN_EOF;
      return out;
    }
    std::uint64_t v = 0;
    std::uint32_t got = 0;
    while (got < count) {
      const std::uint32_t take = std::min<std::uint32_t>(8 - bit_, count - got);
      const std::uint64_t part = (std::uint64_t{*next_} >> bit_) & ((std::uint64_t{1} << take) - 1);
      v |= part << got;
      got += take;
      bit_ += take;
      if (bit_ == 8) {
        bit_ = 0;
        ++next_;
        --left_;
      }
    }
    out.value = v;
    out.status = TAVBIN_OK;
    return out;
  }

  // Drops the rest of a partly read byte; the next bit is the next byte's bit 0.
  void align() noexcept {
    if (bit_ != 0) {
      bit_ = 0;
      ++next_;
      --left_;
    }
  }

  // The offset, in the reader's input, of the byte the next bit comes from:
  // where a failed read stood. 0 if the reader is empty.
  std::uint64_t offset() const noexcept { return r_ == nullptr ? 0 : start_ + taken_bytes(); }

  // Moves the reader past every byte a bit was taken from (tavbin_seek, which
  // records TAVBIN_OK); if none was, the reader stays as it was. Later reads
  // return TAVBIN_INVALID_ARG; a second done() does nothing.
  void done() noexcept {
    if (r_ == nullptr) return;
    const std::uint64_t used = taken_bytes() + (bit_ != 0 ? 1 : 0);
    if (used != 0) (void)r_->seek(start_ + used);
    r_ = nullptr;
  }

private:
  std::uint64_t taken_bytes() const noexcept {
    return static_cast<std::uint64_t>(next_ - (r_->data_ + start_));
  }

  reader *r_;
  const std::uint8_t *next_ = nullptr; // the byte the next bit comes from
  std::uint64_t start_ = 0;            // its offset when reading began
  std::uint64_t left_ = 0;             // bytes from next_ to the end of the input
  std::uint32_t bit_ = 0;              // bits of *next_ already taken, 0 to 7
};

// ---------------------------------------------------------------------------
// Cursor
// ---------------------------------------------------------------------------

// Reads a record from a reader with plain values, checked once at the end. The
// cursor keeps the first failure: from then on it tests false, status() is that
// failure's status, offset() is where the reader stood just before the failing
// call, and every later read returns T{} (0, an empty view, an empty reader)
// without calling the library, so the reader stays exactly where the failure
// left it. Its reads, u8() to string_u32(), are the reader's own
// (detail::reads): the same statuses, the same cursor rules, the same
// last_error(), and the same cost: a read makes no other call, except a bit
// read, which asks the reader's tell() first. The reader must outlive the
// cursor; it may still be used directly, which the cursor does not see.
// Not copyable: a copy would keep a failure the original never learns of.
//
//     tavbin::cursor c(r);
//     const auto id = c.u8();
//     const auto size = c.leb128_u32();
//     auto body = c.sub(size);
//     if (!c) return fail(c.status(), body.origin() + c.offset());
class cursor : public detail::reads<cursor, detail::plain> {
public:
  explicit cursor(reader &r) noexcept : r_(&r) {}
  cursor(const cursor &) = delete;
  cursor &operator=(const cursor &) = delete;

  // True until a read fails.
  explicit operator bool() const noexcept { return status_ == TAVBIN_OK; }
  // TAVBIN_OK, or the status of the first failed read.
  tavbin_status status() const noexcept { return status_; }
  std::error_code error() const noexcept { return make_error_code(status_); }
  // The reader's tell() just before the first failed read; while none has
  // failed, the reader's tell() now.
  std::uint64_t offset() const noexcept { return status_ == TAVBIN_OK ? r_->tell() : offset_; }
  // The reader's position and what is left after it, failure or not.
  std::uint64_t tell() const noexcept { return r_->tell(); }
  std::uint64_t remaining() const noexcept { return r_->remaining(); }
  // Moves the reader to offset (reader::seek); TAVBIN_RANGE beyond the end,
  // kept as the first failure like any read's.
  void seek(std::uint64_t offset) noexcept {
    (void)apply([=](reader &r) noexcept { return result<bool>{true, r.seek(offset)}; });
  }
  void skip(std::uint64_t n) noexcept {
    (void)apply([=](reader &r) noexcept { return result<bool>{true, r.skip(n)}; });
  }
  // n values into out (reader::array); on failure out is not modified.
  template <class T> void array(T *out, std::size_t n) noexcept {
    (void)apply([=](reader &r) noexcept { return result<bool>{true, r.array(out, n)}; });
  }
  // Copies n bytes to dst. Returns a view of them in dst; empty on failure (dst
  // is then not modified).
  byte_view bytes(void *dst, std::uint64_t n) noexcept {
    return apply([=](reader &r) noexcept {
      const tavbin_status s = r.bytes(dst, n);
      return result<byte_view>{s == TAVBIN_OK ? byte_view(dst, static_cast<std::size_t>(n)) : byte_view(), s};
    });
  }
  // A reader over the next n bytes (reader::sub). A failure of memory, which the
  // reader cannot record, is kept here as TAVBIN_OOM.
  reader sub(std::uint64_t n) noexcept {
    return apply([=](reader &r) noexcept { return r.split(n); });
  }

private:
  template <class, template <class> class> friend class detail::reads;

  // Runs a read on the reader unless one has failed. A read that fails leaves
  // the reader where it stood, or one byte on if it skipped the rest of a
  // partly read byte, which the reader notes; so the failure's offset is found
  // afterwards, and a read that succeeds asks nothing more. Only a bit read,
  // whose failure takes the bits up to the end, asks the reader's tell() first.
  template <bool BitRead = false, class Read>
  auto apply(Read read) noexcept -> decltype(read(std::declval<reader &>()).value) {
    using T = decltype(read(std::declval<reader &>()).value);
    if (status_ != TAVBIN_OK) return T{};
    std::uint64_t at = 0;
    if constexpr (BitRead) at = r_->tell();
    auto got = read(*r_);
    if (got.status != TAVBIN_OK) {
      status_ = got.status;
      offset_ = BitRead ? at : r_->tell() - (r_->skipped_ ? 1 : 0);
      return T{};
    }
    return std::move(got.value);
  }

  reader *r_;
  tavbin_status status_ = TAVBIN_OK;
  std::uint64_t offset_ = 0;
};

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

// A growing buffer the library owns; bytes() views it until the next append.
class writer {
public:
  writer() noexcept = default;

  // An empty writer if the C open refuses (bad byte order, out of memory).
  //   initial_cap: bytes to allocate at once; 0 lets the library choose (64).
  static writer open(endian order = endian::big, std::uint64_t initial_cap = 0) noexcept {
    writer w;
    w.h_ = handle(tavbinw_open(initial_cap, static_cast<tavbin_endian>(order)));
    if (w.h_.get() != nullptr) w.order_ = order;
    return w;
  }

  explicit operator bool() const noexcept { return h_.get() != nullptr; }
  // The C handle, still owned by this writer. Appends made through it are not
  // seen by first_error(); a tavbinw_set_endian made through it is not seen by
  // patch_*, u24(), i24(), array() and string_u16(), which keep the byte order
  // given to open() or set_endian() here.
  tavbin_writer *get() const noexcept { return h_.get(); }
  // Gives up ownership: the caller must tavbinw_close the handle.
  [[nodiscard]] tavbin_writer *release() noexcept {
    first_ = TAVBIN_OK;
    return h_.release();
  }

  tavbin_status set_endian(endian order) noexcept {
    const tavbin_status s = tavbinw_set_endian(get(), static_cast<tavbin_endian>(order));
    if (s == TAVBIN_OK) order_ = order;
    return s;
  }
  tavbin_status last_error() const noexcept { return tavbinw_last_error(get()); }
  std::error_code last_error_code() const noexcept { return make_error_code(tavbinw_last_error(get())); }
  // The first status other than TAVBIN_OK returned by any append or patch made
  // through this object since open(), so that a producer checks once, at the
  // end. last_error() keeps telling the last append alone.
  // Returns TAVBIN_OK if every one succeeded (or none was made).
  //         TAVBIN_INVALID_ARG if the writer is empty: nothing it was asked to
  //         write was written.
  tavbin_status first_error() const noexcept { return get() == nullptr ? TAVBIN_INVALID_ARG : first_; }
  std::uint64_t size() const noexcept { return tavbinw_len(get()); }
  // Valid until the next append or the writer's end.
  byte_view bytes() const noexcept {
    return {tavbinw_data(get()), static_cast<std::size_t>(tavbinw_len(get()))};
  }
  std::string_view str() const noexcept { return bytes().str(); }

  tavbin_status u8(std::uint8_t v) noexcept { return note(tavbinw_u8(get(), v)); }
  tavbin_status i8(std::int8_t v) noexcept { return note(tavbinw_u8(get(), static_cast<std::uint8_t>(v))); }
  tavbin_status u16(std::uint16_t v) noexcept { return note(tavbinw_u16(get(), v)); }
  tavbin_status i16(std::int16_t v) noexcept { return note(tavbinw_i16(get(), v)); }
  tavbin_status u32(std::uint32_t v) noexcept { return note(tavbinw_u32(get(), v)); }
  tavbin_status i32(std::int32_t v) noexcept { return note(tavbinw_i32(get(), v)); }
  tavbin_status u64(std::uint64_t v) noexcept { return note(tavbinw_u64(get(), v)); }
  tavbin_status i64(std::int64_t v) noexcept { return note(tavbinw_i64(get(), v)); }
  tavbin_status f32(float v) noexcept { return note(tavbinw_f32(get(), v)); }
  tavbin_status f64(double v) noexcept { return note(tavbinw_f64(get(), v)); }
  tavbin_status leb128(std::uint64_t v) noexcept { return note(tavbinw_leb128(get(), v)); }
  tavbin_status append(byte_view b) noexcept { return note(tavbinw_bytes(get(), b.data(), b.size())); }
  tavbin_status string_u32(std::string_view s) noexcept {
    return note(tavbinw_string_u32(get(), s.data(), s.size()));
  }

  // Append a string as its length and then its bytes, unchanged and without a
  // terminator (what reader::string_u8 ... string_leb128 read), as string_u32
  // appends one: an 8-bit length (string_u8), a 16-bit one in the writer's byte
  // order (string_u16), an unsigned LEB128 one in its shortest form
  // (string_leb128). All or nothing: length and bytes go in as one append.
  // s may lie inside the bytes already written.
  // Returns TAVBIN_OK (recorded).
  //         TAVBIN_INVALID_ARG if the writer is empty, or s has no data but a
  //         size (not recorded).
  //         TAVBIN_TOO_LARGE if s is longer than 255 bytes (string_u8) or
  //         65535 bytes (string_u16): recorded, nothing appended.
  //         TAVBIN_INVALID_ARG if s runs from the written bytes on into the
  //         rest of the buffer, or from before the buffer into it (recorded;
  //         nothing appended).
  //         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended).
  //         A failure counts for first_error().
  // Length and bytes are put together first, on the stack up to 512 bytes in
  // all, beyond that in a block from std::malloc, freed before returning (its
  // failure is TAVBIN_OOM, recorded).
  tavbin_status string_u8(std::string_view s) noexcept { return prefixed(s, detail::prefix::u8); }
  tavbin_status string_u16(std::string_view s) noexcept { return prefixed(s, detail::prefix::u16); }
  tavbin_status string_leb128(std::string_view s) noexcept { return prefixed(s, detail::prefix::leb128); }

  // Append a 24-bit value in the writer's byte order, as one 3-byte append.
  // Returns TAVBIN_OK (recorded).
  //         TAVBIN_RANGE if v is above 0xFFFFFF (u24) or outside -0x800000 to
  //         0x7FFFFF (i24): nothing appended, not recorded.
  //         TAVBIN_INVALID_ARG if the writer is empty (not recorded).
  //         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended).
  //         A failure counts for first_error().
  tavbin_status u24(std::uint32_t v) noexcept {
    if (get() == nullptr) return note(TAVBIN_INVALID_ARG);
    if (v > 0xFFFFFFu) return note(TAVBIN_RANGE);
    std::uint8_t b[3];
    detail::store_u24(b, v, order_);
    return note(tavbinw_bytes(get(), b, 3));
  }
  tavbin_status i24(std::int32_t v) noexcept {
    if (get() == nullptr) return note(TAVBIN_INVALID_ARG);
    if (v < -0x800000 || v > 0x7FFFFF) return note(TAVBIN_RANGE);
    return u24(static_cast<std::uint32_t>(v) & 0xFFFFFFu);
  }

  // Append n values of T (as reader::array) in the writer's byte order, as one
  // append: all or nothing. in may point into the bytes already written.
  // Returns TAVBIN_OK (recorded).
  //         TAVBIN_INVALID_ARG if the writer is empty, or in is null and n is
  //         not 0 (not recorded).
  //         TAVBIN_OOM if the buffer cannot grow, or n times the width does not
  //         fit in 64 bits (recorded; nothing appended).
  //         A failure counts for first_error().
  template <class T> tavbin_status array(const T *in, std::size_t n) noexcept {
    static_assert(detail::is_array_value<T>, "array() writes fixed-width integers, float and double");
    if (get() == nullptr || (in == nullptr && n != 0)) return note(TAVBIN_INVALID_ARG);
    // Too many bytes to count: an append of UINT64_MAX bytes is refused as
    // TAVBIN_OOM, recorded, before anything is read or written.
    const std::uint64_t len =
        static_cast<std::uint64_t>(n) > UINT64_MAX / sizeof(T) ? UINT64_MAX : std::uint64_t{n} * sizeof(T);
    const std::uint64_t at = tavbinw_len(get());
    const tavbin_status s = tavbinw_bytes(get(), in, len);
    if constexpr (sizeof(T) > 1) {
      if (s == TAVBIN_OK && !detail::host_order_is(order_)) {
        // In the writer's own buffer, which it has just written (as patch_*).
        detail::swap_each<sizeof(T)>(const_cast<std::uint8_t *>(tavbinw_data(get())) + at, n);
      }
    }
    return note(s);
  }

  // Append a signed LEB128 number (the encoding reader::sleb128 reads) in its
  // shortest form, 1 to 10 bytes.
  // Returns TAVBIN_OK (recorded).
  //         TAVBIN_INVALID_ARG if the writer is empty (not recorded).
  //         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended).
  tavbin_status sleb128(std::int64_t v) noexcept {
    std::uint8_t buf[10];
    std::size_t n = 0;
    const std::uint64_t sign = v < 0 ? ~std::uint64_t{0} : 0;
    auto rest = static_cast<std::uint64_t>(v);
    for (;;) {
      const auto group = static_cast<std::uint8_t>(rest & 0x7F);
      rest = (rest >> 7) | (sign << 57); // an arithmetic shift, whatever the standard
      // Done once the rest is all sign and bit 6 of this group already says so.
      if (rest == sign && (group & 0x40) == (sign & 0x40)) {
        buf[n++] = group;
        break;
      }
      buf[n++] = group | 0x80;
    }
    return note(tavbinw_bytes(get(), buf, n));
  }

  // Overwrite a 16-, 32- or 64-bit value already written, in the writer's byte
  // order: a length or checksum known only after what follows it was written.
  // The size does not change. This writes through the pointer bytes() hands out
  // as const, which is sound: that pointer is the writer's own heap buffer, never
  // a const object, and the caller's views of it see the new value.
  //   offset: byte offset of the value's first byte from the start.
  // Returns TAVBIN_OK.
  //         TAVBIN_INVALID_ARG if the writer is empty.
  //         TAVBIN_RANGE if the value does not lie wholly inside the written
  //         bytes (offset + width > size(), computed without wrapping); nothing
  //         is written.
  //         Not recorded in the handle (last_error() is unchanged); a failure
  //         counts for first_error().
  tavbin_status patch_u16(std::uint64_t offset, std::uint16_t v) noexcept {
    return patch(offset, v, tavbin_store_u16);
  }
  tavbin_status patch_u32(std::uint64_t offset, std::uint32_t v) noexcept {
    return patch(offset, v, tavbin_store_u32);
  }
  tavbin_status patch_u64(std::uint64_t offset, std::uint64_t v) noexcept {
    return patch(offset, v, tavbin_store_u64);
  }

private:
  using handle = detail::owner<tavbin_writer, tavbinw_close>;

  tavbin_status note(tavbin_status s) noexcept {
    if (first_ == TAVBIN_OK) first_ = s;
    return s;
  }
  template <class T>
  tavbin_status patch(std::uint64_t offset, T v,
                      tavbin_status (*store)(void *, std::uint64_t, tavbin_endian, T)) noexcept {
    if (get() == nullptr) return note(TAVBIN_INVALID_ARG);
    const std::uint64_t len = tavbinw_len(get());
    if (offset > len || len - offset < sizeof(T)) return note(TAVBIN_RANGE);
    auto *at = const_cast<std::uint8_t *>(tavbinw_data(get())) + offset;
    return note(store(at, len - offset, static_cast<tavbin_endian>(order_), v));
  }

  tavbin_status prefixed(std::string_view s, detail::prefix p) noexcept {
    if (get() == nullptr || (s.data() == nullptr && !s.empty())) return note(TAVBIN_INVALID_ARG);
    const std::uint64_t n = s.size();
    const char one = 0; // a source the refusals below never read
    if ((p == detail::prefix::u8 && n > 0xFFu) || (p == detail::prefix::u16 && n > 0xFFFFu)) {
      // Recorded as tavbinw_string_u32 records a string over its own limit.
      return note(tavbinw_string_u32(get(), &one, UINT64_MAX));
    }
    // A source that reaches past the written bytes into the buffer: the C
    // append refuses it, appending nothing, where this copy would not see it.
    const auto src = reinterpret_cast<std::uintptr_t>(s.data());
    const auto buf = reinterpret_cast<std::uintptr_t>(tavbinw_data(get()));
    const std::uint64_t len = tavbinw_len(get());
    if (n != 0 && ((src >= buf && src - buf < len && len - (src - buf) < n) || (src < buf && buf - src < n)))
      return note(tavbinw_bytes(get(), s.data(), n));

    std::uint8_t head[10];
    std::size_t k = 0;
    if (p == detail::prefix::u8) {
      head[k++] = static_cast<std::uint8_t>(n);
    } else if (p == detail::prefix::u16) {
      (void)tavbin_store_u16(head, 2, static_cast<tavbin_endian>(order_), static_cast<std::uint16_t>(n));
      k = 2;
    } else {
      for (std::uint64_t rest = n;; rest >>= 7) {
        head[k++] = static_cast<std::uint8_t>((rest & 0x7F) | (rest > 0x7F ? 0x80 : 0));
        if (rest <= 0x7F) break;
      }
    }
    // An append of UINT64_MAX bytes is refused as TAVBIN_OOM, recorded.
    if (n > SIZE_MAX - k) return note(tavbinw_bytes(get(), &one, UINT64_MAX));
    const std::size_t total = k + static_cast<std::size_t>(n);
    std::uint8_t local[512];
    auto *block = total <= sizeof local ? local : static_cast<std::uint8_t *>(std::malloc(total));
    if (block == nullptr) return note(tavbinw_bytes(get(), &one, UINT64_MAX));
    std::memcpy(block, head, k);
    if (n != 0) std::memcpy(block + k, s.data(), static_cast<std::size_t>(n));
    const tavbin_status st = tavbinw_bytes(get(), block, total);
    if (block != local) std::free(block);
    return note(st);
  }

  handle h_;
  endian order_ = endian::big; // for patch_*, u24, array: the C writer does not tell its byte order
  tavbin_status first_ = TAVBIN_OK;
};

} // namespace tavbin

#endif // TAVBIN_HPP
