"""The declaration table against the exported names and the header, and how the
module is found."""

import ctypes
import ctypes.util
import importlib.util
import os
import re
import shutil
import subprocess
import sys
from ctypes import POINTER
from pathlib import Path

import pytest
from conftest import ROOT

import tavbin
from tavbin import _native

SCALARS = {
    "void": None,
    "tavbin_status": ctypes.c_int32,
    "tavbin_endian": ctypes.c_uint32,
    "uint8_t": ctypes.c_uint8,
    "int8_t": ctypes.c_int8,
    "uint16_t": ctypes.c_uint16,
    "int16_t": ctypes.c_int16,
    "uint32_t": ctypes.c_uint32,
    "int32_t": ctypes.c_int32,
    "uint64_t": ctypes.c_uint64,
    "int64_t": ctypes.c_int64,
    "float": ctypes.c_float,
    "double": ctypes.c_double,
}
POINTERS = {
    "void": ctypes.c_void_p,
    "const char": ctypes.c_char_p,
    "char": POINTER(ctypes.c_char),
    "tavbin_reader": _native.ReaderHandle,
    "tavbin_writer": _native.WriterHandle,
}


def ctype_of(decl):
    """The ctypes type of a C type as the header spells it ("const uint8_t *")."""
    decl = " ".join(decl.split())
    if not decl.endswith("*"):
        return SCALARS[decl]
    pointee = decl[:-1].strip()
    if pointee in POINTERS:
        return POINTERS[pointee]
    pointee = pointee.replace("const ", "")
    return POINTERS.get(pointee) or POINTER(SCALARS[pointee])


def header_declarations():
    """The header's declarations, as abi/declarations.py reads them for every binding."""
    found = {}
    for line in Path(os.environ["TAVBIN_DECLARATIONS"]).read_text().splitlines():
        name, ret, *params = line.split("|")
        found[name] = (ctype_of(ret), tuple(ctype_of(p) for p in params))
    return found


def exports():
    names = [
        line.strip()
        for line in (ROOT / "abi" / "exports.txt").read_text().splitlines()
        if re.match(r"[A-Za-z_]", line)
    ]
    assert names and len(set(names)) == len(names)
    return sorted(names)


def test_table_names_are_the_exports():
    assert sorted(_native.FUNCTIONS) == exports()


def test_table_types_are_the_headers():
    declared = header_declarations()
    assert sorted(declared) == exports()
    for name, (restype, argtypes) in _native.FUNCTIONS.items():
        assert (restype, argtypes) == declared[name], name
    # What Windows would get wrong with c_ulong: every 64-bit quantity is 8 bytes.
    for restype, argtypes in _native.FUNCTIONS.values():
        for t in (restype, *argtypes):
            if t in (ctypes.c_uint64, ctypes.c_int64):
                assert ctypes.sizeof(t) == 8


@pytest.mark.skipif(not tavbin.ACCELERATED, reason="the fast path's table")
def test_the_extensions_table_is_the_headers():
    # Checked by the compiler too where the header was found (setup.py points
    # at include/ in the source tree, as the build's package does).
    from tavbin import _speedups

    assert _speedups.HEADER_CHECKED == 1
    declared = {}
    for line in Path(os.environ["TAVBIN_DECLARATIONS"]).read_text().splitlines():
        name, ret, *params = line.split("|")
        declared[name] = (ret, params)
    table = _speedups.declarations()
    assert table and len({name for name, _, _ in table}) == len(table)
    for name, ret, params in table:
        params = [" ".join(p.split()) for p in params.strip("()").split(",")]
        assert (" ".join(ret.split()), params) == declared[name], name


def test_module_name_is_the_one_the_build_makes():
    if "TAVBIN_MODULE_NAME" in os.environ:
        assert _native.LIBRARY_NAME == os.environ["TAVBIN_MODULE_NAME"]


def test_version_matches_the_build_and_pyproject():
    pyproject = (ROOT / "python" / "pyproject.toml").read_text()
    assert f'version = "{tavbin.__version__}"' in pyproject
    if "TAVBIN_VERSION" in os.environ:
        assert tavbin.__version__ == os.environ["TAVBIN_VERSION"]


BUILT = os.environ.get("TAVBIN_LIBRARY") or _native.path


def import_elsewhere(tmp_path, env):
    """Import a copy of the package that carries no module, in a fresh interpreter
    (one that has loaded the module would find it again by its name)."""
    package = tmp_path / "pkg" / "tavbin"
    package.mkdir(parents=True, exist_ok=True)
    for source in (ROOT / "python" / "tavbin").glob("*.py"):
        shutil.copy(source, package)
    env = dict({k: v for k, v in os.environ.items() if k != "TAVBIN_LIBRARY"}, **env)
    env["PYTHONPATH"] = str(package.parent)
    code = "import tavbin; print(tavbin._native.path)"
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)


@pytest.mark.parametrize("setting", [ctypes.util.find_library("m"), "/nonexistent/lib.so"])
def test_a_library_setting_that_does_not_load_is_an_error_naming_it(tmp_path, setting):
    # A library that loads but is not this one counts as a failure too; the
    # package's copy is not tried instead.
    if setting is None:
        pytest.skip("no libm to stand in")
    (tmp_path / "pkg" / "tavbin").mkdir(parents=True)
    shutil.copy(BUILT, tmp_path / "pkg" / "tavbin" / _native.LIBRARY_NAME)
    result = import_elsewhere(tmp_path, {"TAVBIN_LIBRARY": setting})
    assert result.returncode != 0
    last = result.stderr.splitlines()[-1]
    assert last.startswith(
        f"OSError: cannot load the binary-read-util module named by TAVBIN_LIBRARY={setting}: "
    )


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="LD_LIBRARY_PATH is the Linux loader's")
def test_nothing_loads_one_error_lists_every_attempt(tmp_path):
    result = import_elsewhere(tmp_path, {"LD_LIBRARY_PATH": str(tmp_path)})
    assert result.returncode != 0
    lines = result.stderr.splitlines()
    start = lines.index("OSError: cannot load the binary-read-util module; tried:")
    tried = lines[start + 1 :]
    assert tried[0] == "  TAVBIN_LIBRARY: not set"
    assert (
        tried[1] == f"  the package's copy {tmp_path / 'pkg' / 'tavbin' / _native.LIBRARY_NAME}: not present"
    )
    assert tried[2].startswith(f"  {_native.LIBRARY_NAME} by the system loader's search: ")
    assert len(tried) == 3


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="LD_LIBRARY_PATH is the Linux loader's")
def test_found_by_name_on_the_loader_path(tmp_path):
    (tmp_path / "lib").mkdir()
    shutil.copy(BUILT, tmp_path / "lib" / _native.LIBRARY_NAME)
    result = import_elsewhere(tmp_path, {"LD_LIBRARY_PATH": str(tmp_path / "lib")})
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == _native.LIBRARY_NAME


@pytest.mark.parametrize("pure", ["1", None])
def test_the_path_switch(pure):
    # CTest runs the suite once per path and says which one it expects.
    expected = os.environ.get("TAVBIN_EXPECT_ACCELERATED", "1" if tavbin.ACCELERATED else "0") == "1"
    assert tavbin.ACCELERATED is expected
    assert (tavbin.Reader.__module__, tavbin.Writer.__module__) == (
        ("tavbin",) * 2 if expected else ("tavbin._reader", "tavbin._writer")
    )
    env = {k: v for k, v in os.environ.items() if k != "TAVBIN_PURE"}
    if pure:
        env["TAVBIN_PURE"] = pure
    env["PYTHONPATH"] = os.pathsep.join(sys.path)
    code = "import tavbin; print(tavbin.ACCELERATED, tavbin.Reader(b'abcd').u32())"
    result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    built = importlib.util.find_spec("tavbin._speedups") is not None
    assert built or not expected
    assert result.stdout.split() == [str(built and not pure), str(0x61626364)], result.stderr
