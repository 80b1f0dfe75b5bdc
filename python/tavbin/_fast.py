"""The compiled fast path: Reader and Writer with their hot calls in C.

The extension gets the addresses of the functions of the module that ctypes
loaded, so both paths call the same module; everything it does not implement
comes from the same Python classes the ctypes path uses.
"""

from __future__ import annotations

from array import array

from . import _speedups  # ImportError where it was not built
from ._errors import check_float, check_int
from ._native import FUNCTIONS, address
from ._kinds import ARRAY_CODES, HOST_ORDER, array_code
from ._reader import ReaderAPI
from ._writer import WriterAPI

_speedups.bind(
    {name: address(name) for name in FUNCTIONS},
    check_int,
    check_float,
    WriterAPI.bytes,
    ARRAY_CODES,
    array,
    array_code,
    HOST_ORDER,
)


class Reader(_speedups.Reader, ReaderAPI):
    __doc__ = ReaderAPI.__doc__
    __slots__ = ("_out", "_ref", "_order", "_mark", "_lock", "__weakref__")


class Writer(_speedups.Writer, WriterAPI):
    __doc__ = WriterAPI.__doc__
    __slots__ = ("_order", "_lock", "__weakref__")
