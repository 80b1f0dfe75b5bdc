"""The examples of docs/python.md run as written and print what it shows."""

import contextlib
import io
import os
import re
import shutil

import pytest
from conftest import ROOT


def readme_blocks():
    text = (ROOT / "docs" / "python.md").read_text()
    return re.findall(r"```(\w+)\n(.*?)```", text, flags=re.S)


def test_the_wav_example_prints_what_readme_shows(tmp_path, monkeypatch):
    demo = os.environ.get("TAVBIN_DEMO_WAV")
    if not demo or not os.path.exists(demo):
        pytest.skip("no demo.wav: the examples are not built")
    blocks = readme_blocks()
    code = next(body for lang, body in blocks if lang == "python" and "describe(" in body)
    shown = next(body for lang, body in blocks if lang == "text")
    # The example names the file by its place in the default build.
    target = tmp_path / "build" / "default" / "examples" / "demo.wav"
    target.parent.mkdir(parents=True)
    shutil.copy(demo, target)
    monkeypatch.chdir(tmp_path)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, "docs/python.md", "exec"), {})
    assert out.getvalue() == shown


def test_the_writer_example_runs():
    code = next(body for lang, body in readme_blocks() if lang == "python" and "Writer" in body)
    scope = {}
    exec(compile("import tavbin\n" + code, "docs/python.md", "exec"), scope)
    assert scope["record"][:8] == b"RIFF\x24\0\0\0"


def test_the_record_layer_example_runs():
    code = next(body for lang, body in readme_blocks() if lang == "python" and "lsb_bits" in body)
    scope = {}
    exec(compile("import tavbin\n" + code, "docs/python.md", "exec"), scope)
    assert (scope["low"], scope["high"], list(scope["kinds"])) == (7, 7, [1, 2])


def test_the_records_example_runs():
    code = next(body for lang, body in readme_blocks() if lang == "python" and "unpack_many" in body)
    scope = {}
    exec(compile("import tavbin\n" + code, "docs/python.md", "exec"), scope)
    assert (scope["symbol"], scope["halves"]) == ((1, 18, 0, 5, 4096, 64), [(1,), (2,)])


def test_the_package_docstring_example_runs():
    import doctest

    import tavbin

    assert doctest.testmod(tavbin).failed == 0
