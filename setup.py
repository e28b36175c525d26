"""Builds the Python package corvel with the project's CMake: the extension
module, the MEX file and the array API libraries, all into the package's
folder (each finds the others beside it). The build folder is
build/python-package, reused by the next build."""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.egg_info import egg_info

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(ROOT, "build", "python-package")
        configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DCORVEL_BUILD_TESTS=OFF",
                     "-DCORVEL_BUILD_BENCH=OFF", "-DPYTHON_EXECUTABLE=" + sys.executable]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        try:
            import pybind11
            configure.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass  # Debian's pybind11-dev is found by CMake itself
        subprocess.check_call(configure)
        # CMAKE_BUILD_PARALLEL_LEVEL limits the build's parallel jobs; else one a core.
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.check_call(["cmake", "--build", build, "--target", "corvel_python", "-j", jobs])
        built = os.path.join(build, "python", "corvel")
        target = os.path.dirname(self.get_ext_fullpath(ext.name))
        os.makedirs(target, exist_ok=True)
        for name in os.listdir(built):
            if name.endswith(".so") or name.endswith(".mexa64"):
                shutil.copy2(os.path.join(built, name), os.path.join(target, name))


class EggInfoInBuild(egg_info):
    """The package's metadata folder under build/, not in the source tree."""

    def initialize_options(self):
        super().initialize_options()
        self.egg_base = os.path.relpath(os.path.join(ROOT, "build", "python-package"))
        os.makedirs(self.egg_base, exist_ok=True)


setup(
    packages=["corvel"],
    package_dir={"corvel": "python/corvel"},
    package_data={"corvel": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("corvel._corvel", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "egg_info": EggInfoInBuild},
    zip_safe=False,
)
