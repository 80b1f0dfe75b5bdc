"""Statuses become exceptions; bad arguments and closed handles become Python
exceptions before anything reaches C, never a crash or a silent wrap."""

import array
import copy
import inspect
import pickle
import tracemalloc

import pytest

import tavbin


def reader_at_end():
    r = tavbin.Reader(b"\x01")
    r.u8()
    return r


# (what, the call on a fresh handle, the exception, the handle whose last_error tells it)
STATUS_CASES = [
    ("eof", lambda h: h.u16(), tavbin.EofError, lambda: tavbin.Reader(b"\x01")),
    ("eof at the end", lambda h: h.u8(), tavbin.EofError, reader_at_end),
    ("range: seek", lambda h: h.seek(2), tavbin.RangeError, lambda: tavbin.Reader(b"\x01")),
    ("range: absolute", lambda h: h.u32_at(1), tavbin.RangeError, lambda: tavbin.Reader(b"abcd")),
    ("invalid_arg: bits", lambda h: h.bits(65), tavbin.InvalidArgError, lambda: tavbin.Reader(b"abcdefghi")),
    ("invalid_arg: order", lambda h: h.set_endian(2), tavbin.InvalidArgError, lambda: tavbin.Reader(b"")),
    (
        "invalid_arg: leb128",
        lambda h: h.leb128(),
        tavbin.InvalidArgError,
        lambda: tavbin.Reader(b"\x80" * 10),
    ),
    ("invalid_arg: writer order", lambda h: h.set_endian(7), tavbin.InvalidArgError, tavbin.Writer),
    ("too_large", lambda h: h.string_u32(1), tavbin.TooLargeError, lambda: tavbin.Reader(b"\0\0\0\2hi")),
]


@pytest.mark.parametrize("what, call, exc, make", STATUS_CASES, ids=[c[0] for c in STATUS_CASES])
def test_every_status_has_its_exception(what, call, exc, make):
    handle = make()
    with pytest.raises(exc) as info:
        call(handle)
    err = info.value
    assert isinstance(err, tavbin.Error)
    assert err.status is exc.default_status and handle.last_error is err.status
    assert tavbin.strerror(err.status) in str(err)
    again = pickle.loads(pickle.dumps(err))
    assert type(again) is exc and again.status is err.status and str(again) == str(err)
    assert again.offset == err.offset == (handle.tell() if isinstance(handle, tavbin.Reader) else len(handle))


def test_out_of_memory_is_a_memory_error():
    with pytest.raises(tavbin.OomError) as info:
        tavbin.Writer(initial_cap=2**62)
    assert isinstance(info.value, MemoryError) and info.value.status is tavbin.Status.OOM
    assert "oom" in str(info.value)


def test_status_values_and_texts():
    assert [(s.name, int(s)) for s in tavbin.Status] == [
        ("OK", 0),
        ("EOF", 1),
        ("RANGE", 2),
        ("INVALID_ARG", 3),
        ("TOO_LARGE", 4),
        ("OOM", 5),
    ]
    texts = ["ok", "eof", "range", "invalid_arg", "too_large", "oom", "unknown", "unknown"]
    assert [tavbin.strerror(s) for s in (0, 1, 2, 3, 4, 5, 6, -1)] == texts
    assert (tavbin.BIG, tavbin.LITTLE) == (0, 1)


def test_hostile_lengths_allocate_nothing():
    # Counts far beyond the data fail on the data, not on an allocation first.
    tracemalloc.start()
    try:
        for call in (
            lambda: tavbin.Reader(b"\xff\xff\xff\xff0123456789").string_u32(),
            lambda: tavbin.Reader(b"\xff\xff\xff\xff0123456789").string_u32(2**64 - 1),
            lambda: tavbin.Reader(b"0123456789").bytes(2**64 - 1),
            lambda: tavbin.Reader(b"0123456789").ascii(2**40),
            lambda: tavbin.Reader(b"0123456789").array("u64", 2**61),
            lambda: tavbin.Reader(b"0123456789").array("f64", 2**64 - 1),
            lambda: tavbin.Reader(b"0123456789").sub(2**64 - 1),
        ):
            with pytest.raises(tavbin.EofError):
                call()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < 1 << 20


# (call, the exception): each is refused in Python; nothing is recorded.
BAD_ARGUMENTS = [
    (lambda r, w: r.bytes(-1), OverflowError),
    (lambda r, w: r.u8_at(2**64), OverflowError),
    (lambda r, w: r.bits(-1), OverflowError),
    (lambda r, w: r.leb128(-1), OverflowError),
    (lambda r, w: r.string_u32(-1), OverflowError),
    (lambda r, w: r.seek("0"), TypeError),
    (lambda r, w: r.bytes(1.0), TypeError),
    (lambda r, w: w.u8(256), OverflowError),
    (lambda r, w: w.i16(-(2**15) - 1), OverflowError),
    (lambda r, w: w.u32(-1), OverflowError),
    (lambda r, w: w.i64(2**63), OverflowError),
    (lambda r, w: w.leb128(2**64), OverflowError),
    (lambda r, w: w.f32(1e39), OverflowError),
    (lambda r, w: w.u32(1.5), TypeError),
    (lambda r, w: w.f64("1.5"), TypeError),
    (lambda r, w: w.bytes("text"), TypeError),
    # the edges of every range, one past
    (lambda r, w: w.u8(-1), OverflowError),
    (lambda r, w: w.u16(2**16), OverflowError),
    (lambda r, w: w.u16(-1), OverflowError),
    (lambda r, w: w.i16(2**15), OverflowError),
    (lambda r, w: w.u32(2**32), OverflowError),
    (lambda r, w: w.i32(2**31), OverflowError),
    (lambda r, w: w.i32(-(2**31) - 1), OverflowError),
    (lambda r, w: w.u64(2**64), OverflowError),
    (lambda r, w: w.u64(-1), OverflowError),
    (lambda r, w: w.i64(-(2**63) - 1), OverflowError),
    (lambda r, w: w.leb128(-1), OverflowError),
    (lambda r, w: w.f32(-1e39), OverflowError),
    (lambda r, w: w.sleb128(2**63), OverflowError),
    (lambda r, w: w.sleb128(-(2**63) - 1), OverflowError),
    (lambda r, w: w.i24(1.0), TypeError),
    (lambda r, w: w.patch_u16(0, 2**16), OverflowError),
    (lambda r, w: w.patch_u32(-1, 0), OverflowError),
    (lambda r, w: r.u16_at(-1), OverflowError),
    (lambda r, w: r.skip(2**64), OverflowError),
    (lambda r, w: r.set_endian(-1), OverflowError),
    (lambda r, w: r.cstring(-1), OverflowError),
    (lambda r, w: r.sub(-1), OverflowError),
    (lambda r, w: r.sleb128(2**64), OverflowError),
    # bulk values: all or nothing, the kind checked first
    (lambda r, w: r.array("u128", 1), ValueError),
    (lambda r, w: r.array(b"u8", 1), ValueError),
    (lambda r, w: r.array("u8", -1), OverflowError),
    (lambda r, w: w.array("u24", [1]), ValueError),
    (lambda r, w: w.array("u8", [1, 256]), OverflowError),
    (lambda r, w: w.array("i8", [1, -129]), OverflowError),
    (lambda r, w: w.array("u16", [1, -1]), OverflowError),
    (lambda r, w: w.array("i16", [1, 2**15]), OverflowError),
    (lambda r, w: w.array("u32", [1, 2**32]), OverflowError),
    (lambda r, w: w.array("i32", [1, -(2**31) - 1]), OverflowError),
    (lambda r, w: w.array("u64", [1, 2**64]), OverflowError),
    (lambda r, w: w.array("i64", [1, 2**63]), OverflowError),
    (lambda r, w: w.array("f32", [1.0, 1e39]), OverflowError),
    (lambda r, w: w.array("u32", [1, 1.5]), TypeError),
    (lambda r, w: w.array("f64", [1.0, "2"]), TypeError),
    (lambda r, w: w.array("u8", 5), TypeError),
]


@pytest.mark.parametrize(
    "call, exc",
    [
        (lambda: tavbin.zigzag_encode(2**63), OverflowError),
        (lambda: tavbin.zigzag_encode(-(2**63) - 1), OverflowError),
        (lambda: tavbin.zigzag_decode(-1), OverflowError),
        (lambda: tavbin.zigzag_decode(2**64), OverflowError),
        (lambda: tavbin.zigzag_decode(1.0), TypeError),
    ],
)
def test_bad_stateless_record_arguments(call, exc):
    with pytest.raises(exc):
        call()


@pytest.mark.parametrize("call, exc", BAD_ARGUMENTS)
def test_bad_arguments_raise_before_any_call(call, exc):
    r, w = tavbin.Reader(b"\0\0\0\0\0\0\0\0"), tavbin.Writer()
    r.bits(3)
    with pytest.raises(exc):
        call(r, w)
    # Nothing reached C: the cursor, the writer and both statuses are untouched.
    assert r.last_error is tavbin.Status.OK and w.last_error is tavbin.Status.OK
    assert len(w) == 0 and r.bits(5) == 0


@pytest.mark.parametrize(
    "make, exc",
    [
        (lambda: tavbin.Reader("text"), TypeError),
        (lambda: tavbin.Reader(b"", order=2), tavbin.InvalidArgError),
        (lambda: tavbin.Writer(initial_cap=-1), OverflowError),
        (lambda: tavbin.load_u32(b"abcd", offset=-1), OverflowError),
        (lambda: tavbin.store_u16(b"ab", 1), TypeError),  # read-only
        (lambda: tavbin.store_u32(memoryview(bytearray(8))[::2], 1), TypeError),  # not contiguous
        (lambda: tavbin.strerror(2**31), OverflowError),
    ],
)
def test_bad_construction_and_stateless_arguments(make, exc):
    with pytest.raises(exc):
        make()


# Arguments for every public method; a method missing here fails the test below.
READER_CALLS = {
    "u8": (),
    "i8": (),
    "u16": (),
    "i16": (),
    "u32": (),
    "i32": (),
    "f32": (),
    "u64": (),
    "i64": (),
    "f64": (),
    "bytes": (1,),
    "ascii": (0,),
    "skip": (0,),
    "bits": (1,),
    "leb128": (),
    "string_u32": (),
    "peek_u8": (),
    "peek_u16": (),
    "peek_u32": (),
    "peek_u64": (),
    "u8_at": (0,),
    "u16_at": (0,),
    "u32_at": (0,),
    "u64_at": (0,),
    "seek": (0,),
    "tell": (),
    "remaining": (),
    "bit_align": (),
    "set_endian": (1,),
    "u24": (),
    "i24": (),
    "sleb128": (),
    "cstring": (200,),
    "sub": (1,),
    "array": ("u16", 2),
    "lsb_bits": (),
    "origin": (),
    "unpack": ("<I",),
    "unpack_many": ("H", 2),
    "string_u8": (),
    "string_u16": (),
    "string_leb128": (),
    "leb128_u32": (),
    "sleb128_i32": (),
    "cstring_at": (0, 200),
}
WRITER_CALLS = {
    "u8": (1,),
    "u16": (1,),
    "i16": (-1,),
    "u32": (1,),
    "i32": (-1,),
    "f32": (1.5,),
    "u64": (1,),
    "i64": (-1,),
    "f64": (1.5,),
    "leb128": (300,),
    "bytes": (b"ab",),
    "string_u32": (array.array("H", [1]),),
    "getvalue": (),
    "set_endian": (1,),
    "__len__": (),
    "u24": (1,),
    "i24": (-1,),
    "sleb128": (-1,),
    "array": ("i32", [1, -1]),
    "patch_u16": (0, 1),
    "patch_u32": (0, 1),
    "patch_u64": (0, 1),
    "pack": ("<I", 1),
    "string_u8": (b"a",),
    "string_u16": (bytearray(b"a"),),
    "string_leb128": (memoryview(b"a"),),
}


def public_methods(cls):
    return {n for n, f in inspect.getmembers(cls, inspect.isroutine) if not n.startswith("_")} - {"close"}


@pytest.mark.parametrize("cls, calls", [(tavbin.Reader, READER_CALLS), (tavbin.Writer, WRITER_CALLS)])
def test_every_call_after_close_is_a_value_error(cls, calls):
    assert public_methods(cls) <= set(calls)
    handle = cls(bytes(128)) if cls is tavbin.Reader else cls()
    for name, args in calls.items():
        getattr(handle, name)(*args)  # fine while open
    handle.close()
    handle.close()  # closing twice is allowed
    assert handle.closed
    for name, args in calls.items():
        with pytest.raises(ValueError, match="closed"):
            getattr(handle, name)(*args)
    for prop in ("last_error",) + (("size",) if cls is tavbin.Reader else ()):
        with pytest.raises(ValueError, match="closed"):
            getattr(handle, prop)


@pytest.mark.parametrize("make", [lambda: tavbin.Reader(bytearray(8)), tavbin.Writer])
@pytest.mark.parametrize("how", [copy.copy, copy.deepcopy, pickle.dumps])
def test_handles_cannot_be_copied(make, how):
    # A copy would close the same C handle twice.
    handle = make()
    with pytest.raises(TypeError, match="owns a C handle"):
        how(handle)


def test_a_sub_readers_origin_and_errors_say_where_in_the_outermost_input():
    r = tavbin.Reader(bytes(range(32)))
    r.skip(4)
    outer = r.sub(20)  # bytes 4 to 24
    outer.bits(3)  # sub() starts after the partly read byte
    inner = outer.sub(8)  # bytes 5 to 13
    assert (r.origin(), outer.origin(), inner.origin(), inner.u8()) == (0, 4, 5, 5)
    inner.skip(6)
    with pytest.raises(tavbin.EofError) as info:
        inner.u16()
    err = info.value
    assert (err.offset, err.outer) == (7, 12)
    assert str(err) == "Reader.u16: eof at offset 7 of a sub-reader, 12 in the outermost input"
    again = pickle.loads(pickle.dumps(err))
    assert (again.outer, str(again)) == (12, str(err))
    with pytest.raises(tavbin.InvalidArgError) as info:
        inner.lsb_bits().read(0)
    assert (info.value.offset, info.value.outer) == (7, 12)
    # A reader opened on its own data says nothing more than before.
    r.seek(32)
    with pytest.raises(tavbin.EofError) as info:
        r.u8()
    assert (str(info.value), info.value.outer) == ("Reader.u8: eof", None)


@pytest.mark.parametrize("cls, calls", [(tavbin.Reader, READER_CALLS), (tavbin.Writer, WRITER_CALLS)])
def test_every_method_shows_its_arguments(cls, calls):
    # inspect.signature and help() read the compiled methods' text signatures.
    for name, args in calls.items():
        inspect.signature(getattr(cls, name)).bind(None, *args)
    assert list(inspect.signature(cls).parameters)[:2] == (
        ["data", "order"] if cls is tavbin.Reader else ["initial_cap", "order"]
    )


def test_a_failure_after_bit_align_began_after_the_skipped_byte():
    r = tavbin.Reader(b"\xab\x00")
    r.bits(4)
    r.bit_align()
    with pytest.raises(tavbin.EofError) as info:
        r.u16()
    assert info.value.offset == r.tell() == 1
