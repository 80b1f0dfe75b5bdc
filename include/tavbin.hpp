// tavbin.hpp - binary-read-util for C++17 and later: owning handles, byte views,
// reads that return their value with their status, std::error_code support.
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// Header-only, over the C interface of tavbin.h, which stays the manual: every
// member below does exactly what the C function of the same name does, with the
// same statuses. What this header adds is ownership and types:
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
//    std::span<const std::uint8_t>.
//
// Nothing here throws or needs RTTI; the header compiles with -fno-exceptions.
//
//     auto w = tavbin::writer::open(tavbin::endian::little);
//     w.u32(0xCAFEF00Du);
//     w.string_u32("hi");
//     auto r = tavbin::reader::open(w.bytes(), tavbin::endian::little);
//     if (auto magic = r.u32()) use(magic.value);
//     else std::fprintf(stderr, "%s\n", tavbin::make_error_code(magic.status).message().c_str());
// Below C++17 the header stops at this one line instead of a screen of errors
// about std::string_view and inline variables. (MSVC reports the standard in
// _MSVC_LANG; its __cplusplus stays 199711L unless /Zc:__cplusplus is given.)
#if !defined(__cplusplus) || (__cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#error "tavbin.hpp needs C++17 or later (-std=c++17, /std:c++17); C programs include tavbin.h"
#elif !defined(TAVBIN_HPP)
#define TAVBIN_HPP

#include "tavbin.h"

#include <cstddef>
#include <cstdint>
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
      : r_(std::exchange(other.r_, nullptr)), data_(std::exchange(other.data_, nullptr)) {}
  reader &operator=(reader &&other) noexcept {
    if (this != &other) {
      tavbin_close(r_);
      r_ = std::exchange(other.r_, nullptr);
      data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
  }

  // An empty reader if the C open refuses (bad byte order, out of memory).
  static reader open(byte_view data, endian order = endian::big) noexcept {
    reader r;
    r.r_ = tavbin_open(data.data(), data.size(), static_cast<tavbin_endian>(order));
    if (r.r_ != nullptr) r.data_ = data.data();
    return r;
  }

  explicit operator bool() const noexcept { return r_ != nullptr; }
  tavbin_reader *get() const noexcept { return r_; }
  // Gives up ownership: the caller must tavbin_close the handle.
  [[nodiscard]] tavbin_reader *release() noexcept {
    data_ = nullptr;
    return std::exchange(r_, nullptr);
  }

  tavbin_status set_endian(endian order) noexcept {
    return tavbin_set_endian(r_, static_cast<tavbin_endian>(order));
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

private:
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
  const std::uint8_t *data_ = nullptr; // for view(): the C reader does not hand its bytes out
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
  writer(writer &&other) noexcept : w_(std::exchange(other.w_, nullptr)) {}
  writer &operator=(writer &&other) noexcept {
    if (this != &other) {
      tavbinw_close(w_);
      w_ = std::exchange(other.w_, nullptr);
    }
    return *this;
  }

  // An empty writer if the C open refuses (bad byte order, out of memory).
  static writer open(endian order = endian::big, std::uint64_t initial_cap = 0) noexcept {
    writer w;
    w.w_ = tavbinw_open(initial_cap, static_cast<tavbin_endian>(order));
    return w;
  }

  explicit operator bool() const noexcept { return w_ != nullptr; }
  tavbin_writer *get() const noexcept { return w_; }
  // Gives up ownership: the caller must tavbinw_close the handle.
  [[nodiscard]] tavbin_writer *release() noexcept { return std::exchange(w_, nullptr); }

  tavbin_status set_endian(endian order) noexcept {
    return tavbinw_set_endian(w_, static_cast<tavbin_endian>(order));
  }
  tavbin_status last_error() const noexcept { return tavbinw_last_error(w_); }
  std::error_code last_error_code() const noexcept { return make_error_code(tavbinw_last_error(w_)); }
  std::uint64_t size() const noexcept { return tavbinw_len(w_); }
  // Valid until the next append or the writer's end.
  byte_view bytes() const noexcept { return byte_view(tavbinw_data(w_), static_cast<std::size_t>(tavbinw_len(w_))); }
  std::string_view str() const noexcept { return bytes().str(); }

  tavbin_status u8(std::uint8_t v) noexcept { return tavbinw_u8(w_, v); }
  tavbin_status i8(std::int8_t v) noexcept { return tavbinw_u8(w_, static_cast<std::uint8_t>(v)); }
  tavbin_status u16(std::uint16_t v) noexcept { return tavbinw_u16(w_, v); }
  tavbin_status i16(std::int16_t v) noexcept { return tavbinw_i16(w_, v); }
  tavbin_status u32(std::uint32_t v) noexcept { return tavbinw_u32(w_, v); }
  tavbin_status i32(std::int32_t v) noexcept { return tavbinw_i32(w_, v); }
  tavbin_status u64(std::uint64_t v) noexcept { return tavbinw_u64(w_, v); }
  tavbin_status i64(std::int64_t v) noexcept { return tavbinw_i64(w_, v); }
  tavbin_status f32(float v) noexcept { return tavbinw_f32(w_, v); }
  tavbin_status f64(double v) noexcept { return tavbinw_f64(w_, v); }
  tavbin_status leb128(std::uint64_t v) noexcept { return tavbinw_leb128(w_, v); }
  tavbin_status append(byte_view b) noexcept { return tavbinw_bytes(w_, b.data(), b.size()); }
  tavbin_status string_u32(std::string_view s) noexcept { return tavbinw_string_u32(w_, s.data(), s.size()); }

private:
  tavbin_writer *w_ = nullptr;
};

} // namespace tavbin

#endif // TAVBIN_HPP
