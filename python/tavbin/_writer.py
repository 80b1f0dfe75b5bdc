"""Writer: a byte buffer the module owns and grows by doubling."""

from __future__ import annotations

import builtins
import ctypes
import operator
import threading
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

from array import array as _array
from typing import Any, Dict, Iterable

from ._buffer import Borrowed, BytesLike
from ._errors import BIG, LITTLE, U32_MAX, U64_MAX, Status, check_float, check_int, error
from ._handle import Handle, define, owner_type
from ._kinds import HOST_ORDER, array_code
from ._native import WriterHandle, lib, unchecked
from ._records import compiled

_Owner = owner_type(WriterHandle, lib.tavbinw_close)

_c_u8, _c_u16, _c_i16, _c_u32, _c_i32, _c_f32, _c_u64, _c_i64, _c_f64, _c_leb128 = (
    unchecked("tavbinw_" + kind)
    for kind in ("u8", "u16", "i16", "u32", "i32", "f32", "u64", "i64", "f64", "leb128")
)

_c_bytes = unchecked("tavbinw_bytes")
_c_string_u32 = unchecked("tavbinw_string_u32")


def _int(name: str, ctype: str, low: int, high: int, doc: str) -> Dict[str, str]:
    return {
        "name": name,
        "kind": "int",
        "low": hex(low),
        "high": hex(high),
        "check": f'check_int(value, {hex(low)}, {hex(high)}, "value")',
        "ctype": ctype,
        "doc": doc,
    }


_I16 = (-(2**15), 2**15 - 1)
_I32 = (-(2**31), 2**31 - 1)
_I64 = (-(2**63), 2**63 - 1)
# Floats below this magnitude are finite as binary32 (see check_float).
_F32_SAFE = 3.4e38


class WriterAPI(Handle):
    """A buffer that grows as you append: integers and floats in a chosen byte order,
    blocks, length-prefixed strings and LEB128.

    initial_cap: bytes to allocate at first; 0 means 64.
    order:       BIG or LITTLE, for the multi-byte appends; set_endian changes it.

    An append returns None or raises the Error subclass of the C call's status,
    which leaves the writer as it was. An int outside the range of the C type
    raises OverflowError, and a value of the wrong type TypeError, before any call
    (nothing is recorded). An error's offset is the writer's length, where the
    append would have gone. After close(), every call raises ValueError. A writer
    may be shared by threads: each call runs whole (each append lands whole), in
    an order the threads' scheduling decides; closing it while another thread
    appends is safe (the append completes or raises ValueError).
    """

    __slots__ = ()
    _c_set_endian = lib.tavbinw_set_endian
    _c_last_error = lib.tavbinw_last_error

    def __init__(self, initial_cap: int = 0, order: int = BIG) -> None:
        self._h = None
        self._lock = threading.RLock()
        initial_cap = check_int(initial_cap, 0, U64_MAX, "initial_cap")
        order = check_int(order, 0, U32_MAX, "order")
        h = lib.tavbinw_open(initial_cap, order)
        self._raise_if_not_opened(h, order)
        self._order = order
        self._h = _Owner.from_buffer_copy(h)

    def _failed_at(self, h: Any, where: str) -> int:
        return lib.tavbinw_len(h)

    # -- queries -----------------------------------------------------------

    def getvalue(self) -> builtins.bytes:
        """A copy of the bytes written so far."""
        with self._lock:
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
        with Borrowed(data) as src, self._lock:
            status = _c_bytes(self._h, c_void_p(src.address), c_uint64(src.size))
            if status:
                self._fail(status, "bytes")

    def string_u32(self, data: BytesLike) -> None:
        """Append a 32-bit byte count (writer's byte order) and the bytes of `data`,
        unchanged and without a terminator. TooLargeError (recorded, nothing
        appended) for more than 0xFFFFFFFF bytes."""
        with Borrowed(data) as src, self._lock:
            status = _c_string_u32(self._h, c_void_p(src.address), c_uint64(src.size))
            if status:
                self._fail(status, "string_u32")

    # Each appends one value in the writer's byte order; OverflowError outside
    # the C type's range, TypeError for a value of another type. Written out
    # from one template (see define).
    define(
        locals(),
        """
def {name}(self, value):
    "{doc}"
    if type(value) is not {kind} or not {low} <= value <= {high}:
        value = {check}
    value = {ctype}(value)
    lock = self._lock
    lock.acquire()
    try:
        status = _c_{name}(self._h, value)
        if status:
            self._fail(status, "{name}")
    finally:
        lock.release()
""",
        [
            _int("u8", "c_uint8", 0, 0xFF, "Append one byte, 0 to 255."),
            _int(
                "u16", "c_uint16", 0, 0xFFFF, "Append an unsigned 16-bit integer in the writer's byte order."
            ),
            _int(
                "i16",
                "c_int16",
                -0x8000,
                0x7FFF,
                "Append a signed 16-bit integer in the writer's byte order.",
            ),
            _int(
                "u32", "c_uint32", 0, U32_MAX, "Append an unsigned 32-bit integer in the writer's byte order."
            ),
            _int(
                "i32",
                "c_int32",
                -0x80000000,
                0x7FFFFFFF,
                "Append a signed 32-bit integer in the writer's byte order.",
            ),
            _int(
                "u64", "c_uint64", 0, U64_MAX, "Append an unsigned 64-bit integer in the writer's byte order."
            ),
            _int(
                "i64",
                "c_int64",
                -(2**63),
                2**63 - 1,
                "Append a signed 64-bit integer in the writer's byte order.",
            ),
            _int(
                "leb128",
                "c_uint64",
                0,
                U64_MAX,
                "Append an unsigned LEB128 number, 0 to 2**64 - 1, in its shortest form.",
            ),
            {
                "name": "f32",
                "kind": "float",
                "low": "-_F32_SAFE",
                "high": "_F32_SAFE",
                "check": 'check_float(value, "value", binary32=True)',
                "ctype": "c_float",
                "doc": "Append a float as IEEE 754 binary32, rounded to nearest. OverflowError if a "
                "finite value is too large for binary32; infinities and NaN pass.",
            },
        ],
        globals(),
        "WriterAPI",
    )

    def f64(self, value: float) -> None:
        """Append a float as IEEE 754 binary64, bit for bit."""
        if type(value) is not float:
            value = check_float(value, "value")
        with self._lock:
            status = _c_f64(self._h, c_double(value))
            if status:
                self._fail(status, "f64")

    # -- the record layer ----------------------------------------------------

    def _append(self, data: Any, where: str) -> None:
        with self._lock:
            status = _c_bytes(self._h, data, c_uint64(len(data)))
            if status:
                self._fail(status, where)

    def _put3(self, value: Any, low: int, where: str) -> None:
        value = operator.index(value)
        if not low <= value < low + 0x1000000:
            h = self._live(where + "()")
            raise error(Status.RANGE, f"{type(self).__name__}.{where}", lib.tavbinw_len(h))
        self._append((value & 0xFFFFFF).to_bytes(3, "little" if self._order == LITTLE else "big"), where)

    def u24(self, value: int) -> None:
        """Append an unsigned 24-bit integer in the writer's byte order. RangeError
        (nothing appended, not recorded) outside 0 to 0xFFFFFF."""
        self._put3(value, 0, "u24")

    def i24(self, value: int) -> None:
        """Append a signed 24-bit integer in the writer's byte order. RangeError
        (nothing appended, not recorded) outside -0x800000 to 0x7FFFFF."""
        self._put3(value, -0x800000, "i24")

    def sleb128(self, value: int) -> None:
        """Append a signed LEB128 number, -2**63 to 2**63 - 1, in its shortest form."""
        value = check_int(value, *_I64, "value")
        out = bytearray()
        while True:
            group = value & 0x7F
            value >>= 7  # arithmetic: the sign stays
            if value == (-1 if group & 0x40 else 0):
                out.append(group)
                break
            out.append(group | 0x80)
        self._append(builtins.bytes(out), "sleb128")

    def _patch(self, store: Any, width: int, high: int, offset: int, value: int, where: str) -> None:
        value = check_int(value, 0, high, "value")
        offset = check_int(offset, 0, U64_MAX, "offset")
        with self._lock:
            h = self._live(where + "()")
            size = lib.tavbinw_len(h)
            if offset > size or size - offset < width:
                raise error(Status.RANGE, f"{type(self).__name__}.{where}", size)
            status = store(lib.tavbinw_data(h), size, offset, self._order, value)
            if status:
                self._fail(status, where, size)

    def patch_u16(self, offset: int, value: int) -> None:
        """Overwrite the 16-bit value at byte `offset` of what was written, in the
        writer's byte order. RangeError (nothing written, not recorded) unless it
        lies wholly inside the written bytes."""
        self._patch(_store_u16, 2, 0xFFFF, offset, value, "patch_u16")

    def patch_u32(self, offset: int, value: int) -> None:
        """Overwrite a 32-bit value already written (as patch_u16)."""
        self._patch(_store_u32, 4, U32_MAX, offset, value, "patch_u32")

    def patch_u64(self, offset: int, value: int) -> None:
        """Overwrite a 64-bit value already written (as patch_u16)."""
        self._patch(_store_u64, 8, U64_MAX, offset, value, "patch_u64")

    def array(self, kind: str, values: Iterable[Any]) -> None:
        """Append values of kind ("u8" "i8" "u16" "i16" "u32" "i32" "u64" "i64" "f32"
        "f64") in the writer's byte order, in one append: all or nothing. A value
        out of range raises OverflowError, one of the wrong type TypeError, before
        anything is appended; ValueError for any other kind."""
        code = array_code(kind)
        if code == "f":
            values = [check_float(v, "value", binary32=True) for v in values]
        elif code == "d":
            values = [check_float(v, "value") for v in values]
        else:
            values = [operator.index(v) for v in values]
        block = _array(code, values)
        with self._lock:
            if block.itemsize > 1 and self._order != HOST_ORDER:
                block.byteswap()
            with Borrowed(block) as src:
                status = _c_bytes(self._h, c_void_p(src.address), c_uint64(src.size))
            if status:
                self._fail(status, "array")

    def pack(self, fmt: Any, *values: Any) -> None:
        """Append the bytes struct.pack(order + fmt, *values) gives, in one append,
        order the format's own (<, > or !) or else the writer's. Standard sizes, no
        alignment; @ = n N P raise ValueError. struct.error, as struct.pack raises
        it, for a bad format or values it refuses: nothing is appended then."""
        with self._lock:
            data = compiled(fmt, self._order).pack(*values)
            self._append(data, "pack")

    # -- strings with any length prefix ----------------------------------------

    def _prefixed(self, data: BytesLike, where: str, head: Any) -> None:
        with Borrowed(data) as src:
            body = string_at(src.address, src.size) if src.size else b""
        prefix = head(len(body))
        with self._lock:
            h = self._h
            if prefix is None:
                # Recorded through the one call that refuses a length: string_u32's.
                _c_string_u32(h, c_void_p(_ONE), c_uint64(U32_MAX + 1))
                self._fail(Status.TOO_LARGE, where)
            self._append(prefix + body, where)

    def _order_name(self) -> str:
        return "little" if self._order == LITTLE else "big"

    def string_u8(self, data: BytesLike) -> None:
        """Append an 8-bit byte count and the bytes of `data` (as string_u32);
        TooLargeError (recorded, nothing appended) for more than 255 bytes."""
        self._prefixed(data, "string_u8", lambda n: bytes((n,)) if n <= 0xFF else None)

    def string_u16(self, data: BytesLike) -> None:
        """Append a 16-bit byte count (writer's byte order) and the bytes of `data`
        (as string_u32); TooLargeError (recorded, nothing appended) for more than
        65535 bytes."""
        self._prefixed(
            data, "string_u16", lambda n: n.to_bytes(2, self._order_name()) if n <= 0xFFFF else None
        )

    def string_leb128(self, data: BytesLike) -> None:
        """Append an unsigned LEB128 byte count and the bytes of `data` (as
        string_u32)."""
        self._prefixed(data, "string_leb128", _leb128_bytes)


def _leb128_bytes(n: int) -> builtins.bytes:
    out = bytearray()
    while True:
        group, n = n & 0x7F, n >> 7
        out.append(group | (0x80 if n else 0))
        if not n:
            return builtins.bytes(out)


_ONE_BLOCK = ctypes.create_string_buffer(1)
_ONE = ctypes.addressof(_ONE_BLOCK)


def _store(fn: Any) -> Any:
    def store(data: Any, size: int, offset: int, order: int, value: int) -> int:
        return fn(ctypes.cast(data, c_void_p).value + offset, size - offset, order, value)

    return store


_store_u16, _store_u32, _store_u64 = (_store(getattr(lib, "tavbin_store_u" + w)) for w in ("16", "32", "64"))


class Writer(WriterAPI):
    __doc__ = WriterAPI.__doc__
    __slots__ = ("_h", "_order", "_lock", "__weakref__")
