"""The record layer's shared vectors (tests/vectors/record.txt, format in the
README beside it), run through the Python package. TAVBIN_VECTORS names another
file in the same format."""

import math
import os
import pathlib

import pytest

import tavbin

FILE = pathlib.Path(
    os.environ.get("TAVBIN_VECTORS") or pathlib.Path(__file__).parents[1] / "vectors" / "record.txt"
)
ERRORS = {
    "eof": tavbin.EofError,
    "range": tavbin.RangeError,
    "invalid_arg": tavbin.InvalidArgError,
    "too_large": tavbin.TooLargeError,
    "oom": tavbin.OomError,
}


def load_cases():
    cases, current = [], None
    for number, line in enumerate(FILE.read_text().splitlines(), 1):
        tokens = line.split("#", 1)[0].split()
        if not tokens:
            continue
        if tokens[0] == "case":
            current = (" ".join(tokens[1:]), [])
            cases.append(current)
        else:
            current[1].append((number, tokens))
    return cases


CASES = load_cases()


# The calls whose value (reader) or argument (writer) is HEX.
STRINGS = ("string_u8", "string_u16", "string_leb128", "string_u32")
HEX_VALUES = ("cstring", "cstring_at") + STRINGS


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def number(text):
    return float(text) if "." in text or text in ("inf", "-inf", "nan") else int(text)


def same(got, want):
    if isinstance(want, float):
        return got == want or (math.isnan(got) and math.isnan(want))
    return got == want


def run_case(lines):
    order, reader, writer, bits, via_cursor = tavbin.BIG, None, None, None, False
    for number_, tokens in lines:
        where = f"{FILE.name}:{number_}"
        op = tokens[0]
        if op == "order":
            order = {"big": tavbin.BIG, "little": tavbin.LITTLE}[tokens[1]]
            continue
        if op == "data":
            reader = tavbin.Reader(unhex(tokens[1]), order)
            continue
        if op == "writer":
            writer = tavbin.Writer(0, order)
            continue
        if op == "via":
            via_cursor = True
            continue
        if op == "out":
            assert writer.getvalue() == unhex(tokens[1]), where
            continue
        arrow = tokens.index("=>")
        args, outcome = tokens[1:arrow], tokens[arrow + 1 :]
        tell = None
        if outcome[-1].startswith("@"):
            tell = int(outcome[-1][1:])
            outcome = outcome[:-1]
        if outcome[0] == "skipped":
            return  # the bindings stop at a cursor's first failure
        before = reader.tell() if reader is not None and not op.startswith("w.") else None
        if op.startswith("lsb"):
            call = {
                "lsb_begin": lambda: None,
                "lsb": lambda n: bits.read(int(n)),
                "lsb_align": lambda: bits.align(),
                "lsb_done": lambda: bits.done(),
            }[op]
            if op == "lsb_begin":
                bits = reader.lsb_bits()
            if op == "lsb" and outcome[0] != "ok":
                before = None  # its offset is the byte of its first bit
        elif op.startswith("w."):
            name = op[2:]
            target = getattr(writer, name)
            if name == "array":
                call = lambda kind, *vs: target(kind, [number(v) for v in vs])  # noqa: E731
            elif name in STRINGS:
                call = lambda data: target(unhex(data))  # noqa: E731
            else:
                call = lambda *vs: target(*(number(v) for v in vs))  # noqa: E731
        elif op.startswith("zigzag"):
            call = lambda v: getattr(tavbin, op)(int(v))  # noqa: E731
        else:
            target = getattr(reader, op)
            call = lambda *vs: target(
                *(v if v.isalpha() or v[0].isalpha() else number(v) for v in vs)
            )  # noqa: E731
        if outcome[0] == "ok":
            got = call(*args)
            want = outcome[1:]
            if op in HEX_VALUES:
                assert got == unhex(want[0]), where
            elif op == "sub":
                assert got.bytes(got.size) == unhex(want[0]), where
            elif op == "array":
                assert len(got) == len(want) and all(same(g, number(w)) for g, w in zip(got, want)), where
            elif want:
                assert same(got, number(want[0])), where
            else:
                assert got is None, where
        else:
            with pytest.raises(ERRORS[outcome[0]]) as caught:
                call(*args)
            assert caught.value.status.name.lower() == outcome[0], where
            if before is not None:
                assert caught.value.offset == before, where
            if via_cursor:
                return
        if tell is not None:
            assert reader.tell() == tell, where


@pytest.mark.parametrize("lines", [lines for _, lines in CASES], ids=[name for name, _ in CASES])
def test_vector(lines):
    run_case(lines)
