#!/usr/bin/env python3
"""Checks a built module's export table and run-time dependencies.

The module must export exactly the names in the exports list, depend on nothing
but the C runtime, run no static initialisers, and import only the heap and
block-copy services (plus what the toolchain's start-up code brings). It must be
linked with full RELRO (-z relro -z now): a GNU_RELRO segment and BIND_NOW.

A Windows DLL (PE, read with the MinGW objdump given by --objdump) must export
exactly those names, undecorated, and import from KERNEL32.dll and the C runtime
(msvcrt.dll or the api-ms-win-crt-* set) only: no libstdc++, libgcc or
libwinpthread DLL, and keep the DllCharacteristics that let Windows place it at a
random 64-bit address and refuse to run its data (DYNAMIC_BASE, HIGH_ENTROPY_VA,
NX_COMPAT)."""
import argparse
import re
import subprocess
import sys

# Undefined symbols the library itself may use.
LIBRARY_IMPORTS = {"calloc", "malloc", "realloc", "free", "memcpy"}
# What the compiler and the C runtime's start-up objects add to any shared object.
TOOLCHAIN_IMPORTS = {
    "__cxa_finalize",
    "__gmon_start__",
    "_ITM_registerTMCloneTable",
    "_ITM_deregisterTMCloneTable",
    "__stack_chk_fail",
}
ALLOWED_NEEDED = re.compile(r"^(libc\.so\.\d+|ld-linux.*)$")


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def check_elf(module, expected):
    errors = []
    exported = set()
    for line in run("nm", "-D", "--defined-only", module).splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "TtWwDdBbRr":
            exported.add(parts[2])
    for name in sorted(exported - expected):
        errors.append(f"exported but not in the interface: {name}")
    for name in sorted(expected - exported):
        errors.append(f"missing from the export table: {name}")

    for line in run("nm", "-D", "--undefined-only", module).splitlines():
        name = line.split()[-1].split("@")[0]
        if name not in LIBRARY_IMPORTS | TOOLCHAIN_IMPORTS:
            errors.append(f"undefined symbol beyond the C runtime services: {name}")

    dynamic = run("readelf", "-d", module)
    for m in re.finditer(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic):
        if not ALLOWED_NEEDED.match(m.group(1)):
            errors.append(f"depends on {m.group(1)}")

    # Full RELRO: without BIND_NOW the GOT stays writable for lazy binding.
    if not re.search(r"\(FLAGS\)\s.*\bBIND_NOW\b|\(FLAGS_1\)\s.*\bNOW\b", dynamic):
        errors.append("no BIND_NOW: link with -z now")
    if not re.search(r"^\s*GNU_RELRO\s", run("readelf", "-lW", module), re.M):
        errors.append("no GNU_RELRO segment: link with -z relro")

    # Static initialisers show up as _GLOBAL__sub_I_* functions in the symbol table.
    for line in run("nm", module).splitlines():
        if "_GLOBAL__sub_I_" in line:
            errors.append(f"static initialiser: {line.split()[-1]}")
    return errors, len(exported)


# The imports of a DLL are checked by module, not by function: MinGW's DLL start-up
# code brings its own (critical sections, TLS, pseudo-relocation and its error
# report), which the library cannot influence.
ALLOWED_DLLS = re.compile(r"^(kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-[a-z0-9-]+\.dll)$", re.I)
# ASLR with 64-bit entropy and no execution of data pages: MinGW's ld sets them by
# default since binutils 2.36, but a linker flag can still take them away.
DLL_CHARACTERISTICS = {"HIGH_ENTROPY_VA": 0x20, "DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100}


def check_pe(module, expected, objdump):
    errors = []
    dump = run(objdump, "-p", module)
    exported = []
    in_names = False
    for line in dump.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            m = re.match(r"^\s+\[\s*\d+\]\s+(\S+)$", line)
            if not m:
                break
            exported.append(m.group(1))
    names = set(exported)
    if len(names) != len(exported):
        errors.append("a name is exported twice")
    for name in sorted(names - expected):
        hint = (
            " (decorated)"
            if re.search(r"^_|@\d+$", name) and name.lstrip("_").split("@")[0] in expected
            else ""
        )
        errors.append(f"exported but not in the interface{hint}: {name}")
    for name in sorted(expected - names):
        errors.append(f"missing from the export table: {name}")

    m = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dump, re.M)
    characteristics = int(m.group(1), 16) if m else 0
    for name, bit in DLL_CHARACTERISTICS.items():
        if not characteristics & bit:
            errors.append(f"DllCharacteristics lacks {name}")

    dlls = re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)
    if not dlls:
        errors.append("no import table found")
    for dll in dlls:
        if not ALLOWED_DLLS.match(dll):
            errors.append(f"imports from {dll}")
    return errors, len(names), dlls


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("module")
    ap.add_argument("exports", help="file with one exported name per line")
    ap.add_argument("--objdump", help="the MinGW objdump: check a Windows DLL")
    args = ap.parse_args()
    with open(args.exports) as f:
        expected = {l.strip() for l in f if l.strip() and not l.startswith("#")}
    if args.objdump:
        errors, count, dlls = check_pe(args.module, expected, args.objdump)
        needs = " and ".join(dlls)
    else:
        errors, count = check_elf(args.module, expected)
        needs = "only the C runtime, full RELRO"
    for e in errors:
        print(e)
    if errors:
        return 1
    print(f"{args.module}: exports exactly {count} names, needs {needs}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
