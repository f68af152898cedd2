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

}  // namespace tremora::oci_standin
