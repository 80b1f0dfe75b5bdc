"""What the package adds around the C calls: borrowed buffers, garbage collection,
threads, and interpreter shutdown."""

import array
import gc
import mmap
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

import tavbin

PAYLOAD = bytes(range(1, 33))


def anonymous_mmap():
    m = mmap.mmap(-1, len(PAYLOAD))
    m.write(PAYLOAD)
    return m


def read_only_mmap(tmp_path):
    path = tmp_path / "payload.bin"
    path.write_bytes(PAYLOAD)
    with open(path, "rb") as f:
        return mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)


# (kind, make it from a tmp_path, shares memory with the caller's object)
BUFFERS = [
    ("bytes", lambda p: bytes(PAYLOAD), True),
    ("bytearray", lambda p: bytearray(PAYLOAD), True),
    ("memoryview", lambda p: memoryview(bytearray(PAYLOAD)), True),
    ("read-only memoryview slice", lambda p: memoryview(b"xx" + PAYLOAD)[2:], True),
    ("mmap", lambda p: anonymous_mmap(), True),
    ("read-only mmap", read_only_mmap, True),
    ("array.array", lambda p: array.array("B", PAYLOAD), True),
    (
        "strided memoryview (copied)",
        lambda p: memoryview(bytearray(b"".join(bytes([b, 0]) for b in PAYLOAD)))[::2],
        False,
    ),
]


@pytest.mark.parametrize("kind, make, shared", BUFFERS, ids=[b[0] for b in BUFFERS])
def test_every_buffer_kind_reads_the_same(tmp_path, kind, make, shared):
    data = make(tmp_path)
    r = tavbin.Reader(data, tavbin.LITTLE)
    assert r.size == len(PAYLOAD)
    assert r.u32() == int.from_bytes(PAYLOAD[:4], "little")
    assert r.bytes(4) == PAYLOAD[4:8]
    writable = not memoryview(data).readonly
    if writable:
        # No copy: a change to the caller's memory is what the reader sees.
        data[8] = 0xEE
        assert r.u8() == (0xEE if shared else PAYLOAD[8])
    r.close()


@pytest.mark.parametrize(
    "make, change",
    [
        (lambda: bytearray(PAYLOAD), lambda d: d.extend(b"more")),
        (lambda: array.array("B", PAYLOAD), lambda d: d.append(1)),
        (anonymous_mmap, lambda d: d.close()),
        (lambda: memoryview(bytearray(PAYLOAD)), lambda d: d.release()),
    ],
    ids=["bytearray resize", "array append", "mmap close", "memoryview release"],
)
@pytest.mark.parametrize("end", ["close", "garbage collection"])
def test_the_data_cannot_move_while_a_reader_borrows_it(make, change, end):
    data = make()
    r = tavbin.Reader(data)
    with pytest.raises(BufferError):
        change(data)
    assert r.u8() == PAYLOAD[0]
    if end == "close":
        r.close()
    else:
        del r
        gc.collect()
    change(data)  # allowed once the reader is gone


def test_a_reader_outlives_del_data():
    data = bytearray(PAYLOAD)
    r = tavbin.Reader(data)
    del data
    gc.collect()
    assert r.bytes(len(PAYLOAD)) == PAYLOAD


def test_readers_and_writers_on_threads():
    shared = PAYLOAD * 64

    def work(seed):
        with tavbin.Writer(order=seed % 2) as w, tavbin.Reader(shared, seed % 2) as r:
            total = 0
            for _ in range(len(shared) // 4):
                value = r.u32()
                total += value
                w.u32(value ^ seed)
            return total, w.getvalue()

    with ThreadPoolExecutor(8) as pool:
        results = list(pool.map(work, range(64)))
    for seed, (total, written) in enumerate(results):
        assert (total, written) == work(seed)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="reads the resident size from /proc")
def test_a_hundred_thousand_handles_leave_memory_flat():
    page = os.sysconf("SC_PAGE_SIZE")

    def resident():
        gc.collect()
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * page

    def churn(n):
        for i in range(n):
            r = tavbin.Reader(bytearray(256))  # a leaked borrow would keep each alive
            r.u32()
            w = tavbin.Writer()
            w.u64(i)
            if i % 2:  # half closed explicitly, half left to garbage collection
                r.close()
                w.close()

    churn(10_000)
    before = resident()
    churn(100_000)
    # Each leaked reader, writer or borrowed buffer would cost hundreds of bytes.
    assert resident() - before < 1 << 20


def test_handles_alive_at_interpreter_exit():
    code = """
import tavbin
keep = [tavbin.Reader(bytearray(8)), tavbin.Writer()]
class Cycle:
    pass
c = Cycle(); c.self = c; c.r = tavbin.Reader(b"abc"); c.w = tavbin.Writer()
tavbin.keep = keep
"""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0 and result.stderr == ""


@pytest.mark.parametrize("kind, make, shared", BUFFERS, ids=[b[0] for b in BUFFERS])
def test_a_subclass_gets_sub_readers_of_its_own_class(tmp_path, kind, make, shared):
    class Tagged(tavbin.Reader):
        def __init__(self, data, order=tavbin.BIG):
            super().__init__(data, order)
            self.tag = "mine"

    r = Tagged(make(tmp_path))
    r.skip(2)
    part = r.sub(6)
    inner = part.sub(3)
    r.close()  # the sub-readers keep the bytes
    assert (type(inner), inner.tag, part.origin(), inner.origin()) == (Tagged, "mine", 2, 2)
    assert inner.bytes(3) == PAYLOAD[2:5] and part.u8() == PAYLOAD[5]
