"""Helpers of the chart tests: the test data folder, observation tables,
PNG sizes and the marks of a described panel."""
import pathlib
import struct

import numpy as np
import pandas as pd

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"
KP_WDC = DATA / "kp" / "Kp_def2024.wdc"


def observations(series, start="2024-05-01", periods=48, freq="h", values=None):
    """An observation table: for each (station, point, item) `periods` rows
    from `start` every `freq`, index STARTDATE, OBSVALUE float32."""
    frames = []
    for k, (station, point, item) in enumerate(series):
        index = pd.date_range(start, periods=periods, freq=freq, name="STARTDATE")
        v = values if values is not None else 10 * k + np.sin(np.arange(periods) / 5.0)
        frames.append(pd.DataFrame({"STATIONID": station, "POINTID": point, "ITEMID": item,
                                    "OBSVALUE": np.asarray(v, dtype=np.float32)}, index=index))
    return pd.concat(frames)


def png_size(path):
    """(width, height) from a PNG file's header."""
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


def marks(panel, kind):
    return [m for m in panel["marks"] if m["kind"] == kind]
