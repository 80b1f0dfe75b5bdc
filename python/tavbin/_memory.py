"""Stateless loads and stores of 16-, 32- and 64-bit values in a caller's buffer."""

from __future__ import annotations

from ctypes import addressof, byref, c_uint16, c_uint32, c_uint64, create_string_buffer
from typing import Any, Callable, Tuple

from ._buffer import Borrowed, BytesLike
from ._errors import BIG, U32_MAX, U64_MAX, check_int, error
from ._native import lib

# A non-NULL address for an offset at or past the end: the C call then sees 0
# bytes there and fails on the length, never on a NULL pointer.
_NOWHERE_BLOCK = create_string_buffer(1)
_NOWHERE = addressof(_NOWHERE_BLOCK)


def _at(buf: Borrowed, offset: int) -> Tuple[int, int]:
    """(address, bytes available) at `offset` into the borrowed buffer."""
    if offset < buf.size:
        return buf.address + offset, buf.size - offset
    return _NOWHERE, 0


def _load(fn: Callable[..., int], out: Any, data: BytesLike, order: int, offset: int, where: str) -> int:
    order = check_int(order, 0, U32_MAX, "order")
    offset = check_int(offset, 0, U64_MAX, "offset")
    with Borrowed(data) as buf:
        status = fn(*_at(buf, offset), order, byref(out))
    if status:
        raise error(status, where, offset)
    return out.value


def _store(
    fn: Callable[..., int], buffer: BytesLike, value: int, high: int, order: int, offset: int, where: str
) -> None:
    value = check_int(value, 0, high, "value")
    order = check_int(order, 0, U32_MAX, "order")
    offset = check_int(offset, 0, U64_MAX, "offset")
    with Borrowed(buffer, writable=True) as buf:
        status = fn(*_at(buf, offset), order, value)
    if status:
        raise error(status, where, offset)


def load_u16(data: BytesLike, order: int = BIG, offset: int = 0) -> int:
    """The unsigned 16-bit value at byte `offset` of `data`, in byte order `order`.
    EofError if fewer than 2 bytes lie there; InvalidArgError for a bad order."""
    return _load(lib.tavbin_load_u16, c_uint16(), data, order, offset, "load_u16")


def load_u32(data: BytesLike, order: int = BIG, offset: int = 0) -> int:
    """The unsigned 32-bit value at byte `offset` of `data`, in byte order `order`.
    EofError if fewer than 4 bytes lie there; InvalidArgError for a bad order."""
    return _load(lib.tavbin_load_u32, c_uint32(), data, order, offset, "load_u32")


def load_u64(data: BytesLike, order: int = BIG, offset: int = 0) -> int:
    """The unsigned 64-bit value at byte `offset` of `data`, in byte order `order`.
    EofError if fewer than 8 bytes lie there; InvalidArgError for a bad order."""
    return _load(lib.tavbin_load_u64, c_uint64(), data, order, offset, "load_u64")


def store_u16(buffer: BytesLike, value: int, order: int = BIG, offset: int = 0) -> None:
    """Write `value` (0 to 0xFFFF) as 2 bytes at byte `offset` of a writable buffer.
    RangeError if fewer than 2 bytes lie there (nothing is written)."""
    _store(lib.tavbin_store_u16, buffer, value, 0xFFFF, order, offset, "store_u16")


def store_u32(buffer: BytesLike, value: int, order: int = BIG, offset: int = 0) -> None:
    """Write `value` (0 to 0xFFFFFFFF) as 4 bytes at byte `offset` of a writable buffer.
    RangeError if fewer than 4 bytes lie there (nothing is written)."""
    _store(lib.tavbin_store_u32, buffer, value, U32_MAX, order, offset, "store_u32")


def store_u64(buffer: BytesLike, value: int, order: int = BIG, offset: int = 0) -> None:
    """Write `value` (0 to 2**64 - 1) as 8 bytes at byte `offset` of a writable buffer.
    RangeError if fewer than 8 bytes lie there (nothing is written)."""
    _store(lib.tavbin_store_u64, buffer, value, U64_MAX, order, offset, "store_u64")


_I64_MIN, _I64_MAX = -(2**63), 2**63 - 1


def zigzag_encode(v: int) -> int:
    """Map a signed 64-bit value to an unsigned one so that small magnitudes of
    either sign stay small (0, -1, 1, -2 ... become 0, 1, 2, 3 ...), for
    Writer.leb128. OverflowError outside the int64 range."""
    v = check_int(v, _I64_MIN, _I64_MAX, "v")
    return ((v << 1) ^ (v >> 63)) & U64_MAX


def zigzag_decode(u: int) -> int:
    """The inverse of zigzag_encode, for a value read with Reader.leb128.
    OverflowError outside 0 to 2**64 - 1."""
    u = check_int(u, 0, U64_MAX, "u")
    return (u >> 1) ^ -(u & 1)
