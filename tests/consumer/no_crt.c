/* A program of the MSVC ABI without a C runtime: it starts at consumer_start,
 * uses the library through its import library, and ends with ExitProcess. */
#include <tavbin.h>

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

void __stdcall consumer_start(void) {
  tavbin_writer *w = tavbinw_open(0, TAVBIN_LITTLE_ENDIAN);
  int ok = w != 0 && tavbinw_u32(w, 0xCAFEF00Du) == TAVBIN_OK && tavbinw_leb128(w, 624485) == TAVBIN_OK;
  tavbin_reader *r = ok ? tavbin_open(tavbinw_data(w), tavbinw_len(w), TAVBIN_LITTLE_ENDIAN) : 0;
  uint32_t magic = 0;
  uint64_t n = 0;
  ok = ok && r != 0 && tavbin_u32(r, &magic) == TAVBIN_OK && magic == 0xCAFEF00Du &&
       tavbin_leb128(r, &n, 10) == TAVBIN_OK && n == 624485 && tavbin_remaining(r) == 0;
  tavbin_close(r);
  tavbinw_close(w);
  ExitProcess(ok ? 0 : 1);
}
