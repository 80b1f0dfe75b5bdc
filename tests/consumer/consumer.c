/* A program outside the library's tree, built against an installed copy.
 * PACKAGE_VERSION is the version its build system found (the CMake package's or
 * pkg-config's); the installed header must say the same. */
#include <stdio.h>
#include <string.h>

#include <tavbin.h>

int main(void) {
  char numbers[32];
  snprintf(numbers, sizeof numbers, "%d.%d.%d", TAVBIN_VERSION_MAJOR, TAVBIN_VERSION_MINOR,
           TAVBIN_VERSION_PATCH);
  if (strcmp(TAVBIN_VERSION_STRING, PACKAGE_VERSION) != 0 || strcmp(numbers, PACKAGE_VERSION) != 0) {
    printf("consumer: header version %s (%s), package version %s\n", TAVBIN_VERSION_STRING, numbers,
           PACKAGE_VERSION);
    return 1;
  }
  tavbin_writer *w = tavbinw_open(0, TAVBIN_LITTLE_ENDIAN);
  if (w == NULL || tavbinw_u32(w, 0xCAFEF00Du) != TAVBIN_OK || tavbinw_string_u32(w, "hi", 2) != TAVBIN_OK)
    return 1;
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
