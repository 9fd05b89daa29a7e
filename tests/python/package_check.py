"""Checks an installed quarro from outside the source tree: run by scripts/test-python-package
in a folder of its own, with the interpreter of a fresh virtual environment (the package must
come from that environment) or with the folder that cmake --install filled.

    package_check.py SOURCE_ROOT [INSTALLED_FOLDER]
"""
import os
import pathlib
import re
import stat
import subprocess
import sys

import numpy as np

import quarro

root = pathlib.Path(sys.argv[1])
package = pathlib.Path(quarro.__file__).resolve().parent
home = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else pathlib.Path(sys.prefix)
assert home in package.parents, f"quarro was imported from {package}, not from {home}"

version = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", (root / "CMakeLists.txt").read_text()).group(1)
assert quarro.__version__ == version, (quarro.__version__, version)

helper = package / "libexec" / "quarro-decode"
assert helper.is_file() and os.access(helper, os.X_OK), f"no helper at {helper}"
for name in ("py.typed", "_quarro.pyi"):
    assert (package / name).is_file(), f"{name} is missing from the package"

a = quarro.read_image(root / "examples" / "demo_a.png")
b = quarro.read_image(str(root / "examples" / "demo_b.png"))
document = quarro.read_document(root / "examples" / "demo.mrf")
frame = quarro.morph(a, b, document["pairs_a"], document["pairs_b"], t=0.5)
assert frame.shape == a.shape and frame.dtype == np.uint8
assert not np.array_equal(frame, a) and not np.array_equal(frame, b)

# The pictures were decoded by the package's own helper: without it, reading fails.
reader = "import sys, quarro; quarro.read_image(sys.argv[1])"
mode = helper.stat().st_mode
helper.chmod(mode & ~(stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH))
try:
    done = subprocess.run([sys.executable, "-c", reader, str(root / "examples" / "demo_a.png")],
                          capture_output=True, text=True, timeout=60)
finally:
    helper.chmod(mode)
assert done.returncode != 0 and "OSError" in done.stderr, "a picture was read without the package's helper"
print(f"quarro {quarro.__version__} from {package}: read, morphed, helper {helper.relative_to(package)}")
