"""What the reader and the writer share: the host's byte order and the kinds of
Reader.array and Writer.array with their array.array type codes."""

from __future__ import annotations

import sys
from array import array
from typing import Any, Dict

from ._errors import BIG, LITTLE

HOST_ORDER = LITTLE if sys.byteorder == "little" else BIG

#: kind -> the array.array type code of that width on this platform.
ARRAY_CODES: Dict[str, str] = {}
for _kind, _codes in (
    ("u8", "B"),
    ("i8", "b"),
    ("u16", "H"),
    ("i16", "h"),
    ("u32", "IL"),
    ("i32", "il"),
    ("u64", "QL"),
    ("i64", "ql"),
    ("f32", "f"),
    ("f64", "d"),
):
    _width = int(_kind[1:]) // 8
    ARRAY_CODES[_kind] = next(c for c in _codes if array(c).itemsize == _width)

#: type code -> bytes per value.
WIDTHS = {code: array(code).itemsize for code in ARRAY_CODES.values()}


def array_code(kind: Any) -> str:
    """The array.array type code of a kind; ValueError for an unknown kind."""
    code = ARRAY_CODES.get(kind) if isinstance(kind, str) else None
    if code is None:
        raise ValueError(f"kind must be one of {' '.join(ARRAY_CODES)}, not {kind!r}")
    return code
