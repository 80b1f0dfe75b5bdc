#!/usr/bin/env python3
"""Nanoseconds per value read and written from Python: tavbin's Reader and Writer,
on the compiled fast path and on the ctypes path, beside the standard library.

Usage (from the repository root, after a build, which builds the package with its
fast path into build/default/tests/python/lib):
  TAVBIN_LIBRARY=build/default/libbinary-read-util.so.1 \
  PYTHONPATH=build/default/tests/python/lib python3 bench/python_read.py [--count N] [--repeat R]

Both paths are measured in the same run (tavbin._fast and tavbin._reader /
tavbin._writer hold the two classes); without the fast path built, only ctypes.

Each figure is the best of R short runs over N values, so it is the cost of the
call in a quiet moment, not an average over other processes' noise; the cases take
turns within each round, so load that comes and goes shifts them alike. No time is
asserted.
"""

from __future__ import annotations

import argparse
import ctypes
import io
import platform
import random
import struct
import time
from typing import Callable, List, Tuple

import tavbin
from tavbin import _native, _reader, _writer

PATHS = [("ctypes", _reader.Reader, _writer.Writer)]
try:
    from tavbin import _fast
except ImportError:
    pass
else:
    PATHS.insert(0, ("fast", _fast.Reader, _fast.Writer))
ARRAY = 1000  # values per Reader.array call


def leb128_decode(data: bytes, pos: int) -> Tuple[int, int]:
    """Pure-Python unsigned LEB128: the value and the position after it."""
    result = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        result |= (byte & 0x7F) << shift
        if byte < 0x80:
            return result, pos
        shift += 7


def ns_per_value(run: Callable[[], None], count: int) -> float:
    start = time.perf_counter_ns()
    run()
    return (time.perf_counter_ns() - start) / count


def cases(count: int) -> List[Tuple[str, Callable[[], None]]]:
    rng = random.Random(1)
    u32s = bytes(rng.getrandbits(8) for _ in range(4 * count))
    # LEB128 values of 1 to 5 bytes, as section sizes and counts tend to be, and
    # 64-bit values of 8 to 10 bytes.
    short = [rng.getrandbits(rng.choice((7, 14, 21, 28, 32))) for _ in range(count)]
    wide = [rng.getrandbits(64) | 1 << 56 for _ in range(count)]
    lebs = {}
    for name, values in (("1 to 5 bytes", short), ("8 to 10 bytes", wide)):
        with tavbin.Writer() as w:
            for value in values:
                w.leb128(value)
            lebs[name] = w.getvalue()
    unpack = struct.Struct(">I").unpack_from
    pack = struct.Struct(">I").pack
    block = struct.Struct(f">{ARRAY}I").unpack_from
    rounds = max(1, count // ARRAY)
    u32_values = [rng.getrandbits(32) for _ in range(count)]

    def reader_u32(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(u32s)
            for _ in range(count):
                r.u32()
            r.close()

        return run

    def struct_compiled() -> None:
        pos = 0
        for _ in range(count):
            unpack(u32s, pos)
            pos += 4

    def int_from_bytes() -> None:
        for pos in range(0, 4 * count, 4):
            int.from_bytes(u32s[pos : pos + 4], "big")

    def writer_u32(Writer: type) -> Callable[[], None]:
        def run() -> None:
            w = Writer()
            for v in u32_values:
                w.u32(v)
            w.close()

        return run

    def struct_pack() -> None:
        out = bytearray()
        for v in u32_values:
            out += pack(v)

    # Reader.array: ARRAY values per call, reported per value. One reader for
    # every run: opening one costs as much as a few calls, and a run makes only
    # count / ARRAY of them.
    def reader_array(Reader: type) -> Callable[[], None]:
        r = Reader(u32s)

        def run() -> None:
            r.seek(0)
            for _ in range(rounds):
                r.array("u32", ARRAY)

        return run

    def struct_block() -> None:
        pos = 0
        for _ in range(rounds):
            block(u32s, pos)
            pos += 4 * ARRAY

    # Why the ctypes path calls each function through a twin without argtypes:
    # the same C call, with and without ctypes' per-argument checks.
    def declared_call() -> None:
        r = _reader.Reader(u32s)
        fn, h, out = _native.lib.tavbin_u32, r._h, ctypes.c_uint32()
        for _ in range(count):
            fn(h, out)
        r.close()

    def unchecked_call() -> None:
        r = _reader.Reader(u32s)
        fn, h, out = _native.unchecked("tavbin_u32"), r._h, ctypes.byref(ctypes.c_uint32())
        for _ in range(count):
            fn(h, out)
        r.close()

    def reader_leb128(Reader: type, data: bytes) -> Callable[[], None]:
        def run() -> None:
            r = Reader(data)
            for _ in range(count):
                r.leb128()
            r.close()

        return run

    def python_leb128(data: bytes) -> Callable[[], None]:
        def run() -> None:
            pos = 0
            for _ in range(count):
                _, pos = leb128_decode(data, pos)

        return run

    # The calls a parser makes besides fixed-width values, each count times on
    # one reader, beside what the same step costs written over bytes.
    N = 16  # bytes per block, string and sub-reader
    blocks = bytes(rng.getrandbits(8) for _ in range(N * count))
    cstrings = (bytes(rng.randrange(1, 256) for _ in range(N - 1)) + b"\0") * count
    with tavbin.Writer() as w:
        for _ in range(count):
            w.string_u32(bytes(N))
        prefixed = w.getvalue()
        for value in short:
            w.sleb128(value - (1 << 27))
        slebs = w.getvalue()[len(prefixed) :]

    def on_reader(Reader: type, data: bytes, step: str) -> Callable[[], None]:
        # The step written into the loop, as u32's is: a lambda would cost a
        # Python frame per call, more than most of these calls themselves.
        source = (
            f"def run():\n    r = Reader(data)\n    for _ in range(count):\n        {step}\n    r.close()\n"
        )
        names = {"Reader": Reader, "data": data, "count": count}
        exec(source, names)
        return names["run"]

    def calls(R: type) -> List[Tuple[str, Callable[[], None]]]:
        return [
            ("seek(p)", on_reader(R, u32s, "r.seek(8)")),
            ("skip(1)", on_reader(R, u32s, "r.skip(1)")),
            ("tell()", on_reader(R, u32s, "r.tell()")),
            ("remaining()", on_reader(R, u32s, "r.remaining()")),
            ("size", on_reader(R, u32s, "r.size")),
            ("bits(5)", on_reader(R, u32s, "r.bits(5)")),
            ("u24()", on_reader(R, u32s, "r.u24()")),
            ("sleb128()", on_reader(R, slebs, "r.sleb128()")),
            (f"bytes({N})", on_reader(R, blocks, f"r.bytes({N})")),
            (f"ascii({N})", on_reader(R, blocks, f"r.ascii({N})")),
            (f"cstring(64), {N - 1} bytes", on_reader(R, cstrings, "r.cstring(64)")),
            (f"string_u32(), {N} bytes", on_reader(R, prefixed, "r.string_u32()")),
            ("array('u32', 4)", on_reader(R, blocks, "r.array('u32', 4)")),
            (f"sub({N}).close()", on_reader(R, blocks, f"r.sub({N}).close()")),
            ("(data).close()", on_reader(R, blocks, "Reader(data).close()")),
        ]

    def slice_block() -> None:
        pos = 0
        for _ in range(count):
            blocks[pos : pos + N]
            pos += N

    def bytes_io() -> None:
        for _ in range(count):
            io.BytesIO(blocks).close()

    def unpack_quads() -> None:
        pos = 0
        for _ in range(count):
            struct.unpack_from(">4I", blocks, pos)
            pos += 16

    # Whole records: a 24-byte header of six fields, one call per record.
    record = struct.Struct("<IBBHQQ")
    records = bytes(rng.getrandbits(8) for _ in range(record.size * count))
    record_unpack = record.unpack_from

    def reader_unpack(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(records)
            for _ in range(count):
                r.unpack("<IBBHQQ")
            r.close()

        return run

    def struct_record() -> None:
        pos = 0
        for _ in range(count):
            record_unpack(records, pos)
            pos += 24

    def reader_unpack_many(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(records)
            r.unpack_many("<IBBHQQ", count)
            r.close()

        return run

    def struct_iter_unpack() -> None:
        list(record.iter_unpack(records))

    # Idioms of the parsers in bench/python_parsers.py, per use: three fields
    # one by one or as one record (6 of the 4 * count bytes per use), a sub-reader
    # opened and closed, a name at an offset by seeks or by cstring_at.
    names = b"name\0" * count

    def three_u16(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(u32s)
            for _ in range(count // 2):
                r.u16(), r.u16(), r.u16()
            r.close()

        return run

    def unpack_three(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(u32s)
            for _ in range(count // 2):
                r.unpack(">HHH")
            r.close()

        return run

    def sub_close(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(u32s)
            for _ in range(count // 4):
                with r.sub(4):
                    pass
            r.close()

        return run

    def name_by_seeks(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(names)
            for i in range(count):
                back = r.tell()
                r.seek(5 * i)
                r.cstring(64)
                r.seek(back)
            r.close()

        return run

    def name_at(Reader: type) -> Callable[[], None]:
        def run() -> None:
            r = Reader(names)
            for i in range(count):
                r.cstring_at(5 * i, 64)
            r.close()

        return run

    per_array = count / (rounds * ARRAY)  # the runs are timed per count values
    out = [(f"Reader.u32(), {path}", reader_u32(R), 1.0) for path, R, _ in PATHS]
    out += [
        ("struct.Struct('>I').unpack_from(buf, pos); pos += 4", struct_compiled, 1.0),
        ("int.from_bytes(buf[pos:pos + 4], 'big')", int_from_bytes, 1.0),
        ("  tavbin_u32 alone, through its declared argtypes", declared_call, 1.0),
        ("  tavbin_u32 alone, through the unchecked twin", unchecked_call, 1.0),
    ]
    out += [(f"Writer.u32(v), {path}", writer_u32(W), 1.0) for path, _, W in PATHS]
    out += [("out += Struct('>I').pack(v), out a bytearray", struct_pack, 1.0)]
    out += [
        (f"Reader.array('u32', {ARRAY}) per value, {path}", reader_array(R), per_array)
        for path, R, _ in PATHS
    ]
    out += [(f"Struct('>{ARRAY}I').unpack_from(buf, pos) per value", struct_block, per_array)]
    out += [(f"Reader.unpack('<IBBHQQ'), {path}", reader_unpack(R), 1.0) for path, R, _ in PATHS]
    out += [("Struct('<IBBHQQ').unpack_from(buf, pos); pos += 24", struct_record, 1.0)]
    out += [
        (f"Reader.unpack_many('<IBBHQQ', n) per record, {path}", reader_unpack_many(R), 1.0)
        for path, R, _ in PATHS
    ]
    out += [("list(Struct('<IBBHQQ').iter_unpack(buf)) per record", struct_iter_unpack, 1.0)]
    for what, make, scale in (
        ("u16() three times", three_u16, 2.0),
        ("unpack('>HHH')", unpack_three, 2.0),
        ("with sub(4): pass", sub_close, 4.0),
        ("tell(), seek(at), cstring(64), seek(back)", name_by_seeks, 1.0),
        ("cstring_at(at, 64)", name_at, 1.0),
    ):
        out += [(f"Reader idiom: {what}, {path}", make(R), scale) for path, R, _ in PATHS]
    for size, data in lebs.items():
        out += [(f"Reader.leb128(), {size}, {path}", reader_leb128(R, data), 1.0) for path, R, _ in PATHS]
        out += [(f"pure-Python LEB128 decoder, {size}", python_leb128(data), 1.0)]
    for path, R, _ in PATHS:
        out += [(f"Reader{'' if name[0] == '(' else '.'}{name}, {path}", run, 1.0) for name, run in calls(R)]
    out += [
        (f"data[pos:pos + {N}]; pos += {N}", slice_block, 1.0),
        ("io.BytesIO(data).close()", bytes_io, 1.0),
        ('struct.unpack_from(">4I", buf, pos); pos += 16', unpack_quads, 1.0),
    ]
    return out


CURSOR_CALLS = ["seek(p)", "skip(1)", "tell()", "remaining()", "size", "bits(5)", "u24()", "sleb128()"]
BLOCK_CALLS = ["bytes(16)", "ascii(16)", "cstring(64), 15 bytes", "string_u32(), 16 bytes"]
SLICE = "data[pos:pos + 16]; pos += 16"
RATIOS = [
    *((f"Reader.{c}, fast", "Reader.u32(), fast", 1.5) for c in CURSOR_CALLS),
    *((f"Reader.{c}, fast", SLICE, 1.0) for c in BLOCK_CALLS),
    ("Reader(data).close(), fast", "io.BytesIO(data).close()", 1.0),
    ("Reader.sub(16).close(), fast", "io.BytesIO(data).close()", 1.0),
    ("Reader.array('u32', 4), fast", 'struct.unpack_from(">4I", buf, pos); pos += 16', 1.0),
    ("Reader.u32(), fast", "struct.Struct('>I').unpack_from(buf, pos); pos += 4", 0.75),
    ("Reader.leb128(), 1 to 5 bytes, fast", "pure-Python LEB128 decoder, 1 to 5 bytes", 0.25),
    ("Writer.u32(v), fast", "out += Struct('>I').pack(v), out a bytearray", 0.75),
    (
        f"Reader.array('u32', {ARRAY}) per value, fast",
        f"Struct('>{ARRAY}I').unpack_from(buf, pos) per value",
        0.25,
    ),
    ("Reader.unpack('<IBBHQQ'), fast", "Struct('<IBBHQQ').unpack_from(buf, pos); pos += 24", 0.75),
    (
        "Reader.unpack_many('<IBBHQQ', n) per record, fast",
        "list(Struct('<IBBHQQ').iter_unpack(buf)) per record",
        1.0,
    ),
]


def cpu_name() -> str:
    try:
        with open("/proc/cpuinfo", encoding="ascii", errors="replace") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=20_000, help="values per run")
    parser.add_argument("--repeat", type=int, default=60, help="runs per case; the best is kept")
    args = parser.parse_args()
    print(
        f"{cpu_name()}; {platform.python_implementation()} {platform.python_version()}; module {tavbin._native.path}"
    )
    print(f"{'ns per value':>12}  what (best of {args.repeat} runs of {args.count} values)")
    runs = cases(args.count)
    best = {name: float("inf") for name, _, _ in runs}
    for _ in range(args.repeat):
        for name, run, scale in runs:
            best[name] = min(best[name], ns_per_value(run, args.count) * scale)
    for name, _, _ in runs:
        print(f"{best[name]:12.1f}  {name}")
    print(f"{'ratio':>12}  goal")
    for mine, theirs, goal in RATIOS:
        if mine in best:
            print(f"{best[mine] / best[theirs]:12.2f}  <= {goal}: {mine} / {theirs}")


if __name__ == "__main__":
    main()
