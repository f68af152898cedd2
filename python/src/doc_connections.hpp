// The Python docstrings of tremora.Connection.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* Connection = R"doc(An open connection to a precursor database.

tremora.fetching.conn_to_Oracle (or DatabaseConnector.connect_to_oracle) gives one
for a section of default.conf; it cannot be made directly. The driver is Oracle or,
for a section with DRIVER = sqlite, a SQLite file holding the QZDATA schema, opened
read-only. close() or the end of a with block closes it (the with block gives the
connection itself and lets exceptions pass). One connection must not be used from
two threads at once.
)doc";

inline constexpr const char* Connection_close = R"doc(Closes the connection.

Queries on a closed connection raise RuntimeError; the look-ups of
tremora.fetching then answer from the metadata cache. Closing twice is harmless.
)doc";

inline constexpr const char* Connection_is_open =
    R"doc(True until the connection is closed (read-only).
)doc";

inline constexpr const char* Connection_info = R"doc(The labels of the connection as a new dict of str (read-only).

tremora_cache_namespace (the section's HOST, which names the connection's folder
of the metadata cache) and tremora_db_alias (the section name) are always there;
tremora_database_file names the file of a SQLite connection; an Oracle connection
has tremora_server_version and tremora_connect_form ("service name" or "SID": how
TNSNAME connected). Changing the returned dict changes nothing.
)doc";

inline constexpr const char* Connection_query = R"doc(Runs one SELECT statement and returns its whole result.

The statement must be exactly one read-only SELECT (WITH and VALUES forms
included); any other statement is refused before anything runs. Column names are
those the database reports; the types follow the declared column types: DATE and
TIMESTAMP become naive datetime64 values, integer numbers int64 (float64 with NaN
where values are missing), other numbers float64, texts and CLOBs str, RAW and
BLOB values bytes.

Args:
    sql: the SELECT text; placeholders are written :name.
    binds: the values of the placeholders by name, e.g. {"stationid": "37001"},
        each None, a bool, int, float, str, bytes, datetime or timedelta.
        Every placeholder of sql needs a value; {} for none.

Returns:
    pandas.DataFrame: the rows, with a default RangeIndex.

Raises:
    RuntimeError: the statement is not one read-only SELECT, a placeholder has no
        value, the connection is closed, or the database reports an error (the
        message names what failed, never the password).
    TypeError: a bind value of another type.
)doc";

}  // namespace tremora::python::doc
