/* The public header must compile as strict C99 on its own. */
#include "tavbin.h"

typedef char status_is_32_bits[sizeof(tavbin_status) == 4 ? 1 : -1];
typedef char endian_is_32_bits[sizeof(tavbin_endian) == 4 ? 1 : -1];
typedef char status_is_signed[(tavbin_status)-1 < 0 ? 1 : -1];
typedef char endian_is_unsigned[(tavbin_endian)-1 > 0 ? 1 : -1];

int main(void) {
  uint8_t b[2] = {0x12, 0x34};
  uint16_t v = 0;
  tavbin_reader *r = tavbin_open(b, sizeof b, TAVBIN_BIG_ENDIAN);
  int ok = r != 0 && tavbin_load_u16(b, 2, TAVBIN_LITTLE_ENDIAN, &v) == TAVBIN_OK && v == 0x3412;
  tavbin_close(r);
  return ok ? 0 : 1;
}
