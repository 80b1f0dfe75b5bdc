/* Whole records in the language of the struct module, for Reader.unpack,
 * Reader.unpack_many and Writer.pack. Included by _speedups.c.
 *
 * A format is compiled once into a rec_format (a list of fields with their
 * offsets) and kept in a cache keyed by the format object, as struct keeps its
 * Struct objects. The letters are struct's with their counts
 * (x c b B ? h H i I l L q Q e f d s p), standard sizes, no alignment. A prefix
 * <, > or ! fixes the byte order; without one the caller's order holds. The
 * characters that only mean something on the host (@ = n N P) raise ValueError
 * wherever they stand; any other fault is handed to struct itself, so the
 * exception and its message are struct's.
 *
 * rec_decode turns size bytes into the tuple struct.unpack_from gives for them.
 * rec_encode writes what struct.pack writes: exact ints, floats, bytes and
 * bools are converted here; any other value, or one out of range, goes to
 * struct.pack itself (with the compiled format written out again), which either
 * refuses it with its own exception or gives the bytes. Nothing of a refused
 * record reaches the caller's handle: the caller appends the whole buffer or
 * nothing.
 *
 * struct mishandles a zero-length 'p' field (its unpack raises SystemError, its
 * pack writes 0xFF into the following byte); here it is an empty field, as
 * '0s' is: it reads b'' and writes nothing.
 */
#include <Python.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#if PY_VERSION_HEX < 0x030B0000
#define PyFloat_Pack2 _PyFloat_Pack2
#define PyFloat_Pack4 _PyFloat_Pack4
#define PyFloat_Pack8 _PyFloat_Pack8
#define PyFloat_Unpack2 _PyFloat_Unpack2
#define PyFloat_Unpack4 _PyFloat_Unpack4
#define PyFloat_Unpack8 _PyFloat_Unpack8
#endif

struct rec_field {
  char letter;
  unsigned char width; /* bytes per value; 1 for s, p and x */
  Py_ssize_t count;    /* values, or the length of an s or p field */
  Py_ssize_t offset;   /* of the first byte */
};

struct rec_format {
  Py_ssize_t size;      /* bytes of a record */
  Py_ssize_t nitems;    /* values in its tuple */
  int order;            /* 0 big, 1 little (as BIG and LITTLE), -1 the caller's */
  PyObject *written[2]; /* the format for struct.pack: [0] big, [1] little (bytes) */
  Py_ssize_t nfields;
  struct rec_field fields[1];
};

static PyObject *rec_cache; /* format object -> capsule */
/* The last format compiled or found, and its capsule: a record read in a loop
 * names the same constant each time. */
static PyObject *rec_last_fmt, *rec_last;
static const struct rec_format *rec_last_f;
static PyObject *rec_struct_error, *rec_struct_calcsize, *rec_struct_pack;
enum { REC_CACHE_MAX = 100 };
static const char REC_CAPSULE[] = "tavbin.record";

/* struct's error, calcsize and pack, the first time a format is compiled. */
static int rec_init(void) {
  if (rec_cache != NULL) return 0;
  PyObject *m = PyImport_ImportModule("struct");
  if (m == NULL) return -1;
  rec_struct_error = PyObject_GetAttrString(m, "error");
  rec_struct_calcsize = PyObject_GetAttrString(m, "calcsize");
  rec_struct_pack = PyObject_GetAttrString(m, "pack");
  Py_DECREF(m);
  if (rec_struct_error == NULL || rec_struct_calcsize == NULL || rec_struct_pack == NULL) {
    Py_CLEAR(rec_struct_error);
    Py_CLEAR(rec_struct_calcsize);
    Py_CLEAR(rec_struct_pack);
    return -1;
  }
  rec_cache = PyDict_New();
  return rec_cache == NULL ? -1 : 0;
}

static void rec_free(PyObject *capsule) {
  struct rec_format *f = PyCapsule_GetPointer(capsule, REC_CAPSULE);
  if (f == NULL) return;
  Py_XDECREF(f->written[0]);
  Py_XDECREF(f->written[1]);
  PyMem_Free(f);
}

static int rec_width(char c) {
  switch (c) {
  case 'x':
  case 'c':
  case 'b':
  case 'B':
  case '?':
  case 's':
  case 'p':
    return 1;
  case 'h':
  case 'H':
  case 'e':
    return 2;
  case 'i':
  case 'I':
  case 'l':
  case 'L':
  case 'f':
    return 4;
  case 'q':
  case 'Q':
  case 'd':
    return 8;
  default:
    return 0;
  }
}

/* A format this engine does not take: struct says why (in standard sizes, as
 * compiled here), or, should it take it after all, a generic struct.error. */
static PyObject *rec_refuse(PyObject *fmt, int prefixed) {
  PyObject *arg;
  if (prefixed || !(PyUnicode_Check(fmt) || PyBytes_Check(fmt))) {
    arg = fmt;
    Py_INCREF(arg);
  } else {
    PyObject *lt = PyUnicode_Check(fmt) ? PyUnicode_FromString("<") : PyBytes_FromString("<");
    arg = lt ? PyNumber_Add(lt, fmt) : NULL;
    Py_XDECREF(lt);
    if (arg == NULL) return NULL;
  }
  PyObject *r = PyObject_CallOneArg(rec_struct_calcsize, arg);
  Py_DECREF(arg);
  if (r != NULL) {
    Py_DECREF(r);
    PyErr_SetString(rec_struct_error, "bad char in struct format");
  }
  return NULL;
}

/* The format as struct.pack should read it: the fields one by one, with an
 * explicit order, and a zero-length p field written as 0s. */
static PyObject *rec_written(const struct rec_format *f, char order) {
  char *text = PyMem_Malloc((size_t)f->nfields * 21 + 2);
  if (text == NULL) return PyErr_NoMemory();
  char *t = text;
  *t++ = order;
  for (Py_ssize_t i = 0; i < f->nfields; i++) {
    const struct rec_field *e = &f->fields[i];
    char letter = e->letter == 'p' && e->count == 0 ? 's' : e->letter;
    t += sprintf(t, "%zd%c", e->count, letter);
  }
  PyObject *out = PyBytes_FromStringAndSize(text, t - text);
  PyMem_Free(text);
  return out;
}

static PyObject *rec_build(PyObject *fmt) {
  const char *s;
  Py_ssize_t n;
  if (PyUnicode_Check(fmt)) {
    s = PyUnicode_AsUTF8AndSize(fmt, &n);
    if (s == NULL) {
      PyErr_Clear();
      return rec_refuse(fmt, 0);
    }
  } else if (PyBytes_Check(fmt)) {
    s = PyBytes_AS_STRING(fmt);
    n = PyBytes_GET_SIZE(fmt);
  } else {
    return rec_refuse(fmt, 0); /* struct's TypeError */
  }
  for (Py_ssize_t i = 0; i < n; i++)
    if (memchr("@=nNP", s[i], 5) != NULL) {
      PyErr_Format(PyExc_ValueError,
                   "format character '%c' depends on the host: formats here have standard sizes and no "
                   "alignment, with <, > or ! for the byte order",
                   s[i]);
      return NULL;
    }
  Py_ssize_t i = 0;
  int order = -1;
  if (n > 0 && (s[0] == '<' || s[0] == '>' || s[0] == '!')) {
    order = s[0] == '<' ? 1 : 0;
    i = 1;
  }
  int prefixed = order >= 0;
  struct rec_format *f = PyMem_Malloc(sizeof *f + (size_t)(n > 0 ? n : 1) * sizeof f->fields[0]);
  if (f == NULL) return PyErr_NoMemory();
  f->size = f->nitems = f->nfields = 0;
  f->order = order;
  f->written[0] = f->written[1] = NULL;
  while (i < n) {
    char c = s[i++];
    if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
    Py_ssize_t num = 1;
    if (c >= '0' && c <= '9') {
      num = c - '0';
      for (; i < n && s[i] >= '0' && s[i] <= '9'; i++) {
        if (num > (PY_SSIZE_T_MAX - (s[i] - '0')) / 10) goto refused;
        num = num * 10 + (s[i] - '0');
      }
      if (i == n) goto refused;
      c = s[i++];
    }
    int width = rec_width(c);
    if (width == 0 || num > (PY_SSIZE_T_MAX - f->size) / width) goto refused;
    struct rec_field *e = &f->fields[f->nfields++];
    e->letter = c;
    e->width = (unsigned char)width;
    e->count = num;
    e->offset = f->size;
    f->size += num * width;
    f->nitems += c == 's' || c == 'p' ? 1 : c == 'x' ? 0 : num;
  }
  PyObject *capsule = PyCapsule_New(f, REC_CAPSULE, rec_free);
  if (capsule == NULL) {
    PyMem_Free(f);
    return NULL;
  }
  f->written[0] = rec_written(f, '>');
  f->written[1] = f->written[0] ? rec_written(f, '<') : NULL;
  if (f->written[1] == NULL) {
    Py_DECREF(capsule);
    return NULL;
  }
  return capsule;
refused:
  PyMem_Free(f);
  return rec_refuse(fmt, prefixed);
}

static void rec_remember(PyObject *fmt, PyObject *compiled, const struct rec_format *f) {
  PyObject *old_fmt = rec_last_fmt, *old = rec_last;
  Py_INCREF(fmt);
  Py_INCREF(compiled);
  rec_last_fmt = fmt;
  rec_last = compiled;
  rec_last_f = f;
  /* Dropped last: a format of a str subclass could run code as it goes. */
  Py_XDECREF(old_fmt);
  Py_XDECREF(old);
}

/* The compiled form of fmt (a new reference, which keeps *f alive), from the
 * cache when it is there. */
static PyObject *rec_compile(PyObject *fmt, const struct rec_format **f) {
  if (fmt == rec_last_fmt) {
    Py_INCREF(rec_last);
    *f = rec_last_f;
    return rec_last;
  }
  if (rec_init() < 0) return NULL;
  if (PyUnicode_Check(fmt) || PyBytes_Check(fmt)) {
    PyObject *c = PyDict_GetItemWithError(rec_cache, fmt);
    if (c != NULL) {
      *f = PyCapsule_GetPointer(c, REC_CAPSULE);
      rec_remember(fmt, c, *f);
      Py_INCREF(c);
      return c;
    }
    if (PyErr_Occurred()) return NULL;
  }
  PyObject *c = rec_build(fmt);
  if (c == NULL) return NULL;
  if (PyDict_GET_SIZE(rec_cache) >= REC_CACHE_MAX) PyDict_Clear(rec_cache);
  if (PyDict_SetItem(rec_cache, fmt, c) < 0) {
    Py_DECREF(c);
    return NULL;
  }
  *f = PyCapsule_GetPointer(c, REC_CAPSULE);
  rec_remember(fmt, c, *f);
  return c;
}

/* big: the format's own order, else the caller's. */
static int rec_big(const struct rec_format *f, int caller_big) {
  return f->order < 0 ? caller_big : f->order == 0;
}

#ifdef WORDS_BIGENDIAN
#define REC_HOST_BIG 1
#else
#define REC_HOST_BIG 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define rec_swap16 __builtin_bswap16
#define rec_swap32 __builtin_bswap32
#define rec_swap64 __builtin_bswap64
#else
static uint16_t rec_swap16(uint16_t v) { return (uint16_t)(v << 8 | v >> 8); }
static uint32_t rec_swap32(uint32_t v) {
  return (uint32_t)rec_swap16((uint16_t)v) << 16 | rec_swap16((uint16_t)(v >> 16));
}
static uint64_t rec_swap64(uint64_t v) {
  return (uint64_t)rec_swap32((uint32_t)v) << 32 | rec_swap32((uint32_t)(v >> 32));
}
#endif

static inline uint64_t rec_load(const uint8_t *p, int width, int big) {
  int swap = big != REC_HOST_BIG;
  switch (width) {
  case 2: {
    uint16_t v;
    memcpy(&v, p, 2);
    return swap ? rec_swap16(v) : v;
  }
  case 4: {
    uint32_t v;
    memcpy(&v, p, 4);
    return swap ? rec_swap32(v) : v;
  }
  default: {
    uint64_t v;
    memcpy(&v, p, 8);
    return swap ? rec_swap64(v) : v;
  }
  }
}

static inline void rec_store(uint8_t *p, int width, int big, uint64_t v) {
  int swap = big != REC_HOST_BIG;
  switch (width) {
  case 1:
    p[0] = (uint8_t)v;
    return;
  case 2: {
    uint16_t x = swap ? rec_swap16((uint16_t)v) : (uint16_t)v;
    memcpy(p, &x, 2);
    return;
  }
  case 4: {
    uint32_t x = swap ? rec_swap32((uint32_t)v) : (uint32_t)v;
    memcpy(p, &x, 4);
    return;
  }
  default: {
    uint64_t x = swap ? rec_swap64(v) : v;
    memcpy(p, &x, 8);
    return;
  }
  }
}

static PyObject *rec_float(char letter, const uint8_t *p, int big) {
  double d = letter == 'e'   ? PyFloat_Unpack2((const char *)p, !big)
             : letter == 'f' ? PyFloat_Unpack4((const char *)p, !big)
                             : PyFloat_Unpack8((const char *)p, !big);
  return d == -1.0 && PyErr_Occurred() ? NULL : PyFloat_FromDouble(d);
}

/* Each value of a field of `count` values of `width` bytes at q, as `make` makes it from q. */
#define REC_VALUES(width, make)                                                                              \
  for (Py_ssize_t j = 0; j < e->count; j++, q += (width)) {                                                  \
    PyObject *v = (make);                                                                                    \
    if (v == NULL) goto failed;                                                                              \
    PyTuple_SET_ITEM(t, k++, v);                                                                             \
  }                                                                                                          \
  break

/* The values of the record at p (f->size bytes), as struct.unpack_from gives them.
 * One switch per field, then a loop over its values: a record of a few fields
 * costs little more than the objects it makes. */
static PyObject *rec_decode(const struct rec_format *f, const uint8_t *p, int big) {
  PyObject *t = PyTuple_New(f->nitems);
  if (t == NULL) return NULL;
  Py_ssize_t k = 0;
  for (Py_ssize_t i = 0; i < f->nfields; i++) {
    const struct rec_field *e = &f->fields[i];
    const uint8_t *q = p + e->offset;
    switch (e->letter) {
    case 'x':
      break;
    case 's': {
      PyObject *v = PyBytes_FromStringAndSize((const char *)q, e->count);
      if (v == NULL) goto failed;
      PyTuple_SET_ITEM(t, k++, v);
      break;
    }
    case 'p': {
      Py_ssize_t len = e->count == 0 ? 0 : q[0] < e->count ? q[0] : e->count - 1;
      PyObject *v = PyBytes_FromStringAndSize((const char *)q + 1, len);
      if (v == NULL) goto failed;
      PyTuple_SET_ITEM(t, k++, v);
      break;
    }
    case 'c':
      REC_VALUES(1, PyBytes_FromStringAndSize((const char *)q, 1));
    case 'b':
      REC_VALUES(1, PyLong_FromLong((int8_t)q[0]));
    case 'B':
      REC_VALUES(1, PyLong_FromLong(q[0]));
    case '?':
      REC_VALUES(1, PyBool_FromLong(q[0] != 0));
    case 'h':
      REC_VALUES(2, PyLong_FromLong((int16_t)rec_load(q, 2, big)));
    case 'H':
      REC_VALUES(2, PyLong_FromLong((long)rec_load(q, 2, big)));
    case 'i':
    case 'l':
      REC_VALUES(4, PyLong_FromLong((int32_t)rec_load(q, 4, big)));
    case 'I':
    case 'L':
      REC_VALUES(4, PyLong_FromUnsignedLong((unsigned long)rec_load(q, 4, big)));
#if LONG_MAX == INT64_MAX /* the long conversions are the quicker ones */
    case 'q':
      REC_VALUES(8, PyLong_FromLong((long)(int64_t)rec_load(q, 8, big)));
    case 'Q':
      REC_VALUES(8, PyLong_FromUnsignedLong((unsigned long)rec_load(q, 8, big)));
#else
    case 'q':
      REC_VALUES(8, PyLong_FromLongLong((long long)(int64_t)rec_load(q, 8, big)));
    case 'Q':
      REC_VALUES(8, PyLong_FromUnsignedLongLong(rec_load(q, 8, big)));
#endif
    default: /* e f d */
      REC_VALUES(e->width, rec_float(e->letter, q, big));
    }
  }
  /* Numbers and bytes only: the tuple can be in no cycle, and the collector
   * need not visit it (CPython untracks such tuples itself, later). */
  PyObject_GC_UnTrack(t);
  return t;
failed:
  Py_DECREF(t);
  return NULL;
}
#undef REC_VALUES

/* One value converted here: 1 done, 0 for struct.pack to decide. Runs no Python code. */
static int rec_put(char letter, PyObject *v, uint8_t *q, int big) {
  int width = rec_width(letter);
  switch (letter) {
  case 'c':
    if (!PyBytes_CheckExact(v) || PyBytes_GET_SIZE(v) != 1) return 0;
    q[0] = (uint8_t)PyBytes_AS_STRING(v)[0];
    return 1;
  case '?':
    if (v == Py_True || v == Py_False || v == Py_None) {
      q[0] = v == Py_True;
      return 1;
    }
    return 0;
  case 'e':
  case 'f':
  case 'd': {
    if (!PyFloat_CheckExact(v)) return 0;
    double d = PyFloat_AS_DOUBLE(v);
    int r = letter == 'e'   ? PyFloat_Pack2(d, (char *)q, !big)
            : letter == 'f' ? PyFloat_Pack4(d, (char *)q, !big)
                            : PyFloat_Pack8(d, (char *)q, !big);
    if (r < 0) {
      PyErr_Clear(); /* too large: struct says so in its words */
      return 0;
    }
    return 1;
  }
  case 'Q': {
    if (!PyLong_CheckExact(v)) return 0;
    unsigned long long x = PyLong_AsUnsignedLongLong(v);
    if (x == (unsigned long long)-1 && PyErr_Occurred()) {
      PyErr_Clear();
      return 0;
    }
    rec_store(q, 8, big, x);
    return 1;
  }
  default: {
    if (!PyLong_CheckExact(v)) return 0;
    int overflow;
    long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (overflow || (x == -1 && PyErr_Occurred())) {
      PyErr_Clear();
      return 0;
    }
    int is_signed = letter == 'b' || letter == 'h' || letter == 'i' || letter == 'l' || letter == 'q';
    if (width < 8) {
      long long half = 1LL << (8 * width - 1);
      if (is_signed ? x < -half || x >= half : x < 0 || x >= 2 * half) return 0;
    }
    rec_store(q, width, big, (uint64_t)x);
    return 1;
  }
  }
}

/* struct.pack(written format, *args): its exception, or its bytes into out. */
static int rec_encode_by_struct(const struct rec_format *f, int big, PyObject *const *args, Py_ssize_t nargs,
                                uint8_t *out) {
  PyObject *stack[17];
  PyObject **call = nargs < 16 ? stack : PyMem_Malloc(((size_t)nargs + 1) * sizeof *call);
  if (call == NULL) {
    PyErr_NoMemory();
    return -1;
  }
  call[0] = f->written[big ? 0 : 1];
  if (nargs) memcpy(call + 1, args, (size_t)nargs * sizeof *call);
  PyObject *r = PyObject_Vectorcall(rec_struct_pack, call, (size_t)nargs + 1, NULL);
  if (call != stack) PyMem_Free(call);
  if (r == NULL) return -1;
  if (!PyBytes_Check(r) || PyBytes_GET_SIZE(r) != f->size) {
    Py_DECREF(r);
    PyErr_SetString(PyExc_SystemError, "struct.pack gave a record of another size");
    return -1;
  }
  memcpy(out, PyBytes_AS_STRING(r), (size_t)f->size);
  Py_DECREF(r);
  return 0;
}

/* The bytes struct.pack gives for args, into out (f->size bytes): 0, or -1 with
 * struct's exception set (out then holds nothing meant for anyone). */
static int rec_encode(const struct rec_format *f, int big, PyObject *const *args, Py_ssize_t nargs,
                      uint8_t *out) {
  if (nargs != f->nitems) return rec_encode_by_struct(f, big, args, nargs, out);
  memset(out, 0, (size_t)f->size);
  Py_ssize_t k = 0;
  for (Py_ssize_t i = 0; i < f->nfields; i++) {
    const struct rec_field *e = &f->fields[i];
    uint8_t *q = out + e->offset;
    if (e->letter == 'x') continue;
    if (e->letter == 's' || e->letter == 'p') {
      PyObject *v = args[k++];
      if (!PyBytes_CheckExact(v)) return rec_encode_by_struct(f, big, args, nargs, out);
      Py_ssize_t len = PyBytes_GET_SIZE(v);
      if (e->letter == 's') {
        memcpy(q, PyBytes_AS_STRING(v), (size_t)(len < e->count ? len : e->count));
      } else if (e->count > 0) {
        if (len > e->count - 1) len = e->count - 1;
        memcpy(q + 1, PyBytes_AS_STRING(v), (size_t)len);
        q[0] = (uint8_t)(len > 255 ? 255 : len);
      }
      continue;
    }
    for (Py_ssize_t j = 0; j < e->count; j++, q += e->width)
      if (!rec_put(e->letter, args[k++], q, big)) return rec_encode_by_struct(f, big, args, nargs, out);
  }
  return 0;
}
