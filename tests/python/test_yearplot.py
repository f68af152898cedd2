"""tremora.yearplot from Python: the annual chart's file, lines and labels,
and a Python tick formatter called while the chart is drawn."""
import logging
import pathlib

import numpy as np
import pandas as pd
import pytest

from tremora import yearplot
from plot_helpers import marks, png_size

pytest_plugins = ["conftest_plots"]


def three_years():
    index = pd.date_range("2020-01-01", "2022-12-31", freq="D", name="STARTDATE")
    values = 10 + index.year - 2020 + np.sin(np.arange(len(index)) / 20.0)
    return pd.DataFrame({"OBSVALUE": values.astype(np.float32)}, index=index)


def test_annual_chart_file_lines_and_caller_table(in_tmp):
    df = three_years()
    fig, ax = yearplot.plot_annual_comparison(df, station_name="A", direction="NS", figsize=(6, 4), dpi=100)
    width, height = png_size(in_tmp / "figures" / "Annual_Comparison.png")
    assert (width, height) == fig.last_pixel_size and 400 < width <= 620 and 250 < height <= 420
    panel = ax.describe()
    assert panel["title"] == "ANS同年对比" and panel["y"]["label"] == "Observation Value"
    means = df["OBSVALUE"].groupby(df.index.year).mean()
    lines = [m for m in marks(panel, "line") if m["label"]]
    assert [m["label"] for m in lines] == [f"{year} (Mean: {mean:.2f})" for year, mean in means.items()]
    overall = [m for m in marks(panel, "hline")]
    assert len(overall) == 1 and overall[0]["y"][0] == pytest.approx(means.mean(), rel=1e-6)
    assert len(marks(panel, "fill")) == 1
    # The table gains the normalised dates the chart is drawn on.
    assert df["datetime_norm"].iloc[366] == pd.Timestamp("2024-01-01")
    # A path object into ./figures (its "./" dropped by pathlib) lands there.
    yearplot.plot_annual_comparison(df, output_file=pathlib.Path("./figures/p.png"))
    assert (in_tmp / "figures" / "p.png").is_file() and not (in_tmp / "figures" / "figures").exists()


def test_python_tick_formatter_runs_while_the_chart_is_drawn(in_tmp, caplog):
    positions = []

    def label(value, position):
        positions.append(position)
        return f"<{value:g}>"

    fig, ax = yearplot.plot_annual_comparison(three_years(), output_file="./figures/f.png", y_axis_format=label,
                                              dpi=50)
    assert (in_tmp / "figures" / "f.png").exists() and positions  # called while the file was drawn
    labels = ax.describe()["y"]["labels"]
    assert labels and all(t.startswith("<") and t.endswith(">") for t in labels)
    assert set(positions) >= set(range(len(labels)))

    caplog.set_level(logging.ERROR, logger="plotting")

    def broken(value, position):
        raise ZeroDivisionError("no labels today")

    fig, ax = yearplot.plot_annual_comparison(three_years(), output_file="b.png", y_axis_format=broken, dpi=50)
    assert "Error saving chart: " in caplog.text and "no labels today" in caplog.text
    with pytest.raises(ZeroDivisionError):
        ax.describe()


def test_wrong_kinds_name_their_argument(in_tmp, caplog):
    df = three_years()
    for kwargs, name in [({"y_axis_format": 5}, "y_axis_format"), ({"figsize": "big"}, "figsize")]:
        with pytest.raises(TypeError, match=name):
            yearplot.plot_annual_comparison(df, **kwargs)
    # A file name that is none is the save's failure: logged, the figure returned.
    with caplog.at_level(logging.ERROR, logger="plotting"):
        figure, _ = yearplot.plot_annual_comparison(df, 123)
    assert figure is not None
    assert any(r.getMessage().startswith("Error saving chart: ") for r in caplog.records)
    with pytest.raises(TypeError, match="df"):
        yearplot.plot_annual_comparison(df["OBSVALUE"])
    with pytest.raises(KeyError, match="OBSVALUE"):
        yearplot.plot_annual_comparison(df.rename(columns={"OBSVALUE": "V"}))
