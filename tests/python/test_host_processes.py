"""The module as a guest in the interpreter's process: no child the host can meet, no lock held
across numpy's import, and no decoding helper but the one it carries."""
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quarro

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
# A PNG header that passes the checks made before a helper starts; the stand-in helper acts
# on the file's name.
SMALL_PNG = b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x03\0\0\0\x02\x08\x06" + bytes(40)


def run_python(code, package=None, timeout=60):
    """Runs `code` in a fresh interpreter that imports the package folder `package`."""
    env = dict(os.environ)
    if package is not None:
        env["PYTHONPATH"] = str(package.parent)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=env)


def package_copy(folder, helper=None):
    """The package copied to `folder`/quarro with `helper` as the helper it carries, or none."""
    package = folder / "quarro"
    shutil.copytree(Path(quarro.__file__).resolve().parent, package, ignore=shutil.ignore_patterns("libexec"))
    if helper is not None:
        (package / "libexec").mkdir()
        shutil.copy2(helper, package / "libexec" / "quarro-decode")
    return package


def test_threads_reading_and_morphing_before_numpy_was_imported_finish():
    code = f"""
        from concurrent.futures import ThreadPoolExecutor
        import quarro

        def work(_):
            a = quarro.read_image({str(EXAMPLES / "demo_a.png")!r})
            document = quarro.read_document({str(EXAMPLES / "demo.mrf")!r})
            return quarro.morph(a, a, document["pairs_a"], document["pairs_b"], size=(40, 30)).shape

        print(list(ThreadPoolExecutor(4).map(work, range(4))))
    """
    for _ in range(3):
        done = run_python(code, timeout=60)
        assert done.returncode == 0, done.stderr
        assert done.stdout.strip() == str([(30, 40, 4)] * 4)


def test_the_host_has_no_child_after_a_read():
    quarro.read_image(EXAMPLES / "demo_a.png")
    with pytest.raises(ChildProcessError):
        os.waitpid(-1, os.WNOHANG)


def test_a_host_that_ignores_sigchld_still_learns_how_the_helper_ended(tmp_path):
    fake = os.environ.get("QUARRO_FAKE_DECODER")
    if not fake:
        pytest.fail("QUARRO_FAKE_DECODER must name the stand-in helper (ctest sets it)")
    package = package_copy(tmp_path, helper=fake)
    (tmp_path / "crash.png").write_bytes(SMALL_PNG)
    done = run_python(f"""
        import os, signal
        import quarro
        signal.signal(signal.SIGCHLD, signal.SIG_IGN)
        try:
            quarro.read_image({str(tmp_path / "crash.png")!r})
        except OSError as error:
            print(error)
        try:
            os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            print("no child")
    """, package=package)
    assert "the decoder crashed (signal 11, Segmentation fault)" in done.stdout, done.stdout + done.stderr
    assert "no child" in done.stdout


def test_a_module_runs_no_helper_but_the_one_beside_it(tmp_path):
    package = package_copy(tmp_path / "a" / "b")
    # Three folders up from the extension, where an older module looked: under /tmp, a folder
    # anyone may make.
    planted = tmp_path / "bin" / "quarro-decode"
    planted.parent.mkdir()
    planted.write_text(f"#!/bin/sh\ntouch {tmp_path / 'planted-ran'}\n")
    planted.chmod(0o755)
    done = run_python(f"""
        import quarro
        try:
            quarro.read_image({str(EXAMPLES / "demo_a.png")!r})
        except OSError as error:
            print(error)
    """, package=package)
    assert f"the decoder program {package}/libexec/quarro-decode was not found" in done.stdout, done.stderr
    assert not (tmp_path / "planted-ran").exists()
