/* png_chunks - list the chunks of a PNG file and check every CRC.
 *
 * A PNG file is an 8-byte signature and then chunks, all big-endian:
 *   u32 length, 4-letter type, <length> bytes of data, u32 CRC-32 of type + data.
 * The file ends with the IEND chunk. IHDR, always first, holds the image size.
 *
 * Usage: png_chunks FILE.png */
#include <stdio.h>
#include <string.h>

#include "example.h"
#include "tavbin.h"

/* CRC-32 as PNG and zlib define it (reflected, polynomial 0xEDB88320). */
static uint32_t crc32_of(const unsigned char *p, uint64_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  while (n--) {
    crc ^= *p++;
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

static int fail(const char *path, const char *why, uint64_t offset) {
  fprintf(stderr, "png_chunks: %s: %s (at byte %llu)\n", path, why, (unsigned long long)offset);
  return 1;
}

static int walk(const char *path, const unsigned char *data, size_t size) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  tavbin_reader *r = tavbin_open(data, size, TAVBIN_BIG_ENDIAN);
  unsigned char sig[8];
  int status = 0, chunks = 0;

  if (tavbin_bytes(r, sig, sizeof sig) != TAVBIN_OK || memcmp(sig, signature, sizeof sig) != 0) {
    tavbin_close(r);
    return fail(path, "not a PNG file (wrong signature)", 0);
  }
  for (;;) {
    uint64_t start = tavbin_tell(r);
    uint32_t length, stored_crc;
    char type[5] = {0};
    if (tavbin_remaining(r) == 0) {
      status = fail(path, "file ends before the IEND chunk", start);
      break;
    }
    if (tavbin_u32(r, &length) != TAVBIN_OK || tavbin_ascii(r, type, 4) != TAVBIN_OK) {
      status = fail(path, "truncated chunk header", start);
      break;
    }
    /* The CRC covers the type and the data, which lie in the caller's bytes. */
    const unsigned char *covered = data + start + 4;
    if (tavbin_skip(r, length) != TAVBIN_OK || tavbin_u32(r, &stored_crc) != TAVBIN_OK) {
      status = fail(path, "chunk length runs past the end of the file", start);
      break;
    }
    uint32_t crc = crc32_of(covered, 4 + (uint64_t)length);
    printf("%-4s %10lu bytes  crc %08lx", type, (unsigned long)length, (unsigned long)stored_crc);
    if (crc != stored_crc) {
      printf("  BAD\n");
      fprintf(stderr, "png_chunks: %s: CRC mismatch in %s chunk: stored %08lx, computed %08lx\n", path, type,
              (unsigned long)stored_crc, (unsigned long)crc);
      status = 1;
      break;
    }
    if (chunks == 0 && strcmp(type, "IHDR") == 0 && length == 13) {
      uint32_t width = 0, height = 0;
      uint8_t depth = 0, colour = 0;
      tavbin_u32_at(r, start + 8, &width);
      tavbin_u32_at(r, start + 12, &height);
      tavbin_u8_at(r, start + 16, &depth);
      tavbin_u8_at(r, start + 17, &colour);
      printf("  %lu x %lu, %u-bit, colour type %u", (unsigned long)width, (unsigned long)height, depth,
             colour);
    } else if (chunks == 0) {
      printf("\n");
      status = fail(path, "first chunk is not a 13-byte IHDR", start);
      break;
    }
    printf("  ok\n");
    chunks++;
    if (strcmp(type, "IEND") == 0) break;
  }
  if (status == 0) printf("%s: %d chunks, every CRC matches\n", path, chunks);
  tavbin_close(r);
  return status;
}

const char example_name[] = "png_chunks";
const char example_file[] = "FILE.png";

int example_run(const char *path, const unsigned char *data, size_t size) { return walk(path, data, size); }
