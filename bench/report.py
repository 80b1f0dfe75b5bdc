#!/usr/bin/env python3
"""Turns a benchmark run into ratios against the call floor and the peers.

    bench/report.py BENCH.json... [--callgrind CG.json] [--md docs/performance.md] [--png docs/performance.png]

BENCH.json is tavbin_bench's --benchmark_out (run with repetitions); several
files (runs of the same binary, one after the other) have their repetitions
pooled. Time per value is the median over the repetitions of cpu time / values
per pass. Every goal is a ratio of two operations timed side by side. Prints the table with
pass/fail per goal; with --md, rewrites the generated part of the note (between
its two markers); with --png, draws the chart. Exits 0 whatever the outcome:
nothing here asserts a time.
"""
import argparse
import json
import re
import statistics
import sys

GROUPS = [
    "read",
    "peek",
    "at",
    "load",
    "bits",
    "leb128",
    "string",
    "skip",
    "block",
    "write",
    "store",
    "wleb128",
    "wstring",
    "wblock",
    "grow",
    "floor",
]
WIDTH = {
    "u8": 8,
    "i8": 8,
    "u16": 16,
    "i16": 16,
    "u32": 32,
    "i32": 32,
    "f32": 32,
    "u64": 64,
    "i64": 64,
    "f64": 64,
}
ORDER = list(WIDTH)


def split(name):
    """group/case/implementation; the floor's own names are floor/shape."""
    parts = name.split("/")
    return (parts[0], parts[1], "floor") if len(parts) == 2 else tuple(parts)


def sort_key(name):
    group, case, impl = split(name)
    t = case.split("_")[0]
    k = (ORDER.index(t), case) if t in WIDTH else ((int(case), case) if case.isdigit() else (99, case))
    return (GROUPS.index(group) if group in GROUPS else 99, k, impl != "tavbin", impl)


def floor_of(name):
    """The floor operation of the same shape, or None where the peer is memcpy."""
    group, case, impl = split(name)
    t = case.split("_")[0]
    if group == "read":
        return f"floor/u{WIDTH[t]}"
    if group == "peek":
        return f"floor/{case}"
    if group == "at":
        return f"floor/{case}_at"
    if group == "write":
        return f"floor/w{WIDTH[t]}"
    if group == "grow":
        return "floor/w32"
    return {
        "load": "floor/load",
        "store": "floor/store",
        "bits": "floor/bits",
        "leb128": "floor/leb128",
        "string": "floor/string",
        "skip": "floor/skip",
        "wleb128": "floor/wleb128",
        "wstring": "floor/wstring",
    }.get(group)


CURSOR = "floor/cursor"
CURSOR_GROUPS = ("read", "peek", "at", "bits", "leb128", "string", "skip")


def cursor_floor_of(name):
    """The cursor floor for the reader's operations on a handle, else None."""
    return CURSOR if split(name)[0] in CURSOR_GROUPS and not name.startswith("floor/") else None


def baseline_of(name):
    """The same operation of the earlier build measured in the same run."""
    group, case, impl = split(name)
    return f"{group}/{case}/baseline" if impl == "tavbin" else None


def load_times(paths):
    """{operation: median ns per value} over the repetitions of every Google
    Benchmark JSON file given (the runs of one bench/run.sh, pooled)."""
    runs = {}
    for path in paths:
        for b in json.load(open(path))["benchmarks"]:
            if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
                continue
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            runs.setdefault(b["run_name"], []).append(b["cpu_time"] * scale / b["items_per_pass"])
    return {k: statistics.median(v) for k, v in runs.items()}, {k: len(v) for k, v in runs.items()}


def goals(t):
    """(goal, operation, reference, ratio, limit, kind) for every goal; kind 'max' means ratio <= limit."""
    out = []

    def add(goal, op, ref, limit, kind="max", invert=False):
        if op in t and ref in t:
            ratio = t[ref] / t[op] if invert else t[op] / t[ref]
            out.append((goal, op, ref, ratio, limit, kind))

    for name in sorted(t, key=sort_key):
        group, case, impl = split(name)
        if impl != "tavbin":
            continue
        if group in ("read", "peek", "at"):
            add("fixed read, peek, _at <= 1.25x cursor floor", name, CURSOR, 1.25)
        elif group == "bits":
            add("bits <= 1.3x cursor floor", name, CURSOR, 1.3)
        elif group == "leb128" and case == "1byte":
            add("LEB128 one-byte <= 1.25x cursor floor", name, CURSOR, 1.25)
        elif group == "leb128" and case == "mix":
            add("LEB128 mix <= 0.75x protobuf ReadVarint64", name, "leb128/mix/protobuf", 0.75)
        elif group == "leb128" and case == "longmix":
            add("LEB128 long mix <= 0.5x protobuf ReadVarint64", name, "leb128/longmix/protobuf", 0.5)
        elif group == "string":
            add("string read (8 to 31 bytes) <= 2.0x cursor floor", name, CURSOR, 2.0)
        elif group == "write":
            add("fixed append <= 1.3x floor", name, floor_of(name), 1.3)
        elif group == "wleb128" and case == "mix":
            add("LEB128 append mix <= 0.6x protobuf WriteVarint64", name, "wleb128/mix/protobuf", 0.6)
        elif group == "wleb128" and case == "longmix":
            add(
                "LEB128 append long mix <= 0.5x protobuf WriteVarint64", name, "wleb128/longmix/protobuf", 0.5
            )
        elif group == "wstring":
            add("string append (8 to 16 bytes) <= 2.5x floor", name, floor_of(name), 2.5)
        elif group == "block":
            add("4 KiB block read >= 80% of memcpy speed", name, "block/bytes/memcpy", 0.8, "min", True)
        elif group == "wblock":
            add("4 KiB block append >= 80% of memcpy speed", name, "wblock/bytes/memcpy", 0.8, "min", True)
    for name in sorted(t, key=sort_key):
        group, case, impl = split(name)
        if group == "read" and impl == "tavbin":
            t0, order = case.split("_")
            add(
                "fixed read >= 3x faster than istream",
                name,
                f"read/u{WIDTH[t0]}_{order}/istream",
                3.0,
                "min",
                True,
            )
    for name in sorted(t, key=sort_key):
        if baseline_of(name):
            add("no operation > 5% slower than the baseline", name, baseline_of(name), 1.05)
    return out


# Instructions per call, the caller's loop included (callgrind): operation, limit.
IR_GOALS = [
    ("string/u32/tavbin", 50),
    ("wstring/u32/tavbin", 45),
    ("leb128/mix/tavbin", 60),
    ("wleb128/mix/tavbin", 45),
    ("wleb128/longmix/tavbin", 45),
] + [(f"bits/{w}/tavbin", 36) for w in (1, 7, 13, 32, 57, 64)]


def ir_goal_table(ir):
    """The instruction-count goals, where a count was taken."""
    rows = [(op, limit) for op, limit in IR_GOALS if op in ir]
    if not rows:
        return []
    lines = ["| operation | Ir/call | baseline Ir | limit | |", "|---|---:|---:|---:|---|"]
    for op, limit in rows:
        b = ir.get(baseline_of(op))
        lines.append(
            f"| `{op}` | {ir[op]:.1f} | {'' if b is None else f'{b:.1f}'} | <= {limit} | "
            f"{'pass' if ir[op] <= limit else '**FAIL**'} |"
        )
    return lines


def passed(ratio, limit, kind):
    return ratio <= limit if kind == "max" else ratio >= limit


def goal_table(gs):
    lines = ["| goal | operation | against | ratio | limit | |", "|---|---|---|---:|---:|---|"]
    for goal, op, ref, ratio, limit, kind in gs:
        mark = "pass" if passed(ratio, limit, kind) else "**FAIL**"
        sign = "<=" if kind == "max" else ">="
        lines.append(f"| {goal} | `{op}` | `{ref}` | {ratio:.2f} | {sign} {limit:g} | {mark} |")
    return lines


def noise(t, ir):
    """A line on how far apart identical code measured: the operations whose
    instruction counts equal the baseline's ran the same instructions on both
    sides, so their ratios show this run's noise."""
    same = [
        t[n] / t[baseline_of(n)]
        for n in t
        if baseline_of(n) in t and n in ir and baseline_of(n) in ir and abs(ir[n] - ir[baseline_of(n)]) < 0.05
    ]
    if not same:
        return []
    return [
        f"Noise: the {len(same)} operations whose instruction counts equal the baseline's (the same code on "
        f"both sides) measured {min(same):.2f} to {max(same):.2f} × the baseline, median "
        f"{statistics.median(same):.2f}.",
        "",
    ]


def summary(gs):
    by = {}
    for goal, op, ref, ratio, limit, kind in gs:
        ok, worst = by.get(goal, (True, None))
        ok = ok and passed(ratio, limit, kind)
        worst = ratio if worst is None else (max(worst, ratio) if kind == "max" else min(worst, ratio))
        by[goal] = (ok, worst)
    lines = ["| goal | worst ratio | met |", "|---|---:|---|"]
    for goal, (ok, worst) in by.items():
        lines.append(f"| {goal} | {worst:.2f} | {'yes' if ok else '**no**'} |")
    return lines


def time_table(t, ir):
    base = any(split(n)[2] == "baseline" for n in t)
    head = "| operation | ns/value | × cursor floor | × shape floor |"
    rule = "|---|---:|---:|---:|"
    if base:
        head += " baseline ns | × baseline |"
        rule += "---:|---:|"
    head += " Ir/call |" + (" baseline Ir |" if base else "") + " floor Ir | Ir above floor |"
    rule += "---:|" + ("---:|" if base else "") + "---:|---:|"
    lines = [head, rule]

    def ratio(a, b):
        return f"{t[a] / t[b]:.2f}" if a in t and b in t else ""

    def irs(n):
        return f"{ir[n]:.1f}" if n in ir else ""

    for name in sorted(t, key=sort_key):
        group, case, impl = split(name)
        if group == "floor" or impl == "baseline":
            continue
        fl, bl = floor_of(name), baseline_of(name)
        per_kib = group in ("block", "wblock")

        def ns(n):
            return "" if n not in t else (f"{t[n] * 1024:.2f} per KiB" if per_kib else f"{t[n]:.2f}")

        row = f"| `{name}` | {ns(name)} | {ratio(name, cursor_floor_of(name))} | {ratio(name, fl)} |"
        if base:
            row += f" {ns(bl)} | {ratio(name, bl)} |"
        row += f" {irs(name)} |" + (f" {irs(bl)} |" if base else "")
        above = f"{ir[name] - ir[fl]:+.1f}" if name in ir and fl in ir else ""
        row += f" {irs(fl)} | {above} |"
        lines.append(row)
    lines.append("")
    lines.append("| floor shape | ns/call | × cursor floor | Ir/call |")
    lines.append("|---|---:|---:|---:|")
    for name in sorted((n for n in t if n.startswith("floor/")), key=sort_key):
        lines.append(f"| `{name}` | {t[name]:.2f} | {ratio(name, CURSOR)} | {irs(name)} |")
    return lines


def chart(t, gs, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    fig, (a, b) = plt.subplots(1, 2, figsize=(15, 11), gridspec_kw={"width_ratios": [3, 2]})
    rows = [(op, ratio, limit, kind) for goal, op, ref, ratio, limit, kind in gs if ref.startswith("floor/")]
    names = [r[0].replace("/tavbin", "") for r in rows]
    colors = ["tab:green" if passed(r[1], r[2], r[3]) else "tab:red" for r in rows]
    y = range(len(rows))
    a.barh(y, [r[1] for r in rows], color=colors)
    refs = {op: ref for goal, op, ref, ratio, limit, kind in gs if ref.startswith("floor/")}
    labelled = False
    for i, r in enumerate(rows):
        a.plot([r[2], r[2]], [i - 0.45, i + 0.45], color="black", lw=1)
        bl = baseline_of(r[0])
        if bl in t:
            a.plot(
                [t[bl] / t[refs[r[0]]]],
                [i],
                marker="D",
                ms=3,
                color="black",
                ls="none",
                label=None if labelled else "baseline build",
            )
            labelled = True
    a.axvline(1.0, color="grey", ls="--", lw=1)
    a.set_yticks(list(y), names, fontsize=7)
    a.invert_yaxis()
    a.set_xlabel("time per value / floor (reads: cursor floor; appends: write floor) — black tick: goal")
    a.set_title("binary-read-util against the call floor")
    if labelled:
        a.legend(fontsize=7, loc="lower right")

    cases = [
        ("read u32 BE", "read/u32_be"),
        ("read u64 LE", "read/u64_le"),
        ("bits 13", "bits/13"),
        ("LEB128 1-byte", "leb128/1byte"),
        ("LEB128 mix", "leb128/mix"),
        ("LEB128 long mix", "leb128/longmix"),
        ("string", "string/u32"),
        ("append u32 BE", "write/u32_be"),
        ("append u64 LE", "write/u64_le"),
        ("LEB128 append mix", "wleb128/mix"),
        ("LEB128 append long mix", "wleb128/longmix"),
        ("grow u32", "grow/u32"),
    ]
    impls = [
        "tavbin",
        "baseline",
        "cursor floor",
        "floor",
        "inline",
        "boost",
        "protobuf",
        "vector",
        "istream",
    ]
    palette = dict(
        zip(
            impls,
            [
                "tab:blue",
                "lightsteelblue",
                "dimgrey",
                "tab:grey",
                "tab:olive",
                "tab:purple",
                "tab:orange",
                "tab:cyan",
                "tab:brown",
            ],
        )
    )
    ylabels, pos, seen = [], 0, set()
    for label, prefix in cases:
        for impl in impls:
            if impl == "floor":
                v = t.get(floor_of(f"{prefix}/tavbin"))
            elif impl == "cursor floor":
                v = t.get(cursor_floor_of(f"{prefix}/tavbin"))
            else:
                v = t.get(f"{prefix}/{impl}")
            if v is None:
                continue
            b.barh(pos, v, color=palette[impl], label=impl if impl not in seen else None)
            seen.add(impl)
            ylabels.append((pos, f"{label} · {impl}"))
            pos += 1
        pos += 0.6
    b.set_yticks([p for p, _ in ylabels], [l for _, l in ylabels], fontsize=7)
    b.invert_yaxis()
    b.set_xscale("log")
    b.xaxis.set_major_formatter(matplotlib.ticker.FormatStrFormatter("%g"))
    b.xaxis.set_minor_formatter(matplotlib.ticker.FormatStrFormatter("%g"))
    b.tick_params(axis="x", which="minor", labelsize=6)
    b.set_xlabel("ns per value (median, log scale)")
    b.set_title("side by side with inline code and peers")
    b.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.06), ncol=5)
    fig.tight_layout()
    fig.savefig(path, dpi=110, bbox_inches="tight")


BEGIN, END = "<!-- results: generated by bench/report.py -->", "<!-- end of results -->"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("bench_json", nargs="+", help="one or more runs, their repetitions pooled")
    ap.add_argument("--callgrind", help="instructions per call from bench/callgrind.py --json")
    ap.add_argument("--md", help="note whose generated part is rewritten")
    ap.add_argument("--png", help="chart to draw")
    ap.add_argument("--context", default="", help="a line on the machine and run, put above the tables")
    a = ap.parse_args()
    t, reps = load_times(a.bench_json)
    ir = json.load(open(a.callgrind)) if a.callgrind else {}
    gs = goals(t)
    print("\n".join(summary(gs)))
    print()
    print("\n".join(goal_table(gs)))
    print("\n".join(noise(t, ir)))
    print("\n".join(ir_goal_table(ir)))
    if a.md:
        body = [BEGIN, ""]
        if a.context:
            body += [a.context, ""]
        runs = f" in {len(a.bench_json)} runs" if len(a.bench_json) > 1 else ""
        body += (
            [
                f"Medians of {min(reps.values())} interleaved repetitions{runs}; instruction counts from callgrind.",
                "",
                "### Goals",
                "",
            ]
            + summary(gs)
            + [""]
            + ir_goal_table(ir)
            + [""]
            + noise(t, ir)
            + ["### Every operation", ""]
            + time_table(t, ir)
            + ["", "### Every goal, row by row", ""]
            + goal_table(gs)
            + ["", END]
        )
        text = open(a.md).read()
        if BEGIN in text and END in text:
            text = text[: text.index(BEGIN)] + "\n".join(body) + text[text.index(END) + len(END) :]
        else:
            text = text.rstrip("\n") + "\n\n" + "\n".join(body) + "\n"
        open(a.md, "w").write(text)
    if a.png:
        chart(t, gs, a.png)
    fails = [g for g in gs if not passed(g[3], g[4], g[5])]
    print(f"\n{len(gs) - len(fails)} of {len(gs)} goal rows met", file=sys.stderr)


if __name__ == "__main__":
    main()
