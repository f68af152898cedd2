// Reused pixel memory for the strip images of a PNG.
//
// A strip image is several MB. Fresh memory costs a page fault per 4 KiB
// page on its first touch, and Cairo's clear images are calloc'ed: their
// pages are first read (mapped to the kernel's zero page) and then written,
// a second fault that flushes the page from the TLB of every processor the
// process runs on. With strips drawn on several threads those flushes
// interrupt the other threads at every page; images whose memory is taken
// from a pool and cleared by writing fault once at most.
#pragma once
#include <cairo.h>

#include <memory>
#include <mutex>
#include <vector>

namespace tremora::chart {

class PixelBuffers {
 public:
  /// Buffers for ARGB32 images of `width` pixels and up to `rows` rows.
  PixelBuffers(int width, int rows);
  PixelBuffers(const PixelBuffers&) = delete;
  PixelBuffers& operator=(const PixelBuffers&) = delete;
  ~PixelBuffers();  // every image it made must have been destroyed

  /// A clear (transparent) image of `rows` rows, at most the pool's; its
  /// memory returns to the pool when the surface is destroyed. Safe to call
  /// from several threads.
  cairo_surface_t* clear_image(int rows);

 private:
  static void give_back(void* buffer);

  struct Buffer {
    PixelBuffers* pool;
    std::unique_ptr<unsigned char[]> pixels;
  };
  int width_, rows_, stride_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Buffer>> free_;
};

}  // namespace tremora::chart
