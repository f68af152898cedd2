"""pip and python -m build on this checkout, offline, reusing a build folder.

Usage: pip_install.py SOURCE_DIR BUILD_DIR TREMORA_BIN

In a new virtual environment (with the system's site packages, as on a
Debian machine with python3-numpy and python3-pandas), `pip install
--no-build-isolation .` must install a package that loads only its own
binaries, answers importlib.metadata.version, and fetches from the sample
database; `python3 -m build --wheel --no-isolation` must make a wheel that
holds the module, its libraries under their sonames and the type stubs.
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import zipfile

SOURCE, BUILD, TREMORA_BIN = (pathlib.Path(arg).resolve() for arg in sys.argv[1:4])
PYTHON = "/usr/bin/python3"

# Run inside the environment: the package comes from the environment, every
# tremora library mapped comes from the package folder, and a fetch works.
CHECK = r"""
import importlib.metadata, pathlib, sys
import tremora, tremora.fetching as f
package = pathlib.Path(tremora.__file__).parent
assert package.is_relative_to(sys.prefix), package
mapped = {line.split()[-1] for line in open("/proc/self/maps") if "libtremora_" in line}
assert mapped and all(pathlib.Path(p).parent == package for p in mapped), mapped
conn = f.conn_to_Oracle("sample")
df = f.fetching_data(conn, "20240501", "20240502", "水位", "全部", "分钟值", "预处理库", gzip_flag=True)
assert len(df) > 1000, len(df)
print(importlib.metadata.version("tremora"))
"""


def run(command, **kwargs):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, command))} failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done.stdout


def project_version():
    for line in (SOURCE / "CMakeLists.txt").read_text().splitlines():
        if line.startswith("project(tremora VERSION "):
            return line.split()[2]
    sys.exit("no project version in CMakeLists.txt")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        env = dict(os.environ, TREMORA_BUILD_DIR=str(BUILD), PIP_NO_INDEX="1", HOME=str(tmp))
        env.pop("PYTHONPATH", None)
        run([TREMORA_BIN, "sample-db", "--station", "37001", tmp / "sample.db"])
        (tmp / "default.conf").write_text(f"[sample]\nDRIVER = sqlite\nHOST = sample.local\nDATABASE = {tmp}/sample.db\n")
        run([PYTHON, "-m", "venv", "--system-site-packages", tmp / "v"])
        run([tmp / "v/bin/pip", "install", "--no-build-isolation", "--no-index", SOURCE], env=env, cwd=tmp)
        version = run([tmp / "v/bin/python", "-c", CHECK], env=env, cwd=tmp).strip()
        if version != project_version():
            sys.exit(f"installed version {version}, the project's is {project_version()}")

        run([PYTHON, "-m", "build", "--wheel", "--no-isolation", "--outdir", tmp / "dist", SOURCE], env=env, cwd=tmp)
        wheels = list((tmp / "dist").glob("tremora-*.whl"))
        if len(wheels) != 1:
            sys.exit(f"expected one wheel, found {wheels}")
        with zipfile.ZipFile(wheels[0]) as wheel:
            names = set(wheel.namelist())
            links = [i.filename for i in wheel.infolist() if (i.external_attr >> 16) & 0o170000 == 0o120000]
        wanted = {"tremora/py.typed", "tremora/fetching.pyi", "tremora/libtremora_common.so.0"}
        if missing := wanted - names:
            sys.exit(f"the wheel lacks {sorted(missing)}")
        if not any(n.startswith("tremora/_tremora.") and n.endswith(".so") for n in names) or links:
            sys.exit(f"the wheel has no module or holds links {links}: {sorted(names)}")
    print(f"pip install and wheel of tremora {version}: ok")


main()
