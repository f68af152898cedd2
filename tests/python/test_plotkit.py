"""tremora.plotkit from Python: fonts, statistics, step codes, the regular
grid, the figures folder and the chart objects."""
import datetime
import io
import logging

import numpy as np
import pandas as pd
import pytest

from tremora import plotkit
from plot_helpers import png_size

pytest_plugins = ["conftest_plots"]


def test_font_constants_and_sampling_rate_steps():
    assert plotkit.font_title == {"family": "STSong", "color": "black", "weight": "normal", "size": 11.0}
    assert plotkit.font_xlabel == {"family": "STSong", "weight": "normal", "size": 11.0}
    assert plotkit.font_suptitle["family"] == "SimHei" and plotkit.font_suptitle["size"] == 16
    assert plotkit.legend_font == {"family": "STSong", "size": 9.0}
    assert plotkit.id_to_freq == {"02": "s", "01": "min", "60": "h", "90": "D"}
    style = plotkit.text_style(plotkit.font_title, base={"italic": True})
    assert (style["family"], style["size"], style["color"], style["italic"]) == ("STSong", 11, (0, 0, 0, 1), True)
    with pytest.raises(TypeError, match="font"):
        plotkit.text_style("STSong")


def test_calculate_stats_agrees_with_numpy():
    values = np.random.default_rng(7).normal(5, 2, 1000)
    values[::17] = np.nan
    df = pd.DataFrame({"OBSVALUE": values.astype(np.float32), "X": values})
    stats = plotkit.calculate_stats(df, column="X", multiplier=3)
    assert list(stats) == ["mean", "median", "std", "min", "max", "lower_limit", "upper_limit"]
    std = np.nanstd(values, ddof=1)
    expected = [np.nanmean(values), np.nanmedian(values), std, np.nanmin(values), np.nanmax(values),
                np.nanmean(values) - 3 * std, np.nanmean(values) + 3 * std]
    np.testing.assert_allclose(list(stats.values()), expected, rtol=1e-12)
    assert plotkit.calculate_stats(df)["mean"] == pytest.approx(np.nanmean(values), rel=1e-6)

    one = plotkit.calculate_stats(pd.DataFrame({"OBSVALUE": [4.0]}))
    assert one["mean"] == one["median"] == one["min"] == one["max"] == 4.0
    assert np.isnan(one["std"]) and np.isnan(one["upper_limit"])

    with pytest.raises(KeyError, match="NOPE"):
        plotkit.calculate_stats(df, column="NOPE")
    with pytest.raises(TypeError):
        plotkit.calculate_stats(pd.DataFrame({"OBSVALUE": ["abc"]}))
    with pytest.raises(TypeError, match="df"):
        plotkit.calculate_stats([1, 2, 3])


def test_get_freq_str_takes_every_kind_of_time_span():
    cases = {30: "30s", 59.9: "59s", 0.5: "0s", 60: "1min", 90: "1min", 3599: "59min", 3600: "1h",
             7200: "2h", 86399: "23h", 86400: "1D", 3 * 86400: "1D"}
    for seconds, code in cases.items():
        assert plotkit.get_freq_str(datetime.timedelta(seconds=seconds)) == code
        assert plotkit.get_freq_str(pd.Timedelta(seconds=seconds)) == code
    assert plotkit.get_freq_str(np.timedelta64(2, "h")) == "2h"
    with pytest.raises(TypeError, match="timedelta"):
        plotkit.get_freq_str(60)
    assert plotkit.most_frequent_step(pd.to_datetime(["00:00", "00:10", "00:20", "00:25"])) == "10min"


def test_reindex_df_by_interval_matches_a_pandas_grid():
    times = pd.to_datetime(["2024-05-01 00:00", "2024-05-01 00:01", "2024-05-01 00:04"])
    df = pd.DataFrame({"OBSVALUE": [1.0, 2.0, 5.0], "SAMPLERATE": ["01"] * 3},
                      index=pd.DatetimeIndex(times, name="STARTDATE"))
    out = plotkit.reindex_df_by_interval(df)
    expected = df.reindex(pd.date_range(times[0], times[-1], freq="min", name="STARTDATE"))
    pd.testing.assert_index_equal(out.index, expected.index)
    np.testing.assert_array_equal(out["OBSVALUE"].to_numpy(), expected["OBSVALUE"].to_numpy())
    assert out["SAMPLERATE"].isna().tolist() == [False, False, True, True, False]
    assert len(df) == 3  # the caller's table is left alone

    # Without SAMPLERATE the most frequent step decides: rows off the 10-minute grid go.
    steps = pd.date_range("2024-05-01", periods=6, freq="10min").append(pd.DatetimeIndex(["2024-05-01 00:55"]))
    out = plotkit.reindex_df_by_interval(pd.DataFrame({"OBSVALUE": np.arange(7.0)}, index=steps))
    assert list(out.index) == list(pd.date_range("2024-05-01", periods=6, freq="10min"))

    with pytest.raises(ValueError):
        plotkit.reindex_df_by_interval(pd.DataFrame({"OBSVALUE": [1.0, 2.0]}, index=[times[0], times[0]]))


def test_figures_folder_and_a_figure_of_our_own(in_tmp, caplog):
    caplog.set_level(logging.INFO, logger="plotting")
    plotkit.create_figures_folder()
    plotkit.create_figures_folder()
    assert (in_tmp / "figures").is_dir()
    messages = [r.getMessage() for r in caplog.records if r.name == "plotting"]
    assert messages.count("Created figures folder") == 1
    assert sum(m.startswith("Current working directory: ") for m in messages) == 2

    fig = plotkit.Figure(4, 3)
    top, bottom = fig.subplots(2)
    fig.save(in_tmp / "own.png", dpi=100)
    width, height = png_size(in_tmp / "own.png")
    assert (width, height) == fig.last_pixel_size and 0 < width <= 420 and 0 < height <= 320
    assert (bottom.index, len(fig.describe()), bottom.describe()["marks"]) == (1, 2, [])
    with pytest.raises(TypeError, match="path"):
        fig.save(3)
    with pytest.raises(ValueError, match="panels already"):  # the panels above stay valid
        fig.subplots(1)

    # In a notebook and in matplotlib's habits: the same image inline, in a
    # file object and under savefig's names; reprs that say what they hold.
    png = fig._repr_png_()
    assert png == (in_tmp / "own.png").read_bytes()
    assert fig._repr_svg_().lstrip().startswith("<?xml") and "</svg>" in fig._repr_svg_()
    buffer = io.BytesIO()
    fig.save(buffer)
    assert buffer.getvalue() == png
    buffer = io.BytesIO()
    fig.savefig(buffer, format="svg", dpi=100, bbox_inches="tight")
    assert buffer.getvalue().decode().rstrip().endswith("</svg>")  # (cairo numbers its surfaces anew each time)
    fig.savefig(in_tmp / "named", format="png")
    assert (in_tmp / "named").read_bytes() == png
    with pytest.raises(ValueError, match="bbox_inches"):
        fig.savefig(buffer, bbox_inches="standard")
    assert repr(fig) == "<Figure size 400x300 with 2 Axes>"
    assert repr(bottom) == "<Axes panel 1>"
