// Reading LOBs through their locators.
//
// A CLOB holds UTF-8 text; its lengths, offsets and amounts count
// characters as Oracle does, in UTF-16 code units (a character outside the
// Basic Multilingual Plane counts two). A BLOB counts bytes.
#include <algorithm>
#include <cstring>

#include "charsets.hpp"
#include "connection.hpp"
#include "fetch.hpp"
#include "oci_api.hpp"
#include "ora_errors.hpp"

namespace tremora::oci_standin {
namespace {

// The UTF-16 code units of that character.
oraub8 char_units(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }

oraub8 clob_length(const std::string& text) {
  oraub8 units = 0;
  for (std::size_t at = 0; at < text.size(); at += utf8_char_bytes(static_cast<unsigned char>(text[at])))
    units += char_units(static_cast<unsigned char>(text[at]));
  return units;
}

// The byte at which character `offset` (1-based) starts; the end when beyond.
std::size_t clob_byte_at(const std::string& text, oraub8 offset) {
  std::size_t at = 0;
  for (oraub8 units = 1; units < offset && at < text.size();) {
    units += char_units(static_cast<unsigned char>(text[at]));
    at += utf8_char_bytes(static_cast<unsigned char>(text[at]));
  }
  return std::min(at, text.size());
}

struct Piece {
  std::size_t bytes = 0;
  oraub8 chars = 0;
};

// Copies the next piece into the buffer: whole characters only, as many as
// the buffer holds and the amount still asked for allows.
Piece copy_piece(LobLocator& lob, char* buf, oraub8 bufl) {
  Piece p;
  while (lob.next_byte + p.bytes < lob.delivered.size()) {
    auto lead = static_cast<unsigned char>(lob.delivered[lob.next_byte + p.bytes]);
    std::size_t size = lob.is_clob ? utf8_char_bytes(lead) : 1;
    oraub8 cost = !lob.is_clob || !lob.left_in_chars ? size : char_units(lead);
    if (p.bytes + size > bufl || (!lob.unlimited && cost > lob.left)) break;
    p.bytes += size;
    p.chars += lob.is_clob ? char_units(lead) : 0;
    if (!lob.unlimited) lob.left -= cost;
  }
  std::memcpy(buf, lob.delivered.data() + lob.next_byte, p.bytes);
  lob.next_byte += p.bytes;
  return p;
}

// Sets up a read from `offset` of the amount asked for: characters when a
// CLOB read gives a character amount, else bytes; nothing means all.
void start_read(LobLocator& lob, oraub8 offset, oraub8 byte_amt, oraub8 char_amt, ub2 csid, ub1 csfrm) {
  if (offset < 1) throw ora::illegal_lob_parameter();
  lob.delivered =
      lob.is_clob ? delivered_text(lob.data, csid, lob.charset_form == SQLCS_NCHAR, csfrm == SQLCS_NCHAR) : lob.data;
  lob.next_byte =
      lob.is_clob ? clob_byte_at(lob.delivered, offset) : std::min<std::size_t>(offset - 1, lob.delivered.size());
  lob.left_in_chars = lob.is_clob && char_amt > 0;
  lob.left = lob.left_in_chars ? char_amt : byte_amt;
  lob.unlimited = lob.left == 0;
}

bool read_done(const LobLocator& lob) {
  return lob.next_byte >= lob.delivered.size() || (!lob.unlimited && lob.left == 0);
}

LobLocator& initialized_lob(void* locp) {
  auto* lob = find_as<LobLocator>(locp, OCI_DTYPE_LOB);
  if (!lob || !lob->initialized) throw ora::invalid_lob_locator();
  return *lob;
}

}  // namespace
}  // namespace tremora::oci_standin

using namespace tremora::oci_standin;

sword OCILobGetLength2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* lenp) {
  return run_call<ServiceContext>(svchp, OCI_HTYPE_SVCCTX, errhp, [&](ServiceContext& svc, ErrorHandle&) {
    logged_on_server(svc);
    LobLocator& lob = initialized_lob(locp);
    count_lob_trip(lob.length_prefetched);
    if (lenp) *lenp = lob.is_clob ? clob_length(lob.data) : lob.data.size();
    return OCI_SUCCESS;
  });
}

sword OCILobRead2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp, oraub8* char_amtp,
                  oraub8 offset, void* bufp, oraub8 bufl, ub1 piece, void* /*ctxp*/, OCICallbackLobRead2 cbfp, ub2 csid,
                  ub1 csfrm) {
  return run_call<ServiceContext>(svchp, OCI_HTYPE_SVCCTX, errhp, [&](ServiceContext& svc, ErrorHandle&) {
    logged_on_server(svc);
    LobLocator& lob = initialized_lob(locp);
    if (cbfp || !bufp || !byte_amtp) throw ora::illegal_lob_parameter();  // reads by callback are not offered
    oraub8 char_amt = char_amtp ? *char_amtp : 0;
    if (piece == OCI_ONE_PIECE || piece == OCI_FIRST_PIECE) {
      count_lob_trip(lob.value_prefetched);
      start_read(lob, offset, *byte_amtp, char_amt, csid, csfrm);
    } else if (piece != OCI_NEXT_PIECE || !lob.polling) throw ora::illegal_lob_parameter();
    // One piece must fit: an amount beyond the buffer is ORA-22921.
    oraub8 amount = lob.is_clob && char_amt > 0 ? char_amt : *byte_amtp;
    if (piece == OCI_ONE_PIECE && amount > bufl) throw ora::buffer_below_amount();
    Piece p = copy_piece(lob, static_cast<char*>(bufp), bufl);
    if (p.bytes == 0 && !read_done(lob)) throw ora::illegal_lob_parameter();  // not one character fits
    *byte_amtp = p.bytes;
    if (char_amtp && lob.is_clob) *char_amtp = p.chars;
    // Polling (the first piece asked for, then the next ones) goes on until
    // the last piece; a single piece whose characters took more bytes than
    // the buffer holds goes on so too.
    lob.polling = !read_done(lob);
    return lob.polling ? OCI_NEED_DATA : OCI_SUCCESS;
  });
}
