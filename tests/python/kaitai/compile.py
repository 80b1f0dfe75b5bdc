"""Compile .ksy descriptions with both compilers the tests use, installing them
from the npm registry into a cache first.

    compile.py OUT_DIR [DESCRIPTION.ksy ...]

Without descriptions, those beside this file (the tests'); bench/kaitai.py
passes its own.

OUT_DIR/npm-<version> holds each compiler (installed once, pinned), and
OUT_DIR/<version> the Python it generates: the 0.10 output is what Debian's
kaitaistruct (API 0.10) runs; tavbin.kaitai runs both. kt_newer.ksy uses what
only 0.11 knows, so it is compiled by 0.11 alone.
"""

import glob
import json
import os
import shutil
import subprocess
import sys

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
COMPILERS = ("0.10.0", "0.11.0")
ONLY_NEWER = {"kt_newer"}


def install(prefix, version):
    marker = os.path.join(prefix, "node_modules", "kaitai-struct-compiler", "package.json")
    if os.path.exists(marker):
        with open(marker) as f:
            if json.load(f).get("version") == version:
                return
    os.makedirs(prefix, exist_ok=True)
    npm = shutil.which("npm")
    subprocess.run(
        [
            npm,
            "install",
            "--prefix",
            prefix,
            "--no-save",
            "--no-audit",
            "--no-fund",
            f"kaitai-struct-compiler@{version}",
        ],
        check=True,
    )


def main():
    out = os.path.abspath(sys.argv[1])
    descriptions = sys.argv[2:] or sorted(glob.glob(os.path.join(HERE, "*.ksy")))
    json_dir = os.path.join(out, "json")
    os.makedirs(json_dir, exist_ok=True)
    names = []
    for path in descriptions:
        name = os.path.splitext(os.path.basename(path))[0]
        with open(path) as f:
            ksy = yaml.safe_load(f)
        with open(os.path.join(json_dir, name + ".json"), "w") as f:
            json.dump(ksy, f)
        names.append(name)
    for version in COMPILERS:
        prefix = os.path.join(out, "npm-" + version)
        install(prefix, version)
        target = os.path.join(out, version.rsplit(".", 1)[0])
        shutil.rmtree(target, ignore_errors=True)
        wanted = [n for n in names if version.startswith("0.11") or n not in ONLY_NEWER]
        subprocess.run(
            [shutil.which("node"), os.path.join(HERE, "compile.js"), prefix, target]
            + [os.path.join(json_dir, n + ".json") for n in wanted],
            check=True,
        )


if __name__ == "__main__":
    main()
