"""Ending a child process that a test started, by its own id: SIGTERM, then SIGKILL when it has
not ended in time."""
import signal
import subprocess


def stop(process, seconds=20):
    if process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
