"""Time bins per series against pandas: resample_timeseries_data (series
ids, bins anchored at midnight of each series' first day, every aggregate)
on generated tables, with missing values, gaps and several series, checked
against pandas' groupby + resample on the same rows."""
import numpy as np
import pandas as pd
import pytest

from tremora import postprocessing

KEYS = ["STATIONID", "POINTID", "ITEMID"]


def generated(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 400))
    start = pd.Timestamp("2024-03-01") + pd.Timedelta(minutes=int(rng.integers(0, 3000)))
    times = start + pd.to_timedelta(np.sort(rng.integers(0, 5 * 1440, n)), unit="min")
    values = rng.normal(10, 3, n)
    values[rng.random(n) < 0.15] = np.nan
    frame = pd.DataFrame({
        "STARTDATE": times,
        "STATIONID": rng.choice(["37001", "37005", "41001"], n),
        "POINTID": rng.choice(["1", "2"], n),
        "ITEMID": rng.choice(["4112", "3211"], n),
        "OBSVALUE": values,
    })
    return frame.sample(frac=1, random_state=seed).reset_index(drop=True)  # rows in no order


def by_pandas(frame, freq, agg):
    parts = []
    for key, rows in frame.groupby(KEYS, sort=True):
        series = rows.set_index("STARTDATE")["OBSVALUE"].sort_index()
        binned = getattr(series.resample(freq, origin="start_day"), agg)()
        part = binned.rename("OBSVALUE").reset_index()
        for name, value in zip(KEYS, key):
            part[name] = value
        parts.append(part)
    return pd.concat(parts, ignore_index=True)


@pytest.mark.parametrize("seed", range(8))
def test_resample_agrees_with_pandas(seed):
    frame = generated(seed)
    for freq in ["1h", "3h", "1D"]:
        for agg in ["mean", "sum", "median", "max", "min"]:
            ours = postprocessing.resample_timeseries_data(frame, freq, agg)
            expected = by_pandas(frame, freq, agg)
            assert len(ours) == len(expected), (freq, agg)
            assert list(ours["STARTDATE"]) == list(expected["STARTDATE"]), (freq, agg)
            for name in KEYS:
                assert list(ours[name].astype(str)) == list(expected[name]), (freq, agg, name)
            np.testing.assert_allclose(ours["OBSVALUE"].to_numpy(), expected["OBSVALUE"].to_numpy(), rtol=1e-12,
                                       equal_nan=True, err_msg=f"{freq} {agg}")
