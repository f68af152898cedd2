#include <gtest/gtest.h>

#include <stdexcept>

#include "tremora/gzip.hpp"

namespace tremora {
namespace {

// The size limit is exact: data of the limit's size inflates, one byte more
// is refused, whatever the block kind (stored at level 0) or member count.
TEST(Gzip, InflatesUpToTheLimitAndNoFurther) {
  const std::string text(100'000, 'x');
  for (int level : {0, 1, 9}) {
    const std::string one = gzip_compress(text, level);
    EXPECT_EQ(gzip_decompress(one, text.size()), text) << level;
    EXPECT_EQ(gzip_decompress(one + one, 2 * text.size()), text + text) << level;
    try {
      gzip_decompress(one + one, 2 * text.size() - 1);
      FAIL() << level;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "gzip: the data expands beyond 199999 bytes");
    }
  }
  EXPECT_EQ(gzip_decompress(zlib_compress(text), text.size()), text);
  EXPECT_THROW(gzip_decompress(gzip_compress(text).substr(0, 100)), std::runtime_error);
}

}  // namespace
}  // namespace tremora
