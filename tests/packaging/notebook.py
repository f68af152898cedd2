"""A notebook run headless shows a tremora Figure inline.

Usage: PYTHONPATH=<build>/python notebook.py

Writes a notebook that draws a Figure and leaves it as the cell's value,
runs it with `jupyter nbconvert --execute` on a kernel of this Python, and
checks that the cell's output holds a PNG (from Figure._repr_png_) of the
figure's size, and the SVG beside it.
"""
import base64
import json
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

import nbformat

CELL = """\
import pandas as pd
from tremora import plotkit
fig = plotkit.Figure(4, 3)
ax, = fig.subplots(1)
t = pd.date_range("2024-05-01", periods=48, freq="h")
ax.plot(t, range(48), label="rising")
ax.axvline(t[24], color="red")
ax.legend()
fig
"""

with tempfile.TemporaryDirectory() as tmp:
    tmp = pathlib.Path(tmp)
    kernel = tmp / "jupyter/kernels/tremora-test"
    kernel.mkdir(parents=True)
    (kernel / "kernel.json").write_text(json.dumps({
        "argv": [sys.executable, "-m", "ipykernel_launcher", "-f", "{connection_file}"],
        "display_name": "tremora test", "language": "python"}))
    notebook = tmp / "inline.ipynb"
    nb = nbformat.v4.new_notebook(cells=[nbformat.v4.new_code_cell(CELL)])
    nb.metadata["kernelspec"] = {"name": "tremora-test", "display_name": "tremora test", "language": "python"}
    nbformat.write(nb, notebook)
    env = dict(os.environ, JUPYTER_PATH=str(tmp / "jupyter"), JUPYTER_DATA_DIR=str(tmp / "data"),
               JUPYTER_RUNTIME_DIR=str(tmp / "runtime"), IPYTHONDIR=str(tmp / "ipython"), HOME=str(tmp),
               PYDEVD_DISABLE_FILE_VALIDATION="1",
               PYTHONPATH=os.pathsep.join(str(pathlib.Path(p).resolve())
                                          for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p))
    done = subprocess.run([sys.executable, "-m", "nbconvert", "--to", "notebook", "--execute",
                           "--ExecutePreprocessor.timeout=60", "--output", "ran.ipynb", notebook],
                          capture_output=True, text=True, env=env, cwd=tmp)
    if done.returncode != 0:
        sys.exit(f"nbconvert failed:\n{done.stdout}\n{done.stderr}")
    outputs = nbformat.read(tmp / "ran.ipynb", as_version=4).cells[0].outputs
    data = next((o["data"] for o in outputs if o.get("output_type") == "execute_result"), None)
    if data is None or "image/png" not in data or "image/svg+xml" not in data:
        sys.exit(f"the cell shows no inline PNG and SVG: {outputs}")
    png = base64.b64decode(data["image/png"])
    width, height = struct.unpack(">II", png[16:24])
    if png[:8] != b"\x89PNG\r\n\x1a\n" or not (300 < width <= 420 and 200 < height <= 320):
        sys.exit(f"the inline image is not the 4 x 3 in figure at 100 dpi: {width} x {height}")
print(f"notebook: the figure shows inline ({width} x {height} PNG, and SVG)")
