#!/usr/bin/env python3
"""Nanoseconds per value read from Python: tavbin's Reader beside the standard library.

Usage (from the repository root, after a build):
  TAVBIN_LIBRARY=build/default/libbinary-read-util.so.1 PYTHONPATH=python \
      python3 bench/python_read.py [--count N] [--repeat R]

Each figure is the best of R short runs over N values, so it is the cost of the
call in a quiet moment, not an average over other processes' noise; the cases take
turns within each round, so load that comes and goes shifts them alike. No time is
asserted.
"""

from __future__ import annotations

import argparse
import ctypes
import platform
import random
import struct
import time
from typing import Callable, List, Tuple

import tavbin
from tavbin import _native


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

    def reader_u32() -> None:
        r = tavbin.Reader(u32s)
        for _ in range(count):
            r.u32()
        r.close()

    def struct_unpack_from() -> None:
        for pos in range(0, 4 * count, 4):
            struct.unpack_from(">I", u32s, pos)

    def struct_compiled() -> None:
        for pos in range(0, 4 * count, 4):
            unpack(u32s, pos)

    def int_from_bytes() -> None:
        for pos in range(0, 4 * count, 4):
            int.from_bytes(u32s[pos : pos + 4], "big")

    # Why the package calls each function through a twin without argtypes: the
    # same C call, with and without ctypes' per-argument checks.
    def declared_call() -> None:
        r = tavbin.Reader(u32s)
        fn, h, out = _native.lib.tavbin_u32, r._h, ctypes.c_uint32()
        for _ in range(count):
            fn(h, out)
        r.close()

    def unchecked_call() -> None:
        r = tavbin.Reader(u32s)
        fn, h, out = _native.unchecked("tavbin_u32"), r._h, ctypes.byref(ctypes.c_uint32())
        for _ in range(count):
            fn(h, out)
        r.close()

    def reader_leb128(data: bytes) -> Callable[[], None]:
        def run() -> None:
            r = tavbin.Reader(data)
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

    return [
        ("Reader.u32()", reader_u32),
        ("struct.unpack_from('>I', buf, pos)", struct_unpack_from),
        ("struct.Struct('>I').unpack_from(buf, pos)", struct_compiled),
        ("int.from_bytes(buf[pos:pos + 4], 'big')", int_from_bytes),
        ("  tavbin_u32 alone, through its declared argtypes", declared_call),
        ("  tavbin_u32 alone, through the unchecked twin", unchecked_call),
    ] + [
        case
        for size, data in lebs.items()
        for case in (
            (f"Reader.leb128(), {size}", reader_leb128(data)),
            (f"pure-Python LEB128 decoder, {size}", python_leb128(data)),
        )
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
    print(f"{cpu_name()}; {platform.python_implementation()} {platform.python_version()}; module {tavbin._native.path}")
    print(f"{'ns per value':>12}  what (best of {args.repeat} runs of {args.count} values)")
    runs = cases(args.count)
    best = {name: float("inf") for name, _ in runs}
    for _ in range(args.repeat):
        for name, run in runs:
            best[name] = min(best[name], ns_per_value(run, args.count))
    for name, _ in runs:
        print(f"{best[name]:12.1f}  {name}")


if __name__ == "__main__":
    main()
