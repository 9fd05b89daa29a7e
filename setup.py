"""Builds the package quarro with the project's CMake build: the extension and its decoding helper.

The version is the one of CMakeLists.txt's project(). CMAKE_ARGS in the environment adds CMake
options (e.g. -DCMAKE_BUILD_TYPE=RelWithDebInfo); the CMake build folder is kept under build/ so
that a second install builds only what changed.
"""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        sys.exit("setup.py: no VERSION in CMakeLists.txt's project()")
    return found.group(1)


class CMakeBuild(build_ext):
    """Configures and builds the package target of the CMake build, then copies the extension
    and the helper into the package being built."""

    def build_extension(self, ext):
        build_dir = ROOT / "build" / "python-package"
        build_dir.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQUARRO_BUILD_PYTHON=ON", "-DQUARRO_BUILD_GUI=OFF", "-DQUARRO_BUILD_BENCH=OFF",
            "-DQUARRO_BUILD_TESTS=OFF", "-DQUARRO_BUILD_MAN=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
            *shlex.split(os.environ.get("CMAKE_ARGS", "")),
        ]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "quarro_package", "-j", jobs], check=True)

        built = build_dir / "python" / "quarro"
        extension = pathlib.Path(self.get_ext_fullpath(ext.name))
        extension.parent.mkdir(parents=True, exist_ok=True)
        (found,) = built.glob("_quarro.*.so")
        shutil.copy2(found, extension)
        helper = extension.parent / "libexec" / "quarro-decode"
        helper.parent.mkdir(exist_ok=True)
        shutil.copy2(built / "libexec" / "quarro-decode", helper)


setup(
    version=project_version(),
    packages=["quarro"],
    package_dir={"quarro": "python/quarro"},
    package_data={"quarro": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("quarro._quarro", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
