"""The library's error kinds as Python exceptions with their messages, and
its loggers in Python's logging."""
import logging

import numpy as np
import pandas as pd
import pytest

from tremora import export, fetching, postprocessing


def hours(n=3):
    return pd.DataFrame({"OBSVALUE": [1.0, 2.0, 4.0][:n], "STATIONID": ["1"] * n},
                        index=pd.date_range("2024-01-01", periods=n, freq="h", name="STARTDATE"))


def test_error_kinds(workdir):
    with pytest.raises(KeyError) as missing:
        postprocessing.first_difference(hours(), value_col="NOPE")
    assert "NOPE" in str(missing.value)
    with pytest.raises(ValueError, match="periods must be a positive integer"):
        postprocessing.first_difference(hours(), periods=0)
    with pytest.raises(FileNotFoundError):
        export.read_vuzo(str(workdir / "none.vuzo"))
    (workdir / "bad.vuzo").write_bytes(b"not parquet at all")
    with pytest.raises((OSError, ValueError)):
        export.read_vuzo(str(workdir / "bad.vuzo"))


def test_runtime_error_carries_its_cause(workdir):
    with pytest.raises(RuntimeError) as error:
        fetching.timeseries_info(None)
    assert str(error.value).startswith("未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: ")
    assert isinstance(error.value.__cause__, FileNotFoundError)
    assert "stations.parquet" in str(error.value.__cause__)


def test_loggers_reach_python_logging(workdir, caplog):
    with caplog.at_level(logging.DEBUG):
        assert fetching.conn_to_Oracle("no-such-alias") is None
        conn = fetching.conn_to_Oracle("sample")
        # Logged while the GIL is released: it arrives when the call ends.
        assert fetching.fetching_data(conn, "20240509", "20240510", "无此方法", "全部", "分钟值", "预处理库") is None
        conn.close()
    by_logger = {(r.name, r.levelname, r.getMessage()) for r in caplog.records}
    assert ("fetching", "ERROR", "数据库配置文件缺失或不完整，请检查default.conf") in by_logger
    assert any(name == "fetching" and level == "DEBUG" and message.endswith("已连接...")
               for name, level, message in by_logger)
    assert ("fetching", "DEBUG", "未找到匹配的表名!") in by_logger


def test_unresolved_requests_warn_naming_the_argument(conn, caplog):
    with caplog.at_level(logging.WARNING, logger="fetching"):
        assert fetching.fetching_data(conn, "20240509", "20240510", "水位", "无此台", "日值", "预处理库") is None
        assert fetching.DataFetcher.fetch_data(conn, "20240509", "20240510", "无此方法", "全部", "日值",
                                               "预处理库") is None
        assert fetching.load_Oracle_data_daily(conn, 1, "预处理库", "水位", "日") is None
        assert fetching.fetching_dialog(conn, methodname="降雨量") is None
    warnings = [r.getMessage() for r in caplog.records if r.levelname == "WARNING"]
    assert "fetching_data: stationname '无此台' matches no station" in warnings
    assert "fetch_data: method_name '无此方法' matches no method or discipline" in warnings
    assert "load_Oracle_data_daily: datatype '日' is not a sampling rate" in warnings
    assert "fetching_dialog: methodname '降雨量' has no log table" in warnings


def test_wrong_arguments_name_kinds_never_whole_tables():
    from tremora import plotkit, postprocessing, tsplot
    df = pd.DataFrame({"OBSVALUE": np.arange(5000.0)}, index=pd.date_range("2024-05-01", periods=5000, freq="min"))
    calls = [lambda: postprocessing.first_difference(df, value_col=5),
             lambda: plotkit.calculate_stats(df, column=["OBSVALUE"]),
             lambda: tsplot.TSPlotter._setup_axis(None, df, "t")]
    for call in calls:
        with pytest.raises(TypeError) as error:
            call()
        text = str(error.value)
        assert "incompatible function arguments" in text and "DataFrame (5000 rows x 1 columns)" in text
        assert len(text) < 1200 and "4999.0" not in text, text
