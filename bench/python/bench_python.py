#!/usr/bin/env python3
"""The Python package's speed, beside the same operations written with pandas.

Usage: PYTHONPATH=build/python python3 bench/python/bench_python.py

1. fetching_data of a year of minute data of three series (1095 day rows
   with gzip values, 1,576,800 samples) into a DataFrame, beside the C++
   fetch alone (the same call without the conversion) and beside pandas:
   read_sql of the day rows, gzip inflating, then splitting with whole-array
   operations (the best pandas coding), and with a loop over the day rows.
2. filter_with_fast_mad of a 1,000,000-row Series, beside pandas' centred
   rolling median and MAD.
3. Converting the fetched 1,576,800-row table to a DataFrame.

Each figure is the best of a few runs.
"""
import gzip
import io
import os
import sqlite3
import tempfile
import time

import numpy as np
import pandas as pd

import tremora
from tremora import fetching, postprocessing
from tremora._tremora import _bench

SAMPLES = 1_576_800


def best(f, repeat=3):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - start)
    return min(times), result


def pandas_fetch(path):
    """The fetch as a pandas script does it: the day rows, then inflate and split."""
    with sqlite3.connect(path) as db:
        names = [r[0] for r in db.execute(
            "SELECT name FROM sqlite_master WHERE name LIKE 'QZ_2%_DYU_01'")]
        days = pd.concat(pd.read_sql(
            f"SELECT * FROM {n} WHERE STATIONID = '32005'", db) for n in names)
    rows = []
    for start, station, point, item, value in zip(
            days["STARTDATE"], days["STATIONID"], days["POINTID"], days["ITEMID"], days["OBSVALUE"]):
        text = gzip.decompress(value).decode() if value is not None else "NULLALL"
        if text.strip() == "NULLALL":  # a day without data: a day of missing samples
            values = np.full(1440, np.nan, dtype="float32")
        else:
            values = pd.to_numeric(pd.Series(text.split()), errors="coerce").to_numpy("float32")
        times = pd.Timestamp(pd.to_datetime(start - 2440587.5, unit="D")) + pd.to_timedelta(
            np.arange(len(values)), unit="min")
        rows.append(pd.DataFrame({"STARTDATE": times, "STATIONID": station, "POINTID": point,
                                  "ITEMID": item, "OBSVALUE": values}))
    return pd.concat(rows, ignore_index=True).set_index("STARTDATE")


def pandas_fetch_vectorised(path):
    """The fetch as well as pandas can do it: the day rows, inflated in one
    loop over the rows (gzip has no vector form), then every sample parsed,
    timed and labelled by whole-array operations."""
    with sqlite3.connect(path) as db:
        names = [r[0] for r in db.execute(
            "SELECT name FROM sqlite_master WHERE name LIKE 'QZ_2%_DYU_01'")]
        days = pd.concat(pd.read_sql(
            f"SELECT * FROM {n} WHERE STATIONID = '32005'", db) for n in names)
    texts = [gzip.decompress(v).decode() if v is not None else "NULLALL" for v in days["OBSVALUE"]]
    texts = [" ".join(["NaN"] * 1440) if t.strip() == "NULLALL" else t for t in texts]
    counts = np.fromiter((t.count(" ") + 1 for t in texts), dtype=np.int64, count=len(texts))
    # pandas' C parser reads all samples at once, one a line ("NULL" missing).
    column = io.StringIO("\n".join(texts).replace(" ", "\n"))
    values = pd.read_csv(column, header=None, names=["v"], na_values=["NULL"], dtype={"v": "float32"},
                         engine="c")["v"].to_numpy()
    offsets = np.arange(counts.sum()) - np.repeat(np.cumsum(counts) - counts, counts)
    day_starts = pd.to_datetime(days["STARTDATE"].to_numpy() - 2440587.5, unit="D").to_numpy()
    times = np.repeat(day_starts, counts) + offsets * np.timedelta64(60, "s")
    frame = pd.DataFrame({"STARTDATE": times, "OBSVALUE": values})
    for code in ("STATIONID", "POINTID", "ITEMID"):
        frame[code] = pd.Categorical(np.repeat(days[code].astype(str).to_numpy(), counts))
    return frame.set_index("STARTDATE")


def pandas_mad(series, window=15, factor=5.0):
    median = series.rolling(window, center=True, min_periods=1).median()
    deviation = (series - median).abs()
    mad = 1.4826 * deviation.rolling(window, center=True, min_periods=1).median()
    return series.where(deviation <= factor * mad, median)


def main():
    with tempfile.TemporaryDirectory() as folder:
        db = os.path.join(folder, "year.db")
        _bench.write_sample_database(db, stations=["32005"], rates=["01"],
                                     minute=(pd.Timestamp("2024-01-01"), pd.Timestamp("2024-12-30")))
        with open(os.path.join(folder, "default.conf"), "w", encoding="utf-8") as f:
            f.write(f"[year]\nDRIVER = sqlite\nHOST = year.local\nDATABASE = {db}\n")
        os.chdir(folder)
        os.environ["HOME"] = folder
        conn = fetching.conn_to_Oracle("year")
        fetching.refresh_metastash(conn)
        request = ("20240101", "20241230", "形变", "南京", "分钟值", "预处理库")

        cpp, (_, kept) = best(lambda: _bench.fetch_in_cpp(conn, *request, gzip=True))
        py, df = best(lambda: fetching.fetching_data(conn, *request, gzip_flag=True))
        assert len(df) == SAMPLES == kept.num_rows, (len(df), kept.num_rows)
        convert, _ = best(lambda: _bench.to_dataframe(kept))
        pd_fetch, pdf = best(lambda: pandas_fetch(db), repeat=1)
        assert len(pdf) == SAMPLES
        pd_vector, vdf = best(lambda: pandas_fetch_vectorised(db))
        assert len(vdf) == SAMPLES
        np.testing.assert_array_equal(np.sort(vdf["OBSVALUE"].dropna().to_numpy()),
                                      np.sort(df["OBSVALUE"].dropna().to_numpy()))

        series = pd.Series(np.random.default_rng(1).normal(size=1_000_000))
        series.iloc[::1000] += 50
        mad, _ = best(lambda: postprocessing.filter_with_fast_mad(series))
        pd_mad, _ = best(lambda: pandas_mad(series), repeat=1)
        conn.close()

    print(f"tremora {tremora.__version__}, pandas {pd.__version__}, numpy {np.__version__}")
    print(f"{'operation':58} {'tremora':>10} {'pandas':>10} {'ratio':>7}")
    print(f"{'fetching_data, 1,576,800 minute samples into a DataFrame':58} {py * 1e3:8.0f} ms "
          f"{pd_vector * 1e3:8.0f} ms {pd_vector / py:6.1f}x")
    print(f"{'  pandas with a loop over the day rows':58} {'':>10} {pd_fetch * 1e3:8.0f} ms {pd_fetch / py:6.1f}x")
    print(f"{'  the C++ fetch alone (goal: Python within 1.3x of it)':58} {cpp * 1e3:8.0f} ms "
          f"{'':>10} {py / cpp:6.2f}x")
    print(f"{'  the table to a DataFrame (goal: under 40 ms)':58} {convert * 1e3:8.1f} ms")
    print(f"{'filter_with_fast_mad, 1,000,000-row Series (goal: 50 ms)':58} {mad * 1e3:8.1f} ms "
          f"{pd_mad * 1e3:8.0f} ms {pd_mad / mad:6.1f}x")


if __name__ == "__main__":
    main()
