#!/usr/bin/env python3
"""The matplotlib peer of the plotter's benchmark (bench/bench_tsplot.cpp).

Usage: python3 bench/python/bench_matplotlib_peer.py [OUT_DIR]

Draws what BM_PlotByItems draws, the way an analyst's matplotlib script
would: seven series of a year of minute samples (3,679,200 points), one
panel each on a shared time axis, 10 x 10.5 in, tight layout, saved as a
300 dpi PNG with the Agg backend. Prints the best of three runs, to set
beside `make bench`'s BM_PlotByItems.
"""
import os
import sys
import tempfile
import time

import matplotlib

matplotlib.use("Agg")
matplotlib.rcParams["font.family"] = ["Noto Serif CJK JP", "DejaVu Sans"]  # the font the charts' labels use
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

STATIONS = ["37001", "37005", "32005", "41001", "34002", "13001", "11003"]
PER_SERIES = 525_600


def series():
    rng = np.random.default_rng(5)
    k = np.arange(PER_SERIES)
    when = pd.date_range("2024-01-01", periods=PER_SERIES, freq="min")
    return when, [
        (10 + s + 0.3 * np.sin(k / 745.0) + 0.01 * rng.integers(0, 100, PER_SERIES)).astype(np.float32)
        for s in range(len(STATIONS))
    ]


def draw(when, values, path):
    fig, axes = plt.subplots(len(values), 1, figsize=(10, 1.5 * len(values)), sharex=True)
    for ax, station, v in zip(axes, STATIONS, values):
        ax.plot(when, v)  # lines.linewidth 1.5 pt, as the plotter draws
        ax.set_title(f"{station}-1 水位")
        ax.grid(True)
    fig.tight_layout()
    fig.savefig(path, dpi=300)
    plt.close(fig)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="tremora-mpl-")
    os.makedirs(out, exist_ok=True)
    when, values = series()
    times = []
    for run in range(3):
        start = time.perf_counter()
        draw(when, values, os.path.join(out, "items.png"))
        times.append(time.perf_counter() - start)
    print(f"matplotlib {matplotlib.__version__}: 7 panels, {len(values) * PER_SERIES:,} points, 300 dpi PNG: "
          f"best of 3 {min(times) * 1000:.0f} ms")


if __name__ == "__main__":
    main()
