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
