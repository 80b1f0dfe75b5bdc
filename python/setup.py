"""Build of the tavbin package with setuptools (metadata in pyproject.toml).

The compiled fast path (tavbin/_speedups.c, and tavbin/_kaitai.c for
tavbin.kaitai) is built where a C compiler and
Python's headers exist; where they don't, the package still installs and uses
ctypes, with one warning. TAVBIN_BUNDLE=<path to the built module> makes the
package carry that module under the name it looks it up by; the wheel is then
tagged for what it carries: the interpreter and platform for a Linux or macOS
module (with the fast path), py3-none-win_amd64 for a DLL (ctypes only, since a
Windows extension cannot be built here).
"""

import os
import runpy
import sys

from setuptools import Distribution, Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # no wheel package: sdist and plain installs still work
    bdist_wheel = None

BUNDLE = os.environ.get("TAVBIN_BUNDLE", "")
WINDOWS_BUNDLE = BUNDLE.lower().endswith(".dll")


# The package's own table of the module's names (it imports nothing).
library_name = runpy.run_path(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "tavbin", "_names.py")
)["library_name"]


def bundled_name(path):
    """The file name the package looks the module up by, for the module at path."""
    if path.lower().endswith(".dll"):
        return library_name("win32")
    if ".dylib" in os.path.basename(path):
        return library_name("darwin")
    return library_name("linux")


class BuildPy(build_py):
    def run(self):
        super().run()
        # A build directory used before may hold another build's module or
        # extension: the wheel must carry only this one's.
        package = os.path.join(self.build_lib, "tavbin")
        for name in os.listdir(package):
            if "binary-read-util" in name or (WINDOWS_BUNDLE and name.startswith(("_speedups.", "_kaitai."))):
                os.remove(os.path.join(package, name))
        if BUNDLE:
            if not os.path.isfile(BUNDLE):
                raise SystemExit(f"TAVBIN_BUNDLE={BUNDLE}: no such file")
            self.copy_file(BUNDLE, os.path.join(self.build_lib, "tavbin", bundled_name(BUNDLE)))


class OptionalBuildExt(build_ext):
    """A fast path that cannot be built leaves the ctypes path, not a failed install."""

    def run(self):
        try:
            super().run()
        except Exception as e:  # no compiler at all
            self._skip(e)

    def build_extension(self, ext):
        try:
            super().build_extension(ext)
        except Exception as e:  # no headers, a compiler error
            self._skip(e)

    def _skip(self, e):
        print(
            f"WARNING: tavbin's compiled fast path was not built ({e}); "
            "the package will call the module through ctypes",
            file=sys.stderr,
        )


commands = {"build_py": BuildPy, "build_ext": OptionalBuildExt}

if bdist_wheel is not None:

    class BdistWheel(bdist_wheel):
        def get_tag(self):
            if WINDOWS_BUNDLE:
                return "py3", "none", "win_amd64"
            return super().get_tag()

    commands["bdist_wheel"] = BdistWheel


class BinaryDistribution(Distribution):
    """A distribution that carries a native file even without an extension, so
    that its wheel is never tagged "any" and installs into platlib."""

    def has_ext_modules(self):
        return True


# The library's header, where the package is built inside its source tree: the
# fast path then checks its function table against it (see _speedups.c).
HERE = os.path.dirname(os.path.abspath(__file__))
INCLUDE = os.environ.get("TAVBIN_INCLUDE") or os.path.join(HERE, os.pardir, "include")
include_dirs = [INCLUDE] if os.path.isfile(os.path.join(INCLUDE, "tavbin.h")) else []

setup(
    distclass=BinaryDistribution if BUNDLE else Distribution,
    cmdclass=commands,
    ext_modules=(
        []
        if WINDOWS_BUNDLE
        else [
            Extension(
                "tavbin._speedups",
                ["tavbin/_speedups.c"],
                include_dirs=include_dirs,
                depends=["tavbin/_records.c"],
            ),
            # The Kaitai Struct stream.
            Extension("tavbin._kaitai", ["tavbin/_kaitai.c"], include_dirs=include_dirs),
        ]
    ),
)
