"""Builds the orbel extension with the project's CMake build, so pip and
cmake --install give the same module. The library's sources are the folder
above this one; the version is the CMake project's."""
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        args = [
            "-G", "Ninja" if shutil.which("ninja") else "Unix Makefiles",
            f"-DPython3_EXECUTABLE={sys.executable}",
            f"-DORBEL_PACKAGE_DIR={build / 'orbel'}",
            "-DBUILD_TESTING=OFF",
            "-DORB_BUILD_BENCH=OFF",
            "-DCMAKE_BUILD_TYPE=Release",
        ]
        # Extra arguments, e.g. a compiler launcher; later ones win.
        args += shlex.split(os.environ.get("ORBEL_CMAKE_ARGS", ""))
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build), *args], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(min(os.cpu_count() or 1, 2)))
        subprocess.run(["cmake", "--build", str(build), "--target", "_orbel", "-j", jobs], check=True)
        built = next((build / "orbel").glob("_orbel*.so"))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    ext_modules=[Extension("orbel._orbel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
