"""Status codes, the exceptions they become, and the checks on arguments."""

from __future__ import annotations

import enum
import math
import operator
from typing import Any, Dict, Optional, Tuple, Type

from ._native import lib

BIG = 0
"""Byte order: most significant byte at the lowest address."""
LITTLE = 1
"""Byte order: least significant byte at the lowest address."""

U32_MAX = 0xFFFFFFFF
U64_MAX = 0xFFFFFFFFFFFFFFFF


class Status(enum.IntEnum):
    """A status of the C calls. The values are fixed and will not change."""

    OK = 0
    """success"""
    EOF = 1
    """fewer bytes remain than the read needs"""
    RANGE = 2
    """seek past the end, absolute read or store out of bounds"""
    INVALID_ARG = 3
    """bad byte order, bad bit count, bad LEB128, or a handle refused"""
    TOO_LARGE = 4
    """a length over the caller's limit"""
    OOM = 5
    """the writer's buffer cannot grow"""


def strerror(status: int) -> str:
    """Text of a status: "ok", "eof", "range", "invalid_arg", "too_large" or "oom"
    for 0 to 5 and "unknown" for any other 32-bit value."""
    status = check_int(status, -(2**31), 2**31 - 1, "status")
    return lib.tavbin_strerror(status).decode("ascii")


class Error(Exception):
    """A C call failed. `status` tells how; the message holds its text.

    Raised as one of the subclasses, one per status; catch Error for all of them.
    `offset` is where the failed call began: the reader's tell() just before it,
    the writer's length (where the append would have gone), or the offset given
    to a load or store. For a call on a sub-reader, `outer` is where it began in
    the outermost input (the sub-reader's origin() plus offset), and the message
    says so; otherwise it is None.
    """

    default_status: Optional[Status] = None
    status: Any

    def __init__(
        self,
        status: Optional[int] = None,
        where: Optional[str] = None,
        offset: Optional[int] = None,
        outer: Optional[int] = None,
    ) -> None:
        if status is None:
            status = self.default_status
        try:
            self.status = Status(status)
        except ValueError:
            self.status = status  # a status this package does not know
        self.where = where
        self.offset = offset
        self.outer = outer
        text = strerror(int(status)) if status is not None else "error"
        if outer is not None:
            text += f" at offset {offset} of a sub-reader, {outer} in the outermost input"
        super().__init__(f"{where}: {text}" if where else text)

    def __reduce__(self) -> Tuple[Any, ...]:
        return type(self), (self.status, self.where, self.offset, self.outer)


class EofError(Error, EOFError):
    """Fewer bytes remain than the read needs (Status.EOF); also an EOFError."""

    default_status = Status.EOF


class RangeError(Error):
    """A seek past the end, or an absolute read or a store out of bounds (Status.RANGE)."""

    default_status = Status.RANGE


class InvalidArgError(Error):
    """A bad byte order, bit count or LEB128 number (Status.INVALID_ARG)."""

    default_status = Status.INVALID_ARG


class TooLargeError(Error):
    """A length over the caller's limit (Status.TOO_LARGE)."""

    default_status = Status.TOO_LARGE


class OomError(Error, MemoryError):
    """The writer's buffer cannot grow, or a handle cannot be allocated (Status.OOM)."""

    default_status = Status.OOM


_BY_STATUS: Dict[int, Type[Error]] = {
    cls.default_status: cls for cls in (EofError, RangeError, InvalidArgError, TooLargeError, OomError)
}


def error(status: int, where: str, offset: Optional[int] = None, outer: Optional[int] = None) -> Error:
    """The exception for a failed call of `where` that returned `status`; `outer`
    for a call on a sub-reader (see Error)."""
    return _BY_STATUS.get(status, Error)(status, where, offset, outer)


def check_int(value: Any, low: int, high: int, what: str) -> int:
    """`value` as an int from low to high; TypeError if it is no integer,
    OverflowError if it is out of range (so it never wraps on its way to C)."""
    value = operator.index(value)
    if not low <= value <= high:
        raise OverflowError(f"{what} must be from {low} to {high}, not {value}")
    return value


# Doubles from this magnitude on round to infinity as binary32 (the midpoint
# between the largest binary32 and 2**128 rounds to even, upwards).
_F32_EDGE = 2.0**128 - 2.0**103


def check_float(value: Any, what: str, binary32: bool = False) -> float:
    """`value` as a float; TypeError if it is no number (a str is none), and,
    for binary32, OverflowError if a finite value would become infinite."""
    kind = type(value)
    if not (hasattr(kind, "__float__") or hasattr(kind, "__index__")):
        raise TypeError(f"{what} must be a real number, not '{kind.__name__}'")
    value = float(value)
    if binary32 and abs(value) >= _F32_EDGE and math.isfinite(value):
        raise OverflowError(f"{what} {value!r} is too large for binary32")
    return value
