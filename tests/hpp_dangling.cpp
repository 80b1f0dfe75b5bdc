// reader::open over a temporary container that owns its bytes must not compile;
// over containers that live on and over views it must. CTest compiles this file
// once as a control, which must succeed, and once per kind of container with
// TAVBIN_DANGLING_<KIND> defined, which must fail. The builds differ only in
// whether that one argument is a temporary, so a failing build fails for that
// reason and not for a broken include path or a typo.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavbin.hpp"

namespace {

// The same value as an lvalue that outlives every reader here.
template <class T> const T &kept(T &&value) {
  static const T stored(std::move(value));
  return stored;
}

} // namespace

#if defined(TAVBIN_DANGLING_VECTOR)
#define VECTOR(...) (__VA_ARGS__)
#else
#define VECTOR(...) kept(__VA_ARGS__)
#endif
#if defined(TAVBIN_DANGLING_STRING)
#define STRING(...) (__VA_ARGS__)
#else
#define STRING(...) kept(__VA_ARGS__)
#endif
#if defined(TAVBIN_DANGLING_ARRAY)
#define ARRAY(...) (__VA_ARGS__)
#else
#define ARRAY(...) kept(__VA_ARGS__)
#endif

int main() {
  auto from_vector = tavbin::reader::open(VECTOR(std::vector<std::uint8_t>{1, 2}));
  auto from_string = tavbin::reader::open(STRING(std::string("ab")), tavbin::endian::little);
  auto from_array = tavbin::reader::open(ARRAY(std::array<std::uint8_t, 2>{1, 2}));

  // Views are temporaries too, but of bytes that live on.
  static const char text[] = "ab";
  auto from_view = tavbin::reader::open(std::string_view(text, 2));
  auto from_bytes = tavbin::reader::open(tavbin::byte_view(text, 2));
  int sum = from_vector.u8().value + from_string.u8().value + from_array.u8().value + from_view.u8().value +
            from_bytes.u8().value;
#if defined(__cpp_lib_span)
  static const std::uint8_t raw[2] = {1, 2};
  auto from_span = tavbin::reader::open(std::span<const std::uint8_t>(raw));
  sum += from_span.u8().value;
#endif
  return sum == 0;
}
