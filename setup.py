"""The Python module's build for pip: CMake builds the target tormid_python
for the interpreter running this, as a release build, and the module and
its type stubs go into the wheel."""
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        source = pathlib.Path(__file__).parent.resolve()
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(source), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DTORMID_PYTHON=ON",
            "-DBUILD_TESTING=OFF",
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "tormid_python", "--parallel", jobs], check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        target.parent.mkdir(parents=True, exist_ok=True)
        built = sorted((build / "python").glob("tormid*.so"))
        if not built:
            raise RuntimeError(f"the build made no module in {build / 'python'}")
        shutil.copyfile(built[0], target)
        shutil.copyfile(source / "src" / "python" / "tormid.pyi", target.parent / "tormid.pyi")


setup(ext_modules=[CMakeExtension("tormid")], cmdclass={"build_ext": CMakeBuild})
