"""Fixtures of the chart tests (plotkit, geomag, quakecat, tsplot, yearplot),
which name this module in pytest_plugins: the sample catalogue, a plotter
over the sample's dictionaries (both from conftest.py's sample database) and
a fresh working folder for ./figures."""
import pytest


@pytest.fixture(scope="session")
def catalogue(sample_db):
    """The catalogue written beside the shared sample database."""
    return sample_db.with_name("sample-catalogue.txt")


@pytest.fixture(scope="session")
def plotter(sample_db, tmp_path_factory):
    """A TSPlotter over the sample's dictionaries (its cache refreshed once)."""
    from tremora import fetching, tsplot
    folder = tmp_path_factory.mktemp("plotter")
    (folder / "default.conf").write_text(
        f"[sample]\nDRIVER = sqlite\nHOST = sample.local\nDATABASE = {sample_db}\n", encoding="utf-8")
    with pytest.MonkeyPatch.context() as mp:
        mp.chdir(folder)
        mp.setenv("HOME", str(folder / "home"))
        conn = fetching.conn_to_Oracle("sample")
        p = tsplot.TSPlotter(conn, metadata_dir=str(folder / "cache"), refresh_metadata=True)
    yield p
    conn.close()


@pytest.fixture
def in_tmp(tmp_path, monkeypatch):
    """A fresh working folder (charts go to ./figures) with its own HOME."""
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    return tmp_path
