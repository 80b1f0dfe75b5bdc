#!/usr/bin/env python3
"""Lists every uncovered line and every untaken branch of a gcovr JSON report, with
the source line, so the coverage log says what is missing and not only where."""
import json
import sys

report = json.load(open(sys.argv[1]))
for f in report["files"]:
    src = open(f["file"]).read().splitlines()
    for ln in f["lines"]:
        if ln.get("gcovr/noncode"):
            continue
        n = ln["line_number"]
        text = src[n - 1].strip() if n <= len(src) else ""
        if ln["count"] == 0:
            print(f"{f['file']}:{n}: line not run: {text}")
            continue
        missed = [i for i, b in enumerate(ln["branches"]) if b["count"] == 0]
        if missed:
            print(
                f"{f['file']}:{n}: branch {','.join(map(str, missed))} of {len(ln['branches'])} "
                f"never taken: {text}"
            )
