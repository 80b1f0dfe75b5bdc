/* Decodes a few values from a small record it holds itself. */
#include <stdio.h>

#include "tavbin.h"

int main(void) {
  /* A big-endian record: magic, version, a 12-bit width and a 4-bit depth. */
  static const unsigned char record[] = {0x54, 0x41, 0x56, 0x42, 0x00, 0x02, 0x28, 0x08};
  tavbin_reader *r = tavbin_open(record, sizeof record, TAVBIN_BIG_ENDIAN);
  uint32_t magic = 0;
  uint16_t version = 0;
  uint64_t width = 0, depth = 0;
  if (r == NULL || tavbin_u32(r, &magic) != TAVBIN_OK || tavbin_u16(r, &version) != TAVBIN_OK ||
      tavbin_bits(r, 12, &width) != TAVBIN_OK || tavbin_bits(r, 4, &depth) != TAVBIN_OK) {
    fprintf(stderr, "demo: %s\n", tavbin_strerror(tavbin_last_error(r)));
    tavbin_close(r);
    return 1;
  }
  printf("magic 0x%08X, version %u, width %u, depth %u\n", (unsigned)magic, (unsigned)version,
         (unsigned)width, (unsigned)depth);
  tavbin_close(r);
  return 0;
}
