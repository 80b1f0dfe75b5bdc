#!/usr/bin/env python3
"""Mutation pass over the C# binding: applies one small change at a time to one
of its files, rebuilds and runs the suite on it. A mutant the suite still passes is
alive: a fault the tests would miss.

    tools/mutate_csharp.py [--net] [BUILD_DIR [FILE...]]
        (default build/default, already built; every file of the binding)

Without --net it mutates the part Mono compiles, rebuilds the binding with mcs and
runs the Mono suite. With --net it mutates the lines only .NET compiles (the fast
path, spans and memory slices), builds the same test files as one console program
with the .NET SDK (tests/dotnet/wine/WineTests.csproj, for this host) and runs it on
.NET.

FILE is a path under dotnet/, as Reader.cs or Core/Guard.cs, or FILE:LINE for the
mutants of that one line, whichever compiler takes it (so that --net can try a line
Mono's pass left alive, where only .NET reaches it). The stress test runs
for 300 ms a mutant (TAVBIN_STRESS_MS).

Prints each live mutant and the counts; exits 0 whatever it finds.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARGS = sys.argv[1:]
NET = bool(ARGS) and ARGS[0] == "--net"
if NET:
    ARGS = ARGS[1:]
BUILD = os.path.abspath(ARGS[0] if ARGS else os.path.join(ROOT, "build", "default"))
DOTNET = os.path.join(ROOT, "dotnet")
SOURCES = sorted(
    os.path.relpath(os.path.join(d, f), DOTNET)
    for d, _, files in os.walk(DOTNET)
    if os.sep + "obj" not in d and os.sep + "bin" not in d
    for f in files
    if f.endswith(".cs")
)
CHOSEN = ARGS[1:] or SOURCES
# The test files Mono compiles, from the copy the pass takes when it starts.
TESTS = [
    os.path.join("src", "tests", "dotnet", f)
    for f in (
        "Runner.cs",
        "DeclarationsTest.cs",
        "ValuesTest.cs",
        "LifetimeTest.cs",
        "VectorsTest.cs",
        "RecordTest.cs",
    )
]
MODULE = os.path.realpath(os.path.join(BUILD, "libbinary-read-util.so"))

# (pattern, replacement, what): each match on a line is one mutant.
SWAPS = [
    (r"!= 0\b", "== 0", "!= 0 to == 0"),
    (r"== 0\b", "!= 0", "== 0 to != 0"),
    (r" < ", " <= ", "< to <="),
    (r" <= ", " < ", "<= to <"),
    (r" > ", " >= ", "> to >="),
    (r" >= ", " > ", ">= to >"),
    (r"\bEndian\.Big\b", "Endian.Little", "Big to Little"),
    (r"\bEndian\.Little\b", "Endian.Big", "Little to Big"),
    (r"\btrue\b", "false", "true to false"),
    (r"\bfalse\b", "true", "false to true"),
    (r"\+ 1\b", "+ 0", "+ 1 to + 0"),
    (r"- 1\b", "- 0", "- 1 to - 0"),
    (r"\(s \| \(int\)bitPos\) != 0", "(int)bitPos != 0", "status check removed"),
    (
        r"NativeMethods\.tavbin_ascii\(r, p, n\) : NativeMethods\.tavbin_bytes\(r, p, n\)",
        "NativeMethods.tavbin_bytes(r, p, n) : NativeMethods.tavbin_ascii(r, p, n)",
        "Ascii and Bytes swapped",
    ),
]
# A statement of its own that calls or assigns: deleted.
STATEMENT = re.compile(
    r"^\s*(?!return\b|throw\b|if\b|else\b|for\b|while\b|case\b|break\b|using\b|namespace\b)"
    r"[\w.\[\]<>]+(\s*[-+|&]?=\s*.+|\(.*\));\s*$"
)


def compiled_lines(lines):
    """Indices of the lines mcs compiles (with --net: the lines only .NET compiles),
    outside comments and the declarations."""
    keep, stack = [], []
    for i, line in enumerate(lines):
        s = line.strip()
        if s.startswith("#if"):
            stack.append(s == "#if NET")
            continue
        if s.startswith("#else"):
            stack[-1] = not stack[-1]
            continue
        if s.startswith("#endif"):
            stack.pop()
            continue
        if any(stack) != NET or s.startswith(("//", "#", "[")) or " extern " in line or not s:
            continue
        keep.append(i)
    return keep


def mutants(lines, only=None):
    for i in [only - 1] if only else compiled_lines(lines):
        line = lines[i]
        for pattern, repl, what in SWAPS:
            for m in re.finditer(pattern, line):
                yield i, what, line[: m.start()] + re.sub(pattern, repl, m.group(0)) + line[m.end() :]
        if STATEMENT.match(line):
            yield i, "statement deleted", re.sub(r"\S.*$", ";", line)


def run(cmd, cwd, timeout, env=None):
    try:
        return subprocess.run(
            cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout, env=env
        ).returncode
    except subprocess.TimeoutExpired:
        return -1


def build_mono(work):
    """Compiles the binding and its tests with mcs; the command that runs them."""
    compile_binding = ["mcs", "-langversion:7", "-target:library", "-nowarn:162,219,429", "-out:Tavbin.dll"]
    if run(compile_binding + [os.path.join("src", "dotnet", n) for n in SOURCES], work, 120) != 0:
        return None
    if run(["mcs", "-r:Tavbin.dll", "-out:TavbinTests.exe"] + TESTS, work, 120) != 0:
        return None
    return ["mono", "--debug", "TavbinTests.exe"]


def build_net(work):
    """Builds the binding and the test files as one program for this host with the
    .NET SDK (restoring on the first build only); the command that runs it."""
    restored = os.path.exists(os.path.join(work, "art", "obj"))
    project = os.path.join(work, "src", "tests", "dotnet", "wine", "WineTests.csproj")
    command = ["dotnet", "build", project, "-c", "Release", "--artifacts-path", os.path.join(work, "art")]
    # Runner's own entry point, not the Windows one: on Linux nothing is skipped.
    command += ["-p:StartupObject=Tavbin.Tests.Runner", "-p:TreatWarningsAsErrors=false"]
    if run(command + (["--no-restore"] if restored else []), work, 300) != 0:
        return None
    return ["dotnet", os.path.join("art", "bin", "WineTests", "release", "TavbinTests.dll")]


def main():
    work = tempfile.mkdtemp(prefix="tavbin-mutants-")
    with open(os.path.join(work, "Tavbin.dll.config"), "w") as f:
        f.write('<configuration><dllmap dll="binary-read-util" target="%s"/></configuration>\n' % MODULE)
    # The tree the build sees: the binding's sources, mutated, beside the test files.
    tests = os.path.join(ROOT, "tests", "dotnet")
    shutil.copytree(
        tests, os.path.join(work, "src", "tests", "dotnet"), ignore=shutil.ignore_patterns("consumer")
    )
    args = [
        os.path.join(ROOT, "abi", "exports.txt"),
        os.path.join(BUILD, "tests", "declarations.txt"),
        MODULE,
        os.path.join(ROOT, "tests", "vectors", "record.txt"),
    ]
    sources = {name: open(os.path.join(DOTNET, name)).read().split("\n") for name in SOURCES}
    env = dict(
        os.environ,
        TAVBIN_STRESS_MS="300",
        TAVBIN_LIBRARY=MODULE,
        DOTNET_CLI_TELEMETRY_OPTOUT="1",
        DOTNET_NOLOGO="1",
        MSBUILDDISABLENODEREUSE="1",
        DOTNET_CLI_USE_MSBUILD_SERVER="0",
    )
    build = build_net if NET else build_mono

    def write(name, i, mutated):
        for other, text in sources.items():
            path = os.path.join(work, "src", "dotnet", other)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            copy = list(text)
            if other == name:
                copy[i] = mutated
            with open(path, "w") as f:
                f.write("\n".join(copy))

    # Unmutated, the suite must pass, or every mutant would count as killed.
    write(None, None, None)
    command = build(work)
    if command is None or run(command + args, work, 60, env) != 0:
        sys.exit("the unmutated binding does not build or pass its suite here")
    total = built = killed = 0
    alive = []
    for chosen in CHOSEN:
        name, _, line = chosen.partition(":")
        lines = sources[name]
        for i, what, mutated in mutants(lines, int(line) if line else None):
            total += 1
            write(name, i, mutated)
            command = build(work)
            if command is None:
                continue
            built += 1
            if run(command + args, work, 60, env) != 0:
                killed += 1
                print("killed: %s:%d (%s)" % (name, i + 1, what), flush=True)
            else:
                alive.append("%s:%d (%s): %s" % (name, i + 1, what, lines[i].strip()))
                print("alive: " + alive[-1], flush=True)
    if NET:
        run(["dotnet", "build-server", "shutdown"], work, 60, env)
    shutil.rmtree(work)
    print("%d mutants, %d compiled, %d killed, %d alive" % (total, built, killed, len(alive)))


if __name__ == "__main__":
    main()
