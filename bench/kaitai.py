#!/usr/bin/env python3
"""tavbin.kaitai beside Kaitai Struct's own Python runtime (Debian's kaitaistruct),
side by side in one run: the cost of each stream call, of a new stream over
BytesIO(raw), and of whole parses of real files on this machine (the parse plus
every instance).

Usage (from the repository root, after a build):
  TAVBIN_LIBRARY=build/default/libbinary-read-util.so.1 \\
  PYTHONPATH=build/default/tests/python/lib /usr/bin/python3 bench/kaitai.py [--repeat R]

The descriptions in bench/kaitai/ are compiled first (tests/python/kaitai/
compile.py, which installs the npm registry's compilers 0.10.0 and 0.11.0 into
build/kaitai-bench): the reference runs the 0.10 output, the API it implements;
tavbin.kaitai runs the 0.11 output (and, in the last column, the same 0.10 output).
Every parsed tree is checked to be the reference's before anything is timed.

Each figure is the best of R rounds, the cases taking turns within a round, so
load that comes and goes shifts them alike. No time is asserted. With
--instructions N, the calls are counted under callgrind instead (N calls of each,
the bare loop's count taken off): counts do not move with the machine's load.
"""

from __future__ import annotations

import argparse
import enum
import glob
import importlib.util
import io
import math
import os
import platform
import subprocess
import sys
import tempfile
import time
from typing import Any, Callable, Dict, List, Tuple

import kaitaistruct as reference  # before tavbin.kaitai can stand in for it

import tavbin.kaitai as ours

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "build", "kaitai-bench")


# -- the calls ----------------------------------------------------------------------


def call_cases() -> List[Tuple[str, str, tuple, bytes]]:
    """(label, method, arguments, the bytes the stream reads)."""
    plain = bytes(range(256)) * 8192  # 2 MiB
    terms = (b"abcdefg\0") * 262144
    cases = []
    for m in (
        ["read_u1", "read_s1"]
        + [f"read_{k}{w}{o}" for k in "us" for w in "248" for o in ("be", "le")]
        + [f"read_f{w}{o}" for w in "48" for o in ("be", "le")]
    ):
        cases.append((m, m, (), plain))
    cases += [
        ("read_bits_int_be(3)", "read_bits_int_be", (3,), plain),
        ("read_bits_int_le(3)", "read_bits_int_le", (3,), plain),
        ("read_bits_int_be(20)", "read_bits_int_be", (20,), plain),
        ("read_bytes(10)", "read_bytes", (10,), plain),
        ("read_bytes_term(0, F, T, T)", "read_bytes_term", (0, False, True, True), terms),
        ("align_to_byte", "align_to_byte", (), plain),
        ("pos", "pos", (), plain),
        ("size", "size", (), plain),
        ("is_eof", "is_eof", (), plain),
        ("seek(100)", "seek", (100,), plain),
    ]
    return cases


def time_loop(n: int) -> float:
    """The loop's own cost per turn, taken off every call's figure."""
    loop = range(n)
    t = time.perf_counter()
    for _ in loop:
        pass
    return (time.perf_counter() - t) / n


def time_calls(stream: Any, method: str, args: tuple, n: int) -> float:
    stream.seek(0)
    f = getattr(stream, method)
    loop = range(n)
    t = time.perf_counter()
    if args:
        for _ in loop:
            f(*args)
    else:
        for _ in loop:
            f()
    return (time.perf_counter() - t) / n


def time_new_streams(module: Any, raw: bytes, n: int) -> float:
    cls, bio = module.KaitaiStream, module.BytesIO
    loop = range(n)
    t = time.perf_counter()
    for _ in loop:
        cls(bio(raw))
    return (time.perf_counter() - t) / n


# -- instruction counts ------------------------------------------------------------


LABELS = [c[0] for c in call_cases()] + ["KaitaiStream(BytesIO(raw))"]


def count_cases(runtime: str, n: int) -> None:
    """What --instructions runs under callgrind: the bare loop, then each case, n
    calls each, with a call of getppid() (where callgrind dumps its counts) before
    each and at the end."""
    module = reference if runtime == "reference" else ours
    cases = {c[0]: c for c in call_cases()}
    streams = {d: module.KaitaiStream(module.BytesIO(d)) for d in {c[3] for c in cases.values()}}
    os.getppid()
    time_loop(n)
    for label in LABELS:
        os.getppid()
        if label in cases:
            _, method, args, data = cases[label]
            time_calls(streams[data], method, args, n)
        else:
            time_new_streams(module, bytes(64), n)
    os.getppid()


def instructions(runtime: str, n: int) -> List[int]:
    """Instructions of the bare loop and of each case, from one run under callgrind."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        subprocess.run(
            ["valgrind", "--tool=callgrind", "--dump-before=getppid", "--callgrind-out-file=" + out]
            + [sys.executable, os.path.abspath(__file__), "--one", runtime, str(n)],
            check=True,
            capture_output=True,
        )
        totals = {}
        for name in os.listdir(tmp):
            part = name.rsplit(".", 1)[-1]
            if not part.isdigit():
                continue
            with open(os.path.join(tmp, name)) as f:
                for line in f:
                    if line.startswith(("totals:", "summary:")):
                        totals[int(part)] = int(line.split()[1])
                        break
    # Dump k ends at the k-th getppid(): the first ends the setup, the last the last case.
    parts = [totals[k] for k in sorted(totals)]
    return parts[1 : 2 + len(LABELS)]


def report_instructions(n: int) -> None:
    ref, mine = instructions("reference", n), instructions("ours", n)
    print(f"{'call (instructions; loop taken off)':36} {'kaitaistruct':>12} {'tavbin':>8} {'ratio':>7}")
    for i, label in enumerate(LABELS, 1):
        r, o = (ref[i] - ref[0]) / n, (mine[i] - mine[0]) / n
        print(f"{label:36} {r:12.0f} {o:8.0f} {o / r:7.3f}")


# -- whole parses -------------------------------------------------------------------


def compile_descriptions() -> None:
    subprocess.run(
        [sys.executable, os.path.join(ROOT, "tests", "python", "kaitai", "compile.py"), OUT]
        + sorted(glob.glob(os.path.join(ROOT, "bench", "kaitai", "*.ksy"))),
        check=True,
        stdout=subprocess.DEVNULL,
    )


def load(version: str, name: str, runtime: Any) -> Any:
    saved = sys.modules.get("kaitaistruct")
    sys.modules["kaitaistruct"] = runtime
    try:
        path = os.path.join(OUT, version, name + ".py")
        location = importlib.util.spec_from_file_location(f"{name}_{runtime.__name__}_{version}", path)
        module = importlib.util.module_from_spec(location)
        location.loader.exec_module(module)
    finally:
        sys.modules["kaitaistruct"] = saved
    return getattr(module, "".join(p.capitalize() for p in name.split("_")))


def walk(value: Any) -> Any:
    """Every field and every instance: what a parse that uses all of a file reads."""
    if hasattr(value, "_read") and hasattr(value, "_io"):
        out = {}
        for k, v in vars(value).items():
            if not k.startswith("_"):
                out[k] = walk(v)
        for k in dir(type(value)):
            if not k.startswith("_") and isinstance(getattr(type(value), k, None), property):
                out[k] = walk(getattr(value, k))
        return (type(value).__name__, out)
    if isinstance(value, list):
        return [walk(v) for v in value]
    if isinstance(value, enum.Enum):
        return (value.name, value.value)
    return value


def existing(patterns: List[str], limit: int, magic: bytes, at: int = 0) -> List[str]:
    found = []
    for pattern in patterns:
        for path in sorted(glob.glob(pattern, recursive=True)):
            try:
                with open(path, "rb") as f:
                    head = f.read(at + len(magic))
            except OSError:
                continue
            if os.path.isfile(path) and head[at:] == magic and path not in found:
                found.append(path)
                if len(found) == limit:
                    return found
    return found


def zip_files(limit: int) -> List[str]:
    # Archives without a comment, whose end record is the file's last 22 bytes.
    out = []
    for path in existing(["/usr/share/java/*.jar", "/usr/share/maven-repo/**/*.jar"], 200, b"PK\3\4"):
        with open(path, "rb") as f:
            f.seek(-22, 2)
            if f.read(4) == b"PK\5\6" and os.path.getsize(path) < 4 << 20:
                out.append(path)
        if len(out) == limit:
            break
    return out


def elf_instances(elf: Any) -> None:
    for h in elf.program_headers:
        pass
    for section in elf.sections:
        section.name
        section.body


def zip_instances(z: Any) -> None:
    for entry in z.directory.entries:
        entry.local
    z.end


def no_instances(value: Any) -> None:
    pass


# Each format: where its files are, and what fetches every instance of a parsed
# file (the descriptions' instances, all of them; those of PNG, GIF and gzip have none).
FORMATS = {
    "bk_elf": (
        elf_instances,
        lambda: existing(
            ["/usr/bin/cmake", "/usr/bin/ls", "/usr/bin/bash", "/usr/lib/x86_64-linux-gnu/libstdc++.so.6"],
            4,
            b"\x7fELF\2\1",
        ),
    ),
    "bk_png": (
        no_instances,
        lambda: existing(["/usr/share/doc/*/*.png", "/usr/share/**/*.png"], 40, b"\x89PNG"),
    ),
    "bk_gif": (no_instances, lambda: existing(["/usr/share/doc/**/*.gif"], 20, b"GIF8")),
    "bk_zip": (zip_instances, lambda: zip_files(6)),
    "bk_gzip": (no_instances, lambda: existing(["/usr/share/doc/*/changelog.Debian.gz"], 150, b"\x1f\x8b")),
}


def time_parses(cls: Any, use: Callable[[Any], None], blobs: List[bytes]) -> float:
    t = time.perf_counter()
    for b in blobs:
        use(cls.from_bytes(b))
    return time.perf_counter() - t


# -- report ------------------------------------------------------------------------------


def cpu() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--count", type=int, default=50000, help="calls per case and round")
    ap.add_argument(
        "--instructions",
        type=int,
        metavar="N",
        help="instead: instructions per call under callgrind (N calls; repeatable where times are not)",
    )
    ap.add_argument("--one", nargs=2, help=argparse.SUPPRESS)
    a = ap.parse_args()
    if a.one:
        count_cases(a.one[0], int(a.one[1]))
        return
    if a.instructions:
        print(f"CPU: {cpu()}; Python {platform.python_version()}; tavbin.kaitai compiled: {ours.ACCELERATED}")
        report_instructions(a.instructions)
        return

    print(f"CPU: {cpu()}; Python {platform.python_version()}; tavbin.kaitai compiled: {ours.ACCELERATED}")
    print(f"reference: kaitaistruct {reference.__version__} ({reference.__file__})\n")

    # Calls
    best: Dict[str, List[float]] = {}
    cases = call_cases()
    streams = {}
    for label, method, args, data in cases:
        streams[label] = (
            reference.KaitaiStream(io.BytesIO(data)),
            ours.KaitaiStream(ours.BytesIO(data)),
        )
    raw = bytes(64)
    empty = math.inf
    for _ in range(a.repeat):
        empty = min(empty, time_loop(a.count))
        for label, method, args, data in cases:
            r, o = streams[label]
            times = [time_calls(r, method, args, a.count), time_calls(o, method, args, a.count)]
            best[label] = [min(x) for x in zip(best.get(label, times), times)]
        times = [time_new_streams(reference, raw, a.count // 5), time_new_streams(ours, raw, a.count // 5)]
        best["KaitaiStream(BytesIO(raw))"] = [
            min(x) for x in zip(best.get("KaitaiStream(BytesIO(raw))", times), times)
        ]
    print(
        f"{'call (ns; the loop, ' + format(empty * 1e9, '.0f') + ' ns, taken off)':36} {'kaitaistruct':>12} {'tavbin':>8} {'ratio':>7}"
    )
    for label, (r, o) in best.items():
        r, o = r - empty, o - empty
        print(f"{label:36} {r * 1e9:12.0f} {o * 1e9:8.0f} {o / r:7.3f}")
    sub = ours.KaitaiStream(ours.BytesIO(bytes(1 << 20)))
    t = time.perf_counter()
    for _ in range(a.count):
        sub.substream(8)
    print(
        f"{'substream(8) (tavbin only)':36} {'-':>12} {((time.perf_counter() - t) / a.count - empty) * 1e9:8.0f}"
    )

    # Whole parses
    compile_descriptions()
    print(
        f"\n{'whole parses (ms)':32} {'files':>5} {'kaitaistruct':>12} {'tavbin':>8} {'ratio':>7} {'same code':>9}"
    )
    ratios, same_ratios = [], []
    for name, (use, find) in FORMATS.items():
        paths = find()
        if not paths:
            print(f"{name:32} no files on this machine")
            continue
        blobs = []
        for p in paths:
            with open(p, "rb") as f:
                blobs.append(f.read())
        ref_cls = load("0.10", name, reference)
        new_cls = load("0.11", name, ours)
        old_cls = load("0.10", name, ours)
        for b, p in zip(blobs, paths):
            want = walk(ref_cls.from_bytes(b))
            if walk(new_cls.from_bytes(b)) != want or walk(old_cls.from_bytes(b)) != want:
                raise SystemExit(f"{name}: {p} parses differently on tavbin.kaitai")
        tr = tn = to = math.inf
        for _ in range(a.repeat):
            tr = min(tr, time_parses(ref_cls, use, blobs))
            tn = min(tn, time_parses(new_cls, use, blobs))
            to = min(to, time_parses(old_cls, use, blobs))
        ratios.append(tn / tr)
        same_ratios.append(to / tr)
        size = sum(map(len, blobs)) / 1e6
        label = f"{name[3:]} ({size:.1f} MB)"
        print(f"{label:32} {len(blobs):5} {tr * 1e3:12.1f} {tn * 1e3:8.1f} {tn / tr:7.3f} {to / tr:9.3f}")
    if ratios:
        geo = math.exp(sum(map(math.log, ratios)) / len(ratios))
        same = math.exp(sum(map(math.log, same_ratios)) / len(same_ratios))
        print(f"{'geometric mean':32} {'':5} {'':12} {'':8} {geo:7.3f} {same:9.3f}")


if __name__ == "__main__":
    main()
