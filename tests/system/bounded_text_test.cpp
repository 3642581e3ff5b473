// The bounded append and copy every composition of the setup goes through.
#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A buffer of `size` bytes inside a larger guarded area, so a write past its
// end shows in the guard bytes.
struct Guarded {
  static const size_t kGuard = 16;
  char area[300 + 2 * kGuard];
  size_t size;
  explicit Guarded(size_t bufferSize, const char *initial = "")
      : size(bufferSize) {
    std::memset(area, '#', sizeof(area));
    std::strcpy(buffer(), initial);
  }
  char *buffer() { return area + kGuard; }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (area[i] != '#' || area[kGuard + size + i] != '#')
        return false;
    return true;
  }
};

TEST(BoundedText, AppendFillsTheBufferExactlyAndNotOneByteMore) {
  Guarded g(10, "abc");
  EXPECT_TRUE(AppendText(g.buffer(), g.size, "defghi")); // 9 + terminator
  EXPECT_STREQ(g.buffer(), "abcdefghi");
  const std::string before(g.buffer(), g.size);
  EXPECT_FALSE(AppendText(g.buffer(), g.size, "j"));
  EXPECT_EQ(std::string(g.buffer(), g.size), before);
  EXPECT_TRUE(AppendText(g.buffer(), g.size, ""));
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(BoundedText, FailedAppendLeavesTheBufferAsItWas) {
  Guarded g(256, "C:\\SUITE");               // 8 characters
  std::memset(g.buffer() + 9, 'z', 256 - 9); // bytes after the terminator
  const std::string before(g.buffer(), 256);
  EXPECT_FALSE(AppendText(g.buffer(), 256, std::string(248, 'x').c_str()));
  EXPECT_EQ(std::string(g.buffer(), 256), before);
  EXPECT_TRUE(AppendText(g.buffer(), 256, std::string(247, 'x').c_str()));
  EXPECT_EQ(std::strlen(g.buffer()), 255u);
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(BoundedText, UnterminatedOrNullBuffersAreRefused) {
  Guarded g(8);
  std::memset(g.buffer(), 'u', 8);
  EXPECT_FALSE(AppendText(g.buffer(), 8, ""));
  EXPECT_FALSE(AppendText(g.buffer(), 0, ""));
  EXPECT_FALSE(AppendText(nullptr, 8, "a"));
  char small[4] = "";
  EXPECT_FALSE(AppendText(small, nullptr));
  EXPECT_FALSE(CopyText(small, nullptr));
  EXPECT_TRUE(g.GuardsIntact());
}

TEST(BoundedText, CopyReplacesOrLeavesTheBufferAsItWas) {
  char buffer[6] = "old";
  EXPECT_TRUE(CopyText(buffer, "12345"));
  EXPECT_STREQ(buffer, "12345");
  EXPECT_FALSE(CopyText(buffer, "123456"));
  EXPECT_STREQ(buffer, "12345");

  EXPECT_TRUE(CopyTextN(buffer, sizeof(buffer), "abcdefgh", 5));
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_FALSE(CopyTextN(buffer, sizeof(buffer), "abcdefgh", 6));
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_TRUE(CopyTextN(buffer, sizeof(buffer), "xyz", 0));
  EXPECT_STREQ(buffer, "");
}

} // namespace
