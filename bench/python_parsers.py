#!/usr/bin/env python3
"""Two real parsers over tavbin, written as docs/python.md teaches, each beside
its twin over the struct module: a Java .class reader (the constant pool, fields,
methods and their attributes, a sub-reader per attribute) over the class files
of the jars in /usr/share/java (or --jars), and an ELF reader (section headers,
their names and every symbol of .symtab and .dynsym) over the shared objects
in /usr/lib/x86_64-linux-gnu (or --elf). Both twins check the same bounds, and
their outputs are compared before anything is timed.

Usage (from the repository root, after a build):
  TAVBIN_LIBRARY=build/default/libbinary-read-util.so.1 \\
  PYTHONPATH=build/default/tests/python/lib python3 bench/python_parsers.py [--repeat R]

Each figure is the best of R runs over every input; the parsers take turns
within each round. The fast path and the ctypes path are measured in the same
run (without the fast path built, only ctypes). No time is asserted.
"""

from __future__ import annotations

import argparse
import glob
import os
import platform
import struct
import time
import zipfile
from typing import Any, Callable, Dict, List, Tuple

import tavbin
from python_read import cpu_name  # beside this script
from tavbin import _reader

PATHS = [("ctypes", _reader.Reader)]
try:
    from tavbin import _fast
except ImportError:
    pass
else:
    PATHS.insert(0, ("fast", _fast.Reader))

# -- Java class files ---------------------------------------------------------
# Constant pool tags and what follows them: Utf8 is a string with a 16-bit
# length; Long and Double take two slots.
FIXED_ENTRY = {
    3: 4,
    4: 4,
    5: 8,
    6: 8,
    7: 2,
    8: 2,
    9: 4,
    10: 4,
    11: 4,
    12: 4,
    15: 3,
    16: 2,
    17: 4,
    18: 4,
    19: 2,
    20: 2,
}
NAMED = (7, 19, 20)  # Class, Module, Package: a 16-bit index of their name


def class_tavbin(data: bytes, Reader: Any) -> Tuple[Any, ...]:
    with Reader(data) as r:
        magic, _minor, _major, count = r.unpack(">IHHH")
        if magic != 0xCAFEBABE:
            raise ValueError("not a class file")
        pool: List[Any] = [None] * count
        i = 1
        while i < count:
            tag = r.u8()
            if tag == 1:
                pool[i] = r.string_u16()
            elif tag in NAMED:
                pool[i] = r.u16()
            else:
                r.skip(FIXED_ENTRY[tag])  # KeyError: an unknown tag
                if tag in (5, 6):
                    i += 1
            i += 1

        def attributes(r: Any) -> List[Any]:
            out = []
            for _ in range(r.u16()):
                name, length = r.unpack(">HI")
                name = pool[name]
                with r.sub(length) as a:  # the attribute cannot read past its length
                    if name == b"Code":
                        max_stack, max_locals, code_length = a.unpack(">HHI")
                        a.skip(code_length)
                        a.skip(8 * a.u16())  # the exception table
                        out.append((name, max_stack, max_locals, code_length, attributes(a)))
                    else:
                        out.append((name, length))
            return out

        def members() -> List[Any]:
            out = []
            for _ in range(r.u16()):
                _access, name, descriptor = r.unpack(">HHH")
                out.append((pool[name], pool[descriptor], attributes(r)))
            return out

        _access, this, super_ = r.unpack(">HHH")
        interfaces = [pool[pool[i]] for i in r.array("u16", r.u16())]
        fields = members()
        methods = members()
        return (
            pool[pool[this]],
            pool[pool[super_]] if super_ else None,
            interfaces,
            fields,
            methods,
            attributes(r),
        )


def class_struct(data: bytes) -> Tuple[Any, ...]:
    u1, u2, u4 = (
        struct.Struct(">B").unpack_from,
        struct.Struct(">H").unpack_from,
        struct.Struct(">I").unpack_from,
    )
    u2u4, u2x3 = struct.Struct(">HI").unpack_from, struct.Struct(">HHH").unpack_from
    code_head = struct.Struct(">HHI").unpack_from
    end = len(data)
    magic, _minor, _major, count = struct.unpack_from(">IHHH", data, 0)
    if magic != 0xCAFEBABE:
        raise ValueError("not a class file")
    pos = 10
    pool: List[Any] = [None] * count
    i = 1
    while i < count:
        (tag,) = u1(data, pos)
        pos += 1
        if tag == 1:
            (n,) = u2(data, pos)
            if pos + 2 + n > end:
                raise EOFError
            pool[i] = data[pos + 2 : pos + 2 + n]
            pos += 2 + n
        elif tag in NAMED:
            (pool[i],) = u2(data, pos)
            pos += 2
        else:
            pos += FIXED_ENTRY[tag]
            if tag in (5, 6):
                i += 1
        i += 1

    def attributes(pos: int, end: int) -> Tuple[List[Any], int]:
        out = []
        if pos + 2 > end:
            raise EOFError
        (n,) = u2(data, pos)
        pos += 2
        for _ in range(n):
            if pos + 6 > end:
                raise EOFError
            name, length = u2u4(data, pos)
            name = pool[name]
            pos += 6
            stop = pos + length
            if stop > end:
                raise EOFError
            if name == b"Code":
                if pos + 8 > stop:
                    raise EOFError
                max_stack, max_locals, code_length = code_head(data, pos)
                at = pos + 8 + code_length
                if at + 2 > stop:
                    raise EOFError
                (handlers,) = u2(data, at)
                nested, _ = attributes(at + 2 + 8 * handlers, stop)
                out.append((name, max_stack, max_locals, code_length, nested))
            else:
                out.append((name, length))
            pos = stop
        return out, pos

    def members(pos: int) -> Tuple[List[Any], int]:
        out = []
        (n,) = u2(data, pos)
        pos += 2
        for _ in range(n):
            _access, name, descriptor = u2x3(data, pos)
            attrs, pos = attributes(pos + 6, end)
            out.append((pool[name], pool[descriptor], attrs))
        return out, pos

    _access, this, super_ = u2x3(data, pos)
    (n,) = u2(data, pos + 6)
    interfaces = [pool[pool[i]] for i in struct.unpack_from(f">{n}H", data, pos + 8)]
    fields, pos = members(pos + 8 + 2 * n)
    methods, pos = members(pos)
    attrs, _ = attributes(pos, end)
    return pool[pool[this]], pool[pool[super_]] if super_ else None, interfaces, fields, methods, attrs


# -- ELF shared objects ---------------------------------------------------------
SECTION = "<IIQQQQIIQQ"  # name, type, flags, addr, offset, size, link, info, addralign, entsize
SYMBOL = "<IBBHQQ"  # name, info, other, shndx, value, size
SYMBOL_TABLES = (2, 11)  # SHT_SYMTAB, SHT_DYNSYM
NAME_MAX = 4096


def elf_tavbin(data: bytes, Reader: Any) -> Tuple[Any, ...]:
    with Reader(data, tavbin.LITTLE) as r:
        if r.bytes(6) != b"\x7fELF\x02\x01":
            raise ValueError("not a 64-bit little-endian ELF file")
        r.seek(0x28)
        shoff, _flags, _ehsize, _phentsize, _phnum, _shentsize, shnum, shstrndx = r.unpack("QIHHHHHH")
        r.seek(shoff)
        sections = r.unpack_many(SECTION, shnum)
        names = sections[shstrndx][4]
        out = []
        symbols = []
        for name, kind, _f, _a, offset, size, link, _i, _al, _e in sections:
            out.append((r.cstring_at(names + name, NAME_MAX), kind, size))
            if kind in SYMBOL_TABLES:
                strings = sections[link][4]
                r.seek(offset)
                with r.sub(size) as table:
                    for sym in table.unpack_many(SYMBOL, size // 24):
                        symbols.append((r.cstring_at(strings + sym[0], NAME_MAX),) + sym[1:])
        return out, symbols


def elf_struct(data: bytes) -> Tuple[Any, ...]:
    def cstring(at: int) -> bytes:
        nul = data.find(b"\0", at, at + NAME_MAX + 1)
        if nul < 0:
            raise EOFError
        return data[at:nul]

    if data[:6] != b"\x7fELF\x02\x01":
        raise ValueError("not a 64-bit little-endian ELF file")
    shoff, _flags, _ehsize, _phentsize, _phnum, _shentsize, shnum, shstrndx = struct.unpack_from(
        "<QIHHHHHH", data, 0x28
    )
    if shoff + 64 * shnum > len(data):
        raise EOFError
    sections = list(struct.iter_unpack(SECTION, data[shoff : shoff + 64 * shnum]))
    names = sections[shstrndx][4]
    out = []
    symbols = []
    symbol = struct.Struct(SYMBOL)
    for name, kind, _f, _a, offset, size, link, _i, _al, _e in sections:
        out.append((cstring(names + name), kind, size))
        if kind in SYMBOL_TABLES:
            strings = sections[link][4]
            if offset + size > len(data):
                raise EOFError
            for sym in symbol.iter_unpack(data[offset : offset + size // 24 * 24]):
                symbols.append((cstring(strings + sym[0]),) + sym[1:])
    return out, symbols


# -- the run ----------------------------------------------------------------------


def class_files(jars: List[str], limit: int) -> List[bytes]:
    out = []
    for jar in jars:
        try:
            with zipfile.ZipFile(jar) as z:
                for name in z.namelist():
                    if name.endswith(".class") and len(out) < limit:
                        out.append(z.read(name))
        except (OSError, zipfile.BadZipFile):
            continue
    return out


def elf_files(paths: List[str], limit: int) -> List[bytes]:
    out = []
    # The largest up to 4 MiB: many symbols, and a run that stays short.
    paths = [
        p for p in paths if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) <= 1 << 22
    ]
    paths.sort(key=os.path.getsize)
    for path in reversed(paths):
        if len(out) >= limit or os.path.islink(path) or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        if data[:6] == b"\x7fELF\x02\x01":
            out.append(data)
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jars", default="/usr/share/java/*.jar", help="glob of the jars to read")
    parser.add_argument("--classes", type=int, default=2000, help="class files to parse")
    parser.add_argument("--elf", default="/usr/lib/x86_64-linux-gnu/*.so*", help="glob of the ELF files")
    parser.add_argument("--objects", type=int, default=12, help="ELF files to parse")
    parser.add_argument("--repeat", type=int, default=7, help="runs per case; the best is kept")
    args = parser.parse_args()
    classes = class_files(sorted(glob.glob(args.jars)), args.classes)
    objects = elf_files(sorted(glob.glob(args.elf)), args.objects)
    print(f"{cpu_name()}; {platform.python_implementation()} {platform.python_version()}")
    print(
        f"{len(classes)} class files ({sum(map(len, classes))} bytes), {len(objects)} ELF files ({sum(map(len, objects))} bytes)"
    )
    parsers: Dict[str, Tuple[Callable[[bytes], Any], List[bytes]]] = {
        "class, struct": (class_struct, classes),
        "ELF, struct": (elf_struct, objects),
    }
    for path, R in PATHS:
        parsers[f"class, tavbin {path}"] = ((lambda d, R=R: class_tavbin(d, R)), classes)
        parsers[f"ELF, tavbin {path}"] = ((lambda d, R=R: elf_tavbin(d, R)), objects)
    # The same output from every parser of a format, first.
    for kind in ("class", "ELF"):
        outputs = {
            name: [fn(d) for d in inputs] for name, (fn, inputs) in parsers.items() if name.startswith(kind)
        }
        reference = outputs.pop(f"{kind}, struct")
        for name, got in outputs.items():
            assert got == reference, f"{name} disagrees with struct"
    best = {name: float("inf") for name in parsers}
    for _ in range(args.repeat):
        for name, (fn, inputs) in parsers.items():
            start = time.perf_counter()
            for d in inputs:
                fn(d)
            best[name] = min(best[name], time.perf_counter() - start)
    print(f"{'ms':>9}  parser (best of {args.repeat} runs over every input)")
    for name in parsers:
        print(f"{best[name] * 1e3:9.1f}  {name}")
    print(f"{'ratio':>9}  goal")
    for kind in ("class", "ELF"):
        for path, _ in PATHS:
            ratio = best[f"{kind}, tavbin {path}"] / best[f"{kind}, struct"]
            goal = "<= 1.0" if path == "fast" else "-"
            print(f"{ratio:9.2f}  {goal}: {kind}, tavbin {path} / {kind}, struct")


if __name__ == "__main__":
    main()
