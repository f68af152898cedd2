"""Text placed as matplotlib places it, measured against matplotlib itself
on the same texts in the same font (the one tremora's labels are set in):
a "center_baseline" text (every y tick label) and a text of two lines."""
import io
import re
import subprocess

import pytest

from tremora import plotkit

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.font_manager import FontProperties  # noqa: E402

TEXTS = [("0.5", 12, "center_baseline"), ("M 4.5\n2024-05-04", 9, "baseline"), ("一\n二\n三", 10, "top")]


def our_baselines():
    """Each text's line baselines below a reference baseline at the same anchor, in pt."""
    fig = plotkit.Figure(4, 3)
    ax, = fig.subplots(1)
    ax.plot([0, 1], [0, 1])
    ax.text(0.05, 0.5, "ref", fontsize=12, va="baseline")
    for i, (text, size, va) in enumerate(TEXTS):
        ax.text(0.3 + 0.2 * i, 0.5, text, fontsize=size, va=va)
    out = io.BytesIO()
    fig.save(out, format="svg")
    svg = out.getvalue().decode()
    elements = re.findall(r'<text[^>]*translate\(([-\d.]+) ([-\d.]+)\)[^>]*>(.*?)</text>', svg, re.S)
    ref = next(float(y) for _, y, body in elements if body == "ref")
    found = []
    for text, _, _ in TEXTS:
        first = text.split("\n")[0]
        y, body = next((float(y), body) for _, y, body in elements if re.sub("<[^>]+>", "|", body).strip("|").startswith(first))
        offsets = [float(o) for o in re.findall(r'<tspan x="[-\d.]+" y="([-\d.]+)"', body)] or [0.0]
        found.append([y + o - ref for o in offsets])
    return found


def font_file():
    return subprocess.run(["fc-match", "-f", "%{file}", "Noto Serif CJK SC"], capture_output=True, text=True).stdout


def matplotlib_baselines():
    fig, ax = plt.subplots(figsize=(4, 3), dpi=720)
    texts = [ax.text(0.5, 0.5, text, va=va, fontproperties=FontProperties(fname=font_file(), size=size))
             for text, size, va in TEXTS]
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    anchor = ax.transData.transform((0, 0.5))[1]
    found = []
    for t in texts:
        _, lines, descent = t._get_layout(renderer)
        last = t.get_window_extent(renderer).y0 + descent  # the last line's baseline
        ys = [line[3] for line in lines]
        found.append([(anchor - (last + y - ys[-1])) / 10 for y in ys])  # 10 px a pt at 720 dpi
    plt.close(fig)
    return found


def test_texts_sit_where_matplotlib_puts_them():
    ours, theirs = our_baselines(), matplotlib_baselines()
    for (text, _, va), mine, reference in zip(TEXTS, ours, theirs):
        assert len(mine) == len(reference), text
        assert mine == pytest.approx(reference, abs=0.5), f"{text!r} ({va}): ours {mine}, matplotlib {reference}"


def test_x_label_and_offset_text_below_the_tick_labels_as_in_matplotlib():
    import matplotlib.dates as mdates
    import numpy as np
    import pandas as pd
    from matplotlib.font_manager import fontManager
    times = pd.date_range("2024-05-01", "2024-05-21", freq="h")
    values = np.sin(np.arange(len(times)) / 10)

    fig = plotkit.Figure(10, 3)
    ax, = fig.subplots(1)
    ax.plot(times, values)
    ax.set_xlabel("日期 (Asia/Shanghai)")
    out = io.BytesIO()
    fig.save(out, format="svg")
    elements = re.findall(r'<text[^>]*translate\([-\d.]+ ([-\d.]+)\)[^>]*>(.*?)</text>', out.getvalue().decode(), re.S)
    tick = next(float(y) for y, body in elements if body == "05")
    ours = [next(float(y) for y, body in elements if body.startswith(start)) - tick for start in ("日期", "2024")]

    fontManager.addfont(font_file())
    with plt.rc_context({"font.family": FontProperties(fname=font_file()).get_name(), "font.size": 12}):
        f, a = plt.subplots(figsize=(10, 3), dpi=720)
        a.plot(times, values)
        a.set_xlabel("日期 (Asia/Shanghai)")
        locator = mdates.AutoDateLocator()
        a.xaxis.set_major_locator(locator)
        a.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        f.canvas.draw()
        renderer = f.canvas.get_renderer()

        def baseline(text):
            return text.get_window_extent(renderer).y0 + text._get_layout(renderer)[2]

        tick_label = next(t for t in a.get_xticklabels() if t.get_text() == "05")
        theirs = [(baseline(tick_label) - baseline(t)) / 10 for t in (a.xaxis.label, a.xaxis.get_offset_text())]
        plt.close(f)
    assert ours == pytest.approx(theirs, abs=0.5), f"x label and offset below the tick labels: ours {ours}, {theirs}"
