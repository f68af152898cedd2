#include "tremora/gzip.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace tremora {

namespace {

// A deflate stream into gzip (window_bits 15 + 16) or zlib (15) form.
class Deflater {
 public:
  Deflater(int level, int window_bits, const char* what) : what_(what) {
    if (deflateInit2(&z_, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::runtime_error(std::string(what) + ": cannot start the compressor");
  }
  ~Deflater() { deflateEnd(&z_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses a piece into `out`; the last one ends the stream.
  void run(std::string_view data, bool last, std::string& out) {
    // zlib counts in 32 bits: larger data goes in in slices.
    constexpr std::size_t kSlice = std::size_t{1} << 30;
    std::size_t fed = 0;
    char buffer[1 << 16];
    while (true) {
      if (z_.avail_in == 0 && fed < data.size()) {
        std::size_t take = std::min(kSlice, data.size() - fed);
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + fed));
        z_.avail_in = uInt(take);
        fed += take;
      }
      bool all_in = fed == data.size() && z_.avail_in == 0;
      z_.next_out = reinterpret_cast<Bytef*>(buffer);
      z_.avail_out = uInt(sizeof buffer);
      int rc = deflate(&z_, last && fed == data.size() ? Z_FINISH : Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - z_.avail_out);
      if (rc == Z_STREAM_END) return;
      if (rc != Z_OK && rc != Z_BUF_ERROR) throw std::runtime_error(std::string(what_) + ": compression failed");
      if (!last && all_in && z_.avail_in == 0) return;  // everything taken; the rest comes later
    }
  }

 private:
  z_stream z_{};
  const char* what_;
};

std::string deflated(std::string_view data, int level, int window_bits, const char* what) {
  Deflater d(level, window_bits, what);
  std::string out;
  d.run(data, true, out);
  return out;
}

}  // namespace

struct ZlibWriter::State : Deflater {
  explicit State(int level) : Deflater(level, 15, "zlib") {}
};

ZlibWriter::ZlibWriter(int level) : z_(new State(level)) {}
ZlibWriter::~ZlibWriter() { delete z_; }

void ZlibWriter::write(std::string_view piece) {
  if (finished_) throw std::logic_error("zlib: the stream has ended");
  z_->run(piece, false, out_);
}

std::string ZlibWriter::finish() {
  if (!finished_) z_->run({}, true, out_), finished_ = true;
  return std::move(out_);
}

std::string gzip_compress(std::string_view data, int level) { return deflated(data, level, 15 + 16, "gzip"); }

std::string zlib_compress(std::string_view data, int level) { return deflated(data, level, 15, "zlib"); }

std::string gzip_decompress(std::string_view data, std::size_t max_size) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) throw std::runtime_error("gzip: cannot start the decompressor");
  std::string out;
  out.resize(std::min<std::size_t>(max_size, std::max<std::size_t>(data.size() * 4, 1024)));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  std::size_t produced = 0;
  while (true) {
    if (produced == out.size()) {
      if (out.size() >= max_size) {
        inflateEnd(&z);
        throw std::runtime_error("gzip: the data expands beyond " + std::to_string(max_size) + " bytes");
      }
      out.resize(std::min(max_size, out.size() * 2));
    }
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = uInt(out.size() - produced);
    int rc = inflate(&z, Z_NO_FLUSH);
    produced = out.size() - z.avail_out;
    if (rc == Z_STREAM_END) {
      if (z.avail_in == 0) break;
      inflateReset(&z);  // another gzip member follows
      continue;
    }
    if (rc == Z_BUF_ERROR && z.avail_in == 0) {
      inflateEnd(&z);
      throw std::runtime_error("gzip: the data is truncated");
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      std::string why = z.msg ? z.msg : "corrupt data";
      inflateEnd(&z);
      throw std::runtime_error("gzip: " + why);
    }
  }
  inflateEnd(&z);
  out.resize(produced);
  return out;
}

std::size_t gzip_stated_size(std::string_view data) {
  // Ten bytes of header, at least two of deflate data, eight of trailer.
  if (data.size() < 20 || uint8_t(data[0]) != 0x1f || uint8_t(data[1]) != 0x8b) return 0;
  std::size_t size = 0;
  for (std::size_t i = 0; i < 4; ++i) size |= std::size_t(uint8_t(data[data.size() - 4 + i])) << (8 * i);
  return size;
}

struct GzipInflater::State {
  z_stream z{};
};

GzipInflater::GzipInflater() : z_(new State) {
  if (inflateInit2(&z_->z, 15 + 32) != Z_OK) {
    delete z_;
    throw std::runtime_error("gzip: cannot start the decompressor");
  }
}

GzipInflater::~GzipInflater() {
  inflateEnd(&z_->z);
  delete z_;
}

bool GzipInflater::inflate_exactly(std::string_view data, std::span<char> out) {
  z_stream& z = z_->z;
  if (inflateReset(&z) != Z_OK || data.size() > UINT32_MAX || out.size() > UINT32_MAX) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  // Z_FINISH: all output room is given at once, so the stream must end here.
  return inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_out == 0 && z.avail_in == 0;
}

}  // namespace tremora
