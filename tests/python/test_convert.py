"""Tables to DataFrames and back: every column type, missing values, zones,
column order; bad input gives the documented error kinds."""
import datetime

import numpy as np
import pandas as pd
import pytest

from tremora import metastash, postprocessing

# normalize_columns gives every column back (names upper-cased, as these
# are already): a round trip through the library's table.
roundtrip = metastash.MetadataCache.normalize_columns


def frame_of_every_kind():
    index = pd.DatetimeIndex(["2024-03-01 00:00", "2024-03-01 01:00", "2024-03-02 00:00"], name="STARTDATE")
    return pd.DataFrame({
        "F": [1.5, np.nan, -2.0],
        "F32": np.array([0.5, 1.5, np.nan], dtype=np.float32),
        "I": [1, 2, 3],
        "B": [True, False, True],
        "S": ["郯城", None, "a,b"],
        "C": pd.Categorical(["4112", None, "4112"]),
        "Y": [b"\x00\x01", None, b""],
        "T": pd.to_datetime(["2024-01-01 08:00", None, "2024-01-02"]),
        "Z": pd.to_datetime(["2024-01-01 08:00", "2024-01-01 09:00", None]).tz_localize("Asia/Shanghai"),
        "D": pd.to_timedelta([1, None, 3], unit="s"),
        "N": pd.array([1, None, 3], dtype="Int64"),
    }, index=index)


def test_every_column_type_survives_a_round_trip():
    df = frame_of_every_kind()
    out = roundtrip(df)
    assert list(out.columns) == list(df.columns)
    assert isinstance(out.index, pd.DatetimeIndex) and out.index.name == "STARTDATE"
    pd.testing.assert_index_equal(out.index, df.index)
    for name in ["F", "I", "B", "T", "D"]:
        pd.testing.assert_series_equal(out[name], df[name], check_names=True)
    assert out["F32"].dtype == np.float32
    assert out["S"].tolist() == ["郯城", None, "a,b"]
    assert out["C"].dtype == "category" and out["C"].isna().tolist() == [False, True, False]
    assert out["Y"].tolist() == [b"\x00\x01", None, b""]
    assert str(out["Z"].dt.tz) == "Asia/Shanghai"
    assert out["Z"].iloc[0] == pd.Timestamp("2024-01-01 08:00", tz="Asia/Shanghai") and pd.isna(out["Z"].iloc[2])
    # An integer column with a missing value comes back as pandas keeps it: float64 with NaN.
    assert out["N"].iloc[0] == 1 and pd.isna(out["N"].iloc[1])


def test_zoned_index_and_mixed_objects():
    index = pd.date_range("2024-03-01 02:00", periods=3, freq="h", tz="Asia/Shanghai", name="STARTDATE")
    df = pd.DataFrame({"OBSVALUE": [1.0, 2.0, 3.0], "M": [1, "x", 2.5]}, index=index)
    out = roundtrip(df)
    assert str(out.index.tz) == "Asia/Shanghai"
    assert out.index[0] == pd.Timestamp("2024-03-01 02:00", tz="Asia/Shanghai")
    # The caller's frame gains the column, of the day written, not the UTC
    # day (which is 29 February).
    assert postprocessing.create_normalized_dates(df) is df
    assert df["datetime_norm"].iloc[0].day == 1
    assert out["M"].tolist() == ["1", "x", "2.5"]


def test_wrong_kinds_of_input_are_type_errors():
    with pytest.raises(TypeError, match="df"):
        postprocessing.first_difference([1, 2, 3])
    df = pd.DataFrame({"OBSVALUE": [1.0, 2.0], "X": [object(), object()]},
                      index=pd.DatetimeIndex(["2024-01-01", "2024-01-02"], name="STARTDATE"))
    with pytest.raises(TypeError, match="column 'X' holds a value of type object"):
        postprocessing.first_difference(df)
    # Times that are not times: the operation's own error kind and message.
    codes = {"STATIONID": ["1", "1"], "POINTID": ["1", "1"], "ITEMID": ["1", "1"], "OBSVALUE": [1.0, 2.0]}
    with pytest.raises(ValueError, match="cannot parse date text 'a'"):
        postprocessing.resample_timeseries_data(pd.DataFrame({"STARTDATE": ["a", "b"], **codes}), "1h")
    with pytest.raises(ValueError, match=r"缺少必要的列: STARTDATE \(it is the DataFrame's index: pass df.reset_index\(\)\)"):
        postprocessing.resample_timeseries_data(pd.DataFrame(codes, index=pd.DatetimeIndex(
            ["2024-01-01", "2024-01-01 00:30"], name="STARTDATE")), "1h")
    with pytest.raises(ValueError, match="缺少必要的列: STATIONID"):
        postprocessing.resample_timeseries_data(pd.DataFrame({"STARTDATE": ["2024-01-01"], "OBSVALUE": [1.0]}), "1h")
    # A key of texts that are not dates: the table comes back unchanged.
    no_times = pd.DataFrame({"OBSVALUE": [1.0, 2.0]}, index=pd.Index(["a", "b"], name="STARTDATE"))
    assert "datetime_norm" not in postprocessing.create_normalized_dates(no_times).columns


def test_series_in_series_out():
    values = np.zeros(200)
    values[100] = 50.0
    s = pd.Series(values, index=pd.date_range("2024-01-01", periods=200, freq="min"), name="OBSVALUE")
    out = postprocessing.filter_with_fast_mad(s)
    assert isinstance(out, pd.Series) and out.name == "OBSVALUE"
    pd.testing.assert_index_equal(out.index, s.index)
    assert out.iloc[100] == 0.0 and out.drop(out.index[100]).eq(0).all()
    # A plain list or array of values works too, as the values of a Series.
    for plain in (list(values), values):
        listed = postprocessing.filter_with_fast_mad(plain)
        np.testing.assert_array_equal(np.asarray(listed), out.to_numpy())
    assert postprocessing.fast_mad(np.array([1.0, 2.0, 3.0, 4.0, 100.0])) == pytest.approx(1.4826)


def test_split_lines_of_daily_data_changes_the_callers_frame():
    from tremora import cleaning
    days = pd.DataFrame({"STARTDATE": pd.to_datetime(["2024-01-02", "2024-01-01"]), "STATIONID": ["1", "1"],
                         "OBSVALUE": ["2.5", "1 2"]})
    out = cleaning.split_lines(days, 86400)
    assert out is days
    assert list(days.index) == [pd.Timestamp("2024-01-01"), pd.Timestamp("2024-01-02")]
    assert "STARTDATE" not in days.columns and days.index.name == "STARTDATE"
    assert np.isnan(days["OBSVALUE"].iloc[0]) and days["OBSVALUE"].iloc[1] == 2.5
    hours = pd.DataFrame({"STARTDATE": pd.to_datetime(["2024-01-01"]), "OBSVALUE": ["1 2"]})
    split = cleaning.split_lines(hours, 3600)
    assert split is not hours and len(split) == 2 and list(hours["OBSVALUE"]) == ["1 2"]
