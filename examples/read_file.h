/* read_file.h - the one helper the examples share: a whole file into memory.
 * Plain C with fopen in binary mode, so it builds everywhere the library does. */
#ifndef EXAMPLES_READ_FILE_H
#define EXAMPLES_READ_FILE_H

#include <stdio.h>
#include <stdlib.h>

/* The file's bytes in a malloc'd block (free it), or NULL with a message on
 * stderr. *size receives the length; an empty file gives a 1-byte block. */
static unsigned char *read_file(const char *prog, const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  unsigned char *buf = NULL;
  size_t len = 0, cap = 0;
  if (f == NULL) {
    fprintf(stderr, "%s: cannot open %s\n", prog, path);
    return NULL;
  }
  for (;;) {
    if (len == cap) {
      unsigned char *grown;
      cap = cap ? cap * 2 : 4096;
      grown = (unsigned char *)realloc(buf, cap);
      if (grown == NULL) {
        fprintf(stderr, "%s: %s is too large to read\n", prog, path);
        free(buf);
        fclose(f);
        return NULL;
      }
      buf = grown;
    }
    size_t got = fread(buf + len, 1, cap - len, f);
    len += got;
    if (got == 0) break;
  }
  if (ferror(f)) {
    fprintf(stderr, "%s: error reading %s\n", prog, path);
    free(buf);
    fclose(f);
    return NULL;
  }
  fclose(f);
  *size = len;
  return buf;
}

#endif
