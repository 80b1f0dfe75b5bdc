"""tavbin.kaitai: a runtime for parsers that the Kaitai Struct compiler generates
for Python, in place of the `kaitaistruct` module.

Generated modules run on it unchanged: call install() before importing them and
their `import kaitaistruct` finds this module (see docs/kaitai.md).

    >>> import tavbin.kaitai
    >>> tavbin.kaitai.install()
    >>> import kaitaistruct
    >>> kaitaistruct.KaitaiStream(kaitaistruct.BytesIO(b"\\x01\\x02")).read_u2le()
    513

KaitaiStream reads through a tavbin reader handle over the stream's bytes: the
bytes behind a BytesIO (not copied), or a read-only mapping of an open file. Its
every method is compiled where the package was built with a C compiler
(ACCELERATED is then True); otherwise, or with TAVBIN_PURE=1 in the environment,
it is Python over tavbin.Reader, with the same behaviour. Parsing only: writing
(ReadWriteKaitaiStruct, the write_* methods) is not provided.
"""

from __future__ import annotations

import mmap
import operator
import os
import sys
import threading
import warnings
from io import (
    SEEK_CUR,
    SEEK_END,
    BytesIO,
    UnsupportedOperation,
    open,
)  # noqa: F401 (as kaitaistruct has them)
from typing import Any, Optional, Tuple

from . import BIG, LITTLE, EofError, Reader

__version__ = "0.11"
"""The version of the kaitaistruct API this module provides, as kaitaistruct spells it."""

API_VERSION = (0, 11)
"""What generated code checks: the compiler 0.11 (and 0.10) needs at least its own version."""

PY2 = False

# Reads that fail for want of bytes and asked for more than this check first and
# consume nothing; smaller ones consume what remained, as a BytesIO read does.
_LARGE_READ = 8 * 1024 * 1024


# -- exceptions ---------------------------------------------------------------


class KaitaiStructError(Exception):
    """The base of the errors a parser raises; src_path names the element of the
    description at fault (None where none is)."""

    def __init__(self, msg: str, src_path: Optional[str]) -> None:
        super().__init__(msg if src_path is None else f"{src_path}: {msg}")
        self.src_path = src_path


class InvalidArgumentError(KaitaiStructError, ValueError):
    """A stream method was called with an argument it cannot take."""

    def __init__(self, msg: str) -> None:
        super().__init__(msg, None)


class EndOfStreamError(KaitaiStructError, EOFError):
    """A read needed more bytes than remained."""

    def __init__(self, msg: str, bytes_needed: int, bytes_available: int) -> None:
        super().__init__(msg, None)
        self.bytes_needed = bytes_needed
        self.bytes_available = bytes_available


class NoTerminatorFoundError(EndOfStreamError):
    """The end of the stream came before the terminator (term, as bytes)."""

    def __init__(self, term: bytes, bytes_available: int) -> None:
        super().__init__(
            f"end of stream reached, but no terminator {term!r} found", len(term), bytes_available
        )
        self.term = term


class UndecidedEndiannessError(KaitaiStructError):
    """A type's byte order is chosen at run time, and nothing chose it."""

    def __init__(self, src_path: str) -> None:
        super().__init__("unable to decide on endianness for a type", src_path)


class ValidationFailedError(KaitaiStructError):
    """The base of the failed `valid` checks; io is the stream that was read."""

    def __init__(self, msg: str, io: Any, src_path: str) -> None:
        where = "" if io is None else f"at pos {io.pos()}: "
        super().__init__(f"{where}validation failed: {msg}", src_path)
        self.io = io


class ValidationNotEqualError(ValidationFailedError):
    def __init__(self, expected: Any, actual: Any, io: Any, src_path: str) -> None:
        super().__init__(f"not equal, expected {expected!r}, but got {actual!r}", io, src_path)
        self.expected = expected
        self.actual = actual


class ValidationLessThanError(ValidationFailedError):
    def __init__(self, min_bound: Any, actual: Any, io: Any, src_path: str) -> None:
        super().__init__(f"not in range, min {min_bound!r}, but got {actual!r}", io, src_path)
        self.min = min_bound
        self.actual = actual


class ValidationGreaterThanError(ValidationFailedError):
    def __init__(self, max_bound: Any, actual: Any, io: Any, src_path: str) -> None:
        super().__init__(f"not in range, max {max_bound!r}, but got {actual!r}", io, src_path)
        self.max = max_bound
        self.actual = actual


class ValidationNotAnyOfError(ValidationFailedError):
    def __init__(self, actual: Any, io: Any, src_path: str) -> None:
        super().__init__(f"not any of the list, got {actual!r}", io, src_path)
        self.actual = actual


class ValidationNotInEnumError(ValidationFailedError):
    def __init__(self, actual: Any, io: Any, src_path: str) -> None:
        super().__init__(f"not in the enum, got {actual!r}", io, src_path)
        self.actual = actual


class ValidationExprError(ValidationFailedError):
    def __init__(self, actual: Any, io: Any, src_path: str) -> None:
        super().__init__(f"not matching the expression, got {actual!r}", io, src_path)
        self.actual = actual


def _end_of_stream(n: int, available: int) -> EndOfStreamError:
    return EndOfStreamError(f"requested {n} bytes, but only {available} bytes available", n, available)


# -- where a stream's bytes come from -------------------------------------------


def _open_other(io: Any) -> Tuple[Any, int, Any]:
    """The bytes of a stream other than a BytesIO: (their exporter, the position
    to start at, the mapping made for them or None). A file is mapped read-only,
    not read; anything else readable and seekable is read once."""
    start = io.tell()
    try:
        fd = io.fileno()
    except (AttributeError, OSError, UnsupportedOperation):
        fd = None
    if fd is not None:
        try:
            if os.fstat(fd).st_size == 0:
                return b"", start, None
            m = mmap.mmap(fd, 0, access=mmap.ACCESS_READ)
            return m, start, m
        except (OSError, ValueError):  # not a regular file: read it as below
            pass
    io.seek(0)
    data = io.read()
    io.seek(start)
    if not isinstance(data, (bytes, bytearray)):
        raise TypeError(f"KaitaiStream needs a binary stream, not one that reads {type(data).__name__}")
    return bytes(data), start, None


# -- the stream over tavbin.Reader (the ctypes path) ------------------------------


class _PureStream:
    """KaitaiStream in Python over tavbin.Reader: the behaviour of the compiled
    stream, for where it was not built. Each public method holds the stream's lock,
    so that threads sharing a stream never use its Reader at once (nor one while
    another closes it), as the compiled stream's calls run whole under the GIL."""

    def __new__(cls, *args: Any, **kwargs: Any) -> "_PureStream":
        self = super().__new__(cls)
        self._lock = threading.RLock()
        return self

    def __init__(self, io: Any) -> None:
        if isinstance(io, BytesIO):
            exporter, start, mapping = io.getvalue(), io.tell(), None
        else:
            exporter, start, mapping = _open_other(io)
        self._attach(exporter, 0, len(exporter), start)
        self._io = io
        self._mapping = mapping

    def _attach(self, exporter: Any, base: int, size: int, start: int) -> None:
        self._exporter = exporter
        self._base = base
        self._size = size
        view = memoryview(exporter)
        self._r: Optional[Reader] = Reader(view[base : base + size] if base or size != len(view) else view)
        self._order = BIG
        self.bits = 0
        self.bits_left = 0
        self._past = 0
        self._io = None
        self._mapping = None
        self._seek_to(start)

    def _seek_to(self, n: int) -> None:
        r = self._reader()
        if n <= self._size:
            r.seek(n)
            self._past = 0
        else:
            r.seek(self._size)
            self._past = n

    def _reader(self) -> Reader:
        r = self._r
        if r is None:
            raise ValueError("I/O operation on closed file.")
        return r

    def _pos(self) -> int:
        return self._past or self._reader().tell()

    def _eos(self, n: int) -> EndOfStreamError:
        at = self._pos()
        available = max(self._size - at, 0)
        if n < _LARGE_READ and available:
            self._reader().seek(self._size)
        return _end_of_stream(n, available)

    def _aligned(self, order: int) -> Reader:
        r = self._reader()
        self.bits = 0
        self.bits_left = 0
        if order != self._order:
            r.set_endian(order)
            self._order = order
        return r

    def _read(self, order: int, read: Any, width: int) -> Any:
        r = self._aligned(order)
        try:
            return read(r)
        except EofError:
            raise self._eos(width) from None

    def read_u1(self) -> int:
        return self._read(self._order, Reader.u8, 1)

    def read_s1(self) -> int:
        return self._read(self._order, Reader.i8, 1)

    def read_u2be(self) -> int:
        return self._read(BIG, Reader.u16, 2)

    def read_u2le(self) -> int:
        return self._read(LITTLE, Reader.u16, 2)

    def read_s2be(self) -> int:
        return self._read(BIG, Reader.i16, 2)

    def read_s2le(self) -> int:
        return self._read(LITTLE, Reader.i16, 2)

    def read_u4be(self) -> int:
        return self._read(BIG, Reader.u32, 4)

    def read_u4le(self) -> int:
        return self._read(LITTLE, Reader.u32, 4)

    def read_s4be(self) -> int:
        return self._read(BIG, Reader.i32, 4)

    def read_s4le(self) -> int:
        return self._read(LITTLE, Reader.i32, 4)

    def read_u8be(self) -> int:
        return self._read(BIG, Reader.u64, 8)

    def read_u8le(self) -> int:
        return self._read(LITTLE, Reader.u64, 8)

    def read_s8be(self) -> int:
        return self._read(BIG, Reader.i64, 8)

    def read_s8le(self) -> int:
        return self._read(LITTLE, Reader.i64, 8)

    def read_f4be(self) -> float:
        return self._read(BIG, Reader.f32, 4)

    def read_f4le(self) -> float:
        return self._read(LITTLE, Reader.f32, 4)

    def read_f8be(self) -> float:
        return self._read(BIG, Reader.f64, 8)

    def read_f8le(self) -> float:
        return self._read(LITTLE, Reader.f64, 8)

    # -- bit fields

    def align_to_byte(self) -> None:
        self.bits = 0
        self.bits_left = 0

    @staticmethod
    def _bit_count(n: Any) -> int:
        n = operator.index(n)
        if not 0 <= n <= 64:
            raise InvalidArgumentError(f"bit fields of {n} bits are not supported (0 to 64)")
        return n

    def _take(self, k: int) -> bytes:
        try:
            return self._reader().bytes(k)
        except EofError:
            raise self._eos(k) from None

    def read_bits_int_be(self, n: int) -> int:
        n = self._bit_count(n)
        self._reader()
        needed = n - self.bits_left
        if needed <= 0:
            left = -needed
            result = self.bits >> left
        else:
            k = (needed + 7) // 8
            acc = self.bits << (8 * k) | int.from_bytes(self._take(k), "big")
            left = 8 * k - needed
            result = acc >> left
            self.bits = acc
        self.bits &= (1 << left) - 1
        self.bits_left = left
        return result

    def read_bits_int_le(self, n: int) -> int:
        n = self._bit_count(n)
        self._reader()
        needed = n - self.bits_left
        if needed <= 0:
            result = self.bits & ((1 << n) - 1)
            self.bits >>= n
            self.bits_left -= n
            return result
        k = (needed + 7) // 8
        acc = int.from_bytes(self._take(k), "little")
        result = (acc << self.bits_left | self.bits) & ((1 << n) - 1)
        self.bits = acc >> needed
        self.bits_left = 8 * k - needed
        return result

    def read_bits_int(self, n: int) -> int:
        warnings.warn(
            "read_bits_int() is deprecated since 0.9, use read_bits_int_be() instead",
            DeprecationWarning,
            stacklevel=2,
        )
        return self.read_bits_int_be(n)

    # -- byte arrays

    def read_bytes(self, n: int) -> bytes:
        if n < 0:
            raise InvalidArgumentError(f"requested invalid {n} amount of bytes")
        r = self._aligned(self._order)
        if n > max(self._size - self._pos(), 0):
            raise self._eos(n)
        return r.bytes(n)

    def read_bytes_full(self) -> bytes:
        r = self._aligned(self._order)
        return r.bytes(max(self._size - self._pos(), 0))

    def _rest(self) -> int:
        """The position, or the end for one past it (which it becomes)."""
        at = self._pos()
        if at > self._size:
            self._seek_to(self._size)
            at = self._size
        return at

    def _up_to(self, at: int, end: int, unit: int, include: bool, consume: bool) -> bytes:
        r = self._reader()
        result = r.bytes(end - at + (unit if include else 0))
        r.seek(end + (unit if consume else 0))
        return result

    def read_bytes_term(self, term: int, include_term: bool, consume_term: bool, eos_error: bool) -> bytes:
        term_byte = bytes((term,))
        self._aligned(self._order)
        at = self._rest()
        hit = self._exporter.find(term_byte, self._base + at, self._base + self._size)
        if hit >= 0:
            return self._up_to(at, hit - self._base, 1, include_term, consume_term)
        if eos_error:
            self._reader().seek(self._size)
            raise NoTerminatorFoundError(term_byte, 0)
        return self._up_to(at, self._size, 0, False, False)

    def read_bytes_term_multi(
        self, term: bytes, include_term: bool, consume_term: bool, eos_error: bool
    ) -> bytes:
        unit = len(term)
        self._aligned(self._order)
        at = self._rest()
        p = at
        if unit:
            data = self._exporter
            while self._size - p >= unit:
                b = self._base + p
                if data[b : b + unit] == term:
                    break
                p += unit
        if unit == 0 or self._size - p >= unit:
            return self._up_to(at, p, unit, include_term, consume_term)
        if eos_error:
            self._reader().seek(self._size)
            raise NoTerminatorFoundError(term, self._size - p)
        return self._up_to(at, self._size, 0, False, False)

    def ensure_fixed_contents(self, expected: bytes) -> bytes:
        warnings.warn(
            "ensure_fixed_contents() is deprecated since 0.9, explicitly raise "
            "ValidationNotEqualError from an if statement instead",
            DeprecationWarning,
            stacklevel=2,
        )
        r = self._reader()
        at = self._pos()
        n = min(len(expected), max(self._size - at, 0))
        actual = self._exporter[self._base + at : self._base + at + n] if n else b""
        actual = bytes(actual)
        r.skip(n)
        if actual != expected:
            raise Exception(f"unexpected fixed contents: got {actual!r}, was waiting for {expected!r}")
        return actual

    # -- positions

    def pos(self) -> int:
        return self._pos()

    def size(self) -> int:
        self._reader()
        return self._size

    def is_eof(self) -> bool:
        self._reader()
        if self.bits_left > 0:
            return False
        return self._pos() >= self._size

    def seek(self, n: int) -> None:
        if n < 0:
            raise InvalidArgumentError(f"cannot seek to invalid position {n}")
        self._aligned(self._order)
        self._seek_to(n)

    def substream(self, n: int) -> "_PureStream":
        if n < 0:
            raise InvalidArgumentError(f"requested invalid {n} amount of bytes")
        r = self._aligned(self._order)
        at = self._pos()
        if n > max(self._size - at, 0):
            raise self._eos(n)
        child = _PureStream.__new__(type(self))
        child._attach(self._exporter, self._base + at, n, 0)
        r.skip(n)
        return child

    # -- life

    def close(self) -> None:
        r, self._r = self._r, None
        io, self._io = self._io, None
        mapping, self._mapping = self._mapping, None
        self.bits = 0
        self.bits_left = 0
        if r is not None:
            r.close()
        if mapping is not None:
            try:
                mapping.close()
            except BufferError:  # a substream still reads it: it goes with the last of them
                pass
        if io is not None:
            io.close()

    def __enter__(self) -> "_PureStream":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _locked(method: Any) -> Any:
    def call(self: Any, *args: Any) -> Any:
        with self._lock:
            return method(self, *args)

    call.__name__ = method.__name__
    call.__qualname__ = method.__qualname__
    call.__doc__ = method.__doc__
    return call


for _name, _method in list(vars(_PureStream).items()):
    if callable(_method) and (_name == "__init__" or not _name.startswith("_")):
        setattr(_PureStream, _name, _locked(_method))


# -- the helpers generated code calls on KaitaiStream -------------------------------


def _xor_table(key: int) -> bytes:
    return bytes(b ^ key for b in range(256))


_XOR_TABLES = [_xor_table(k) for k in range(256)]
_ROL_TABLES = [bytes(((b << a) | (b >> (8 - a))) & 0xFF for b in range(256)) for a in range(8)]


class _Helpers:
    """The static methods of KaitaiStream."""

    @staticmethod
    def bytes_strip_right(data: bytes, pad_byte: int) -> bytes:
        return data.rstrip(bytes((pad_byte,)))

    @staticmethod
    def bytes_terminate(data: bytes, term: int, include_term: bool) -> bytes:
        i = data.find(bytes((term,)))
        if i < 0:
            return data[:]
        return data[: i + 1 if include_term else i]

    @staticmethod
    def bytes_terminate_multi(data: bytes, term: bytes, include_term: bool) -> bytes:
        unit = len(term)
        i = data.find(term)
        while i >= 0 and unit and i % unit:
            i = data.find(term, i + unit - i % unit)
        if i < 0:
            return data[:]
        return data[: i + unit if include_term else i]

    @staticmethod
    def process_xor_one(data: bytes, key: int) -> bytes:
        if type(key) is int and 0 <= key <= 255:
            return bytes(data).translate(_XOR_TABLES[key])
        return bytes(v ^ key for v in data)

    @staticmethod
    def process_xor_many(data: bytes, key: bytes) -> bytes:
        n, k = len(data), len(key)
        if not n or not k:
            return b""
        pad = (bytes(key) * (n // k + 1))[:n]
        return (int.from_bytes(data, "little") ^ int.from_bytes(pad, "little")).to_bytes(n, "little")

    @staticmethod
    def process_rotate_left(data: bytes, amount: int, group_size: int) -> bytes:
        if group_size != 1:
            raise NotImplementedError(f"unable to rotate group of {group_size} bytes yet")
        return bytes(data).translate(_ROL_TABLES[amount % 8])

    @staticmethod
    def int_from_byte(v: int) -> int:
        return v

    @staticmethod
    def byte_from_int(i: int) -> bytes:
        return bytes((i,))

    @staticmethod
    def byte_array_index(data: bytes, i: int) -> int:
        return data[i]

    @staticmethod
    def byte_array_min(b: bytes) -> int:
        return min(b)

    @staticmethod
    def byte_array_max(b: bytes) -> int:
        return max(b)

    @staticmethod
    def byte_array_index_of(data: bytes, b: int) -> int:
        return data.find(bytes((b,)))

    @staticmethod
    def resolve_enum(enum_obj: Any, value: int) -> Any:
        try:
            return enum_obj(value)
        except ValueError:
            return value


_HELPERS = [name for name in vars(_Helpers) if not name.startswith("_")]

ACCELERATED = False
"""True when KaitaiStream is the compiled stream."""

KaitaiStream: Any = None
if os.environ.get("TAVBIN_PURE") != "1":
    try:
        from . import _kaitai  # ImportError where it was not built
    except ImportError:
        pass
    else:
        from ._native import FUNCTIONS, address

        _kaitai.bind(
            {name: address(name) for name in FUNCTIONS},
            EndOfStreamError,
            InvalidArgumentError,
            NoTerminatorFoundError,
            BytesIO,
            _open_other,
        )
        KaitaiStream = _kaitai.KaitaiStream
        ACCELERATED = True
if KaitaiStream is None:
    KaitaiStream = _PureStream
    KaitaiStream.__name__ = KaitaiStream.__qualname__ = "KaitaiStream"
    KaitaiStream.__module__ = __name__
for _name in _HELPERS:
    setattr(KaitaiStream, _name, staticmethod(getattr(_Helpers, _name)))
del _name


# -- the base of every generated class -------------------------------------------------


class KaitaiStruct:
    """The base of the classes the compiler generates: _io is their stream."""

    def __init__(self, io: Any) -> None:
        self._io = io

    def __enter__(self) -> Any:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        self._io.close()

    @classmethod
    def from_file(cls, filename: Any) -> Any:
        """Parse a file, mapped rather than read; close() unmaps and closes it."""
        f = open(filename, "rb")
        try:
            return cls(KaitaiStream(f))
        except BaseException:
            f.close()
            raise

    @classmethod
    def from_bytes(cls, buf: Any) -> Any:
        return cls(KaitaiStream(BytesIO(buf)))

    @classmethod
    def from_io(cls, io: Any) -> Any:
        return cls(KaitaiStream(io))


def install() -> None:
    """Make `import kaitaistruct` give this module, for modules imported after the
    call. A `kaitaistruct` already imported is replaced for later imports only;
    parsers imported before keep the runtime they found."""
    sys.modules["kaitaistruct"] = sys.modules[__name__]


__all__ = [
    "ACCELERATED",
    "API_VERSION",
    "BytesIO",
    "EndOfStreamError",
    "InvalidArgumentError",
    "KaitaiStream",
    "KaitaiStruct",
    "KaitaiStructError",
    "NoTerminatorFoundError",
    "UndecidedEndiannessError",
    "ValidationExprError",
    "ValidationFailedError",
    "ValidationGreaterThanError",
    "ValidationLessThanError",
    "ValidationNotAnyOfError",
    "ValidationNotEqualError",
    "ValidationNotInEnumError",
    "install",
]
