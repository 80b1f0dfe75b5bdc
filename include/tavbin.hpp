// tavbin.hpp - binary-read-util for C++17 and later: owning handles, byte views,
// reads that return their value with their status, a cursor that checks once per
// record, signed LEB128, C strings, sub-readers, back-patching, std::error_code
// support.
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
// byte through tavbinw_u8, as the C writer has no signed 8-bit write. What this
// header adds:
//
//  - tavbin::reader and tavbin::writer own their handle. They are move-only; the
//    handle is closed exactly once, by the object that holds it last. A moved-from
//    object is empty: every call on it fails with TAVBIN_INVALID_ARG (the C rule
//    for a NULL handle), and destroying it does nothing.
//  - Construction never throws: open() returns an empty object when the C open
//    returns NULL; test it with `if (r)`.
//  - A read returns result<T>: the value and its status. The value is T{} unless
//    the status is TAVBIN_OK. A call that only succeeds or fails returns the
//    tavbin_status itself.
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
//  - A few reads and writes the C interface lacks (reader::sleb128, cstring, view,
//    sub; writer::sleb128, patch_u16/u32/u64) are built here on the C calls and on
//    the input the reader was opened over. Each says what the handle's last status
//    (last_error()) reports afterwards: the handle records only what the C calls
//    it makes record.
//  - The C interface cannot tell a handle's byte order, so reader and writer
//    remember the one given to open() or set_endian(); sub() and patch_* use it.
//    Changing the order with the C calls on get() is not seen by them.
//
// Nothing here throws or needs RTTI; the header compiles with -fno-exceptions.
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
//                          static_cast<unsigned long long>(c.offset()), c.error().message().c_str());

// Below C++17 the header stops at this one line instead of a screen of errors
// about std::string_view and inline variables. (MSVC reports the standard in
// _MSVC_LANG; its __cplusplus stays 199711L unless /Zc:__cplusplus is given.)
#if !defined(__cplusplus) || (__cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#error "tavbin.hpp needs C++17 or later (-std=c++17, /std:c++17); C programs include tavbin.h"
#elif !defined(TAVBIN_HPP)
#define TAVBIN_HPP

#include "tavbin.h"

#include <array>
#include <cstddef>
#include <cstdint>
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
  std::string message(int code) const override { return tavbin_strerror(code); }
  // Lets callers compare against the portable conditions where one means the
  // same thing; eof and range have no std::errc counterpart and stay our own.
  std::error_condition default_error_condition(int code) const noexcept override {
    switch (code) {
    case TAVBIN_INVALID_ARG: return std::make_error_condition(std::errc::invalid_argument);
    case TAVBIN_TOO_LARGE: return std::make_error_condition(std::errc::value_too_large);
    case TAVBIN_OOM: return std::make_error_condition(std::errc::not_enough_memory);
    default: return std::error_condition(code, *this);
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

inline std::error_code make_error_code(errc e) noexcept {
  return std::error_code(static_cast<int>(e), category());
}
// TAVBIN_OK gives an error_code that tests false, as std::error_code{} does.
inline std::error_code make_error_code(tavbin_status s) noexcept { return std::error_code(s, category()); }

// A value read together with the status of the read.
template <class T> struct [[nodiscard]] result {
  T value{};
  tavbin_status status = TAVBIN_INVALID_ARG;

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
struct is_byte_range<C, std::void_t<decltype(std::declval<const C &>().data()),
                                    decltype(std::declval<const C &>().size())>>
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
  template <class C, std::enable_if_t<detail::is_byte_range<C>::value && !std::is_same_v<C, byte_view>, int> = 0>
  byte_view(const C &range) noexcept : byte_view(range.data(), range.size()) {}

  constexpr const std::uint8_t *data() const noexcept { return data_; }
  constexpr std::size_t size() const noexcept { return size_; }
  constexpr bool empty() const noexcept { return size_ == 0; }
  constexpr const std::uint8_t *begin() const noexcept { return data_; }
  constexpr const std::uint8_t *end() const noexcept { return data_ + size_; }
  constexpr std::uint8_t operator[](std::size_t i) const noexcept { return data_[i]; }
  std::string_view str() const noexcept {
    return std::string_view(reinterpret_cast<const char *>(data_), size_);
  }
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
// Reader
// ---------------------------------------------------------------------------

// A cursor over bytes the caller owns: the bytes given to open() must outlive
// the reader and stay unchanged.
class reader {
public:
  reader() noexcept = default;
  ~reader() { tavbin_close(r_); }
  reader(const reader &) = delete;
  reader &operator=(const reader &) = delete;
  reader(reader &&other) noexcept
      : r_(std::exchange(other.r_, nullptr)), data_(std::exchange(other.data_, nullptr)), order_(other.order_) {}
  reader &operator=(reader &&other) noexcept {
    if (this != &other) {
      tavbin_close(r_);
      r_ = std::exchange(other.r_, nullptr);
      data_ = std::exchange(other.data_, nullptr);
      order_ = other.order_;
    }
    return *this;
  }

  // An empty reader if the C open refuses (bad byte order, out of memory).
  static reader open(byte_view data, endian order = endian::big) noexcept {
    reader r;
    r.r_ = tavbin_open(data.data(), data.size(), static_cast<tavbin_endian>(order));
    if (r.r_ != nullptr) {
      r.data_ = data.data();
      r.order_ = order;
    }
    return r;
  }
  // A temporary container that owns its bytes (std::vector, std::string,
  // std::array, ...) would be destroyed at the end of the statement while the
  // reader still points into it, so this does not compile. Keep the container in
  // a variable, or pass a view of bytes that live on.
  template <class C, std::enable_if_t<!std::is_lvalue_reference_v<C> &&
                                          detail::owns_bytes<std::remove_cv_t<C>>::value,
                                      int> = 0>
  static reader open(C &&temporary, endian order = endian::big) = delete;

  explicit operator bool() const noexcept { return r_ != nullptr; }
  // The C handle, still owned by this reader. Reads made through it move the same
  // cursor; a tavbin_set_endian made through it is not seen by sub(), which keeps
  // the byte order given to open() or set_endian() here.
  tavbin_reader *get() const noexcept { return r_; }
  // Gives up ownership: the caller must tavbin_close the handle.
  [[nodiscard]] tavbin_reader *release() noexcept {
    data_ = nullptr;
    return std::exchange(r_, nullptr);
  }

  tavbin_status set_endian(endian order) noexcept {
    const tavbin_status s = tavbin_set_endian(r_, static_cast<tavbin_endian>(order));
    if (s == TAVBIN_OK) order_ = order;
    return s;
  }
  tavbin_status seek(std::uint64_t offset) noexcept { return tavbin_seek(r_, offset); }
  std::uint64_t tell() const noexcept { return tavbin_tell(r_); }
  std::uint64_t remaining() const noexcept { return tavbin_remaining(r_); }
  std::uint64_t size() const noexcept { return tavbin_size(r_); }
  tavbin_status last_error() const noexcept { return tavbin_last_error(r_); }
  std::error_code last_error_code() const noexcept { return make_error_code(tavbin_last_error(r_)); }
  void bit_align() noexcept { tavbin_bit_align(r_); }

  result<std::uint8_t> u8() noexcept { return call(tavbin_u8); }
  result<std::int8_t> i8() noexcept { return call(tavbin_i8); }
  result<std::uint16_t> u16() noexcept { return call(tavbin_u16); }
  result<std::int16_t> i16() noexcept { return call(tavbin_i16); }
  result<std::uint32_t> u32() noexcept { return call(tavbin_u32); }
  result<std::int32_t> i32() noexcept { return call(tavbin_i32); }
  result<std::uint64_t> u64() noexcept { return call(tavbin_u64); }
  result<std::int64_t> i64() noexcept { return call(tavbin_i64); }
  result<float> f32() noexcept { return call(tavbin_f32); }
  result<double> f64() noexcept { return call(tavbin_f64); }
  result<std::uint64_t> bits(std::uint32_t count) noexcept {
    result<std::uint64_t> out;
    std::uint64_t v = 0;
    out.status = tavbin_bits(r_, count, &v);
    if (out.status == TAVBIN_OK) out.value = v;
    return out;
  }
  result<std::uint64_t> leb128(std::uint64_t max_bytes = 10) noexcept {
    result<std::uint64_t> out;
    std::uint64_t v = 0;
    out.status = tavbin_leb128(r_, &v, max_bytes);
    if (out.status == TAVBIN_OK) out.value = v;
    return out;
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
  result<std::int64_t> sleb128(std::uint64_t max_bytes = 10) noexcept {
    result<std::int64_t> out;
    // Aligning first (the C read would align anyway, except for max_bytes 0)
    // makes tell() the number's first byte.
    if (max_bytes != 0) tavbin_bit_align(r_);
    const std::uint64_t start = tavbin_tell(r_);
    std::uint64_t v = 0;
    out.status = tavbin_leb128(r_, &v, max_bytes);
    if (out.status != TAVBIN_OK) return out;
    const std::uint64_t n = tavbin_tell(r_) - start; // 1 to 10
    const std::uint8_t last = data_[start + n - 1];
    if (n == 10 && last != 0x00 && last != 0x7F) {
      // Back to where the number began (the bit position is already 0 there);
      // a zero-byte read records the refusal without moving anything.
      (void)tavbin_seek(r_, start);
      (void)tavbin_leb128(r_, &v, 0);
      out.status = TAVBIN_INVALID_ARG;
      return out;
    }
    if (n < 10 && (last & 0x40) != 0) v |= ~std::uint64_t{0} << (7 * n);
    out.value = detail::to_signed(v);
    return out;
  }

  result<std::uint8_t> peek_u8() noexcept { return call(tavbin_peek_u8); }
  result<std::uint16_t> peek_u16() noexcept { return call(tavbin_peek_u16); }
  result<std::uint32_t> peek_u32() noexcept { return call(tavbin_peek_u32); }
  result<std::uint64_t> peek_u64() noexcept { return call(tavbin_peek_u64); }

  result<std::uint8_t> u8_at(std::uint64_t offset) noexcept { return call_at(tavbin_u8_at, offset); }
  result<std::uint16_t> u16_at(std::uint64_t offset) noexcept { return call_at(tavbin_u16_at, offset); }
  result<std::uint32_t> u32_at(std::uint64_t offset) noexcept { return call_at(tavbin_u32_at, offset); }
  result<std::uint64_t> u64_at(std::uint64_t offset) noexcept { return call_at(tavbin_u64_at, offset); }

  tavbin_status bytes(void *dst, std::uint64_t n) noexcept { return tavbin_bytes(r_, dst, n); }
  tavbin_status ascii(char *dst, std::uint64_t n) noexcept { return tavbin_ascii(r_, dst, n); }
  tavbin_status skip(std::uint64_t n) noexcept { return tavbin_skip(r_, n); }
#if defined(__cpp_lib_span)
  tavbin_status bytes(std::span<std::uint8_t> dst) noexcept { return tavbin_bytes(r_, dst.data(), dst.size()); }
  tavbin_status bytes(std::span<std::byte> dst) noexcept { return tavbin_bytes(r_, dst.data(), dst.size()); }
#endif

  // The next n bytes of the input itself, without copying: a skip that tells
  // what it skipped. The view lives as long as the input bytes.
  result<byte_view> view(std::uint64_t n) noexcept {
    result<byte_view> out;
    out.status = tavbin_skip(r_, n);
    if (out.status == TAVBIN_OK) out.value = byte_view(data_ + (tavbin_tell(r_) - n), static_cast<std::size_t>(n));
    return out;
  }

  // A 32-bit-length-prefixed string into dst (cap bytes, one of them for the NUL
  // the C function adds); the result views the string inside dst.
  result<std::string_view> string_u32(char *dst, std::size_t cap, std::uint64_t max_len) noexcept {
    result<std::string_view> out;
    std::uint64_t len = 0;
    out.status = tavbin_string_u32(r_, dst, cap, max_len, &len);
    if (out.status == TAVBIN_OK) out.value = std::string_view(dst, static_cast<std::size_t>(len));
    return out;
  }
  template <std::size_t N> result<std::string_view> string_u32(char (&dst)[N]) noexcept {
    return string_u32(dst, N, N - 1);
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
  result<std::string_view> cstring(std::uint64_t max_len) noexcept {
    result<std::string_view> out;
    if (r_ == nullptr) return out;
    tavbin_bit_align(r_);
    const std::uint64_t pos = tavbin_tell(r_);
    const std::uint64_t rem = tavbin_remaining(r_);
    const std::uint64_t window = max_len < rem ? max_len + 1 : rem;
    const std::uint8_t *first = data_ + pos;
    const void *nul = window == 0 ? nullptr : std::memchr(first, 0, static_cast<std::size_t>(window));
    if (nul == nullptr) {
      if (max_len < rem) {
        out.status = TAVBIN_TOO_LARGE;
      } else {
        out.status = tavbin_skip(r_, rem + 1); // records TAVBIN_EOF, moves nothing
      }
      return out;
    }
    const auto len = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - first);
    out.status = tavbin_skip(r_, len + 1);
    out.value = std::string_view(reinterpret_cast<const char *>(first), len);
    return out;
  }

  // A new reader over the next n bytes of this one's input, in the same byte
  // order, its cursor at 0: a record or section confined to its own length, so a
  // bad length inside it cannot reach beyond it. This reader moves past the n
  // bytes. The new reader views the same input, which must outlive both. The
  // byte alignment applies.
  //   n: any count; 0 gives an empty input (a reader that tests true).
  // Returns the new reader; this one advanced by n and TAVBIN_OK recorded.
  //         An empty reader (tests false) if fewer than n bytes remain: this one
  //         records TAVBIN_EOF and moves nothing (after the byte alignment).
  //         An empty reader if this one is empty (nothing recorded), or if memory
  //         runs out (this one unmoved; nothing recorded).
  reader sub(std::uint64_t n) noexcept { return split(n).value; }

private:
  friend class cursor;

  // sub() with its status, for the cursor.
  result<reader> split(std::uint64_t n) noexcept {
    result<reader> out;
    if (r_ == nullptr) return out;
    tavbin_bit_align(r_);
    if (tavbin_remaining(r_) < n) {
      out.status = tavbin_skip(r_, n); // records TAVBIN_EOF, moves nothing
      return out;
    }
    // Opened before this one moves, so that running out of memory moves nothing.
    out.value = open(byte_view(data_ + tavbin_tell(r_), static_cast<std::size_t>(n)), order_);
    out.status = out.value ? tavbin_skip(r_, n) : TAVBIN_OOM;
    return out;
  }

  template <class T> result<T> call(tavbin_status (*fn)(tavbin_reader *, T *)) noexcept {
    result<T> out;
    T v{};
    out.status = fn(r_, &v);
    if (out.status == TAVBIN_OK) out.value = v;
    return out;
  }
  template <class T>
  result<T> call_at(tavbin_status (*fn)(tavbin_reader *, std::uint64_t, T *), std::uint64_t offset) noexcept {
    result<T> out;
    T v{};
    out.status = fn(r_, offset, &v);
    if (out.status == TAVBIN_OK) out.value = v;
    return out;
  }

  tavbin_reader *r_ = nullptr;
  const std::uint8_t *data_ = nullptr; // for view(), cstring(), sub(), sleb128(): the C reader does not hand its bytes out
  endian order_ = endian::big;         // for sub(): the C reader does not tell its byte order
};

// ---------------------------------------------------------------------------
// Cursor
// ---------------------------------------------------------------------------

// Reads a record from a reader with plain values, checked once at the end. The
// cursor keeps the first failure: from then on it tests false, status() is that
// failure's status, offset() is where the reader stood just before the failing
// call, and every later read returns T{} (0, an empty view, an empty reader)
// without calling the library, so the reader stays exactly where the failure
// left it. Each read does what the reader's read of the same name does (same
// statuses, same cursor rules, same last_error()). The reader must outlive the
// cursor; it may still be used directly, which the cursor does not see.
// Not copyable: a copy would keep a failure the original never learns of.
//
//     tavbin::cursor c(r);
//     const auto id = c.u8();
//     const auto size = c.leb128(5);
//     auto body = c.sub(size);
//     if (!c) return fail(c.status(), c.offset());
class cursor {
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

  std::uint8_t u8() noexcept { return take([](reader &r) { return r.u8(); }); }
  std::int8_t i8() noexcept { return take([](reader &r) { return r.i8(); }); }
  std::uint16_t u16() noexcept { return take([](reader &r) { return r.u16(); }); }
  std::int16_t i16() noexcept { return take([](reader &r) { return r.i16(); }); }
  std::uint32_t u32() noexcept { return take([](reader &r) { return r.u32(); }); }
  std::int32_t i32() noexcept { return take([](reader &r) { return r.i32(); }); }
  std::uint64_t u64() noexcept { return take([](reader &r) { return r.u64(); }); }
  std::int64_t i64() noexcept { return take([](reader &r) { return r.i64(); }); }
  float f32() noexcept { return take([](reader &r) { return r.f32(); }); }
  double f64() noexcept { return take([](reader &r) { return r.f64(); }); }
  std::uint64_t bits(std::uint32_t count) noexcept { return take([=](reader &r) { return r.bits(count); }); }
  std::uint64_t leb128(std::uint64_t max_bytes = 10) noexcept {
    return take([=](reader &r) { return r.leb128(max_bytes); });
  }
  std::int64_t sleb128(std::uint64_t max_bytes = 10) noexcept {
    return take([=](reader &r) { return r.sleb128(max_bytes); });
  }

  std::uint8_t peek_u8() noexcept { return take([](reader &r) { return r.peek_u8(); }); }
  std::uint16_t peek_u16() noexcept { return take([](reader &r) { return r.peek_u16(); }); }
  std::uint32_t peek_u32() noexcept { return take([](reader &r) { return r.peek_u32(); }); }
  std::uint64_t peek_u64() noexcept { return take([](reader &r) { return r.peek_u64(); }); }

  std::uint8_t u8_at(std::uint64_t offset) noexcept { return take([=](reader &r) { return r.u8_at(offset); }); }
  std::uint16_t u16_at(std::uint64_t offset) noexcept { return take([=](reader &r) { return r.u16_at(offset); }); }
  std::uint32_t u32_at(std::uint64_t offset) noexcept { return take([=](reader &r) { return r.u32_at(offset); }); }
  std::uint64_t u64_at(std::uint64_t offset) noexcept { return take([=](reader &r) { return r.u64_at(offset); }); }

  void skip(std::uint64_t n) noexcept {
    (void)take([=](reader &r) { return result<bool>{true, r.skip(n)}; });
  }
  // Copies n bytes to dst. Returns a view of them in dst; empty on failure (dst
  // is then not modified).
  byte_view bytes(void *dst, std::uint64_t n) noexcept {
    return take([=](reader &r) {
      const tavbin_status s = r.bytes(dst, n);
      return result<byte_view>{s == TAVBIN_OK ? byte_view(dst, static_cast<std::size_t>(n)) : byte_view(), s};
    });
  }
  // The next n bytes of the input, without copying (reader::view).
  byte_view view(std::uint64_t n) noexcept { return take([=](reader &r) { return r.view(n); }); }
  // A NUL-terminated string, viewed in the input (reader::cstring).
  std::string_view cstring(std::uint64_t max_len) noexcept {
    return take([=](reader &r) { return r.cstring(max_len); });
  }
  // A 32-bit-length-prefixed string, viewed in dst (reader::string_u32).
  std::string_view string_u32(char *dst, std::size_t cap, std::uint64_t max_len) noexcept {
    return take([=](reader &r) { return r.string_u32(dst, cap, max_len); });
  }
  template <std::size_t N> std::string_view string_u32(char (&dst)[N]) noexcept {
    return string_u32(dst, N, N - 1);
  }
  // A reader over the next n bytes (reader::sub). A failure of memory, which the
  // reader cannot record, is kept here as TAVBIN_OOM.
  reader sub(std::uint64_t n) noexcept { return take([=](reader &r) { return r.split(n); }); }

private:
  template <class Read> auto take(Read read) noexcept -> decltype(read(std::declval<reader &>()).value) {
    using T = decltype(read(std::declval<reader &>()).value);
    if (status_ != TAVBIN_OK) return T{};
    const std::uint64_t at = r_->tell();
    auto got = read(*r_);
    if (got.status != TAVBIN_OK) {
      status_ = got.status;
      offset_ = at;
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
  ~writer() { tavbinw_close(w_); }
  writer(const writer &) = delete;
  writer &operator=(const writer &) = delete;
  writer(writer &&other) noexcept
      : w_(std::exchange(other.w_, nullptr)), order_(other.order_), first_(std::exchange(other.first_, TAVBIN_OK)) {}
  writer &operator=(writer &&other) noexcept {
    if (this != &other) {
      tavbinw_close(w_);
      w_ = std::exchange(other.w_, nullptr);
      order_ = other.order_;
      first_ = std::exchange(other.first_, TAVBIN_OK);
    }
    return *this;
  }

  // An empty writer if the C open refuses (bad byte order, out of memory).
  static writer open(endian order = endian::big, std::uint64_t initial_cap = 0) noexcept {
    writer w;
    w.w_ = tavbinw_open(initial_cap, static_cast<tavbin_endian>(order));
    if (w.w_ != nullptr) w.order_ = order;
    return w;
  }

  explicit operator bool() const noexcept { return w_ != nullptr; }
  // The C handle, still owned by this writer. Appends made through it are not
  // seen by first_error(); a tavbinw_set_endian made through it is not seen by
  // patch_*, which keep the byte order given to open() or set_endian() here.
  tavbin_writer *get() const noexcept { return w_; }
  // Gives up ownership: the caller must tavbinw_close the handle.
  [[nodiscard]] tavbin_writer *release() noexcept {
    first_ = TAVBIN_OK;
    return std::exchange(w_, nullptr);
  }

  tavbin_status set_endian(endian order) noexcept {
    const tavbin_status s = tavbinw_set_endian(w_, static_cast<tavbin_endian>(order));
    if (s == TAVBIN_OK) order_ = order;
    return s;
  }
  tavbin_status last_error() const noexcept { return tavbinw_last_error(w_); }
  std::error_code last_error_code() const noexcept { return make_error_code(tavbinw_last_error(w_)); }
  // The first status other than TAVBIN_OK returned by any append or patch made
  // through this object since open(), so that a producer checks once, at the
  // end. last_error() keeps telling the last append alone.
  // Returns TAVBIN_OK if every one succeeded (or none was made).
  //         TAVBIN_INVALID_ARG if the writer is empty: nothing it was asked to
  //         write was written.
  tavbin_status first_error() const noexcept { return w_ == nullptr ? TAVBIN_INVALID_ARG : first_; }
  std::uint64_t size() const noexcept { return tavbinw_len(w_); }
  // Valid until the next append or the writer's end.
  byte_view bytes() const noexcept { return byte_view(tavbinw_data(w_), static_cast<std::size_t>(tavbinw_len(w_))); }
  std::string_view str() const noexcept { return bytes().str(); }

  tavbin_status u8(std::uint8_t v) noexcept { return note(tavbinw_u8(w_, v)); }
  tavbin_status i8(std::int8_t v) noexcept { return note(tavbinw_u8(w_, static_cast<std::uint8_t>(v))); }
  tavbin_status u16(std::uint16_t v) noexcept { return note(tavbinw_u16(w_, v)); }
  tavbin_status i16(std::int16_t v) noexcept { return note(tavbinw_i16(w_, v)); }
  tavbin_status u32(std::uint32_t v) noexcept { return note(tavbinw_u32(w_, v)); }
  tavbin_status i32(std::int32_t v) noexcept { return note(tavbinw_i32(w_, v)); }
  tavbin_status u64(std::uint64_t v) noexcept { return note(tavbinw_u64(w_, v)); }
  tavbin_status i64(std::int64_t v) noexcept { return note(tavbinw_i64(w_, v)); }
  tavbin_status f32(float v) noexcept { return note(tavbinw_f32(w_, v)); }
  tavbin_status f64(double v) noexcept { return note(tavbinw_f64(w_, v)); }
  tavbin_status leb128(std::uint64_t v) noexcept { return note(tavbinw_leb128(w_, v)); }
  tavbin_status append(byte_view b) noexcept { return note(tavbinw_bytes(w_, b.data(), b.size())); }
  tavbin_status string_u32(std::string_view s) noexcept { return note(tavbinw_string_u32(w_, s.data(), s.size())); }

  // Append a signed LEB128 number (the encoding reader::sleb128 reads) in its
  // shortest form, 1 to 10 bytes.
  // Returns TAVBIN_OK (recorded).
  //         TAVBIN_INVALID_ARG if the writer is empty (not recorded).
  //         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended).
  tavbin_status sleb128(std::int64_t v) noexcept {
    std::uint8_t buf[10];
    std::size_t n = 0;
    const std::uint64_t sign = v < 0 ? ~std::uint64_t{0} : 0;
    std::uint64_t rest = static_cast<std::uint64_t>(v);
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
    return note(tavbinw_bytes(w_, buf, n));
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
  tavbin_status patch_u16(std::uint64_t offset, std::uint16_t v) noexcept { return patch(offset, v, tavbin_store_u16); }
  tavbin_status patch_u32(std::uint64_t offset, std::uint32_t v) noexcept { return patch(offset, v, tavbin_store_u32); }
  tavbin_status patch_u64(std::uint64_t offset, std::uint64_t v) noexcept { return patch(offset, v, tavbin_store_u64); }

private:
  tavbin_status note(tavbin_status s) noexcept {
    if (first_ == TAVBIN_OK) first_ = s;
    return s;
  }
  template <class T>
  tavbin_status patch(std::uint64_t offset, T v, tavbin_status (*store)(void *, std::uint64_t, tavbin_endian, T)) noexcept {
    if (w_ == nullptr) return note(TAVBIN_INVALID_ARG);
    const std::uint64_t len = tavbinw_len(w_);
    if (offset > len || len - offset < sizeof(T)) return note(TAVBIN_RANGE);
    auto *at = const_cast<std::uint8_t *>(tavbinw_data(w_)) + offset;
    return note(store(at, len - offset, static_cast<tavbin_endian>(order_), v));
  }

  tavbin_writer *w_ = nullptr;
  endian order_ = endian::big;  // for patch_*: the C writer does not tell its byte order
  tavbin_status first_ = TAVBIN_OK;
};

} // namespace tavbin

#endif // TAVBIN_HPP
