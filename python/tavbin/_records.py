"""Record formats in the language of the struct module, for the ctypes path's
Reader.unpack, Reader.unpack_many and Writer.pack (the fast path compiles the
same rules in _records.c).

A format is struct's letters with their counts and standard sizes, no
alignment. A prefix <, > or ! fixes the byte order; without one the handle's
holds. The characters that only mean something on the host (@ = n N P) raise
ValueError wherever they stand; struct refuses everything else it refuses, with
its own exception. A zero-length p field, which struct mishandles, is an empty
field, as 0s is.
"""

from __future__ import annotations

import re
import struct
from typing import Any, Dict, Optional, Tuple

from ._errors import BIG

HOST_CHARACTERS = "@=nNP"

#: format object -> (Struct in BIG order, Struct in LITTLE order); bounded as struct's cache is.
CACHE: Dict[Any, Tuple[struct.Struct, struct.Struct]] = {}
CACHE_MAX = 100
_ZERO_P = re.compile(r"(?<![0-9])(0+)p")
_ZERO_P_BYTES = re.compile(rb"(?<![0-9])(0+)p")


def _compile(fmt: Any) -> Tuple[struct.Struct, struct.Struct]:
    if isinstance(fmt, str):
        text, lt, gt, zero_p, s = fmt, "<", ">", _ZERO_P, r"\1s"
    elif isinstance(fmt, bytes):
        text, lt, gt, zero_p, s = fmt.decode("latin-1"), b"<", b">", _ZERO_P_BYTES, rb"\1s"
    else:
        struct.calcsize(fmt)  # struct's TypeError
        raise TypeError(f"a record format is a str or bytes, not {type(fmt).__name__}")
    for c in text:
        if c in HOST_CHARACTERS:
            raise ValueError(
                f"format character '{c}' depends on the host: formats here have standard sizes and no "
                "alignment, with <, > or ! for the byte order"
            )
    fixed = text[:1] in ("<", ">", "!")
    struct.calcsize(fmt if fixed else lt + fmt)  # struct's error for anything else it refuses
    body = zero_p.sub(s, fmt[1:] if fixed else fmt)
    if fixed:
        one = struct.Struct(fmt[:1] + body)
        return one, one
    return struct.Struct(gt + body), struct.Struct(lt + body)


def compiled(fmt: Any, order: Optional[int]) -> Any:
    """The Struct that reads and writes records of fmt for a handle of byte order
    `order`; with order None, the pair (for BIG, for LITTLE)."""
    try:
        pair = CACHE[fmt]
    except (KeyError, TypeError):
        pair = _compile(fmt)
        if len(CACHE) >= CACHE_MAX:
            CACHE.clear()
        CACHE[fmt] = pair
    if order is None:
        return pair
    return pair[0] if order == BIG else pair[1]
