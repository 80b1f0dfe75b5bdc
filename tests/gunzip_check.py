"""The gunzip example against Python's zlib, byte for byte, on the .gz files of
this machine: gunzip_check.py GUNZIP [COUNT] [GLOB...]

Takes COUNT files (default 300) spread evenly over the sorted matches of the
globs (default: the packages' changelogs under /usr/share/doc), decompresses
each with the example and with zlib, every member of a multi-member file, and
fails on the first difference. Exits 77 (skipped) when too few files exist."""
import glob
import os
import subprocess
import sys
import tempfile
import zlib


def reference(data):
    out = b""
    while True:
        d = zlib.decompressobj(31)
        out += d.decompress(data) + d.flush()
        if not d.eof:
            raise ValueError("truncated")
        data = d.unused_data
        if not data.startswith(b"\x1f\x8b"):
            return out


def main():
    program = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    patterns = sys.argv[3:] or ["/usr/share/doc/*/changelog*.gz"]
    files = sorted({f for p in patterns for f in glob.glob(p) if os.path.isfile(f)})
    if len(files) < 20:
        print(f"skipped: only {len(files)} .gz files match {patterns}")
        return 77
    step = max(1, len(files) // count)
    chosen = files[::step][:count]
    total = 0
    with tempfile.TemporaryDirectory() as tmp:
        out_path = os.path.join(tmp, "out")
        for path in chosen:
            with open(path, "rb") as f:
                data = f.read()
            want = reference(data)
            run = subprocess.run([program, path, out_path], capture_output=True, text=True)
            if run.returncode != 0:
                print(f"FAIL {path}: exit {run.returncode}: {run.stderr.strip()}")
                return 1
            with open(out_path, "rb") as f:
                got = f.read()
            if got != want:
                at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
                print(f"FAIL {path}: {len(got)} bytes against zlib's {len(want)}, first difference at {at}")
                return 1
            total += len(data)
    print(f"{len(chosen)} files, {total} compressed bytes: every one matches zlib")
    return 0


if __name__ == "__main__":
    sys.exit(main())
