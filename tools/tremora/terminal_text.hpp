// What the program prints goes through an escaping filter, so that control
// characters from data (a place name holding ESC ] 0 ; ... BEL, a value
// holding a carriage return) are shown as "\x1b", "\r", never obeyed by
// the terminal.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace tremora::cli {

/// A stream buffer that passes text on to `out` with escape_controls
/// applied (line feeds and tabs kept), a UTF-8 sequence split across two
/// writes kept whole.
class EscapingBuffer : public std::streambuf {
 public:
  explicit EscapingBuffer(std::streambuf* out) : out_(out) {}
  ~EscapingBuffer() override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  // Escapes and passes on what is pending, all of it or all but an
  // incomplete UTF-8 sequence at its end.
  void pass_on(bool all);

  std::streambuf* out_;
  std::string pending_;
};

/// Puts an EscapingBuffer between `stream` and its buffer for as long as it
/// lives, then restores the buffer.
class EscapedStream {
 public:
  explicit EscapedStream(std::ostream& stream);
  ~EscapedStream();
  EscapedStream(const EscapedStream&) = delete;
  EscapedStream& operator=(const EscapedStream&) = delete;

 private:
  std::ostream& stream_;
  std::streambuf* original_;
  EscapingBuffer buffer_;
};

}  // namespace tremora::cli
