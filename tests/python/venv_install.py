"""README's offline install, done for real: a fresh virtual environment that sees the
system's packages, `pip install --no-index --no-build-isolation <package>`, then a
value read through the installed package from outside the source tree.

Exits 77 (skipped) when this interpreter cannot make such an environment: no venv
with pip (Debian: python3-venv) or no flit_core to build with (Debian: flit).
"""

import argparse
import os
import shutil
import subprocess
import sys

CHECK = """
import os, sys, tavbin
here = os.path.dirname(tavbin.__file__)
assert os.path.realpath(here).startswith(os.path.realpath(sys.prefix)), here
with tavbin.Reader(b"\\x00\\x00\\x01\\x02\\x03") as r:
    assert r.u32() == 258 and r.remaining() == 1
print("module:", tavbin._native.path)
if "TAVBIN_LIBRARY" not in os.environ:
    assert os.path.dirname(tavbin._native.path) == here, "not the package's own copy"
"""


def run(cmd, **kwargs):
    print("+", " ".join(cmd), flush=True)
    subprocess.run(cmd, check=True, **kwargs)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--work", required=True, help="scratch directory, emptied first")
    parser.add_argument("--package", required=True, help="the directory holding pyproject.toml")
    parser.add_argument("--library", help="the module, when the package carries no copy of it")
    args = parser.parse_args()
    try:
        import ensurepip  # noqa: F401
        import flit_core  # noqa: F401
    except ImportError as e:
        print(f"skipped: {e}")
        return 77

    shutil.rmtree(args.work, ignore_errors=True)
    venv = os.path.join(args.work, "venv")
    bindir = os.path.join(venv, "Scripts" if os.name == "nt" else "bin")
    env = {k: v for k, v in os.environ.items() if k not in ("TAVBIN_LIBRARY", "PYTHONPATH", "PYTHONHOME")}
    env.update(PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_INPUT="1", PIP_CACHE_DIR=os.path.join(args.work, "cache"))

    run([sys.executable, "-m", "venv", "--system-site-packages", venv], env=env)
    run([os.path.join(bindir, "pip"), "install", "--no-index", "--no-build-isolation", os.path.abspath(args.package)], env=env)
    if args.library:
        env["TAVBIN_LIBRARY"] = args.library
    run([os.path.join(bindir, "python"), "-c", CHECK], env=env, cwd=args.work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
