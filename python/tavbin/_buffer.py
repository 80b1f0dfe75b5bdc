"""Borrowing the memory of a bytes-like object for as long as C code points into it.

On CPython the object's buffer is exported with PyObject_GetBuffer, as a C
extension would, and released with PyBuffer_Release. While it is exported the
memory cannot move or vanish: resizing a bytearray or array.array, closing an
mmap or releasing a memoryview raises BufferError instead. Nothing is copied,
read-only buffers (bytes, a read-only mmap) included. Only a buffer that is not
one contiguous block (a strided memoryview) is copied.

Elsewhere (no ctypes.pythonapi), a writable buffer is borrowed through
ctypes' from_buffer, which holds the same kind of export; a read-only one is
copied.
"""

from __future__ import annotations

import array
import ctypes
import mmap
from ctypes import POINTER, byref, c_int, c_ssize_t, c_void_p
from typing import Any, Optional, Union

BytesLike = Union[bytes, bytearray, memoryview, mmap.mmap, array.array]
"""What a reader reads and a writer appends: any object with the buffer protocol."""


class _Py_buffer(ctypes.Structure):
    # The layout of Py_buffer, unchanged since Python 3.3.
    _fields_ = [
        ("buf", c_void_p),
        ("obj", c_void_p),
        ("len", c_ssize_t),
        ("itemsize", c_ssize_t),
        ("readonly", c_int),
        ("ndim", c_int),
        ("format", c_void_p),
        ("shape", c_void_p),
        ("strides", c_void_p),
        ("suboffsets", c_void_p),
        ("internal", c_void_p),
    ]


_PyBUF_SIMPLE = 0
_PyBUF_WRITABLE = 1

try:
    _get_buffer = ctypes.pythonapi.PyObject_GetBuffer
    _get_buffer.argtypes = (ctypes.py_object, POINTER(_Py_buffer), c_int)
    _get_buffer.restype = c_int
    _release_buffer = ctypes.pythonapi.PyBuffer_Release
    _release_buffer.argtypes = (POINTER(_Py_buffer),)
    _release_buffer.restype = None
except (AttributeError, OSError):  # not CPython
    _get_buffer = _release_buffer = None


class Borrowed:
    """The address and size of a bytes-like object's memory, valid until release().

    writable=True asks for memory the C code may write; a read-only object then
    raises TypeError. An object that is not bytes-like raises TypeError.
    """

    __slots__ = ("address", "size", "_view", "_keep")

    def __init__(self, obj: Any, writable: bool = False) -> None:
        self._view: Optional[_Py_buffer] = None
        self._keep: Any = obj
        if _get_buffer is not None:
            view = _Py_buffer()
            try:
                _get_buffer(obj, byref(view), _PyBUF_WRITABLE if writable else _PyBUF_SIMPLE)
            except BufferError:
                # Read-only, or not one contiguous block: look at it the slow way.
                self._copy_or_refuse(obj, writable)
                return
            self._view = view
            self.address: int = view.buf or 0
            self.size: int = view.len
            return
        try:
            block = (ctypes.c_char * memoryview(obj).nbytes).from_buffer(obj)
        except (TypeError, ValueError):
            self._copy_or_refuse(obj, writable)
            return
        self._keep = block
        self.address = ctypes.addressof(block)
        self.size = len(block)

    def _copy_or_refuse(self, obj: Any, writable: bool) -> None:
        view = memoryview(obj)  # TypeError if not bytes-like
        if writable:
            raise TypeError(
                f"a writable, contiguous bytes-like object is required, not '{type(obj).__name__}'"
            )
        copy = ctypes.create_string_buffer(view.tobytes(), view.nbytes)
        self._keep = copy
        self.address = ctypes.addressof(copy)
        self.size = view.nbytes

    def release(self, _release: Any = _release_buffer) -> None:
        """End the borrow. Safe to call more than once, and at interpreter shutdown."""
        view, self._view = self._view, None
        if view is not None:
            _release(byref(view))
        self._keep = None

    __del__ = release

    def __enter__(self) -> Borrowed:
        return self

    def __exit__(self, *exc: object) -> None:
        self.release()
