"""The network review's table against pandas on the samples themselves, on a
sample database with a step put into one series and a day taken from another."""
import gzip
import shutil
import sqlite3

import numpy as np
import pandas as pd
import pytest

JULIAN_2024_05_10 = 2460440.5  # the STARTDATE of the day row of 2024-05-10


def edited_copy(sample_db, folder):
    """The sample with 郯城's water level 2 m higher from 2024-05-10 12:00 on
    and 郑州's water level of 2024-05-11 left out."""
    db = folder / "edited.db"
    shutil.copy(sample_db, db)
    with sqlite3.connect(db) as c:
        where = "FROM QZ_411_DYU_01 WHERE STATIONID = ? AND ITEMID = '4112' AND STARTDATE = ?"
        (blob,) = c.execute("SELECT OBSVALUE " + where, ("37001", JULIAN_2024_05_10)).fetchone()
        values = gzip.decompress(blob).decode().split(" ")
        stepped = [v if i < 720 or v == "NULL" else f"{float(v) + 2.0:.4f}" for i, v in enumerate(values)]
        c.execute("UPDATE QZ_411_DYU_01 SET OBSVALUE = ? WHERE STATIONID = ? AND ITEMID = '4112' AND STARTDATE = ?",
                  (gzip.compress(" ".join(stepped).encode()), "37001", JULIAN_2024_05_10))
        c.execute("DELETE " + where, ("41001", JULIAN_2024_05_10 + 1))
    return db


def mad_replaced(v, window=15, k=5.0):
    """Samples the MAD rule replaces, by pandas' rolling windows."""
    s = pd.Series(v)
    roll = s.rolling(window, center=True, min_periods=window)
    median = roll.median().ffill().bfill()
    mad = roll.apply(lambda w: 1.4826 * np.median(np.abs(w - np.median(w))), raw=True).ffill().bfill()
    return int(((s - median).abs() > k * mad).sum())


def expected_row(period, reference, first_day, days):
    v = period.OBSVALUE.to_numpy(dtype=float)
    held = period.OBSVALUE.dropna()
    slots = pd.date_range(first_day, periods=days * 1440, freq="min")
    present = slots.isin(held.index)
    steps = held.diff().abs().dropna()
    band = reference.OBSVALUE.mean() - 2 * reference.OBSVALUE.std(), \
        reference.OBSVALUE.mean() + 2 * reference.OBSVALUE.std()
    daily = held.resample("D").mean()
    exits = [d.strftime("%Y-%m-%d") for d, m in daily.items() if m < band[0] or m > band[1]]
    gaps = pd.Series(~present).groupby((pd.Series(present)).cumsum()).sum()
    return {"present": int(present.sum()), "completeness_pct": round(100 * present.sum() / (days * 1440), 2),
            "gap_minutes": float(gaps.max()), "mad_replaced": mad_replaced(v), "largest_step": steps.max(),
            "largest_step_at": steps.idxmax().strftime("%Y-%m-%d %H:%M"), "typical_step": steps.median(),
            "mean": held.mean(), "std": held.std(), "band_low": band[0], "band_high": band[1],
            "band_exit_days": " ".join(exits)}


def test_review_table_matches_pandas_on_the_samples(workdir, sample_db):
    import tremora.fetching
    import tremora.review
    db = edited_copy(sample_db, workdir)
    (workdir / "default.conf").write_text(
        f"[edited]\nDRIVER = sqlite\nHOST = edited.local\nDATABASE = {db}\n", encoding="utf-8")
    with tremora.fetching.conn_to_Oracle("edited") as conn:
        tremora.fetching.refresh_metastash(conn)
        table = tremora.review.review(conn, "20240510", "20240511", out=workdir / "page", gzip=True, reference_days=3)
        fetch = tremora.fetching.fetching_data
        period = fetch(conn, "20240510", "20240511", "全部", "全部", "分钟值", "预处理库", gzip_flag=True)
        reference = fetch(conn, "20240507", "20240509", "全部", "全部", "分钟值", "预处理库", gzip_flag=True)

    csv = pd.read_csv(workdir / "page" / "series.csv", dtype={"station": str, "point": str, "item": str},
                      keep_default_na=False, na_values=["nan"])
    assert list(csv.station) == list(table.station) and len(csv) == len(table)
    keys = ["STATIONID", "POINTID", "ITEMID"]
    groups = period.groupby(keys, observed=True)
    assert len(table) == groups.ngroups
    for (station, point, item), rows in groups:
        row = csv[(csv.station == str(station)) & (csv.point == str(point)) & (csv.item == str(item))].iloc[0]
        ref = reference[(reference.STATIONID == station) & (reference.POINTID == point) & (reference.ITEMID == item)]
        want = expected_row(rows.sort_index(), ref, "2024-05-10", 2)
        for column, value in want.items():
            got = row[column]
            if isinstance(value, str) or column in ("present", "mad_replaced"):
                assert str(got) == str(value), (station, item, column, got, value)
            else:
                assert got == pytest.approx(value, rel=6e-6, abs=1e-9), (station, item, column, got, value)

    tancheng = csv[(csv.station == "37001") & (csv["item"] == "4112")].iloc[0]
    assert tancheng.largest_step > 1.9 and tancheng.largest_step_at.startswith("2024-05-10 12:0")
    zhengzhou = csv[(csv.station == "41001") & (csv["item"] == "4112")].iloc[0]
    assert zhengzhou.completeness_pct < 51 and "incomplete" in zhengzhou["flags"]
