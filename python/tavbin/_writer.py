"""Writer: a byte buffer the module owns and grows by doubling."""

from __future__ import annotations

import builtins
from ctypes import (
    c_double,
    c_float,
    c_int16,
    c_int32,
    c_int64,
    c_uint8,
    c_uint16,
    c_uint32,
    c_uint64,
    c_void_p,
    string_at,
)

from typing import Any

from ._buffer import Borrowed, BytesLike
from ._errors import BIG, U32_MAX, U64_MAX, check_float, check_int
from ._handle import Handle
from ._native import lib, unchecked

_c_u8, _c_u16, _c_i16, _c_u32, _c_i32, _c_f32, _c_u64, _c_i64, _c_f64, _c_leb128 = (
    unchecked("tavbinw_" + kind)
    for kind in ("u8", "u16", "i16", "u32", "i32", "f32", "u64", "i64", "f64", "leb128")
)

_c_bytes = unchecked("tavbinw_bytes")
_c_string_u32 = unchecked("tavbinw_string_u32")

_I16 = (-(2**15), 2**15 - 1)
_I32 = (-(2**31), 2**31 - 1)
_I64 = (-(2**63), 2**63 - 1)
# Floats below this magnitude are finite as binary32 (see check_float).
_F32_SAFE = 3.4e38


class Writer(Handle):
    """A buffer that grows as you append: integers and floats in a chosen byte order,
    blocks, length-prefixed strings and LEB128.

    initial_cap: bytes to allocate at first; 0 means 64.
    order:       BIG or LITTLE, for the multi-byte appends; set_endian changes it.

    An append returns None or raises the Error subclass of the C call's status,
    which leaves the writer as it was. An int outside the range of the C type
    raises OverflowError, and a value of the wrong type TypeError, before any call
    (nothing is recorded). After close(), every call raises ValueError. A writer
    may be used on any thread, but not by two threads at once.
    """

    __slots__ = ()
    _c_close = lib.tavbinw_close
    _c_set_endian = lib.tavbinw_set_endian
    _c_last_error = lib.tavbinw_last_error

    def __init__(self, initial_cap: int = 0, order: int = BIG) -> None:
        self._h: Any = None
        initial_cap = check_int(initial_cap, 0, U64_MAX, "initial_cap")
        order = check_int(order, 0, U32_MAX, "order")
        self._adopt(lib.tavbinw_open(initial_cap, order), order)

    # -- queries -----------------------------------------------------------

    def getvalue(self) -> builtins.bytes:
        """A copy of the bytes written so far."""
        h = self._live("getvalue()")
        n = lib.tavbinw_len(h)
        return string_at(lib.tavbinw_data(h), n) if n else b""

    def __len__(self) -> int:
        """Number of bytes written so far."""
        return lib.tavbinw_len(self._live("len()"))

    # -- appends ------------------------------------------------------------
    # OomError (recorded, nothing appended) if the buffer cannot grow.

    def bytes(self, data: BytesLike) -> None:
        """Append the bytes of any bytes-like object, unchanged."""
        with Borrowed(data) as src:
            status = _c_bytes(self._h, c_void_p(src.address), c_uint64(src.size))
        if status:
            self._fail(status, "bytes")

    def string_u32(self, data: BytesLike) -> None:
        """Append a 32-bit byte count (writer's byte order) and the bytes of `data`,
        unchanged and without a terminator. TooLargeError (recorded, nothing
        appended) for more than 0xFFFFFFFF bytes."""
        with Borrowed(data) as src:
            status = _c_string_u32(self._h, c_void_p(src.address), c_uint64(src.size))
        if status:
            self._fail(status, "string_u32")

    def u8(self, value: int) -> None:
        """Append one byte, 0 to 255."""
        if type(value) is not int or not 0 <= value <= 0xFF:
            value = check_int(value, 0, 0xFF, "value")
        status = _c_u8(self._h, c_uint8(value))
        if status:
            self._fail(status, "u8")

    def u16(self, value: int) -> None:
        """Append an unsigned 16-bit integer in the writer's byte order."""
        if type(value) is not int or not 0 <= value <= 0xFFFF:
            value = check_int(value, 0, 0xFFFF, "value")
        status = _c_u16(self._h, c_uint16(value))
        if status:
            self._fail(status, "u16")

    def i16(self, value: int) -> None:
        """Append a signed 16-bit integer in the writer's byte order."""
        if type(value) is not int or not -0x8000 <= value <= 0x7FFF:
            value = check_int(value, *_I16, "value")
        status = _c_i16(self._h, c_int16(value))
        if status:
            self._fail(status, "i16")

    def u32(self, value: int) -> None:
        """Append an unsigned 32-bit integer in the writer's byte order."""
        if type(value) is not int or not 0 <= value <= 0xFFFFFFFF:
            value = check_int(value, 0, U32_MAX, "value")
        status = _c_u32(self._h, c_uint32(value))
        if status:
            self._fail(status, "u32")

    def i32(self, value: int) -> None:
        """Append a signed 32-bit integer in the writer's byte order."""
        if type(value) is not int or not -0x80000000 <= value <= 0x7FFFFFFF:
            value = check_int(value, *_I32, "value")
        status = _c_i32(self._h, c_int32(value))
        if status:
            self._fail(status, "i32")

    def f32(self, value: float) -> None:
        """Append a float as IEEE 754 binary32, rounded to nearest. OverflowError if a
        finite value is too large for binary32; infinities and NaN pass."""
        if type(value) is not float or not -_F32_SAFE < value < _F32_SAFE:
            value = check_float(value, "value", binary32=True)
        status = _c_f32(self._h, c_float(value))
        if status:
            self._fail(status, "f32")

    def u64(self, value: int) -> None:
        """Append an unsigned 64-bit integer in the writer's byte order."""
        if type(value) is not int or not 0 <= value <= U64_MAX:
            value = check_int(value, 0, U64_MAX, "value")
        status = _c_u64(self._h, c_uint64(value))
        if status:
            self._fail(status, "u64")

    def i64(self, value: int) -> None:
        """Append a signed 64-bit integer in the writer's byte order."""
        if type(value) is not int or not -0x8000000000000000 <= value <= 0x7FFFFFFFFFFFFFFF:
            value = check_int(value, *_I64, "value")
        status = _c_i64(self._h, c_int64(value))
        if status:
            self._fail(status, "i64")

    def f64(self, value: float) -> None:
        """Append a float as IEEE 754 binary64, bit for bit."""
        if type(value) is not float:
            value = check_float(value, "value")
        status = _c_f64(self._h, c_double(value))
        if status:
            self._fail(status, "f64")

    def leb128(self, value: int) -> None:
        """Append an unsigned LEB128 number, 0 to 2**64 - 1, in its shortest form."""
        if type(value) is not int or not 0 <= value <= U64_MAX:
            value = check_int(value, 0, U64_MAX, "value")
        status = _c_leb128(self._h, c_uint64(value))
        if status:
            self._fail(status, "leb128")
