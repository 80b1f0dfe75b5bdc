/* The compiled fast path of the tavbin package: the calls of Reader and Writer
 * that cost more to cross through ctypes than to do, as methods of two base
 * types that tavbin's Reader and Writer derive from.
 *
 * It does not link against binary-read-util. At import the package calls bind()
 * with the addresses of the C functions of the very module ctypes loaded, so
 * both paths call the same module. Everything else (argument refusals, error
 * mapping, the handle's owner) stays in the Python code and is called from here
 * on the slow paths only, so that both paths say the same things.
 *
 * A handle lives in a ctypes owner object (see _handle.py); this object keeps a
 * reference to it and the raw pointer beside it. Each method converts its
 * arguments first (which may run Python code, even code that closes this
 * handle), then loads the pointer and calls C while holding the GIL: no other
 * thread can close the handle in between, and none of these calls blocks.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "_records.c"

typedef struct tavbin_reader tavbin_reader;
typedef struct tavbin_writer tavbin_writer;
typedef int32_t st;

/* The functions used here, as tavbin.h declares them. */
static struct functions {
  uint64_t (*tell)(tavbin_reader *);
  uint64_t (*remaining)(tavbin_reader *);
  st (*u8)(tavbin_reader *, uint8_t *);
  st (*i8)(tavbin_reader *, int8_t *);
  st (*u16)(tavbin_reader *, uint16_t *);
  st (*i16)(tavbin_reader *, int16_t *);
  st (*u32)(tavbin_reader *, uint32_t *);
  st (*i32)(tavbin_reader *, int32_t *);
  st (*f32)(tavbin_reader *, float *);
  st (*u64)(tavbin_reader *, uint64_t *);
  st (*i64)(tavbin_reader *, int64_t *);
  st (*f64)(tavbin_reader *, double *);
  st (*peek_u8)(tavbin_reader *, uint8_t *);
  st (*peek_u16)(tavbin_reader *, uint16_t *);
  st (*peek_u32)(tavbin_reader *, uint32_t *);
  st (*peek_u64)(tavbin_reader *, uint64_t *);
  st (*u8_at)(tavbin_reader *, uint64_t, uint8_t *);
  st (*u16_at)(tavbin_reader *, uint64_t, uint16_t *);
  st (*u32_at)(tavbin_reader *, uint64_t, uint32_t *);
  st (*u64_at)(tavbin_reader *, uint64_t, uint64_t *);
  st (*leb128)(tavbin_reader *, uint64_t *, uint64_t);
  st (*bytes)(tavbin_reader *, void *, uint64_t);
  const uint8_t *(*w_data)(tavbin_writer *);
  uint64_t (*w_len)(tavbin_writer *);
  st (*w_bytes)(tavbin_writer *, const void *, uint64_t);
  st (*w_u8)(tavbin_writer *, uint8_t);
  st (*w_u16)(tavbin_writer *, uint16_t);
  st (*w_i16)(tavbin_writer *, int16_t);
  st (*w_u32)(tavbin_writer *, uint32_t);
  st (*w_i32)(tavbin_writer *, int32_t);
  st (*w_f32)(tavbin_writer *, float);
  st (*w_u64)(tavbin_writer *, uint64_t);
  st (*w_i64)(tavbin_writer *, int64_t);
  st (*w_f64)(tavbin_writer *, double);
  st (*w_leb128)(tavbin_writer *, uint64_t);
} F;

static const struct {
  const char *name;
  size_t offset;
} NAMES[] = {
#define E(field, name)                                                                                       \
  { name, offsetof(struct functions, field) }
    E(tell, "tavbin_tell"),
    E(remaining, "tavbin_remaining"),
    E(u8, "tavbin_u8"),
    E(i8, "tavbin_i8"),
    E(u16, "tavbin_u16"),
    E(i16, "tavbin_i16"),
    E(u32, "tavbin_u32"),
    E(i32, "tavbin_i32"),
    E(f32, "tavbin_f32"),
    E(u64, "tavbin_u64"),
    E(i64, "tavbin_i64"),
    E(f64, "tavbin_f64"),
    E(peek_u8, "tavbin_peek_u8"),
    E(peek_u16, "tavbin_peek_u16"),
    E(peek_u32, "tavbin_peek_u32"),
    E(peek_u64, "tavbin_peek_u64"),
    E(u8_at, "tavbin_u8_at"),
    E(u16_at, "tavbin_u16_at"),
    E(u32_at, "tavbin_u32_at"),
    E(u64_at, "tavbin_u64_at"),
    E(leb128, "tavbin_leb128"),
    E(bytes, "tavbin_bytes"),
    E(w_data, "tavbinw_data"),
    E(w_len, "tavbinw_len"),
    E(w_bytes, "tavbinw_bytes"),
    E(w_u8, "tavbinw_u8"),
    E(w_u16, "tavbinw_u16"),
    E(w_i16, "tavbinw_i16"),
    E(w_u32, "tavbinw_u32"),
    E(w_i32, "tavbinw_i32"),
    E(w_f32, "tavbinw_f32"),
    E(w_u64, "tavbinw_u64"),
    E(w_i64, "tavbinw_i64"),
    E(w_f64, "tavbinw_f64"),
    E(w_leb128, "tavbinw_leb128"),
#undef E
};

static PyObject *new_ref(PyObject *o) {
  Py_INCREF(o);
  return o;
}

static int bound = 0;
/* The package's own argument checks, called whenever the quick test fails, so
 * that refusals carry the same exception and message on both paths. */
static PyObject *check_int, *check_float, *writer_bytes;

/* ------------------------------------------------------------------------ */

typedef struct {
  PyObject_HEAD PyObject *owner; /* the ctypes object owning the C handle, or NULL */
  void *h;                       /* the handle it holds */
} Handle;

static int handle_traverse(Handle *self, visitproc visit, void *arg) {
  Py_VISIT(self->owner);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

static int handle_clear(Handle *self) {
  self->h = NULL;
  Py_CLEAR(self->owner);
  return 0;
}

static void handle_dealloc(Handle *self) {
  PyTypeObject *type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  handle_clear(self);
  type->tp_free((PyObject *)self);
  Py_DECREF(type);
}

static PyObject *handle_get(Handle *self, void *closure) {
  (void)closure;
  if (self->owner == NULL) Py_RETURN_NONE;
  return new_ref(self->owner);
}

/* _h = owner (a ctypes pointer object) or None. */
static int handle_set(Handle *self, PyObject *value, void *closure) {
  (void)closure;
  void *h = NULL;
  if (value != NULL && value != Py_None) {
    Py_buffer view;
    if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) < 0) return -1;
    if (view.len != (Py_ssize_t)sizeof h) {
      PyBuffer_Release(&view);
      PyErr_SetString(PyExc_TypeError, "_h must be a handle pointer");
      return -1;
    }
    memcpy(&h, view.buf, sizeof h);
    PyBuffer_Release(&view);
  }
  PyObject *old = self->owner;
  self->h = h;
  self->owner = h != NULL ? new_ref(value) : NULL;
  /* Dropped last: its finaliser may free the handle, and may run Python code. */
  Py_XDECREF(old);
  return 0;
}

static PyGetSetDef handle_getset[] = {
    {"_h", (getter)handle_get, (setter)handle_set, "the owner of the C handle, or None once closed", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

/* Raise what the Python code raises for a failed call: self._fail(status, where, offset). */
static PyObject *fail(PyObject *self, st status, const char *where, uint64_t offset) {
  PyObject *r = PyObject_CallMethod(self, "_fail", "isK", (int)status, where, (unsigned long long)offset);
  Py_XDECREF(r);
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "_fail returned");
  return NULL;
}

/* ValueError for a query on a closed handle: self._live(where). */
static PyObject *closed_query(PyObject *self, const char *where) {
  PyObject *r = PyObject_CallMethod(self, "_live", "s", where);
  Py_XDECREF(r);
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "_live returned");
  return NULL;
}

/* An int argument from lo to hi (as Python ints in lo_s/hi_s for the slow path). */
static int int_arg(PyObject *v, int is_signed, long long lo, unsigned long long hi, const char *what,
                   unsigned long long *out) {
  if (PyLong_CheckExact(v)) {
    /* The signed conversion walks the digits; the unsigned long long one goes
     * through a byte array for anything above 2**30. */
    if (is_signed || hi <= INT64_MAX) {
      int overflow = 0;
      long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
      if (!overflow && !(x == -1 && PyErr_Occurred()) && x >= lo && (x < 0 || (unsigned long long)x <= hi)) {
        *out = (unsigned long long)x;
        return 0;
      }
    } else {
#if ULONG_MAX == UINT64_MAX
      unsigned long long x = PyLong_AsUnsignedLong(v);
#else
      unsigned long long x = PyLong_AsUnsignedLongLong(v);
#endif
      if (!(x == (unsigned long long)-1 && PyErr_Occurred()) && x <= hi) {
        *out = x;
        return 0;
      }
    }
    PyErr_Clear();
  }
  PyObject *lo_o = PyLong_FromLongLong(lo), *hi_o = PyLong_FromUnsignedLongLong(hi);
  PyObject *r = lo_o && hi_o ? PyObject_CallFunction(check_int, "OOOs", v, lo_o, hi_o, what) : NULL;
  Py_XDECREF(lo_o);
  Py_XDECREF(hi_o);
  if (r == NULL) return -1;
  /* In range now: the conversion cannot fail. */
  if (is_signed)
    *out = (unsigned long long)PyLong_AsLongLong(r);
  else
    *out = PyLong_AsUnsignedLongLong(r);
  Py_DECREF(r);
  return PyErr_Occurred() ? -1 : 0;
}

static int size_arg(PyObject *v, const char *what, uint64_t *out) {
  unsigned long long x;
  if (int_arg(v, 0, 0, UINT64_MAX, what, &x) < 0) return -1;
  *out = x;
  return 0;
}

/* A float argument; binary32 refuses finite values that would become infinite. */
static int float_arg(PyObject *v, int binary32, double *out) {
  if (PyFloat_CheckExact(v)) {
    double d = PyFloat_AS_DOUBLE(v);
    if (!binary32 || (-3.4e38 < d && d < 3.4e38)) {
      *out = d;
      return 0;
    }
  }
  PyObject *r = PyObject_CallFunction(check_float, "OsO", v, "value", binary32 ? Py_True : Py_False);
  if (r == NULL) return -1;
  *out = PyFloat_AsDouble(r);
  Py_DECREF(r);
  return PyErr_Occurred() ? -1 : 0;
}

/* ------------------------------------------------------------------------ */
/* Reader */

#define R(self) ((tavbin_reader *)((Handle *)(self))->h)

#define READ(name, T, box)                                                                                   \
  static PyObject *r_##name(PyObject *self, PyObject *unused) {                                              \
    (void)unused;                                                                                            \
    tavbin_reader *h = R(self);                                                                              \
    uint64_t at = F.tell(h);                                                                                 \
    T v;                                                                                                     \
    st s = F.name(h, &v);                                                                                    \
    if (s) return fail(self, h ? s : 3, #name, at);                                                          \
    return box(v);                                                                                           \
  }
READ(u8, uint8_t, PyLong_FromLong)
READ(i8, int8_t, PyLong_FromLong)
READ(u16, uint16_t, PyLong_FromLong)
READ(i16, int16_t, PyLong_FromLong)
READ(u32, uint32_t, PyLong_FromUnsignedLong)
READ(i32, int32_t, PyLong_FromLong)
READ(f32, float, PyFloat_FromDouble)
READ(u64, uint64_t, PyLong_FromUnsignedLongLong)
READ(i64, int64_t, PyLong_FromLongLong)
READ(f64, double, PyFloat_FromDouble)
READ(peek_u8, uint8_t, PyLong_FromLong)
READ(peek_u16, uint16_t, PyLong_FromLong)
READ(peek_u32, uint32_t, PyLong_FromUnsignedLong)
READ(peek_u64, uint64_t, PyLong_FromUnsignedLongLong)

#define READ_AT(name, T, box)                                                                                \
  static PyObject *r_##name(PyObject *self, PyObject *arg) {                                                 \
    uint64_t offset;                                                                                         \
    if (size_arg(arg, "offset", &offset) < 0) return NULL;                                                   \
    tavbin_reader *h = R(self);                                                                              \
    T v;                                                                                                     \
    st s = F.name(h, offset, &v);                                                                            \
    if (s) return fail(self, s, #name, F.tell(h));                                                           \
    return box(v);                                                                                           \
  }
READ_AT(u8_at, uint8_t, PyLong_FromLong)
READ_AT(u16_at, uint16_t, PyLong_FromLong)
READ_AT(u32_at, uint32_t, PyLong_FromUnsignedLong)
READ_AT(u64_at, uint64_t, PyLong_FromUnsignedLongLong)

static PyObject *r_leb128(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  static const char *const names[] = {"max_bytes", NULL};
  PyObject *arg = NULL;
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (nargs + nkw > 1 ||
      (nkw == 1 && PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(kwnames, 0), names[0]))) {
    PyErr_SetString(PyExc_TypeError, "leb128() takes at most one argument, max_bytes");
    return NULL;
  }
  if (nargs + nkw == 1) arg = args[0];
  uint64_t limit = 10;
  if (arg != NULL && size_arg(arg, "max_bytes", &limit) < 0) return NULL;
  tavbin_reader *h = R(self);
  uint64_t at = F.tell(h), v;
  st s = F.leb128(h, &v, limit);
  if (s) return fail(self, s, "leb128", at);
  return PyLong_FromUnsignedLongLong(v);
}

static PyObject *r_bytes(PyObject *self, PyObject *arg) {
  uint64_t n;
  if (size_arg(arg, "n", &n) < 0) return NULL;
  tavbin_reader *h = R(self);
  uint64_t at = F.tell(h);
  if (h != NULL && n <= F.remaining(h) && n <= PY_SSIZE_T_MAX) {
    /* Held across the allocation, which could run a finaliser that closes this
     * reader: the handle then lives until the read is done. */
    PyObject *owner = new_ref(((Handle *)self)->owner);
    PyObject *out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)n);
    st s = out == NULL ? 0 : F.bytes(h, PyBytes_AS_STRING(out), n);
    Py_DECREF(owner);
    if (out == NULL) return NULL;
    if (s) {
      Py_DECREF(out);
      return fail(self, s, "bytes", at);
    }
    return out;
  }
  /* More than the data holds: the read fails before it writes, so a hostile
   * count allocates nothing. */
  unsigned char stand_in;
  st s = F.bytes(h, &stand_in, n);
  if (s) return fail(self, s, "bytes", at);
  return PyBytes_FromStringAndSize(NULL, 0); /* unreachable: n > remaining */
}

/* The kinds of Reader.array: name, array.array type code, width in bytes. The
 * codes are this platform's, handed over by bind(). */
static struct {
  const char *kind;
  char code[2];
  uint64_t width;
} kinds[10] = {{"u8"}, {"i8"}, {"u16"}, {"i16"}, {"u32"}, {"i32"}, {"u64"}, {"i64"}, {"f32"}, {"f64"}};
static PyObject *array_type, *array_code, *host_order;

/* Reverse the bytes of each value of width bytes in p[0..n). */
static void swap_values(unsigned char *p, uint64_t n, uint64_t width) {
#if defined(__GNUC__) || defined(__clang__)
  if (width == 2) {
    for (uint64_t i = 0; i < n; i += 2) {
      uint16_t v;
      memcpy(&v, p + i, 2);
      v = __builtin_bswap16(v);
      memcpy(p + i, &v, 2);
    }
    return;
  }
  if (width == 4) {
    for (uint64_t i = 0; i < n; i += 4) {
      uint32_t v;
      memcpy(&v, p + i, 4);
      v = __builtin_bswap32(v);
      memcpy(p + i, &v, 4);
    }
    return;
  }
  if (width == 8) {
    for (uint64_t i = 0; i < n; i += 8) {
      uint64_t v;
      memcpy(&v, p + i, 8);
      v = __builtin_bswap64(v);
      memcpy(p + i, &v, 8);
    }
    return;
  }
#endif
  for (uint64_t i = 0; i < n; i += width)
    for (uint64_t a = i, b = i + width - 1; a < b; a++, b--) {
      unsigned char t = p[a];
      p[a] = p[b];
      p[b] = t;
    }
}

static PyObject *r_array(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "array() takes two arguments, kind and count");
    return NULL;
  }
  int k = -1;
  if (PyUnicode_Check(args[0]))
    for (int i = 0; i < 10 && k < 0; i++)
      if (PyUnicode_CompareWithASCIIString(args[0], kinds[i].kind) == 0) k = i;
  if (k < 0) return PyObject_CallOneArg(array_code, args[0]); /* ValueError */
  uint64_t count;
  if (size_arg(args[1], "count", &count) < 0) return NULL;
  PyObject *order = PyObject_GetAttrString(self, "_order");
  if (order == NULL) return NULL;
  int swap = kinds[k].width > 1 && PyObject_RichCompareBool(order, host_order, Py_NE);
  Py_DECREF(order);
  if (swap < 0) return NULL;
  uint64_t width = kinds[k].width;
  uint64_t n = count > UINT64_MAX / width ? UINT64_MAX : count * width;
  tavbin_reader *h = R(self);
  uint64_t at = F.tell(h);
  PyObject *block;
  if (h != NULL && n <= F.remaining(h) && n <= PY_SSIZE_T_MAX) {
    PyObject *owner = new_ref(((Handle *)self)->owner); /* as in r_bytes */
    block = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)n);
    st s = block == NULL ? 0 : F.bytes(h, PyBytes_AS_STRING(block), n);
    Py_DECREF(owner);
    if (block == NULL) return NULL;
    if (s) {
      Py_DECREF(block);
      return fail(self, s, "array", at);
    }
    if (swap) swap_values((unsigned char *)PyBytes_AS_STRING(block), n, width);
  } else {
    /* More than the data holds: fails before it writes or allocates. */
    unsigned char stand_in;
    return fail(self, F.bytes(h, &stand_in, n), "array", at);
  }
  PyObject *out = PyObject_CallFunction(array_type, "sO", kinds[k].code, block);
  Py_DECREF(block);
  return out;
}

static PyObject *r_tell(PyObject *self, PyObject *unused) {
  (void)unused;
  tavbin_reader *h = R(self);
  if (h == NULL) return closed_query(self, "tell()");
  return PyLong_FromUnsignedLongLong(F.tell(h));
}

static PyObject *r_remaining(PyObject *self, PyObject *unused) {
  (void)unused;
  tavbin_reader *h = R(self);
  if (h == NULL) return closed_query(self, "remaining()");
  return PyLong_FromUnsignedLongLong(F.remaining(h));
}

/* The byte order a record is read or written in: its format's, else the
 * handle's (self._order). */
static int record_big(PyObject *self, const struct rec_format *f, int *big) {
  if (f->order >= 0) {
    *big = rec_big(f, 0);
    return 0;
  }
  PyObject *o = PyObject_GetAttrString(self, "_order");
  long order = o ? PyLong_AsLong(o) : -1;
  Py_XDECREF(o);
  if (order == -1 && PyErr_Occurred()) return -1;
  *big = order == 0; /* BIG */
  return 0;
}

static PyObject *r_unpack(PyObject *self, PyObject *arg) {
  const struct rec_format *f;
  PyObject *compiled = rec_compile(arg, &f), *out = NULL;
  if (compiled == NULL) return NULL;
  uint8_t stack[256], *buf = stack;
  int big;
  if (record_big(self, f, &big) < 0) goto done;
  tavbin_reader *h = R(self);
  uint64_t at = F.tell(h), n = (uint64_t)f->size;
  /* More than the data holds fails before it writes: nothing to allocate. */
  if (n > sizeof stack && h != NULL && n <= F.remaining(h)) {
    buf = PyMem_Malloc((size_t)n);
    if (buf == NULL) {
      buf = stack;
      PyErr_NoMemory();
      goto done;
    }
  }
  st s = F.bytes(h, buf, n);
  if (s)
    fail(self, h ? s : 3, "unpack", at);
  else
    out = rec_decode(f, buf, big);
done:
  if (buf != stack) PyMem_Free(buf);
  Py_DECREF(compiled);
  return out;
}

static PyObject *r_unpack_many(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "unpack_many() takes two arguments, fmt and count");
    return NULL;
  }
  uint64_t count;
  if (size_arg(args[1], "count", &count) < 0) return NULL;
  const struct rec_format *f;
  PyObject *compiled = rec_compile(args[0], &f), *list = NULL, *owner = NULL;
  if (compiled == NULL) return NULL;
  uint64_t size = (uint64_t)f->size;
  uint64_t n = size && count > UINT64_MAX / size ? UINT64_MAX : count * size;
  uint8_t *buf = NULL;
  int big;
  if (record_big(self, f, &big) < 0) goto done;
  tavbin_reader *h = R(self);
  uint64_t at = F.tell(h);
  if (h == NULL || n > F.remaining(h) || count > PY_SSIZE_T_MAX / sizeof(PyObject *)) {
    /* Fails before it writes (or, for a count no list can hold, reads nothing). */
    unsigned char stand_in;
    st s = n > 0 || h == NULL ? F.bytes(h, &stand_in, n) : 0;
    if (s)
      fail(self, h ? s : 3, "unpack_many", at);
    else
      PyErr_NoMemory();
    goto done;
  }
  /* Held while the list is allocated, which could run a finaliser that closes
   * this reader: the handle then lives until the read is done. */
  owner = new_ref(((Handle *)self)->owner);
  list = PyList_New((Py_ssize_t)count);
  buf = list != NULL ? PyMem_Malloc(n ? (size_t)n : 1) : NULL;
  if (buf == NULL) {
    if (list != NULL) PyErr_NoMemory();
    Py_CLEAR(list);
    goto done;
  }
  st s = F.bytes(h, buf, n);
  if (s) {
    Py_CLEAR(list);
    fail(self, s, "unpack_many", at);
    goto done;
  }
  for (uint64_t i = 0; i < count; i++) {
    PyObject *t = rec_decode(f, buf + i * size, big);
    if (t == NULL) {
      Py_CLEAR(list);
      break;
    }
    PyList_SET_ITEM(list, (Py_ssize_t)i, t);
  }
done:
  PyMem_Free(buf);
  Py_XDECREF(owner);
  Py_DECREF(compiled);
  return list;
}

#define NOARGS(name, doc)                                                                                    \
  { #name, (PyCFunction)r_##name, METH_NOARGS, doc }
#define ONEARG(name, doc)                                                                                    \
  { #name, (PyCFunction)r_##name, METH_O, doc }
static PyMethodDef reader_methods[] = {
    NOARGS(u8, "Read one byte, unsigned."),
    NOARGS(i8, "Read one byte, two's complement signed."),
    NOARGS(u16, "Read an unsigned 16-bit integer in the reader's byte order."),
    NOARGS(i16, "Read a signed 16-bit integer in the reader's byte order."),
    NOARGS(u32, "Read an unsigned 32-bit integer in the reader's byte order."),
    NOARGS(i32, "Read a signed 32-bit integer in the reader's byte order."),
    NOARGS(f32, "Read an IEEE 754 binary32 float (bit for bit, NaN payloads included)."),
    NOARGS(u64, "Read an unsigned 64-bit integer in the reader's byte order."),
    NOARGS(i64, "Read a signed 64-bit integer in the reader's byte order."),
    NOARGS(f64, "Read an IEEE 754 binary64 float (bit for bit)."),
    NOARGS(peek_u8, "The byte u8() would read now; the cursor does not move."),
    NOARGS(peek_u16, "The value u16() would read now; the cursor does not move."),
    NOARGS(peek_u32, "The value u32() would read now; the cursor does not move."),
    NOARGS(peek_u64, "The value u64() would read now; the cursor does not move."),
    ONEARG(u8_at, "The byte at `offset`."),
    ONEARG(u16_at, "The unsigned 16-bit value at byte `offset`."),
    ONEARG(u32_at, "The unsigned 32-bit value at byte `offset`."),
    ONEARG(u64_at, "The unsigned 64-bit value at byte `offset`."),
    {"leb128", (PyCFunction)(void (*)(void))r_leb128, METH_FASTCALL | METH_KEYWORDS,
     "leb128(max_bytes=10)\n--\n\nRead an unsigned LEB128 number of at most max_bytes bytes (above 10 acts "
     "as 10)."},
    ONEARG(bytes, "Read a block of n bytes. EofError (recorded, nothing read) if fewer remain."),
    {"array", (PyCFunction)(void (*)(void))r_array, METH_FASTCALL,
     "array(kind, count)\n--\n\nRead count values of kind in the reader's byte order, in one block read, as "
     "an "
     "array.array."},
    NOARGS(tell, "Byte offset of the cursor. A partly read byte counts as not read."),
    NOARGS(remaining, "Bytes from the cursor to the end (the bit position is ignored)."),
    {"unpack", (PyCFunction)r_unpack, METH_O,
     "unpack($self, fmt, /)\n--\n\nRead one record of the struct format fmt and return its values, as "
     "struct.unpack_from does."},
    {"unpack_many", (PyCFunction)(void (*)(void))r_unpack_many, METH_FASTCALL,
     "unpack_many($self, fmt, count, /)\n--\n\nRead count records of the struct format fmt, in one block "
     "read, as a list of tuples."},
    {NULL, NULL, 0, NULL},
};

/* ------------------------------------------------------------------------ */
/* Writer */

#define W(self) ((tavbin_writer *)((Handle *)(self))->h)

#define APPEND_INT(name, T, is_signed, lo, hi)                                                               \
  static PyObject *w_##name(PyObject *self, PyObject *arg) {                                                 \
    unsigned long long v;                                                                                    \
    if (int_arg(arg, is_signed, lo, hi, "value", &v) < 0) return NULL;                                       \
    tavbin_writer *h = W(self);                                                                              \
    st s = F.w_##name(h, (T)v);                                                                              \
    if (s) return fail(self, s, #name, F.w_len(h));                                                          \
    Py_RETURN_NONE;                                                                                          \
  }
APPEND_INT(u8, uint8_t, 0, 0, UINT8_MAX)
APPEND_INT(u16, uint16_t, 0, 0, UINT16_MAX)
APPEND_INT(i16, int16_t, 1, INT16_MIN, INT16_MAX)
APPEND_INT(u32, uint32_t, 0, 0, UINT32_MAX)
APPEND_INT(i32, int32_t, 1, INT32_MIN, INT32_MAX)
APPEND_INT(u64, uint64_t, 0, 0, UINT64_MAX)
APPEND_INT(i64, int64_t, 1, INT64_MIN, INT64_MAX)
APPEND_INT(leb128, uint64_t, 0, 0, UINT64_MAX)

#define APPEND_FLOAT(name, T, binary32)                                                                      \
  static PyObject *w_##name(PyObject *self, PyObject *arg) {                                                 \
    double v;                                                                                                \
    if (float_arg(arg, binary32, &v) < 0) return NULL;                                                       \
    tavbin_writer *h = W(self);                                                                              \
    st s = F.w_##name(h, (T)v);                                                                              \
    if (s) return fail(self, s, #name, F.w_len(h));                                                          \
    Py_RETURN_NONE;                                                                                          \
  }
APPEND_FLOAT(f32, float, 1)
APPEND_FLOAT(f64, double, 0)

static PyObject *w_bytes(PyObject *self, PyObject *arg) {
  Py_buffer view;
  if (PyObject_GetBuffer(arg, &view, PyBUF_SIMPLE) < 0) {
    /* Not one contiguous block, or no buffer at all: the Python method copies
     * or refuses it. */
    PyErr_Clear();
    return PyObject_CallFunctionObjArgs(writer_bytes, self, arg, NULL);
  }
  tavbin_writer *h = W(self);
  st s = F.w_bytes(h, view.buf, (uint64_t)view.len);
  PyBuffer_Release(&view);
  if (s) return fail(self, s, "bytes", F.w_len(h));
  Py_RETURN_NONE;
}

static PyObject *w_getvalue(PyObject *self, PyObject *unused) {
  (void)unused;
  tavbin_writer *h = W(self);
  if (h == NULL) return closed_query(self, "getvalue()");
  uint64_t n = F.w_len(h);
  return PyBytes_FromStringAndSize(n ? (const char *)F.w_data(h) : "", (Py_ssize_t)n);
}

static Py_ssize_t w_length(PyObject *self) {
  tavbin_writer *h = W(self);
  if (h == NULL) {
    closed_query(self, "len()");
    return -1;
  }
  return (Py_ssize_t)F.w_len(h);
}

static PyObject *w_pack(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  if (nargs < 1) {
    PyErr_SetString(PyExc_TypeError, "pack() takes a format and its values");
    return NULL;
  }
  const struct rec_format *f;
  PyObject *compiled = rec_compile(args[0], &f), *out = NULL;
  if (compiled == NULL) return NULL;
  uint8_t stack[256], *buf = stack;
  int big;
  if (record_big(self, f, &big) < 0) goto done;
  if ((size_t)f->size > sizeof stack && (buf = PyMem_Malloc((size_t)f->size)) == NULL) {
    buf = stack;
    PyErr_NoMemory();
    goto done;
  }
  /* Converted before the handle is loaded: the conversion may run Python code. */
  if (rec_encode(f, big, args + 1, nargs - 1, buf) < 0) goto done;
  tavbin_writer *h = W(self);
  st s = F.w_bytes(h, buf, (uint64_t)f->size);
  if (s)
    fail(self, h ? s : 3, "pack", F.w_len(h));
  else
    out = new_ref(Py_None);
done:
  if (buf != stack) PyMem_Free(buf);
  Py_DECREF(compiled);
  return out;
}

#undef NOARGS
#undef ONEARG
#define ONEARG(name, doc)                                                                                    \
  { #name, (PyCFunction)w_##name, METH_O, doc }
static PyMethodDef writer_methods[] = {
    ONEARG(u8, "Append one byte, 0 to 255."),
    ONEARG(u16, "Append an unsigned 16-bit integer in the writer's byte order."),
    ONEARG(i16, "Append a signed 16-bit integer in the writer's byte order."),
    ONEARG(u32, "Append an unsigned 32-bit integer in the writer's byte order."),
    ONEARG(i32, "Append a signed 32-bit integer in the writer's byte order."),
    ONEARG(u64, "Append an unsigned 64-bit integer in the writer's byte order."),
    ONEARG(i64, "Append a signed 64-bit integer in the writer's byte order."),
    ONEARG(leb128, "Append an unsigned LEB128 number, 0 to 2**64 - 1, in its shortest form."),
    ONEARG(f32, "Append a float as IEEE 754 binary32, rounded to nearest."),
    ONEARG(f64, "Append a float as IEEE 754 binary64, bit for bit."),
    ONEARG(bytes, "Append the bytes of any bytes-like object, unchanged."),
    {"getvalue", (PyCFunction)w_getvalue, METH_NOARGS, "A copy of the bytes written so far."},
    {"pack", (PyCFunction)(void (*)(void))w_pack, METH_FASTCALL,
     "pack($self, fmt, /, *values)\n--\n\nAppend the bytes struct.pack gives for values in the format fmt, "
     "in "
     "one append."},
    {NULL, NULL, 0, NULL},
};

/* ------------------------------------------------------------------------ */

static PyType_Slot reader_slots[] = {
    {Py_tp_doc, "The compiled calls of tavbin.Reader."},
    {Py_tp_dealloc, handle_dealloc},
    {Py_tp_traverse, handle_traverse},
    {Py_tp_clear, handle_clear},
    {Py_tp_methods, reader_methods},
    {Py_tp_getset, handle_getset},
    {0, NULL},
};
static PyType_Spec reader_spec = {"tavbin._speedups.Reader", sizeof(Handle), 0,
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
                                  reader_slots};

static PyType_Slot writer_slots[] = {
    {Py_tp_doc, "The compiled calls of tavbin.Writer."},
    {Py_tp_dealloc, handle_dealloc},
    {Py_tp_traverse, handle_traverse},
    {Py_tp_clear, handle_clear},
    {Py_tp_methods, writer_methods},
    {Py_tp_getset, handle_getset},
    {Py_sq_length, w_length},
    {0, NULL},
};
static PyType_Spec writer_spec = {"tavbin._speedups.Writer", sizeof(Handle), 0,
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
                                  writer_slots};

/* bind(addresses, check_int, check_float, writer_bytes, codes, array_type,
 * array_code, host_order): addresses maps each function's name to its address
 * in the loaded module, codes each array kind to its type code. Once per process. */
static PyObject *bind(PyObject *module, PyObject *args) {
  (void)module;
  PyObject *addresses, *ci, *cf, *wb, *codes, *at, *ac, *ho;
  if (!PyArg_ParseTuple(args, "O!OOOO!OOO:bind", &PyDict_Type, &addresses, &ci, &cf, &wb, &PyDict_Type,
                        &codes, &at, &ac, &ho))
    return NULL;
  if (bound) {
    PyErr_SetString(PyExc_RuntimeError, "bind() was already called");
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
  for (int i = 0; i < 10; i++) {
    PyObject *code = PyDict_GetItemString(codes, kinds[i].kind);
    const char *c = code ? PyUnicode_AsUTF8(code) : NULL;
    if (c == NULL || strlen(c) != 1) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_KeyError, "no type code for %s", kinds[i].kind);
      return NULL;
    }
    kinds[i].code[0] = c[0];
    const char *bits = kinds[i].kind + 1; /* "8", "16", "32" or "64" */
    kinds[i].width = bits[1] ? (uint64_t)((bits[0] - '0') * 10 + (bits[1] - '0')) / 8 : 1;
  }
  array_type = new_ref(at);
  array_code = new_ref(ac);
  host_order = new_ref(ho);
  check_int = new_ref(ci);
  check_float = new_ref(cf);
  writer_bytes = new_ref(wb);
  bound = 1;
  Py_RETURN_NONE;
}

static PyMethodDef module_methods[] = {
    {"bind", bind, METH_VARARGS,
     "Hand the module the addresses of the C functions and the package's checks."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "tavbin._speedups", NULL, -1, module_methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__speedups(void) {
  PyObject *m = PyModule_Create(&module_def);
  if (m == NULL) return NULL;
  PyObject *reader = PyType_FromSpec(&reader_spec);
  PyObject *writer = PyType_FromSpec(&writer_spec);
  if (reader == NULL || writer == NULL || PyModule_AddObject(m, "Reader", reader) < 0) {
    Py_XDECREF(reader);
    Py_XDECREF(writer);
    Py_DECREF(m);
    return NULL;
  }
  if (PyModule_AddObject(m, "Writer", writer) < 0) {
    Py_DECREF(writer);
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
