#include "strip_work.hpp"

#include <algorithm>

namespace tremora::chart {

StripWork::StripWork(const PngWriter& png, std::size_t strips, int strip_rows, int last_rows, int parts, Draw draw)
    : png_(png), draw_(std::move(draw)), drawn_(strips, nullptr), drawing_(strips, State::Waiting) {
  for (std::size_t k = 0; k < strips; ++k) {
    int rows = k + 1 == strips ? last_rows : strip_rows, cuts = std::clamp(rows, 1, std::max(parts, 1));
    first_part_.push_back(parts_.size());
    for (int p = 0; p < cuts; ++p) parts_.push_back({k, rows * p / cuts, rows * (p + 1) / cuts});
  }
  first_part_.push_back(parts_.size());
  pieces_.resize(parts_.size());
}

StripWork::~StripWork() {
  for (cairo_surface_t* s : drawn_)
    if (s) cairo_surface_destroy(s);
}

std::optional<std::size_t> StripWork::ready_part() const {
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    const Part& p = parts_[i];
    bool above_drawn = p.from > 0 || p.strip == 0 || drawing_[p.strip - 1] == State::Done;
    if (p.state == State::Waiting && drawing_[p.strip] == State::Done && above_drawn) return i;
  }
  return std::nullopt;
}

void StripWork::release_if_done(std::size_t strip) {
  if (!drawn_[strip]) return;
  for (std::size_t i = first_part_[strip]; i < first_part_[strip + 1]; ++i)
    if (parts_[i].state != State::Done) return;
  if (strip + 1 < drawn_.size() && parts_[first_part_[strip + 1]].state != State::Done) return;
  cairo_surface_destroy(drawn_[strip]);
  drawn_[strip] = nullptr;
}

void StripWork::compress(std::size_t part, PngWriter::Piece& piece) const {
  const Part& p = parts_[part];
  // Only a strip's first part reads the strip above: the others may see it
  // released meanwhile.
  cairo_surface_t* above = p.from == 0 && p.strip > 0 ? drawn_[p.strip - 1] : nullptr;
  piece = png_.deflate_rows(drawn_[p.strip], p.from, p.to, above, part + 1 == parts_.size());
}

void StripWork::work() {
  std::unique_lock lock(mutex_);
  while (!over()) {
    std::optional<std::size_t> part = ready_part();
    if (!part && next_ == drawn_.size()) {
      changed_.wait(lock);
      continue;
    }
    std::size_t k = part ? *part : next_++;
    (part ? parts_[k].state : drawing_[k]) = State::Busy;
    lock.unlock();
    PngWriter::Piece piece;
    cairo_surface_t* strip = nullptr;
    std::exception_ptr failure;
    try {
      if (part) compress(k, piece);
      else strip = draw_(k);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure && !failure_) failure_ = failure;
    if (part) {
      std::size_t s = parts_[k].strip;
      pieces_[k] = std::move(piece), parts_[k].state = State::Done, ++compressed_;
      if (s > 0) release_if_done(s - 1);
      release_if_done(s);
    } else {
      drawn_[k] = strip, drawing_[k] = State::Done;
      if (strip && cairo_surface_status(strip) != CAIRO_STATUS_SUCCESS && status_ == CAIRO_STATUS_SUCCESS)
        status_ = cairo_surface_status(strip);
    }
    changed_.notify_all();
  }
}

}  // namespace tremora::chart
