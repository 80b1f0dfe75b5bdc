/* The compiled stream of tavbin.kaitai: KaitaiStream with every read, position
 * and substream in C, over a tavbin reader handle.
 *
 * Like _speedups, it does not link against binary-read-util: tavbin.kaitai calls
 * bind() with the addresses of the functions of the module ctypes loaded. The
 * stream holds a buffer export of the bytes it reads (the bytes behind a BytesIO,
 * a read-only mapping of a file, or its parent's bytes for a substream) and one
 * reader handle over them.
 *
 * Kaitai's model, kept exactly: bits of a bit field come from whole bytes that
 * have already been consumed (the handle is always on a byte boundary, and pos()
 * counts such a byte as read); the bits left over wait in `bits` until a byte
 * read, seek or align_to_byte drops them. A seek past the end succeeds; the
 * next read fails. A read that fails for want of bytes consumes what remained,
 * as a read of a BytesIO does.
 *
 * Every method converts its arguments before it touches the handle and calls C
 * with the GIL held, never running Python code in between, so threads sharing a
 * stream see each call whole.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stdint.h>
#include <string.h>
#include <structmember.h>

/* The declarations of the calls used here. Where tavbin.h is found (the build of
 * the source tree: setup.py points at include/) it comes first, and the compiler
 * refuses any declaration below that disagrees with it; a copy of the package
 * built alone has only these. */
#if defined(__has_include)
#if __has_include("tavbin.h")
#include "tavbin.h"
#define TAVBIN_HEADER_SEEN 1
#endif
#endif
#ifndef TAVBIN_HEADER_SEEN
typedef int32_t tavbin_status;
typedef uint32_t tavbin_endian;
typedef struct tavbin_reader tavbin_reader;
#define TAVBIN_OK 0
#define TAVBIN_BIG_ENDIAN 0u
#define TAVBIN_LITTLE_ENDIAN 1u
#endif
tavbin_reader *tavbin_open(const void *data, uint64_t size, tavbin_endian endian);
void tavbin_close(tavbin_reader *r);
tavbin_status tavbin_set_endian(tavbin_reader *r, tavbin_endian endian);
tavbin_status tavbin_seek(tavbin_reader *r, uint64_t offset);
uint64_t tavbin_tell(const tavbin_reader *r);
tavbin_status tavbin_u8(tavbin_reader *r, uint8_t *out);
tavbin_status tavbin_i8(tavbin_reader *r, int8_t *out);
tavbin_status tavbin_u16(tavbin_reader *r, uint16_t *out);
tavbin_status tavbin_i16(tavbin_reader *r, int16_t *out);
tavbin_status tavbin_u32(tavbin_reader *r, uint32_t *out);
tavbin_status tavbin_i32(tavbin_reader *r, int32_t *out);
tavbin_status tavbin_u64(tavbin_reader *r, uint64_t *out);
tavbin_status tavbin_i64(tavbin_reader *r, int64_t *out);
tavbin_status tavbin_f32(tavbin_reader *r, float *out);
tavbin_status tavbin_f64(tavbin_reader *r, double *out);
tavbin_status tavbin_bytes(tavbin_reader *r, void *dst, uint64_t n);
tavbin_status tavbin_skip(tavbin_reader *r, uint64_t n);

/* The calls, reached through the addresses bind() is given (this module does not
 * link against binary-read-util), typed as declared above. */
#define FN(name) __typeof__(&name) name
static struct functions {
  FN(tavbin_open);
  FN(tavbin_close);
  FN(tavbin_set_endian);
  FN(tavbin_seek);
  FN(tavbin_tell);
  FN(tavbin_u8);
  FN(tavbin_i8);
  FN(tavbin_u16);
  FN(tavbin_i16);
  FN(tavbin_u32);
  FN(tavbin_i32);
  FN(tavbin_u64);
  FN(tavbin_i64);
  FN(tavbin_f32);
  FN(tavbin_f64);
  FN(tavbin_bytes);
  FN(tavbin_skip);
} F;
#undef FN

static const struct {
  const char *name;
  size_t offset;
} NAMES[] = {
#define E(name)                                                                                              \
  { #name, offsetof(struct functions, name) }
    E(tavbin_open), E(tavbin_close), E(tavbin_set_endian), E(tavbin_seek),  E(tavbin_tell), E(tavbin_u8),
    E(tavbin_i8),   E(tavbin_u16),   E(tavbin_i16),        E(tavbin_u32),   E(tavbin_i32),  E(tavbin_u64),
    E(tavbin_i64),  E(tavbin_f32),   E(tavbin_f64),        E(tavbin_bytes), E(tavbin_skip),
#undef E
};

static int bound = 0;
/* From tavbin.kaitai: the exception classes, io.BytesIO, and the function that
 * opens any other stream: io -> (exporter, start, mapping or None). */
static PyObject *eos_error, *invalid_arg, *no_term, *bytesio_type, *open_other;
static PyObject *s_getvalue, *s_tell, *s_close; /* interned method names */

/* Reads that fail for want of bytes and needed more than this check first, so
 * that they consume nothing (as the reference does for large requests). */
#define LARGE_READ (8u * 1024u * 1024u)

typedef struct {
  PyObject_HEAD tavbin_reader *h; /* NULL once closed */
  Py_buffer view;                 /* the bytes read: view.obj is their exporter */
  const uint8_t *data;            /* view.buf + base */
  uint64_t size;                  /* bytes this stream reads */
  uint64_t past;                  /* position after a seek past the end; 0 otherwise */
  PyObject *io;                   /* what the stream was made from, closed with it */
  PyObject *mapping;              /* the mapping this stream made, closed with it */
  uint64_t bits;                  /* the bits left over from a bit read ... */
  int bits_left;                  /* ... and how many (0 to 7) */
  tavbin_endian endian;           /* the handle's byte order */
  PyObject *weakrefs;
} Stream;

static PyTypeObject *stream_type;

/* ------------------------------------------------------------------------ */

static PyObject *closed(void) {
  PyErr_SetString(PyExc_ValueError, "I/O operation on closed file.");
  return NULL;
}

static uint64_t position(const Stream *s) { return s->past ? s->past : F.tavbin_tell(s->h); }

/* EndOfStreamError for a read of n bytes that failed; what remained is consumed,
 * unless the request was large enough to be checked first. */
static PyObject *end_of_stream(Stream *s, uint64_t n) {
  uint64_t at = position(s);
  uint64_t avail = at < s->size ? s->size - at : 0;
  if (n < LARGE_READ && avail) F.tavbin_seek(s->h, s->size);
  PyObject *exc =
      PyObject_CallFunction(eos_error, "(NKK)",
                            PyUnicode_FromFormat("requested %llu bytes, but only %llu bytes available",
                                                 (unsigned long long)n, (unsigned long long)avail),
                            (unsigned long long)n, (unsigned long long)avail);
  if (exc == NULL) return NULL;
  PyErr_SetObject(eos_error, exc);
  Py_DECREF(exc);
  return NULL;
}

/* Ready for a byte read: open, the left-over bits dropped, the byte order set. */
static inline int ready(Stream *s, tavbin_endian endian) {
  if (s->h == NULL) {
    closed();
    return 0;
  }
  s->bits_left = 0;
  s->bits = 0;
  if (endian != s->endian) {
    F.tavbin_set_endian(s->h, endian);
    s->endian = endian;
  }
  return 1;
}

#define BE TAVBIN_BIG_ENDIAN
#define LE TAVBIN_LITTLE_ENDIAN

#define READ(method, call, ctype, order, width, box)                                                         \
  static PyObject *method(Stream *s, PyObject *unused) {                                                     \
    (void)unused;                                                                                            \
    if (!ready(s, order)) return NULL;                                                                       \
    ctype v;                                                                                                 \
    if (call(s->h, &v) != TAVBIN_OK) return end_of_stream(s, width);                                         \
    return box(v);                                                                                           \
  }

static PyObject *box_u(unsigned long long v) { return PyLong_FromUnsignedLongLong(v); }
static PyObject *box_s(long long v) { return PyLong_FromLongLong(v); }

READ(read_u1, F.tavbin_u8, uint8_t, BE, 1, PyLong_FromLong)
READ(read_s1, F.tavbin_i8, int8_t, BE, 1, PyLong_FromLong)
READ(read_u2be, F.tavbin_u16, uint16_t, BE, 2, PyLong_FromLong)
READ(read_u2le, F.tavbin_u16, uint16_t, LE, 2, PyLong_FromLong)
READ(read_s2be, F.tavbin_i16, int16_t, BE, 2, PyLong_FromLong)
READ(read_s2le, F.tavbin_i16, int16_t, LE, 2, PyLong_FromLong)
READ(read_u4be, F.tavbin_u32, uint32_t, BE, 4, box_u)
READ(read_u4le, F.tavbin_u32, uint32_t, LE, 4, box_u)
READ(read_s4be, F.tavbin_i32, int32_t, BE, 4, PyLong_FromLong)
READ(read_s4le, F.tavbin_i32, int32_t, LE, 4, PyLong_FromLong)
READ(read_u8be, F.tavbin_u64, uint64_t, BE, 8, box_u)
READ(read_u8le, F.tavbin_u64, uint64_t, LE, 8, box_u)
READ(read_s8be, F.tavbin_i64, int64_t, BE, 8, box_s)
READ(read_s8le, F.tavbin_i64, int64_t, LE, 8, box_s)
READ(read_f4be, F.tavbin_f32, float, BE, 4, PyFloat_FromDouble)
READ(read_f4le, F.tavbin_f32, float, LE, 4, PyFloat_FromDouble)
READ(read_f8be, F.tavbin_f64, double, BE, 8, PyFloat_FromDouble)
READ(read_f8le, F.tavbin_f64, double, LE, 8, PyFloat_FromDouble)

/* ------------------------------------------------------------------------ */
/* Bit fields */

static PyObject *align_to_byte(Stream *s, PyObject *unused) {
  (void)unused;
  s->bits_left = 0;
  s->bits = 0;
  Py_RETURN_NONE;
}

/* A bit count n from 0 to 64. */
static int bit_count(PyObject *arg, int *n) {
  long v = PyLong_AsLong(arg);
  if (v == -1 && PyErr_Occurred()) return 0;
  if (v < 0 || v > 64) {
    PyErr_Format(invalid_arg, "bit fields of %ld bits are not supported (0 to 64)", v);
    return 0;
  }
  *n = (int)v;
  return 1;
}

/* The k (1 to 8: a field is at most 64 bits) whole bytes a bit read takes next,
 * as one number in the given byte order. */
static int take(Stream *s, int k, int little, uint64_t *out) {
  uint8_t buf[8];
  if (F.tavbin_bytes(s->h, buf, (uint64_t)k) != TAVBIN_OK) {
    end_of_stream(s, (uint64_t)k);
    return 0;
  }
  uint64_t v = 0;
  for (int i = 0; i < k; i++)
    v = v << 8 | buf[little ? k - 1 - i : i];
  *out = v;
  return 1;
}

static PyObject *read_bits_int_be(Stream *s, PyObject *arg) {
  int n;
  if (!bit_count(arg, &n)) return NULL;
  if (s->h == NULL) return closed();
  int needed = n - s->bits_left;
  if (needed <= 0) {
    int left = -needed;
    uint64_t r = s->bits >> left;
    s->bits &= (UINT64_C(1) << left) - 1;
    s->bits_left = left;
    return PyLong_FromUnsignedLongLong(r);
  }
  /* The bits left over are the top of the result, the new bytes' first bits the
   * rest; the bits of the last byte not needed are left over. */
  int k = (needed + 7) / 8, left = k * 8 - needed;
  uint64_t b;
  if (!take(s, k, 0, &b)) return NULL;
  uint64_t r = b >> left;
  if (s->bits_left) r |= s->bits << needed; /* needed < 64 here */
  s->bits = b & ((UINT64_C(1) << left) - 1);
  s->bits_left = left;
  return PyLong_FromUnsignedLongLong(r);
}

static PyObject *read_bits_int_le(Stream *s, PyObject *arg) {
  int n;
  if (!bit_count(arg, &n)) return NULL;
  if (s->h == NULL) return closed();
  uint64_t mask = n == 64 ? UINT64_MAX : (UINT64_C(1) << n) - 1;
  int needed = n - s->bits_left;
  if (needed <= 0) {
    uint64_t r = s->bits & mask;
    s->bits = n == 64 ? 0 : s->bits >> n;
    s->bits_left -= n;
    return PyLong_FromUnsignedLongLong(r);
  }
  /* The bits left over are the bottom of the result, the new bytes' low bits the
   * rest; their high bits not needed are left over. */
  int k = (needed + 7) / 8;
  uint64_t b;
  if (!take(s, k, 1, &b)) return NULL;
  uint64_t r = ((b << s->bits_left) | s->bits) & mask;
  s->bits = needed == 64 ? 0 : b >> needed;
  s->bits_left = k * 8 - needed;
  return PyLong_FromUnsignedLongLong(r);
}

static PyObject *read_bits_int(Stream *s, PyObject *arg) {
  if (PyErr_WarnEx(PyExc_DeprecationWarning,
                   "read_bits_int() is deprecated since 0.9, use read_bits_int_be() instead", 1) < 0)
    return NULL;
  return read_bits_int_be(s, arg);
}

/* ------------------------------------------------------------------------ */
/* Byte arrays */

/* The next n bytes as bytes, the cursor moved past them. */
static PyObject *take_bytes(Stream *s, uint64_t n) {
  uint64_t at = position(s);
  if (n > (at < s->size ? s->size - at : 0)) return end_of_stream(s, n);
  if (n == 0) return PyBytes_FromStringAndSize(NULL, 0);
  PyObject *r = PyBytes_FromStringAndSize((const char *)s->data + at, (Py_ssize_t)n);
  if (r != NULL) F.tavbin_skip(s->h, n);
  return r;
}

static PyObject *read_count(Stream *s, PyObject *arg);

/* n: an int, or what converts to one as an index (a NumPy integer). */
static PyObject *read_bytes(Stream *s, PyObject *arg) {
  if (PyLong_Check(arg)) return read_count(s, arg);
  if (!PyIndex_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "'<' not supported between instances of '%.100s' and 'int'",
                 Py_TYPE(arg)->tp_name);
    return NULL;
  }
  PyObject *n = PyNumber_Index(arg);
  if (n == NULL) return NULL;
  PyObject *r = read_count(s, n);
  Py_DECREF(n);
  return r;
}

static PyObject *read_count(Stream *s, PyObject *arg) {
  int overflow;
  long long n = PyLong_AsLongLongAndOverflow(arg, &overflow);
  if (n == -1 && PyErr_Occurred()) return NULL;
  if (overflow < 0 || n < 0) {
    PyObject *text = PyObject_Str(arg);
    if (text == NULL) return NULL;
    PyErr_Format(invalid_arg, "requested invalid %U amount of bytes", text);
    Py_DECREF(text);
    return NULL;
  }
  if (!ready(s, s->endian)) return NULL;
  if (overflow > 0) { /* more than any stream holds */
    uint64_t at = position(s), avail = at < s->size ? s->size - at : 0;
    PyObject *exc =
        PyObject_CallFunction(eos_error, "(NOK)",
                              PyUnicode_FromFormat("requested %S bytes, but only %llu bytes available", arg,
                                                   (unsigned long long)avail),
                              arg, (unsigned long long)avail);
    if (exc != NULL) {
      PyErr_SetObject(eos_error, exc);
      Py_DECREF(exc);
    }
    return NULL;
  }
  return take_bytes(s, (uint64_t)n);
}

static PyObject *read_bytes_full(Stream *s, PyObject *unused) {
  (void)unused;
  if (!ready(s, s->endian)) return NULL;
  uint64_t at = position(s);
  if (at >= s->size) return PyBytes_FromStringAndSize(NULL, 0);
  return take_bytes(s, s->size - at);
}

/* A terminator byte: an int 0 to 255. */
static int term_byte(PyObject *arg, int *out) {
  long v = PyLong_AsLong(arg);
  if (v == -1 && PyErr_Occurred()) return 0;
  if (v < 0 || v > 255) {
    PyErr_SetString(PyExc_ValueError, "bytes must be in range(0, 256)");
    return 0;
  }
  *out = (int)v;
  return 1;
}

static PyObject *no_terminator(Stream *s, PyObject *term, uint64_t avail) {
  F.tavbin_seek(s->h, s->size);
  s->past = 0;
  PyObject *exc = PyObject_CallFunction(no_term, "(OK)", term, (unsigned long long)avail);
  if (exc != NULL) {
    PyErr_SetObject(no_term, exc);
    Py_DECREF(exc);
  }
  return NULL;
}

/* The bytes from the cursor to end (the terminator at end of width unit, or the
 * end of the data when found is 0), the cursor placed as consume says. */
static PyObject *up_to(Stream *s, uint64_t at, uint64_t end, uint64_t unit, int include, int consume) {
  uint64_t stop = end + (include ? unit : 0), next = end + (consume ? unit : 0);
  PyObject *r = PyBytes_FromStringAndSize((const char *)s->data + at, (Py_ssize_t)(stop - at));
  if (r != NULL) F.tavbin_seek(s->h, next);
  return r;
}

static PyObject *read_bytes_term(Stream *s, PyObject *const *args, Py_ssize_t nargs) {
  int term;
  if (nargs != 4) {
    PyErr_Format(PyExc_TypeError, "read_bytes_term() takes 4 arguments (%zd given)", nargs);
    return NULL;
  }
  if (!term_byte(args[0], &term)) return NULL;
  int include = PyObject_IsTrue(args[1]), consume = PyObject_IsTrue(args[2]), eos = PyObject_IsTrue(args[3]);
  if (include < 0 || consume < 0 || eos < 0) return NULL;
  if (!ready(s, s->endian)) return NULL;
  uint64_t at = position(s);
  if (at > s->size) at = s->size;
  const uint8_t *hit = at < s->size ? memchr(s->data + at, term, (size_t)(s->size - at)) : NULL;
  if (hit != NULL) return up_to(s, at, (uint64_t)(hit - s->data), 1, include, consume);
  if (eos) {
    uint8_t t = (uint8_t)term;
    PyObject *tb = PyBytes_FromStringAndSize((const char *)&t, 1);
    if (tb == NULL) return NULL;
    no_terminator(s, tb, 0);
    Py_DECREF(tb);
    return NULL;
  }
  s->past = 0;
  return up_to(s, at, s->size, 0, 0, 0);
}

static PyObject *read_bytes_term_multi(Stream *s, PyObject *const *args, Py_ssize_t nargs) {
  if (nargs != 4) {
    PyErr_Format(PyExc_TypeError, "read_bytes_term_multi() takes 4 arguments (%zd given)", nargs);
    return NULL;
  }
  Py_buffer term;
  if (PyObject_GetBuffer(args[0], &term, PyBUF_SIMPLE) < 0) return NULL;
  int include = PyObject_IsTrue(args[1]), consume = PyObject_IsTrue(args[2]), eos = PyObject_IsTrue(args[3]);
  PyObject *r = NULL;
  if (include < 0 || consume < 0 || eos < 0 || !ready(s, s->endian)) goto done;
  uint64_t unit = (uint64_t)term.len;
  uint64_t at = position(s);
  if (at > s->size) at = s->size;
  uint64_t p = at;
  for (; unit && s->size - p >= unit; p += unit)
    if (memcmp(s->data + p, term.buf, (size_t)unit) == 0) break;
  if (unit == 0 || s->size - p >= unit) {
    r = up_to(s, at, p, unit, include, consume);
  } else if (eos) {
    no_terminator(s, args[0], s->size - p);
  } else {
    s->past = 0;
    r = up_to(s, at, s->size, 0, 0, 0);
  }
done:
  PyBuffer_Release(&term);
  return r;
}

static PyObject *ensure_fixed_contents(Stream *s, PyObject *expected) {
  if (PyErr_WarnEx(PyExc_DeprecationWarning,
                   "ensure_fixed_contents() is deprecated since 0.9, explicitly raise "
                   "ValidationNotEqualError from an if statement instead",
                   1) < 0)
    return NULL;
  Py_buffer want;
  if (PyObject_GetBuffer(expected, &want, PyBUF_SIMPLE) < 0) return NULL;
  PyObject *r = NULL;
  if (s->h == NULL) {
    closed();
    goto done;
  }
  uint64_t at = position(s), avail = at < s->size ? s->size - at : 0;
  uint64_t n = (uint64_t)want.len < avail ? (uint64_t)want.len : avail;
  r = PyBytes_FromStringAndSize((const char *)s->data + (at < s->size ? at : 0), (Py_ssize_t)n);
  if (r == NULL) goto done;
  F.tavbin_skip(s->h, n);
  if (n != (uint64_t)want.len || memcmp(PyBytes_AS_STRING(r), want.buf, (size_t)n) != 0) {
    PyErr_Format(PyExc_Exception, "unexpected fixed contents: got %R, was waiting for %R", r, expected);
    Py_CLEAR(r);
  }
done:
  PyBuffer_Release(&want);
  return r;
}

/* ------------------------------------------------------------------------ */
/* Positions */

static PyObject *pos(Stream *s, PyObject *unused) {
  (void)unused;
  if (s->h == NULL) return closed();
  return PyLong_FromUnsignedLongLong(position(s));
}

static PyObject *size(Stream *s, PyObject *unused) {
  (void)unused;
  if (s->h == NULL) return closed();
  return PyLong_FromUnsignedLongLong(s->size);
}

static PyObject *is_eof(Stream *s, PyObject *unused) {
  (void)unused;
  if (s->h == NULL) return closed();
  if (s->bits_left > 0) Py_RETURN_FALSE;
  return PyBool_FromLong(position(s) >= s->size);
}

static PyObject *seek(Stream *s, PyObject *arg) {
  int overflow;
  long long n = PyLong_AsLongLongAndOverflow(arg, &overflow);
  if (n == -1 && PyErr_Occurred()) return NULL;
  if (overflow < 0 || n < 0) {
    PyObject *text = PyObject_Str(arg);
    if (text == NULL) return NULL;
    PyErr_Format(invalid_arg, "cannot seek to invalid position %U", text);
    Py_DECREF(text);
    return NULL;
  }
  if (overflow > 0) {
    PyErr_SetString(PyExc_OverflowError, "seek position too large");
    return NULL;
  }
  if (!ready(s, s->endian)) return NULL;
  if ((uint64_t)n <= s->size) {
    F.tavbin_seek(s->h, (uint64_t)n);
    s->past = 0;
  } else {
    F.tavbin_seek(s->h, s->size);
    s->past = (uint64_t)n;
  }
  Py_RETURN_NONE;
}

/* ------------------------------------------------------------------------ */
/* Life */

/* Open over the exporter's bytes from base, size of them, the cursor at start. */
static int attach(Stream *s, PyObject *exporter, uint64_t base, uint64_t size, uint64_t start) {
  if (PyObject_GetBuffer(exporter, &s->view, PyBUF_SIMPLE) < 0) return 0;
  if (size == UINT64_MAX) size = (uint64_t)s->view.len - base;
  s->data = (const uint8_t *)s->view.buf + base;
  s->size = size;
  s->h = F.tavbin_open(s->data, size, TAVBIN_BIG_ENDIAN);
  if (s->h == NULL) {
    PyBuffer_Release(&s->view);
    PyErr_NoMemory();
    return 0;
  }
  s->endian = TAVBIN_BIG_ENDIAN;
  if (start <= size) {
    if (start) F.tavbin_seek(s->h, start);
  } else {
    F.tavbin_seek(s->h, size);
    s->past = start;
  }
  return 1;
}

/* Forget everything; the io and the mapping are returned for the caller to close
 * (closing may run Python code, which must find this stream already closed). */
static void detach(Stream *s, PyObject **io, PyObject **mapping) {
  tavbin_reader *h = s->h;
  s->h = NULL;
  s->bits = 0;
  s->bits_left = 0;
  s->past = 0;
  s->size = 0;
  s->data = NULL;
  if (h != NULL) {
    F.tavbin_close(h);
    PyBuffer_Release(&s->view);
  }
  *io = s->io;
  *mapping = s->mapping;
  s->io = NULL;
  s->mapping = NULL;
}

static PyObject *stream_close(Stream *s, PyObject *unused) {
  (void)unused;
  PyObject *io, *mapping;
  detach(s, &io, &mapping);
  if (mapping != NULL) {
    PyObject *r = PyObject_CallMethodNoArgs(mapping, s_close);
    Py_XDECREF(r);
    /* A substream still reading the mapping keeps it: it goes with the last of them. */
    if (r == NULL && PyErr_ExceptionMatches(PyExc_BufferError)) PyErr_Clear();
    Py_DECREF(mapping);
    if (PyErr_Occurred()) {
      Py_XDECREF(io);
      return NULL;
    }
  }
  if (io != NULL) {
    PyObject *r = PyObject_CallMethodNoArgs(io, s_close);
    Py_DECREF(io);
    if (r == NULL) return NULL;
    Py_DECREF(r);
  }
  Py_RETURN_NONE;
}

/* Make s a stream over io (a BytesIO, an open binary file, any seekable binary
 * stream): the bytes behind a BytesIO are taken as they are, a file is mapped. */
static int stream_open(Stream *s, PyObject *io) {
  if (!bound) {
    PyErr_SetString(PyExc_RuntimeError, "tavbin._kaitai is used through tavbin.kaitai");
    return -1;
  }
  PyObject *exporter = NULL, *mapping = NULL;
  unsigned long long start;
  if (PyObject_TypeCheck(io, (PyTypeObject *)bytesio_type)) {
    /* An unmodified BytesIO hands back the very bytes it was made from. */
    exporter = PyObject_CallMethodNoArgs(io, s_getvalue);
    PyObject *at = exporter ? PyObject_CallMethodNoArgs(io, s_tell) : NULL;
    if (at == NULL) {
      Py_XDECREF(exporter);
      return -1;
    }
    start = PyLong_AsUnsignedLongLong(at);
    Py_DECREF(at);
  } else {
    PyObject *r = PyObject_CallOneArg(open_other, io);
    if (r == NULL) return -1;
    if (!PyArg_ParseTuple(r, "OKO", &exporter, &start, &mapping)) {
      Py_DECREF(r);
      return -1;
    }
    Py_INCREF(exporter);
    Py_INCREF(mapping);
    Py_DECREF(r);
    if (mapping == Py_None) Py_CLEAR(mapping);
  }
  if (PyErr_Occurred()) {
    Py_DECREF(exporter);
    Py_XDECREF(mapping);
    return -1;
  }
  PyObject *old_io, *old_mapping;
  detach(s, &old_io, &old_mapping); /* __init__ called again: the new stream replaces the old */
  int ok = attach(s, exporter, 0, UINT64_MAX, start);
  Py_DECREF(exporter);
  if (ok) {
    Py_INCREF(io);
    s->io = io;
    s->mapping = mapping;
  } else {
    Py_XDECREF(mapping);
  }
  Py_XDECREF(old_io);
  Py_XDECREF(old_mapping);
  return ok ? 0 : -1;
}

static int stream_init(Stream *s, PyObject *args, PyObject *kwds) {
  PyObject *io;
  static char *kwlist[] = {"io", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:KaitaiStream", kwlist, &io)) return -1;
  return stream_open(s, io);
}

/* KaitaiStream(io) itself, without the argument tuple of tp_new and tp_init:
 * generated code makes one for every sized field. Subclasses take the usual way
 * (a type's vectorcall is not inherited). */
static PyObject *stream_vectorcall(PyObject *type, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs != 1 || (kwnames != NULL && PyTuple_GET_SIZE(kwnames))) {
    PyObject *tuple = PyTuple_New(nargs);
    if (tuple == NULL) return NULL;
    for (Py_ssize_t i = 0; i < nargs; i++) {
      Py_INCREF(args[i]);
      PyTuple_SET_ITEM(tuple, i, args[i]);
    }
    PyObject *kwds = NULL;
    if (kwnames != NULL && PyTuple_GET_SIZE(kwnames)) {
      kwds = PyDict_New();
      for (Py_ssize_t i = 0; kwds != NULL && i < PyTuple_GET_SIZE(kwnames); i++)
        if (PyDict_SetItem(kwds, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) Py_CLEAR(kwds);
      if (kwds == NULL) {
        Py_DECREF(tuple);
        return NULL;
      }
    }
    PyObject *r = PyType_Type.tp_call(type, tuple, kwds);
    Py_DECREF(tuple);
    Py_XDECREF(kwds);
    return r;
  }
  Stream *s = (Stream *)((PyTypeObject *)type)->tp_alloc((PyTypeObject *)type, 0);
  if (s == NULL) return NULL;
  if (stream_open(s, args[0]) < 0) {
    Py_DECREF(s);
    return NULL;
  }
  return (PyObject *)s;
}

static PyObject *substream(Stream *s, PyObject *arg) {
  long long n = PyLong_AsLongLong(arg);
  if (n == -1 && PyErr_Occurred()) return NULL;
  if (n < 0) {
    PyErr_Format(invalid_arg, "requested invalid %lld amount of bytes", n);
    return NULL;
  }
  if (!ready(s, s->endian)) return NULL;
  uint64_t at = position(s);
  if (s->past || (uint64_t)n > s->size - at) return end_of_stream(s, (uint64_t)n);
  Stream *c = (Stream *)stream_type->tp_alloc(stream_type, 0);
  if (c == NULL) return NULL;
  uint64_t base = (uint64_t)(s->data - (const uint8_t *)s->view.buf) + at;
  if (!attach(c, s->view.obj, base, (uint64_t)n, 0)) {
    Py_DECREF(c);
    return NULL;
  }
  F.tavbin_skip(s->h, (uint64_t)n);
  return (PyObject *)c;
}

static PyObject *stream_enter(PyObject *s, PyObject *unused) {
  (void)unused;
  Py_INCREF(s);
  return s;
}

static PyObject *stream_exit(Stream *s, PyObject *args) {
  (void)args;
  return stream_close(s, NULL);
}

static void stream_dealloc(Stream *s) {
  PyTypeObject *type = Py_TYPE(s);
  if (s->weakrefs != NULL) PyObject_ClearWeakRefs((PyObject *)s);
  PyObject *io, *mapping;
  detach(s, &io, &mapping);
  Py_XDECREF(io);
  Py_XDECREF(mapping);
  type->tp_free((PyObject *)s);
  Py_DECREF(type);
}

static PyObject *get_io(Stream *s, void *closure) {
  (void)closure;
  if (s->io == NULL) Py_RETURN_NONE;
  Py_INCREF(s->io);
  return s->io;
}

static PyObject *get_bits_left(Stream *s, void *closure) {
  (void)closure;
  return PyLong_FromLong(s->bits_left);
}

static PyObject *get_bits(Stream *s, void *closure) {
  (void)closure;
  return PyLong_FromUnsignedLongLong(s->bits);
}

static PyGetSetDef stream_getset[] = {
    {"_io", (getter)get_io, NULL, "what the stream was made from (None for a substream)", NULL},
    {"bits_left", (getter)get_bits_left, NULL, "how many bits of a bit read wait to be read (0 to 7)", NULL},
    {"bits", (getter)get_bits, NULL, "those bits", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

#define NOARGS(name, doc)                                                                                    \
  { #name, (PyCFunction)name, METH_NOARGS, doc }
#define ONEARG(name, doc)                                                                                    \
  { #name, (PyCFunction)name, METH_O, doc }
static PyMethodDef stream_methods[] = {
    NOARGS(read_u1, "read_u1($self, /)\n--\n\nAn unsigned byte."),
    NOARGS(read_s1, "read_s1($self, /)\n--\n\nA signed byte."),
    NOARGS(read_u2be, "read_u2be($self, /)\n--\n\n"),
    NOARGS(read_u2le, "read_u2le($self, /)\n--\n\n"),
    NOARGS(read_s2be, "read_s2be($self, /)\n--\n\n"),
    NOARGS(read_s2le, "read_s2le($self, /)\n--\n\n"),
    NOARGS(read_u4be, "read_u4be($self, /)\n--\n\n"),
    NOARGS(read_u4le, "read_u4le($self, /)\n--\n\n"),
    NOARGS(read_s4be, "read_s4be($self, /)\n--\n\n"),
    NOARGS(read_s4le, "read_s4le($self, /)\n--\n\n"),
    NOARGS(read_u8be, "read_u8be($self, /)\n--\n\n"),
    NOARGS(read_u8le, "read_u8le($self, /)\n--\n\n"),
    NOARGS(read_s8be, "read_s8be($self, /)\n--\n\n"),
    NOARGS(read_s8le, "read_s8le($self, /)\n--\n\n"),
    NOARGS(read_f4be, "read_f4be($self, /)\n--\n\n"),
    NOARGS(read_f4le, "read_f4le($self, /)\n--\n\n"),
    NOARGS(read_f8be, "read_f8be($self, /)\n--\n\n"),
    NOARGS(read_f8le, "read_f8le($self, /)\n--\n\n"),
    NOARGS(align_to_byte, "align_to_byte($self, /)\n--\n\nDrop the bits left over from a bit read."),
    ONEARG(read_bits_int_be, "read_bits_int_be($self, n, /)\n--\n\nn bits, most significant first."),
    ONEARG(read_bits_int_le, "read_bits_int_le($self, n, /)\n--\n\nn bits, least significant first."),
    ONEARG(read_bits_int, "read_bits_int($self, n, /)\n--\n\nDeprecated: read_bits_int_be."),
    ONEARG(read_bytes, "read_bytes($self, n, /)\n--\n\nThe next n bytes."),
    NOARGS(read_bytes_full, "read_bytes_full($self, /)\n--\n\nThe bytes up to the end."),
    {"read_bytes_term", (PyCFunction)(void (*)(void))read_bytes_term, METH_FASTCALL,
     "read_bytes_term($self, term, include_term, consume_term, eos_error, /)\n--\n\n"
     "The bytes up to the byte term."},
    {"read_bytes_term_multi", (PyCFunction)(void (*)(void))read_bytes_term_multi, METH_FASTCALL,
     "read_bytes_term_multi($self, term, include_term, consume_term, eos_error, /)\n--\n\n"
     "The bytes up to the unit term, in units of its length."},
    ONEARG(ensure_fixed_contents, "ensure_fixed_contents($self, expected, /)\n--\n\nDeprecated."),
    NOARGS(pos, "pos($self, /)\n--\n\nThe position."),
    NOARGS(size, "size($self, /)\n--\n\nThe size in bytes."),
    NOARGS(is_eof, "is_eof($self, /)\n--\n\nTrue at the end, with no bits left over."),
    ONEARG(seek, "seek($self, n, /)\n--\n\nMove to byte n (past the end too)."),
    ONEARG(substream, "substream($self, n, /)\n--\n\nA stream over the next n bytes, which it skips."),
    {"close", (PyCFunction)stream_close, METH_NOARGS, "close($self, /)\n--\n\nClose the stream and its io."},
    {"__enter__", stream_enter, METH_NOARGS, NULL},
    {"__exit__", (PyCFunction)stream_exit, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyMemberDef stream_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Stream, weakrefs), READONLY, NULL},
    {NULL, 0, 0, 0, NULL},
};

static PyType_Slot stream_slots[] = {
    {Py_tp_doc, "KaitaiStream(io): a Kaitai Struct stream over a BytesIO or an open binary file."},
    {Py_tp_init, stream_init},
    {Py_tp_dealloc, stream_dealloc},
    {Py_tp_methods, stream_methods},
    {Py_tp_getset, stream_getset},
    {Py_tp_members, stream_members},
    {0, NULL},
};

static PyType_Spec stream_spec = {"tavbin.kaitai.KaitaiStream", sizeof(Stream), 0,
                                  /* Not collected: what a stream refers to (a BytesIO,
                                   * a file, a mapping) cannot refer back to it. */
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, stream_slots};

/* ------------------------------------------------------------------------ */

static PyObject *bind(PyObject *module, PyObject *args) {
  (void)module;
  PyObject *addresses, *eos, *inv, *nt, *bio, *other;
  if (!PyArg_ParseTuple(args, "O!OOOOO:bind", &PyDict_Type, &addresses, &eos, &inv, &nt, &bio, &other))
    return NULL;
  if (bound) {
    PyErr_SetString(PyExc_RuntimeError, "bind() was already called");
    return NULL;
  }
  if (!PyType_Check(bio)) {
    PyErr_SetString(PyExc_TypeError, "bind(): BytesIO must be a type");
    return NULL;
  }
  for (size_t i = 0; i < sizeof NAMES / sizeof NAMES[0]; i++) {
    PyObject *a = PyDict_GetItemString(addresses, NAMES[i].name);
    void *p = a ? PyLong_AsVoidPtr(a) : NULL;
    if (p == NULL) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_KeyError, "no address for %s", NAMES[i].name);
      return NULL;
    }
    memcpy((char *)&F + NAMES[i].offset, &p, sizeof p);
  }
  Py_INCREF(eos);
  Py_INCREF(inv);
  Py_INCREF(nt);
  Py_INCREF(bio);
  Py_INCREF(other);
  eos_error = eos;
  invalid_arg = inv;
  no_term = nt;
  bytesio_type = bio;
  open_other = other;
  bound = 1;
  Py_RETURN_NONE;
}

static PyMethodDef module_methods[] = {
    {"bind", bind, METH_VARARGS,
     "Hand the module the addresses of the C functions and the classes it raises."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "tavbin._kaitai", NULL, -1, module_methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__kaitai(void) {
  PyObject *m = PyModule_Create(&module_def);
  if (m == NULL) return NULL;
  PyObject *t = PyType_FromSpec(&stream_spec);
  if (t == NULL || PyModule_AddObject(m, "KaitaiStream", t) < 0) {
    Py_XDECREF(t);
    Py_DECREF(m);
    return NULL;
  }
  Py_INCREF(t);
  stream_type = (PyTypeObject *)t;
  stream_type->tp_vectorcall = stream_vectorcall;
  s_getvalue = PyUnicode_InternFromString("getvalue");
  s_tell = PyUnicode_InternFromString("tell");
  s_close = PyUnicode_InternFromString("close");
  if (s_getvalue == NULL || s_tell == NULL || s_close == NULL) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
