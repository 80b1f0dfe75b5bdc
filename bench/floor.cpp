/* floor.cpp - see floor.h. Each shape touches its handle once and stores one
 * word, so the call, the handle's cache line and the output store are all that
 * is left to measure; the cursor floor adds the bounds test and the position. */
#define FLOOR_BUILDING
#include "floor.h"

#include <cstdlib>

extern "C" {

struct floor_reader {
  const uint8_t *data;
  uint64_t size;
  uint64_t pos;
};

struct floor_writer {
  uint8_t *data;
  uint64_t cap;
  uint64_t last;
};

floor_reader *floor_open(const void *data, uint64_t size) {
  auto *r = static_cast<floor_reader *>(std::calloc(1, sizeof(floor_reader)));
  if (r != nullptr) {
    r->data = static_cast<const uint8_t *>(data);
    r->size = size;
  }
  return r;
}

void floor_close(floor_reader *r) { std::free(r); }

int32_t floor_seek(floor_reader *r, uint64_t offset) {
  r->pos = offset;
  return 0;
}

int32_t floor_cursor(floor_reader *r, uint8_t *out) {
  if (r == nullptr || out == nullptr) return 3;
  const uint64_t p = r->pos;
  if (p >= r->size) return 1;
  *out = r->data[p];
  r->pos = p + 1;
  return 0;
}

int32_t floor_u8(floor_reader *r, uint8_t *out) {
  *out = (uint8_t)r->pos;
  return 0;
}
int32_t floor_u16(floor_reader *r, uint16_t *out) {
  *out = (uint16_t)r->pos;
  return 0;
}
int32_t floor_u32(floor_reader *r, uint32_t *out) {
  *out = (uint32_t)r->pos;
  return 0;
}
int32_t floor_u64(floor_reader *r, uint64_t *out) {
  *out = r->pos;
  return 0;
}

int32_t floor_u8_at(floor_reader *r, uint64_t offset, uint8_t *out) {
  *out = (uint8_t)(r->pos + offset);
  return 0;
}
int32_t floor_u16_at(floor_reader *r, uint64_t offset, uint16_t *out) {
  *out = (uint16_t)(r->pos + offset);
  return 0;
}
int32_t floor_u32_at(floor_reader *r, uint64_t offset, uint32_t *out) {
  *out = (uint32_t)(r->pos + offset);
  return 0;
}
int32_t floor_u64_at(floor_reader *r, uint64_t offset, uint64_t *out) {
  *out = r->pos + offset;
  return 0;
}

int32_t floor_bits(floor_reader *r, uint32_t count, uint64_t *out) {
  *out = r->pos + count;
  return 0;
}

int32_t floor_leb128(floor_reader *r, uint64_t *out, uint64_t max_bytes) {
  *out = r->pos + max_bytes;
  return 0;
}

int32_t floor_string_u32(floor_reader *r, char *dst, uint64_t dst_cap, uint64_t max_len, uint64_t *out_len) {
  (void)dst_cap;
  (void)max_len;
  dst[0] = '\0';
  *out_len = r->pos;
  return 0;
}

int32_t floor_load_u32(const void *src, uint64_t avail, uint32_t endian, uint32_t *out) {
  (void)src;
  *out = (uint32_t)(avail + endian);
  return 0;
}

floor_writer *floor_wopen(uint64_t initial_cap) {
  auto *w = static_cast<floor_writer *>(std::calloc(1, sizeof(floor_writer)));
  if (w == nullptr) return nullptr;
  w->cap = initial_cap != 0 ? initial_cap : 64;
  w->data = static_cast<uint8_t *>(std::malloc(w->cap));
  if (w->data == nullptr) {
    std::free(w);
    return nullptr;
  }
  return w;
}

void floor_wclose(floor_writer *w) {
  if (w != nullptr) std::free(w->data);
  std::free(w);
}

int32_t floor_w8(floor_writer *w, uint8_t value) {
  w->last = value;
  return 0;
}
int32_t floor_w16(floor_writer *w, uint16_t value) {
  w->last = value;
  return 0;
}
int32_t floor_w32(floor_writer *w, uint32_t value) {
  w->last = value;
  return 0;
}
int32_t floor_w64(floor_writer *w, uint64_t value) {
  w->last = value;
  return 0;
}

int32_t floor_wstring_u32(floor_writer *w, const char *src, uint64_t n) {
  (void)src;
  w->last = n;
  return 0;
}

int32_t floor_store_u32(void *dst, uint64_t cap, uint32_t endian, uint32_t value) {
  (void)dst;
  (void)cap;
  (void)endian;
  (void)value;
  return 0;
}

} // extern "C"
