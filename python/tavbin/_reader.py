"""Reader: a cursor over bytes the caller owns."""

from __future__ import annotations

import builtins
import ctypes
from ctypes import (
    byref,
    c_double,
    c_float,
    c_int8,
    c_int16,
    c_int32,
    c_int64,
    c_uint8,
    c_uint16,
    c_uint32,
    c_uint64,
    create_string_buffer,
    string_at,
)
from typing import Any

from ._buffer import Borrowed, BytesLike
from ._errors import BIG, U32_MAX, U64_MAX, check_int
from ._handle import Handle
from ._native import lib, unchecked


class _Out(ctypes.Union):
    # One destination for every kind of value: each read writes its own width at
    # offset 0, and the field of that type reads it back.
    _fields_ = [
        ("u8", c_uint8),
        ("i8", c_int8),
        ("u16", c_uint16),
        ("i16", c_int16),
        ("u32", c_uint32),
        ("i32", c_int32),
        ("f32", c_float),
        ("u64", c_uint64),
        ("i64", c_int64),
        ("f64", c_double),
    ]


_c_u8, _c_i8, _c_u16, _c_i16, _c_u32, _c_i32, _c_f32, _c_u64, _c_i64, _c_f64 = (
    unchecked("tavbin_" + kind) for kind in ("u8", "i8", "u16", "i16", "u32", "i32", "f32", "u64", "i64", "f64")
)
_c_peek_u8, _c_peek_u16, _c_peek_u32, _c_peek_u64 = (unchecked(f"tavbin_peek_u{w}") for w in (8, 16, 32, 64))
_c_u8_at, _c_u16_at, _c_u32_at, _c_u64_at = (unchecked(f"tavbin_u{w}_at") for w in (8, 16, 32, 64))
_c_bits = unchecked("tavbin_bits")
_c_leb128 = unchecked("tavbin_leb128")
_c_bytes = unchecked("tavbin_bytes")
_c_ascii = unchecked("tavbin_ascii")
_c_string_u32 = unchecked("tavbin_string_u32")

_TEN = c_uint64(10)
# Handed to a block read only when the read must fail before touching its
# destination (see _block and string_u32); never written.
_STAND_IN = create_string_buffer(1)


def _size_arg(value: Any, what: str) -> c_uint64:
    if type(value) is not int or not 0 <= value <= U64_MAX:
        value = check_int(value, 0, U64_MAX, what)
    return c_uint64(value)


class Reader(Handle):
    """A cursor over bytes you own: fixed-width integers and floats in a chosen byte
    order, blocks, length-prefixed strings, LEB128, bit fields, peeks and reads at
    absolute offsets. It never reads outside `data`.

    data:  any bytes-like object (bytes, bytearray, memoryview, mmap, array.array).
           The reader holds a reference to it and exports its buffer until close():
           nothing is copied (except from a memoryview that is not contiguous), and
           meanwhile the object cannot be resized or closed (BufferError).
    order: BIG or LITTLE, for the multi-byte reads; set_endian changes it.

    Every read returns its value when the C call succeeds and otherwise raises the
    Error subclass of the status; the cursor and last_error are then exactly what
    the C call left (see tavbin.h). After close(), every call raises ValueError.
    A reader may be used on any thread, but not by two threads at once.
    """

    __slots__ = ("_out", "_ref", "_data")
    _c_close = lib.tavbin_close
    _c_set_endian = lib.tavbin_set_endian
    _c_last_error = lib.tavbin_last_error

    def __init__(self, data: BytesLike, order: int = BIG) -> None:
        self._h: Any = None
        order = check_int(order, 0, U32_MAX, "order")
        self._data = Borrowed(data)
        h = lib.tavbin_open(self._data.address, self._data.size, order)
        if not h:
            self._data.release()
        self._adopt(h, order)
        self._out = _Out()
        self._ref = byref(self._out)

    def _after_close(self) -> None:
        self._data.release()

    # -- cursor -----------------------------------------------------------

    def seek(self, offset: int) -> None:
        """Move the cursor to byte `offset` (0 to size) and end any partly read byte.
        RangeError (recorded, cursor unchanged) if offset > size."""
        status = lib.tavbin_seek(self._h, _size_arg(offset, "offset"))
        if status:
            self._fail(status, "seek")

    def tell(self) -> int:
        """Byte offset of the cursor. A partly read byte counts as not read."""
        return lib.tavbin_tell(self._live("tell()"))

    def remaining(self) -> int:
        """Bytes from the cursor to the end (the bit position is ignored)."""
        return lib.tavbin_remaining(self._live("remaining()"))

    @property
    def size(self) -> int:
        """Size of the data, in bytes."""
        return lib.tavbin_size(self._live("size"))

    def bit_align(self) -> None:
        """Skip the rest of a partly read byte, if any. Records nothing."""
        lib.tavbin_bit_align(self._live("bit_align()"))

    # -- fixed-width values -----------------------------------------------
    # Each applies the byte alignment, then reads; EofError (recorded) if fewer
    # bytes remain than the width, the cursor left after the alignment.

    def u8(self) -> int:
        """Read one byte, unsigned."""
        status = _c_u8(self._h, self._ref)
        if status:
            self._fail(status, "u8")
        return self._out.u8

    def i8(self) -> int:
        """Read one byte, two's complement signed."""
        status = _c_i8(self._h, self._ref)
        if status:
            self._fail(status, "i8")
        return self._out.i8

    def u16(self) -> int:
        """Read an unsigned 16-bit integer in the reader's byte order."""
        status = _c_u16(self._h, self._ref)
        if status:
            self._fail(status, "u16")
        return self._out.u16

    def i16(self) -> int:
        """Read a signed 16-bit integer in the reader's byte order."""
        status = _c_i16(self._h, self._ref)
        if status:
            self._fail(status, "i16")
        return self._out.i16

    def u32(self) -> int:
        """Read an unsigned 32-bit integer in the reader's byte order."""
        status = _c_u32(self._h, self._ref)
        if status:
            self._fail(status, "u32")
        return self._out.u32

    def i32(self) -> int:
        """Read a signed 32-bit integer in the reader's byte order."""
        status = _c_i32(self._h, self._ref)
        if status:
            self._fail(status, "i32")
        return self._out.i32

    def f32(self) -> float:
        """Read an IEEE 754 binary32 float (bit for bit, NaN payloads included)."""
        status = _c_f32(self._h, self._ref)
        if status:
            self._fail(status, "f32")
        return self._out.f32

    def u64(self) -> int:
        """Read an unsigned 64-bit integer in the reader's byte order."""
        status = _c_u64(self._h, self._ref)
        if status:
            self._fail(status, "u64")
        return self._out.u64

    def i64(self) -> int:
        """Read a signed 64-bit integer in the reader's byte order."""
        status = _c_i64(self._h, self._ref)
        if status:
            self._fail(status, "i64")
        return self._out.i64

    def f64(self) -> float:
        """Read an IEEE 754 binary64 float (bit for bit)."""
        status = _c_f64(self._h, self._ref)
        if status:
            self._fail(status, "f64")
        return self._out.f64

    # -- blocks -----------------------------------------------------------

    def _block(self, read: Any, n: Any, where: str) -> builtins.bytes:
        count = _size_arg(n, "n")
        if count.value <= lib.tavbin_remaining(self._h):
            dst: Any = create_string_buffer(count.value)
        else:
            # More than the data holds: the read fails with EofError before it
            # copies anything, so a hostile count allocates nothing.
            dst = _STAND_IN
        status = read(self._h, dst, count)
        if status:
            self._fail(status, where)
        return string_at(dst, count.value)

    def bytes(self, n: int) -> builtins.bytes:
        """Read a block of n bytes. EofError (recorded, nothing read) if fewer remain."""
        return self._block(_c_bytes, n, "bytes")

    def ascii(self, n: int) -> builtins.bytes:
        """Read a fixed-length character field of n bytes, unchanged (no terminator is
        looked for or removed). EofError (recorded, nothing read) if fewer remain."""
        return self._block(_c_ascii, n, "ascii")

    def skip(self, n: int) -> None:
        """Skip n bytes. EofError (recorded, cursor unchanged) if fewer remain."""
        status = lib.tavbin_skip(self._h, _size_arg(n, "n"))
        if status:
            self._fail(status, "skip")

    # -- bit fields and variable-length values ----------------------------

    def bits(self, count: int) -> int:
        """Read a bit field of count (1 to 64) bits, most significant bit of each byte
        first; continues inside a partly read byte and ignores the byte order.
        InvalidArgError (recorded, cursor unchanged) for a count of 0 or above 64;
        EofError (recorded) if fewer bits remain, which are then all consumed."""
        if type(count) is not int or not 0 <= count <= U32_MAX:
            count = check_int(count, 0, U32_MAX, "count")
        status = _c_bits(self._h, c_uint32(count), self._ref)
        if status:
            self._fail(status, "bits")
        return self._out.u64

    def leb128(self, max_bytes: int = 10) -> int:
        """Read an unsigned LEB128 number of at most max_bytes bytes (above 10 acts as 10).
        EofError if the data or max_bytes ends first, InvalidArgError for max_bytes 0 or
        ten bytes that all continue; the cursor is then back where the number began."""
        limit = _TEN if type(max_bytes) is int and max_bytes == 10 else _size_arg(max_bytes, "max_bytes")
        status = _c_leb128(self._h, self._ref, limit)
        if status:
            self._fail(status, "leb128")
        return self._out.u64

    def string_u32(self, max_len: int = U32_MAX) -> builtins.bytes:
        """Read a string stored as a 32-bit byte count (reader's byte order) and that
        many bytes, returned unchanged. TooLargeError if the count exceeds max_len,
        EofError if the count or the bytes run out; the cursor is then unchanged."""
        limit = _size_arg(max_len, "max_len")
        h = self._h
        # The destination is sized from the count itself, so only the C call's own
        # checks can fail it, and its status and cursor are the ones left behind.
        status = _c_peek_u32(h, self._ref)
        length = 0 if status else self._out.u32
        if not status and length <= limit.value and length + 4 <= lib.tavbin_remaining(h):
            dst: Any = create_string_buffer(length + 1)
        else:
            # The count is missing, over max_len, or claims more bytes than the data
            # has left: the read fails before it writes, so a hostile count
            # allocates nothing.
            dst = _STAND_IN
        status = _c_string_u32(h, dst, c_uint64(length + 1), limit, self._ref)
        if status:
            self._fail(status, "string_u32")
        return string_at(dst, length)

    # -- peeks and absolute reads -----------------------------------------
    # A peek delivers what u8 ... u64 would deliver now without moving the cursor;
    # EofError (recorded) if that read would fail. An absolute read takes the
    # value at a byte offset from the start, in the reader's byte order, and never
    # moves the cursor; RangeError (recorded) if it does not lie inside the data.

    def peek_u8(self) -> int:
        """The byte u8() would read now; the cursor does not move."""
        status = _c_peek_u8(self._h, self._ref)
        if status:
            self._fail(status, "peek_u8")
        return self._out.u8

    def peek_u16(self) -> int:
        """The value u16() would read now; the cursor does not move."""
        status = _c_peek_u16(self._h, self._ref)
        if status:
            self._fail(status, "peek_u16")
        return self._out.u16

    def peek_u32(self) -> int:
        """The value u32() would read now; the cursor does not move."""
        status = _c_peek_u32(self._h, self._ref)
        if status:
            self._fail(status, "peek_u32")
        return self._out.u32

    def peek_u64(self) -> int:
        """The value u64() would read now; the cursor does not move."""
        status = _c_peek_u64(self._h, self._ref)
        if status:
            self._fail(status, "peek_u64")
        return self._out.u64

    def u8_at(self, offset: int) -> int:
        """The byte at `offset`."""
        status = _c_u8_at(self._h, _size_arg(offset, "offset"), self._ref)
        if status:
            self._fail(status, "u8_at")
        return self._out.u8

    def u16_at(self, offset: int) -> int:
        """The unsigned 16-bit value at byte `offset`."""
        status = _c_u16_at(self._h, _size_arg(offset, "offset"), self._ref)
        if status:
            self._fail(status, "u16_at")
        return self._out.u16

    def u32_at(self, offset: int) -> int:
        """The unsigned 32-bit value at byte `offset`."""
        status = _c_u32_at(self._h, _size_arg(offset, "offset"), self._ref)
        if status:
            self._fail(status, "u32_at")
        return self._out.u32

    def u64_at(self, offset: int) -> int:
        """The unsigned 64-bit value at byte `offset`."""
        status = _c_u64_at(self._h, _size_arg(offset, "offset"), self._ref)
        if status:
            self._fail(status, "u64_at")
        return self._out.u64
