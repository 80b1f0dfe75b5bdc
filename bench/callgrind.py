#!/usr/bin/env python3
"""Instructions per call of every benchmarked operation, counted under callgrind.

Runs the tavbin_count driver once under valgrind: it executes each operation's
pass (4096 values, or 16 blocks of 4 KiB) and dumps the instructions of that pass
alone. Instruction counts do not depend on what else the machine is doing, so
they are the stable half of the measurements; the timings are the other. With a
baseline built in (bench/run.sh with BASELINE), its count is shown beside each.

    bench/callgrind.py [--driver build/bench/bench/tavbin_count] [--json out.json] [FILTER]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402  (shares the floor of each operation)


def count(driver, filt=""):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        listing = subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, driver]
            + ([filt] if filt else []),
            check=True,
            capture_output=True,
            text=True,
        ).stdout
        items = {}
        for line in listing.splitlines():
            name, n = line.rsplit(" ", 1)
            items[name] = int(n)
        result = {}
        for f in os.listdir(tmp):
            text = open(os.path.join(tmp, f)).read()
            m = re.search(r"^desc: Trigger: Client Request: (.+)$", text, re.M)
            s = re.search(r"^summary: (\d+)", text, re.M)
            if m and s and m.group(1) in items:
                result[m.group(1)] = int(s.group(1)) / items[m.group(1)]
        return result


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--driver", default="build/bench/bench/tavbin_count")
    ap.add_argument("--json", help="write {operation: instructions per call} here")
    ap.add_argument("filter", nargs="?", default="")
    a = ap.parse_args()
    ir = count(a.driver, a.filter)
    if a.json:
        with open(a.json, "w") as f:
            json.dump(ir, f, indent=1, sort_keys=True)
    print(f"{'operation':34} {'Ir/call':>8} {'floor':>8} {'above':>8} {'baseline':>9}")
    for name in sorted(ir, key=report.sort_key):
        if name.startswith("floor/") or name.endswith("/baseline"):
            continue
        cells = [f"{ir[name]:8.1f}"]
        f = ir.get(report.floor_of(name))
        cells += [f"{f:8.1f}", f"{ir[name] - f:+8.1f}"] if f is not None else [f"{'':8}"] * 2
        b = ir.get(report.baseline_of(name))
        cells.append(f"{b:9.1f}" if b is not None else "")
        print(f"{name:34} " + " ".join(cells).rstrip())


if __name__ == "__main__":
    main()
