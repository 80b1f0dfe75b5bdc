/* floor.h - the call floor: exported functions of the library's shapes that do
 * almost nothing, in a shared module of their own. Timing a call to one of these
 * through the same kind of cross-module call as the library's measures what the
 * one-value-per-call interface costs before any decoding happens. */
#ifndef TAVBIN_FLOOR_H
#define TAVBIN_FLOOR_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(FLOOR_BUILDING)
#define FLOOR_API __declspec(dllexport)
#else
#define FLOOR_API __declspec(dllimport)
#endif
#else
#define FLOOR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct floor_reader floor_reader;
typedef struct floor_writer floor_writer;

FLOOR_API floor_reader *floor_open(const void *data, uint64_t size);
FLOOR_API void floor_close(floor_reader *r);
FLOOR_API int32_t floor_seek(floor_reader *r, uint64_t offset);

/* The cursor floor: the least a consuming read can do. It checks its arguments
 * and the bounds, loads one byte and advances the position kept in its handle,
 * so a loop of calls carries the position from each call's store to the next
 * call's load, as a loop of the library's reads does. */
FLOOR_API int32_t floor_cursor(floor_reader *r, uint8_t *out);

/* The reader's shapes, each loading one field of the handle and storing one
 * word: consuming reads and peeks, absolute reads, bit fields,
 * LEB128, strings, stateless loads. */
FLOOR_API int32_t floor_u8(floor_reader *r, uint8_t *out);
FLOOR_API int32_t floor_u16(floor_reader *r, uint16_t *out);
FLOOR_API int32_t floor_u32(floor_reader *r, uint32_t *out);
FLOOR_API int32_t floor_u64(floor_reader *r, uint64_t *out);
FLOOR_API int32_t floor_u8_at(floor_reader *r, uint64_t offset, uint8_t *out);
FLOOR_API int32_t floor_u16_at(floor_reader *r, uint64_t offset, uint16_t *out);
FLOOR_API int32_t floor_u32_at(floor_reader *r, uint64_t offset, uint32_t *out);
FLOOR_API int32_t floor_u64_at(floor_reader *r, uint64_t offset, uint64_t *out);
FLOOR_API int32_t floor_bits(floor_reader *r, uint32_t count, uint64_t *out);
FLOOR_API int32_t floor_leb128(floor_reader *r, uint64_t *out, uint64_t max_bytes);
FLOOR_API int32_t floor_string_u32(floor_reader *r, char *dst, uint64_t dst_cap, uint64_t max_len,
                                   uint64_t *out_len);
FLOOR_API int32_t floor_load_u32(const void *src, uint64_t avail, uint32_t endian, uint32_t *out);

/* The writer's shapes. */
FLOOR_API floor_writer *floor_wopen(uint64_t initial_cap);
FLOOR_API void floor_wclose(floor_writer *w);
FLOOR_API int32_t floor_w8(floor_writer *w, uint8_t value);
FLOOR_API int32_t floor_w16(floor_writer *w, uint16_t value);
FLOOR_API int32_t floor_w32(floor_writer *w, uint32_t value);
FLOOR_API int32_t floor_w64(floor_writer *w, uint64_t value);
FLOOR_API int32_t floor_wstring_u32(floor_writer *w, const char *src, uint64_t n);
FLOOR_API int32_t floor_store_u32(void *dst, uint64_t cap, uint32_t endian, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
