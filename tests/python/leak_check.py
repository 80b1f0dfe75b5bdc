"""Many calls of every method, on whichever path the package is on, must keep the
process's memory flat: a reference or a buffer leaked per call shows up here.

  python3 leak_check.py [--calls N]   (default 100000 per method; 1000000 by hand)

Each method is called in batches of 1000 on a fresh reader or writer per batch
(a writer's buffer grows, legitimately); failing calls are included. The
resident set size is taken after the first tenth of the calls and at the end.
"""

import argparse
import itertools
import os
import struct
import sys

import tavbin
import tavbin.kaitai as kaitai

DATA = bytes(16384)  # zeros: every read succeeds, LEB128 and C strings included
FORMATS = itertools.count()


def rss() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def expect(exc, call):
    def run(h):
        try:
            call(h)
        except exc:
            pass
        else:
            raise AssertionError("no exception")

    return run


READER = {
    "u8": lambda r: r.u8(),
    "i8": lambda r: r.i8(),
    "u16": lambda r: r.u16(),
    "i16": lambda r: r.i16(),
    "u24": lambda r: r.u24(),
    "i24": lambda r: r.i24(),
    "u32": lambda r: r.u32(),
    "i32": lambda r: r.i32(),
    "f32": lambda r: r.f32(),
    "u64": lambda r: r.u64(),
    "i64": lambda r: r.i64(),
    "f64": lambda r: r.f64(),
    "peek_u8": lambda r: r.peek_u8(),
    "peek_u16": lambda r: r.peek_u16(),
    "peek_u32": lambda r: r.peek_u32(),
    "peek_u64": lambda r: r.peek_u64(),
    "u8_at": lambda r: r.u8_at(3),
    "u16_at": lambda r: r.u16_at(3),
    "u32_at": lambda r: r.u32_at(3),
    "u64_at": lambda r: r.u64_at(3),
    "bytes": lambda r: r.bytes(3),
    "ascii": lambda r: r.ascii(3),
    "skip": lambda r: r.skip(1),
    "bits": lambda r: r.bits(3),
    "leb128": lambda r: r.leb128(),
    "sleb128": lambda r: r.sleb128(),
    "string_u32": lambda r: r.seek(0) or r.string_u32(),
    "cstring": lambda r: r.cstring(300),
    "sub": lambda r: r.sub(5).close(),
    "array": lambda r: r.array("u16", 2),
    "lsb_bits": lambda r: r.lsb_bits().read(9),
    "seek": lambda r: r.seek(7),
    "tell": lambda r: r.tell(),
    "remaining": lambda r: r.remaining(),
    "size": lambda r: r.size,
    "bit_align": lambda r: r.bit_align(),
    "last_error": lambda r: r.last_error,
    "set_endian": lambda r: r.set_endian(1),
    "origin": lambda r: r.origin(),
    "string_u8": lambda r: r.seek(0) or r.string_u8(),
    "string_u16": lambda r: r.seek(0) or r.string_u16(),
    "string_leb128": lambda r: r.seek(0) or r.string_leb128(),
    "leb128_u32": lambda r: r.leb128_u32(),
    "sleb128_i32": lambda r: r.sleb128_i32(),
    "cstring_at": lambda r: r.cstring_at(5, 300),
    "sub's sub": lambda r: r.seek(0) or r.sub(20).sub(5).close(),
    "error in a sub-reader": expect(tavbin.EofError, lambda r: r.seek(0) or r.sub(2).u32()),
    "string_u8 at the end": expect(tavbin.EofError, lambda r: r.seek(len(DATA)) or r.string_u8()),
    "u32 at the end": expect(tavbin.EofError, lambda r: r.seek(len(DATA)) or r.u32()),
    "u32_at out of range": expect(tavbin.RangeError, lambda r: r.u32_at(len(DATA))),
    "array too long": expect(tavbin.EofError, lambda r: r.array("u64", 10**6)),
    "u8 bad argument": expect(TypeError, lambda r: r.u8_at("x")),
    "unpack": lambda r: r.seek(0) or r.unpack("<IBBHQQ3s2pe"),
    "unpack_many": lambda r: r.seek(0) or r.unpack_many(">HHd", 4),
    "unpack at the end": expect(tavbin.EofError, lambda r: r.seek(len(DATA)) or r.unpack("I")),
    "unpack_many too long": expect(tavbin.EofError, lambda r: r.unpack_many("Q", 10**6)),
    "unpack bad format": expect(struct.error, lambda r: r.unpack("3")),
    "unpack host format": expect(ValueError, lambda r: r.unpack("@I")),
    # More formats than the cache holds: compiled, cached, dropped when it is full.
    "unpack a new format each time": lambda r: r.seek(0) or r.unpack(f"{next(FORMATS) % 300}x"),
    "string_u8": lambda r: r.string_u8(),
    "string_u16": lambda r: r.string_u16(),
    "string_leb128": lambda r: r.string_leb128(),
    "leb128_u32": lambda r: r.leb128_u32(),
    "sleb128_i32": lambda r: r.sleb128_i32(),
    "cstring_at": lambda r: r.cstring_at(7, 300),
}
WRITER = {
    "u8": lambda w: w.u8(1),
    "u16": lambda w: w.u16(1),
    "i16": lambda w: w.i16(-1),
    "u24": lambda w: w.u24(1),
    "i24": lambda w: w.i24(-1),
    "u32": lambda w: w.u32(1),
    "i32": lambda w: w.i32(-1),
    "f32": lambda w: w.f32(1.5),
    "u64": lambda w: w.u64(2**63),
    "i64": lambda w: w.i64(-1),
    "f64": lambda w: w.f64(1.5),
    "leb128": lambda w: w.leb128(300),
    "sleb128": lambda w: w.sleb128(-300),
    "bytes": lambda w: w.bytes(b"abc"),
    "string_u32": lambda w: w.string_u32(b"abc"),
    "string_u8": lambda w: w.string_u8(b"abc"),
    "string_u16": lambda w: w.string_u16(b"abc"),
    "string_leb128": lambda w: w.string_leb128(bytes(300)),
    "string_u8 too long": expect(tavbin.TooLargeError, lambda w: w.string_u8(bytes(256))),
    "array": lambda w: w.array("i32", (1, -1)),
    "patch_u32": lambda w: w.u32(0) or w.patch_u32(0, 5),
    "getvalue": lambda w: w.getvalue(),
    "len": lambda w: len(w),
    "last_error": lambda w: w.last_error,
    "set_endian": lambda w: w.set_endian(0),
    "u8 out of range": expect(OverflowError, lambda w: w.u8(256)),
    "u24 out of range": expect(tavbin.RangeError, lambda w: w.u24(2**24)),
    "patch out of range": expect(tavbin.RangeError, lambda w: w.patch_u64(10**6, 1)),
    "f64 bad argument": expect(TypeError, lambda w: w.f64("x")),
    "pack": lambda w: w.pack("<IBBHQQ3s2pe", 1, 2, 3, 4, 5, 6, b"ab", b"c", 0.5),
    "pack through struct": lambda w: w.pack(">H?", True, [1]),
    "pack refused": expect(struct.error, lambda w: w.pack("<B", 256)),
    "pack too few": expect(struct.error, lambda w: w.pack("<BB", 1)),
    "pack many values": lambda w: w.pack("40B", *range(40)),
    "string_u8": lambda w: w.string_u8(b"abc"),
    "string_u16": lambda w: w.string_u16(b"abc"),
    "string_leb128": lambda w: w.string_leb128(b"abc"),
}

KAITAI = {
    **{
        m: (lambda m: lambda s: getattr(s, m)())(m)
        for m in dir(kaitai.KaitaiStream)
        if m[:6] in ("read_u", "read_s", "read_f")
    },
    "read_bits_int_be": lambda s: s.read_bits_int_be(13),
    "read_bits_int_le": lambda s: s.read_bits_int_le(13),
    "read_bytes": lambda s: s.read_bytes(3),
    "read_bytes_term": lambda s: s.read_bytes_term(0, True, True, True),
    "read_bytes_term_multi": lambda s: s.read_bytes_term_multi(b"\0\0", True, True, True),
    "read_bytes_full": lambda s: s.seek(len(DATA) - 5) or s.read_bytes_full(),
    "substream": lambda s: s.seek(0) or s.substream(5).close(),
    "new stream": lambda s: kaitai.KaitaiStream(kaitai.BytesIO(DATA)).read_u1(),
    "pos, seek, size, is_eof": lambda s: (s.pos(), s.seek(7), s.size(), s.is_eof()),
    "read past the end": expect(kaitai.EndOfStreamError, lambda s: s.seek(len(DATA)) or s.read_u4le()),
    "no terminator": expect(
        kaitai.NoTerminatorFoundError, lambda s: s.seek(0) or s.read_bytes_term(1, 0, 0, 1)
    ),
    "negative count": expect(kaitai.InvalidArgumentError, lambda s: s.read_bytes(-1)),
}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=100_000)
    args = parser.parse_args()
    batches = max(10, args.calls // 1000)
    worst = 0
    for make, table in (
        (lambda: tavbin.Reader(DATA), READER),
        (tavbin.Writer, WRITER),
        (lambda: kaitai.KaitaiStream(kaitai.BytesIO(DATA)), KAITAI),
    ):
        for name, call in table.items():
            for batch in range(batches):
                if batch == batches // 10:
                    before = rss()
                with make() as h:
                    for _ in range(1000):
                        call(h)
            grown = rss() - before
            worst = max(worst, grown)
            if grown > 1 << 20:
                print(f"{name}: {grown} bytes more after {args.calls} calls", file=sys.stderr)
                return 1
    print(
        f"accelerated={tavbin.ACCELERATED}, kaitai={kaitai.ACCELERATED}: at most {worst} bytes grown over {batches * 1000} calls of each method"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
