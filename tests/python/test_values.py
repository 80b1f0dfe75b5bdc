"""Values through the package against the standard library and pure-Python references:
every width and both byte orders, bit fields, LEB128, strings, loads and stores."""

import math
import re
import struct

import pytest
from hypothesis import given
from hypothesis import strategies as st

import tavbin


ORDERS = {tavbin.BIG: ">", tavbin.LITTLE: "<"}
orders = st.sampled_from(sorted(ORDERS))

# Reader method -> struct format character.
FIXED = {
    "u8": "B",
    "i8": "b",
    "u16": "H",
    "i16": "h",
    "u32": "I",
    "i32": "i",
    "f32": "f",
    "u64": "Q",
    "i64": "q",
    "f64": "d",
}
PEEKS = {"peek_u8": "B", "peek_u16": "H", "peek_u32": "I", "peek_u64": "Q"}
ABSOLUTE = {"u8_at": "B", "u16_at": "H", "u32_at": "I", "u64_at": "Q"}


def same(a, b):
    """Equal values, or floats with the same bits (a NaN equals itself, -0.0 is not 0.0)."""
    if isinstance(a, float):
        return math.isnan(a) and math.isnan(b) or struct.pack("<d", a) == struct.pack("<d", b)
    return a == b and type(a) is type(b)


@given(st.binary(max_size=40), orders, st.lists(st.sampled_from(sorted(FIXED)), min_size=1, max_size=30))
def test_fixed_widths_match_struct(data, order, kinds):
    fmt = ORDERS[order]
    r = tavbin.Reader(data, order)
    for kind in kinds:
        pos = r.tell()
        size = struct.calcsize(FIXED[kind])
        for peek, code in PEEKS.items():
            if struct.calcsize(code) <= len(data) - pos:
                assert getattr(r, peek)() == struct.unpack_from(fmt + code, data, pos)[0]
        for at, code in ABSOLUTE.items():
            if struct.calcsize(code) <= len(data) - pos:
                assert getattr(r, at)(pos) == struct.unpack_from(fmt + code, data, pos)[0]
        if size > len(data) - pos:
            with pytest.raises(tavbin.EofError):
                getattr(r, kind)()
            assert r.tell() == pos and r.last_error == tavbin.Status.EOF
            break
        assert same(getattr(r, kind)(), struct.unpack_from(fmt + FIXED[kind], data, pos)[0])
        assert r.tell() == pos + size


class BitModel:
    """The reader's cursor, bit by bit: fields most significant bit first, and the
    byte alignment before every byte-level read."""

    def __init__(self, data):
        self.bits = "".join(f"{b:08b}" for b in data)
        self.pos = 0

    def read_bits(self, count):
        if count > len(self.bits) - self.pos:
            self.pos = len(self.bits)
            return None
        value = int(self.bits[self.pos : self.pos + count], 2)
        self.pos += count
        return value

    def read_u8(self):
        self.pos = -(-self.pos // 8) * 8
        return self.read_bits(8) if self.pos + 8 <= len(self.bits) else None


@given(st.binary(max_size=24), st.lists(st.one_of(st.integers(1, 64), st.just("u8")), max_size=20))
def test_bits_match_a_bit_by_bit_reference(data, steps):
    r, model = tavbin.Reader(data), BitModel(data)
    for step in steps:
        expect = model.read_u8() if step == "u8" else model.read_bits(step)
        if expect is None:
            with pytest.raises(tavbin.EofError):
                r.u8() if step == "u8" else r.bits(step)
        else:
            assert (r.u8() if step == "u8" else r.bits(step)) == expect
        assert r.tell() == model.pos // 8


# Writer kind -> (values, the bytes expected for a value in an order, how to read it back).
KINDS = {
    "u8": (st.integers(0, 2**8 - 1), "B"),
    "u16": (st.integers(0, 2**16 - 1), "H"),
    "i16": (st.integers(-(2**15), 2**15 - 1), "h"),
    "u32": (st.integers(0, 2**32 - 1), "I"),
    "i32": (st.integers(-(2**31), 2**31 - 1), "i"),
    "f32": (st.floats(width=32), "f"),
    "u64": (st.integers(0, 2**64 - 1), "Q"),
    "i64": (st.integers(-(2**63), 2**63 - 1), "q"),
    "f64": (st.floats(), "d"),
    "leb128": (st.integers(0, 2**64 - 1), None),
    "bytes": (st.binary(max_size=20), None),
    "string_u32": (st.binary(max_size=20), None),
}
ops = st.lists(
    st.sampled_from(sorted(KINDS)).flatmap(lambda k: st.tuples(st.just(k), KINDS[k][0])), max_size=25
)


def leb128_encode(n):
    """The reference: 7-bit groups, least significant first, bit 7 on all but the last."""
    groups = [(n >> shift) & 0x7F for shift in range(0, max(n.bit_length(), 1), 7)]
    return bytes(g | 0x80 for g in groups[:-1]) + bytes(groups[-1:])


def encoded(kind, value, fmt):
    if kind == "leb128":
        return leb128_encode(value)
    if kind == "bytes":
        return value
    if kind == "string_u32":
        return struct.pack(fmt + "I", len(value)) + value
    return struct.pack(fmt + KINDS[kind][1], value)


@given(ops, orders)
def test_every_writer_kind_round_trips(steps, order):
    fmt = ORDERS[order]
    with tavbin.Writer(order=order) as w:
        for kind, value in steps:
            getattr(w, kind)(value)
        data = w.getvalue()
        assert len(w) == len(data)
    # Byte for byte what struct and a reference encoder give (NaN payloads aside,
    # which a double passes to binary32 as the C conversion leaves them).
    expect = b"".join(encoded(kind, value, fmt) for kind, value in steps)
    if not any(kind == "f32" and math.isnan(value) for kind, value in steps):
        assert data == expect
    r = tavbin.Reader(data, order)
    for kind, value in steps:
        if kind == "bytes":
            back = r.bytes(len(value))
        else:
            back = getattr(r, kind)()
        assert same(back, value), kind
    assert r.remaining() == 0


@pytest.mark.parametrize(
    "data, max_len, expect",
    [
        (b"\0\0\0\5hello!", 2**32 - 1, b"hello"),
        (b"\0\0\0\0", 0, b""),
        (b"\0\0\0\3a\0b", 3, b"a\0b"),  # a NUL is a byte like any other
        (b"\0\0\0\3abc", 2, tavbin.TooLargeError),
        (b"\0\0\0\4abc", 10, tavbin.EofError),
        (b"\0\0\0", 10, tavbin.EofError),
        (b"\xff\xff\xff\xffabcdef", 2**32 - 1, tavbin.EofError),
        (b"\xff\xff\xff\xffabcdef", 2**64 - 1, tavbin.EofError),
    ],
)
def test_string_u32_is_sized_from_its_prefix(data, max_len, expect):
    r = tavbin.Reader(data)
    if isinstance(expect, bytes):
        assert r.string_u32(max_len) == expect
        assert r.tell() == 4 + len(expect)
    else:
        with pytest.raises(expect):
            r.string_u32(max_len)
        assert r.tell() == 0 and r.last_error == expect.default_status


def test_string_u32_after_a_partly_read_byte():
    # The prefix starts after the byte alignment, for the peek and the read alike.
    r = tavbin.Reader(b"\x80\0\0\0\2hi")
    assert r.bits(1) == 1
    assert r.string_u32() == b"hi"
    r = tavbin.Reader(b"\x80\0\0\0\2h")
    r.bits(1)
    with pytest.raises(tavbin.EofError):
        r.string_u32()
    assert r.bits(7) == 0  # the cursor, bit position included, is where it was


@given(st.binary(max_size=12), orders, st.integers(0, 14), st.sampled_from([16, 32, 64]))
def test_loads_and_stores_match_struct(data, order, offset, width):
    code = {16: "H", 32: "I", 64: "Q"}[width]
    load = getattr(tavbin, f"load_u{width}")
    store = getattr(tavbin, f"store_u{width}")
    fmt = ORDERS[order] + code
    if offset + width // 8 <= len(data):
        value = struct.unpack_from(fmt, data, offset)[0]
        assert load(data, order, offset) == value
        buf = bytearray(len(data))
        store(buf, value, order, offset)
        assert buf[offset : offset + width // 8] == data[offset : offset + width // 8]
    else:
        with pytest.raises(tavbin.EofError) as failed_load:
            load(data, order, offset)
        buf = bytearray(data)
        with pytest.raises(tavbin.RangeError) as failed_store:
            store(buf, 0, order, offset)
        assert buf == data  # nothing written
        assert failed_load.value.offset == failed_store.value.offset == offset


# Every reader call with arguments worth trying, for the two paths side by side.
READER_OPS = st.one_of(
    st.tuples(st.sampled_from(sorted(FIXED) + sorted(PEEKS) + ["u24", "i24", "tell", "remaining", "origin"])),
    st.tuples(st.sampled_from(["leb128_u32", "sleb128_i32", "lsb", "bit_align"])),
    st.tuples(
        st.sampled_from(sorted(ABSOLUTE) + ["seek", "skip", "bytes", "ascii", "sub"]), st.integers(0, 12)
    ),
    st.tuples(st.just("bits"), st.integers(0, 66)),
    st.tuples(
        st.sampled_from(
            ["leb128", "sleb128", "string_u8", "string_u16", "string_leb128", "string_u32", "cstring"]
        ),
        st.integers(0, 12),
    ),
    st.tuples(st.just("cstring_at"), st.integers(0, 12), st.integers(0, 12)),
    st.tuples(st.just("array"), st.sampled_from(["u8", "i16", "u32", "f64"]), st.integers(0, 3)),
)


def outcome(reader, op):
    """What a call gives: its value or its exception's type, text and offsets,
    then the cursor and the recorded status."""
    name, *args = op
    try:
        if name == "lsb":
            with reader.lsb_bits() as bits:
                value = (bits.read(3), bits.read(9))
        else:
            value = getattr(reader, name)(*args)
        if name == "sub":
            value = (value.origin(), value.bytes(value.size), value.u8() if value.size else None)
        elif name == "array":
            value = value.tolist()
    except tavbin.Error as e:
        value = (type(e), str(e), e.offset, e.outer)
    return repr(value), reader.tell(), reader.last_error  # repr: a NaN equals itself


@pytest.mark.skipif(not tavbin.ACCELERATED, reason="compares the compiled reader with the ctypes one")
@given(st.binary(max_size=24), orders, st.integers(0, 8), st.lists(READER_OPS, max_size=12))
def test_both_paths_give_the_same_outcomes(data, order, cut, ops):
    from tavbin import _fast, _reader

    # Half the time inside a sub-reader, so that errors also say where they lie.
    pair = []
    for cls in (_fast.Reader, _reader.Reader):
        r = cls(data, order)
        if cut and cut <= len(data):
            r.skip(cut // 2)
            r = r.sub(len(data) - cut // 2)
        pair.append(r)
    for op in ops:
        fast, slow = (outcome(r, op) for r in pair)
        assert fast == slow, op


WRITER_OPS = st.one_of(
    st.tuples(
        st.sampled_from(["u8", "u24", "i24", "u16", "leb128", "sleb128"]), st.integers(-(2**24), 2**24)
    ),
    st.tuples(
        st.sampled_from(["bytes", "string_u8", "string_u16", "string_leb128", "string_u32"]), st.binary()
    ),
    st.tuples(st.just("string_u8"), st.binary(min_size=250, max_size=300)),
    st.tuples(
        st.sampled_from(["patch_u16", "patch_u32", "patch_u64"]), st.integers(0, 12), st.integers(0, 2**16)
    ),
    st.tuples(
        st.just("array"), st.sampled_from(["u8", "i16", "f32"]), st.lists(st.integers(-200, 200), max_size=4)
    ),
    st.tuples(st.just("set_endian"), st.integers(0, 2)),
)


@pytest.mark.skipif(not tavbin.ACCELERATED, reason="compares the compiled writer with the ctypes one")
@given(st.lists(WRITER_OPS, max_size=12))
def test_both_writers_give_the_same_outcomes(ops):
    from tavbin import _fast, _writer

    pair = [cls() for cls in (_fast.Writer, _writer.Writer)]
    for op in ops:
        outcomes = []
        for w in pair:
            name, *args = op
            try:
                value = repr(getattr(w, name)(*args))
            except (tavbin.Error, OverflowError) as e:
                value = (type(e), str(e), getattr(e, "offset", None))
            outcomes.append((value, w.getvalue(), w.last_error))
        assert outcomes[0] == outcomes[1], op


# -- whole records against struct itself ------------------------------------

RECORD_LETTERS = "xcbB?hHiIlLqQefdsp"
# Mostly struct's letters; now and then what it refuses or what depends on the host.
record_tokens = st.tuples(
    st.sampled_from(["", "", "", "0", "1", "3", "12"]),
    st.sampled_from(RECORD_LETTERS * 4 + " Z<nP"),
)
record_formats = st.tuples(
    st.sampled_from(["", "", "<", ">", "!", "@", "="]), st.lists(record_tokens, max_size=8)
).map(lambda t: t[0] + "".join(count + letter for count, letter in t[1]))
INT_RANGES = {c: (-(2 ** (8 * w - 1)), 2 ** (8 * w - 1) - 1) for c, w in zip("bhilq", (1, 2, 4, 4, 8))}
INT_RANGES.update({c: (0, 2 ** (8 * w) - 1) for c, w in zip("BHILQ", (1, 2, 4, 4, 8))})
REFUSED_VALUES = [2**64, -(2**63) - 1, 256, -1, 1.5, "x", None, b"ab", bytearray(b"a")]


def struct_twin(fmt, order):
    """What struct makes of a record format on a handle of `order`: ValueError for
    the host's characters, else (Struct or the exception struct raises, tokens)."""
    if any(c in fmt for c in "@=nNP"):
        return ValueError, []
    full = fmt if fmt[:1] in ("<", ">", "!") else ORDERS[order] + fmt
    # A zero-length p field is an empty field (struct's own unpack of one raises SystemError).
    full = re.sub(r"(?<![0-9])(0+)p", r"\1s", full)
    try:
        return struct.Struct(full), re.findall(r"([0-9]*)([" + RECORD_LETTERS + "])", full)
    except struct.error:
        return struct.error, []


def same_values(a, b):
    return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))


@given(record_formats, st.booleans(), orders, st.binary(max_size=64), st.integers(0, 8), st.integers(0, 3))
def test_records_read_as_struct_reads_them(fmt, as_bytes, order, data, offset, count):
    twin, _ = struct_twin(fmt, order)
    arg = fmt.encode() if as_bytes else fmt
    r = tavbin.Reader(data, order)
    r.skip(min(offset, len(data)))
    pos = r.tell()
    if not isinstance(twin, struct.Struct):
        for call in (lambda: r.unpack(arg), lambda: r.unpack_many(arg, count)):
            with pytest.raises(twin):
                call()
        assert r.tell() == pos
        return
    for n in (1, count):
        if twin.size * n > len(data) - pos:
            with pytest.raises(tavbin.EofError) as e:
                r.unpack(arg) if n == 1 else r.unpack_many(arg, n)
            assert (r.tell(), e.value.offset, r.last_error) == (pos, pos, tavbin.Status.EOF)
            continue
        want = [twin.unpack_from(data, pos + i * twin.size) for i in range(n)]
        got = [r.unpack(arg)] if n == 1 else r.unpack_many(arg, n)
        assert len(got) == n and all(map(same_values, got, want)) and r.tell() == pos + n * twin.size
        pos = r.tell()


@given(record_formats, st.booleans(), orders, st.data())
def test_records_write_as_struct_packs_them(fmt, as_bytes, order, data):
    twin, tokens = struct_twin(fmt, order)
    arg = fmt.encode() if as_bytes else fmt
    values = []
    for count, letter in tokens:
        n = int(count or 1)
        if letter in "sp":
            values.append(data.draw(st.binary(max_size=n + 2)))
        elif letter == "c":
            values += data.draw(st.lists(st.binary(min_size=1, max_size=1), min_size=n, max_size=n))
        elif letter == "?":
            values += data.draw(
                st.lists(st.one_of(st.booleans(), st.integers(), st.none()), min_size=n, max_size=n)
            )
        elif letter in "efd":
            values += data.draw(st.lists(st.floats(width=64), min_size=n, max_size=n))
        elif letter != "x":
            values += data.draw(st.lists(st.integers(*INT_RANGES[letter]), min_size=n, max_size=n))
    # Now and then one value struct refuses (or might), or one value too many or too few.
    if values and data.draw(st.booleans()):
        values[data.draw(st.integers(0, len(values) - 1))] = data.draw(st.sampled_from(REFUSED_VALUES))
    if data.draw(st.integers(0, 7)) == 0:
        values = values[:-1] if values else [1]
    with tavbin.Writer(order=order) as w:
        w.u8(7)
        try:
            want = twin.pack(*values) if isinstance(twin, struct.Struct) else twin
        except Exception as e:  # what struct raises, pack raises
            want = type(e)
        if isinstance(want, bytes):
            w.pack(arg, *values)
            assert w.getvalue() == b"\7" + want
        else:
            with pytest.raises(want):
                w.pack(arg, *values)
            assert w.getvalue() == b"\7"
