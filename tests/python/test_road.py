"""The whole road from Python on the sample database."""
import json

import numpy as np
import pandas as pd
import pytest

import tremora
from tremora import export, fetching, postprocessing


def mad_rule_by_pandas(values, window=15, factor=5.0):
    """The MAD rule written with pandas: centred rolling median and MAD (a
    window with a missing value or past the data gives none), both filled
    forward then backward, samples beyond factor x MAD replaced."""
    s = pd.Series(np.asarray(values, dtype="float64"))
    rolling = s.rolling(window, center=True)
    median = rolling.median()
    mad = rolling.apply(lambda w: 1.4826 * np.median(np.abs(w - np.median(w))), raw=True)
    median, mad = median.ffill().bfill(), mad.ffill().bfill()
    return s.where(~((s - median).abs() > factor * mad), median).to_numpy()


def test_connection_is_closed_by_with(workdir):
    with fetching.conn_to_Oracle("sample") as c:
        assert c.is_open
        assert c.info["tremora_db_alias"] == "sample"
        rows = c.query("SELECT STATIONID FROM QZDATA.QZ_DICT_STATIONS WHERE STATIONNAME = :name", {"name": "郯城"})
        assert list(rows["STATIONID"]) == ["37001"]
    assert not c.is_open
    assert fetching.conn_to_Oracle("no-such-alias") is None


def test_fetch_filter_resample_difference_export(conn, workdir):
    tables = fetching.refresh_metastash(conn)
    assert sorted(tables) == ["items", "methods", "points", "stationitems", "stations"]
    stations, points, items = fetching.timeseries_info(conn)
    assert "郯城" in set(stations["STATIONNAME"])

    ts = fetching.fetching_data(conn, "20240509", "20240511", "水位", "全部", "分钟值", "预处理库", gzip_flag=True)
    assert isinstance(ts, pd.DataFrame)
    assert isinstance(ts.index, pd.DatetimeIndex) and ts.index.name == "STARTDATE"
    assert ts.index.min() == pd.Timestamp("2024-05-09") and ts.index.max() == pd.Timestamp("2024-05-11 23:59")
    assert ts["OBSVALUE"].dtype == np.float32  # day rows hold single-precision samples
    series = ts.groupby(["STATIONID", "POINTID", "ITEMID"], observed=True).size()
    assert (series == 3 * 1440).all()
    # Codes are categories in sorted order, also in day rows that were not split.
    days = fetching.fetching_data(conn, "20240509", "20240511", "水位", "全部", "分钟值", "预处理库",
                                  gzip_flag=True, my_split_lines=False)
    for table in (ts, days):
        for name in ("STATIONID", "POINTID", "ITEMID"):
            assert isinstance(table[name].dtype, pd.CategoricalDtype), name
            categories = list(table[name].cat.categories)
            assert categories == sorted(categories), name
    assert fetching.fetching_data(conn, "20240509", "20240511", "无此方法", "全部", "分钟值", "预处理库") is None

    clean = postprocessing.filter_with_fast_mad(ts)
    assert clean.shape == ts.shape
    # Each series is filtered on its own, in time order, as pandas applies
    # the rule to it: the network's interleaved rows never share a window.
    changed = 0
    for _, rows in ts.reset_index().groupby(["STATIONID", "POINTID", "ITEMID"], observed=True):
        rows = rows.sort_values("STARTDATE", kind="stable")
        expected = mad_rule_by_pandas(rows["OBSVALUE"]).astype(np.float32)
        got = clean["OBSVALUE"].to_numpy()[rows.index.to_numpy()]
        np.testing.assert_array_equal(got, expected)
        changed += int((got != rows["OBSVALUE"].to_numpy()).sum())
    assert changed > 0  # the sample's spikes were there, and are gone
    assert (clean["OBSVALUE"].max() - clean["OBSVALUE"].min()) <= (ts["OBSVALUE"].max() - ts["OBSVALUE"].min())

    hourly = postprocessing.resample_timeseries_data(ts.reset_index(), "1h", "mean")
    one = ts[ts["STATIONID"] == "37001"]["OBSVALUE"]
    expected = one.resample("1h").mean()
    got = hourly[hourly["STATIONID"] == "37001"].set_index("STARTDATE")["OBSVALUE"]
    # pandas averages the float32 samples in float32; the library in float64.
    np.testing.assert_allclose(got.to_numpy(), expected.to_numpy(), rtol=1e-6)

    diff = postprocessing.first_difference(ts)
    by_pandas = ts.groupby(["STATIONID", "POINTID", "ITEMID"], observed=True)["OBSVALUE"].diff().astype("float64")
    assert len(diff) == by_pandas.notna().sum()
    first = diff[diff["STATIONID"] == "37001"]["OBSVALUE"].iloc[:5].to_numpy()
    np.testing.assert_allclose(first, by_pandas[ts["STATIONID"] == "37001"].dropna().iloc[:5].to_numpy(), rtol=1e-5)

    fetching.DataFetcher.export_vuzo(conn, ts, str(workdir / "water.vuzo"), 60)
    rows, context = export.read_vuzo(workdir / "water.vuzo")
    assert len(rows) == len(ts) and context["sampling_rate"] == 60
    assert {r["STATIONID"] for r in context["station_info"]} == set(ts["STATIONID"])
    # The context as records goes back in: to_vuzo takes lists of dicts, a
    # whole float rate, and stamps the time when export_time is left out.
    again = export.to_vuzo(ts.head(3), {"station_info": context["station_info"], "item_info": context["item_info"],
                                        "sampling_rate": 60.0})
    for key in ("station_info", "item_info"):
        assert json.loads(again.attrs[key]) == json.loads(rows.attrs[key])
    assert json.loads(again.attrs["export_time"]) > json.loads(rows.attrs["export_time"])

    # copy=False gives the caller's table the differences, as documented.
    mine = ts.head(50).copy()
    kept = postprocessing.first_difference(mine, copy=False, keep_first=True)
    np.testing.assert_allclose(mine["OBSVALUE"].to_numpy(), kept["OBSVALUE"].to_numpy(), equal_nan=True)
    assert np.isnan(mine["OBSVALUE"].iloc[0])


def test_dialog_and_canned_loaders(conn):
    log = fetching.fetching_dialog(conn, startdate="20240101", enddate="20241231")
    assert isinstance(log, pd.DataFrame) and len(log) > 0
    water = fetching.load_Oracle_data_water_year(conn)
    assert water.index.is_monotonic_increasing
    steps = water.index.to_series().diff().dropna()
    assert (steps == pd.Timedelta(days=1)).all()
    assert water["OBSVALUE"].dtype == np.float32


def test_arguments_as_python_callers_pass_them(conn, workdir):
    """None for an absent argument, integers for point codes, path objects
    for files, 60.0 for a rate, and copy= are taken as the calls document."""
    from tremora import metastash
    assert fetching.DatabaseType.get_id(None) is None
    assert fetching.SampleRateType.get_config(None) is None
    cache = metastash.MetadataCache
    assert cache.safe_namespace() == ""
    assert cache.resolve_cache_dir(None, None) == cache.resolve_cache_dir("", "")
    assert cache.cache_path("items", cache_dir=workdir / "c") == str(workdir / "c" / "items.parquet")
    assert sorted(cache.refresh_cache(conn, cache_dir=None, tables=None, namespace=None)) == sorted(cache.TABLE_SPECS)
    assert sorted(fetching.refresh_metastash(conn, cache_dir=None, tables=None)) == sorted(cache.TABLE_SPECS)

    request = (conn, "20240509", "20240509", "水位", "全部", "分钟值", "预处理库")
    by_text = fetching.fetching_data(*request, gzip_flag=True, pointid="1")
    by_number = fetching.fetching_data(*request, gzip_flag=True, pointid=1)
    pd.testing.assert_frame_equal(by_number, by_text)
    assert len(by_text) > 0
    assert len(fetching.DataFetcher.fetch_data(*request, gzip_flag=True, point_id=1)) == len(by_text)
    # An aware time names its own day, as its text does (02:00 at +08:00 is
    # the 8th in UTC).
    import datetime
    early = datetime.datetime(2024, 5, 9, 2, tzinfo=datetime.timezone(datetime.timedelta(hours=8)))
    by_time = fetching.fetching_data(conn, early, early, *request[3:], gzip_flag=True, pointid="1")
    pd.testing.assert_frame_equal(by_time, by_text)

    pd.testing.assert_frame_equal(postprocessing.first_difference(by_text.copy(), copy=False),
                                  postprocessing.first_difference(by_text))

    with_float = fetching.DataFetcher.to_vuzo(conn, by_text, 60.0)
    pd.testing.assert_frame_equal(with_float, fetching.DataFetcher.to_vuzo(conn, by_text, 60))
    fetching.DataFetcher.export_vuzo(conn, by_text, workdir / "path.vuzo", 60.0)
    assert (workdir / "path.vuzo").stat().st_size > 0
    try:
        fetching.DataFetcher.to_vuzo(conn, by_text, 60.5)
        raise AssertionError("60.5 s is no sampling rate")
    except TypeError as e:
        assert "sampling_rate" in str(e)


def test_internal_operations_are_bound(workdir):
    import configparser
    frames = [pd.DataFrame({"stationid": ["1"], "obsvalue": [1.0]},
                           index=pd.DatetimeIndex(["2024-01-01"], name="startdate"))]
    fetching.MetadataFetcher._normalize_dataframe_columns(frames)
    assert list(frames[0].columns) == ["STATIONID", "OBSVALUE"] and frames[0].index.name == "STARTDATE"
    # The client folder is read from the Python configuration (no client is there).
    config = configparser.ConfigParser()
    config.read_string(f"[qz]\nORACLE_CLIENT_LIB_DIR = {workdir}\n")
    with pytest.raises(ImportError, match=f"searched '{workdir}'"):
        fetching.DatabaseConnector._init_oracle_thick_mode(config, "qz")
    # A folder whose name holds '%' (written '%%' in the file) is the folder.
    odd = workdir / "50%client"
    config.read_string(f"[pct]\nORACLE_CLIENT_LIB_DIR = {str(odd).replace('%', '%%')}\n")
    with pytest.raises(ImportError, match=f"searched '{odd}'"):
        fetching.DatabaseConnector._init_oracle_thick_mode(config, "pct")


def test_no_connection_is_said_before_the_missing_cache(workdir):
    request = ("20240509", "20240509", "水位", "全部", "分钟值", "预处理库")
    with pytest.raises(FileNotFoundError, match=r"no connection \(conn is None\), and the metadata cache has no"):
        fetching.fetching_data(None, *request)
    closed = fetching.conn_to_Oracle("sample")
    closed.close()
    with pytest.raises(FileNotFoundError, match=r"no connection \(conn is closed\)"):
        fetching.DataFetcher.fetch_data(closed, *request)
