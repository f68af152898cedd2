#!/usr/bin/env python3
"""Runs the Python script of the README's Python section as shown: in a
fresh folder, after `tremora demo demo`, with the built package.

Usage: run_python_example.py README TREMORA_PROGRAM PYTHON_PACKAGE_DIR
"""
import os
import re
import subprocess
import sys
import tempfile

SECTION = "## Python"


def example_script(readme_text):
    start = readme_text.index(SECTION)
    end = readme_text.find("\n## ", start + len(SECTION))
    blocks = re.findall(r"^```python\n(.*?)^```", readme_text[start:end], re.S | re.M)
    if len(blocks) != 1:
        sys.exit(f"the README section {SECTION} should hold one python block, not {len(blocks)}")
    return blocks[0]


def main():
    readme, program, package = sys.argv[1:4]
    with open(readme, encoding="utf-8") as f:
        script = example_script(f.read())
    with tempfile.TemporaryDirectory(prefix="tremora-readme-python-") as folder:
        env = dict(os.environ, PYTHONPATH=package, HOME=os.path.join(folder, "demo", "home"))
        subprocess.run([program, "demo", "demo"], cwd=folder, env=env, check=True, capture_output=True)
        result = subprocess.run([sys.executable, "-c", script], cwd=folder, env=env, capture_output=True, text=True)
        sys.stdout.write(result.stdout)
        sys.stderr.write(result.stderr)
        if result.returncode != 0:
            sys.exit(f"the README's Python script failed with status {result.returncode}")
        demo = os.path.join(folder, "demo")
        for written in ["py_water.vuzo", "figures/py_4112_1.png", "figures/py_annual.png"]:
            path = os.path.join(demo, written)
            if not os.path.isfile(path) or os.path.getsize(path) == 0:
                sys.exit(f"the README's Python script did not write {written}")
        print("the README's Python script ran and wrote its files")


if __name__ == "__main__":
    main()
