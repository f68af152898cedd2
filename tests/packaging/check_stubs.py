"""The package's type stubs: current, consistent with the module, and usable.

Usage: PYTHONPATH=<build>/python check_stubs.py SOURCE_DIR

1. python/tools/make_stubs.py on the built module writes exactly the
   committed python/tremora/*.pyi (else: run it and commit the stubs);
2. mypy's stubtest finds no difference between the stubs and the module;
3. mypy accepts the README's Python example against the stubs (without
   strict Optional checks: the example opens `with conn_to_Oracle(...)`,
   which is None, and fails at once, when the alias does not connect).
"""
import filecmp
import os
import pathlib
import re
import subprocess
import sys
import tempfile

SOURCE = pathlib.Path(sys.argv[1]).resolve()
CONFIG = SOURCE / "tests/packaging/stubtest.ini"
PACKAGE = pathlib.Path(os.environ["PYTHONPATH"].split(os.pathsep)[0]) / "tremora"


def run(*command):
    done = subprocess.run([sys.executable, *map(str, command)], capture_output=True, text=True,
                          cwd=PACKAGE.parent)
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, command))} failed:\n{done.stdout}{done.stderr}")


def readme_python_example():
    text = (SOURCE / "README.md").read_text(encoding="utf-8")
    section = text[text.index("## Python"):]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


with tempfile.TemporaryDirectory() as tmp:
    tmp = pathlib.Path(tmp)
    run(SOURCE / "python/tools/make_stubs.py", tmp)
    committed = sorted(p.name for p in (SOURCE / "python/tremora").glob("*.pyi"))
    made = sorted(p.name for p in tmp.glob("*.pyi"))
    _, differ, missing = filecmp.cmpfiles(tmp, SOURCE / "python/tremora", made, shallow=False)
    if committed != made or differ or missing:
        sys.exit(f"the committed stubs are not those of the module (differ: {differ + missing}, "
                 f"committed {committed}, made {made}): run python/tools/make_stubs.py python/tremora")
    run("-m", "mypy.stubtest", "--mypy-config-file", CONFIG, "tremora")
    example = tmp / "readme_example.py"
    example.write_text(readme_python_example(), encoding="utf-8")
    run("-m", "mypy", "--config-file", CONFIG, "--no-incremental", "--no-strict-optional", example)
print("type stubs: current, consistent with the module, and the README example checks")
