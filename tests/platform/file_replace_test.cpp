#include "platform/file_replace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/log_capture.h"

namespace gpsfw::platform {
namespace {

std::string ReadAll(int fd) {
  std::string bytes;
  char block[64];
  ssize_t got = 0;
  while ((got = ::read(fd, block, sizeof block)) > 0) bytes.append(block, static_cast<size_t>(got));
  return bytes;
}

// The SFLD copy is published so: the new file, held open for reading, renamed over the
// fixed name while another loader still reads the file it replaces.
TEST(RenameReplacing, ReplacesAFileThatReadersHoldOpen) {
  test::TempDir dir;
  const std::string target = dir.File("sfld_tmp.hex");
  const std::string scratch = dir.File("sfld_tmp.hex.a1b2c3");
  test::WriteFile(target, "old");
  test::WriteFile(scratch, "new");
  UniqueFd old(OpenReadingReplaceable(target.c_str()));
  UniqueFd fresh(OpenReadingReplaceable(scratch.c_str()));
  ASSERT_TRUE(old.Valid());
  ASSERT_TRUE(fresh.Valid());
  ASSERT_TRUE(RenameReplacing(scratch.c_str(), target.c_str())) << errno;
  EXPECT_EQ(test::ReadFile(target), "new");
  EXPECT_EQ(ReadAll(old.Get()), "old");
  EXPECT_EQ(ReadAll(fresh.Get()), "new");
  old.Reset();
  fresh.Reset();
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"sfld_tmp.hex"});
}

TEST(RenameReplacing, AFailureLeavesBothNamesAsTheyWere) {
  test::TempDir dir;
  const std::string folder = dir.File("folder");
  const std::string file = dir.File("file");
  const std::string missing = dir.File("missing");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  test::WriteFile(file, "kept");
  EXPECT_FALSE(RenameReplacing(file.c_str(), folder.c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(test::ReadFile(file), "kept");
  errno = 0;
  EXPECT_FALSE(RenameReplacing(missing.c_str(), file.c_str()));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(test::ReadFile(file), "kept");
  errno = 0;
  EXPECT_EQ(OpenReadingReplaceable(missing.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace gpsfw::platform
