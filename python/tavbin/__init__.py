"""tavbin: exact, bounds-checked binary decoding and encoding, from Python.

A thin layer over the binary-read-util module (tavbin.h), through ctypes. A
Reader is a cursor over bytes you own; a Writer is a buffer the module owns and
grows by doubling. Both decode and encode fixed-width integers, IEEE 754 floats,
byte blocks, length-prefixed strings and unsigned LEB128 in the byte order chosen
for the handle, so the same bytes give the same values on every host. A failed
C call raises the Error subclass of its status.

Example: write a few values, then read them back.

    >>> import tavbin
    >>> with tavbin.Writer() as w:
    ...     w.u32(0xCAFEF00D)
    ...     w.leb128(624485)
    ...     w.string_u32(b"hi")
    ...     data = w.getvalue()
    >>> with tavbin.Reader(data) as r:
    ...     hex(r.u32()), r.leb128(), r.string_u32(max_len=15)
    ('0xcafef00d', 624485, b'hi')

Where the package was installed with a C compiler and Python's headers,
Reader, Writer and LsbBits are extension types whose every method and property
is compiled (ACCELERATED is then True); otherwise, or with TAVBIN_PURE=1 in the
environment, they are Python classes that call the module through ctypes, with
the same behaviour.

The module is found through the TAVBIN_LIBRARY environment variable (a path),
then a copy inside this package, then the system loader's search by name
(binary-read-util.dll on Windows, libbinary-read-util.so.1 elsewhere).
"""

from os import environ as _environ

from ._buffer import BytesLike
from ._errors import (
    BIG,
    LITTLE,
    EofError,
    Error,
    InvalidArgError,
    OomError,
    RangeError,
    Status,
    TooLargeError,
    strerror,
)
from ._memory import (
    load_u16,
    load_u32,
    load_u64,
    store_u16,
    store_u32,
    store_u64,
    zigzag_decode,
    zigzag_encode,
)
from ._reader import LsbBits, Reader
from ._writer import Writer

ACCELERATED = False
"""True when Reader, Writer and LsbBits are the compiled extension types
(TAVBIN_PURE=1 in the environment before import forces the ctypes path)."""

if _environ.get("TAVBIN_PURE") != "1":
    try:
        from ._fast import LsbBits, Reader, Writer  # noqa: F811
    except ImportError:  # not built: the ctypes classes stay
        pass
    else:
        ACCELERATED = True

__version__ = "1.0.0"

__all__ = [
    "ACCELERATED",
    "BIG",
    "LITTLE",
    "BytesLike",
    "EofError",
    "Error",
    "InvalidArgError",
    "LsbBits",
    "OomError",
    "RangeError",
    "Reader",
    "Status",
    "TooLargeError",
    "Writer",
    "load_u16",
    "load_u32",
    "load_u64",
    "store_u16",
    "store_u32",
    "store_u64",
    "strerror",
    "zigzag_decode",
    "zigzag_encode",
]
