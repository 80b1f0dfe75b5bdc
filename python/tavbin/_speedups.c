/* The compiled fast path of the tavbin package: Reader, Writer and LsbBits as
 * extension types, every method and property in C.
 *
 * It does not link against binary-read-util. At import the package calls bind()
 * with the addresses of the C functions of the very module ctypes loaded, so
 * both paths call the same module; the extension owns its handles itself (no
 * ctypes object is involved after bind). The package's Python code is called
 * only to convert an argument the quick test refuses and to build the
 * exception of a failed call, so both paths refuse and fail alike.
 *
 * Threads: every method runs whole under the GIL. It converts its arguments
 * first (which may run Python code, even code that closes this handle), then
 * loads the handle pointer and makes its C calls without calling back into
 * Python or releasing the GIL; none of the C calls blocks. An allocation that
 * must come between two C calls (which can run a finaliser, so any Python code)
 * is made before the pointer is loaded again. A closed handle is NULL, which
 * every method refuses with ValueError.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* With the library's header (setup.py points at include/ when it is there),
 * every slot of the function table below is checked against its declaration;
 * a copy of the package built away from the source tree declares the types
 * itself. */
#if defined(__has_include)
#if __has_include("tavbin.h")
#include "tavbin.h"
#define HEADER_CHECKED 1
#endif
#endif
#ifndef HEADER_CHECKED
#define HEADER_CHECKED 0
typedef int32_t tavbin_status;
typedef uint32_t tavbin_endian;
typedef struct tavbin_reader tavbin_reader;
typedef struct tavbin_writer tavbin_writer;
#define TAVBIN_OK 0
#define TAVBIN_EOF 1
#define TAVBIN_RANGE 2
#define TAVBIN_INVALID_ARG 3
#define TAVBIN_TOO_LARGE 4
#define TAVBIN_OOM 5
#define TAVBIN_BIG_ENDIAN 0u
#define TAVBIN_LITTLE_ENDIAN 1u
#endif

#include "_records.c"

typedef tavbin_status st;

/* The functions used here, with their types as tavbin.h spells them; the
 * declarations test compares these texts with the header's table. */
#define FUNCTIONS(X)                                                                                         \
  X(tavbin_open, tavbin_reader *, (const void *, uint64_t, tavbin_endian))                                   \
  X(tavbin_close, void, (tavbin_reader *))                                                                   \
  X(tavbin_set_endian, tavbin_status, (tavbin_reader *, tavbin_endian))                                      \
  X(tavbin_seek, tavbin_status, (tavbin_reader *, uint64_t))                                                 \
  X(tavbin_tell, uint64_t, (const tavbin_reader *))                                                          \
  X(tavbin_remaining, uint64_t, (const tavbin_reader *))                                                     \
  X(tavbin_size, uint64_t, (const tavbin_reader *))                                                          \
  X(tavbin_last_error, tavbin_status, (const tavbin_reader *))                                               \
  X(tavbin_bit_align, void, (tavbin_reader *))                                                               \
  X(tavbin_u8, tavbin_status, (tavbin_reader *, uint8_t *))                                                  \
  X(tavbin_i8, tavbin_status, (tavbin_reader *, int8_t *))                                                   \
  X(tavbin_bits, tavbin_status, (tavbin_reader *, uint32_t, uint64_t *))                                     \
  X(tavbin_u16, tavbin_status, (tavbin_reader *, uint16_t *))                                                \
  X(tavbin_i16, tavbin_status, (tavbin_reader *, int16_t *))                                                 \
  X(tavbin_u32, tavbin_status, (tavbin_reader *, uint32_t *))                                                \
  X(tavbin_i32, tavbin_status, (tavbin_reader *, int32_t *))                                                 \
  X(tavbin_f32, tavbin_status, (tavbin_reader *, float *))                                                   \
  X(tavbin_u64, tavbin_status, (tavbin_reader *, uint64_t *))                                                \
  X(tavbin_i64, tavbin_status, (tavbin_reader *, int64_t *))                                                 \
  X(tavbin_f64, tavbin_status, (tavbin_reader *, double *))                                                  \
  X(tavbin_bytes, tavbin_status, (tavbin_reader *, void *, uint64_t))                                        \
  X(tavbin_ascii, tavbin_status, (tavbin_reader *, char *, uint64_t))                                        \
  X(tavbin_skip, tavbin_status, (tavbin_reader *, uint64_t))                                                 \
  X(tavbin_peek_u8, tavbin_status, (tavbin_reader *, uint8_t *))                                             \
  X(tavbin_peek_u16, tavbin_status, (tavbin_reader *, uint16_t *))                                           \
  X(tavbin_peek_u32, tavbin_status, (tavbin_reader *, uint32_t *))                                           \
  X(tavbin_peek_u64, tavbin_status, (tavbin_reader *, uint64_t *))                                           \
  X(tavbin_u8_at, tavbin_status, (tavbin_reader *, uint64_t, uint8_t *))                                     \
  X(tavbin_u16_at, tavbin_status, (tavbin_reader *, uint64_t, uint16_t *))                                   \
  X(tavbin_u32_at, tavbin_status, (tavbin_reader *, uint64_t, uint32_t *))                                   \
  X(tavbin_u64_at, tavbin_status, (tavbin_reader *, uint64_t, uint64_t *))                                   \
  X(tavbin_string_u32, tavbin_status, (tavbin_reader *, char *, uint64_t, uint64_t, uint64_t *))             \
  X(tavbin_leb128, tavbin_status, (tavbin_reader *, uint64_t *, uint64_t))                                   \
  X(tavbin_store_u16, tavbin_status, (void *, uint64_t, tavbin_endian, uint16_t))                            \
  X(tavbin_store_u32, tavbin_status, (void *, uint64_t, tavbin_endian, uint32_t))                            \
  X(tavbin_store_u64, tavbin_status, (void *, uint64_t, tavbin_endian, uint64_t))                            \
  X(tavbinw_open, tavbin_writer *, (uint64_t, tavbin_endian))                                                \
  X(tavbinw_close, void, (tavbin_writer *))                                                                  \
  X(tavbinw_set_endian, tavbin_status, (tavbin_writer *, tavbin_endian))                                     \
  X(tavbinw_data, const uint8_t *, (const tavbin_writer *))                                                  \
  X(tavbinw_len, uint64_t, (const tavbin_writer *))                                                          \
  X(tavbinw_last_error, tavbin_status, (const tavbin_writer *))                                              \
  X(tavbinw_bytes, tavbin_status, (tavbin_writer *, const void *, uint64_t))                                 \
  X(tavbinw_u8, tavbin_status, (tavbin_writer *, uint8_t))                                                   \
  X(tavbinw_u16, tavbin_status, (tavbin_writer *, uint16_t))                                                 \
  X(tavbinw_i16, tavbin_status, (tavbin_writer *, int16_t))                                                  \
  X(tavbinw_u32, tavbin_status, (tavbin_writer *, uint32_t))                                                 \
  X(tavbinw_i32, tavbin_status, (tavbin_writer *, int32_t))                                                  \
  X(tavbinw_f32, tavbin_status, (tavbin_writer *, float))                                                    \
  X(tavbinw_u64, tavbin_status, (tavbin_writer *, uint64_t))                                                 \
  X(tavbinw_i64, tavbin_status, (tavbin_writer *, int64_t))                                                  \
  X(tavbinw_f64, tavbin_status, (tavbin_writer *, double))                                                   \
  X(tavbinw_leb128, tavbin_status, (tavbin_writer *, uint64_t))                                              \
  X(tavbinw_string_u32, tavbin_status, (tavbin_writer *, const char *, uint64_t))

#define FIELD(name, ret, params) ret(*name) params;
static struct functions { FUNCTIONS(FIELD) } F;
#undef FIELD

#if HEADER_CHECKED && (defined(__GNUC__) || defined(__clang__))
#define CHECK(name, ret, params)                                                                             \
  _Static_assert(__builtin_types_compatible_p(__typeof__(&name), ret(*) params),                             \
                 #name ": the table's type differs from tavbin.h");
FUNCTIONS(CHECK)
#undef CHECK
#endif

static const struct {
  const char *name, *ret, *params;
  size_t offset;
} TABLE[] = {
#define ROW(name, ret, params) {#name, #ret, #params, offsetof(struct functions, name)},
    FUNCTIONS(ROW)
#undef ROW
};
#define TABLE_SIZE (sizeof TABLE / sizeof TABLE[0])

static int bound = 0;
/* From the package, by bind(): the exception for a failed call, the one for a
 * failed open, the argument checks, Status, the array type and its codes. */
static PyObject *py_error, *py_open_failed, *py_check_int, *py_check_float, *py_status, *array_type;
static PyObject *statuses[6];

#define U32_MAX 0xFFFFFFFFull

/* ------------------------------------------------------------------------ */
/* Arguments */

/* Positional-or-keyword arguments as a Python function takes them: out[i] is
 * the argument for names[i], or NULL when it was not given. */
static int parse(const char *fname, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                 const char *const *names, int nnames, int required, PyObject **out) {
  if (nargs > nnames) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %d argument%s (%zd given)", fname, nnames,
                 nnames == 1 ? "" : "s", nargs);
    return -1;
  }
  for (int i = 0; i < nnames; i++)
    out[i] = i < nargs ? args[i] : NULL;
  if (kwnames != NULL) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; k++) {
      PyObject *key = PyTuple_GET_ITEM(kwnames, k);
      int j = 0;
      while (j < nnames && PyUnicode_CompareWithASCIIString(key, names[j]) != 0)
        j++;
      if (j == nnames) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname, key);
        return -1;
      }
      if (out[j] != NULL) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname, names[j]);
        return -1;
      }
      out[j] = args[nargs + k];
    }
  }
  for (int i = 0; i < required; i++)
    if (out[i] == NULL) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", fname, names[i]);
      return -1;
    }
  return 0;
}

/* An int argument from lo to hi; anything the quick test does not take goes to
 * the package's check_int, for the same exception and message. */
static int int_arg(PyObject *v, long long lo, unsigned long long hi, const char *what,
                   unsigned long long *out) {
  if (PyLong_CheckExact(v)) {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (!overflow && !(x == -1 && PyErr_Occurred())) {
      if (x >= lo && (x < 0 || (unsigned long long)x <= hi)) {
        *out = (unsigned long long)x;
        return 0;
      }
    } else if (overflow > 0 && hi > (unsigned long long)INT64_MAX) {
      unsigned long long u = PyLong_AsUnsignedLongLong(v);
      if (!(u == (unsigned long long)-1 && PyErr_Occurred()) && u <= hi) {
        *out = u;
        return 0;
      }
    }
    PyErr_Clear();
  }
  PyObject *lo_o = PyLong_FromLongLong(lo), *hi_o = PyLong_FromUnsignedLongLong(hi);
  PyObject *r = lo_o && hi_o ? PyObject_CallFunction(py_check_int, "OOOs", v, lo_o, hi_o, what) : NULL;
  Py_XDECREF(lo_o);
  Py_XDECREF(hi_o);
  if (r == NULL) return -1;
  /* In range now: the conversion cannot fail. */
  if (lo < 0)
    *out = (unsigned long long)PyLong_AsLongLong(r);
  else
    *out = PyLong_AsUnsignedLongLong(r);
  Py_DECREF(r);
  return PyErr_Occurred() ? -1 : 0;
}

static int size_arg(PyObject *v, const char *what, uint64_t *out) {
  unsigned long long x;
  if (int_arg(v, 0, UINT64_MAX, what, &x) < 0) return -1;
  *out = x;
  return 0;
}

/* An optional size argument: its default when not given. */
static int size_opt(PyObject *v, uint64_t dflt, const char *what, uint64_t *out) {
  if (v == NULL) {
    *out = dflt;
    return 0;
  }
  return size_arg(v, what, out);
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
  PyObject *r = PyObject_CallFunction(py_check_float, "OsO", v, "value", binary32 ? Py_True : Py_False);
  if (r == NULL) return -1;
  *out = PyFloat_AsDouble(r);
  Py_DECREF(r);
  return PyErr_Occurred() ? -1 : 0;
}

/* The memory of a bytes-like object, as _buffer.Borrowed takes it: exported
 * without a copy where it is one contiguous block, copied otherwise; TypeError
 * if it is not bytes-like. */
static int borrow(PyObject *obj, Py_buffer *view) {
  if (PyObject_GetBuffer(obj, view, PyBUF_SIMPLE) == 0) return 0;
  if (!PyErr_ExceptionMatches(PyExc_BufferError)) return -1;
  PyErr_Clear();
  PyObject *mv = PyMemoryView_FromObject(obj);
  if (mv == NULL) return -1;
  PyObject *copy = PyObject_CallMethod(mv, "tobytes", NULL);
  Py_DECREF(mv);
  if (copy == NULL) return -1;
  int r = PyObject_GetBuffer(copy, view, PyBUF_SIMPLE);
  Py_DECREF(copy); /* the export holds it */
  return r;
}

/* ------------------------------------------------------------------------ */
/* Errors (built by the package's own code, on failure only) */

static PyObject *type_name(PyObject *self) {
  return PyObject_GetAttrString((PyObject *)Py_TYPE(self), "__name__");
}

/* ValueError for a call on a closed handle: "Reader.u32() on a closed reader". */
static PyObject *closed(PyObject *self, const char *what) {
  PyObject *name = type_name(self);
  PyObject *lower = name ? PyObject_CallMethod(name, "lower", NULL) : NULL;
  if (lower != NULL) PyErr_Format(PyExc_ValueError, "%U.%s on a closed %U", name, what, lower);
  Py_XDECREF(name);
  Py_XDECREF(lower);
  return NULL;
}

/* Raise error(status, "<class>.<where>", offset, outer). */
static PyObject *raise_error(PyObject *self, const char *cls, st status, const char *where, uint64_t offset,
                             int sub, uint64_t outer) {
  PyObject *name = cls ? PyUnicode_FromString(cls) : type_name(self);
  if (name == NULL) return NULL;
  PyObject *text = PyUnicode_FromFormat("%U.%s", name, where);
  Py_DECREF(name);
  if (text == NULL) return NULL;
  PyObject *o = sub ? PyLong_FromUnsignedLongLong(outer) : (Py_INCREF(Py_None), Py_None);
  PyObject *exc =
      o ? PyObject_CallFunction(py_error, "iOKO", (int)status, text, (unsigned long long)offset, o) : NULL;
  Py_XDECREF(o);
  Py_DECREF(text);
  if (exc == NULL) return NULL;
  PyErr_SetObject((PyObject *)Py_TYPE(exc), exc);
  Py_DECREF(exc);
  return NULL;
}

/* ------------------------------------------------------------------------ */
/* Reader */

typedef struct Reader {
  PyObject_HEAD tavbin_reader *h; /* NULL once closed */
  const unsigned char *data;      /* this reader's first byte */
  uint64_t size;
  uint64_t origin;     /* where data lies in the outermost input */
  struct Reader *root; /* a sub-reader: the reader whose export holds the bytes */
  Py_buffer view;      /* a reader opened on an object: its export (view.obj NULL once released) */
  Py_ssize_t pins;     /* on the root: open readers over view, itself included */
  uint64_t epoch;      /* counts the opens of this object, for LsbBits */
  uint32_t order;
  char sub;
  /* (mark_byte, mark_bit) after the last bits() call: the only way a reader is
   * left inside a byte. Valid while tell() still says the same byte, since every
   * other call that moves moves past it, and seek() forgets it. */
  char mark;
  unsigned char mark_bit;
  uint64_t mark_byte;
  PyObject *weakrefs;
} Reader;

static PyTypeObject Reader_Type, Writer_Type, LsbBits_Type;

static void unpin(Reader *root) {
  if (--root->pins == 0 && root->view.obj != NULL) PyBuffer_Release(&root->view);
}

static void reader_close_handle(Reader *self) {
  tavbin_reader *h = self->h;
  if (h == NULL) return;
  self->h = NULL;
  self->data = NULL;
  F.tavbin_close(h);
  Reader *root = self->root;
  if (root != NULL) {
    self->root = NULL;
    unpin(root);
    Py_DECREF(root); /* last: may run Python code */
  } else {
    unpin(self);
  }
}

/* The offset of a failed call that applies the byte alignment: the cursor the
 * call left, or the partly read byte it skipped first. */
static uint64_t failed_at(Reader *self, tavbin_reader *h) {
  uint64_t at = F.tavbin_tell(h);
  if (self->mark && self->mark_bit && at == self->mark_byte + 1) {
    self->mark = 0;
    return self->mark_byte;
  }
  return at;
}

/* After a call: a mark the cursor has moved past is stale (the byte was
 * skipped), and must not make a later failure's offset that byte. */
static void settle(Reader *self) {
  if (self->mark && self->h != NULL && F.tavbin_tell(self->h) > self->mark_byte) self->mark = 0;
}

static PyObject *rfail(Reader *self, st status, const char *where, uint64_t offset) {
  settle(self);
  if (self->h == NULL) {
    char what[64];
    PyOS_snprintf(what, sizeof what, "%s()", where);
    return closed((PyObject *)self, what);
  }
  return raise_error((PyObject *)self, NULL, status, where, offset, self->sub, self->origin + offset);
}

/* Whether a byte is partly read at the cursor at. */
static int partial(Reader *self, uint64_t at) {
  return self->mark && self->mark_bit && self->mark_byte == at;
}

/* Records a status the C calls did not give, moving nothing (the C reader
 * records only the outcome of one of its calls, so this makes a call that must
 * fail in just that way). EOF: a skip past the end when the cursor is aligned,
 * or a peek past it; TOO_LARGE: a string of at most 0 bytes into no room;
 * INVALID_ARG: a LEB128 read of at most 0 bytes. Where no call fits, nothing is
 * recorded. */
static void record(Reader *self, tavbin_reader *h, st s) {
  uint64_t at = F.tavbin_tell(h), rem = F.tavbin_remaining(h);
  int part = partial(self, at);
  uint64_t after = part ? (rem ? rem - 1 : 0) : rem; /* bytes after the alignment */
  unsigned char stand_in[8];
  uint64_t u;
  if (s == TAVBIN_EOF) {
    if (!part)
      (void)F.tavbin_skip(h, UINT64_MAX);
    else if (after < 8)
      (void)F.tavbin_peek_u64(h, &u);
  } else if (s == TAVBIN_TOO_LARGE) {
    if (after >= 4) (void)F.tavbin_string_u32(h, (char *)stand_in, 0, 0, NULL);
  } else {
    (void)F.tavbin_leb128(h, &u, 0);
  }
}

static int reader_open(Reader *self, PyObject *data, PyObject *order_o) {
  unsigned long long order = TAVBIN_BIG_ENDIAN;
  if (order_o != NULL && int_arg(order_o, 0, U32_MAX, "order", &order) < 0) return -1;
  if (self->root == NULL && self->pins - (self->h != NULL) > 0) {
    /* __init__ again, while its sub-readers still read the bytes it exported. */
    PyErr_SetString(PyExc_RuntimeError, "Reader.__init__() again while its sub-readers are open");
    return -1;
  }
  Py_buffer view;
  if (borrow(data, &view) < 0) return -1;
  reader_close_handle(self); /* __init__ called again */
  tavbin_reader *h = F.tavbin_open(view.buf, (uint64_t)view.len, (tavbin_endian)order);
  if (h == NULL) {
    PyBuffer_Release(&view);
    PyObject *name = type_name((PyObject *)self);
    PyObject *r = name ? PyObject_CallFunction(py_open_failed, "OK", name, order) : NULL;
    Py_XDECREF(name);
    Py_XDECREF(r);
    return -1;
  }
  self->view = view;
  self->pins = 1;
  self->h = h;
  self->data = (const unsigned char *)view.buf;
  self->size = (uint64_t)view.len;
  self->origin = 0;
  self->sub = 0;
  self->order = (uint32_t)order;
  self->mark = 0;
  self->epoch++;
  return 0;
}

static const char *const reader_kw[] = {"data", "order"};

static int reader_init(Reader *self, PyObject *args, PyObject *kwargs) {
  PyObject *a[2] = {NULL, NULL};
  static char *kw[] = {"data", "order", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:Reader", kw, &a[0], &a[1])) return -1;
  return reader_open(self, a[0], a[1]);
}

static PyObject *reader_vectorcall(PyObject *type, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
  PyObject *a[2];
  if (parse("Reader", args, PyVectorcall_NARGS(nargsf), kwnames, reader_kw, 2, 1, a) < 0) return NULL;
  Reader *self = (Reader *)((PyTypeObject *)type)->tp_alloc((PyTypeObject *)type, 0);
  if (self == NULL) return NULL;
  if (reader_open(self, a[0], a[1]) < 0) {
    Py_DECREF(self);
    return NULL;
  }
  return (PyObject *)self;
}

static int reader_traverse(Reader *self, visitproc visit, void *arg) {
  Py_VISIT(self->root);
  Py_VISIT(self->view.obj);
  return 0;
}

static int reader_clear(Reader *self) {
  reader_close_handle(self);
  return 0;
}

static void reader_dealloc(Reader *self) {
  PyObject_GC_UnTrack(self);
  if (self->weakrefs != NULL) PyObject_ClearWeakRefs((PyObject *)self);
  reader_close_handle(self);
  if (self->view.obj != NULL) PyBuffer_Release(&self->view); /* only if a sub still pinned it: none can */
  Py_TYPE(self)->tp_free((PyObject *)self);
}

#define HANDLE(where)                                                                                        \
  tavbin_reader *h = self->h;                                                                                \
  if (h == NULL) return closed((PyObject *)self, where)

/* -- cursor -- */

static PyObject *r_seek(Reader *self, PyObject *arg) {
  uint64_t offset;
  if (size_arg(arg, "offset", &offset) < 0) return NULL;
  HANDLE("seek()");
  st s = F.tavbin_seek(h, offset);
  if (s) return rfail(self, s, "seek", F.tavbin_tell(h));
  self->mark = 0;
  Py_RETURN_NONE;
}

static PyObject *r_tell(Reader *self, PyObject *unused) {
  (void)unused;
  HANDLE("tell()");
  return PyLong_FromUnsignedLongLong(F.tavbin_tell(h));
}

static PyObject *r_remaining(Reader *self, PyObject *unused) {
  (void)unused;
  HANDLE("remaining()");
  return PyLong_FromUnsignedLongLong(F.tavbin_remaining(h));
}

static PyObject *r_origin(Reader *self, PyObject *unused) {
  (void)unused;
  HANDLE("origin()");
  return PyLong_FromUnsignedLongLong(self->origin);
}

static PyObject *r_size(Reader *self, void *closure) {
  (void)closure;
  HANDLE("size");
  return PyLong_FromUnsignedLongLong(F.tavbin_size(h));
}

static PyObject *r_bit_align(Reader *self, PyObject *unused) {
  (void)unused;
  HANDLE("bit_align()");
  F.tavbin_bit_align(h);
  settle(self);
  Py_RETURN_NONE;
}

static PyObject *r_skip(Reader *self, PyObject *arg) {
  uint64_t n;
  if (size_arg(arg, "n", &n) < 0) return NULL;
  HANDLE("skip()");
  st s = F.tavbin_skip(h, n);
  if (s) return rfail(self, s, "skip", failed_at(self, h));
  if (n == 0) self->mark = 0;
  Py_RETURN_NONE;
}

static PyObject *r_set_endian(Reader *self, PyObject *arg) {
  unsigned long long order;
  if (int_arg(arg, 0, U32_MAX, "order", &order) < 0) return NULL;
  HANDLE("set_endian()");
  st s = F.tavbin_set_endian(h, (tavbin_endian)order);
  if (s) return rfail(self, s, "set_endian", F.tavbin_tell(h));
  self->order = (uint32_t)order;
  Py_RETURN_NONE;
}

static PyObject *status_object(st s) {
  if (s >= 0 && s < 6) {
    Py_INCREF(statuses[s]);
    return statuses[s];
  }
  return PyObject_CallFunction(py_status, "i", (int)s);
}

static PyObject *r_last_error(Reader *self, void *closure) {
  (void)closure;
  HANDLE("last_error");
  return status_object(F.tavbin_last_error(h));
}

static PyObject *r_closed(Reader *self, void *closure) {
  (void)closure;
  return PyBool_FromLong(self->h == NULL);
}

/* -- fixed-width values, peeks, absolute reads -- */

#define READ(name, T, box)                                                                                   \
  static PyObject *r_##name(Reader *self, PyObject *unused) {                                                \
    (void)unused;                                                                                            \
    HANDLE(#name "()");                                                                                      \
    T v;                                                                                                     \
    st s = F.tavbin_##name(h, &v);                                                                           \
    if (s) return rfail(self, s, #name, failed_at(self, h));                                                 \
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
/* A peek never moves: its offset is the tell(). */
#define PEEK(name, T, box)                                                                                   \
  static PyObject *r_##name(Reader *self, PyObject *unused) {                                                \
    (void)unused;                                                                                            \
    HANDLE(#name "()");                                                                                      \
    T v;                                                                                                     \
    st s = F.tavbin_##name(h, &v);                                                                           \
    if (s) return rfail(self, s, #name, F.tavbin_tell(h));                                                   \
    return box(v);                                                                                           \
  }
PEEK(peek_u8, uint8_t, PyLong_FromLong)
PEEK(peek_u16, uint16_t, PyLong_FromLong)
PEEK(peek_u32, uint32_t, PyLong_FromUnsignedLong)
PEEK(peek_u64, uint64_t, PyLong_FromUnsignedLongLong)

#define READ_AT(name, T, box)                                                                                \
  static PyObject *r_##name(Reader *self, PyObject *arg) {                                                   \
    uint64_t offset;                                                                                         \
    if (size_arg(arg, "offset", &offset) < 0) return NULL;                                                   \
    HANDLE(#name "()");                                                                                      \
    T v;                                                                                                     \
    st s = F.tavbin_##name(h, offset, &v);                                                                   \
    if (s) return rfail(self, s, #name, F.tavbin_tell(h));                                                   \
    return box(v);                                                                                           \
  }
READ_AT(u8_at, uint8_t, PyLong_FromLong)
READ_AT(u16_at, uint16_t, PyLong_FromLong)
READ_AT(u32_at, uint32_t, PyLong_FromUnsignedLong)
READ_AT(u64_at, uint64_t, PyLong_FromUnsignedLongLong)

static PyObject *read3(Reader *self, const char *where, int is_signed) {
  HANDLE(is_signed ? "i24()" : "u24()");
  uint64_t at = F.tavbin_tell(h);
  unsigned char b[3];
  st s = F.tavbin_bytes(h, b, 3);
  if (s) return rfail(self, s, where, at);
  long v = self->order == TAVBIN_LITTLE_ENDIAN ? (long)b[0] | (long)b[1] << 8 | (long)b[2] << 16
                                               : (long)b[2] | (long)b[1] << 8 | (long)b[0] << 16;
  if (is_signed && (v & 0x800000)) v -= 0x1000000;
  return PyLong_FromLong(v);
}
static PyObject *r_u24(Reader *self, PyObject *unused) {
  (void)unused;
  return read3(self, "u24", 0);
}
static PyObject *r_i24(Reader *self, PyObject *unused) {
  (void)unused;
  return read3(self, "i24", 1);
}

/* -- bit fields -- */

static PyObject *r_bits(Reader *self, PyObject *arg) {
  unsigned long long count;
  if (int_arg(arg, 0, U32_MAX, "count", &count) < 0) return NULL;
  HANDLE("bits()");
  /* Where it starts, to know afterwards whether a byte is left partly read
   * (lsb_bits and the offsets of failed reads need that). */
  uint64_t at = F.tavbin_tell(h), v;
  st s = F.tavbin_bits(h, (uint32_t)count, &v);
  if (s) {
    if (s == TAVBIN_EOF) self->mark = 0;
    return rfail(self, s, "bits", at);
  }
  uint64_t bit = at * 8 + count + (self->mark && self->mark_byte == at ? self->mark_bit : 0);
  self->mark = 1;
  self->mark_byte = bit >> 3;
  self->mark_bit = (unsigned char)(bit & 7);
  return PyLong_FromUnsignedLongLong(v);
}

/* -- blocks -- */

/* bytes(n) and ascii(n): the result allocated first, when the data holds n
 * bytes; more than that fails before it writes, so a hostile count allocates
 * nothing. */
static PyObject *block(Reader *self, PyObject *arg, int ascii) {
  const char *where = ascii ? "ascii" : "bytes";
  uint64_t n;
  if (size_arg(arg, "n", &n) < 0) return NULL;
  HANDLE(ascii ? "ascii()" : "bytes()");
  PyObject *out = NULL;
  char stand_in, *dst = &stand_in;
  if (n <= F.tavbin_remaining(h) && n <= PY_SSIZE_T_MAX) {
    out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)n);
    if (out == NULL) return NULL;
    dst = PyBytes_AS_STRING(out);
    h = self->h; /* the allocation may have run a finaliser that closed it */
    if (h == NULL) {
      Py_DECREF(out);
      return closed((PyObject *)self, ascii ? "ascii()" : "bytes()");
    }
  }
  st s = ascii ? F.tavbin_ascii(h, dst, n) : F.tavbin_bytes(h, dst, n);
  if (s) {
    Py_XDECREF(out);
    return rfail(self, s, where, failed_at(self, h));
  }
  if (n == 0) self->mark = 0;
  return out != NULL ? out : PyBytes_FromStringAndSize(NULL, 0);
}
static PyObject *r_bytes(Reader *self, PyObject *arg) { return block(self, arg, 0); }
static PyObject *r_ascii(Reader *self, PyObject *arg) { return block(self, arg, 1); }

/* -- LEB128 -- */

static const char *const max_bytes_kw[] = {"max_bytes"};

static PyObject *r_leb128(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  PyObject *a[1];
  uint64_t limit;
  if (parse("leb128", args, nargs, kwnames, max_bytes_kw, 1, 0, a) < 0 ||
      size_opt(a[0], 10, "max_bytes", &limit) < 0)
    return NULL;
  HANDLE("leb128()");
  uint64_t v;
  st s = F.tavbin_leb128(h, &v, limit);
  if (s) return rfail(self, s, "leb128", failed_at(self, h));
  return PyLong_FromUnsignedLongLong(v);
}

static PyObject *r_sleb128(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  PyObject *a[1];
  uint64_t limit;
  if (parse("sleb128", args, nargs, kwnames, max_bytes_kw, 1, 0, a) < 0 ||
      size_opt(a[0], 10, "max_bytes", &limit) < 0)
    return NULL;
  HANDLE("sleb128()");
  uint64_t at = F.tavbin_tell(h), start = at, v;
  if (limit && partial(self, at)) {
    F.tavbin_bit_align(h);
    start = F.tavbin_tell(h);
  }
  st s = F.tavbin_leb128(h, &v, limit);
  if (s) return rfail(self, s, "sleb128", at);
  uint64_t n = F.tavbin_tell(h) - start;
  unsigned char last = self->data[start + n - 1];
  if (n == 10 && last != 0x00 && last != 0x7F) {
    /* Back to where the number began; a zero-byte read records the refusal. */
    (void)F.tavbin_seek(h, start);
    (void)F.tavbin_leb128(h, &v, 0);
    return rfail(self, TAVBIN_INVALID_ARG, "sleb128", at);
  }
  if (n < 10 && (last & 0x40)) v |= ~(uint64_t)0 << (7 * n);
  return PyLong_FromLongLong((long long)v);
}

/* A LEB128 number of at most max bytes at p[0..avail): its value and length,
 * or TAVBIN_EOF (the data ends first) or TAVBIN_INVALID_ARG (max bytes that all
 * continue, or a value above bits). Signed: sign-extended from bits. */
static st leb_parse(const unsigned char *p, uint64_t avail, unsigned max, unsigned bits, int is_signed,
                    uint64_t *value, unsigned *len) {
  uint64_t v = 0;
  *len = 0; /* 0 on failure, but for a value too large: its length */
  for (unsigned i = 0; i < max; i++) {
    if (i == avail) return TAVBIN_EOF;
    unsigned char b = p[i];
    unsigned shift = 7 * i;
    if (shift + 7 > bits) {
      /* The last byte the value may have: the bits above it must be clear
       * (unsigned) or copies of its top bit (signed), and nothing may follow. */
      if (b & 0x80) return TAVBIN_INVALID_ARG;
      unsigned used = bits - shift; /* value bits in this byte */
      unsigned char high = (unsigned char)(b & 0x7F) >> (is_signed ? used - 1 : used);
      unsigned char all = (unsigned char)(0x7F >> (is_signed ? used - 1 : used));
      if (!(high == 0 || (is_signed && high == all))) {
        *len = i + 1;
        return TAVBIN_INVALID_ARG;
      }
    }
    v |= (uint64_t)(b & 0x7F) << shift;
    if (!(b & 0x80)) {
      unsigned n = 7 * (i + 1);
      if (is_signed && n < 64 && (b & 0x40)) v |= ~(uint64_t)0 << n;
      if (bits < 64) {
        uint64_t mask = ((uint64_t)1 << bits) - 1;
        v = is_signed ? (uint64_t)(int64_t)(int32_t)(uint32_t)(v & mask) : v & mask;
      }
      *value = v;
      *len = i + 1;
      return TAVBIN_OK;
    }
  }
  return TAVBIN_INVALID_ARG;
}

/* leb128_u32() and sleb128_i32(): at most 5 bytes, the value within 32 bits;
 * refused, no byte of the number consumed, otherwise. */
static PyObject *leb32(Reader *self, int is_signed) {
  const char *where = is_signed ? "sleb128_i32" : "leb128_u32";
  HANDLE(is_signed ? "sleb128_i32()" : "leb128_u32()");
  uint64_t at = F.tavbin_tell(h);
  uint64_t pos = at + (partial(self, at) ? 1 : 0);
  uint64_t v;
  unsigned n;
  st s = pos <= self->size ? leb_parse(self->data + pos, self->size - pos, 5, 32, is_signed, &v, &n)
                           : TAVBIN_EOF;
  if (s) {
    /* As sleb128: a partly read byte is skipped first, and stays skipped. */
    if (pos != at) F.tavbin_bit_align(h);
    record(self, h, s);
    return rfail(self, s, where, at);
  }
  (void)F.tavbin_skip(h, n);
  if (is_signed) return PyLong_FromLong((long)(int32_t)(uint32_t)v);
  return PyLong_FromUnsignedLong((unsigned long)v);
}
static PyObject *r_leb128_u32(Reader *self, PyObject *unused) {
  (void)unused;
  return leb32(self, 0);
}
static PyObject *r_sleb128_i32(Reader *self, PyObject *unused) {
  (void)unused;
  return leb32(self, 1);
}

/* -- strings -- */

static const char *const max_len_kw[] = {"max_len"};

/* bytes(p[0..n)) from this reader's data: the allocation may run a finaliser
 * that closes the reader, so the bytes stay pinned (and the root alive) until
 * they are copied. */
static PyObject *copy_out(Reader *self, const unsigned char *p, uint64_t n) {
  Reader *root = self->root ? self->root : self;
  Py_INCREF(root);
  root->pins++;
  PyObject *out = PyBytes_FromStringAndSize((const char *)p, (Py_ssize_t)n);
  unpin(root);
  Py_DECREF(root);
  return out;
}

static PyObject *r_string_u32(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  PyObject *a[1];
  uint64_t limit;
  if (parse("string_u32", args, nargs, kwnames, max_len_kw, 1, 0, a) < 0 ||
      size_opt(a[0], U32_MAX, "max_len", &limit) < 0)
    return NULL;
  HANDLE("string_u32()");
  /* The destination is sized from the count itself, so only the C call's own
   * checks can fail it, and its status and cursor are the ones left behind. */
  uint32_t len = 0;
  st s = F.tavbin_peek_u32(h, &len);
  if (s) len = 0;
  PyObject *out = NULL;
  char stand_in, *dst = &stand_in;
  if (!s && len <= limit && (uint64_t)len + 4 <= F.tavbin_remaining(h)) {
    out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)len); /* room for len + 1 */
    if (out == NULL) return NULL;
    dst = PyBytes_AS_STRING(out);
    h = self->h;
    if (h == NULL) {
      Py_DECREF(out);
      return closed((PyObject *)self, "string_u32()");
    }
  }
  uint64_t got = 0;
  s = F.tavbin_string_u32(h, dst, (uint64_t)len + 1, limit, &got);
  if (s) {
    Py_XDECREF(out);
    return rfail(self, s, "string_u32", F.tavbin_tell(h));
  }
  if (out == NULL) return PyBytes_FromStringAndSize(NULL, 0);
  if (got != len && _PyBytes_Resize(&out, (Py_ssize_t)got) < 0) return NULL; /* a finaliser moved it */
  return out;
}

/* string_u8, string_u16, string_leb128: the count and the bytes read straight
 * from the data, then one skip over both; nothing moves on failure. */
static PyObject *prefixed(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                          const char *where, int kind, uint64_t dflt) {
  PyObject *a[1];
  uint64_t limit;
  if (parse(where, args, nargs, kwnames, max_len_kw, 1, 0, a) < 0 ||
      size_opt(a[0], dflt, "max_len", &limit) < 0)
    return NULL;
  char what[32];
  PyOS_snprintf(what, sizeof what, "%s()", where);
  HANDLE(what);
  uint64_t at = F.tavbin_tell(h);
  uint64_t pos = at + (partial(self, at) ? 1 : 0);
  uint64_t avail = pos <= self->size ? self->size - pos : 0;
  const unsigned char *p = self->data + (pos <= self->size ? pos : 0);
  uint64_t len = 0;
  unsigned head = kind == 0 ? 1 : kind == 1 ? 2 : 0;
  st s = TAVBIN_OK;
  if (kind == 2) {
    s = leb_parse(p, avail, 10, 64, 0, &len, &head);
    if (s) {
      /* As leb128() fails: its own call says so, the cursor back where the
       * number began. */
      if (s == TAVBIN_EOF || head == 0) {
        uint64_t unused;
        st again = F.tavbin_leb128(h, &unused, 10);
        if (again) return rfail(self, again, where, at);
      }
      record(self, h, s);
      return rfail(self, s, where, at);
    }
  } else if (avail < head) {
    s = TAVBIN_EOF;
  } else if (kind == 0) {
    len = p[0];
  } else {
    len = self->order == TAVBIN_LITTLE_ENDIAN ? (uint64_t)p[0] | (uint64_t)p[1] << 8
                                              : (uint64_t)p[1] | (uint64_t)p[0] << 8;
  }
  if (!s && len > limit) s = TAVBIN_TOO_LARGE;
  if (!s && len > avail - head) s = TAVBIN_EOF;
  if (s) {
    record(self, h, s);
    return rfail(self, s, where, at);
  }
  PyObject *out = copy_out(self, p + head, len);
  if (out == NULL) return NULL;
  /* Nothing has moved yet; the allocation may have closed or moved this reader,
   * so the skip is checked against what was copied. */
  if (self->h != h || F.tavbin_tell(h) != at) {
    Py_DECREF(out);
    if (self->h == NULL) return closed((PyObject *)self, what);
    PyErr_Format(PyExc_RuntimeError, "%s(): the reader moved during the call", where);
    return NULL;
  }
  (void)F.tavbin_skip(h, head + len);
  return out;
}

static PyObject *r_string_u8(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  return prefixed(self, args, nargs, kwnames, "string_u8", 0, 0xFF);
}
static PyObject *r_string_u16(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  return prefixed(self, args, nargs, kwnames, "string_u16", 1, 0xFFFF);
}
static PyObject *r_string_leb128(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  return prefixed(self, args, nargs, kwnames, "string_leb128", 2, UINT64_MAX);
}

static PyObject *r_cstring(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  PyObject *a[1];
  uint64_t limit;
  if (parse("cstring", args, nargs, kwnames, max_len_kw, 1, 1, a) < 0 ||
      size_arg(a[0], "max_len", &limit) < 0)
    return NULL;
  HANDLE("cstring()");
  uint64_t at = F.tavbin_tell(h);
  F.tavbin_bit_align(h);
  uint64_t pos = F.tavbin_tell(h), rem = F.tavbin_remaining(h);
  uint64_t window = limit < rem ? limit + 1 : rem;
  const unsigned char *first = self->data + pos;
  const unsigned char *nul = window ? memchr(first, 0, (size_t)window) : NULL;
  if (nul == NULL) {
    settle(self);
    if (limit < rem)
      return raise_error((PyObject *)self, NULL, TAVBIN_TOO_LARGE, "cstring", at, self->sub,
                         self->origin + at);
    return rfail(self, F.tavbin_skip(h, rem + 1), "cstring", at); /* records EOF */
  }
  uint64_t len = (uint64_t)(nul - first);
  (void)F.tavbin_skip(h, len + 1);
  /* The cursor has moved already: nothing below depends on the handle. */
  return copy_out(self, first, len);
}

static const char *const cstring_at_kw[] = {"offset", "max_len"};

static PyObject *r_cstring_at(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  PyObject *a[2];
  uint64_t offset, limit;
  if (parse("cstring_at", args, nargs, kwnames, cstring_at_kw, 2, 2, a) < 0 ||
      size_arg(a[0], "offset", &offset) < 0 || size_arg(a[1], "max_len", &limit) < 0)
    return NULL;
  HANDLE("cstring_at()");
  uint64_t at = F.tavbin_tell(h);
  if (offset > self->size) {
    uint8_t unused;
    return rfail(self, F.tavbin_u8_at(h, offset, &unused), "cstring_at", at); /* records RANGE */
  }
  uint64_t rem = self->size - offset;
  uint64_t window = limit < rem ? limit + 1 : rem;
  const unsigned char *first = self->data + offset;
  const unsigned char *nul = window ? memchr(first, 0, (size_t)window) : NULL;
  if (nul == NULL) {
    if (limit < rem)
      return raise_error((PyObject *)self, NULL, TAVBIN_TOO_LARGE, "cstring_at", at, self->sub,
                         self->origin + at);
    record(self, h, TAVBIN_EOF);
    return rfail(self, TAVBIN_EOF, "cstring_at", at);
  }
  return copy_out(self, first, (uint64_t)(nul - first));
}

/* -- sub-readers -- */

/* sub() of a subclass: its constructor is called, as the ctypes classes call
 * it, with a memoryview of the bytes, which keeps them exported. */
static PyObject *sub_of_subclass(Reader *self, uint64_t n) {
  tavbin_reader *h = self->h;
  uint64_t at = F.tavbin_tell(h);
  F.tavbin_bit_align(h);
  uint64_t pos = F.tavbin_tell(h);
  if (F.tavbin_remaining(h) < n) return rfail(self, F.tavbin_skip(h, n), "sub", at); /* records EOF */
  Reader *root = self->root ? self->root : self;
  Py_ssize_t start = (Py_ssize_t)(self->data - (const unsigned char *)root->view.buf) + (Py_ssize_t)pos;
  uint64_t origin = self->origin + pos;
  PyObject *whole = PyMemoryView_FromObject(root->view.obj);
  PyObject *bytes = whole ? PyObject_CallMethod(whole, "cast", "s", "B") : NULL;
  PyObject *slice = bytes ? PySequence_GetSlice(bytes, start, start + (Py_ssize_t)n) : NULL;
  Py_XDECREF(whole);
  Py_XDECREF(bytes);
  if (slice == NULL) return NULL;
  PyObject *part = PyObject_CallFunction((PyObject *)Py_TYPE(self), "OI", slice, (unsigned)self->order);
  Py_DECREF(slice);
  if (part == NULL) return NULL;
  h = self->h; /* the constructor may have closed this reader */
  if (h == NULL) {
    Py_DECREF(part);
    return closed((PyObject *)self, "sub()");
  }
  (void)F.tavbin_skip(h, n);
  self->mark = 0;
  if (PyObject_TypeCheck(part, &Reader_Type)) {
    ((Reader *)part)->origin = origin;
    ((Reader *)part)->sub = 1;
  }
  return part;
}

static PyObject *r_sub(Reader *self, PyObject *arg) {
  uint64_t n;
  if (size_arg(arg, "n", &n) < 0) return NULL;
  if (self->h == NULL) return closed((PyObject *)self, "sub()");
  PyTypeObject *type = Py_TYPE(self);
  if (type != &Reader_Type) return sub_of_subclass(self, n);
  /* Allocated before the handle is used: the allocation may run Python code. */
  Reader *part = (Reader *)type->tp_alloc(type, 0);
  if (part == NULL) return NULL;
  tavbin_reader *h = self->h;
  if (h == NULL) {
    Py_DECREF(part);
    return closed((PyObject *)self, "sub()");
  }
  uint64_t at = F.tavbin_tell(h);
  F.tavbin_bit_align(h);
  uint64_t pos = F.tavbin_tell(h);
  if (F.tavbin_remaining(h) < n) {
    Py_DECREF(part);
    return rfail(self, F.tavbin_skip(h, n), "sub", at); /* records EOF */
  }
  tavbin_reader *ph = F.tavbin_open(self->data + pos, n, self->order);
  if (ph == NULL) {
    Py_DECREF(part);
    PyObject *name = type_name((PyObject *)self);
    PyObject *r =
        name ? PyObject_CallFunction(py_open_failed, "OK", name, (unsigned long long)self->order) : NULL;
    Py_XDECREF(name);
    Py_XDECREF(r);
    return NULL;
  }
  (void)F.tavbin_skip(h, n);
  self->mark = 0;
  Reader *root = self->root ? self->root : self;
  Py_INCREF(root);
  root->pins++;
  part->root = root;
  part->h = ph;
  part->data = self->data + pos;
  part->size = n;
  part->origin = self->origin + pos;
  part->sub = 1;
  part->order = self->order;
  part->epoch = 1;
  return (PyObject *)part;
}

/* -- bulk values -- */

/* The kinds of Reader.array: name, array.array type code, width in bytes. The
 * codes are this platform's, handed over by bind(). */
static struct {
  const char *kind;
  PyObject *code;
  PyObject *proto; /* array(code, [0]) */
  PyObject *name;  /* kind, interned */
  uint64_t width;
} kinds[10] = {{"u8"}, {"i8"}, {"u16"}, {"i16"}, {"u32"}, {"i32"}, {"u64"}, {"i64"}, {"f32"}, {"f64"}};
static PyObject *array_code_fn; /* array_code(kind): the ValueError for an unknown kind */

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

static int kind_index(PyObject *kind) {
  for (int i = 0; i < 10; i++) /* a literal kind is the interned name */
    if (kind == kinds[i].name) return i;
  if (PyUnicode_Check(kind))
    for (int i = 0; i < 10; i++)
      if (PyUnicode_CompareWithASCIIString(kind, kinds[i].kind) == 0) return i;
  PyObject *r = PyObject_CallOneArg(array_code_fn, kind); /* raises ValueError */
  Py_XDECREF(r);
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "array_code took an unknown kind");
  return -1;
}

/* A new array of count values of kind k, its bytes to be written. A few: one
 * value repeated (no arguments to parse, nothing copied twice); more: from a
 * block of as many bytes, whose single copy costs less than a copy per value. */
static PyObject *new_array(int k, uint64_t count) {
  if (count <= 32) return PySequence_Repeat(kinds[k].proto, (Py_ssize_t)count);
  PyObject *raw = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)(count * kinds[k].width));
  if (raw == NULL) return NULL;
  PyObject *argv[2] = {kinds[k].code, raw};
  PyObject *out = PyObject_Vectorcall(array_type, argv, 2, NULL);
  Py_DECREF(raw);
  return out;
}

static PyObject *r_array(Reader *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  static const char *const names[] = {"kind", "count"};
  PyObject *a[2];
  if (parse("array", args, nargs, kwnames, names, 2, 2, a) < 0) return NULL;
  int k = kind_index(a[0]);
  if (k < 0) return NULL;
  uint64_t count;
  if (size_arg(a[1], "count", &count) < 0) return NULL;
  uint64_t width = kinds[k].width;
  uint64_t n = count > UINT64_MAX / width ? UINT64_MAX : count * width;
  HANDLE("array()");
  uint64_t at = F.tavbin_tell(h);
  if (n > F.tavbin_remaining(h) || n > PY_SSIZE_T_MAX) { /* fails before it writes or allocates */
    unsigned char stand_in;
    return rfail(self, F.tavbin_bytes(h, &stand_in, n), "array", at);
  }
  PyObject *out = new_array(k, count);
  Py_buffer view;
  if (out == NULL) return NULL;
  if (PyObject_GetBuffer(out, &view, PyBUF_WRITABLE) < 0) {
    Py_DECREF(out);
    return NULL;
  }
  h = self->h; /* the allocation may have run a finaliser that closed it */
  st s = h == NULL ? TAVBIN_INVALID_ARG : F.tavbin_bytes(h, view.len ? view.buf : &view, n);
  if (s == TAVBIN_OK) {
    if (n == 0) self->mark = 0;
#if PY_LITTLE_ENDIAN
    if (width > 1 && self->order != TAVBIN_LITTLE_ENDIAN) swap_values(view.buf, n, width);
#else
    if (width > 1 && self->order != TAVBIN_BIG_ENDIAN) swap_values(view.buf, n, width);
#endif
  }
  PyBuffer_Release(&view);
  if (s) {
    Py_DECREF(out);
    return rfail(self, s, "array", at);
  }
  return out;
}

/* -- records in struct's format language (_records.c) -- */

/* unpack(fmt): one block read into a copy, then the values from the copy, so
 * that nothing the conversion runs can see the reader's bytes move. */
static PyObject *r_unpack(Reader *self, PyObject *arg) {
  const struct rec_format *f;
  PyObject *compiled = rec_compile(arg, &f), *out = NULL;
  if (compiled == NULL) return NULL;
  uint8_t stack[256], *buf = stack;
  int big = rec_big(f, self->order != TAVBIN_LITTLE_ENDIAN);
  uint64_t n = (uint64_t)f->size;
  tavbin_reader *h = self->h;
  if (h == NULL) {
    closed((PyObject *)self, "unpack()");
    goto done;
  }
  uint64_t at = F.tavbin_tell(h);
  /* More than the data holds fails before it writes: nothing to allocate. */
  if (n > sizeof stack && n <= F.tavbin_remaining(h)) {
    buf = PyMem_Malloc((size_t)n);
    if (buf == NULL) {
      buf = stack;
      PyErr_NoMemory();
      goto done;
    }
  }
  st s = F.tavbin_bytes(h, buf, n);
  if (s) {
    rfail(self, s, "unpack", at);
  } else {
    if (n == 0) self->mark = 0;
    settle(self);
    out = rec_decode(f, buf, big);
  }
done:
  if (buf != stack) PyMem_Free(buf);
  Py_DECREF(compiled);
  return out;
}

/* unpack_many(fmt, count): the list and the copy allocated first (which may
 * run a finaliser that closes this reader), then one block read. */
static PyObject *r_unpack_many(Reader *self, PyObject *const *args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "unpack_many() takes two arguments, fmt and count");
    return NULL;
  }
  uint64_t count;
  if (size_arg(args[1], "count", &count) < 0) return NULL;
  const struct rec_format *f;
  PyObject *compiled = rec_compile(args[0], &f), *list = NULL;
  if (compiled == NULL) return NULL;
  uint64_t size = (uint64_t)f->size;
  uint64_t n = size && count > UINT64_MAX / size ? UINT64_MAX : count * size;
  uint8_t *buf = NULL;
  int big = rec_big(f, self->order != TAVBIN_LITTLE_ENDIAN);
  tavbin_reader *h = self->h;
  if (h == NULL) {
    closed((PyObject *)self, "unpack_many()");
    goto done;
  }
  uint64_t at = F.tavbin_tell(h);
  if (n > F.tavbin_remaining(h) || count > PY_SSIZE_T_MAX / sizeof(PyObject *)) {
    /* Fails before it writes (or, for a count no list can hold, reads nothing). */
    unsigned char stand_in;
    st s = n > 0 ? F.tavbin_bytes(h, &stand_in, n) : TAVBIN_OK;
    if (s)
      rfail(self, s, "unpack_many", at);
    else
      PyErr_NoMemory();
    goto done;
  }
  list = PyList_New((Py_ssize_t)count);
  buf = list != NULL ? PyMem_Malloc(n ? (size_t)n : 1) : NULL;
  if (buf == NULL) {
    if (list != NULL) PyErr_NoMemory();
    Py_CLEAR(list);
    goto done;
  }
  h = self->h; /* the allocations may have run a finaliser that closed it */
  st s = h == NULL ? TAVBIN_INVALID_ARG : F.tavbin_bytes(h, buf, n);
  if (s) {
    Py_CLEAR(list);
    rfail(self, s, "unpack_many", at);
    goto done;
  }
  if (n == 0) self->mark = 0;
  settle(self);
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
  Py_DECREF(compiled);
  return list;
}

/* -- LsbBits -- */

typedef struct {
  PyObject_HEAD Reader *reader;
  uint64_t epoch; /* the reader's open it belongs to */
  uint64_t start, bit;
  char open;
  PyObject *weakrefs;
} LsbBits;

static PyObject *lsb_new_for(PyTypeObject *type, Reader *reader) {
  LsbBits *self = (LsbBits *)type->tp_alloc(type, 0);
  if (self == NULL) return NULL;
  tavbin_reader *h = reader->h;
  if (h == NULL) {
    Py_DECREF(self);
    return closed((PyObject *)reader, "lsb_bits()");
  }
  uint64_t at = F.tavbin_tell(h);
  self->start = partial(reader, at) ? at + 1 : at;
  Py_INCREF(reader);
  self->reader = reader;
  self->epoch = reader->epoch;
  self->bit = 0;
  self->open = 1;
  return (PyObject *)self;
}

static PyObject *r_lsb_bits(Reader *self, PyObject *unused) {
  (void)unused;
  return lsb_new_for(&LsbBits_Type, self);
}

static PyObject *lsb_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  PyObject *reader;
  static char *kw[] = {"reader", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!:LsbBits", kw, &Reader_Type, &reader)) return NULL;
  return lsb_new_for(type, (Reader *)reader);
}

static int lsb_traverse(LsbBits *self, visitproc visit, void *arg) {
  Py_VISIT(self->reader);
  return 0;
}

static int lsb_clear(LsbBits *self) {
  Py_CLEAR(self->reader);
  return 0;
}

static void lsb_dealloc(LsbBits *self) {
  PyObject_GC_UnTrack(self);
  if (self->weakrefs != NULL) PyObject_ClearWeakRefs((PyObject *)self);
  Py_CLEAR(self->reader);
  Py_TYPE(self)->tp_free((PyObject *)self);
}

static int lsb_live(LsbBits *self) {
  return self->reader != NULL && self->reader->h != NULL && self->reader->epoch == self->epoch;
}

static PyObject *lsb_fail(LsbBits *self, st s, uint64_t byte) {
  Reader *r = self->reader; /* live */
  return raise_error((PyObject *)self, "LsbBits", s, "read", byte, r->sub, r->origin + byte);
}

static PyObject *lsb_read(LsbBits *self, PyObject *arg) {
  unsigned long long count;
  if (int_arg(arg, 0, U32_MAX, "count", &count) < 0) return NULL;
  if (!lsb_live(self)) {
    PyErr_SetString(PyExc_ValueError, "LsbBits.read() on a closed reader");
    return NULL;
  }
  Reader *r = self->reader;
  uint64_t byte = self->start + (self->bit >> 3);
  if (count < 1 || count > 64 || !self->open) return lsb_fail(self, TAVBIN_INVALID_ARG, byte);
  uint64_t end = self->start * 8 + self->bit + count;
  if (end > r->size * 8 || end < count) return lsb_fail(self, TAVBIN_EOF, byte);
  uint64_t last = (end + 7) >> 3;
  unsigned sh = (unsigned)(self->bit & 7);
  uint64_t lo = 0, hi = 0;
  for (uint64_t i = byte, j = 0; i < last; i++, j++) {
    if (j < 8)
      lo |= (uint64_t)r->data[i] << (8 * j);
    else
      hi = r->data[i];
  }
  uint64_t v = sh ? (lo >> sh) | (hi << (64 - sh)) : lo;
  if (count < 64) v &= ((uint64_t)1 << count) - 1;
  self->bit += count;
  return PyLong_FromUnsignedLongLong(v);
}

static PyObject *lsb_align(LsbBits *self, PyObject *unused) {
  (void)unused;
  self->bit = (self->bit + 7) & ~(uint64_t)7;
  Py_RETURN_NONE;
}

static PyObject *lsb_done(LsbBits *self, PyObject *unused) {
  (void)unused;
  if (!self->open) Py_RETURN_NONE;
  self->open = 0;
  uint64_t taken = (self->bit + 7) >> 3;
  if (taken && lsb_live(self)) {
    /* The skip also skips a byte the reader had partly read before. */
    (void)F.tavbin_skip(self->reader->h, taken);
    self->reader->mark = 0;
  }
  Py_RETURN_NONE;
}

static PyObject *self_enter(PyObject *self, PyObject *unused) {
  (void)unused;
  Py_INCREF(self);
  return self;
}

static PyObject *lsb_exit(LsbBits *self, PyObject *const *args, Py_ssize_t nargs) {
  (void)args;
  (void)nargs;
  return lsb_done(self, NULL);
}

static PyMethodDef lsb_methods[] = {
    {"read", (PyCFunction)lsb_read, METH_O,
     "read($self, count, /)\n--\n\nThe next count (1 to 64) bits, the first one read the least significant. "
     "InvalidArgError for a count of 0 or above 64, or after done(); EofError if fewer bits remain; nothing "
     "is consumed then. The error's offset is the byte the first bit would have come from. ValueError once "
     "the reader is closed."},
    {"align", (PyCFunction)lsb_align, METH_NOARGS,
     "align($self, /)\n--\n\nDrop the rest of a partly read byte."},
    {"done", (PyCFunction)lsb_done, METH_NOARGS,
     "done($self, /)\n--\n\nMove the reader past every byte a bit was taken from. Safe to repeat."},
    {"__enter__", (PyCFunction)self_enter, METH_NOARGS, "__enter__($self, /)\n--\n\n"},
    {"__exit__", (PyCFunction)(void (*)(void))lsb_exit, METH_FASTCALL,
     "__exit__($self, *exc)\n--\n\nCalls done()."},
    {NULL, NULL, 0, NULL},
};

/* -- life -- */

static PyObject *r_close(Reader *self, PyObject *unused) {
  (void)unused;
  reader_close_handle(self);
  Py_RETURN_NONE;
}

static PyObject *r_exit(Reader *self, PyObject *const *args, Py_ssize_t nargs) {
  (void)args;
  (void)nargs;
  return r_close(self, NULL);
}

static PyObject *reduce_ex(PyObject *self, PyObject *arg) {
  (void)arg;
  PyObject *name = type_name(self);
  if (name != NULL) PyErr_Format(PyExc_TypeError, "cannot copy or pickle a %U: it owns a C handle", name);
  Py_XDECREF(name);
  return NULL;
}

#define NOARGS(name, sig, doc)                                                                               \
  { #name, (PyCFunction)r_##name, METH_NOARGS, #name "($self, /)\n--\n\n" doc }
#define ONEARG(name, arg, doc)                                                                               \
  { #name, (PyCFunction)r_##name, METH_O, #name "($self, " arg ", /)\n--\n\n" doc }
#define KWARGS(name, sig, doc)                                                                               \
  { #name, (PyCFunction)(void (*)(void))r_##name, METH_FASTCALL | METH_KEYWORDS, #name sig "\n--\n\n" doc }
static PyMethodDef reader_methods[] = {
    NOARGS(u8, , "Read one byte, unsigned."),
    NOARGS(i8, , "Read one byte, two's complement signed."),
    NOARGS(u16, , "Read an unsigned 16-bit integer in the reader's byte order."),
    NOARGS(i16, , "Read a signed 16-bit integer in the reader's byte order."),
    NOARGS(u24, , "Read an unsigned 24-bit integer in the reader's byte order (as u16)."),
    NOARGS(i24, , "Read a signed 24-bit integer in the reader's byte order (as i16)."),
    NOARGS(u32, , "Read an unsigned 32-bit integer in the reader's byte order."),
    NOARGS(i32, , "Read a signed 32-bit integer in the reader's byte order."),
    NOARGS(f32, , "Read an IEEE 754 binary32 float (bit for bit, NaN payloads included)."),
    NOARGS(u64, , "Read an unsigned 64-bit integer in the reader's byte order."),
    NOARGS(i64, , "Read a signed 64-bit integer in the reader's byte order."),
    NOARGS(f64, , "Read an IEEE 754 binary64 float (bit for bit)."),
    NOARGS(peek_u8, , "The byte u8() would read now; the cursor does not move."),
    NOARGS(peek_u16, , "The value u16() would read now; the cursor does not move."),
    NOARGS(peek_u32, , "The value u32() would read now; the cursor does not move."),
    NOARGS(peek_u64, , "The value u64() would read now; the cursor does not move."),
    ONEARG(u8_at, "offset", "The byte at `offset`."),
    ONEARG(u16_at, "offset", "The unsigned 16-bit value at byte `offset`."),
    ONEARG(u32_at, "offset", "The unsigned 32-bit value at byte `offset`."),
    ONEARG(u64_at, "offset", "The unsigned 64-bit value at byte `offset`."),
    ONEARG(seek, "offset",
           "Move the cursor to byte `offset` (0 to size) and end any partly read byte. RangeError (recorded, "
           "cursor unchanged) if offset > size."),
    NOARGS(tell, , "Byte offset of the cursor. A partly read byte counts as not read."),
    NOARGS(remaining, , "Bytes from the cursor to the end (the bit position is ignored)."),
    NOARGS(origin, ,
           "Where this reader's first byte lies in the outermost input: 0 for a reader opened on its own "
           "data, the sum of the offsets its sub() calls began at for a sub-reader."),
    NOARGS(bit_align, , "Skip the rest of a partly read byte, if any. Records nothing."),
    ONEARG(
        set_endian, "order",
        "Change the byte order of what follows: the cursor does not move. InvalidArgError (recorded, order "
        "kept) if order is not BIG or LITTLE."),
    ONEARG(skip, "n", "Skip n bytes. EofError (recorded, cursor unchanged) if fewer remain."),
    ONEARG(bytes, "n", "Read a block of n bytes. EofError (recorded, nothing read) if fewer remain."),
    ONEARG(ascii, "n",
           "Read a fixed-length character field of n bytes, unchanged (no terminator is looked for or "
           "removed). EofError (recorded, nothing read) if fewer remain."),
    ONEARG(
        bits, "count",
        "Read a bit field of count (1 to 64) bits, most significant bit of each byte first; continues "
        "inside a partly read byte and ignores the byte order. InvalidArgError (recorded, cursor unchanged) "
        "for a count of 0 or above 64; EofError (recorded) if fewer bits remain, which are then all "
        "consumed."),
    KWARGS(
        leb128, "($self, max_bytes=10)",
        "Read an unsigned LEB128 number of at most max_bytes bytes (above 10 acts as 10). EofError if the "
        "data or max_bytes ends first, InvalidArgError for max_bytes 0 or ten bytes that all continue; the "
        "cursor is then back where the number began."),
    KWARGS(sleb128, "($self, max_bytes=10)",
           "Read a signed LEB128 number of at most max_bytes bytes, as leb128() reads an unsigned one. "
           "InvalidArgError also for a ten-byte number whose last byte is neither 0x00 nor 0x7F (it does not "
           "fit in 64 bits); on failure the cursor is back where the number began."),
    NOARGS(leb128_u32, ,
           "Read an unsigned LEB128 number of at most 5 bytes whose value fits in 32 bits. EofError if the "
           "data ends first; InvalidArgError for five bytes that all continue or a value of 2**32 or more. "
           "No byte of the number is consumed on failure (a partly read byte before it is skipped, as by "
           "leb128)."),
    NOARGS(sleb128_i32, ,
           "Read a signed LEB128 number of at most 5 bytes whose value fits in 32 bits (as leb128_u32)."),
    KWARGS(string_u32, "($self, max_len=4294967295)",
           "Read a string stored as a 32-bit byte count (reader's byte order) and that many bytes, returned "
           "unchanged. TooLargeError if the count exceeds max_len, EofError if the count or the bytes run "
           "out; the cursor is then unchanged."),
    KWARGS(string_u8, "($self, max_len=255)",
           "Read a string stored as an 8-bit byte count and that many bytes (as string_u32)."),
    KWARGS(string_u16, "($self, max_len=65535)",
           "Read a string stored as a 16-bit byte count (reader's byte order) and that many bytes (as "
           "string_u32)."),
    KWARGS(string_leb128, "($self, max_len=18446744073709551615)",
           "Read a string stored as an unsigned LEB128 byte count and that many bytes (as string_u32); a "
           "count that leb128() refuses is refused alike, and one above 64 bits is InvalidArgError."),
    KWARGS(
        cstring, "($self, max_len)",
        "Read a NUL-terminated string of at most max_len bytes (NUL not counted) and return it without the "
        "NUL, which is consumed too. TooLargeError (not recorded) if the next max_len + 1 bytes hold no "
        "NUL; EofError (recorded) if the data ends first without one. The cursor then stays (after the "
        "byte alignment)."),
    KWARGS(
        cstring_at, "($self, offset, max_len)",
        "The NUL-terminated string at byte `offset` (as cstring), the cursor unmoved. RangeError if offset "
        "> size; TooLargeError and EofError as cstring."),
    ONEARG(
        sub, "n",
        "A new reader over the next n bytes, in this reader's byte order, cursor at 0; this one moves past "
        "them. It shares the data (no copy) and keeps it borrowed while it is open. EofError (recorded, "
        "nothing moved after the byte alignment) if fewer than n bytes remain."),
    KWARGS(array, "($self, kind, count)",
           "Read count values of kind (\"u8\" \"i8\" \"u16\" \"i16\" \"u32\" \"i32\" \"u64\" \"i64\" \"f32\" "
           "\"f64\") in the reader's byte order, in one block read, as an array.array. EofError (recorded, "
           "nothing consumed, nothing allocated) if the data holds fewer; ValueError for any other kind."),
    NOARGS(lsb_bits, ,
           "Start reading bit fields least significant bit first (DEFLATE's order) at the cursor, after any "
           "partly read byte. The reader does not move until the result's done(), also called on leaving a "
           "with block."),
    {"unpack", (PyCFunction)r_unpack, METH_O,
     "unpack($self, fmt, /)\n--\n\nRead one record of the struct format fmt (str or bytes; its own <, > or ! "
     "else the reader's byte order, standard sizes, no alignment) and return its values as "
     "struct.unpack_from does. EofError (recorded, nothing read) if the data holds less."},
    {"unpack_many", (PyCFunction)(void (*)(void))r_unpack_many, METH_FASTCALL,
     "unpack_many($self, fmt, count, /)\n--\n\nRead count records of the struct format fmt in one block "
     "read, as a list of tuples (all or nothing, as unpack)."},
    NOARGS(close, , "Destroy the handle. Safe to repeat."),
    {"__enter__", (PyCFunction)self_enter, METH_NOARGS, "__enter__($self, /)\n--\n\n"},
    {"__exit__", (PyCFunction)(void (*)(void))r_exit, METH_FASTCALL,
     "__exit__($self, *exc)\n--\n\nCalls close()."},
    {"__reduce_ex__", (PyCFunction)reduce_ex, METH_O, "__reduce_ex__($self, protocol, /)\n--\n\n"},
    {NULL, NULL, 0, NULL},
};
#undef NOARGS
#undef ONEARG
#undef KWARGS

static PyGetSetDef reader_getset[] = {
    {"size", (getter)r_size, NULL, "Size of the data, in bytes.", NULL},
    {"last_error", (getter)r_last_error, NULL, "The last recorded status.", NULL},
    {"closed", (getter)r_closed, NULL, "True after close().", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

/* ------------------------------------------------------------------------ */
/* Writer */

typedef struct {
  PyObject_HEAD tavbin_writer *h;
  uint32_t order;
  PyObject *weakrefs;
} Writer;

#define WHANDLE(where)                                                                                       \
  tavbin_writer *h = self->h;                                                                                \
  if (h == NULL) return closed((PyObject *)self, where)

static PyObject *wfail(Writer *self, st status, const char *where, uint64_t offset) {
  if (self->h == NULL) {
    char what[64];
    PyOS_snprintf(what, sizeof what, "%s()", where);
    return closed((PyObject *)self, what);
  }
  return raise_error((PyObject *)self, NULL, status, where, offset, 0, 0);
}

static void writer_close_handle(Writer *self) {
  tavbin_writer *h = self->h;
  self->h = NULL;
  if (h != NULL) F.tavbinw_close(h);
}

static int writer_open(Writer *self, PyObject *cap_o, PyObject *order_o) {
  uint64_t cap = 0;
  unsigned long long order = TAVBIN_BIG_ENDIAN;
  if (cap_o != NULL && size_arg(cap_o, "initial_cap", &cap) < 0) return -1;
  if (order_o != NULL && int_arg(order_o, 0, U32_MAX, "order", &order) < 0) return -1;
  writer_close_handle(self);
  tavbin_writer *h = F.tavbinw_open(cap, (tavbin_endian)order);
  if (h == NULL) {
    PyObject *name = type_name((PyObject *)self);
    PyObject *r = name ? PyObject_CallFunction(py_open_failed, "OK", name, order) : NULL;
    Py_XDECREF(name);
    Py_XDECREF(r);
    return -1;
  }
  self->h = h;
  self->order = (uint32_t)order;
  return 0;
}

static const char *const writer_kw[] = {"initial_cap", "order"};

static int writer_init(Writer *self, PyObject *args, PyObject *kwargs) {
  PyObject *a[2] = {NULL, NULL};
  static char *kw[] = {"initial_cap", "order", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:Writer", kw, &a[0], &a[1])) return -1;
  return writer_open(self, a[0], a[1]);
}

static PyObject *writer_vectorcall(PyObject *type, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
  PyObject *a[2];
  if (parse("Writer", args, PyVectorcall_NARGS(nargsf), kwnames, writer_kw, 2, 0, a) < 0) return NULL;
  Writer *self = (Writer *)((PyTypeObject *)type)->tp_alloc((PyTypeObject *)type, 0);
  if (self == NULL) return NULL;
  if (writer_open(self, a[0], a[1]) < 0) {
    Py_DECREF(self);
    return NULL;
  }
  return (PyObject *)self;
}

static void writer_dealloc(Writer *self) {
  if (self->weakrefs != NULL) PyObject_ClearWeakRefs((PyObject *)self);
  writer_close_handle(self);
  Py_TYPE(self)->tp_free((PyObject *)self);
}

#define APPEND_INT(name, T, lo, hi)                                                                          \
  static PyObject *w_##name(Writer *self, PyObject *arg) {                                                   \
    unsigned long long v;                                                                                    \
    if (int_arg(arg, lo, hi, "value", &v) < 0) return NULL;                                                  \
    WHANDLE(#name "()");                                                                                     \
    st s = F.tavbinw_##name(h, (T)v);                                                                        \
    if (s) return wfail(self, s, #name, F.tavbinw_len(h));                                                   \
    Py_RETURN_NONE;                                                                                          \
  }
APPEND_INT(u8, uint8_t, 0, UINT8_MAX)
APPEND_INT(u16, uint16_t, 0, UINT16_MAX)
APPEND_INT(i16, int16_t, INT16_MIN, INT16_MAX)
APPEND_INT(u32, uint32_t, 0, UINT32_MAX)
APPEND_INT(i32, int32_t, INT32_MIN, INT32_MAX)
APPEND_INT(u64, uint64_t, 0, UINT64_MAX)
APPEND_INT(i64, int64_t, INT64_MIN, INT64_MAX)
APPEND_INT(leb128, uint64_t, 0, UINT64_MAX)

#define APPEND_FLOAT(name, T, binary32)                                                                      \
  static PyObject *w_##name(Writer *self, PyObject *arg) {                                                   \
    double v;                                                                                                \
    if (float_arg(arg, binary32, &v) < 0) return NULL;                                                       \
    WHANDLE(#name "()");                                                                                     \
    st s = F.tavbinw_##name(h, (T)v);                                                                        \
    if (s) return wfail(self, s, #name, F.tavbinw_len(h));                                                   \
    Py_RETURN_NONE;                                                                                          \
  }
APPEND_FLOAT(f32, float, 1)
APPEND_FLOAT(f64, double, 0)

/* One append of n bytes from p. */
static PyObject *append(Writer *self, const void *p, uint64_t n, const char *where) {
  char what[32];
  PyOS_snprintf(what, sizeof what, "%s()", where);
  WHANDLE(what);
  st s = F.tavbinw_bytes(h, n ? p : "", n);
  if (s) return wfail(self, s, where, F.tavbinw_len(h));
  Py_RETURN_NONE;
}

static PyObject *put3(Writer *self, PyObject *arg, long low, const char *where) {
  PyObject *index = PyNumber_Index(arg);
  if (index == NULL) return NULL;
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(index, &overflow);
  Py_DECREF(index);
  if (v == -1 && PyErr_Occurred()) return NULL;
  if (overflow || v < low || v >= low + 0x1000000) {
    char what[16];
    PyOS_snprintf(what, sizeof what, "%s()", where);
    WHANDLE(what);
    return raise_error((PyObject *)self, NULL, TAVBIN_RANGE, where, F.tavbinw_len(h), 0, 0);
  }
  unsigned long u = (unsigned long)v & 0xFFFFFF;
  unsigned char b[3];
  if (self->order == TAVBIN_LITTLE_ENDIAN) {
    b[0] = (unsigned char)u, b[1] = (unsigned char)(u >> 8), b[2] = (unsigned char)(u >> 16);
  } else {
    b[2] = (unsigned char)u, b[1] = (unsigned char)(u >> 8), b[0] = (unsigned char)(u >> 16);
  }
  return append(self, b, 3, where);
}
static PyObject *w_u24(Writer *self, PyObject *arg) { return put3(self, arg, 0, "u24"); }
static PyObject *w_i24(Writer *self, PyObject *arg) { return put3(self, arg, -0x800000, "i24"); }

static unsigned leb_encode(uint64_t v, unsigned char *out) {
  unsigned n = 0;
  do {
    unsigned char group = v & 0x7F;
    v >>= 7;
    out[n++] = group | (v ? 0x80 : 0);
  } while (v);
  return n;
}

static PyObject *w_sleb128(Writer *self, PyObject *arg) {
  unsigned long long u;
  if (int_arg(arg, INT64_MIN, INT64_MAX, "value", &u) < 0) return NULL;
  int64_t v = (int64_t)u;
  unsigned char out[10];
  unsigned n = 0;
  for (;;) {
    unsigned char group = (unsigned char)(v & 0x7F);
    v >>= 7; /* arithmetic: the sign stays */
    if (v == ((group & 0x40) ? -1 : 0)) {
      out[n++] = group;
      break;
    }
    out[n++] = group | 0x80;
  }
  return append(self, out, n, "sleb128");
}

static PyObject *w_bytes(Writer *self, PyObject *arg) {
  Py_buffer view;
  if (borrow(arg, &view) < 0) return NULL;
  PyObject *r = append(self, view.buf, (uint64_t)view.len, "bytes");
  PyBuffer_Release(&view);
  return r;
}

static PyObject *w_string_u32(Writer *self, PyObject *arg) {
  Py_buffer view;
  if (borrow(arg, &view) < 0) return NULL;
  tavbin_writer *h = self->h;
  PyObject *r;
  if (h == NULL) {
    r = closed((PyObject *)self, "string_u32()");
  } else {
    st s = F.tavbinw_string_u32(h, view.len ? view.buf : "", (uint64_t)view.len);
    r = s ? wfail(self, s, "string_u32", F.tavbinw_len(h)) : (Py_INCREF(Py_None), Py_None);
  }
  PyBuffer_Release(&view);
  return r;
}

/* string_u8, string_u16, string_leb128: the count and the bytes in one append,
 * so that nothing is appended on failure. A length the prefix cannot hold is
 * TooLargeError, recorded as string_u32 records it. */
static PyObject *w_prefixed(Writer *self, PyObject *arg, int kind, const char *where) {
  Py_buffer view;
  if (borrow(arg, &view) < 0) return NULL;
  uint64_t n = (uint64_t)view.len;
  unsigned char head[10], stack[256];
  unsigned hn;
  int too_long = 0;
  if (kind == 0) {
    too_long = n > 0xFF;
    head[0] = (unsigned char)n;
    hn = 1;
  } else if (kind == 1) {
    too_long = n > 0xFFFF;
    if (self->order == TAVBIN_LITTLE_ENDIAN)
      head[0] = (unsigned char)n, head[1] = (unsigned char)(n >> 8);
    else
      head[1] = (unsigned char)n, head[0] = (unsigned char)(n >> 8);
    hn = 2;
  } else {
    hn = leb_encode(n, head);
  }
  unsigned char *joined = stack;
  if (!too_long && hn + n > sizeof stack) {
    joined = PyMem_Malloc((size_t)(hn + n));
    if (joined == NULL) {
      PyBuffer_Release(&view);
      return PyErr_NoMemory();
    }
  }
  PyObject *r;
  char what[32];
  PyOS_snprintf(what, sizeof what, "%s()", where);
  tavbin_writer *h = self->h;
  if (h == NULL) {
    r = closed((PyObject *)self, what);
  } else if (too_long) {
    /* Recorded through the one call that refuses a length: string_u32's. */
    static const char one = 0;
    (void)F.tavbinw_string_u32(h, &one, (uint64_t)U32_MAX + 1);
    r = wfail(self, TAVBIN_TOO_LARGE, where, F.tavbinw_len(h));
  } else {
    memcpy(joined, head, hn);
    if (n) memcpy(joined + hn, view.buf, (size_t)n);
    r = append(self, joined, hn + n, where);
  }
  if (joined != stack) PyMem_Free(joined);
  PyBuffer_Release(&view);
  return r;
}
static PyObject *w_string_u8(Writer *self, PyObject *arg) { return w_prefixed(self, arg, 0, "string_u8"); }
static PyObject *w_string_u16(Writer *self, PyObject *arg) { return w_prefixed(self, arg, 1, "string_u16"); }
static PyObject *w_string_leb128(Writer *self, PyObject *arg) {
  return w_prefixed(self, arg, 2, "string_leb128");
}

static PyObject *w_patch(Writer *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, int width,
                         unsigned long long high, const char *where) {
  static const char *const names[] = {"offset", "value"};
  PyObject *a[2];
  if (parse(where, args, nargs, kwnames, names, 2, 2, a) < 0) return NULL;
  unsigned long long value;
  uint64_t offset;
  if (int_arg(a[1], 0, high, "value", &value) < 0 || size_arg(a[0], "offset", &offset) < 0) return NULL;
  char what[16];
  PyOS_snprintf(what, sizeof what, "%s()", where);
  WHANDLE(what);
  uint64_t size = F.tavbinw_len(h);
  if (offset > size || size - offset < (uint64_t)width)
    return raise_error((PyObject *)self, NULL, TAVBIN_RANGE, where, size, 0, 0);
  /* The writer's own bytes, written in place with no Python code in between. */
  void *at = (unsigned char *)(uintptr_t)F.tavbinw_data(h) + offset;
  st s = width == 2   ? F.tavbin_store_u16(at, size - offset, self->order, (uint16_t)value)
         : width == 4 ? F.tavbin_store_u32(at, size - offset, self->order, (uint32_t)value)
                      : F.tavbin_store_u64(at, size - offset, self->order, (uint64_t)value);
  if (s) return wfail(self, s, where, size);
  Py_RETURN_NONE;
}
static PyObject *w_patch_u16(Writer *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  return w_patch(self, args, nargs, kwnames, 2, 0xFFFF, "patch_u16");
}
static PyObject *w_patch_u32(Writer *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  return w_patch(self, args, nargs, kwnames, 4, U32_MAX, "patch_u32");
}
static PyObject *w_patch_u64(Writer *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  return w_patch(self, args, nargs, kwnames, 8, UINT64_MAX, "patch_u64");
}

static PyObject *w_array(Writer *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
  static const char *const names[] = {"kind", "values"};
  PyObject *a[2];
  if (parse("array", args, nargs, kwnames, names, 2, 2, a) < 0) return NULL;
  int k = kind_index(a[0]);
  if (k < 0) return NULL;
  int is_float = kinds[k].kind[0] == 'f';
  int binary32 = is_float && kinds[k].width == 4;
  PyObject *it = PyObject_GetIter(a[1]);
  if (it == NULL) return NULL;
  PyObject *list = PyList_New(0), *item;
  while (list != NULL && (item = PyIter_Next(it)) != NULL) {
    PyObject *v;
    if (is_float) {
      double d;
      v = float_arg(item, binary32, &d) < 0 ? NULL : PyFloat_FromDouble(d);
    } else {
      v = PyNumber_Index(item);
    }
    Py_DECREF(item);
    if (v == NULL || PyList_Append(list, v) < 0) Py_CLEAR(list);
    Py_XDECREF(v);
  }
  Py_DECREF(it);
  if (list == NULL || PyErr_Occurred()) {
    Py_XDECREF(list);
    return NULL;
  }
  PyObject *argv[2] = {kinds[k].code, list};
  PyObject *block = PyObject_Vectorcall(array_type, argv, 2, NULL); /* OverflowError out of range */
  Py_DECREF(list);
  if (block == NULL) return NULL;
  Py_buffer view;
  if (PyObject_GetBuffer(block, &view, PyBUF_WRITABLE) < 0) {
    Py_DECREF(block);
    return NULL;
  }
#if PY_LITTLE_ENDIAN
  if (kinds[k].width > 1 && self->order != TAVBIN_LITTLE_ENDIAN)
#else
  if (kinds[k].width > 1 && self->order != TAVBIN_BIG_ENDIAN)
#endif
    swap_values(view.buf, (uint64_t)view.len, kinds[k].width);
  PyObject *r = append(self, view.buf, (uint64_t)view.len, "array");
  PyBuffer_Release(&view);
  Py_DECREF(block);
  return r;
}

static PyObject *w_getvalue(Writer *self, PyObject *unused) {
  (void)unused;
  for (;;) {
    WHANDLE("getvalue()");
    uint64_t n = F.tavbinw_len(h);
    if (n > PY_SSIZE_T_MAX) return PyErr_NoMemory();
    PyObject *out = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)n);
    if (out == NULL) return NULL;
    /* The allocation may have run code that appended (the buffer moved) or
     * closed this writer: the pointer is taken only now. */
    h = self->h;
    if (h != NULL && F.tavbinw_len(h) == n) {
      if (n) memcpy(PyBytes_AS_STRING(out), F.tavbinw_data(h), (size_t)n);
      return out;
    }
    Py_DECREF(out);
  }
}

static Py_ssize_t w_length(Writer *self) {
  tavbin_writer *h = self->h;
  if (h == NULL) {
    closed((PyObject *)self, "len()");
    return -1;
  }
  return (Py_ssize_t)F.tavbinw_len(h);
}

static PyObject *w_set_endian(Writer *self, PyObject *arg) {
  unsigned long long order;
  if (int_arg(arg, 0, U32_MAX, "order", &order) < 0) return NULL;
  WHANDLE("set_endian()");
  st s = F.tavbinw_set_endian(h, (tavbin_endian)order);
  if (s) return wfail(self, s, "set_endian", F.tavbinw_len(h));
  self->order = (uint32_t)order;
  Py_RETURN_NONE;
}

static PyObject *w_last_error(Writer *self, void *closure) {
  (void)closure;
  WHANDLE("last_error");
  return status_object(F.tavbinw_last_error(h));
}

static PyObject *w_closed(Writer *self, void *closure) {
  (void)closure;
  return PyBool_FromLong(self->h == NULL);
}

static PyObject *w_close(Writer *self, PyObject *unused) {
  (void)unused;
  writer_close_handle(self);
  Py_RETURN_NONE;
}

static PyObject *w_exit(Writer *self, PyObject *const *args, Py_ssize_t nargs) {
  (void)args;
  (void)nargs;
  return w_close(self, NULL);
}

/* pack(fmt, *values): the values converted first (which may run Python code),
 * then one append, so that a refusal appends nothing. */
static PyObject *w_pack(Writer *self, PyObject *const *args, Py_ssize_t nargs) {
  if (nargs < 1) {
    PyErr_SetString(PyExc_TypeError, "pack() takes a format and its values");
    return NULL;
  }
  const struct rec_format *f;
  PyObject *compiled = rec_compile(args[0], &f), *out = NULL;
  if (compiled == NULL) return NULL;
  uint8_t stack[256], *buf = stack;
  int big = rec_big(f, self->order != TAVBIN_LITTLE_ENDIAN);
  if ((size_t)f->size > sizeof stack && (buf = PyMem_Malloc((size_t)f->size)) == NULL) {
    buf = stack;
    PyErr_NoMemory();
    goto done;
  }
  if (rec_encode(f, big, args + 1, nargs - 1, buf) < 0) goto done;
  out = append(self, buf, (uint64_t)f->size, "pack");
done:
  if (buf != stack) PyMem_Free(buf);
  Py_DECREF(compiled);
  return out;
}

#define ONEARG(name, doc)                                                                                    \
  { #name, (PyCFunction)w_##name, METH_O, #name "($self, value, /)\n--\n\n" doc }
#define DATAARG(name, doc)                                                                                   \
  { #name, (PyCFunction)w_##name, METH_O, #name "($self, data, /)\n--\n\n" doc }
#define PATCH(name, doc)                                                                                     \
  {                                                                                                          \
#name, (PyCFunction)(void (*)(void))w_##name, METH_FASTCALL | METH_KEYWORDS,                             \
        #name "($self, offset, value)\n--\n\n" doc                                                           \
  }
static PyMethodDef writer_methods[] = {
    ONEARG(u8, "Append one byte, 0 to 255."),
    ONEARG(u16, "Append an unsigned 16-bit integer in the writer's byte order."),
    ONEARG(i16, "Append a signed 16-bit integer in the writer's byte order."),
    ONEARG(u24, "Append an unsigned 24-bit integer in the writer's byte order. RangeError (nothing appended, "
                "not recorded) outside 0 to 0xFFFFFF."),
    ONEARG(i24,
           "Append a signed 24-bit integer in the writer's byte order. RangeError (nothing appended, not "
           "recorded) outside -0x800000 to 0x7FFFFF."),
    ONEARG(u32, "Append an unsigned 32-bit integer in the writer's byte order."),
    ONEARG(i32, "Append a signed 32-bit integer in the writer's byte order."),
    ONEARG(u64, "Append an unsigned 64-bit integer in the writer's byte order."),
    ONEARG(i64, "Append a signed 64-bit integer in the writer's byte order."),
    ONEARG(leb128, "Append an unsigned LEB128 number, 0 to 2**64 - 1, in its shortest form."),
    ONEARG(sleb128, "Append a signed LEB128 number, -2**63 to 2**63 - 1, in its shortest form."),
    ONEARG(f32, "Append a float as IEEE 754 binary32, rounded to nearest. OverflowError if a finite value is "
                "too large for binary32; infinities and NaN pass."),
    ONEARG(f64, "Append a float as IEEE 754 binary64, bit for bit."),
    DATAARG(bytes, "Append the bytes of any bytes-like object, unchanged."),
    DATAARG(string_u32, "Append a 32-bit byte count (writer's byte order) and the bytes of `data`, unchanged "
                        "and without a terminator. TooLargeError (recorded, nothing appended) for more than "
                        "0xFFFFFFFF bytes."),
    DATAARG(string_u8, "Append an 8-bit byte count and the bytes of `data` (as string_u32); TooLargeError "
                       "(recorded, nothing appended) for more than 255 bytes."),
    DATAARG(string_u16, "Append a 16-bit byte count (writer's byte order) and the bytes of `data` (as "
                        "string_u32); TooLargeError (recorded, nothing appended) for more than 65535 bytes."),
    DATAARG(string_leb128, "Append an unsigned LEB128 byte count and the bytes of `data` (as string_u32)."),
    {"array", (PyCFunction)(void (*)(void))w_array, METH_FASTCALL | METH_KEYWORDS,
     "array($self, kind, values)\n--\n\nAppend values of kind (\"u8\" \"i8\" \"u16\" \"i16\" \"u32\" \"i32\" "
     "\"u64\" \"i64\" \"f32\" \"f64\") in the writer's byte order, in one append: all or nothing. A value "
     "out "
     "of range raises OverflowError, one of the wrong type TypeError, before anything is appended; "
     "ValueError for any other kind."},
    PATCH(patch_u16, "Overwrite the 16-bit value at byte `offset` of what was written, in the writer's byte "
                     "order. RangeError (nothing written, not recorded) unless it lies wholly inside the "
                     "written bytes."),
    PATCH(patch_u32, "Overwrite a 32-bit value already written (as patch_u16)."),
    PATCH(patch_u64, "Overwrite a 64-bit value already written (as patch_u16)."),
    {"pack", (PyCFunction)(void (*)(void))w_pack, METH_FASTCALL,
     "pack($self, fmt, /, *values)\n--\n\nAppend the bytes struct.pack gives for values in the format fmt, "
     "in "
     "one append."},
    {"getvalue", (PyCFunction)w_getvalue, METH_NOARGS,
     "getvalue($self, /)\n--\n\nA copy of the bytes written so far."},
    {"set_endian", (PyCFunction)w_set_endian, METH_O,
     "set_endian($self, order, /)\n--\n\nChange the byte order of what follows; bytes already written stay "
     "as "
     "they are. InvalidArgError (recorded, order kept) if order is not BIG or LITTLE."},
    {"close", (PyCFunction)w_close, METH_NOARGS,
     "close($self, /)\n--\n\nDestroy the handle. Safe to repeat."},
    {"__enter__", (PyCFunction)self_enter, METH_NOARGS, "__enter__($self, /)\n--\n\n"},
    {"__exit__", (PyCFunction)(void (*)(void))w_exit, METH_FASTCALL,
     "__exit__($self, *exc)\n--\n\nCalls close()."},
    {"__reduce_ex__", (PyCFunction)reduce_ex, METH_O, "__reduce_ex__($self, protocol, /)\n--\n\n"},
    {NULL, NULL, 0, NULL},
};
#undef ONEARG
#undef DATAARG
#undef PATCH

static PyGetSetDef writer_getset[] = {
    {"last_error", (getter)w_last_error, NULL, "The last recorded status.", NULL},
    {"closed", (getter)w_closed, NULL, "True after close().", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

static PySequenceMethods writer_sequence = {.sq_length = (lenfunc)w_length};

/* ------------------------------------------------------------------------ */
/* Types */

static PyTypeObject Reader_Type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "tavbin.Reader",
    .tp_basicsize = sizeof(Reader),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    .tp_doc =
        "Reader(data, order=BIG)\n--\n\n"
        "A cursor over bytes you own: fixed-width integers and floats in a chosen byte order, blocks, "
        "length-prefixed and NUL-terminated strings, unsigned and signed LEB128, bit fields in either bit "
        "order, sub-readers, bulk values, peeks and reads at absolute offsets. It never reads outside "
        "`data`. Every method is compiled (see tavbin's documentation for the behaviour, which the ctypes "
        "path shares).",
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)reader_init,
    .tp_dealloc = (destructor)reader_dealloc,
    .tp_traverse = (traverseproc)reader_traverse,
    .tp_clear = (inquiry)reader_clear,
    .tp_methods = reader_methods,
    .tp_getset = reader_getset,
    .tp_weaklistoffset = offsetof(Reader, weakrefs),
    .tp_vectorcall = reader_vectorcall,
};

static PyTypeObject Writer_Type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "tavbin.Writer",
    .tp_basicsize = sizeof(Writer),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = "Writer(initial_cap=0, order=BIG)\n--\n\n"
              "A buffer that grows as you append: integers and floats in a chosen byte order, blocks, "
              "length-prefixed strings and LEB128. Every method is compiled.",
    .tp_new = PyType_GenericNew,
    .tp_init = (initproc)writer_init,
    .tp_dealloc = (destructor)writer_dealloc,
    .tp_methods = writer_methods,
    .tp_getset = writer_getset,
    .tp_as_sequence = &writer_sequence,
    .tp_weaklistoffset = offsetof(Writer, weakrefs),
    .tp_vectorcall = writer_vectorcall,
};

static PyTypeObject LsbBits_Type = {
    PyVarObject_HEAD_INIT(NULL, 0).tp_name = "tavbin.LsbBits",
    .tp_basicsize = sizeof(LsbBits),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    .tp_doc =
        "LsbBits(reader)\n--\n\n"
        "Bit fields read least significant bit first, from the bytes at a reader's cursor: read(count), "
        "align(), and done(), which moves the reader past every byte a bit was taken from. A context "
        "manager whose exit calls done(). Its failures are not recorded in the reader's last_error. Read "
        "nothing else from the reader until done().",
    .tp_new = lsb_tp_new,
    .tp_dealloc = (destructor)lsb_dealloc,
    .tp_traverse = (traverseproc)lsb_traverse,
    .tp_clear = (inquiry)lsb_clear,
    .tp_methods = lsb_methods,
    .tp_weaklistoffset = offsetof(LsbBits, weakrefs),
};

/* ------------------------------------------------------------------------ */
/* Module */

/* bind(addresses, error, open_failed, check_int, check_float, status, codes,
 * array_type, array_code): addresses maps each function's name to its address
 * in the loaded module, codes each array kind to its type code. Once per process. */
static PyObject *bind(PyObject *module, PyObject *args) {
  (void)module;
  PyObject *addresses, *err, *of, *ci, *cf, *stt, *codes, *at, *ac;
  if (!PyArg_ParseTuple(args, "O!OOOOOO!OO:bind", &PyDict_Type, &addresses, &err, &of, &ci, &cf, &stt,
                        &PyDict_Type, &codes, &at, &ac))
    return NULL;
  if (bound) {
    PyErr_SetString(PyExc_RuntimeError, "bind() was already called");
    return NULL;
  }
  for (size_t i = 0; i < TABLE_SIZE; i++) {
    PyObject *a = PyDict_GetItemString(addresses, TABLE[i].name);
    void *p = a ? PyLong_AsVoidPtr(a) : NULL;
    if (p == NULL) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_KeyError, "no address for %s", TABLE[i].name);
      return NULL;
    }
    memcpy((char *)&F + TABLE[i].offset, &p, sizeof p);
  }
  for (int i = 0; i < 10; i++) {
    PyObject *code = PyDict_GetItemString(codes, kinds[i].kind);
    if (code == NULL || !PyUnicode_Check(code)) {
      PyErr_Format(PyExc_KeyError, "no type code for %s", kinds[i].kind);
      return NULL;
    }
    Py_INCREF(code);
    kinds[i].code = code;
    const char *bits = kinds[i].kind + 1; /* "8", "16", "32" or "64" */
    kinds[i].width = bits[1] ? (uint64_t)((bits[0] - '0') * 10 + (bits[1] - '0')) / 8 : 1;
    kinds[i].name = PyUnicode_InternFromString(kinds[i].kind);
    if (kinds[i].name == NULL) return NULL;
    kinds[i].proto = PyObject_CallFunction(at, "O[i]", code, 0);
    if (kinds[i].proto == NULL) return NULL;
  }
  for (int s = 0; s < 6; s++) {
    statuses[s] = PyObject_CallFunction(stt, "i", s);
    if (statuses[s] == NULL) return NULL;
  }
  Py_INCREF(err), py_error = err;
  Py_INCREF(of), py_open_failed = of;
  Py_INCREF(ci), py_check_int = ci;
  Py_INCREF(cf), py_check_float = cf;
  Py_INCREF(stt), py_status = stt;
  Py_INCREF(at), array_type = at;
  Py_INCREF(ac), array_code_fn = ac;
  bound = 1;
  Py_RETURN_NONE;
}

/* declarations(): (name, return type, parameter types) of each function used,
 * as this file spells them, for the declarations test. */
static PyObject *declarations(PyObject *module, PyObject *unused) {
  (void)module;
  (void)unused;
  PyObject *out = PyList_New(0);
  for (size_t i = 0; out != NULL && i < TABLE_SIZE; i++) {
    PyObject *row = Py_BuildValue("(sss)", TABLE[i].name, TABLE[i].ret, TABLE[i].params);
    if (row == NULL || PyList_Append(out, row) < 0) Py_CLEAR(out);
    Py_XDECREF(row);
  }
  return out;
}

static PyMethodDef module_methods[] = {
    {"bind", bind, METH_VARARGS,
     "bind(addresses, error, open_failed, check_int, check_float, status, codes, array_type, "
     "array_code)\n--\n\n"
     "Hand the module the addresses of the C functions and the package's helpers."},
    {"declarations", declarations, METH_NOARGS,
     "declarations()\n--\n\nThe name, return type and parameter types of every C function this module "
     "calls."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                                        "tavbin._speedups",
                                        "The compiled Reader, Writer and LsbBits.",
                                        -1,
                                        module_methods,
                                        NULL,
                                        NULL,
                                        NULL,
                                        NULL};

PyMODINIT_FUNC PyInit__speedups(void) {
  if (PyType_Ready(&Reader_Type) < 0 || PyType_Ready(&Writer_Type) < 0 || PyType_Ready(&LsbBits_Type) < 0)
    return NULL;
  PyObject *m = PyModule_Create(&module_def);
  if (m == NULL) return NULL;
  Py_INCREF(&Reader_Type);
  Py_INCREF(&Writer_Type);
  Py_INCREF(&LsbBits_Type);
  if (PyModule_AddObject(m, "Reader", (PyObject *)&Reader_Type) < 0 ||
      PyModule_AddObject(m, "Writer", (PyObject *)&Writer_Type) < 0 ||
      PyModule_AddObject(m, "LsbBits", (PyObject *)&LsbBits_Type) < 0 ||
      PyModule_AddIntConstant(m, "HEADER_CHECKED", HEADER_CHECKED) < 0) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
