"""tavbin.kaitai against Kaitai Struct's own Python runtime.

The descriptions in kaitai/ are compiled by CTest's fixture (kaitai/compile.py)
with the 0.10 and 0.11 compilers into TAVBIN_KAITAI_GENERATED. Each parser runs
on the inputs made here, every prefix of them and mutations of them: the object
tree (every field and every instance, or the exception) that tavbin.kaitai gives
for the 0.10 and the 0.11 output must be the one Debian's kaitaistruct gives for
the 0.10 output. Stream calls that generated code makes are also compared one by
one, in random sequences.
"""

import enum
import importlib.util
import io
import os
import random
import struct
import sys
import warnings

import pytest

import kaitaistruct as reference  # Debian's python3-kaitaistruct: imported before install()

import tavbin.kaitai as ours
from tavbin.kaitai import KaitaiStream, BytesIO

GENERATED = os.environ.get("TAVBIN_KAITAI_GENERATED", "")


def test_the_path_is_the_expected_one():
    expected = os.environ.get("TAVBIN_EXPECT_ACCELERATED")
    if expected is not None:
        assert ours.ACCELERATED == (expected == "1")


# -- loading the generated parsers on one runtime or the other ------------------


def load(version, name, runtime):
    path = os.path.join(GENERATED, version, name + ".py")
    saved = sys.modules.get("kaitaistruct")
    sys.modules["kaitaistruct"] = runtime
    try:
        location = importlib.util.spec_from_file_location(f"kt_{runtime.__name__}_{version}_{name}", path)
        module = importlib.util.module_from_spec(location)
        location.loader.exec_module(module)
    finally:
        sys.modules["kaitaistruct"] = saved
    return getattr(module, "".join(part.capitalize() for part in name.split("_")))


def outcome(e):
    """An exception as both runtimes can agree on: 0.10 raises EOFError and a bare
    Exception and ValueError where 0.11 has EndOfStreamError, NoTerminatorFoundError
    and InvalidArgumentError."""
    text = str(e)
    if text.startswith("end of stream reached, but no terminator"):
        return ("no terminator",)
    if isinstance(e, EOFError):
        return ("end of stream", text)
    if isinstance(e, ValueError) and text.startswith("requested invalid"):  # InvalidArgumentError in 0.11
        return ("invalid argument", text)
    if type(e).__name__.startswith("Validation"):
        return (type(e).__name__, text, repr(getattr(e, "actual", None)))
    return (type(e).__name__, text)


def tree(value):
    """Every field and instance of a parsed object, recursively."""
    if hasattr(value, "_read") and hasattr(value, "_io"):
        fields = {}
        for key, v in vars(value).items():
            if not key.startswith("_") or key.startswith("_raw_"):
                fields[key] = tree(v)
        for key in sorted(dir(type(value))):
            if isinstance(getattr(type(value), key, None), property) and not key.startswith("_"):
                try:
                    fields[key] = tree(getattr(value, key))
                except Exception as e:
                    fields[key] = ("raised",) + outcome(e)
        return (type(value).__name__, fields)
    if isinstance(value, list):
        return [tree(v) for v in value]
    if isinstance(value, enum.Enum):
        return ("enum", type(value).__name__, value.name, value.value)
    if isinstance(value, float):
        return ("float", repr(value))
    return (type(value).__name__, value)


def parse(cls, data):
    try:
        return tree(cls.from_bytes(data))
    except Exception as e:
        return ("raised",) + outcome(e)


# -- inputs -----------------------------------------------------------------------


def numbers_inputs(rng):
    def one(count, tail):
        widths = struct.pack(
            "<BbHhIiQqfd",
            *(rng.getrandbits(8), rng.randint(-128, 127), rng.getrandbits(16), rng.randint(-32768, 32767)),
            *(rng.getrandbits(32), rng.randint(-(2**31), 2**31 - 1), rng.getrandbits(64)),
            *(rng.randint(-(2**63), 2**63 - 1), rng.uniform(-1e6, 1e6), rng.uniform(-1e300, 1e300)),
        )
        big = rng.randbytes(40)
        kinds = bytes([0, 2, 9])
        return (
            widths
            + big
            + kinds
            + bytes.fromhex("10203040")
            + struct.pack("<H", count)
            + rng.randbytes(2 * count)
            + tail
        )

    nan = struct.pack(">f", float("nan"))
    return [one(0, b""), one(3, rng.randbytes(6)), one(1, b"\x01\x02\x03"), one(2, nan * 2)]


def bits_inputs(rng):
    return [rng.randbytes(67), bytes(67), b"\xff" * 67, rng.randbytes(70)]


def terms_inputs(rng):
    whole = b"hello\0xy,k1;b2;ab.cdex.yzzzab   cd___\x03xyzqq!ww!tail"
    return [
        whole,
        whole.replace(b"\0", b"-"),  # no NUL: the first field fails
        whole[: whole.index(b"qq!")] + b"qq",  # the last two fields meet the end
        whole[: whole.index(b"qq!")] + b"qqww",
        whole.replace(b"ab.cde", b"abcdef"),  # no terminator inside the size
    ]


def tlv_inputs(rng):
    def record(tag, body):
        return bytes([tag, len(body)]) + body

    def file(version=2, flavour=0x20, checked=4, fixed=0x7F, magic=b"TLV1", table_ofs=None, records=None):
        records = (
            records
            if records is not None
            else [
                record(1, struct.pack("<i", -5) + b"\x01\x02"),
                record(2, "héllo".encode()),
                record(3, rng.randbytes(9)),
                record(4, struct.pack("<HB", 3, 1) + b"\x07\x08"),
                record(9, b"unknown"),
            ]
        )
        body = b"".join(records)
        head_len = 4 + 1 + 1 + 2 + 1 + 4 + 1
        ofs = head_len + len(body) if table_ofs is None else table_ofs
        head = magic + struct.pack("<BBHBIB", version, flavour, checked, fixed, ofs, len(records))
        return head + body + struct.pack("<HHH", 2, 0, 9) + rng.randbytes(4)

    return [
        file(),
        file(version=0),
        file(version=4),
        file(flavour=0x11),
        file(checked=3),
        file(fixed=0),
        file(magic=b"TLV2"),
        file(table_ofs=5000),  # the instance seeks past the end
        file(records=[record(4, struct.pack("<HB", 60000, 200))]),  # pointers past both ends
        file(records=[record(4, b"\x01")]),  # too short for its fields
    ]


INPUTS = {
    "kt_numbers": numbers_inputs,
    "kt_bits": bits_inputs,
    "kt_terms": terms_inputs,
    "kt_tlv": tlv_inputs,
}


def variants(data, rng):
    """The input, every prefix of it, and a few with one byte changed."""
    out = [data[:n] for n in range(len(data) + 1)]
    for _ in range(8):
        if data:
            i = rng.randrange(len(data))
            out.append(data[:i] + bytes([rng.getrandbits(8)]) + data[i + 1 :])
    return out


needs_generated = pytest.mark.skipif(
    not GENERATED, reason="TAVBIN_KAITAI_GENERATED is not set (run through CTest)"
)


@needs_generated
@pytest.mark.parametrize("name", sorted(INPUTS))
def test_trees_are_the_reference_runtimes(name):
    rng = random.Random(name)
    ref = load("0.10", name, reference)
    old = load("0.10", name, ours)
    new = load("0.11", name, ours)
    for data in INPUTS[name](rng):
        for v in variants(data, rng):
            want = parse(ref, v)
            assert parse(old, v) == want, (name, v)
            assert parse(new, v) == want, (name, v)


@needs_generated
def test_what_only_the_newer_compiler_generates():
    cls = load("0.11", "kt_newer", ours)
    wide = "añb".encode("utf-16le") + b"\0\0"
    good = wide + "wx".encode("utf-16le") + b"\0\0z\0" + b"\x02" + "ab".encode("utf-16le") + b"\0\0c\0"
    t = cls.from_bytes(good)
    assert (t.wide, t.wide_sized, t.kind, t.units) == ("añb", "wx\x00z", cls.Kind.two, "ab")
    # "a\0" then "\0b": the zero bytes straddle two units, which is no terminator.
    assert cls.from_bytes(b"a\0\0b\0\0" + good[len(wide) :]).wide == "a\u6200"
    with pytest.raises(ours.ValidationNotInEnumError) as e:
        cls.from_bytes(good.replace(b"\x02", b"\x07"))
    assert e.value.actual == 7 and e.value.src_path == "/seq/2"
    with pytest.raises(ours.NoTerminatorFoundError) as e:
        cls.from_bytes("abc".encode("utf-16le") + b"\0")
    assert e.value.term == b"\0\0" and e.value.bytes_available == 1


@needs_generated
def test_a_file_is_mapped_and_closed(tmp_path):
    rng = random.Random(7)
    data = tlv_inputs(rng)[0]
    path = tmp_path / "one.tlv"
    path.write_bytes(data)
    cls = load("0.11", "kt_tlv", ours)
    want = tree(load("0.10", "kt_tlv", reference).from_bytes(data))
    with cls.from_file(str(path)) as t:
        assert tree(t) == want
        f = t._io._io
    assert f.closed
    with open(path, "rb") as f:
        assert tree(cls.from_io(f)) == want
    with open(path, "rb") as f:
        f.seek(3)
        s = KaitaiStream(f)
        assert (s.pos(), s.size(), s.read_bytes(2)) == (3, len(data), data[3:5])
        s.close()
        assert f.closed


# -- stream calls one by one ----------------------------------------------------------


def random_calls(rng, size):
    """A sequence of calls generated code makes, aligned as the 0.10 compiler aligns."""
    calls = []
    for _ in range(40):
        kind = rng.randrange(9)
        if kind == 0:
            calls.append(("align_to_byte",))
            calls.append(
                (
                    rng.choice(
                        [
                            m
                            for m in dir(KaitaiStream)
                            if m[:6] == "read_u" or m[:6] == "read_s" or m[:6] == "read_f"
                        ]
                    ),
                )
            )
        elif kind in (1, 2):
            order = "read_bits_int_be" if kind == 1 else "read_bits_int_le"
            calls.append(("align_to_byte",))
            calls += [(order, rng.randrange(65)) for _ in range(rng.randrange(1, 5))]
        elif kind == 3:
            calls += [("align_to_byte",), ("read_bytes", rng.randrange(-2, 12))]
        elif kind == 4:
            flags = tuple(rng.random() < 0.5 for _ in range(3))
            calls += [("align_to_byte",), ("read_bytes_term", rng.randrange(4)) + flags]
        elif kind == 5:
            calls += [("align_to_byte",), ("seek", rng.randrange(size + 3))]
        elif kind == 6:
            calls += [("pos",), ("size",), ("is_eof",)]
        elif kind == 7:
            calls += [("align_to_byte",), ("read_bytes_full",)]
        else:
            calls += [("bits_left",)]
    return calls


def call(stream, c):
    try:
        if c[0] == "bits_left":
            return ("value", stream.bits_left)
        v = getattr(stream, c[0])(*c[1:])
        return ("value", type(v).__name__, repr(v))
    except Exception as e:
        return ("raised",) + outcome(e)


@pytest.mark.parametrize("seed", range(60))
def test_calls_match_the_reference_runtime(seed):
    rng = random.Random(seed)
    data = bytes(
        rng.randrange(4) if rng.random() < 0.4 else rng.getrandbits(8) for _ in range(rng.randrange(40))
    )
    theirs = reference.KaitaiStream(io.BytesIO(data))
    mine = KaitaiStream(BytesIO(data))
    for c in random_calls(rng, len(data)):
        want = call(theirs, c)
        assert call(mine, c) == want, (data, c)
        if want[0] == "raised":  # the streams' states after a failure differ: stop
            break


# -- what the reference runtime 0.10 cannot show ---------------------------------------


def test_errors_have_the_runtimes_names_bases_and_attributes():
    e = ours.EndOfStreamError("requested 4 bytes, but only 1 bytes available", 4, 1)
    assert isinstance(e, ours.KaitaiStructError) and isinstance(e, EOFError)
    assert (str(e), e.bytes_needed, e.bytes_available, e.src_path) == (e.args[0], 4, 1, None)
    assert issubclass(ours.NoTerminatorFoundError, ours.EndOfStreamError)
    assert issubclass(ours.InvalidArgumentError, ours.KaitaiStructError)
    assert issubclass(ours.InvalidArgumentError, ValueError)
    s = KaitaiStream(BytesIO(b"\1\2\3"))
    s.seek(2)
    for cls, args, text in [
        (
            ours.ValidationNotEqualError,
            (1, 2, s, "/seq/0"),
            "/seq/0: at pos 2: validation failed: not equal, expected 1, but got 2",
        ),
        (
            ours.ValidationLessThanError,
            (1, 0, s, "/x"),
            "/x: at pos 2: validation failed: not in range, min 1, but got 0",
        ),
        (
            ours.ValidationGreaterThanError,
            (1, 5, None, "/x"),
            "/x: validation failed: not in range, max 1, but got 5",
        ),
        (
            ours.ValidationNotAnyOfError,
            (5, s, "/x"),
            "/x: at pos 2: validation failed: not any of the list, got 5",
        ),
        (
            ours.ValidationNotInEnumError,
            (5, s, "/x"),
            "/x: at pos 2: validation failed: not in the enum, got 5",
        ),
        (
            ours.ValidationExprError,
            (5, s, "/x"),
            "/x: at pos 2: validation failed: not matching the expression, got 5",
        ),
        (ours.UndecidedEndiannessError, ("/x",), "/x: unable to decide on endianness for a type"),
    ]:
        err = cls(*args)
        assert str(err) == text and isinstance(err, ours.KaitaiStructError)
        if cls.__name__.startswith("Validation"):
            assert isinstance(err, ours.ValidationFailedError)
            # The reference's class of the same name takes the same arguments and says the same.
            if hasattr(reference, cls.__name__) and None not in args:
                assert str(getattr(reference, cls.__name__)(*args)) == text


def test_eof_error_of_tavbin_never_leaks():
    s = KaitaiStream(BytesIO(b"\1\2\3"))
    for method, n in [("read_u4le", 4), ("read_s8be", 8), ("read_f8le", 8), ("read_u2be", 2)]:
        s.seek(2)
        with pytest.raises(ours.EndOfStreamError) as e:
            getattr(s, method)()
        assert type(e.value) is ours.EndOfStreamError
        assert (str(e.value), e.value.bytes_needed, e.value.bytes_available) == (
            f"requested {n} bytes, but only 1 bytes available",
            n,
            1,
        )
    with pytest.raises(ours.InvalidArgumentError):
        s.read_bytes(-1)
    with pytest.raises(TypeError):
        s.read_bytes(None)
    with pytest.raises(ours.InvalidArgumentError):
        s.seek(-1)
    for bad in (-1, 65):  # no field is wider than 64 bits
        with pytest.raises(ours.InvalidArgumentError):
            s.read_bits_int_be(bad)
        with pytest.raises(ours.InvalidArgumentError):
            s.read_bits_int_le(bad)
    with pytest.raises(TypeError):
        s.read_bits_int_be(2.0)
    s.seek(10)  # past the end: fine until the next read
    assert (s.pos(), s.is_eof()) == (10, True)
    with pytest.raises(ours.EndOfStreamError, match="requested 1 bytes, but only 0 bytes available"):
        s.read_u1()
    s.close()
    with pytest.raises(ValueError):
        s.read_u1()
    s.close()


def test_substreams_share_the_bytes_and_stay_inside_them():
    data = bytes(range(20))
    s = KaitaiStream(BytesIO(data))
    s.seek(4)
    sub = s.substream(6)
    assert (s.pos(), sub.pos(), sub.size()) == (10, 0, 6)
    assert sub.read_bytes(4) == data[4:8] and type(sub.read_bytes(0)) is bytes
    with pytest.raises(ours.EndOfStreamError):
        sub.read_u4be()
    inner = KaitaiStream(BytesIO(data)).substream(3).substream(2)
    assert inner.read_bytes_full() == data[:2]
    with pytest.raises(ours.EndOfStreamError):
        s.substream(11)
    s.close()
    assert sub.read_bytes_full() == b""  # the substream outlives its parent


def test_helpers():
    S = KaitaiStream
    for data, key in [(b"", 3), (b"\x00\xff\x10", 0x5A), (bytes(range(256)), 0xFF)]:
        assert S.process_xor_one(data, key) == reference.KaitaiStream.process_xor_one(data, key)
        for many in [b"\x01", b"\x01\x02\x03", b"\xaa" * 300]:
            assert S.process_xor_many(data, many) == reference.KaitaiStream.process_xor_many(data, many)
        for amount in range(-9, 10):
            want = reference.KaitaiStream.process_rotate_left(data, amount % 8, 1)
            assert S.process_rotate_left(data, amount % 8, 1) == want
    for data, term in [(b"ab\0cd\0", 0), (b"abc", 0), (b"", 7), (b"\x07", 7)]:
        for include in (False, True):
            assert S.bytes_terminate(data, term, include) == reference.KaitaiStream.bytes_terminate(
                data, term, include
            )
    assert S.bytes_terminate_multi(b"a\0\0b\0\0", b"\0\0", False) == b"a\0\0b"
    assert S.bytes_terminate_multi(b"ab\0\0cd", b"\0\0", True) == b"ab\0\0"
    assert S.bytes_terminate_multi(b"abc", b"\0\0", True) == b"abc"
    assert S.bytes_strip_right(b"ab  ", 0x20) == b"ab"
    assert (
        S.byte_array_min(b"\x05\x01\x09"),
        S.byte_array_max(b"\x05\x01\x09"),
        S.byte_array_index(b"\5\1", 1),
    ) == (1, 9, 1)
    assert (S.int_from_byte(5), S.byte_from_int(5)) == (5, b"\5")

    class Colour(enum.IntEnum):
        red = 1

    assert S.resolve_enum(Colour, 1) is Colour.red and S.resolve_enum(Colour, 2) == 2


def test_install_makes_kaitaistruct_this_module():
    saved = sys.modules.get("kaitaistruct")
    try:
        ours.install()
        import kaitaistruct

        assert kaitaistruct is ours and kaitaistruct.API_VERSION >= (0, 11)
        assert kaitaistruct.__version__ == "0.11"
    finally:
        sys.modules["kaitaistruct"] = saved


def test_deprecated_calls_warn_and_still_work():
    s = KaitaiStream(BytesIO(b"\xa0AB"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert s.read_bits_int(3) == 5
        assert s.ensure_fixed_contents(b"AB") == b"AB"
        with pytest.raises(Exception, match="unexpected fixed contents"):
            s.ensure_fixed_contents(b"C")
    with pytest.warns(DeprecationWarning):
        s.read_bits_int(0)


@pytest.mark.parametrize(
    "bits, then, value, pos",
    [
        (("read_bits_int_be", 3), "read_u1", 0x02, 2),
        (("read_bits_int_le", 3), "read_u1", 0x02, 2),
        (("read_bits_int_be", 12), "read_u2be", 0x0304, 4),
        (("read_bits_int_le", 9), "read_bytes", b"\x03", 3),
        (("read_bits_int_be", 4), "read_bytes_full", b"\x02\x03\x04", 4),
    ],
)
def test_a_byte_read_drops_the_bits_left_over(bits, then, value, pos):
    # As the 0.11 runtime does (0.10 kept them for the next bit read).
    s = KaitaiStream(BytesIO(b"\x01\x02\x03\x04"))
    getattr(s, bits[0])(bits[1])
    assert s.bits_left
    assert getattr(s, then)(*([1] if then == "read_bytes" else [])) == value
    assert (s.bits_left, s.pos()) == (0, pos)
    assert s.read_bits_int_be(0) == 0 and s.read_bits_int_le(0) == 0


def test_threads_sharing_one_stream_never_crash():
    import threading
    import time

    data = bytes(range(256)) * 64
    s = KaitaiStream(BytesIO(data))
    stop = time.monotonic() + 1.5
    allowed = (ValueError, EOFError)  # closed, or at the end (InvalidArgumentError is a ValueError)
    failures = []

    def work(seed):
        rng = random.Random(seed)
        calls = [
            lambda: s.read_u4le(),
            lambda: s.read_bits_int_le(rng.randrange(65)),
            lambda: s.read_bytes(rng.randrange(-1, 40)),
            lambda: s.read_bytes_term(rng.randrange(256), True, False, True),
            lambda: s.read_bytes_term_multi(b"\1\2", False, True, False),
            lambda: s.seek(rng.randrange(len(data) + 10)),
            lambda: s.substream(rng.randrange(20)).read_bytes_full(),
            lambda: (s.pos(), s.size(), s.is_eof()),
        ]
        if seed == 0:  # one thread also closes the stream and opens it again
            calls += [lambda: s.close(), lambda: s.__init__(BytesIO(data))]
        try:
            while time.monotonic() < stop:
                try:
                    rng.choice(calls)()
                except allowed:
                    pass
        except Exception as e:  # anything else is a fault
            failures.append(e)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
