"""The build's refusal of free-threaded CPython, which has no stable ABI.

No free-threaded interpreter is needed: CMake is given, as Python_EXECUTABLE, a stand-in
that runs this interpreter with sysconfig answering Py_GIL_DISABLED as each case says.
The refusal must come at configure time, before the compilers are even looked for.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
REFUSAL = "is a free-threaded CPython build (Py_GIL_DISABLED)"


def cmake_or_skip():
    """The cmake on PATH if it runs and is 3.26 or later (the build's minimum)."""
    cmake = shutil.which("cmake")
    if cmake is None:
        pytest.skip("cmake is not on PATH")
    try:
        out = subprocess.run([cmake, "--version"], capture_output=True, text=True, timeout=60).stdout
    except OSError as e:
        pytest.skip(f"{cmake} does not run: {e}")
    found = re.search(r"version (\d+)\.(\d+)", out)
    if found is None or tuple(map(int, found.groups())) < (3, 26):
        pytest.skip(f"{cmake} is not CMake 3.26 or later: {(out.splitlines() or ['no output'])[0]!r}")
    if not (ROOT / "CMakeLists.txt").is_file():
        pytest.skip(f"no source tree beside the tests ({ROOT} has no CMakeLists.txt)")
    return cmake


def configure(tmp_path, gil_disabled, given=True):
    """CMake's configure step with a stand-in interpreter whose sysconfig reports
    Py_GIL_DISABLED = gil_disabled, given as Python_EXECUTABLE (as scikit-build-core does)
    or else left for FindPython to find: (exit status, output)."""
    site = tmp_path / "site"
    site.mkdir()
    (site / "sitecustomize.py").write_text(
        "import sysconfig\n"
        "_real = sysconfig.get_config_var\n"
        f"sysconfig.get_config_var = lambda name: {gil_disabled!r} if name == 'Py_GIL_DISABLED' "
        "else _real(name)\n")
    (tmp_path / "root" / "bin").mkdir(parents=True)
    python = tmp_path / "root" / "bin" / "python3"
    python.write_text(f'#!/bin/sh\nPYTHONPATH="{site}" exec "{sys.executable}" "$@"\n')
    python.chmod(0o755)
    # The sanitizer run preloads its runtimes into this process; CMake and the compilers
    # it starts are not built for them.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "CMAKE_TOOLCHAIN_FILE")}
    done = subprocess.run(
        [cmake_or_skip(), "-S", str(ROOT), "-B", str(tmp_path / "build"),
         f"-DPython_EXECUTABLE={python}" if given else f"-DPython_ROOT_DIR={tmp_path / 'root'}"],
        capture_output=True, text=True, env=env, timeout=600)
    return done.returncode, done.stdout + done.stderr


@pytest.mark.parametrize("gil_disabled", [1, "1"])
def test_a_free_threaded_interpreter_is_refused_before_the_compilers(tmp_path, gil_disabled):
    status, out = configure(tmp_path, gil_disabled)
    assert status != 0, out
    message = " ".join(out.split())  # CMake wraps the message's lines
    assert REFUSAL in message, out
    assert "Use a regular, GIL-enabled CPython 3.10 or later instead" in message, out
    assert "CXX compiler identification" not in out, out


@pytest.mark.parametrize("gil_disabled", [0, "0", None])
def test_a_gil_enabled_interpreter_configures(tmp_path, gil_disabled):
    # None is what 3.10 to 3.12 answer: they do not know the variable.
    status, out = configure(tmp_path, gil_disabled)
    assert status == 0, out
    assert REFUSAL not in " ".join(out.split())


def test_a_free_threaded_interpreter_found_by_cmake_is_refused(tmp_path):
    # A plain CMake build names no interpreter: the one FindPython chooses is checked.
    status, out = configure(tmp_path, 1, given=False)
    assert status != 0, out
    assert "Found Python: " + str(tmp_path / "root" / "bin" / "python3") in out, out
    assert REFUSAL in " ".join(out.split()), out
