// Every reader function (and the stateless loads and stores) driven by a script
// taken from the input, against a reference cursor kept here: after each call the
// status, the value, the byte position, the last status and, when the script asks
// for it, the bit position must be what the reader's rules say. The C++ wrapper's
// least-significant-bit-first fields and bulk values are driven the same way, on
// a wrapper reader set where the reference stands.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "tavbin.hpp"

using namespace tavbin_fuzz;

namespace {

constexpr uint8_t kFill = 0xA5; // outputs are prefilled with it; failures must leave it

// The reference cursor, moved one bit or byte at a time as the rules describe.
struct Model : BitCursor {
  tavbin_status last = TAVBIN_OK;
  tavbin_endian e = TAVBIN_BIG_ENDIAN;

  uint64_t aligned() const { return pos + (bit != 0 ? 1 : 0); }
  tavbin_status rec(tavbin_status s) { return last = s; }
};

// The operations of the script, by their byte modulo 32; some have two bytes, to
// be drawn more often. fuzz/make_seeds.py reads this list to write the seeds:
// keep one `NAME = value` a line.
enum Op : uint8_t {
  SET_ENDIAN = 0,
  SEEK = 1,
  ALIGN = 2,
  U8 = 3,
  I8 = 4,
  BITS = 5,
  BITS_TOO = 6,
  U16 = 7,
  I16 = 8,
  U32 = 9,
  I32 = 10,
  F32 = 11,
  U64 = 12,
  I64 = 13,
  F64 = 14,
  BYTES = 15,
  ASCII = 16,
  SKIP = 17,
  PEEK8 = 18,
  PEEK16 = 19,
  PEEK32 = 20,
  PEEK64 = 21,
  AT8 = 22,
  AT16 = 23,
  AT32 = 24,
  AT64 = 25,
  STR = 26,
  LSB = 27,
  LEB = 28,
  ARRAY = 29,
  NULLS = 30,
  PROBE = 31,
};

struct Run {
  tavbin_reader *r;
  Model m;
  Script s;

  void check_cursor() {
    FUZZ_CHECK(tavbin_tell(r) == m.pos);
    FUZZ_CHECK(tavbin_tell(r) <= tavbin_size(r));
    FUZZ_CHECK(tavbin_size(r) == m.size);
    FUZZ_CHECK(tavbin_remaining(r) == tavbin_size(r) - tavbin_tell(r));
    FUZZ_CHECK(tavbin_last_error(r) == m.last);
  }

  tavbin_endian any_endian() {
    const uint8_t sel = s.byte();
    switch (sel & 3) {
    case 0:
      return TAVBIN_BIG_ENDIAN;
    case 1:
      return TAVBIN_LITTLE_ENDIAN;
    case 2:
      return 2u + (sel >> 2);
    default:
      return static_cast<tavbin_endian>(UINT32_MAX - (sel >> 2));
    }
  }

  // Compare an output with the expected value, or with the fill after a failure.
  template <typename T> static void check_out(const T &out, tavbin_status st, uint64_t want) {
    uint8_t got[sizeof(T)];
    std::memcpy(got, &out, sizeof(T));
    if (st == TAVBIN_OK) {
      uint64_t v = 0;
      if constexpr (sizeof(T) == 1) v = got[0];
      if constexpr (sizeof(T) == 2) {
        uint16_t u;
        std::memcpy(&u, got, 2);
        v = u;
      }
      if constexpr (sizeof(T) == 4) {
        uint32_t u;
        std::memcpy(&u, got, 4);
        v = u;
      }
      if constexpr (sizeof(T) == 8) std::memcpy(&v, got, 8);
      FUZZ_CHECK(v == want);
    } else {
      for (uint8_t b : got)
        FUZZ_CHECK(b == kFill);
    }
  }

  template <typename T> static T filled() {
    T v;
    std::memset(&v, kFill, sizeof v);
    return v;
  }

  // Consuming fixed-width read of any type: align, test, decode, advance.
  template <typename T> void fixed(tavbin_status (*fn)(tavbin_reader *, T *)) {
    T out = filled<T>();
    const tavbin_status st = fn(r, &out);
    m.align();
    uint64_t want = 0;
    if (m.size - m.pos < sizeof(T)) {
      FUZZ_CHECK(st == m.rec(TAVBIN_EOF));
    } else {
      want = decode(m.data + m.pos, sizeof(T), m.e);
      m.pos += sizeof(T);
      FUZZ_CHECK(st == m.rec(TAVBIN_OK));
    }
    check_out(out, st, want);
  }

  template <typename T> void peek(tavbin_status (*fn)(tavbin_reader *, T *)) {
    T out = filled<T>();
    const tavbin_status st = fn(r, &out);
    const uint64_t p = m.aligned();
    uint64_t want = 0;
    if (m.size - p < sizeof(T)) {
      FUZZ_CHECK(st == m.rec(TAVBIN_EOF));
    } else {
      want = decode(m.data + p, sizeof(T), m.e);
      FUZZ_CHECK(st == m.rec(TAVBIN_OK));
    }
    check_out(out, st, want);
  }

  template <typename T> void at(tavbin_status (*fn)(tavbin_reader *, uint64_t, T *)) {
    const uint64_t off = s.edge(m.size);
    T out = filled<T>();
    const tavbin_status st = fn(r, off, &out);
    uint64_t want = 0;
    if (off > m.size || m.size - off < sizeof(T)) {
      FUZZ_CHECK(st == m.rec(TAVBIN_RANGE));
    } else {
      want = decode(m.data + off, sizeof(T), m.e);
      FUZZ_CHECK(st == m.rec(TAVBIN_OK));
    }
    check_out(out, st, want);
  }

  void bits() {
    const uint8_t sel = s.byte();
    const uint32_t count = sel < 0xF0 ? sel % 66u : static_cast<uint32_t>(s.raw(4));
    uint64_t out = filled<uint64_t>();
    const tavbin_status st = tavbin_bits(r, count, &out);
    uint64_t want = 0;
    FUZZ_CHECK(st == m.rec(m.bits(count, &want)));
    check_out(out, st, want);
  }

  // tavbin_bytes, tavbin_ascii (kind 0, 1) or tavbin_skip (kind 2).
  void block(int kind) {
    const uint64_t n = s.edge(m.size - m.aligned());
    const bool copies = kind != 2;
    const bool null_dst = copies && (s.byte() & 7) == 0;
    // A destination as large as the call may fill; a read that must fail gets a
    // shorter one, so a copy it should not make lands outside the block.
    const size_t cap = static_cast<size_t>(n < m.size ? n : m.size);
    uint8_t *dst = null_dst || !copies ? nullptr : static_cast<uint8_t *>(std::malloc(cap != 0 ? cap : 1));
    if (dst != nullptr) std::memset(dst, kFill, cap != 0 ? cap : 1);
    tavbin_status st;
    if (kind == 0)
      st = tavbin_bytes(r, dst, n);
    else if (kind == 1)
      st = tavbin_ascii(r, reinterpret_cast<char *>(dst), n);
    else
      st = tavbin_skip(r, n);
    if (null_dst && n != 0) {
      FUZZ_CHECK(st == TAVBIN_INVALID_ARG); // refused before anything: not recorded
      return;
    }
    m.align();
    if (m.size - m.pos < n) {
      FUZZ_CHECK(st == m.rec(TAVBIN_EOF));
      if (dst != nullptr)
        for (size_t i = 0; i < (cap != 0 ? cap : 1); ++i)
          FUZZ_CHECK(dst[i] == kFill);
    } else {
      FUZZ_CHECK(st == m.rec(TAVBIN_OK));
      if (dst != nullptr && n != 0) FUZZ_CHECK(std::memcmp(dst, m.data + m.pos, static_cast<size_t>(n)) == 0);
      m.pos += n;
    }
    std::free(dst);
  }

  // A capacity or limit near the string's own length when it can be seen.
  uint64_t near_len(uint64_t len) {
    const uint8_t sel = s.byte();
    const uint64_t k = sel >> 2;
    switch (sel & 3) {
    case 0:
      return len + k - 2 < len + 64 ? len + k - 2 : k; // len - 2 ... len + 61
    case 1:
      return k;
    case 2:
      return UINT64_MAX - k;
    default:
      return uint64_t{0xFFFFFFFF} + k - 2;
    }
  }

  void string() {
    const uint64_t p = m.aligned();
    const uint64_t len = m.size - p >= 4 ? decode(m.data + p, 4, m.e) : 0;
    const uint64_t cap = near_len(len);
    const uint64_t max_len = near_len(len);
    const uint8_t sel = s.byte();
    const bool null_dst = (sel & 15) == 0;
    const bool with_len = (sel & 16) != 0;
    // The call may write len + 1 <= size - 3 bytes; a block of that bound (or of
    // cap, when smaller) is honest for every case.
    const size_t block = static_cast<size_t>(cap < m.size + 1 ? cap : m.size + 1);
    char *dst = null_dst ? nullptr : static_cast<char *>(std::malloc(block != 0 ? block : 1));
    if (dst != nullptr) std::memset(dst, kFill, block != 0 ? block : 1);
    uint64_t out_len = filled<uint64_t>();
    const tavbin_status st = tavbin_string_u32(r, dst, cap, max_len, with_len ? &out_len : nullptr);
    if (null_dst) {
      FUZZ_CHECK(st == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(out_len == filled<uint64_t>());
      return;
    }
    tavbin_status want;
    if (m.size - p < 4)
      want = TAVBIN_EOF;
    else if (len > max_len || cap < len + 1)
      want = TAVBIN_TOO_LARGE;
    else if (m.size - (p + 4) < len)
      want = TAVBIN_EOF;
    else
      want = TAVBIN_OK;
    FUZZ_CHECK(st == m.rec(want));
    if (st == TAVBIN_OK) {
      FUZZ_CHECK(std::memcmp(dst, m.data + p + 4, static_cast<size_t>(len)) == 0);
      FUZZ_CHECK(dst[len] == '\0');
      for (size_t i = static_cast<size_t>(len) + 1; i < block; ++i)
        FUZZ_CHECK(static_cast<uint8_t>(dst[i]) == kFill);
      if (with_len) FUZZ_CHECK(out_len == len);
      m.pos = p + 4 + len;
      m.bit = 0;
    } else {
      for (size_t i = 0; i < (block != 0 ? block : 1); ++i)
        FUZZ_CHECK(static_cast<uint8_t>(dst[i]) == kFill);
      FUZZ_CHECK(out_len == filled<uint64_t>()); // cursor, bit included, untouched
    }
    std::free(dst);
  }

  void leb128() {
    const uint8_t sel = s.byte();
    uint64_t max_bytes;
    switch (sel >> 4) {
    case 12:
      max_bytes = UINT64_MAX - (sel & 15);
      break;
    case 13:
      max_bytes = (uint64_t{1} << 32) + (sel & 15) - 8;
      break;
    case 14:
      max_bytes = s.raw(8);
      break;
    case 15:
      max_bytes = (sel & 15) + 10;
      break;
    default:
      max_bytes = sel % 12;
      break; // 0 ... 11, most often
    }
    uint64_t out = filled<uint64_t>();
    const tavbin_status st = tavbin_leb128(r, &out, max_bytes);
    if (max_bytes == 0) {
      FUZZ_CHECK(st == m.rec(TAVBIN_INVALID_ARG));
      check_out(out, st, 0);
      return;
    }
    m.align();
    const uint64_t start = m.pos;
    uint64_t v = 0, taken = 0;
    unsigned shift = 0;
    tavbin_status want;
    for (;;) {
      if (m.pos >= m.size) {
        want = TAVBIN_EOF;
        break;
      }
      const uint8_t b = m.data[m.pos++];
      ++taken;
      if (shift < 64) v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (b < 0x80) {
        want = TAVBIN_OK;
        break;
      }
      shift += 7;
      if (shift == 70) {
        want = TAVBIN_INVALID_ARG;
        break;
      }
      if (taken == max_bytes) {
        want = TAVBIN_EOF;
        break;
      }
    }
    if (want != TAVBIN_OK) m.pos = start;
    FUZZ_CHECK(st == m.rec(want));
    check_out(out, st, v);
  }

  // A wrapper reader over the same bytes, standing where the reference does, its
  // partly read byte included.
  tavbin::reader wrapper() {
    auto w = tavbin::reader::open(tavbin::byte_view(m.data, static_cast<size_t>(m.size)),
                                  m.e == TAVBIN_LITTLE_ENDIAN ? tavbin::endian::little : tavbin::endian::big);
    FUZZ_CHECK(w.seek(m.pos) == TAVBIN_OK);
    if (m.bit != 0) FUZZ_CHECK(w.bits(m.bit).status == TAVBIN_OK);
    return w;
  }

  // The wrapper's strings after a length (8, 16 or 32 bits in the handle's
  // order, or LEB128), viewed or copied, as tavbin_string_u32 reads them;
  // a failure moves nothing, the partly read byte included.
  void wrapper_string() {
    auto w = wrapper();
    const uint8_t sel = s.byte();
    const unsigned kind = sel % 4;
    const bool copy = (sel & 4) != 0;
    const uint64_t p = m.aligned();
    const uint64_t avail = m.size - p;
    uint64_t head = kind == 0 ? 1 : kind == 1 ? 2 : 4;
    uint64_t len = 0;
    tavbin_status want = TAVBIN_OK;
    if (kind == 3) {
      want = TAVBIN_EOF; // unless the number ends inside the data
      for (uint64_t i = 0; i < 10 && i < avail; ++i) {
        const uint8_t b = m.data[p + i];
        if (i == 9 && b > 1) {
          want = TAVBIN_INVALID_ARG;
          break;
        }
        len |= uint64_t{b & 0x7Fu} << (7 * i);
        if (b < 0x80) {
          head = i + 1;
          want = TAVBIN_OK;
          break;
        }
      }
    } else if (avail < head) {
      want = TAVBIN_EOF;
    } else {
      len = decode(m.data + p, static_cast<unsigned>(head), m.e);
    }
    const uint64_t max_len = near_len(len);
    const uint64_t cap = near_len(len);
    if (want == TAVBIN_OK && (len > max_len || (copy && len >= cap)))
      want = TAVBIN_TOO_LARGE;
    else if (want == TAVBIN_OK && avail - head < len)
      want = TAVBIN_EOF;
    const size_t block = static_cast<size_t>(cap < m.size + 1 ? cap : m.size + 1) + 1;
    char *dst = static_cast<char *>(std::malloc(block));
    std::memset(dst, kFill, block);
    char *to = copy ? dst : nullptr;
    const auto size = static_cast<size_t>(cap);
    const auto got = kind == 0   ? (to ? w.string_u8(to, size, max_len) : w.string_u8(max_len))
                     : kind == 1 ? (to ? w.string_u16(to, size, max_len) : w.string_u16(max_len))
                     : kind == 2 ? (to ? w.string_u32(to, size, max_len) : w.string_u32(max_len))
                                 : (to ? w.string_leb128(to, size, max_len) : w.string_leb128(max_len));
    FUZZ_CHECK(got.status == want);
    if (want == TAVBIN_OK) {
      FUZZ_CHECK(got.value.size() == len && std::memcmp(got.value.data(), m.data + p + head, len) == 0);
      FUZZ_CHECK(copy ? got.value.data() == dst && dst[len] == '\0'
                      : reinterpret_cast<const uint8_t *>(got.value.data()) == m.data + p + head);
      FUZZ_CHECK(w.tell() == p + head + len);
    } else {
      FUZZ_CHECK(got.value.empty() && w.tell() == m.pos);
      for (size_t i = 0; i < block; ++i)
        FUZZ_CHECK(static_cast<uint8_t>(dst[i]) == kFill);
      if (m.bit != 0) { // the next bit is still the partly read byte's
        FUZZ_CHECK(w.bits(1).value == ((m.data[m.pos] >> (7 - m.bit)) & 1u));
      }
    }
    std::free(dst);
  }

  // The wrapper's LEB128 numbers of 32 bits: at most five bytes, the value's
  // bits only; on failure the cursor where the number began, after the
  // alignment.
  void wrapper_leb128_32() {
    auto w = wrapper();
    const bool is_signed = (s.byte() & 1) != 0;
    const uint64_t p = m.aligned();
    uint64_t v = 0, n = 0;
    tavbin_status want = TAVBIN_EOF;
    for (uint64_t i = 0; i < 5 && p + i < m.size; ++i) {
      const uint8_t b = m.data[p + i];
      v |= uint64_t{b & 0x7Fu} << (7 * i);
      if (b < 0x80) {
        n = i + 1;
        want = TAVBIN_OK;
        break;
      }
      if (i == 4) want = TAVBIN_INVALID_ARG;
    }
    int64_t value = static_cast<int64_t>(v);
    if (want == TAVBIN_OK && is_signed && (m.data[p + n - 1] & 0x40) != 0) value -= int64_t{1} << (7 * n);
    if (want == TAVBIN_OK && (is_signed ? value < INT32_MIN || value > INT32_MAX : v > UINT32_MAX))
      want = TAVBIN_INVALID_ARG;
    const auto got = is_signed ? tavbin::result<int64_t>{w.sleb128_i32().value, w.last_error()}
                               : tavbin::result<int64_t>{w.leb128_u32().value, w.last_error()};
    FUZZ_CHECK(got.status == want);
    FUZZ_CHECK(got.value == (want == TAVBIN_OK ? value : 0));
    FUZZ_CHECK(w.tell() == (want == TAVBIN_OK ? p + n : p));
  }

  // A few least-significant-bit-first reads and aligns, then done() or the end
  // of the scope: each read all or nothing, the reader moved only at the end.
  void lsb() {
    auto w = wrapper();
    const uint64_t start = m.aligned();
    uint64_t pos = start;
    uint32_t bit = 0;
    {
      tavbin::lsb_bits b(w);
      for (int i = 1 + s.byte() % 8; i > 0; --i) {
        const uint8_t sel = s.byte();
        if (sel >= 0xF0) {
          b.align();
          if (bit != 0) bit = 0, ++pos;
          continue;
        }
        const uint32_t count = sel % 66u;
        uint64_t want = 0;
        tavbin_status ws = TAVBIN_OK;
        if (count == 0 || count > 64) {
          ws = TAVBIN_INVALID_ARG;
        } else if ((m.size - pos) * 8 - bit < count) {
          ws = TAVBIN_EOF;
        } else {
          for (uint32_t k = 0; k < count; ++k) {
            want |= static_cast<uint64_t>((m.data[pos] >> bit) & 1u) << k;
            if (++bit == 8) bit = 0, ++pos;
          }
        }
        const auto got = b.read(count);
        FUZZ_CHECK(got.status == ws && got.value == want);
        FUZZ_CHECK(b.offset() == pos);
        FUZZ_CHECK(w.tell() == m.pos); // not moved yet
      }
      if ((s.byte() & 1) != 0) {
        b.done();
        FUZZ_CHECK(b.read(1).status == TAVBIN_INVALID_ARG);
      }
    }
    const uint64_t end = pos + (bit != 0 ? 1 : 0);
    FUZZ_CHECK(w.tell() == (end != start ? end : m.pos));
  }

  // n values of one type in one block: all or nothing, in the handle's order.
  void array() {
    auto w = wrapper();
    const uint8_t sel = s.byte();
    const uint64_t p = m.aligned();
    auto run = [&](auto zero) {
      using T = decltype(zero);
      constexpr unsigned width = sizeof(T);
      const uint64_t fit = (m.size - p) / width;
      const uint64_t n64 = s.edge(fit);
      if (n64 > SIZE_MAX) return;
      const auto n = static_cast<size_t>(n64);
      // Room for what can be there; a call that must fail writes outside it.
      const size_t room = static_cast<size_t>(n64 < fit ? n64 : fit) + 1;
      T *out = static_cast<T *>(std::malloc(room * width));
      std::memset(out, kFill, room * width);
      const tavbin_status st = w.array(out, n);
      if (n64 > fit) {
        FUZZ_CHECK(st == TAVBIN_EOF && w.last_error() == TAVBIN_EOF && w.tell() == p);
        for (size_t i = 0; i < room; ++i)
          check_out(out[i], st, 0);
      } else {
        FUZZ_CHECK(st == TAVBIN_OK && w.tell() == p + n64 * width);
        for (size_t i = 0; i < n; ++i)
          check_out(out[i], st, decode(m.data + p + i * width, width, m.e));
        check_out(out[n], TAVBIN_EOF, 0); // untouched beyond
      }
      std::free(out);
    };
    switch (sel % 10) {
    case 0:
      run(uint8_t{});
      break;
    case 1:
      run(int8_t{});
      break;
    case 2:
      run(uint16_t{});
      break;
    case 3:
      run(int16_t{});
      break;
    case 4:
      run(uint32_t{});
      break;
    case 5:
      run(int32_t{});
      break;
    case 6:
      run(uint64_t{});
      break;
    case 7:
      run(int64_t{});
      break;
    case 8:
      run(float{});
      break;
    default:
      run(double{});
      break;
    }
  }

  void set_endian() {
    const tavbin_endian e = any_endian();
    const tavbin_status st = tavbin_set_endian(r, e);
    if (e <= TAVBIN_LITTLE_ENDIAN) {
      m.e = e;
      FUZZ_CHECK(st == m.rec(TAVBIN_OK));
    } else {
      FUZZ_CHECK(st == m.rec(TAVBIN_INVALID_ARG));
    }
  }

  void seek() {
    const uint64_t off = s.edge(m.size);
    const tavbin_status st = tavbin_seek(r, off);
    if (off > m.size) {
      FUZZ_CHECK(st == m.rec(TAVBIN_RANGE));
    } else {
      m.pos = off;
      m.bit = 0;
      FUZZ_CHECK(st == m.rec(TAVBIN_OK));
    }
  }

  // Refusals before anything is looked at: INVALID_ARG, nothing recorded, nothing moved.
  void refusals() {
    const uint8_t which = s.byte() % 24;
    tavbin_status st = TAVBIN_INVALID_ARG;
    switch (which) {
    case 0:
      st = tavbin_u8(r, nullptr);
      break;
    case 1:
      st = tavbin_i8(r, nullptr);
      break;
    case 2:
      st = tavbin_bits(r, 0, nullptr);
      break; // NULL before the bad count
    case 3:
      st = tavbin_u16(r, nullptr);
      break;
    case 4:
      st = tavbin_i16(r, nullptr);
      break;
    case 5:
      st = tavbin_u32(r, nullptr);
      break;
    case 6:
      st = tavbin_i32(r, nullptr);
      break;
    case 7:
      st = tavbin_f32(r, nullptr);
      break;
    case 8:
      st = tavbin_u64(r, nullptr);
      break;
    case 9:
      st = tavbin_i64(r, nullptr);
      break;
    case 10:
      st = tavbin_f64(r, nullptr);
      break;
    case 11:
      st = tavbin_bytes(r, nullptr, 1);
      break;
    case 12:
      st = tavbin_ascii(r, nullptr, UINT64_MAX);
      break;
    case 13:
      st = tavbin_peek_u8(r, nullptr);
      break;
    case 14:
      st = tavbin_peek_u16(r, nullptr);
      break;
    case 15:
      st = tavbin_peek_u32(r, nullptr);
      break;
    case 16:
      st = tavbin_peek_u64(r, nullptr);
      break;
    case 17:
      st = tavbin_u8_at(r, UINT64_MAX, nullptr);
      break;
    case 18:
      st = tavbin_u16_at(r, 0, nullptr);
      break;
    case 19:
      st = tavbin_u32_at(r, 0, nullptr);
      break;
    case 20:
      st = tavbin_u64_at(r, 0, nullptr);
      break;
    case 21:
      st = tavbin_string_u32(r, nullptr, 0, 0, nullptr);
      break;
    case 22:
      st = tavbin_leb128(r, nullptr, 0);
      break; // NULL before the zero limit
    default: {
      // The whole interface on a NULL handle.
      uint8_t b = kFill;
      uint64_t v = filled<uint64_t>();
      char c[1] = {static_cast<char>(kFill)};
      FUZZ_CHECK(tavbin_set_endian(nullptr, 0) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_seek(nullptr, 0) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_tell(nullptr) == 0 && tavbin_size(nullptr) == 0 && tavbin_remaining(nullptr) == 0);
      FUZZ_CHECK(tavbin_last_error(nullptr) == TAVBIN_INVALID_ARG);
      tavbin_bit_align(nullptr);
      tavbin_close(nullptr);
      FUZZ_CHECK(tavbin_u8(nullptr, &b) == TAVBIN_INVALID_ARG && b == kFill);
      FUZZ_CHECK(tavbin_bits(nullptr, 1, &v) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_u64(nullptr, &v) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_peek_u64(nullptr, &v) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_u64_at(nullptr, 0, &v) == TAVBIN_INVALID_ARG && v == filled<uint64_t>());
      FUZZ_CHECK(tavbin_skip(nullptr, 0) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_bytes(nullptr, c, 0) == TAVBIN_INVALID_ARG);
      FUZZ_CHECK(tavbin_string_u32(nullptr, c, 1, 1, &v) == TAVBIN_INVALID_ARG &&
                 c[0] == static_cast<char>(kFill));
      FUZZ_CHECK(tavbin_leb128(nullptr, &v, 10) == TAVBIN_INVALID_ARG && v == filled<uint64_t>());
      const tavbin_status any = static_cast<tavbin_status>(s.raw(4));
      const char *text = tavbin_strerror(any);
      static const char *const names[] = {"ok", "eof", "range", "invalid_arg", "too_large", "oom"};
      FUZZ_CHECK(std::strcmp(text, any >= 0 && any <= 5 ? names[any] : "unknown") == 0);
      break;
    }
    }
    FUZZ_CHECK(st == TAVBIN_INVALID_ARG);
  }

  // The stateless loads and stores, over the data at an offset the script picks.
  void load_store() {
    const uint8_t sel = s.byte();
    const unsigned width = 2u << (sel % 3);
    const uint64_t off = s.edge(m.size) % (m.size + 1);
    const uint64_t real = m.size - off;
    uint64_t avail = s.edge(real);
    if (avail > real) avail = real; // the caller vouches only for what is there
    const tavbin_endian e = any_endian();
    const uint8_t *src = m.data != nullptr ? m.data + off : nullptr;
    uint64_t out = filled<uint64_t>();
    tavbin_status st;
    if (width == 2) {
      uint16_t o = filled<uint16_t>();
      st = tavbin_load_u16(src, avail, e, &o);
      if (st != TAVBIN_OK)
        FUZZ_CHECK(o == filled<uint16_t>());
      else
        out = o;
    } else if (width == 4) {
      uint32_t o = filled<uint32_t>();
      st = tavbin_load_u32(src, avail, e, &o);
      if (st != TAVBIN_OK)
        FUZZ_CHECK(o == filled<uint32_t>());
      else
        out = o;
    } else {
      st = tavbin_load_u64(src, avail, e, &out);
    }
    tavbin_status want;
    if (src == nullptr)
      want = TAVBIN_INVALID_ARG;
    else if (avail < width)
      want = TAVBIN_EOF;
    else if (e > TAVBIN_LITTLE_ENDIAN)
      want = TAVBIN_INVALID_ARG;
    else
      want = TAVBIN_OK;
    FUZZ_CHECK(st == want);
    if (st == TAVBIN_OK)
      FUZZ_CHECK(out == decode(src, width, e));
    else if (width == 8)
      FUZZ_CHECK(out == filled<uint64_t>());

    // Store the value just loaded (or raw bits) into a block of exactly 8 bytes.
    const uint64_t value = st == TAVBIN_OK ? out : s.raw(8);
    const uint64_t cap = s.edge(8);
    const tavbin_endian se = any_endian();
    auto *dst = static_cast<uint8_t *>(std::malloc(8));
    std::memset(dst, kFill, 8);
    if (width == 2)
      st = tavbin_store_u16(dst, cap, se, static_cast<uint16_t>(value));
    else if (width == 4)
      st = tavbin_store_u32(dst, cap, se, static_cast<uint32_t>(value));
    else
      st = tavbin_store_u64(dst, cap, se, value);
    if (cap < width)
      want = TAVBIN_RANGE;
    else if (se > TAVBIN_LITTLE_ENDIAN)
      want = TAVBIN_INVALID_ARG;
    else
      want = TAVBIN_OK;
    FUZZ_CHECK(st == want);
    for (unsigned i = st == TAVBIN_OK ? width : 0; i < 8; ++i)
      FUZZ_CHECK(dst[i] == kFill);
    if (st == TAVBIN_OK) {
      const uint64_t mask = width == 8 ? UINT64_MAX : (uint64_t{1} << (8 * width)) - 1;
      FUZZ_CHECK(decode(dst, width, se) == (value & mask));
    }
    std::free(dst);
    FUZZ_CHECK(tavbin_store_u32(nullptr, 8, 0, 0) == TAVBIN_INVALID_ARG);
  }

  void step() {
    switch (static_cast<Op>(s.byte() % 32)) {
    case SET_ENDIAN:
      set_endian();
      break;
    case SEEK:
      seek();
      break;
    case ALIGN:
      tavbin_bit_align(r);
      m.align();
      break;
    case U8:
      fixed<uint8_t>(tavbin_u8);
      break;
    case I8:
      fixed<int8_t>(tavbin_i8);
      break;
    case BITS:
    case BITS_TOO:
      bits();
      break;
    case U16:
      fixed<uint16_t>(tavbin_u16);
      break;
    case I16:
      fixed<int16_t>(tavbin_i16);
      break;
    case U32:
      fixed<uint32_t>(tavbin_u32);
      break;
    case I32:
      fixed<int32_t>(tavbin_i32);
      break;
    case F32:
      fixed<float>(tavbin_f32);
      break;
    case U64:
      fixed<uint64_t>(tavbin_u64);
      break;
    case I64:
      fixed<int64_t>(tavbin_i64);
      break;
    case F64:
      fixed<double>(tavbin_f64);
      break;
    case BYTES:
      block(0);
      break;
    case ASCII:
      block(1);
      break;
    case SKIP:
      block(2);
      break;
    case PEEK8:
      peek<uint8_t>(tavbin_peek_u8);
      break;
    case PEEK16:
      peek<uint16_t>(tavbin_peek_u16);
      break;
    case PEEK32:
      peek<uint32_t>(tavbin_peek_u32);
      break;
    case PEEK64:
      peek<uint64_t>(tavbin_peek_u64);
      break;
    case AT8:
      at<uint8_t>(tavbin_u8_at);
      break;
    case AT16:
      at<uint16_t>(tavbin_u16_at);
      break;
    case AT32:
      at<uint32_t>(tavbin_u32_at);
      break;
    case AT64:
      at<uint64_t>(tavbin_u64_at);
      break;
    case STR:
      string();
      if ((s.byte() & 1) != 0)
        wrapper_string();
      else
        wrapper_leb128_32();
      break;
    case LEB:
      leb128();
      break;
    case LSB:
      lsb();
      break;
    case ARRAY:
      array();
      break;
    case NULLS:
      refusals();
      break;
    case PROBE:
      // The bit position, which no query shows, checked by taking it apart.
      FUZZ_CHECK(bit_pos(r) == m.bit);
      m.rec(TAVBIN_OK);
      break;
    }
    check_cursor();
    // The model's own invariants, so a wrong model cannot pass silently.
    FUZZ_CHECK(m.pos <= m.size && m.bit < 8 && (m.bit == 0 || m.pos < m.size));
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t n) {
  const Split sp = split_input(in, n);
  Script script(sp.script, sp.script_len);
  const HeapBytes data(sp.data, sp.data_len);

  const uint8_t open_sel = script.byte();
  const tavbin_endian e = (open_sel & 0x0F) == 0x0F ? 2u + (open_sel >> 4) : open_sel & 1u;
  if (data.size() != 0) FUZZ_CHECK(tavbin_open(nullptr, data.size(), TAVBIN_BIG_ENDIAN) == nullptr);
  tavbin_reader *r = tavbin_open(data.data(), data.size(), e);
  if (e > TAVBIN_LITTLE_ENDIAN) {
    FUZZ_CHECK(r == nullptr);
    return 0;
  }
  FUZZ_CHECK(r != nullptr);
  Run run{r, Model{{data.data(), data.size()}, TAVBIN_OK, e}, script};
  run.check_cursor();
  while (!run.s.done())
    run.step();
  tavbin_close(r);
  return 0;
}
