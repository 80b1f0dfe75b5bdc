// Typed writes chosen by the input, byte-order changes and appends from the
// writer's own bytes included, then read back with a reader over a copy of the
// result: every value must come back equal (floats bit for bit), the bytes must
// match an independent encoding, and the writer's length and last status must
// follow every call.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

using namespace tavbin_fuzz;

namespace {

enum Kind : uint8_t { U8, I8, U16, I16, U32, I32, F32, U64, I64, F64, LEB, STR, BYTES, ENDIAN };

struct Item {
  Kind kind;
  tavbin_endian e;
  uint64_t value; // the bits of a fixed value; LEB128 value; offset in `expect` for STR/BYTES
  uint64_t len;   // STR/BYTES byte count
};

constexpr uint64_t kMaxLen = 1u << 16; // keeps one run small and fast

unsigned leb_len(uint64_t v) {
  unsigned n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

struct WriterModel {
  std::vector<uint8_t> bytes;
  uint64_t cap;
  tavbin_endian e;
  tavbin_status last = TAVBIN_OK;

  void grow_for(uint64_t n) {
    while (cap - bytes.size() < n)
      cap *= 2;
  }
};

template <typename T> T from_bits(uint64_t bits) {
  T v;
  std::memcpy(&v, &bits, sizeof v); // low bytes on little-endian hosts; used only as a source of values
  return v;
}

template <typename T> uint64_t to_bits(T v) {
  uint64_t b = 0;
  std::memcpy(&b, &v, sizeof v);
  return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t n) {
  const Split sp = split_input(in, n);
  Script s(sp.script, sp.script_len);
  const HeapBytes pool(sp.data, sp.data_len); // source of byte blocks and strings
  uint64_t pool_at = 0;

  const uint8_t cap_sel = s.byte();
  static const uint64_t caps[] = {0, 1, 2, 3, 5, 8, 13, 64};
  const uint64_t initial_cap = cap_sel < 0xF0 ? caps[cap_sel % 8] : 1 + s.raw(1) * 16;
  const tavbin_endian e0 = (cap_sel >> 3) & 1u;
  FUZZ_CHECK(tavbinw_open(0, 2) == nullptr);
  tavbin_writer *w = tavbinw_open(initial_cap, e0);
  FUZZ_CHECK(w != nullptr);
  WriterModel m{{}, initial_cap != 0 ? initial_cap : 64, e0};
  std::vector<Item> items;

  while (!s.done()) {
    const uint8_t op = s.byte();
    tavbin_status st = TAVBIN_OK, want = TAVBIN_OK;
    const uint64_t raw = s.raw(1 + (op >> 5)); // 1 to 8 bytes of value
    switch (op % 16) {
    case 0: {
      const uint8_t sel = s.byte();
      const tavbin_endian e = sel < 0xE0 ? sel & 1u : 2u + sel;
      st = tavbinw_set_endian(w, e);
      if (e <= TAVBIN_LITTLE_ENDIAN) {
        m.e = e;
        items.push_back({ENDIAN, e, 0, 0});
      } else {
        want = TAVBIN_INVALID_ARG;
      }
      break;
    }
    case 1:
      st = tavbinw_u8(w, static_cast<uint8_t>(raw));
      items.push_back({U8, m.e, raw & 0xFF, 1});
      break;
    case 2:
      st = tavbinw_u16(w, static_cast<uint16_t>(raw));
      items.push_back({U16, m.e, raw & 0xFFFF, 2});
      break;
    case 3:
      st = tavbinw_i16(w, static_cast<int16_t>(raw));
      items.push_back({I16, m.e, raw & 0xFFFF, 2});
      break;
    case 4:
      st = tavbinw_u32(w, static_cast<uint32_t>(raw));
      items.push_back({U32, m.e, raw & 0xFFFFFFFF, 4});
      break;
    case 5:
      st = tavbinw_i32(w, static_cast<int32_t>(raw));
      items.push_back({I32, m.e, raw & 0xFFFFFFFF, 4});
      break;
    case 6: {
      const float f = from_bits<float>(raw); // any pattern: NaN payloads, subnormals, -0
      st = tavbinw_f32(w, f);
      items.push_back({F32, m.e, to_bits(f), 4});
      break;
    }
    case 7:
      st = tavbinw_u64(w, raw);
      items.push_back({U64, m.e, raw, 8});
      break;
    case 8:
      st = tavbinw_i64(w, static_cast<int64_t>(raw));
      items.push_back({I64, m.e, raw, 8});
      break;
    case 9: {
      const double d = from_bits<double>(raw);
      st = tavbinw_f64(w, d);
      items.push_back({F64, m.e, to_bits(d), 8});
      break;
    }
    case 10:
      st = tavbinw_leb128(w, raw);
      items.push_back({LEB, m.e, raw, leb_len(raw)});
      break;
    case 11:
    case 12:
    case 13: {
      // A block or string from the pool, or from the writer's own written bytes
      // (the buffer may move during the append), or from its unwritten tail.
      const bool str = op % 16 == 11;
      const uint8_t src_sel = s.byte();
      const uint64_t len = m.bytes.size();
      if (op % 16 == 13 && m.cap > len) {
        // Starting in the written bytes and running past them, or starting in
        // the tail itself.
        const uint64_t tail = m.cap - len;
        const uint64_t skip = src_sel & 8 ? (raw >> 8) % tail : 0;
        const uint64_t k = 1 + raw % (tail - skip);
        const uint8_t *src = tavbinw_data(w) + len + skip - (src_sel & 1 ? (len < k ? len : k) / 2 : 0);
        st = src_sel & 4 ? tavbinw_string_u32(w, reinterpret_cast<const char *>(src), k)
                         : tavbinw_bytes(w, src, k);
        FUZZ_CHECK(st == TAVBIN_INVALID_ARG);
        m.last = TAVBIN_INVALID_ARG;
        FUZZ_CHECK(tavbinw_last_error(w) == m.last);
        FUZZ_CHECK(tavbinw_len(w) == len);
        continue;
      }
      std::vector<uint8_t> block;
      const uint8_t *src;
      uint64_t cnt;
      if ((src_sel & 1) && len != 0) {
        const uint64_t off = raw % len;
        cnt = s.raw(2) % (len - off + 1);
        src = tavbinw_data(w) + off;
        block.assign(m.bytes.begin() + static_cast<ptrdiff_t>(off),
                     m.bytes.begin() + static_cast<ptrdiff_t>(off + cnt));
      } else {
        const uint64_t avail = pool.size() - pool_at;
        cnt = avail != 0 ? raw % (avail + 1) : 0;
        src = pool.data() != nullptr ? pool.data() + pool_at : nullptr;
        if (cnt != 0) block.assign(src, src + cnt);
        pool_at = cnt < avail ? pool_at + cnt : 0;
      }
      if (src_sel & 2) src = cnt == 0 ? nullptr : src; // NULL is fine for an empty block
      if (len + cnt + 4 > kMaxLen) continue;
      st = str ? tavbinw_string_u32(w, reinterpret_cast<const char *>(src), cnt) : tavbinw_bytes(w, src, cnt);
      items.push_back({str ? STR : BYTES, m.e, len + (str ? 4 : 0), cnt});
      m.grow_for(block.size() + (str ? 4 : 0));
      if (str) encode(m.bytes, cnt, 4, m.e);
      m.bytes.insert(m.bytes.end(), block.begin(), block.end());
      m.last = TAVBIN_OK;
      FUZZ_CHECK(st == TAVBIN_OK);
      break;
    }
    case 14: {
      // Refusals: too long a string, NULL sources with a count; neither appends.
      char one = 'x';
      if ((raw & 3) == 1) {
        st = tavbinw_string_u32(w, &one, uint64_t{0xFFFFFFFF} + 1 + (raw >> 2));
        want = TAVBIN_TOO_LARGE;
      } else if ((raw & 3) == 3) {
        // Growth that no capacity can give is refused before the source is read:
        // past 2^64 in total, or past the last doubling of the capacity. (Counts
        // between would ask the allocator for an absurd block, which the
        // sanitizers' allocators report instead of failing.)
        uint64_t top = m.cap;
        while ((top >> 63) == 0)
          top <<= 1;
        const uint64_t len = m.bytes.size(), k = (raw >> 3) % 64;
        const uint64_t huge =
            raw & 4 || UINT64_MAX - top <= k ? UINT64_MAX - (len != 0 ? k % len : 0) : top - len + 1 + k;
        st = tavbinw_bytes(w, &one, huge);
        want = TAVBIN_OOM;
      } else {
        FUZZ_CHECK(tavbinw_set_endian(nullptr, 0) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_leb128(nullptr, 0) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_f64(nullptr, 0) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_string_u32(nullptr, &one, 1) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_bytes(nullptr, &one, 1) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_bytes(w, nullptr, 1 + (raw >> 1)) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_string_u32(w, nullptr, 1) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_u8(nullptr, 0) == TAVBIN_INVALID_ARG);
        FUZZ_CHECK(tavbinw_len(nullptr) == 0 && tavbinw_data(nullptr) == nullptr);
        FUZZ_CHECK(tavbinw_last_error(nullptr) == TAVBIN_INVALID_ARG);
        tavbinw_close(nullptr);
        FUZZ_CHECK(tavbinw_len(w) == m.bytes.size());
        FUZZ_CHECK(tavbinw_last_error(w) == m.last); // not recorded
        continue;
      }
      break;
    }
    default:
      st = tavbinw_u8(w, static_cast<uint8_t>(raw));
      items.push_back({I8, m.e, raw & 0xFF, 1});
      break;
    }
    if (!items.empty() && items.back().kind != STR && items.back().kind != BYTES && st == TAVBIN_OK &&
        items.back().kind != ENDIAN && want == TAVBIN_OK) {
      Item &it = items.back();
      m.grow_for(it.len);
      if (it.kind == LEB) {
        uint64_t v = it.value;
        while (v >= 0x80) {
          m.bytes.push_back(static_cast<uint8_t>(v | 0x80));
          v >>= 7;
        }
        m.bytes.push_back(static_cast<uint8_t>(v));
      } else {
        encode(m.bytes, it.value, static_cast<unsigned>(it.len), m.e);
      }
    }
    if (st != TAVBIN_INVALID_ARG || want == TAVBIN_INVALID_ARG) m.last = st;
    FUZZ_CHECK(st == want);
    FUZZ_CHECK(tavbinw_last_error(w) == m.last);
    FUZZ_CHECK(tavbinw_len(w) == m.bytes.size());
    if (m.bytes.size() > kMaxLen) break;
  }

  // The bytes themselves, then every value through a reader over a copy of them.
  FUZZ_CHECK(tavbinw_len(w) == m.bytes.size());
  FUZZ_CHECK(m.bytes.empty() || std::memcmp(tavbinw_data(w), m.bytes.data(), m.bytes.size()) == 0);
  const HeapBytes copy(tavbinw_data(w), static_cast<size_t>(tavbinw_len(w)));
  tavbinw_close(w);

  tavbin_reader *r = tavbin_open(copy.data(), copy.size(), e0);
  FUZZ_CHECK(r != nullptr);
  for (const Item &it : items) {
    uint64_t got = 0;
    tavbin_status st = TAVBIN_OK;
    switch (it.kind) {
    case ENDIAN:
      st = tavbin_set_endian(r, it.e);
      break;
    case U8: {
      uint8_t v;
      st = tavbin_u8(r, &v);
      got = v;
      break;
    }
    case I8: {
      int8_t v;
      st = tavbin_i8(r, &v);
      got = static_cast<uint8_t>(v);
      break;
    }
    case U16: {
      uint16_t v;
      st = tavbin_u16(r, &v);
      got = v;
      break;
    }
    case I16: {
      int16_t v;
      st = tavbin_i16(r, &v);
      got = static_cast<uint16_t>(v);
      break;
    }
    case U32: {
      uint32_t v;
      st = tavbin_u32(r, &v);
      got = v;
      break;
    }
    case I32: {
      int32_t v;
      st = tavbin_i32(r, &v);
      got = static_cast<uint32_t>(v);
      break;
    }
    case F32: {
      float v;
      st = tavbin_f32(r, &v);
      got = to_bits(v);
      break;
    }
    case U64:
      st = tavbin_u64(r, &got);
      break;
    case I64: {
      int64_t v;
      st = tavbin_i64(r, &v);
      got = static_cast<uint64_t>(v);
      break;
    }
    case F64: {
      double v;
      st = tavbin_f64(r, &v);
      got = to_bits(v);
      break;
    }
    case LEB:
      st = tavbin_leb128(r, &got, it.value & 1 ? it.len : 10 + it.len);
      break;
    case STR:
    case BYTES: {
      // A destination of exactly the size the call needs.
      const size_t need = static_cast<size_t>(it.len) + (it.kind == STR ? 1 : 0);
      auto *dst = static_cast<char *>(std::malloc(need != 0 ? need : 1));
      uint64_t len = 0;
      st = it.kind == STR ? tavbin_string_u32(r, dst, need, it.len, &len) : tavbin_bytes(r, dst, it.len);
      FUZZ_CHECK(st == TAVBIN_OK);
      FUZZ_CHECK(it.len == 0 || std::memcmp(dst, copy.data() + it.value, static_cast<size_t>(it.len)) == 0);
      if (it.kind == STR) FUZZ_CHECK(len == it.len && dst[it.len] == '\0');
      std::free(dst);
      got = it.value;
      break;
    }
    }
    FUZZ_CHECK(st == TAVBIN_OK);
    FUZZ_CHECK(got == it.value);
  }
  FUZZ_CHECK(tavbin_remaining(r) == 0);
  tavbin_close(r);
  return 0;
}
