"""Readers and writers closed on one thread while others use them: every call
completes or raises ValueError, and the interpreter never crashes."""

import random
import sys
import threading
import time

import tavbin

SECONDS = 2.0
DATA = bytes(range(256)) * 4096  # 1 MiB: block reads take a while


def test_close_while_other_threads_read_write_and_close():
    rng = random.Random(22)
    readers = [tavbin.Reader(bytearray(DATA)) for _ in range(2)]
    writers = [tavbin.Writer() for _ in range(2)]
    stop = time.monotonic() + SECONDS
    failures = []
    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter can

    def read(slot):
        while time.monotonic() < stop:
            r = readers[slot]
            try:
                r.seek(rng.randrange(len(DATA) - 8))
                r.u32()
                r.bytes(rng.choice((1, 1 << 19)))
                r.array("u64", 1000)
                r.sub(16).cstring(16)
                r.leb128()
            except (ValueError, tavbin.Error):
                pass

    def write(slot):
        big = DATA[: 1 << 19]
        while time.monotonic() < stop:
            w = writers[slot]
            try:
                w.u32(7)
                w.bytes(big)
                w.array("u16", range(100))
                len(w)
                if len(w) > 1 << 24:
                    w.close()
                w.getvalue()
            except (ValueError, tavbin.Error):
                pass

    def close():
        while time.monotonic() < stop:
            time.sleep(rng.random() / 1000)
            slot = rng.randrange(2)
            readers[slot].close()
            readers[slot] = tavbin.Reader(bytearray(DATA))
            writers[slot].close()
            writers[slot] = tavbin.Writer()

    def guard(fn, *args):
        try:
            fn(*args)
        except BaseException as e:  # anything but ValueError/Error is a fault
            failures.append(e)

    threads = [threading.Thread(target=guard, args=(fn, i)) for fn in (read, write) for i in (0, 1)]
    threads.append(threading.Thread(target=guard, args=(close,)))
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old_interval)
    assert not failures, failures


def test_one_reader_and_one_writer_shared_by_every_kind_of_call():
    rng = random.Random(27)
    data = bytes(rng.getrandbits(8) for _ in range(1 << 16))
    shared = {"r": tavbin.Reader(data), "w": tavbin.Writer()}
    appended = {}  # thread -> {writer: bytes its appends that returned added}
    stop = time.monotonic() + SECONDS
    failures = []

    def reads(r):
        r.seek(rng.randrange(len(data) - 64))
        r.u32(), r.i16(), r.f64(), r.peek_u64(), r.u32_at(rng.randrange(len(data)))
        r.bits(rng.randrange(1, 65)), r.u24(), r.leb128(), r.sleb128()
        r.unpack("<IBBHQQ"), r.unpack_many(">HH", 3), r.array("u16", 5), r.bytes(7), r.ascii(3)
        r.string_u32(8), r.string_u8(), r.string_u16(), r.string_leb128(16)
        r.leb128_u32(), r.sleb128_i32(), r.cstring(64), r.cstring_at(rng.randrange(len(data)), 64)
        with r.sub(rng.randrange(64)) as s:
            s.unpack_many("B", s.remaining())
        with r.lsb_bits() as b:
            b.read(13)
        r.skip(3), r.tell(), r.remaining(), r.size, r.last_error, r.set_endian(rng.randrange(2))

    def appends(w, mine):
        for size, append in (
            (4, lambda: w.u32(7)),
            (8, lambda: w.f64(1.5)),
            (3, lambda: w.i24(-5)),
            (2, lambda: w.leb128(300)),
            (24, lambda: w.pack("<IBBHQQ", 1, 2, 3, 4, 5, 6)),
            (10, lambda: w.array("u16", range(5))),
            (len(data), lambda: w.bytes(data)),  # long enough for C calls to overlap
            (7, lambda: w.string_u32(b"abc")),
            (4, lambda: w.string_u8(b"abc")),
            (5, lambda: w.string_u16(b"abc")),
            (4, lambda: w.string_leb128(b"abc")),
        ):
            append()
            mine[w] = mine.get(w, 0) + size
        w.patch_u32(rng.randrange(len(w) - 3), 9)
        len(w), w.getvalue()[-4:]

    def work(fn):
        mine = {}
        while time.monotonic() < stop:
            try:
                if fn is reads:
                    reads(shared["r"])
                else:
                    appends(shared["w"], mine)
            except (ValueError, tavbin.Error):
                pass
        appended[threading.get_ident()] = mine

    def replace():
        # The last second for the last pair, so that the sum below counts many appends.
        while time.monotonic() < stop - SECONDS / 2:
            time.sleep(0.05)
            for key, make in (("r", lambda: tavbin.Reader(data)), ("w", tavbin.Writer)):
                old, shared[key] = shared[key], make()
                old.close()

    def guard(fn, *args):
        try:
            fn(*args)
        except BaseException as e:  # anything but ValueError/Error is a fault
            failures.append(e)

    threads = [
        threading.Thread(target=guard, args=(work, fn)) for fn in (reads, reads, appends, appends, appends)
    ]
    threads.append(threading.Thread(target=guard, args=(replace,)))
    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old_interval)
    assert not failures, failures
    # The last writer was never closed: every append that returned landed whole.
    w = shared["w"]
    assert len(w) == sum(mine.get(w, 0) for mine in appended.values())
