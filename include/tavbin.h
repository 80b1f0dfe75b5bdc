/*
 * tavbin.h - binary-read-util: exact, bounds-checked binary decoding and encoding
 *
 * Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
 *
 * A reader is a cursor over bytes the caller owns; a writer is a byte buffer the
 * library owns and grows by doubling. Both decode and encode fixed-width integers,
 * IEEE 754 floats, byte blocks, length-prefixed strings and unsigned LEB128 in the
 * byte order chosen for the handle, so the same bytes give the same values on every
 * host. The reader also reads bit fields, peeks, and reads at absolute offsets.
 *
 * Example: write a few values, then read them back.
 *
 *     tavbin_writer *w = tavbinw_open(0, TAVBIN_BIG_ENDIAN);
 *     tavbinw_u32(w, 0xCAFEF00Du);
 *     tavbinw_leb128(w, 624485);
 *     tavbinw_string_u32(w, "hi", 2);
 *
 *     tavbin_reader *r = tavbin_open(tavbinw_data(w), tavbinw_len(w), TAVBIN_BIG_ENDIAN);
 *     uint32_t magic; uint64_t n, len; char name[16];
 *     if (tavbin_u32(r, &magic) == TAVBIN_OK &&
 *         tavbin_leb128(r, &n, 10) == TAVBIN_OK &&
 *         tavbin_string_u32(r, name, sizeof name, 15, &len) == TAVBIN_OK) {
 *         ... magic == 0xCAFEF00D, n == 624485, name is "hi", len == 2 ...
 *     }
 *     tavbin_close(r);        (before the writer: the reader borrows its bytes)
 *     tavbinw_close(w);
 *
 * ERROR MODEL (holds for every function below unless its own text says otherwise)
 *
 *  - Every function that can fail returns a tavbin_status; TAVBIN_OK (0) is success.
 *    Nothing is logged, printed, thrown or aborted.
 *  - Output arguments are written only on success. On failure they are not modified.
 *  - A NULL handle, a NULL destination for a value, or a NULL buffer with a non-zero
 *    length is refused with TAVBIN_INVALID_ARG before anything else is looked at.
 *    Such a refusal changes nothing and is NOT recorded in the handle.
 *  - Every other outcome of a handle operation, success included, is recorded: the
 *    handle's last status (tavbin_last_error, tavbinw_last_error) then tells it.
 *    The queries (tell, size, remaining, last_error, data, len), tavbin_bit_align
 *    and the close functions record nothing.
 *  - Queries on a NULL handle return 0, NULL, or TAVBIN_INVALID_ARG for last_error.
 *    The close functions accept NULL.
 *  - Reader cursor after a failure: a consuming read that fails with TAVBIN_EOF
 *    leaves the cursor where it was, except that a partly read byte left by
 *    tavbin_bits is skipped first (see "byte alignment" below) and stays skipped.
 *    Functions with other rules (tavbin_bits, tavbin_string_u32, tavbin_leb128,
 *    the peeks) say so.
 *  - Writer after a failure: TAVBIN_OOM leaves the writer exactly as it was (same
 *    bytes, same length) and fully usable.
 *  - Any byte order other than TAVBIN_BIG_ENDIAN and TAVBIN_LITTLE_ENDIAN is
 *    refused: the open functions return NULL, the others TAVBIN_INVALID_ARG.
 *
 * BYTE ALIGNMENT: tavbin_bits can stop inside a byte. Every consuming byte-level
 * read (tavbin_u8 ... tavbin_f64, tavbin_bytes, tavbin_ascii, tavbin_skip,
 * tavbin_string_u32, tavbin_leb128) first abandons such a partly read byte: the
 * bit position returns to 0 and the cursor moves to the next byte. tavbin_bits,
 * tavbin_seek, the absolute reads (_at) and the queries never do this.
 *
 * THREADS: the library has no global state. Separate handles may be used on
 * separate threads at once, even over the same input bytes; one handle must not be
 * used by two threads at once.
 */
#ifndef TAVBIN_H
#define TAVBIN_H

#include <stdint.h>

/* The version of this header, MAJOR.MINOR.PATCH. The major version changes only
 * when a change breaks programs built against an earlier one. The module carries
 * the same numbers: in its file name on Linux (libbinary-read-util.so.MAJOR) and
 * in the version resource of binary-read-util.dll, which a program that loads the
 * DLL by name can read with GetFileVersionInfo. The build takes its version from
 * here; change it here only. */
#define TAVBIN_VERSION_MAJOR 1
#define TAVBIN_VERSION_MINOR 0
#define TAVBIN_VERSION_PATCH 0
#define TAVBIN_VERSION_STRING                                                                                \
  TAVBIN_VERSION_TEXT_(TAVBIN_VERSION_MAJOR, TAVBIN_VERSION_MINOR, TAVBIN_VERSION_PATCH)
/* "1.0.0" from the three numbers, so that the string cannot disagree with them. */
#define TAVBIN_VERSION_TEXT_(major, minor, patch) TAVBIN_VERSION_QUOTE_(major, minor, patch)
#define TAVBIN_VERSION_QUOTE_(major, minor, patch) #major "." #minor "." #patch

/* TAVBIN_API marks the exported functions. Define it yourself to override.
 * (The formatter would flatten the nesting below.) */
/* clang-format off */
#ifndef TAVBIN_API
#  if defined(_WIN32) || defined(__CYGWIN__)
#    if defined(TAVBIN_BUILDING)
#      define TAVBIN_API __declspec(dllexport)
#    else
#      define TAVBIN_API __declspec(dllimport)
#    endif
#  elif defined(__GNUC__) || defined(__clang__)
#    define TAVBIN_API __attribute__((visibility("default")))
#  else
#    define TAVBIN_API
#  endif
#endif
/* clang-format on */

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------
 * Status codes, byte orders, handles
 * ------------------------------------------------------------------------- */

/* A status: one of the codes below. The values are fixed and will not change. */
typedef int32_t tavbin_status;

#define TAVBIN_OK 0          /* "ok": success */
#define TAVBIN_EOF 1         /* "eof": fewer bytes remain than the read needs */
#define TAVBIN_RANGE 2       /* "range": seek past the end, absolute read or store out of bounds */
#define TAVBIN_INVALID_ARG 3 /* "invalid_arg": NULL, bad byte order, bad bit count, bad LEB128 */
#define TAVBIN_TOO_LARGE 4   /* "too_large": a length over the caller's limit or buffer */
#define TAVBIN_OOM 5         /* "oom": the writer's buffer cannot grow */

/* A byte order. The values are fixed and will not change. */
typedef uint32_t tavbin_endian;

#define TAVBIN_BIG_ENDIAN 0u    /* most significant byte at the lowest address */
#define TAVBIN_LITTLE_ENDIAN 1u /* least significant byte at the lowest address */

/* Opaque handles: created by the open functions, destroyed by the close functions. */
typedef struct tavbin_reader tavbin_reader;
typedef struct tavbin_writer tavbin_writer;

/* ---------------------------------------------------------------------------
 * Status text and stateless loads and stores
 * ------------------------------------------------------------------------- */

/* Text of a status.
 *   status: any value.
 * Returns "ok", "eof", "range", "invalid_arg", "too_large" or "oom" for 0 to 5 and
 * "unknown" for anything else (negative values included). Never NULL; the text is
 * static: do not free it. */
TAVBIN_API const char *tavbin_strerror(tavbin_status status);

/* Load an unsigned value of 2, 4 or 8 bytes from memory in a given byte order.
 *   src:    first byte; any alignment. Only the first 2, 4 or 8 bytes are read.
 *   avail:  bytes the caller vouches for at src.
 *   endian: TAVBIN_BIG_ENDIAN or TAVBIN_LITTLE_ENDIAN.
 *   out:    receives the value.
 * Returns TAVBIN_OK, with *out set.
 *         TAVBIN_INVALID_ARG if src or out is NULL (checked first).
 *         TAVBIN_EOF if avail is below the width (checked before endian).
 *         TAVBIN_INVALID_ARG if endian is not a byte order.
 *         *out is not modified on failure. Records nothing (no handle). */
TAVBIN_API tavbin_status tavbin_load_u16(const void *src, uint64_t avail, tavbin_endian endian,
                                         uint16_t *out);
TAVBIN_API tavbin_status tavbin_load_u32(const void *src, uint64_t avail, tavbin_endian endian,
                                         uint32_t *out);
TAVBIN_API tavbin_status tavbin_load_u64(const void *src, uint64_t avail, tavbin_endian endian,
                                         uint64_t *out);

/* Store an unsigned value of 2, 4 or 8 bytes to memory in a given byte order.
 *   dst:    first byte; any alignment. Exactly 2, 4 or 8 bytes are written.
 *   cap:    writable bytes at dst.
 *   endian: TAVBIN_BIG_ENDIAN or TAVBIN_LITTLE_ENDIAN.
 *   value:  the value.
 * Returns TAVBIN_OK.
 *         TAVBIN_INVALID_ARG if dst is NULL (checked first).
 *         TAVBIN_RANGE if cap is below the width (checked before endian).
 *         TAVBIN_INVALID_ARG if endian is not a byte order.
 *         Nothing is written on failure. Records nothing (no handle). */
TAVBIN_API tavbin_status tavbin_store_u16(void *dst, uint64_t cap, tavbin_endian endian, uint16_t value);
TAVBIN_API tavbin_status tavbin_store_u32(void *dst, uint64_t cap, tavbin_endian endian, uint32_t value);
TAVBIN_API tavbin_status tavbin_store_u64(void *dst, uint64_t cap, tavbin_endian endian, uint64_t value);

/* ---------------------------------------------------------------------------
 * Reader: life, cursor, single bytes and bit fields
 * ------------------------------------------------------------------------- */

/* Open a reader over bytes the caller owns.
 *   data:   first byte; borrowed, never written or freed; must stay alive and
 *           unchanged until tavbin_close. May be NULL when size is 0.
 *   size:   number of readable bytes at data.
 *   endian: byte order of the multi-byte reads; tavbin_set_endian changes it.
 * Returns a new reader with its cursor at 0 and last status TAVBIN_OK, or NULL
 *         (nothing allocated) if data is NULL while size is non-zero, if endian is
 *         not a byte order, or if memory runs out. */
TAVBIN_API tavbin_reader *tavbin_open(const void *data, uint64_t size, tavbin_endian endian);

/* Destroy a reader. Accepts NULL. The caller's bytes are not freed. */
TAVBIN_API void tavbin_close(tavbin_reader *r);

/* Change the byte order of later reads. The cursor does not move.
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if r is NULL (not recorded).
 *         TAVBIN_INVALID_ARG if endian is not a byte order (recorded; order kept). */
TAVBIN_API tavbin_status tavbin_set_endian(tavbin_reader *r, tavbin_endian endian);

/* Move the cursor to an absolute byte offset and end any partly read byte.
 *   offset: 0 to tavbin_size(r); offset == size is allowed (at the end).
 * Returns TAVBIN_OK (recorded); the bit position is 0 afterwards.
 *         TAVBIN_INVALID_ARG if r is NULL (not recorded).
 *         TAVBIN_RANGE if offset > size (recorded; cursor unchanged). */
TAVBIN_API tavbin_status tavbin_seek(tavbin_reader *r, uint64_t offset);

/* Byte offset of the cursor; 0 for NULL. A partly read byte counts as not read. */
TAVBIN_API uint64_t tavbin_tell(const tavbin_reader *r);

/* Bytes from the cursor to the end (the bit position is ignored); 0 for NULL. */
TAVBIN_API uint64_t tavbin_remaining(const tavbin_reader *r);

/* Size of the data given to tavbin_open; 0 for NULL. */
TAVBIN_API uint64_t tavbin_size(const tavbin_reader *r);

/* Last recorded status; TAVBIN_INVALID_ARG for NULL. */
TAVBIN_API tavbin_status tavbin_last_error(const tavbin_reader *r);

/* Skip the rest of a partly read byte, if any (the byte alignment described at
 * the top). Does nothing when the reader is byte aligned or r is NULL. Records
 * nothing. */
TAVBIN_API void tavbin_bit_align(tavbin_reader *r);

/* Read one byte, as unsigned or as two's complement signed.
 * Returns TAVBIN_OK, *out set, cursor advanced by 1.
 *         TAVBIN_INVALID_ARG if r or out is NULL (not recorded, nothing changes).
 *         TAVBIN_EOF if no byte remains (recorded; cursor left after the byte
 *         alignment). */
TAVBIN_API tavbin_status tavbin_u8(tavbin_reader *r, uint8_t *out);
TAVBIN_API tavbin_status tavbin_i8(tavbin_reader *r, int8_t *out);

/* Read a bit field of count bits, most significant bit of each byte first, bytes in
 * address order; the first bit read is the most significant of the result, whose
 * bits above count are 0. Continues inside a partly read byte; ignores the byte
 * order; does not apply the byte alignment.
 *   count: 1 to 64.
 * Returns TAVBIN_OK, *out set, cursor advanced by count bits.
 *         TAVBIN_INVALID_ARG if r or out is NULL (not recorded).
 *         TAVBIN_INVALID_ARG if count is 0 or above 64 (recorded; cursor unchanged).
 *         TAVBIN_EOF if fewer than count bits remain (recorded). Every remaining
 *         bit is consumed: the cursor is at the end, bit position 0. */
TAVBIN_API tavbin_status tavbin_bits(tavbin_reader *r, uint32_t count, uint64_t *out);

/* ---------------------------------------------------------------------------
 * Reader: fixed-width values and blocks
 *
 * Each read applies the byte alignment, then tests the length, then decodes in the
 * reader's byte order and advances the cursor past what it read.
 * ------------------------------------------------------------------------- */

/* Read a 16-, 32- or 64-bit integer, or a binary32 or binary64 float (its bit
 * pattern is carried exactly: NaN payloads, signed zeros and subnormals included).
 * Returns TAVBIN_OK, *out set, cursor advanced by the width.
 *         TAVBIN_INVALID_ARG if r or out is NULL (not recorded, nothing changes).
 *         TAVBIN_EOF if fewer bytes remain than the width (recorded; *out not
 *         modified; cursor left after the byte alignment). */
TAVBIN_API tavbin_status tavbin_u16(tavbin_reader *r, uint16_t *out);
TAVBIN_API tavbin_status tavbin_i16(tavbin_reader *r, int16_t *out);
TAVBIN_API tavbin_status tavbin_u32(tavbin_reader *r, uint32_t *out);
TAVBIN_API tavbin_status tavbin_i32(tavbin_reader *r, int32_t *out);
TAVBIN_API tavbin_status tavbin_f32(tavbin_reader *r, float *out);
TAVBIN_API tavbin_status tavbin_u64(tavbin_reader *r, uint64_t *out);
TAVBIN_API tavbin_status tavbin_i64(tavbin_reader *r, int64_t *out);
TAVBIN_API tavbin_status tavbin_f64(tavbin_reader *r, double *out);

/* Copy n bytes to dst (tavbin_bytes), or n characters of a fixed-length field to
 * dst without adding a terminator (tavbin_ascii), or skip n bytes (tavbin_skip).
 *   dst: at least n writable bytes; may be NULL when n is 0.
 *   n:   any count; 0 succeeds anywhere, even at the end.
 * Returns TAVBIN_OK, n bytes copied, cursor advanced by n.
 *         TAVBIN_INVALID_ARG if r is NULL, or dst is NULL while n is non-zero (not
 *         recorded, nothing changes).
 *         TAVBIN_EOF if fewer than n bytes remain (recorded; cursor left after the
 *         byte alignment).
 *         On every failure no byte of dst is read or written, so a caller that
 *         knows the call must fail may pass a smaller dst than n. */
TAVBIN_API tavbin_status tavbin_bytes(tavbin_reader *r, void *dst, uint64_t n);
TAVBIN_API tavbin_status tavbin_ascii(tavbin_reader *r, char *dst, uint64_t n);
TAVBIN_API tavbin_status tavbin_skip(tavbin_reader *r, uint64_t n);

/* ---------------------------------------------------------------------------
 * Reader: peeks and absolute reads
 * ------------------------------------------------------------------------- */

/* Peek: deliver what tavbin_u8 ... tavbin_u64 would deliver now (after the byte
 * alignment, so the byte after a partly read one) without moving the cursor: the
 * byte and the bit position are both left as they were.
 * Returns TAVBIN_OK, *out set (recorded).
 *         TAVBIN_INVALID_ARG if r or out is NULL (not recorded).
 *         TAVBIN_EOF if the read would fail (recorded; cursor unchanged). */
TAVBIN_API tavbin_status tavbin_peek_u8(tavbin_reader *r, uint8_t *out);
TAVBIN_API tavbin_status tavbin_peek_u16(tavbin_reader *r, uint16_t *out);
TAVBIN_API tavbin_status tavbin_peek_u32(tavbin_reader *r, uint32_t *out);
TAVBIN_API tavbin_status tavbin_peek_u64(tavbin_reader *r, uint64_t *out);

/* Absolute read: the unsigned value at byte offset from the start of the data, in
 * the reader's byte order. The cursor and bit position are never touched.
 *   offset: any value; the value's bytes must lie inside the data.
 * Returns TAVBIN_OK, *out set (recorded).
 *         TAVBIN_INVALID_ARG if r or out is NULL (not recorded).
 *         TAVBIN_RANGE if the value does not lie wholly inside the data (recorded). */
TAVBIN_API tavbin_status tavbin_u8_at(tavbin_reader *r, uint64_t offset, uint8_t *out);
TAVBIN_API tavbin_status tavbin_u16_at(tavbin_reader *r, uint64_t offset, uint16_t *out);
TAVBIN_API tavbin_status tavbin_u32_at(tavbin_reader *r, uint64_t offset, uint32_t *out);
TAVBIN_API tavbin_status tavbin_u64_at(tavbin_reader *r, uint64_t offset, uint64_t *out);

/* ---------------------------------------------------------------------------
 * Reader: variable-length values
 * ------------------------------------------------------------------------- */

/* Read a string stored as a 32-bit byte count L (reader's byte order) followed by
 * L bytes, into dst with a terminating NUL. The bytes are copied unchanged; a NUL
 * among them is copied like any other byte.
 *   dst:     receives L bytes and a NUL at dst[L]; must not be NULL.
 *   dst_cap: size of dst; must be at least L + 1 (computed without overflow).
 *   max_len: the longest L accepted.
 *   out_len: receives L; may be NULL.
 * Returns TAVBIN_OK, cursor advanced by 4 + L.
 *         TAVBIN_INVALID_ARG if r or dst is NULL (not recorded).
 *         TAVBIN_EOF if the 4-byte count is missing (recorded).
 *         TAVBIN_TOO_LARGE if L > max_len or dst_cap < L + 1 (recorded); tested
 *         before whether L bytes remain.
 *         TAVBIN_EOF if fewer than L bytes follow the count (recorded).
 *         On every failure the cursor, bit position included, is exactly as it was
 *         before the call, and no byte of dst nor *out_len is read or written, so
 *         a caller that knows the call must fail may pass a dst smaller than
 *         dst_cap. */
TAVBIN_API tavbin_status tavbin_string_u32(tavbin_reader *r, char *dst, uint64_t dst_cap, uint64_t max_len,
                                           uint64_t *out_len);

/* Read an unsigned LEB128 number: 7-bit groups, least significant first, bit 7 set
 * on every byte but the last. Non-shortest forms are accepted, up to ten bytes; of
 * a tenth byte only the lowest bit counts.
 *   max_bytes: the most bytes to take; values above 10 act as 10.
 * Returns TAVBIN_OK, *out set, cursor after the last byte.
 *         TAVBIN_INVALID_ARG if r or out is NULL (not recorded).
 *         TAVBIN_INVALID_ARG if max_bytes is 0 (recorded; cursor unchanged).
 *         TAVBIN_EOF if the data ends before the number does, or max_bytes (below
 *         10) bytes all carry bit 7 (recorded).
 *         TAVBIN_INVALID_ARG if ten bytes all carry bit 7 (recorded).
 *         On these recorded failures the cursor is back where the number began
 *         (after the byte alignment, which stays applied). */
TAVBIN_API tavbin_status tavbin_leb128(tavbin_reader *r, uint64_t *out, uint64_t max_bytes);

/* ---------------------------------------------------------------------------
 * Writer: life, queries and raw appends
 *
 * The writer's buffer grows by doubling: its capacity is always the initial
 * capacity times a power of two, and one large append reaches the capacity it needs
 * in a single reallocation. An append that fits allocates nothing.
 * ------------------------------------------------------------------------- */

/* Open a writer.
 *   initial_cap: bytes to allocate at first, used as given; 0 means 64.
 *   endian:      byte order of the multi-byte writes; tavbinw_set_endian changes it.
 * Returns a new empty writer with last status TAVBIN_OK, or NULL (nothing
 *         allocated) if endian is not a byte order or memory runs out. */
TAVBIN_API tavbin_writer *tavbinw_open(uint64_t initial_cap, tavbin_endian endian);

/* Destroy a writer and its buffer. Accepts NULL. */
TAVBIN_API void tavbinw_close(tavbin_writer *w);

/* Change the byte order of later writes; bytes already written stay as they are.
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if w is NULL (not recorded).
 *         TAVBIN_INVALID_ARG if endian is not a byte order (recorded; order kept). */
TAVBIN_API tavbin_status tavbinw_set_endian(tavbin_writer *w, tavbin_endian endian);

/* The bytes written so far: tavbinw_len(w) of them are defined. The pointer stays
 * valid until the next append or tavbinw_close; do not free it. NULL for NULL. */
TAVBIN_API const uint8_t *tavbinw_data(const tavbin_writer *w);

/* Number of bytes written so far; 0 for NULL. */
TAVBIN_API uint64_t tavbinw_len(const tavbin_writer *w);

/* Last recorded status; TAVBIN_INVALID_ARG for NULL. */
TAVBIN_API tavbin_status tavbinw_last_error(const tavbin_writer *w);

/* Append n bytes from src. src may lie inside the writer's own written bytes (for
 * example tavbinw_data(w)): it is copied correctly even when the buffer moves.
 *   src: n readable bytes; may be NULL when n is 0.
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if w is NULL, or src is NULL while n is non-zero (not
 *         recorded).
 *         TAVBIN_OOM if the buffer cannot grow, or len + n exceeds 2^64 - 1
 *         (recorded; nothing appended, writer unchanged).
 *         TAVBIN_INVALID_ARG if src reaches into the writer's buffer beyond its
 *         written bytes, whose content is undefined (recorded; nothing appended).
 *         A size no buffer can have is TAVBIN_OOM, wherever src lies. */
TAVBIN_API tavbin_status tavbinw_bytes(tavbin_writer *w, const void *src, uint64_t n);

/* Append one byte. A signed byte is written as its unsigned bit pattern.
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if w is NULL (not recorded).
 *         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended). */
TAVBIN_API tavbin_status tavbinw_u8(tavbin_writer *w, uint8_t value);

/* ---------------------------------------------------------------------------
 * Writer: typed appends
 * ------------------------------------------------------------------------- */

/* Append a 16-, 32- or 64-bit integer or a binary32 or binary64 float (its bit
 * pattern, unchanged) in the writer's byte order.
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if w is NULL (not recorded).
 *         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended). */
TAVBIN_API tavbin_status tavbinw_u16(tavbin_writer *w, uint16_t value);
TAVBIN_API tavbin_status tavbinw_i16(tavbin_writer *w, int16_t value);
TAVBIN_API tavbin_status tavbinw_u32(tavbin_writer *w, uint32_t value);
TAVBIN_API tavbin_status tavbinw_i32(tavbin_writer *w, int32_t value);
TAVBIN_API tavbin_status tavbinw_f32(tavbin_writer *w, float value);
TAVBIN_API tavbin_status tavbinw_u64(tavbin_writer *w, uint64_t value);
TAVBIN_API tavbin_status tavbinw_i64(tavbin_writer *w, int64_t value);
TAVBIN_API tavbin_status tavbinw_f64(tavbin_writer *w, double value);

/* Append an unsigned LEB128 number in its shortest form (1 to 10 bytes).
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if w is NULL (not recorded).
 *         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended). */
TAVBIN_API tavbin_status tavbinw_leb128(tavbin_writer *w, uint64_t value);

/* Append a string as a 32-bit byte count (writer's byte order) followed by its n
 * bytes, unchanged and without a terminator. All or nothing.
 *   src: n readable bytes; may be NULL when n is 0; may lie inside the writer's
 *        written bytes, as for tavbinw_bytes.
 *   n:   at most 0xFFFFFFFF.
 * Returns TAVBIN_OK (recorded).
 *         TAVBIN_INVALID_ARG if w is NULL, or src is NULL while n is non-zero (not
 *         recorded).
 *         TAVBIN_TOO_LARGE if n > 0xFFFFFFFF (recorded; nothing appended).
 *         TAVBIN_INVALID_ARG if src reaches into the writer's buffer beyond its
 *         written bytes (recorded; nothing appended).
 *         TAVBIN_OOM if the buffer cannot grow (recorded; nothing appended). */
TAVBIN_API tavbin_status tavbinw_string_u32(tavbin_writer *w, const char *src, uint64_t n);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TAVBIN_H */
