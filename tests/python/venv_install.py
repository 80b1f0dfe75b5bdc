"""README's offline routes, done for real.

Linux: a wheel built from a copy of the package with TAVBIN_BUNDLE set to this
build's module must be tagged for this interpreter and platform and carry the
module and the fast path; installed into a fresh virtual environment with
`pip install --no-index`, it reads a value from outside the source tree with no
TAVBIN_LIBRARY set and ACCELERATED true.

Windows: a wheel built with TAVBIN_BUNDLE set to a DLL (--dll; the real one where
the Windows build runs this, a stand-in file elsewhere) must be tagged
py3-none-win_amd64 and carry the DLL and no extension.

Exits 77 (skipped) when this interpreter cannot make such an environment: no venv
with pip (Debian: python3-venv), or no setuptools or wheel to build with (Debian:
python3-setuptools python3-wheel).
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import sysconfig
import zipfile

CHECK = """
import os, sys, tavbin
here = os.path.dirname(tavbin.__file__)
assert os.path.realpath(here).startswith(os.path.realpath(sys.prefix)), here
assert "TAVBIN_LIBRARY" not in os.environ
assert tavbin.ACCELERATED, "the fast path is not in use"
with tavbin.Reader(b"\\x00\\x00\\x01\\x02\\x03") as r:
    assert r.u32() == 258 and r.remaining() == 1
assert os.path.dirname(tavbin._native.path) == here, "not the package's own copy"
import tavbin.kaitai
assert tavbin.kaitai.ACCELERATED, "the compiled Kaitai stream is not in use"
assert tavbin.kaitai.KaitaiStream(tavbin.kaitai.BytesIO(b"\\x01\\x02")).read_u2le() == 0x201
print("module:", tavbin._native.path)
"""


def run(cmd, **kwargs):
    print("+", " ".join(cmd), flush=True)
    subprocess.run(cmd, check=True, **kwargs)


def build_wheel(pip, package, out, bundle, env):
    # From a copy of its own: building writes build/ and *.egg-info beside the
    # sources, and a build directory used before would skip the compiler.
    source = out + "-src"
    shutil.copytree(
        package, source, ignore=shutil.ignore_patterns("build", "dist", "*.egg-info", "__pycache__")
    )
    os.makedirs(out)
    env = dict(env)
    if bundle:
        env["TAVBIN_BUNDLE"] = os.path.abspath(bundle)
    run([pip, "wheel", "--no-index", "--no-build-isolation", "--no-deps", "-w", out, source], env=env)
    wheels = glob.glob(os.path.join(out, "*.whl"))
    assert len(wheels) == 1, wheels
    with zipfile.ZipFile(wheels[0]) as z:
        names = sorted(n for n in z.namelist() if not n.startswith("tavbin-1.0.0.dist-info/"))
        tag = z.read("tavbin-1.0.0.dist-info/WHEEL").decode()
    print(os.path.basename(wheels[0]), *names, sep="\n  ")
    return wheels[0], names, tag


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--work", required=True, help="scratch directory, emptied first")
    parser.add_argument("--package", required=True, help="the directory holding pyproject.toml")
    parser.add_argument("--bundle", help="the module for the Linux wheel")
    parser.add_argument("--dll", help="the DLL for the Windows wheel (a stand-in file is made if absent)")
    args = parser.parse_args()
    try:
        import ensurepip  # noqa: F401
        import setuptools  # noqa: F401
        import wheel  # noqa: F401
    except ImportError as e:
        print(f"skipped: {e}")
        return 77

    shutil.rmtree(args.work, ignore_errors=True)
    source = args.package
    venv = os.path.join(args.work, "venv")
    bindir = os.path.join(venv, "Scripts" if os.name == "nt" else "bin")
    pip = os.path.join(bindir, "pip")
    env = {
        k: v
        for k, v in os.environ.items()
        if k not in ("TAVBIN_LIBRARY", "PYTHONPATH", "PYTHONHOME", "TAVBIN_PURE")
    }
    env.update(
        PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_INPUT="1", PIP_CACHE_DIR=os.path.join(args.work, "cache")
    )
    # The venv sees the system's setuptools and wheel: nothing comes from the network.
    run([sys.executable, "-m", "venv", "--system-site-packages", venv], env=env)

    if args.bundle:
        wheel_file, names, tag = build_wheel(pip, source, os.path.join(args.work, "dist"), args.bundle, env)
        platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
        interp = f"cp{sys.version_info[0]}{sys.version_info[1]}"
        assert os.path.basename(wheel_file).endswith(f"-{interp}-{interp}-{platform}.whl"), wheel_file
        assert "Root-Is-Purelib: false" in tag, tag
        assert "tavbin/libbinary-read-util.so.1" in names, names
        assert any(n.startswith("tavbin/_speedups.") and n.endswith(".so") for n in names), names
        assert any(n.startswith("tavbin/_kaitai.") and n.endswith(".so") for n in names), names
        assert not any(n.endswith(".c") for n in names), names
        run([pip, "install", "--no-index", "--no-deps", wheel_file], env=env)
        run([os.path.join(bindir, "python"), "-c", CHECK], env=env, cwd=args.work)

        # Where the extension cannot be compiled, the package still builds and
        # installs, and runs on ctypes.
        broken = dict(env, CC=os.path.join(args.work, "no-such-compiler"))
        wheel_file, names, _ = build_wheel(
            pip, source, os.path.join(args.work, "dist-no-compiler"), None, broken
        )
        assert not any(n.startswith(("tavbin/_speedups", "tavbin/_kaitai")) for n in names), names
        run([pip, "install", "--no-index", "--no-deps", "--force-reinstall", wheel_file], env=env)
        plain = (
            "import tavbin, tavbin.kaitai as k; assert not tavbin.ACCELERATED and not k.ACCELERATED; "
            "assert tavbin.Reader(b'abcd').u16() == 0x6162; "
            "assert k.KaitaiStream(k.BytesIO(b'ab')).read_u2le() == 0x6261"
        )
        run(
            [os.path.join(bindir, "python"), "-c", plain],
            env=dict(env, TAVBIN_LIBRARY=os.path.abspath(args.bundle)),
            cwd=args.work,
        )

    dll = args.dll
    if not dll:
        dll = os.path.join(args.work, "stand-in", "binary-read-util.dll")
        os.makedirs(os.path.dirname(dll))
        with open(dll, "wb") as f:
            f.write(b"MZ stand-in, never loaded")
    wheel_file, names, tag = build_wheel(pip, source, os.path.join(args.work, "dist-windows"), dll, env)
    assert os.path.basename(wheel_file) == "tavbin-1.0.0-py3-none-win_amd64.whl", wheel_file
    assert "Tag: py3-none-win_amd64" in tag, tag
    assert "tavbin/binary-read-util.dll" in names, names
    assert not any(n.endswith((".so", ".pyd", ".c")) or ".so." in n for n in names), names
    return 0


if __name__ == "__main__":
    sys.exit(main())
