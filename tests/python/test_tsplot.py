"""tremora.tsplot from Python: the plotter's state, its steps on figures of
our own, and the layouts' files, panels and marks."""
import logging

import numpy as np
import pandas as pd
import pytest

from tremora import geomag, plotkit, tsplot
from plot_helpers import KP_WDC, marks, observations, png_size

pytest_plugins = ["conftest_plots"]


def test_plotter_state_and_style(plotter, caplog):
    assert plotter.stats_style == {"mean_color": "r", "std_color": "gray", "mean_linestyle": "--",
                                   "std_linestyle": ":", "mean_alpha": 0.7, "std_alpha": 0.5,
                                   "mean_linewidth": 1.0, "std_linewidth": 1.0}
    assert plotter.items_table.columns[0] == "ITEMID" and "37001" in set(plotter.stations_table["STATIONID"])
    assert plotter.conn.info["tremora_db_alias"] == "sample"
    caplog.set_level(logging.WARNING, logger="plotting")
    plotter.set_stats_style(mean_color="blue", mean_colour="green")
    try:
        assert plotter.stats_style["mean_color"] == "blue" and "mean_colour" not in plotter.stats_style
        assert [r.getMessage() for r in caplog.records] == ["未知的统计线样式参数: mean_colour"]
    finally:
        plotter.set_stats_style(mean_color="r")
    with pytest.raises(TypeError):
        plotter.set_stats_style("blue")
    with pytest.raises(TypeError, match="conn"):
        tsplot.TSPlotter(conn="sample")


def test_series_steps(plotter, caplog):
    days = pd.DatetimeIndex(["2024-05-01 01:00", "2024-05-01 02:00", "2024-05-01 03:00", "2024-05-03 00:00"])
    ts = pd.DataFrame({"OBSVALUE": [10.0, 20.0, 40.0, 7.0], "STATIONID": "1"}, index=days)
    out, offset = plotter._process_data(ts)
    assert offset == 23.5 and list(out["OBSVALUE"]) == [-13.5, -3.5, 16.5, -16.5] and ts["OBSVALUE"].iloc[0] == 10
    median, _ = plotter._process_data(ts, set_zero=False, resample="D")  # daily medians, a gap day NaN
    assert list(median.columns) == ["OBSVALUE"] and median["OBSVALUE"].fillna(-1).tolist() == [20.0, -1, 7.0]
    unbinned, _ = plotter._process_data(ts, False, False, True)  # any other true value: no bins
    assert unbinned["OBSVALUE"].tolist() == [10.0, 20.0, 40.0, 7.0] and list(unbinned.columns) == ["OBSVALUE"]

    assert plotter._get_plot_type(1, "line", ["stem", "scatter"]) == "scatter"
    assert plotter._get_plot_type(1, "line", ("stem", "scatter")) == "line"  # only a list counts
    caplog.set_level(logging.WARNING, logger="plotting")
    assert plotter._sanitize_plot_kwargs({"remove_peaks_steps": 3, "color": "k"}) == {"color": "k"}
    assert "remove_peaks_steps is not a matplotlib plotting option" in caplog.text


def test_panel_steps_on_a_figure_of_our_own(plotter, in_tmp):
    fig = plotkit.Figure(10, 3)
    ax, quakes = fig.subplots(2)
    plotter._setup_axis(ax, "台站", unit="ms", y_ticks=[-5.0, 0, 5.0], invert_y=True)
    values = np.array([1.0, 2.0, 4.0, 8.0, np.nan])
    data = pd.DataFrame({"OBSVALUE": values}, index=pd.date_range("2024-05-01", periods=5, freq="D"))
    plotter._add_statistics(ax, data, show_mean=True, show_std=True, multiplier=3)
    plotter._add_annotations(ax, [{"text": "峰", "x": "2024-05-03", "y": 4.0}])
    panel = ax.describe()
    assert (panel["title"], panel["y"]["label"], panel["y"]["inverted"]) == ("台站", "$ 10^{-3} $角秒", True)
    assert list(panel["y"]["ticks"]) == [-5.0, 0.0, 5.0]
    lines = marks(panel, "hline")
    assert [m["label"] for m in lines] == ["Mean", "+3σ", "-3σ"]
    mean, std = np.nanmean(values), np.nanstd(values, ddof=1)
    np.testing.assert_allclose([m["y"][0] for m in lines], [mean, mean + 3 * std, mean - 3 * std])
    assert [m["text"] for m in marks(panel, "annotation")] == ["峰"]
    with pytest.raises(KeyError):
        plotter._add_annotations(ax, [{"text": "no y", "x": "2024-05-03"}])

    events = pd.DataFrame({"distance": [120.0, 40.0], "magnitude": [4.0, 5.0], "size": [5.0, 10.0],
                           "text": ["A", "B"]}, index=pd.DatetimeIndex(["2024-05-02", "2024-05-04"]))
    twin = plotter._add_secondary_data(quakes, events)
    assert twin.is_twin and (twin.describe()["y"]["low"], twin.describe()["y"]["high"]) == (0.0, 170.0)
    assert plotter._add_secondary_data(quakes, events.drop(columns="text")) is None
    plotter._save_figure(fig, "台站A_2")
    assert png_size(in_tmp / "figures" / "台站A_2.png") == fig.last_pixel_size


def test_plot_by_items_makes_one_figure_per_seven_series(plotter, in_tmp):
    ts = observations([("37001", str(p), "4112") for p in range(1, 17)])
    fig, axes = plotter.plot_by_items(ts, "A", True, "_x", show_mean=True, color="green", linewidth=2)
    names = sorted(p.name for p in (in_tmp / "figures").iterdir())
    assert names == ["A4112_x_1.png", "A4112_x_2.png", "A4112_x_3.png"]
    (w1, h1), (w3, h3) = png_size(in_tmp / "figures" / names[0]), png_size(in_tmp / "figures" / names[2])
    assert (w3, h3) == fig.last_pixel_size
    assert 2400 < w1 <= 3060 and 7 * 1.5 * 300 * 0.8 < h1 <= 7 * 1.5 * 300 + 60 and h3 < h1 / 2  # 300 dpi
    panels = fig.describe()
    assert len(axes) == len(panels) == 2
    # Points sort as texts: the last figure holds points 8 and 9.
    series = ts[ts["POINTID"] == "8"]["OBSVALUE"]
    base = round((float(series.max()) + float(series.min())) / 2, 1)
    assert panels[0]["title"] == f"郯城/8/水位/base={base}"
    line = marks(panels[0], "line")[0]
    assert line["color"] == (0.0, 128 / 255, 0.0, 1.0) and line["linewidth"] == 2.0
    np.testing.assert_allclose(line["y"], series - (series.max() + series.min()) / 2, atol=1e-5)
    assert [m["label"] for m in marks(panels[0], "hline")] == ["Mean"]

    # Every saved figure stays at hand; the last one takes more marks under
    # matplotlib's names (times in days since 1970, as describe says) and
    # is saved again with them.
    assert [len(a) for _, a in plotter.figures] == [7, 7, 2]
    assert [p["title"] for p in plotter.figures[-1][0].describe()] == [p["title"] for p in panels]
    assert repr(plotter).startswith("<TSPlotter of ") and panels[0]["x"]["unit"] == "days since 1970-01-01"
    before = fig._repr_png_()
    top = axes[0]
    when = pd.Timestamp(series.index[10])
    top.axvline(when, color="red", label="event")
    top.axvspan(series.index[20], series.index[30], alpha=0.2)
    top.plot(series.index, series.to_numpy() * 0, "k--", lw=0.5)
    top.scatter([when], [0.0], s=20, c="b")
    top.fill_between(series.index, series.to_numpy() * 0 + 1, 0.0)
    top.text(0.5, 0.5, "note", transform=top.transAxes)
    top.annotate("here", xy=(when, 0.0), xytext=(5, 5), textcoords="offset points", arrowprops={"arrowstyle": "->"})
    top.axhline(1.0)
    top.set_title("T")
    top.set_ylabel("Y")
    top.legend(loc="upper right")
    added = top.describe()
    kinds = [m["kind"] for m in added["marks"]][-8:]
    assert kinds == ["vline", "vspan", "line", "scatter", "fill", "text", "annotation", "hline"]
    days = (when - pd.Timestamp("1970-01-01")) / pd.Timedelta(days=1)
    assert marks(added, "vline")[0]["x"][0] == pytest.approx(days)
    assert (added["title"], added["y"]["label"]) == ("T", "Y") and fig._repr_png_() != before
    with pytest.raises(TypeError, match="unexpected keyword argument 'colour'"):
        top.plot(series.index, series, colour="red")
    top.set_xlim(series.index[5], series.index[40])
    top.set_ylim(-2, 2)
    top.grid(True)
    top.invert_yaxis()
    view = top.describe()
    assert (view["x"]["low"], view["y"]["low"], view["y"]["high"], view["y"]["inverted"]) == (
        pytest.approx((series.index[5] - pd.Timestamp("1970-01-01")) / pd.Timedelta(days=1)), -2, 2, True)
    with pytest.raises(ValueError, match="set_ylim: the two ends must be finite numbers that differ"):
        top.set_ylim(1, 1)


def test_plot_by_station_with_rainfall_quakes_and_kp(plotter, catalogue, in_tmp):
    ts = observations([("37001", "1", "4112")], start="2024-05-08", periods=96)
    rain = pd.DataFrame({"OBSVALUE": [0.0, 5.0, 12.5]}, index=pd.date_range("2024-05-08", periods=3, freq="D"))
    kp = geomag.read_kp_file(KP_WDC)
    fig, axes = plotter.plot(ts, "STATION", "P", "", rainfall=rain, show_geomag=True, geomag_data=kp,
                             quakecat_dir=catalogue, quakecat_filters=[(500, 0.0)],
                             plot_types=["scatter"], std_multiplier=2.5, show_std=True)
    assert (in_tmp / "figures" / "P37001_1.png").exists() and len(axes) == 3
    series, rainfall, kp_panel = fig.describe()
    assert [m["label"] for m in marks(series, "hline")] == ["+2.5σ", "-2.5σ"]
    assert len(marks(series, "scatter")) == 1
    assert rainfall["title"] == "降雨量" and list(marks(rainfall, "bar")[0]["y"]) == [0.0, 5.0, 12.5]
    assert kp_panel["title"] == "Kp — GFZ Potsdam (CC BY 4.0)"
    # Every 3-hour interval that overlaps the four days in Shanghai time is a bar.
    local = kp.tz_convert("Asia/Shanghai").tz_localize(None)
    first, last = ts.index.min(), ts.index.max()
    shown = local[(local.index + pd.Timedelta(hours=3) > first) & (local.index <= last)]
    bars = marks(kp_panel, "bar")
    assert sum(len(b["y"]) for b in bars) == len(shown)
    assert max(max(b["y"]) for b in bars) == shown["Kp"].max() >= 5  # the storm of 10-11 May 2024

    # The catalogue's one event of those days, Ml 4.6 at 泰安 on 10 May, on the second y axis.
    (quakes,) = series["twin"]
    assert [m["text"].split("\n")[0] for m in marks(quakes, "annotation")] == ["山东泰安Ml4.6"]

    # An end given as a UTC Timestamp cuts the series (on the Shanghai clock)
    # at that instant: 00:00 UTC on the 10th is 08:00 there.
    end = pd.Timestamp("2024-05-10", tz="UTC")
    fig, _ = plotter.plot(ts, "STATION", "Z", "", show_geomag=True, geomag_data=kp, end_time=end)
    series, kp_panel = fig.describe()
    last = pd.Timestamp("1970-01-01") + pd.Timedelta(days=float(marks(series, "line")[0]["x"][-1]))
    assert last.round("min") == pd.Timestamp("2024-05-10 08:00")


def test_plot_refuses_wrong_kinds_and_unknown_groupings(plotter, in_tmp, caplog):
    ts = observations([("37001", "1", "4112")])
    caplog.set_level(logging.ERROR, logger="plotting")
    assert plotter.plot(ts, groupby="point") == (None, None)
    assert "不支持的分组方式: point" in caplog.text and not (in_tmp / "figures").exists()
    for kwargs, name in [({"show_mean": "yes"}, "show_mean"), ({"color": [1, 2]}, "color"),
                         ({"start_time": 5}, "start_time"), ({"rainfall": "rain.csv"}, "rainfall"),
                         ({"annotations": {"4112": {"37001_1": [{"text": "a", "x": 3, "y": 1}]}}}, "annotations")]:
        with pytest.raises(TypeError, match=name):
            plotter.plot_by_stations(ts, **kwargs)
    with pytest.raises(TypeError, match="multiple values for argument 'prefix'"):
        plotter.plot_by_items(ts, "A", prefix="B")
    with pytest.raises(TypeError, match="ts"):
        plotter.plot([1, 2, 3])
