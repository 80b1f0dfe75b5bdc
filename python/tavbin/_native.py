"""The binary-read-util module: where it is found and how its 58 functions are declared.

FUNCTIONS is the one declaration table. Every size, count and offset is c_uint64
(c_ulong would be 32 bits on Windows), statuses are c_int32, byte orders c_uint32,
and the two handles are pointers to distinct opaque structures, so a writer cannot
be passed where a reader is expected.
"""

from __future__ import annotations

import ctypes
import os
import sys
from ctypes import (
    POINTER,
    c_char,
    c_char_p,
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
    c_void_p,
)
from typing import Any, Dict, Mapping, Optional, Tuple

from ._names import library_name

ENV_VAR = "TAVBIN_LIBRARY"

LIBRARY_NAME = library_name(sys.platform)


class tavbin_reader(ctypes.Structure):
    """Opaque reader handle: only ever used through a pointer."""


class tavbin_writer(ctypes.Structure):
    """Opaque writer handle: only ever used through a pointer."""


ReaderHandle = POINTER(tavbin_reader)
WriterHandle = POINTER(tavbin_writer)

_R = ReaderHandle
_W = WriterHandle
_status = c_int32
_endian = c_uint32
_size = c_uint64

Declaration = Tuple[Any, Tuple[Any, ...]]

#: name -> (restype, argtypes), in the order of tavbin.h.
FUNCTIONS: Dict[str, Declaration] = {
    "tavbin_strerror": (c_char_p, (_status,)),
    "tavbin_load_u16": (_status, (c_void_p, _size, _endian, POINTER(c_uint16))),
    "tavbin_load_u32": (_status, (c_void_p, _size, _endian, POINTER(c_uint32))),
    "tavbin_load_u64": (_status, (c_void_p, _size, _endian, POINTER(c_uint64))),
    "tavbin_store_u16": (_status, (c_void_p, _size, _endian, c_uint16)),
    "tavbin_store_u32": (_status, (c_void_p, _size, _endian, c_uint32)),
    "tavbin_store_u64": (_status, (c_void_p, _size, _endian, c_uint64)),
    # Reader: life, cursor, single bytes and bit fields
    "tavbin_open": (_R, (c_void_p, _size, _endian)),
    "tavbin_close": (None, (_R,)),
    "tavbin_set_endian": (_status, (_R, _endian)),
    "tavbin_seek": (_status, (_R, _size)),
    "tavbin_tell": (_size, (_R,)),
    "tavbin_remaining": (_size, (_R,)),
    "tavbin_size": (_size, (_R,)),
    "tavbin_last_error": (_status, (_R,)),
    "tavbin_bit_align": (None, (_R,)),
    "tavbin_u8": (_status, (_R, POINTER(c_uint8))),
    "tavbin_i8": (_status, (_R, POINTER(c_int8))),
    "tavbin_bits": (_status, (_R, c_uint32, POINTER(c_uint64))),
    # Reader: fixed-width values and blocks
    "tavbin_u16": (_status, (_R, POINTER(c_uint16))),
    "tavbin_i16": (_status, (_R, POINTER(c_int16))),
    "tavbin_u32": (_status, (_R, POINTER(c_uint32))),
    "tavbin_i32": (_status, (_R, POINTER(c_int32))),
    "tavbin_f32": (_status, (_R, POINTER(c_float))),
    "tavbin_u64": (_status, (_R, POINTER(c_uint64))),
    "tavbin_i64": (_status, (_R, POINTER(c_int64))),
    "tavbin_f64": (_status, (_R, POINTER(c_double))),
    "tavbin_bytes": (_status, (_R, c_void_p, _size)),
    "tavbin_ascii": (_status, (_R, POINTER(c_char), _size)),
    "tavbin_skip": (_status, (_R, _size)),
    # Reader: peeks and absolute reads
    "tavbin_peek_u8": (_status, (_R, POINTER(c_uint8))),
    "tavbin_peek_u16": (_status, (_R, POINTER(c_uint16))),
    "tavbin_peek_u32": (_status, (_R, POINTER(c_uint32))),
    "tavbin_peek_u64": (_status, (_R, POINTER(c_uint64))),
    "tavbin_u8_at": (_status, (_R, _size, POINTER(c_uint8))),
    "tavbin_u16_at": (_status, (_R, _size, POINTER(c_uint16))),
    "tavbin_u32_at": (_status, (_R, _size, POINTER(c_uint32))),
    "tavbin_u64_at": (_status, (_R, _size, POINTER(c_uint64))),
    # Reader: variable-length values
    "tavbin_string_u32": (_status, (_R, POINTER(c_char), _size, _size, POINTER(c_uint64))),
    "tavbin_leb128": (_status, (_R, POINTER(c_uint64), _size)),
    # Writer: life, queries and raw appends
    "tavbinw_open": (_W, (_size, _endian)),
    "tavbinw_close": (None, (_W,)),
    "tavbinw_set_endian": (_status, (_W, _endian)),
    "tavbinw_data": (POINTER(c_uint8), (_W,)),
    "tavbinw_len": (_size, (_W,)),
    "tavbinw_last_error": (_status, (_W,)),
    "tavbinw_bytes": (_status, (_W, c_void_p, _size)),
    "tavbinw_u8": (_status, (_W, c_uint8)),
    # Writer: typed appends
    "tavbinw_u16": (_status, (_W, c_uint16)),
    "tavbinw_i16": (_status, (_W, c_int16)),
    "tavbinw_u32": (_status, (_W, c_uint32)),
    "tavbinw_i32": (_status, (_W, c_int32)),
    "tavbinw_f32": (_status, (_W, c_float)),
    "tavbinw_u64": (_status, (_W, c_uint64)),
    "tavbinw_i64": (_status, (_W, c_int64)),
    "tavbinw_f64": (_status, (_W, c_double)),
    "tavbinw_leb128": (_status, (_W, c_uint64)),
    "tavbinw_string_u32": (_status, (_W, c_char_p, _size)),
}


def _declare(lib: ctypes.CDLL) -> None:
    for name, (restype, argtypes) in FUNCTIONS.items():
        fn = getattr(lib, name)  # AttributeError: not this library
        fn.restype = restype
        fn.argtypes = argtypes


def load_library(
    environ: Optional[Mapping[str, str]] = None, package_dir: Optional[str] = None
) -> Tuple[ctypes.CDLL, str]:
    """Load the module and declare its functions; return it with where it came from.

    Tried in order: the path in TAVBIN_LIBRARY, the copy inside this package, and
    the system loader's search by file name. The first that loads and exports every
    function wins. If none does, one OSError lists every attempt and its reason.
    A TAVBIN_LIBRARY that is set is the only candidate: if it does not load, the
    OSError names it and nothing else is tried.
    """
    environ = os.environ if environ is None else environ
    package_dir = os.path.dirname(os.path.abspath(__file__)) if package_dir is None else package_dir
    bundled = os.path.join(package_dir, LIBRARY_NAME)
    from_env = environ.get(ENV_VAR, "")
    # (what to report, what to load or None, why there is nothing, CDLL keyword arguments)
    candidates = [
        (f"{ENV_VAR}={from_env}" if from_env else ENV_VAR, from_env or None, "not set", {}),
        (f"the package's copy {bundled}", bundled if os.path.exists(bundled) else None, "not present", {}),
        # By name on Windows: the classic search order, PATH included, which
        # Python 3.8+ otherwise leaves out.
        (
            f"{LIBRARY_NAME} by the system loader's search",
            LIBRARY_NAME,
            "",
            {"winmode": 0} if sys.platform == "win32" else {},
        ),
    ]
    if from_env:
        candidates = candidates[:1]
    tried = []
    for what, target, absent, kwargs in candidates:
        if target is None:
            tried.append(f"{what}: {absent}")
            continue
        try:
            # PyDLL: every call keeps the GIL. None of the module's functions
            # blocks, and a handle is not safe for two threads at once, so
            # holding it makes each C call atomic for the threads that share one.
            lib = ctypes.PyDLL(target, **kwargs)
            _declare(lib)
        except (OSError, AttributeError) as e:
            tried.append(f"{what}: {e}")
            continue
        return lib, target
    if from_env:
        raise OSError(f"cannot load the binary-read-util module named by {tried[0]}")
    raise OSError("cannot load the binary-read-util module; tried:\n  " + "\n  ".join(tried))


lib, path = load_library()


def unchecked(name: str) -> Any:
    """A second entry point to `name` with its result type but no argument types.

    ctypes converts declared arguments through a Python-level check on every call,
    which costs more than the C call itself. The handle classes call these twins on
    their hot paths, always with arguments that are already ctypes objects of the
    declared types (or a pointer to memory that holds the declared pointee).
    """
    fn = lib._FuncPtr((name, lib))
    fn.restype = FUNCTIONS[name][0]
    return fn


def address(name: str) -> int:
    """The address of the C function `name` in the loaded module."""
    return ctypes.cast(getattr(lib, name), c_void_p).value or 0
