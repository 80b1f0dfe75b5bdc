/* wav_info - describe a WAV file: its RIFF chunks, its format and its length.
 *
 * A WAV file is a little-endian RIFF container:
 *   "RIFF", u32 size of the rest, "WAVE", then chunks of
 *   4-letter id, u32 size, <size> bytes, one pad byte if size is odd.
 * The "fmt " chunk gives the sample format; the "data" chunk holds the samples.
 *
 * Usage: wav_info FILE.wav */
#include <stdio.h>
#include <string.h>

#include "example.h"
#include "tavbin.h"

struct wav_format {
  uint16_t tag, channels, block_align, bits;
  uint32_t rate, byte_rate;
};

static int fail(const char *path, const char *why) {
  fprintf(stderr, "wav_info: %s: %s\n", path, why);
  return 1;
}

static int describe(const char *path, const unsigned char *data, size_t size) {
  tavbin_reader *r = tavbin_open(data, size, TAVBIN_LITTLE_ENDIAN);
  struct wav_format fmt = {0};
  char riff[5] = {0}, wave[5] = {0};
  uint32_t riff_size = 0;
  uint64_t data_len = 0;
  int have_fmt = 0, have_data = 0, status = 0;

  if (tavbin_ascii(r, riff, 4) != TAVBIN_OK || tavbin_u32(r, &riff_size) != TAVBIN_OK ||
      tavbin_ascii(r, wave, 4) != TAVBIN_OK || strcmp(riff, "RIFF") != 0 || strcmp(wave, "WAVE") != 0) {
    tavbin_close(r);
    return fail(path, "not a WAV file (no RIFF/WAVE header)");
  }
  printf("RIFF WAVE, %lu bytes after the size field\n", (unsigned long)riff_size);
  while (tavbin_remaining(r) > 0) {
    char id[5] = {0};
    uint32_t len;
    uint64_t body = 0;
    if (tavbin_ascii(r, id, 4) != TAVBIN_OK || tavbin_u32(r, &len) != TAVBIN_OK) {
      status = fail(path, "truncated chunk header");
      break;
    }
    body = tavbin_tell(r);
    if (len > tavbin_remaining(r)) {
      fprintf(stderr, "wav_info: %s: chunk '%s' claims %lu bytes, only %llu remain\n", path, id,
              (unsigned long)len, (unsigned long long)tavbin_remaining(r));
      status = 1;
      break;
    }
    printf("chunk '%s' %lu bytes\n", id, (unsigned long)len);
    if (strcmp(id, "fmt ") == 0) {
      if (len < 16 || tavbin_u16(r, &fmt.tag) || tavbin_u16(r, &fmt.channels) || tavbin_u32(r, &fmt.rate) ||
          tavbin_u32(r, &fmt.byte_rate) || tavbin_u16(r, &fmt.block_align) || tavbin_u16(r, &fmt.bits)) {
        status = fail(path, "fmt chunk is shorter than 16 bytes");
        break;
      }
      have_fmt = 1;
    } else if (strcmp(id, "data") == 0) {
      data_len = len;
      have_data = 1;
    }
    /* Chunks are padded to an even size; a missing pad byte at the very end is tolerated. */
    tavbin_seek(r, body + len);
    if ((len & 1u) && tavbin_remaining(r) > 0) tavbin_skip(r, 1);
  }
  if (status == 0 && !have_fmt) status = fail(path, "no fmt chunk");
  if (status == 0 && !have_data) status = fail(path, "no data chunk");
  if (status == 0 && (fmt.channels == 0 || fmt.byte_rate == 0 || fmt.block_align == 0))
    status = fail(path, "fmt chunk has zero channels, byte rate or block size");
  if (status == 0) {
    printf("format %s (tag %u), %u channel%s, %lu Hz, %u bits per sample\n", fmt.tag == 1 ? "PCM" : "other",
           fmt.tag, fmt.channels, fmt.channels == 1 ? "" : "s", (unsigned long)fmt.rate, fmt.bits);
    printf("data %llu bytes, %llu frames, %.3f seconds\n", (unsigned long long)data_len,
           (unsigned long long)(data_len / fmt.block_align), (double)data_len / fmt.byte_rate);
  }
  tavbin_close(r);
  return status;
}

const char example_name[] = "wav_info";
const char example_file[] = "FILE.wav";

int example_run(const char *path, const unsigned char *data, size_t size) {
  return describe(path, data, size);
}
