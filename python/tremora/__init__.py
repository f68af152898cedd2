"""tremora: earthquake-precursor observation data, from Python.

The sub-modules are named like the library's deliverables:

    import tremora.fetching, tremora.postprocessing, tremora.tsplot
    conn = tremora.fetching.conn_to_Oracle("sample")
    df = tremora.fetching.fetching_data(conn, "20240501", "20240521", "水位",
                                        "全部", "分钟值", "预处理库", gzip_flag=True)

Tables are pandas DataFrames (the row key is the index); the library's
loggers write to Python's logging under their own names ("fetching",
"cleaning", "plotting", ...). Work on large tables runs on every processor
(TREMORA_THREADS sets another count); tremora.keep_freed_memory() makes it
faster still, for a program that may change the allocator of its process.
"""
from . import _tremora
from ._tremora import Connection, keep_freed_memory

__version__ = _tremora.__version__

from . import (cleaning, export, fetching, geomag, metastash, plotkit,  # noqa: E402
               postprocessing, quakecat, review, tsplot, yearplot)

__all__ = ["Connection", "keep_freed_memory", "cleaning", "export", "fetching", "geomag", "metastash",
           "plotkit", "postprocessing", "quakecat", "review", "tsplot", "yearplot"]
