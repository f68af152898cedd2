// Fetching rows of an executed query into the defined buffers.
#pragma once

#include "handles.hpp"

namespace tremora::oci_standin {

/// Fills up to `nrows` rows of every define of `st` and moves the cursor on:
/// OCI_SUCCESS, OCI_SUCCESS_WITH_INFO (a value truncated, ORA-24345
/// recorded in `err`) or OCI_NO_DATA when fewer rows remained (those are
/// filled). OCI_ATTR_ROWS_FETCHED tells how many rows this call filled.
/// Errors are thrown as OraFailure.
sword fetch_rows(Statement& st, ErrorHandle& err, ub4 nrows);

/// The round trips to the "server": an execute is one, and brings the
/// statement's OCI_ATTR_PREFETCH_ROWS (as set at that moment) rows with it;
/// a fetch is one more only when the rows held on the client do not cover
/// it, and then brings at least the prefetch count.
void count_execute_trip(Statement& st, ub4 iters);
void count_fetch_trip(Statement& st, ub4 nrows);
void after_fetch(Statement& st, ub4 nrows, sword status);
/// A LOB call is one round trip unless what it asks for came with the row.
void count_lob_trip(bool prefetched);

}  // namespace tremora::oci_standin
