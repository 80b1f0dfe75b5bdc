#!/usr/bin/env python3
"""Writes the sample files the example tests run on: one valid file per format and
the malformed ones each example must reject. Usage: make_samples.py OUTDIR"""
import os
import struct
import sys
import zlib


def png_chunk(kind, data, crc=None):
    if crc is None:
        crc = zlib.crc32(kind + data)
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def png_samples():
    sig = b"\x89PNG\r\n\x1a\n"
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 3, 2, 8, 2, 0, 0, 0))
    pixels = b"".join(b"\x00" + bytes(range(9)) for _ in range(2))
    idat_data = zlib.compress(pixels)
    idat = png_chunk(b"IDAT", idat_data)
    iend = png_chunk(b"IEND", b"")
    ok = sig + ihdr + idat + iend
    return {
        "ok.png": ok,
        "bad_crc.png": sig + ihdr + png_chunk(b"IDAT", idat_data, zlib.crc32(b"IDAT" + idat_data) ^ 1) + iend,
        "truncated.png": ok[: len(sig) + len(ihdr) + 20],
        "huge_length.png": sig + ihdr + struct.pack(">I", 0xFFFFFFF0) + b"IDAT" + idat_data,
        "no_iend.png": sig + ihdr + idat,
        "no_ihdr.png": sig + idat + iend,
    }


def riff_chunk(kind, data):
    pad = b"\x00" if len(data) % 2 else b""
    return kind + struct.pack("<I", len(data)) + data + pad


def wav(chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def wav_samples():
    fmt = riff_chunk(b"fmt ", struct.pack("<HHIIHH", 1, 2, 44100, 44100 * 4, 4, 16))
    data = riff_chunk(b"data", bytes(400))
    ok = wav([fmt, riff_chunk(b"LIST", b"abcde"), data])
    return {
        "ok.wav": ok,
        "truncated.wav": ok[: len(ok) - 390],
        "no_data.wav": wav([fmt]),
        "short_fmt.wav": wav([riff_chunk(b"fmt ", struct.pack("<HHIIH", 1, 2, 44100, 44100 * 4, 4)), data]),
    }


def leb(n):
    out = bytearray()
    while True:
        byte, n = n & 0x7F, n >> 7
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def sleb(n):
    out = bytearray()
    while True:
        byte, n = n & 0x7F, n >> 7  # Python's >> keeps the sign
        if (n == 0 and not byte & 0x40) or (n == -1 and byte & 0x40):
            return bytes(out + bytes([byte]))
        out.append(byte | 0x80)


def section(sid, body):
    return bytes([sid]) + leb(len(body)) + body


def wasm_global(valtype, mutable, init):
    return bytes([valtype, mutable]) + init + b"\x0b"


def wasm_samples():
    head = b"\0asm" + struct.pack("<I", 1)
    types = section(1, b"\x01\x60\x00\x00")  # one type: () -> ()
    name = section(0, leb(4) + b"name" + bytes(200))  # a size that needs two LEB128 bytes
    funcs = section(3, b"\x01\x00")
    globals_ = [
        wasm_global(0x7F, 0, b"\x41" + sleb(-5)),
        wasm_global(0x7E, 1, b"\x42" + sleb(-(2**63))),  # ten bytes
        wasm_global(0x7F, 0, b"\x41" + sleb(624485)),
        wasm_global(0x7C, 0, b"\x44" + struct.pack("<d", 1.5)),
    ]
    global_sec = section(6, leb(len(globals_)) + b"".join(globals_))
    code = section(10, b"\x01\x02\x00\x0b")

    def with_global(*init):
        return head + section(6, leb(len(init)) + b"".join(init))

    return {
        "ok.wasm": head + types + name + funcs + global_sec + code,
        # A tenth byte that does not repeat the sign: 2^63, one past INT64_MAX.
        "i64_too_big.wasm": with_global(wasm_global(0x7E, 0, b"\x42" + b"\x80" * 9 + b"\x01")),
        "i32_too_big.wasm": with_global(wasm_global(0x7F, 0, b"\x41" + sleb(2**31))),
        "i32_too_long.wasm": with_global(wasm_global(0x7F, 0, b"\x41" + b"\x80" * 5 + b"\x00")),
        "global_beyond.wasm": head + section(6, leb(2) + wasm_global(0x7F, 0, b"\x41\x00")),
        "version2.wasm": b"\0asm" + struct.pack("<I", 2) + types,
        "beyond.wasm": head + types + bytes([3]) + leb(100) + b"\x01\x00",
        "long_leb.wasm": head + bytes([1]) + b"\x84\x80\x80\x80\x80\x00" + bytes(8),
        "bad_name.wasm": head + section(0, leb(10) + b"abc"),
        "bad_id.wasm": head + types + section(14, b"\x00"),
        "truncated.wasm": head[:6],
    }


def elf(
    wide, little, strtab=b"\0sample.c\0main\0counter\0", name_of_main=10, symtab_size=None, shoff=None, link=2
):
    """An ELF object with .symtab, .strtab and .shstrtab; the keywords break it."""
    e = "<" if little else ">"
    ident = b"\x7fELF" + bytes([2 if wide else 1, 1 if little else 2, 1]) + bytes(9)
    header_size, shentsize = (64, 64) if wide else (52, 40)

    def sym(name, value, size, info, shndx):
        if wide:
            return struct.pack(e + "IBBHQQ", name, info, 0, shndx, value, size)
        return struct.pack(e + "IIIBBH", name, value, size, info, 0, shndx)

    symtab = (
        sym(0, 0, 0, 0, 0)
        + sym(1, 0, 0, 0x04, 0xFFF1)  # FILE, LOCAL
        + sym(name_of_main, 0x1000, 42, 0x12, 1)
        + sym(15, 0x2000, 8, 0x21, 1)
    )  # FUNC GLOBAL, OBJECT WEAK
    shstrtab = b"\0.symtab\0.strtab\0.shstrtab\0"
    body = symtab + strtab + shstrtab
    body += bytes(-(header_size + len(body)) % 8)
    offsets = [header_size, header_size + len(symtab), header_size + len(symtab) + len(strtab)]

    def shdr(name, kind, offset, size, link_to, entsize):
        return struct.pack(
            e + ("IIQQQQIIQQ" if wide else "IIIIIIIIII"),
            name,
            kind,
            0,
            0,
            offset,
            size,
            link_to,
            0,
            1,
            entsize,
        )

    sections = (
        bytes(shentsize)
        + shdr(1, 2, offsets[0], len(symtab) if symtab_size is None else symtab_size, link, len(symtab) // 4)
        + shdr(9, 3, offsets[1], len(strtab), 0, 0)
        + shdr(17, 3, offsets[2], len(shstrtab), 0, 0)
    )
    table_at = header_size + len(body) if shoff is None else shoff
    if wide:
        head = struct.pack(e + "HHIQQQIHHHHHH", 1, 62, 1, 0, 0, table_at, 0, 64, 0, 0, shentsize, 4, 3)
    else:
        head = struct.pack(e + "HHIIIIIHHHHHH", 1, 20, 1, 0, 0, table_at, 0, 52, 0, 0, shentsize, 4, 3)
    return ident + head + body + sections


def elf_samples():
    ok = elf(True, True)
    return {
        "ok64.elf": ok,
        "ok32be.elf": elf(False, False),
        "truncated.elf": ok[:40],
        "table_beyond.elf": elf(True, True, shoff=len(ok) - 100),
        "symtab_beyond.elf": elf(True, True, symtab_size=0x10000 * 24),
        "name_outside.elf": elf(True, True, name_of_main=4000),
        "name_unterminated.elf": elf(True, True, strtab=b"\0sample.c\0main\0counter"),
        "bad_link.elf": elf(True, True, link=9),
    }


def id3(size_bytes, flags=0):
    return b"ID3\x04\x00" + bytes([flags]) + size_bytes


def mp3_samples():
    frame = b"\xff\xfb\x90\x40" + bytes(413)  # MPEG-1 layer III, 128 kbit/s, 44100 Hz, joint stereo
    tag = id3(b"\x00\x00\x08\x00") + bytes(1024)  # 1024 = 8 << 7
    return {
        "ok.mp3": tag + b"\x00\xff\x00" + frame,
        "plain.mp3": b"\xff\xf2\x82\xc0"
        + bytes(205),  # MPEG-2 layer III, 64 kbit/s, 22050 Hz, mono, CRC, padded
        "not_synchsafe.mp3": id3(b"\x00\x00\x80\x00") + bytes(64),
        "tag_beyond.mp3": id3(b"\x00\x00\x08\x00") + bytes(90),
        "no_frame.mp3": id3(b"\x00\x00\x00\x00")
        + b"\xff" * 8
        + b"\xe0",  # invalid bitrates, then a sync cut short
        "truncated_tag.mp3": b"ID3\x04\x00\x00\x00",
    }


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {"empty.bin": b""}
    for make in (png_samples, wav_samples, wasm_samples, elf_samples, mp3_samples):
        files.update(make())
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
