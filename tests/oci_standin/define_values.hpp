// Converting one fetched value into the external type a define asks for.
#pragma once

#include <cstddef>

#include "handles.hpp"

namespace tremora::oci_standin {

/// Where one row's value of a define goes: the row's element of each array.
struct Slot {
  void* value;
  sb8 size;
};

/// What was written: whether the value had to be cut to fit, and its
/// length before that (the indicator of a truncated value).
struct Written {
  std::size_t length = 0;  // bytes written (the actual length array)
  bool truncated = false;
  std::size_t full_length = 0;
};

/// Whether `dty` is an external type a define may ask for.
bool definable(ub2 dty);

/// Writes column `i` (not NULL) of the row `cursor` stands on, described
/// as `column`, into `slot` as external type `dty`. The conversions the
/// real client makes: NUMBER to integers of 1, 2, 4 or 8 bytes (the
/// fraction cut off; ORA-01455 when it does not fit), to floats and to
/// text; text to numbers (ORA-01722 when it is none); DATE and TIMESTAMP
/// to the 7-byte DATE and to TIMESTAMP descriptors; RAW to bytes and hex
/// text; CLOB and BLOB to the locators in the define's array. Other pairs
/// are ORA-00932. Text reaches the client in its character set (see
/// charsets.hpp): `charset` is the environment's, `asked_as_nchar` whether
/// the define asked for national-character data as such. A LOB locator
/// keeps what the define prefetched with its row (its length, and its
/// value when no longer than `lob_prefetch_size`).
struct TextDelivery {
  ub2 charset = 0;
  bool asked_as_nchar = false;
  ub4 lob_prefetch_size = 0;
  bool lob_prefetch_length = false;
};
Written write_value(sqlite3_stmt* cursor, int i, const ColumnInfo& column, ub2 dty, const Slot& slot,
                    const TextDelivery& delivery);

}  // namespace tremora::oci_standin
