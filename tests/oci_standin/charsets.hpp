// The character sets text passes through on its way to the client.
//
// The stand-in stores UTF-8. A client receives text in its character set:
// the one its environment was created with, else the one NLS_LANG names
// (US7ASCII when NLS_LANG is unset, as with a real client). National-
// character data (NCHAR, NVARCHAR2, NCLOB) goes straight to the client only
// when asked for as such (SQLCS_NCHAR); otherwise it passes the database
// character set, which here is WE8ISO8859P1. Every conversion to a set that
// cannot hold a character gives '?' for it, as Oracle's conversions do.
#pragma once

#include <string>

#include "oci_types.hpp"

namespace tremora::oci_standin {

inline constexpr ub2 kUtf8Charset = 871, kAl32Utf8Charset = 873;

/// The bytes of the UTF-8 character that starts with `lead`.
std::size_t utf8_char_bytes(unsigned char lead);

/// The character set NLS_LANG names: US7ASCII's 1 when NLS_LANG is unset,
/// names no character set or one the stand-in does not know.
ub2 nls_lang_charset();

/// Text as a client of character set `charset` (0: NLS_LANG's) receives
/// it; `nchar_column` data not asked for as SQLCS_NCHAR passes the
/// database character set first.
std::string delivered_text(std::string text, ub2 charset, bool nchar_column, bool asked_as_nchar);

}  // namespace tremora::oci_standin
