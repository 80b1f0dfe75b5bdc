// tavbin_bits reads a window of up to nine bytes at once; here it is compared with
// the plain definition, one bit at a time, after every call: same value, same
// status, same byte position and, on request, the same bit position.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

using namespace tavbin_fuzz;

namespace {

struct Ref {
  const uint8_t *d;
  uint64_t size;
  uint64_t pos = 0;
  uint32_t bit = 0;
  tavbin_status last = TAVBIN_OK;

  tavbin_status bits(uint32_t count, uint64_t *out) {
    if (count == 0 || count > 64) return last = TAVBIN_INVALID_ARG;
    uint64_t v = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (pos >= size) return last = TAVBIN_EOF;
      v = (v << 1) | ((d[pos] >> (7 - bit)) & 1u);
      if (++bit == 8) {
        bit = 0;
        ++pos;
      }
    }
    *out = v;
    return last = TAVBIN_OK;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t n) {
  const Split sp = split_input(in, n);
  Script script(sp.script, sp.script_len);
  const HeapCopy data(sp.data, sp.data_len);
  // The byte order must not matter to bit reads.
  const tavbin_endian e = script.byte() & 1u;
  tavbin_reader *r = tavbin_open(data.data(), data.size(), e);
  FUZZ_CHECK(r != nullptr);
  Ref ref{data.data(), data.size()};

  while (!script.done()) {
    const uint8_t op = script.byte();
    const uint32_t v = op & 0x7F;
    if (v < 66) {
      constexpr uint64_t kFill = 0xA5A5A5A5A5A5A5A5u;
      uint64_t got = kFill, want = kFill;
      const tavbin_status st = tavbin_bits(r, v, &got);
      FUZZ_CHECK(st == ref.bits(v, &want));
      FUZZ_CHECK(got == want);
    } else if (v < 72) {
      tavbin_bit_align(r);
      if (ref.bit != 0) {
        ref.bit = 0;
        ++ref.pos;
      }
    } else {
      // Seeks near both ends, where the short and the wide paths meet.
      const uint64_t k = v < 100 ? v - 72 : v - 100;
      const uint64_t off = k > ref.size ? ref.size : v < 100 ? ref.size - k : k;
      FUZZ_CHECK(tavbin_seek(r, off) == TAVBIN_OK);
      ref.pos = off;
      ref.bit = 0;
      ref.last = TAVBIN_OK;
    }
    FUZZ_CHECK(tavbin_tell(r) == ref.pos);
    FUZZ_CHECK(tavbin_remaining(r) == ref.size - ref.pos);
    FUZZ_CHECK(tavbin_last_error(r) == ref.last);
    if (op & 0x80) {
      FUZZ_CHECK(probe_bit_pos(r) == ref.bit);
      ref.last = TAVBIN_OK;
    }
  }
  tavbin_close(r);
  return 0;
}
