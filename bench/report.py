#!/usr/bin/env python3
"""Turns a benchmark run into ratios against the call floor and the peers.

    bench/report.py BENCH.json [--callgrind CG.json] [--md docs/performance.md] [--png docs/performance.png]

BENCH.json is tavbin_bench's --benchmark_out (run with repetitions). Time per
value is the median over the repetitions of cpu time / values per pass. Every
goal is a ratio of two operations of the same run. Prints the table with
pass/fail per goal; with --md, rewrites the generated part of the note (between
its two markers); with --png, draws the chart. Exits 0 whatever the outcome:
nothing here asserts a time.
"""
import argparse
import json
import re
import statistics
import sys

GROUPS = ["read", "peek", "at", "load", "bits", "leb128", "string", "skip", "block",
          "write", "store", "wleb128", "wstring", "wblock", "grow", "floor"]
WIDTH = {"u8": 8, "i8": 8, "u16": 16, "i16": 16, "u32": 32, "i32": 32, "f32": 32,
         "u64": 64, "i64": 64, "f64": 64}
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
    return {"load": "floor/load", "store": "floor/store", "bits": "floor/bits", "leb128": "floor/leb128",
            "string": "floor/string", "skip": "floor/skip", "wleb128": "floor/wleb128",
            "wstring": "floor/wstring"}.get(group)


def load_times(path):
    """{operation: median ns per value} from a Google Benchmark JSON file."""
    runs = {}
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
        fl = floor_of(name)
        if group in ("read", "peek", "at"):
            add("fixed read, peek, _at <= 1.3x floor", name, fl, 1.3)
        elif group == "bits":
            add("bits <= 1.5x floor", name, fl, 1.5)
        elif group == "leb128" and case == "1byte":
            add("LEB128 one-byte <= 1.3x floor", name, fl, 1.3)
        elif group == "leb128" and case == "mix":
            add("LEB128 mix <= 0.8x protobuf ReadVarint64", name, "leb128/mix/protobuf", 0.8)
        elif group == "write":
            add("fixed append <= 1.5x floor", name, fl, 1.5)
        elif group == "wleb128" and case == "mix":
            add("LEB128 append mix <= 1.2x protobuf WriteVarint64", name, "wleb128/mix/protobuf", 1.2)
        elif group == "block":
            add("4 KiB block read >= 80% of memcpy speed", name, "block/bytes/memcpy", 0.8, "min", True)
        elif group == "wblock":
            add("4 KiB block append >= 80% of memcpy speed", name, "wblock/bytes/memcpy", 0.8, "min", True)
    for name in sorted(t, key=sort_key):
        group, case, impl = split(name)
        if group == "read" and impl == "tavbin":
            t0, order = case.split("_")
            add("fixed read >= 3x faster than istream", name, f"read/u{WIDTH[t0]}_{order}/istream", 3.0,
                "min", True)
    return out


def passed(ratio, limit, kind):
    return ratio <= limit if kind == "max" else ratio >= limit


def goal_table(gs):
    lines = ["| goal | operation | against | ratio | limit | |", "|---|---|---|---:|---:|---|"]
    for goal, op, ref, ratio, limit, kind in gs:
        mark = "pass" if passed(ratio, limit, kind) else "**FAIL**"
        sign = "<=" if kind == "max" else ">="
        lines.append(f"| {goal} | `{op}` | `{ref}` | {ratio:.2f} | {sign} {limit:g} | {mark} |")
    return lines


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
    head = "| operation | ns/value | × floor | Ir/call | floor Ir | Ir above floor |"
    lines = [head, "|---|---:|---:|---:|---:|---:|"]
    for name in sorted(t, key=sort_key):
        if name.startswith("floor/"):
            continue
        fl = floor_of(name)
        ratio = f"{t[name] / t[fl]:.2f}" if fl in t else ""
        i = f"{ir[name]:.1f}" if name in ir else ""
        fi = f"{ir[fl]:.1f}" if fl in ir else ""
        above = f"{ir[name] - ir[fl]:+.1f}" if name in ir and fl in ir else ""
        unit = t[name] * 1024 if split(name)[0] in ("block", "wblock") else t[name]
        ns = f"{unit:.2f}" + (" per KiB" if split(name)[0] in ("block", "wblock") else "")
        lines.append(f"| `{name}` | {ns} | {ratio} | {i} | {fi} | {above} |")
    lines.append("")
    lines.append("| floor shape | ns/call | Ir/call |")
    lines.append("|---|---:|---:|")
    for name in sorted((n for n in t if n.startswith("floor/")), key=sort_key):
        i = f"{ir[name]:.1f}" if name in ir else ""
        lines.append(f"| `{name}` | {t[name]:.2f} | {i} |")
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
    for i, r in enumerate(rows):
        a.plot([r[2], r[2]], [i - 0.45, i + 0.45], color="black", lw=1)
    a.axvline(1.0, color="grey", ls="--", lw=1)
    a.set_yticks(list(y), names, fontsize=7)
    a.invert_yaxis()
    a.set_xlabel("time per value / call floor of the same shape (black tick: goal)")
    a.set_title("binary-read-util against the call floor")

    cases = [("read u32 BE", "read/u32_be"), ("read u64 LE", "read/u64_le"), ("LEB128 1-byte", "leb128/1byte"),
             ("LEB128 mix", "leb128/mix"), ("string", "string/u32"), ("append u32 BE", "write/u32_be"),
             ("append u64 LE", "write/u64_le"), ("LEB128 append mix", "wleb128/mix"),
             ("grow u32", "grow/u32")]
    impls = ["tavbin", "floor", "inline", "boost", "protobuf", "vector", "istream"]
    palette = dict(zip(impls, ["tab:blue", "tab:grey", "tab:olive", "tab:purple", "tab:orange", "tab:cyan",
                               "tab:brown"]))
    ylabels, pos, seen = [], 0, set()
    for label, prefix in cases:
        for impl in impls:
            op = f"{prefix}/{impl}" if impl != "floor" else None
            if impl == "floor":
                fl = floor_of(f"{prefix}/tavbin")
                v = t.get(fl)
            else:
                v = t.get(op)
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
    b.legend(fontsize=7, loc="lower right")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


BEGIN, END = "<!-- results: generated by bench/report.py -->", "<!-- end of results -->"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("bench_json")
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
    if a.md:
        body = [BEGIN, ""]
        if a.context:
            body += [a.context, ""]
        body += [f"Medians of {min(reps.values())} interleaved repetitions; instruction counts from callgrind.", "",
                 "### Goals", ""] + summary(gs) + ["", "### Every operation", ""] + time_table(t, ir) + \
                ["", "### Every goal, row by row", ""] + goal_table(gs) + ["", END]
        text = open(a.md).read()
        if BEGIN in text and END in text:
            text = text[:text.index(BEGIN)] + "\n".join(body) + text[text.index(END) + len(END):]
        else:
            text = text.rstrip("\n") + "\n\n" + "\n".join(body) + "\n"
        open(a.md, "w").write(text)
    if a.png:
        chart(t, gs, a.png)
    fails = [g for g in gs if not passed(g[3], g[4], g[5])]
    print(f"\n{len(gs) - len(fails)} of {len(gs)} goal rows met", file=sys.stderr)


if __name__ == "__main__":
    main()
