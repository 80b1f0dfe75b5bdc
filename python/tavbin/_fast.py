"""The compiled fast path: Reader, Writer and LsbBits as extension types, every
method and property in C (tavbin/_speedups.c).

The extension gets the addresses of the functions of the module that ctypes
loaded, so both paths call the same module, and the package's own argument
checks and exceptions, which it calls only for an argument its quick test does
not take and for a failed call, so both paths refuse and fail alike.
"""

from __future__ import annotations

from array import array
from typing import NoReturn

from . import _speedups  # ImportError where it was not built
from ._errors import BIG, LITTLE, InvalidArgError, OomError, Status, check_float, check_int, error
from ._native import FUNCTIONS, address
from ._kinds import ARRAY_CODES, array_code


def _open_failed(name: str, order: int) -> NoReturn:
    """Say why an open function returned NULL (as the ctypes classes say it)."""
    if order not in (BIG, LITTLE):
        raise InvalidArgError(where=f"{name}: order must be BIG or LITTLE")
    raise OomError(where=name)


_speedups.bind(
    {name: address(name) for name in FUNCTIONS},
    error,
    _open_failed,
    check_int,
    check_float,
    Status,
    ARRAY_CODES,
    array,
    array_code,
)

Reader = _speedups.Reader
Writer = _speedups.Writer
LsbBits = _speedups.LsbBits
