#include "terminal_text.hpp"

#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

// Pending text is passed on at a line's end or past this many bytes.
constexpr std::size_t kPassOnBytes = 4096;

}  // namespace

EscapingBuffer::~EscapingBuffer() { pass_on(true); }

EscapingBuffer::int_type EscapingBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  pending_ += traits_type::to_char_type(c);
  if (c == '\n' || pending_.size() >= kPassOnBytes) pass_on(false);
  return c;
}

std::streamsize EscapingBuffer::xsputn(const char* s, std::streamsize n) {
  pending_.append(s, std::size_t(n));
  if (pending_.size() >= kPassOnBytes || pending_.find('\n') != std::string::npos) pass_on(false);
  return n;
}

int EscapingBuffer::sync() {
  pass_on(true);
  return out_->pubsync();
}

void EscapingBuffer::pass_on(bool all) {
  std::size_t keep = all ? 0 : incomplete_utf8_tail(pending_);
  std::string shown = escape_controls(std::string_view(pending_).substr(0, pending_.size() - keep), true);
  out_->sputn(shown.data(), std::streamsize(shown.size()));
  pending_.erase(0, pending_.size() - keep);
}

EscapedStream::EscapedStream(std::ostream& stream) : stream_(stream), original_(stream.rdbuf()), buffer_(original_) {
  stream_.rdbuf(&buffer_);
}

EscapedStream::~EscapedStream() {
  stream_.flush();
  stream_.rdbuf(original_);
}

}  // namespace tremora::cli
