// Files for tests: a fresh temporary folder per test, and whole files written
// and checked by path.
#ifndef TESTS_SUPPORT_TEST_FILES_H
#define TESTS_SUPPORT_TEST_FILES_H

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace testsupport {

// Makes a new, empty folder under /tmp; an empty string when none is made.
inline std::string MakeTempFolder() {
  char name[] = "/tmp/merrik-test-XXXXXX";
  if (mkdtemp(name) == nullptr)
    return std::string();
  return name;
}

// Removes `folder` with everything in it; true when nothing is left of it.
inline bool RemoveFolder(const std::string &folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  return !error;
}

// Makes `bytes` the whole content of the file at `path`; false when the file
// cannot be written completely. Safe to call from a sibling program's thread.
inline bool StoreFile(const std::string &path, const std::string &bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  bool closed = std::fclose(file) == 0;
  return written == bytes.size() && closed;
}

// As StoreFile, failing the test when the file cannot be written.
inline void WriteFile(const std::string &path, const std::string &bytes) {
  ASSERT_TRUE(StoreFile(path, bytes)) << path;
}

// The whole content of the file at `path`, or `otherwise` when it cannot be
// read. Safe to call from a sibling program's thread.
inline std::string ReadFileOr(const std::string &path,
                              const std::string &otherwise) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return otherwise;
  std::string bytes;
  char chunk[256];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
    bytes.append(chunk, n);
  std::fclose(file);
  return bytes;
}

inline bool FileExists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

// A test with a temporary folder of its own, `base_`, made in SetUp and
// removed with everything in it in TearDown.
class TempFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    base_ = MakeTempFolder();
    ASSERT_FALSE(base_.empty()) << "no temporary folder";
  }
  void TearDown() override {
    if (!base_.empty()) {
      EXPECT_TRUE(RemoveFolder(base_)) << base_;
    }
    base_.clear();
  }

public:
  static void WriteFile(const std::string &path, const std::string &bytes) {
    testsupport::WriteFile(path, bytes);
  }
  static bool FileExists(const std::string &path) {
    return testsupport::FileExists(path);
  }

  std::string base_;
};

} // namespace testsupport

#endif
