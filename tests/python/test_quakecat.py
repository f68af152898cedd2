"""tremora.quakecat from Python on the sample catalogue."""
import math

import numpy as np
import pandas as pd
import pytest

from tremora import quakecat

pytest_plugins = ["conftest_plots"]

TANCHENG = (34.61, 118.35)


def fixed_columns(path):
    """The catalogue read by its character positions, as a DataFrame."""
    rows = []
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.strip():
            rows.append((pd.to_datetime(line[0:14].strip(), format="%Y%m%d%H%M%S"), float(line[21:27]),
                         float(line[15:21]), float(line[28:32]), line[39:].strip() or None))
    return pd.DataFrame(rows, columns=["ind", "lon", "lat", "magnitude", "name"]).set_index("ind")


def haversine_km(lat1, lon1, lat2, lon2):
    p1, p2, dl = np.radians(lat1), np.radians(lat2), np.radians(lon2 - lon1)
    a = np.sin((p2 - p1) / 2) ** 2 + np.cos(p1) * np.cos(p2) * np.sin(dl / 2) ** 2
    return 2 * 6371.0088 * np.arcsin(np.sqrt(a))


def test_read_quakecat_reads_the_fixed_columns(catalogue):
    events = quakecat.read_quakecat(catalogue)
    pd.testing.assert_frame_equal(events, fixed_columns(catalogue), check_index_type=False)
    with pytest.raises(FileNotFoundError, match="missing.txt"):
        quakecat.read_quakecat(catalogue.with_name("missing.txt"))


def test_filtered_quakecats_marks_events_near_the_station(catalogue):
    events = quakecat.read_quakecat(str(catalogue))
    marked = quakecat.filtered_quakecats(events, station=TANCHENG, filters=[(100, 2.0), (500, 5.0)])
    assert events.index.name == "date"  # the caller's index is renamed, as documented
    assert list(marked.columns) == ["lon", "lat", "magnitude", "name", "distance", "flag", "size", "text"]
    kept = events[events.index > pd.Timestamp("1970-01-01")]
    assert len(marked) == len(kept) < len(events)  # the 1966 event is dropped
    # WGS-84 geodesics lie within 0.5 % of the great circle.
    np.testing.assert_allclose(marked["distance"], haversine_km(*TANCHENG, kept["lat"], kept["lon"]), rtol=5e-3)
    passes = ((marked["distance"] < 100) & (marked["magnitude"] >= 2.0)) | \
             ((marked["distance"] < 500) & (marked["magnitude"] >= 5.0))
    assert list(marked["flag"]) == list(passes.astype(int)) and 0 < marked["flag"].sum() < len(marked)
    np.testing.assert_array_equal(marked["size"], np.maximum((marked["magnitude"] - 3) * 5, 5))
    for row in marked.itertuples():
        assert row.text == f"{row.name}Ml{row.magnitude}\n{round(row.distance * 10) / 10}km"

    one = quakecat.filtered_quakecats(events, TANCHENG, (200, 4.0))
    pd.testing.assert_frame_equal(one, quakecat.filtered_quakecats(events, TANCHENG, [(200, 4.0)]))
    default = quakecat.filtered_quakecats(events)  # 300 km and Ml 3 from the default station
    assert list(default["flag"]) == list(((default["distance"] < 300) & (default["magnitude"] >= 3)).astype(int))
    assert math.isclose(default["distance"].min(), haversine_km(40.47, 115.94, events["lat"], events["lon"]).min(),
                        rel_tol=5e-3)

    with pytest.raises(KeyError, match="magnitude"):
        quakecat.filtered_quakecats(events.drop(columns="magnitude"))
    with pytest.raises(TypeError, match="filters"):
        quakecat.filtered_quakecats(events, filters="near")
    with pytest.raises(ValueError, match="filters"):
        quakecat.filtered_quakecats(events, filters=(100, 2.0, 1))
    with pytest.raises(TypeError, match="station"):
        quakecat.filtered_quakecats(events, station=34.6)
