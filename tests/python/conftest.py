"""Shared fixtures of the Python tests: a sample database written by the
tremora program, a working folder with a default.conf naming it, and a home
folder of its own for the metadata cache."""
import os
import pathlib
import subprocess
import sys

import pytest

TREMORA_BIN = os.environ.get("TREMORA_BIN", "tremora")
# The package's tools (the signature reader the call-interface tests share).
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "python" / "tools"))


@pytest.fixture(scope="session")
def sample_db(tmp_path_factory):
    """A small sample database (stations 37001 郯城 and 41001 郑州) and its catalogue."""
    folder = tmp_path_factory.mktemp("sample")
    db = folder / "sample.db"
    subprocess.run([TREMORA_BIN, "sample-db", "--station", "37001", "--station", "41001", str(db)],
                   check=True, capture_output=True)
    return db


@pytest.fixture
def workdir(tmp_path, monkeypatch, sample_db):
    """A working folder with default.conf ([sample] → the sample database) and HOME inside it."""
    (tmp_path / "default.conf").write_text(
        f"[sample]\nDRIVER = sqlite\nHOST = sample.local\nDATABASE = {sample_db}\n", encoding="utf-8")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    return tmp_path


@pytest.fixture
def conn(workdir):
    import tremora.fetching
    c = tremora.fetching.conn_to_Oracle("sample")
    assert c is not None
    yield c
    c.close()
