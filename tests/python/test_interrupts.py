"""Ctrl+C reaches a long call as it reaches Python code: write_animation of a sequence and a large
morph stop within a fraction of a second with KeyboardInterrupt, and leave no file."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

SETUP = """
import signal, sys
import numpy as np
import quarro
signal.signal(signal.SIGINT, signal.default_int_handler)
a = np.zeros((720, 1280, 3), np.uint8)
a[:, :640] = 200
b = np.full((720, 1280, 3), 90, np.uint8)
pa = np.array([[0.2, 0.2, 0.8, 0.8]] * 20)
pb = np.array([[0.3, 0.2, 0.7, 0.9]] * 20)
print("ready", flush=True)
"""


@pytest.mark.parametrize("call", [
    # 600 frames of 1280 x 720 take half a minute or more: the signal comes early in the run.
    "quarro.write_animation(sys.argv[1] + '/m.mp4', quarro.sequence(a, b, pa, pb, 600), fps=25)",
    "quarro.write_animation(sys.argv[1] + '/m.gif', quarro.sequence(a, b, pa, pb, 600, threads=1))",
    "quarro.morph(a, b, pa, pb, size=(10000, 10000), threads=1)",
    "list(quarro.sequence(a, b, pa, pb, 600))",
])
def test_sigint_stops_the_call_with_keyboard_interrupt_and_no_file(tmp_path, call):
    if "write_animation" in call and not _has_ffmpeg():
        pytest.skip("ffmpeg is not installed")
    script = textwrap.dedent(SETUP) + call + "\nprint('finished', flush=True)\n"
    child = subprocess.Popen([sys.executable, "-c", script, str(tmp_path)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(1.0)  # well into the call
        assert child.poll() is None, child.stderr.read()
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        out, err = child.communicate(timeout=60)
        took = time.monotonic() - sent
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert "finished" not in out
    assert err.rstrip().endswith("KeyboardInterrupt"), err
    assert took < 2.0
    assert os.listdir(tmp_path) == []


def _has_ffmpeg():
    return any(os.access(os.path.join(folder, "ffmpeg"), os.X_OK) for folder in os.environ["PATH"].split(":"))
