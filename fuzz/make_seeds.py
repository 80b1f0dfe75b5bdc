#!/usr/bin/env python3
"""Writes the seed inputs in corpus/: byte 0 is the script length, then the script,
then the data. Rerun after changing a target's script format.

The reader target's operation bytes are read from its source (the `enum Op` of
reader_fuzz.cpp), so they cannot drift from what the target does with them.
With --check nothing is written: it fails if a committed seed differs from what
would be written (corpus/ may hold more files, such as inputs fuzzing found).
"""
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))


def reader_ops():
    with open(os.path.join(here, "reader_fuzz.cpp")) as f:
        body = re.search(r"enum Op : uint8_t \{(.*?)\};", f.read(), re.S)
    if body is None:
        sys.exit("make_seeds.py: no `enum Op : uint8_t { ... };` in reader_fuzz.cpp")
    ops = {
        name: int(value) for name, value in re.findall(r"^\s*([A-Z][A-Z0-9_]*) = (\d+),", body.group(1), re.M)
    }
    if sorted(ops.values()) != list(range(32)):
        sys.exit(f"make_seeds.py: reader_fuzz.cpp's operations are not the bytes 0 to 31 once each: {ops}")
    return ops


seeds = {}  # (target, name) -> bytes


def seed(target, name, script, data=b""):
    script = bytes(script)
    assert len(script) < 256, (target, name)
    seeds[(target, name)] = bytes([len(script)]) + script + bytes(data)


# reader: the first script byte picks the open byte order; then operations, most
# followed by bytes of their own. Offsets and counts go through Script::edge:
# (k << 3) is k itself, (k << 3) | 2 is the size less k.
op = reader_ops()
(
    U8,
    BITS,
    U16,
    U32,
    U64,
    F64,
    BYTES,
    SKIP,
    PEEK8,
    PEEK32,
    AT16,
    AT64,
    STR,
    LEB,
    NULLS,
    PROBE,
    SEEK,
    ENDIAN,
    ALIGN,
) = (
    op[n]
    for n in (
        "U8",
        "BITS",
        "U16",
        "U32",
        "U64",
        "F64",
        "BYTES",
        "SKIP",
        "PEEK8",
        "PEEK32",
        "AT16",
        "AT64",
        "STR",
        "LEB",
        "NULLS",
        "PROBE",
        "SEEK",
        "SET_ENDIAN",
        "ALIGN",
    )
)
LSB, ARRAY = op["LSB"], op["ARRAY"]


def from_start(k):
    return k << 3


def from_end(k):
    return (k << 3) | 2


seed("reader", "fixed_be", [0, U8, U16, U32, U64, F64, PEEK32, PROBE], bytes(range(1, 40)))
seed(
    "reader",
    "bits_then_bytes",
    [1, BITS, 3, PROBE, U8, BITS, 13, PEEK8, ALIGN, BITS, 64, BITS, 65, BITS, 0, PROBE],
    b"\xA0\x55\xB4\xFF\x00\x12\x34\x56\x78\x9A\xBC",
)
seed(
    "reader",
    "string_leb",
    [0, STR, 0x00 | (2 << 2), 0x00 | (2 << 2), 0x10, LEB, 10, LEB, 2, LEB, 0, LEB, 0xC0, STR, 1, 1, 0],
    b"\x00\x00\x00\x03abc\xE5\x8E\x26\x80\x80\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01",
)
seed(
    "reader",
    "edges",
    [
        1,
        SEEK,
        0x02,
        SEEK,
        0x04,
        AT16,
        0x02 | 8,
        AT64,
        0x04,
        BYTES,
        0x02,
        1,
        SKIP,
        0x04,
        NULLS,
        23,
        0,
        0,
        0,
        5,
        ENDIAN,
        2,
        ENDIAN,
        1,
        LEB,
        0x80 | 6,
        0,
        0,
        2,
        0,
        0,
        0,
        0,
        0,
        0,
        9,
    ],
    bytes(range(200, 230)),
)
seed(
    "reader",
    "string_no_len",
    [1, STR, 0x0C, 0x0C, 0x01, STR, 0x08, 0x08, 0x01, STR, 0x04, 0x04, 0x11],
    b"\x02\x00\x00\x00hi\x00\x00\x00\x00\x01\x00\x00\x00",
)
seed("reader", "empty", [0, U8, BITS, 1, STR, 1, 1, 1, LEB, 1, PEEK8, AT16, 0, SEEK, 0, PROBE])
# Bit fields of every count, each followed by a probe of the bit position; and
# fields next to both ends, where the wide and the short paths meet.
seed(
    "reader",
    "bits_counts",
    [0] + [b for c in (1, 3, 5, 7, 8, 9, 15, 17, 31, 33, 63, 64, 65, 0) for b in (BITS, c, PROBE)],
    bytes(range(0x10, 0x40)),
)
seed(
    "reader",
    "bits_near_end",
    [
        1,
        SEEK,
        from_end(9),
        BITS,
        57,
        PROBE,
        SEEK,
        from_end(3),
        BITS,
        23,
        BITS,
        2,
        PROBE,
        ALIGN,
        BITS,
        64,
        PROBE,
        SEEK,
        from_start(0),
        BITS,
        7,
        PROBE,
        BITS,
        64,
        PROBE,
        SEEK,
        from_end(0),
        BITS,
        1,
        PROBE,
    ],
    b"\xB4\xA0\x55\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C",
)
seed(
    "reader",
    "bits_tiny",
    [0, BITS, 3, PROBE, BITS, 5, PROBE, BITS, 12, PROBE, SEEK, from_start(0), BITS, 8, PROBE, BITS, 1, PROBE],
    b"\xB4",
)
seed("reader", "bits_empty", [0, BITS, 1, BITS, 64, BITS, 0, PROBE])

# roundtrip: first script byte picks the initial capacity and byte order.
seed(
    "roundtrip",
    "every_type",
    [
        0x08 | 1,
        1,
        0x7F,
        2,
        0x12,
        0x34,
        3,
        0xFF,
        0xFE,
        0x24,
        1,
        2,
        3,
        4,
        0x25,
        5,
        6,
        7,
        8,
        0xE6,
        0x7F,
        0xC0,
        0,
        1,
        0,
        0,
        0,
        0,
        0xE7,
        1,
        2,
        3,
        4,
        5,
        6,
        7,
        8,
        0xE9,
        0x7F,
        0xF0,
        0,
        0,
        0,
        0,
        0,
        1,
        0xEA,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
        0xFF,
    ],
    b"",
)
seed(
    "roundtrip",
    "blocks_and_orders",
    [
        3,
        0,
        0,
        1,
        9,
        11,
        5,
        0,
        12,
        7,
        0,
        4,
        1,
        2,
        3,
        4,
        0,
        1,
        11,
        3,
        1,
        0,
        4,
        13,
        2,
        0,
        12,
        0,
        1,
        14,
        1,
        14,
        2,
        0,
        0xE1,
        5,
        0x6B,
        9,
        0,
        0,
        3,
    ],
    b"hello, world: some bytes for blocks and strings",
)
seed(
    "roundtrip",
    "self_append",
    [0, 0x27, 1, 2, 3, 4, 5, 6, 7, 8, 12, 0, 1, 0, 8, 12, 3, 1, 0, 16, 11, 1, 1, 0, 20, 13, 5, 0, 13, 3, 1],
    b"",
)
seed(
    "roundtrip",
    "tail_sources",
    [0x07, 1, 9, 1, 8, 13, 0x10, 8, 13, 0x30, 9, 13, 0xF0, 12, 13, 0x12, 1, 13, 0x23, 9],
)
seed("roundtrip", "refusals", [0, 14, 1, 14, 3, 14, 7, 14, 2, 1, 9, 0x2E, 0xFF, 0xFF, 14, 0x0B])
seed("roundtrip", "empty", [])
# The wrapper's least-significant-bit-first reads (a count of reads, then each
# count, 0xF0 and above to align, then whether to call done()) after a partly
# read byte; and arrays of each type (selector, then the count through edge):
# all that fits, and one more.
seed(
    "reader",
    "lsb_and_array",
    [
        1,
        BITS,
        3,
        LSB,
        6,
        1,
        7,
        0xF0,
        64,
        65,
        9,
        1,
        LSB,
        2,
        0,
        13,
        0,
        ALIGN,
        ARRAY,
        2,
        from_end(0),
        ARRAY,
        4,
        from_end(0) | 8,
        ARRAY,
        6,
        0x03 | (1 << 3),
        ARRAY,
        9,
        0x04,
        ARRAY,
        0,
        from_start(3),
        ENDIAN,
        1,
        ARRAY,
        3,
        from_start(2),
        ARRAY,
        8,
        from_start(1),
    ],
    bytes(range(0x30, 0x58)),
)


def main():
    check = sys.argv[1:] == ["--check"]
    if sys.argv[1:] and not check:
        sys.exit("usage: make_seeds.py [--check]")
    stale = []
    for (target, name), content in seeds.items():
        path = os.path.join(here, "corpus", target, name)
        if check:
            try:
                with open(path, "rb") as f:
                    same = f.read() == content
            except FileNotFoundError:
                same = False
            if not same:
                stale.append(os.path.relpath(path, here))
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    if stale:
        sys.exit("not what make_seeds.py writes (rerun it and commit the seeds): " + ", ".join(stale))
    print(f"{len(seeds)} seeds {'as make_seeds.py writes them' if check else 'written'}")


if __name__ == "__main__":
    main()
