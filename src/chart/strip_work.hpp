// The strips of a PNG, drawn and compressed by a few threads at once.
#pragma once

#include <cairo.h>

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "png_encoder.hpp"

namespace tremora::chart {

/// Draws the strips of an image and compresses each in parts of rows, on
/// whichever of the threads calling work() is free. A part is compressed
/// once its strip is drawn (and, for a strip's first part, the strip
/// above); a strip's pixels go once its parts and the first part of the
/// strip below are compressed. A thread takes a part that is ready first
/// (so that few strips of pixels are held), else the next strip to draw,
/// else waits for the others. Parts cut long strips finely enough that the
/// threads end at nearly the same time.
class StripWork {
 public:
  using Draw = std::function<cairo_surface_t*(std::size_t)>;
  /// `strips` strips of `strip_rows` rows (the last one `last_rows`), each
  /// compressed in `parts` parts (fewer when it has fewer rows).
  StripWork(const PngWriter& png, std::size_t strips, int strip_rows, int last_rows, int parts, Draw draw);
  ~StripWork();
  StripWork(const StripWork&) = delete;
  StripWork& operator=(const StripWork&) = delete;

  /// Works until every part is compressed, or a strip failed to be drawn
  /// or a step threw.
  void work();
  /// What went wrong in drawing, if anything.
  cairo_status_t status() const { return status_; }
  /// Rethrows the first exception a step threw.
  void rethrow() const {
    if (failure_) std::rethrow_exception(failure_);
  }
  /// The compressed parts, in the image's order.
  std::vector<PngWriter::Piece>& pieces() { return pieces_; }

 private:
  enum class State : uint8_t { Waiting, Busy, Done };
  struct Part {
    std::size_t strip;
    int from, to;
    State state = State::Waiting;
  };
  // The following, with the lock held.
  bool over() const { return failure_ || status_ != CAIRO_STATUS_SUCCESS || compressed_ == parts_.size(); }
  std::optional<std::size_t> ready_part() const;
  void release_if_done(std::size_t strip);
  // One step without the lock: the strips it reads are its own meanwhile.
  void compress(std::size_t part, PngWriter::Piece& piece) const;

  const PngWriter& png_;
  Draw draw_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<cairo_surface_t*> drawn_;
  std::vector<State> drawing_;
  std::vector<Part> parts_;
  std::vector<std::size_t> first_part_;  // of each strip, then the number of parts
  std::vector<PngWriter::Piece> pieces_;
  std::size_t next_ = 0, compressed_ = 0;
  cairo_status_t status_ = CAIRO_STATUS_SUCCESS;
  std::exception_ptr failure_;
};

}  // namespace tremora::chart
