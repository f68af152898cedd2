"""Builds the tremora wheel with the project's CMake build.

The extension module tremora._tremora is built by CMake, in the folder
TREMORA_BUILD_DIR (default: build/ of this checkout, configured as a Release
build if it is not configured yet), then installed (component "wheel") into
the package folder together with the tremora libraries it links. Their
run-time search path is $ORIGIN, so the installed package needs nothing of
the build folder.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(tremora VERSION ([0-9.]+)", text).group(1)


def build_folder():
    return pathlib.Path(os.environ.get("TREMORA_BUILD_DIR", ROOT / "build")).resolve()


def run(command):
    print(" ".join(str(part) for part in command), flush=True)
    subprocess.run([str(part) for part in command], check=True)


def cached_python(build):
    """The Python a configured build folder builds the module for."""
    cache = (build / "CMakeCache.txt").read_text(encoding="utf-8")
    found = re.search(r"^Python3_EXECUTABLE:[A-Z]+=(.*)$", cache, re.MULTILINE)
    return found.group(1) if found else None


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = build_folder()
        if not (build / "CMakeCache.txt").exists():
            run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 f"-DPython3_EXECUTABLE={sys.executable}", "-DTREMORA_BUILD_TESTS=OFF",
                 "-DTREMORA_BUILD_BENCH=OFF"])
        run(["cmake", "--build", build, "--target", "_tremora", "-j", os.environ.get("JOBS", "2")])
        stage = pathlib.Path(self.build_temp).resolve() / "stage"
        shutil.rmtree(stage, ignore_errors=True)
        run(["cmake", "--install", build, "--component", "wheel", "--prefix", stage])
        built = stage / "tremora"
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        if not (built / ("_tremora" + suffix)).exists():
            raise RuntimeError(f"the build folder {build} builds the module for {cached_python(build)}, "
                               f"not for this Python ({sys.executable}, modules end in {suffix}); "
                               "set TREMORA_BUILD_DIR to a new folder")
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        # A library goes in under its soname (libtremora_x.so.0), the name
        # the module asks for, as a file: a wheel holds no symbolic links.
        links = [path for path in built.iterdir() if path.is_symlink()]
        linked = {path.resolve() for path in links}
        for path in sorted(built.iterdir()):
            if path.resolve() in linked and not path.is_symlink():
                continue
            shutil.copy2(path.resolve(), target / path.name)


(build_folder() / "pip").mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    ext_modules=[Extension("tremora._tremora", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(build_folder() / "pip")},
             "egg_info": {"egg_base": str(build_folder() / "pip")}},
)
