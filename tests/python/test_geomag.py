"""tremora.geomag from Python: GFZ files, the normal form, time bounds and a
fetch from a local stand-in of the Kp service."""
import datetime
import sys

import numpy as np
import pandas as pd
import pytest

from tremora import geomag
from plot_helpers import DATA, KP_WDC

pytest_plugins = ["conftest_plots"]

SHANGHAI = "Asia/Shanghai"


def wdc_kp(path):
    """Kp by UTC interval start from a WDC file: eight codes in tenths from column 12
    (33 is 3+, 27 is 3-), to three decimals as GFZ writes Kp."""
    out = {}
    for line in (x for x in path.read_text().splitlines() if x.strip() and not x.startswith("#")):
        day = pd.Timestamp(year=2000 + int(line[0:2]), month=int(line[2:4]), day=int(line[4:6]), tz="UTC")
        for k in range(8):
            out[day + pd.Timedelta(hours=3 * k)] = round(round(int(line[12 + 2 * k:14 + 2 * k]) * 0.3) / 3, 3)
    return pd.Series(out)


def test_read_kp_file_agrees_with_the_wdc_columns():
    kp = geomag.read_kp_file(KP_WDC)
    expected = wdc_kp(KP_WDC)
    assert list(kp.columns) == ["Kp", "status"] and set(kp["status"]) == {"def"} and len(kp) == 366 * 8
    pd.testing.assert_index_equal(kp.index, pd.DatetimeIndex(expected.index, name="datetime"), check_exact=True)
    np.testing.assert_allclose(kp["Kp"].to_numpy(), expected.to_numpy(), atol=1e-9)
    with pytest.raises(FileNotFoundError):
        geomag.read_kp_file(KP_WDC.with_name("none.wdc"))
    with pytest.raises(TypeError, match="path"):
        geomag.read_kp_file(42)


def test_normalize_geomag_and_its_errors():
    index = pd.DatetimeIndex(["2024-03-01 06:00", "2024-03-01 00:00", "2024-03-01 03:00", "2024-03-01 00:00"],
                             tz="UTC", name="t")
    data = pd.DataFrame({"extra": 1, "status": ["def", "pre", "def", "pre"],
                         "Kp": ["2.333", 9.5, "n/a", 0.0]}, index=index)
    out = geomag.normalize_geomag(data, timezone=SHANGHAI)
    assert list(out.columns) == ["Kp", "status"] and out.index.name == "t"
    assert list(out.index) == [pd.Timestamp(f"2024-03-01 {h}", tz=SHANGHAI) for h in ("08:00", "11:00", "14:00")]
    assert out["Kp"].iloc[0] == 0.0 and np.isnan(out["Kp"].iloc[1]) and out["Kp"].iloc[2] == pytest.approx(2.333)
    assert list(out["status"]) == ["pre", "def", "def"]  # the later of two rows at 00:00 UTC

    with pytest.raises(ValueError, match="^geomag_data must have a timezone-aware DatetimeIndex$"):
        geomag.normalize_geomag(data.tz_localize(None))
    with pytest.raises(ValueError, match="^geomag_data must be a DataFrame with Kp and status columns$"):
        geomag.normalize_geomag(data.drop(columns="status"))
    with pytest.raises(ValueError, match="^geomag_data must be a DataFrame with Kp and status columns$"):
        geomag.normalize_geomag([1, 2])


def test_time_bounds_of_every_form():
    expected = pd.Timestamp("2024-03-01 02:30", tz="UTC")
    for bound in ("2024-03-01 10:30", pd.Timestamp("2024-03-01 10:30"), datetime.datetime(2024, 3, 1, 10, 30),
                  datetime.datetime(2024, 3, 1, 2, 30, tzinfo=datetime.timezone.utc),
                  pd.Timestamp("2024-03-01 02:30+00:00"), np.datetime64("2024-03-01T10:30")):
        t = geomag._timestamp(bound, SHANGHAI)
        assert t == expected and str(t.tz) == SHANGHAI
    start, end = geomag.kp_range("2024-03-01", "2024-03-02", "UTC")
    assert (start, end) == (pd.Timestamp("2024-03-01", tz="UTC"), pd.Timestamp("2024-03-02", tz="UTC"))
    with pytest.raises(ValueError, match="^Kp time bounds must not be NaT$"):
        geomag._timestamp(pd.NaT, SHANGHAI)
    with pytest.raises(TypeError, match="value"):
        geomag._timestamp(20240301, SHANGHAI)
    # Kp intervals start at their row key: a table without times there is refused.
    for index in (pd.RangeIndex(2), pd.Index([0, 10_800_000_000_000])):
        with pytest.raises(TypeError, match="kp must have a DatetimeIndex"):
            geomag.overlapping_intervals(pd.DataFrame({"Kp": [1.0, 2.0]}, index=index), start, end)


@pytest.fixture
def kp_service(monkeypatch):
    """The README examples' stand-in of the GFZ service, answering from GFZ's nowcast file."""
    sys.path.insert(0, str(DATA.parent / "readme"))
    try:
        from run_examples import kp_server
    finally:
        sys.path.pop(0)
    server = kp_server(DATA / "kp" / "Kp_ap_nowcast.txt")
    monkeypatch.setenv("TREMORA_KP_URL", f"http://127.0.0.1:{server.server_port}")
    yield
    server.shutdown()
    server.server_close()


def test_fetch_geomag_asks_the_service_and_keeps_the_overlapping_intervals(kp_service):
    # 10:30 to 14:00 in Shanghai is 02:30 to 06:00 UTC; the request starts at 00:00, so the interval
    # that holds the start comes back too. The service answers while the call runs without the GIL.
    kp = geomag.fetch_geomag(datetime.datetime(2024, 5, 10, 10, 30), "2024-05-10 14:00", timezone=SHANGHAI)
    assert list(kp.index) == [pd.Timestamp(f"2024-05-10 {h}", tz=SHANGHAI) for h in ("08:00", "11:00", "14:00")]
    nowcast = geomag.read_kp_file(DATA / "kp" / "Kp_ap_nowcast.txt")
    expected = nowcast.loc[pd.Timestamp("2024-05-10 00:00", tz="UTC"):pd.Timestamp("2024-05-10 06:00", tz="UTC")]
    assert list(kp["Kp"]) == list(expected["Kp"]) and list(kp["status"]) == list(expected["status"])
    assert kp.index.name == "datetime" and kp.attrs == {"source": "GFZ Potsdam", "license": "CC BY 4.0"}
    # Aware bounds keep their instant: these two are one instant, so one interval comes back.
    one = geomag.fetch_geomag(pd.Timestamp("2024-05-10 18:00", tz="UTC"), pd.Timestamp("2024-05-11 02:00+08:00"))
    assert list(one.index) == [pd.Timestamp("2024-05-11 02:00", tz=SHANGHAI)]
    assert one["Kp"].iloc[0] == nowcast.loc[pd.Timestamp("2024-05-10 18:00", tz="UTC"), "Kp"] > 8

    with pytest.raises(ValueError, match="^end_time must not precede start_time$"):
        geomag.fetch_geomag("2024-05-10 10:00:01", "2024-05-10 10:00")
    with pytest.raises(TypeError, match="start_time"):
        geomag.fetch_geomag(1, "2024-05-10")
