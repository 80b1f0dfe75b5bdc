"""Reader: a cursor over bytes the caller owns."""

from __future__ import annotations

import builtins
import ctypes
import mmap
import threading
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
from array import array as _array
from typing import Any, Dict, List, NoReturn, Optional, Tuple

from ._buffer import Borrowed, BytesLike
from ._errors import BIG, LITTLE, U32_MAX, U64_MAX, Status, check_int, error
from ._handle import Handle, define, owner_type
from ._kinds import HOST_ORDER, WIDTHS, array_code
from ._native import ReaderHandle, lib, unchecked
from ._records import CACHE as _RECORDS
from ._records import compiled


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
    unchecked("tavbin_" + kind)
    for kind in ("u8", "i8", "u16", "i16", "u32", "i32", "f32", "u64", "i64", "f64")
)
_c_peek_u8, _c_peek_u16, _c_peek_u32, _c_peek_u64 = (unchecked(f"tavbin_peek_u{w}") for w in (8, 16, 32, 64))
_c_u8_at, _c_u16_at, _c_u32_at, _c_u64_at = (unchecked(f"tavbin_u{w}_at") for w in (8, 16, 32, 64))
_c_bits = unchecked("tavbin_bits")
_c_tell = unchecked("tavbin_tell")
_c_skip = unchecked("tavbin_skip")
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


_Owner = owner_type(ReaderHandle, lib.tavbin_close)


def _rows(*rows: Tuple[str, str, str]) -> List[Dict[str, str]]:
    return [{"name": name, "field": field, "doc": doc} for name, field, doc in rows]


# The calls that skip the rest of a partly read byte before they read, and leave
# the cursor there when they fail (see _failed_at).
_ALIGNING = frozenset(
    (
        *("u8", "i8", "u16", "i16", "u32", "i32", "f32", "u64", "i64", "f64", "bytes", "ascii", "skip"),
        *("leb128", "unpack", "unpack_many"),
    )
)


class ReaderAPI(Handle):
    """A cursor over bytes you own: fixed-width integers and floats in a chosen byte
    order, blocks, length-prefixed and NUL-terminated strings, unsigned and signed
    LEB128, bit fields in either bit order, whole records in struct's format
    language, sub-readers, bulk values, peeks and reads at absolute offsets. It
    never reads outside `data`.

    data:  any bytes-like object (bytes, bytearray, memoryview, mmap, array.array).
           The reader holds a reference to it and exports its buffer until close():
           nothing is copied (except from a memoryview that is not contiguous), and
           meanwhile the object cannot be resized or closed (BufferError).
    order: BIG or LITTLE, for the multi-byte reads; set_endian changes it.

    Every read returns its value when the C call succeeds and otherwise raises the
    Error subclass of the status, its offset the tell() before the call; the cursor
    and last_error are then exactly what the C call left (see tavbin.h). After
    close(), every call raises ValueError. A reader may be shared by threads: each
    call runs whole, as a built-in object's method does, in an order the threads'
    scheduling decides; closing it while another thread reads is safe (that read
    completes or raises ValueError).
    """

    __slots__ = ()
    _c_set_endian = lib.tavbin_set_endian
    _c_last_error = lib.tavbin_last_error
    _order: int
    # (tell, bit position) after the last bits() call: the only way a reader is
    # left inside a byte. Valid while tell() still says the same byte, since
    # every other call that moves moves past it, and seek() forgets it.
    _mark: Optional[Tuple[int, int]]

    def __init__(self, data: BytesLike, order: int = BIG) -> None:
        self._h = None
        self._lock = threading.RLock()
        order = check_int(order, 0, U32_MAX, "order")
        borrow = Borrowed(data)
        view = None
        if borrow._view is not None:
            try:
                view = memoryview(data).cast("B")
            except (TypeError, ValueError):
                pass
        if view is None:  # the borrow is a copy: view the same bytes
            view = memoryview(string_at(borrow.address, borrow.size)) if borrow.size else memoryview(b"")
        h = lib.tavbin_open(borrow.address, borrow.size, order)
        if not h:
            borrow.release()
            self._raise_if_not_opened(h, order)
        owner = _Owner.from_buffer_copy(h)
        owner.borrow = borrow
        owner.view = view
        self._order = order
        self._mark = None
        self._origin: Optional[int] = None  # a sub-reader's origin()
        self._out = _Out()
        self._ref = byref(self._out)
        self._h = owner

    def _error(self, status: int, where: str, offset: int) -> Any:
        """The exception of a failed call; a sub-reader's says where it began in
        the outermost input."""
        origin = self._origin
        outer = None if origin is None else origin + offset
        return error(status, f"{type(self).__name__}.{where}", offset, outer)

    def _fail(self, status: int, where: str, offset: Optional[int] = None) -> NoReturn:
        h = self._h
        if not h:
            super()._fail(status, where, offset)  # ValueError
        if offset is None:
            offset = self._failed_at(h, where)
        self._settle(h)
        raise self._error(status, where, offset)

    def _settle(self, h: Any) -> None:
        # A mark the cursor has moved past is stale (the byte was skipped), and
        # must not make a later failure's offset that byte.
        mark = self._mark
        if mark is not None and lib.tavbin_tell(h) > mark[0]:
            self._mark = None

    def origin(self) -> int:
        """Where this reader's first byte lies in the outermost input: 0 for a reader
        opened on its own data, the sum of the offsets its sub() calls began at for a
        sub-reader."""
        self._live("origin()")
        return self._origin or 0

    def _failed_at(self, h: Any, where: str) -> int:
        at = lib.tavbin_tell(h)
        mark = self._mark
        # A failed read that skipped a partly read byte first leaves the cursor one
        # byte on; it began at the byte the bits came from.
        if mark is not None and mark[1] and at == mark[0] + 1 and where in _ALIGNING:
            self._mark = None
            return mark[0]
        return at

    def _aligned(self, h: Any) -> Tuple[int, int]:
        """(tell(), where a byte read would begin: past a partly read byte)."""
        at = lib.tavbin_tell(h)
        mark = self._mark
        return at, at + 1 if mark is not None and mark[0] == at and mark[1] else at

    # -- cursor -----------------------------------------------------------

    def seek(self, offset: int) -> None:
        """Move the cursor to byte `offset` (0 to size) and end any partly read byte.
        RangeError (recorded, cursor unchanged) if offset > size."""
        offset = _size_arg(offset, "offset")
        lock = self._lock
        lock.acquire()
        try:
            status = lib.tavbin_seek(self._h, offset)
            if status:
                self._fail(status, "seek")
            self._mark = None
        finally:
            lock.release()

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
        self._mark = None

    # -- fixed-width values, peeks and absolute reads ----------------------
    # A fixed-width read applies the byte alignment, then reads; EofError
    # (recorded) if fewer bytes remain than the width, the cursor left after the
    # alignment. A peek delivers what u8 ... u64 would deliver now without moving
    # the cursor; EofError (recorded) if that read would fail. An absolute read
    # takes the value at a byte offset from the start, in the reader's byte order,
    # and never moves the cursor; RangeError (recorded) if it does not lie inside
    # the data. Each is written out from one template (see define), and takes
    # the lock without a with block, which costs a third more.

    define(
        locals(),
        """
def {name}(self):
    "{doc}"
    lock = self._lock
    lock.acquire()
    try:
        status = _c_{name}(self._h, self._ref)
        if status:
            self._fail(status, "{name}")
        return self._out.{field}
    finally:
        lock.release()
""",
        _rows(
            ("u8", "u8", "Read one byte, unsigned."),
            ("i8", "i8", "Read one byte, two's complement signed."),
            ("u16", "u16", "Read an unsigned 16-bit integer in the reader's byte order."),
            ("i16", "i16", "Read a signed 16-bit integer in the reader's byte order."),
            ("u32", "u32", "Read an unsigned 32-bit integer in the reader's byte order."),
            ("i32", "i32", "Read a signed 32-bit integer in the reader's byte order."),
            ("f32", "f32", "Read an IEEE 754 binary32 float (bit for bit, NaN payloads included)."),
            ("u64", "u64", "Read an unsigned 64-bit integer in the reader's byte order."),
            ("i64", "i64", "Read a signed 64-bit integer in the reader's byte order."),
            ("f64", "f64", "Read an IEEE 754 binary64 float (bit for bit)."),
            ("peek_u8", "u8", "The byte u8() would read now; the cursor does not move."),
            ("peek_u16", "u16", "The value u16() would read now; the cursor does not move."),
            ("peek_u32", "u32", "The value u32() would read now; the cursor does not move."),
            ("peek_u64", "u64", "The value u64() would read now; the cursor does not move."),
        ),
        globals(),
        "ReaderAPI",
    )
    define(
        locals(),
        """
def {name}(self, offset):
    "{doc}"
    offset = _size_arg(offset, "offset")
    lock = self._lock
    lock.acquire()
    try:
        status = _c_{name}(self._h, offset, self._ref)
        if status:
            self._fail(status, "{name}")
        return self._out.{field}
    finally:
        lock.release()
""",
        _rows(
            ("u8_at", "u8", "The byte at `offset`."),
            ("u16_at", "u16", "The unsigned 16-bit value at byte `offset`."),
            ("u32_at", "u32", "The unsigned 32-bit value at byte `offset`."),
            ("u64_at", "u64", "The unsigned 64-bit value at byte `offset`."),
        ),
        globals(),
        "ReaderAPI",
    )

    # -- blocks -----------------------------------------------------------

    def _block(self, read: Any, n: Any, where: str) -> builtins.bytes:
        count = _size_arg(n, "n")
        with self._lock:
            if count.value <= lib.tavbin_remaining(self._h):
                dst: Any = create_string_buffer(count.value)
            else:
                # More than the data holds: the read fails with EofError before it
                # copies anything, so a hostile count allocates nothing.
                dst = _STAND_IN
            status = read(self._h, dst, count)
            if status:
                self._fail(status, where)
            if not count.value:
                self._mark = None
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
        count = _size_arg(n, "n")
        lock = self._lock
        lock.acquire()
        try:
            status = lib.tavbin_skip(self._h, count)
            if status:
                self._fail(status, "skip")
            if not count.value:
                self._mark = None

        # -- bit fields and variable-length values ----------------------------
        finally:
            lock.release()

    def bits(self, count: int) -> int:
        """Read a bit field of count (1 to 64) bits, most significant bit of each byte
        first; continues inside a partly read byte and ignores the byte order.
        InvalidArgError (recorded, cursor unchanged) for a count of 0 or above 64;
        EofError (recorded) if fewer bits remain, which are then all consumed."""
        if type(count) is not int or not 0 <= count <= U32_MAX:
            count = check_int(count, 0, U32_MAX, "count")
        lock = self._lock
        lock.acquire()
        try:
            h = self._h
            # Where it starts, to know afterwards whether a byte is left partly read
            # (lsb_bits and the offsets of failed reads need that).
            at = _c_tell(h)
            status = _c_bits(h, c_uint32(count), self._ref)
            if status:
                if status == Status.EOF:
                    self._mark = None
                self._fail(status, "bits", at)
            mark = self._mark
            bit = at * 8 + count + (mark[1] if mark is not None and mark[0] == at else 0)
            self._mark = (bit >> 3, bit & 7)
            return self._out.u64
        finally:
            lock.release()

    def leb128(self, max_bytes: int = 10) -> int:
        """Read an unsigned LEB128 number of at most max_bytes bytes (above 10 acts as 10).
        EofError if the data or max_bytes ends first, InvalidArgError for max_bytes 0 or
        ten bytes that all continue; the cursor is then back where the number began."""
        limit = _TEN if type(max_bytes) is int and max_bytes == 10 else _size_arg(max_bytes, "max_bytes")
        lock = self._lock
        lock.acquire()
        try:
            status = _c_leb128(self._h, self._ref, limit)
            if status:
                self._fail(status, "leb128")
            return self._out.u64
        finally:
            lock.release()

    def string_u32(self, max_len: int = U32_MAX) -> builtins.bytes:
        """Read a string stored as a 32-bit byte count (reader's byte order) and that
        many bytes, returned unchanged. TooLargeError if the count exceeds max_len,
        EofError if the count or the bytes run out; the cursor is then unchanged."""
        limit = _size_arg(max_len, "max_len")
        with self._lock:
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

    # -- the record layer --------------------------------------------------
    # Built on the C calls, as the C++ wrapper builds it; every failure's offset
    # is the tell() before the call.

    def _open_handle(self, where: str) -> Any:
        h = self._h
        if not h:
            self._fail(Status.INVALID_ARG, where)
        return h

    def _read3(self, where: str) -> int:
        with self._lock:
            h = self._h
            at = lib.tavbin_tell(h)
            buf = create_string_buffer(3)
            status = _c_bytes(h, buf, _THREE)
            if status:
                self._fail(status, where, at)
            return int.from_bytes(buf.raw, "little" if self._order == LITTLE else "big")

    def u24(self) -> int:
        """Read an unsigned 24-bit integer in the reader's byte order (as u16)."""
        return self._read3("u24")

    def i24(self) -> int:
        """Read a signed 24-bit integer in the reader's byte order (as i16)."""
        value = self._read3("i24")
        return value - 0x1000000 if value & 0x800000 else value

    def sleb128(self, max_bytes: int = 10) -> int:
        """Read a signed LEB128 number of at most max_bytes bytes, as leb128() reads an
        unsigned one. InvalidArgError also for a ten-byte number whose last byte is
        neither 0x00 nor 0x7F (it does not fit in 64 bits); on failure the cursor is
        back where the number began."""
        limit = _size_arg(max_bytes, "max_bytes")
        with self._lock:
            h = self._open_handle("sleb128")
            at = lib.tavbin_tell(h)
            if limit.value:
                lib.tavbin_bit_align(h)
            start = lib.tavbin_tell(h)
            out = c_uint64()
            status = _c_leb128(h, byref(out), limit)
            if status:
                self._fail(status, "sleb128", at)
            n = lib.tavbin_tell(h) - start
            last = h.view[start + n - 1]
            value = out.value
            if n == 10 and last not in (0x00, 0x7F):
                # Back to where the number began; a zero-byte read records the refusal.
                lib.tavbin_seek(h, start)
                _c_leb128(h, byref(out), c_uint64(0))
                self._fail(Status.INVALID_ARG, "sleb128", at)
        if n < 10:
            if last & 0x40:
                value -= 1 << (7 * n)
        elif value >= 1 << 63:
            value -= 1 << 64
        return value

    def cstring(self, max_len: int) -> builtins.bytes:
        """Read a NUL-terminated string of at most max_len bytes (NUL not counted) and
        return it without the NUL, which is consumed too. TooLargeError (not
        recorded) if the next max_len + 1 bytes hold no NUL; EofError (recorded) if
        the data ends first without one. The cursor then stays (after the byte
        alignment)."""
        limit = check_int(max_len, 0, U64_MAX, "max_len")
        with self._lock:
            h = self._open_handle("cstring")
            at = lib.tavbin_tell(h)
            lib.tavbin_bit_align(h)
            pos = lib.tavbin_tell(h)
            rem = lib.tavbin_remaining(h)
            window = limit + 1 if limit < rem else rem
            view = h.view
            whole = view.obj
            if isinstance(whole, (builtins.bytes, bytearray, mmap.mmap)) and len(whole) == len(view):
                nul = whole.find(b"\0", pos, pos + window)
                if nul >= 0:
                    nul -= pos
            else:
                nul = view[pos : pos + window].tobytes().find(b"\0")
            if nul < 0:
                if limit < rem:
                    self._settle(h)
                    raise self._error(Status.TOO_LARGE, "cstring", at)
                self._fail(lib.tavbin_skip(h, rem + 1), "cstring", at)  # records EOF
            lib.tavbin_skip(h, nul + 1)
            return view[pos : pos + nul].tobytes()

    def sub(self, n: int) -> ReaderAPI:
        """A new reader over the next n bytes, in this reader's byte order, cursor at
        0; this one moves past them. It shares the data (no copy) and keeps it
        borrowed while it is open. EofError (recorded, nothing moved after the byte
        alignment) if fewer than n bytes remain."""
        count = check_int(n, 0, U64_MAX, "n")
        with self._lock:
            h = self._open_handle("sub")
            at = lib.tavbin_tell(h)
            lib.tavbin_bit_align(h)
            pos = lib.tavbin_tell(h)
            if lib.tavbin_remaining(h) < count:
                self._fail(lib.tavbin_skip(h, count), "sub", at)  # records EOF
            part = type(self)(h.view[pos : pos + count], self._order)
            part._origin = (self._origin or 0) + pos
            lib.tavbin_skip(h, count)
            self._mark = None
            return part

    def array(self, kind: str, count: int) -> _array:
        """Read count values of kind ("u8" "i8" "u16" "i16" "u32" "i32" "u64" "i64"
        "f32" "f64") in the reader's byte order, in one block read, as an
        array.array. EofError (recorded, nothing consumed, nothing allocated) if
        the data holds fewer; ValueError for any other kind."""
        code = array_code(kind)
        count = check_int(count, 0, U64_MAX, "count")
        width = WIDTHS[code]
        nbytes = min(count * width, U64_MAX)
        with self._lock:
            h = self._h
            at = lib.tavbin_tell(h)
            dst: Any = create_string_buffer(nbytes) if nbytes <= lib.tavbin_remaining(h) else _STAND_IN
            status = _c_bytes(h, dst, c_uint64(nbytes))
            if status:
                self._fail(status, "array", at)
            if not nbytes:
                self._mark = None
            swap = width > 1 and self._order != HOST_ORDER
        values = _array(code)
        if nbytes:
            values.frombytes(dst)
            if swap:
                values.byteswap()
        return values

    def _records(self, fmt: Any, count: int, where: str) -> Tuple[Any, memoryview, int]:
        # (the Struct, the data, where the records begin): one skip checks and
        # takes them all, and struct reads them where they lie.
        with self._lock:
            record = compiled(fmt, self._order)
            n = min(record.size * count, U64_MAX)
            h = self._h
            status = _c_skip(h, c_uint64(n))
            if status:
                self._fail(status, where)
            if not n:
                self._mark = None
            return record, h.view, _c_tell(h) - n

    def unpack(self, fmt: Any) -> Tuple[Any, ...]:
        """Read one record of the struct format fmt (str or bytes): its values, as
        struct.unpack_from(order + fmt, data, tell()) gives them, order the
        format's own (<, > or !) or else the reader's. Standard sizes, no alignment;
        @ = n N P raise ValueError, any other bad format struct.error. EofError
        (recorded, nothing consumed after the byte alignment) if fewer bytes remain."""
        lock = self._lock
        lock.acquire()
        try:
            try:
                pair = _RECORDS[fmt]
            except (KeyError, TypeError):
                pair = compiled(fmt, None)
            record = pair[0] if self._order == BIG else pair[1]
            n = record.size
            h = self._h
            status = _c_skip(h, c_uint64(n))
            if status:
                self._fail(status, "unpack")
            if not n:
                self._mark = None
            return record.unpack_from(h.view, _c_tell(h) - n)
        finally:
            lock.release()

    def unpack_many(self, fmt: Any, count: int) -> List[Tuple[Any, ...]]:
        """Read count records of the struct format fmt (as unpack) in one block read:
        a list of count tuples. EofError (recorded, nothing consumed after the byte
        alignment) if fewer bytes remain than all of them need."""
        count = check_int(count, 0, U64_MAX, "count")
        record, view, pos = self._records(fmt, count, "unpack_many")
        if not record.size:  # no bytes, but maybe fields: "0s" is (b"",)
            return [record.unpack(b"")] * count
        return list(record.iter_unpack(view[pos : pos + record.size * count]))

    def lsb_bits(self) -> LsbBits:
        """Start reading bit fields least significant bit first (DEFLATE's order) at
        the cursor, after any partly read byte. The reader does not move until the
        result's done(), also called on leaving a with block."""
        return LsbBits(self)

    # -- strings with any length prefix, 32-bit LEB128, strings at an offset --
    # Read from the data itself, then one skip; nothing moves on failure, where
    # _record leaves the status in last_error as far as the C calls allow.

    def _record(self, h: Any, status: int) -> None:
        at, rem = lib.tavbin_tell(h), lib.tavbin_remaining(h)
        part = self._partial(at)
        after = max(rem - 1, 0) if part else rem
        if status == Status.EOF:
            if not part:
                lib.tavbin_skip(h, U64_MAX)
            elif after < 8:
                _c_peek_u64(h, self._ref)
        elif status == Status.TOO_LARGE:
            if after >= 4:
                _c_string_u32(h, _STAND_IN, c_uint64(0), c_uint64(0), None)
        else:
            _c_leb128(h, self._ref, c_uint64(0))

    def _partial(self, at: int) -> bool:
        mark = self._mark
        return mark is not None and mark[0] == at and mark[1] != 0

    def _leb32(self, where: str, signed: bool) -> int:
        h = self._open_handle(where)
        at = lib.tavbin_tell(h)
        part = self._partial(at)
        status, n, value = _leb_parse(h.view, at + part, 5, 32, signed)
        if status:
            if part:  # as sleb128: a partly read byte is skipped first, and stays skipped
                lib.tavbin_bit_align(h)
            self._record(h, status)
            self._fail(status, where, at)
        lib.tavbin_skip(h, n)
        return value

    def leb128_u32(self) -> int:
        """Read an unsigned LEB128 number of at most 5 bytes whose value fits in 32
        bits. EofError if the data ends first; InvalidArgError for five bytes that
        all continue or a value of 2**32 or more. No byte of the number is
        consumed on failure (a partly read byte before it is skipped, as by leb128)."""
        with self._lock:
            return self._leb32("leb128_u32", False)

    def sleb128_i32(self) -> int:
        """Read a signed LEB128 number of at most 5 bytes whose value fits in 32 bits
        (as leb128_u32)."""
        with self._lock:
            return self._leb32("sleb128_i32", True)

    def _prefixed(self, max_len: Any, where: str, kind: int) -> builtins.bytes:
        limit = _size_arg(max_len, "max_len").value
        h = self._open_handle(where)
        at = lib.tavbin_tell(h)
        view = h.view
        pos = at + self._partial(at)
        avail = max(len(view) - pos, 0)
        status = Status.OK
        if kind == 2:
            status, head, length = _leb_parse(view, pos, 10, 64, False)
            if status:
                if status == Status.EOF or not head:  # as leb128() fails
                    self._fail(_c_leb128(h, self._ref, c_uint64(10)), where, at)
                self._record(h, status)
                self._fail(status, where, at)
        else:
            head = kind + 1
            if avail < head:
                status, length = Status.EOF, 0
            else:
                order = "little" if self._order == LITTLE else "big"
                length = int.from_bytes(view[pos : pos + head], order)
        if not status and length > limit:
            status = Status.TOO_LARGE
        if not status and length > avail - head:
            status = Status.EOF
        if status:
            self._record(h, status)
            self._fail(status, where, at)
        value = view[pos + head : pos + head + length].tobytes()
        lib.tavbin_skip(h, head + length)
        return value

    def string_u8(self, max_len: int = 0xFF) -> builtins.bytes:
        """Read a string stored as an 8-bit byte count and that many bytes (as
        string_u32)."""
        with self._lock:
            return self._prefixed(max_len, "string_u8", 0)

    def string_u16(self, max_len: int = 0xFFFF) -> builtins.bytes:
        """Read a string stored as a 16-bit byte count (reader's byte order) and that
        many bytes (as string_u32)."""
        with self._lock:
            return self._prefixed(max_len, "string_u16", 1)

    def string_leb128(self, max_len: int = U64_MAX) -> builtins.bytes:
        """Read a string stored as an unsigned LEB128 byte count and that many bytes
        (as string_u32); a count that leb128() refuses is refused alike, and one
        above 64 bits is InvalidArgError."""
        with self._lock:
            return self._prefixed(max_len, "string_leb128", 2)

    def cstring_at(self, offset: int, max_len: int) -> builtins.bytes:
        """The NUL-terminated string at byte `offset` (as cstring), the cursor
        unmoved. RangeError if offset > size; TooLargeError and EofError as
        cstring."""
        start = check_int(offset, 0, U64_MAX, "offset")
        limit = check_int(max_len, 0, U64_MAX, "max_len")
        with self._lock:
            h = self._open_handle("cstring_at")
            at = lib.tavbin_tell(h)
            view = h.view
            if start > len(view):
                self._fail(_c_u8_at(h, c_uint64(start), self._ref), "cstring_at", at)  # records RANGE
            rem = len(view) - start
            window = limit + 1 if limit < rem else rem
            nul = view[start : start + window].tobytes().find(b"\0")
            if nul < 0:
                if limit < rem:
                    raise self._error(Status.TOO_LARGE, "cstring_at", at)
                self._record(h, Status.EOF)
                self._fail(Status.EOF, "cstring_at", at)
            return view[start : start + nul].tobytes()


def _leb_parse(view: Any, pos: int, max_bytes: int, bits: int, signed: bool) -> Tuple[int, int, int]:
    """(status, length, value) of the LEB128 number at view[pos:] of at most
    max_bytes bytes whose value fits in `bits`: EOF if the data ends first,
    INVALID_ARG with length 0 if max_bytes bytes all continue, or with its
    length if the value does not fit."""
    value = 0
    for i in range(max_bytes):
        if pos + i >= len(view):
            return Status.EOF, 0, 0
        byte = view[pos + i]
        value |= (byte & 0x7F) << (7 * i)
        if not byte & 0x80:
            n = i + 1
            if signed and byte & 0x40:
                value -= 1 << (7 * n)
            low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
            if not low <= value <= high:
                return Status.INVALID_ARG, n, 0
            return Status.OK, n, value
    return Status.INVALID_ARG, 0, 0


_THREE = c_uint64(3)


class LsbBits:
    """Bit fields read least significant bit first, from the bytes at a reader's
    cursor: read(count), align(), and done(), which moves the reader past every
    byte a bit was taken from. A context manager whose exit calls done(). Its
    failures are not recorded in the reader's last_error. Read nothing else from
    the reader until done()."""

    __slots__ = ("_reader", "_h", "_start", "_bit", "_open")

    def __init__(self, reader: ReaderAPI) -> None:
        with reader._lock:
            h = reader._open_handle("lsb_bits")
            at = lib.tavbin_tell(h)
            mark = reader._mark
        self._start = at + 1 if mark is not None and mark[0] == at and mark[1] else at
        self._reader = reader
        self._h = h
        self._bit = 0
        self._open = True

    def read(self, count: int) -> int:
        """The next count (1 to 64) bits, the first one read the least significant.
        InvalidArgError for a count of 0 or above 64, or after done(); EofError if
        fewer bits remain; nothing is consumed then. The error's offset is the byte
        the first bit would have come from. ValueError once the reader is closed."""
        count = check_int(count, 0, U32_MAX, "count")
        if self._reader._h is not self._h:
            raise ValueError("LsbBits.read() on a closed reader")
        byte = self._start + (self._bit >> 3)
        origin = self._reader._origin
        outer = None if origin is None else origin + byte
        if not 1 <= count <= 64 or not self._open:
            raise error(Status.INVALID_ARG, "LsbBits.read", byte, outer)
        view = self._h.view
        end = self._start * 8 + self._bit + count
        if end > len(view) * 8:
            raise error(Status.EOF, "LsbBits.read", byte, outer)
        value = int.from_bytes(view[byte : (end + 7) >> 3], "little") >> (self._bit & 7)
        self._bit += count
        return value & ((1 << count) - 1)

    def align(self) -> None:
        """Drop the rest of a partly read byte."""
        self._bit = (self._bit + 7) & ~7

    def done(self) -> None:
        """Move the reader past every byte a bit was taken from. Safe to repeat."""
        if not self._open:
            return
        self._open = False
        taken = (self._bit + 7) >> 3
        with self._reader._lock:
            if taken and self._reader._h is self._h:
                # The skip also skips a byte the reader had partly read before.
                lib.tavbin_skip(self._h, taken)
                self._reader._mark = None

    def __enter__(self) -> LsbBits:
        return self

    def __exit__(self, *exc: object) -> None:
        self.done()


class Reader(ReaderAPI):
    __doc__ = ReaderAPI.__doc__
    __slots__ = ("_h", "_out", "_ref", "_order", "_mark", "_origin", "_lock", "__weakref__")
