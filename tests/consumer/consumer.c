/* A program outside the library's tree, built against an installed copy. */
#include <stdio.h>
#include <string.h>

#include <tavbin.h>

int main(void) {
  tavbin_writer *w = tavbinw_open(0, TAVBIN_LITTLE_ENDIAN);
  if (w == NULL || tavbinw_u32(w, 0xCAFEF00Du) != TAVBIN_OK || tavbinw_string_u32(w, "hi", 2) != TAVBIN_OK) return 1;
  tavbin_reader *r = tavbin_open(tavbinw_data(w), tavbinw_len(w), TAVBIN_LITTLE_ENDIAN);
  uint32_t magic = 0;
  char name[8];
  int ok = r != NULL && tavbin_u32(r, &magic) == TAVBIN_OK && magic == 0xCAFEF00Du &&
           tavbin_string_u32(r, name, sizeof name, 7, NULL) == TAVBIN_OK && strcmp(name, "hi") == 0 &&
           tavbin_remaining(r) == 0 && strcmp(tavbin_strerror(tavbin_last_error(r)), "ok") == 0;
  tavbin_close(r);
  tavbinw_close(w);
  puts(ok ? "consumer: ok" : "consumer: wrong values");
  return ok ? 0 : 1;
}
