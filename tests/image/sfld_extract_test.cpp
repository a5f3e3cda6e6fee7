#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "image/sfld_loader.h"
#include "platform/paths.h"
#include "tests/image/image_test_support.h"
#include "tools/container_writer/container_writer.h"

namespace gpsfw {
namespace {

using test::Bytes;

class SfldExtract : public ::testing::Test {
 protected:
  // Runs the extraction on `image`; the temporary file's content, or "<none>".
  bool Extract(const Bytes& image, SfldTail* tail = nullptr) {
    test::WriteBytes(imagePath_, image);
    return ExtractSfldTo(imagePath_.c_str(), tempPath_.c_str(), tail);
  }
  std::string Temp() const {
    return access(tempPath_.c_str(), F_OK) == 0 ? test::ReadFile(tempPath_) : "<none>";
  }
  test::ImageFixtureState state_;
  std::string imagePath_ = state_.dir.File("image.bin");
  std::string tempPath_ = state_.dir.File("sfld_tmp.hex");
};

TEST_F(SfldExtract, TailsAndTheirChecksums) {
  const Bytes base = test::GoodContainer(0x800, 0x1000);
  struct Case {
    const char* name;
    std::string tail;  // raw bytes appended behind the FW checksum word
    bool found;
    std::string temp;
  };
  const std::string text = test::SampleSfld();
  Bytes withSum(text.begin(), text.end());
  test::PutWord(withSum, withSum.size(), test::TailSum(text));
  const std::string good(withSum.begin(), withSum.end());
  std::string wrong = good;
  wrong.back() ^= 0x40;
  // Payload "ab": the word 0x00006261.
  const Case cases[] = {
      {"good tail", good, true, text},
      {"checksum wrong: payload kept", wrong, false, text},
      {"two-byte payload", std::string("ab\x61\x62\0\0", 6), true, "ab"},
      {"only a zero checksum word", std::string(4, '\0'), true, ""},
      {"only a non-zero checksum word", std::string("\x01\0\0\0", 4), false, ""},
      {"no tail", "", false, "<none>"},
      {"tail of three bytes", "abc", false, "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(tempPath_.c_str());
    Bytes image = base;
    image.insert(image.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(Extract(image), c.found);
    EXPECT_EQ(Temp(), c.temp);
  }
}

TEST_F(SfldExtract, PlantedLinkIsNotFollowed) {
  const std::string victim = state_.dir.File("victim.txt");
  test::WriteFile(victim, "precious");
  ASSERT_EQ(symlink(victim.c_str(), tempPath_.c_str()), 0);
  Bytes image = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(image, test::SampleSfld());
  EXPECT_TRUE(Extract(image));
  EXPECT_EQ(test::ReadFile(victim), "precious");
  struct stat info;
  ASSERT_EQ(lstat(tempPath_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(test::ReadFile(tempPath_), test::SampleSfld());
}

TEST_F(SfldExtract, NoTailWhereThereIsNoContainer) {
  Bytes image = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(image, test::SampleSfld());
  Bytes farTail = image;
  test::PutWord(farTail, 0x4024, 0x8FFFFFFC);  // tail would start at 0x80000000
  Bytes noHeader = image;
  test::PutWord(noHeader, 0x4020, 0x10000000);
  const std::string srec = test::SampleSfld();
  for (const Bytes& b : {farTail, noHeader, Bytes(srec.begin(), srec.end()), Bytes(0x4022, 0)}) {
    EXPECT_FALSE(Extract(b));
    EXPECT_EQ(Temp(), "<none>");
  }
  // The temporary folder is missing: the file cannot be created.
  const std::string missing = state_.dir.File("missing/sfld_tmp.hex");
  test::WriteBytes(imagePath_, image);
  EXPECT_FALSE(ExtractSfldTo(imagePath_.c_str(), missing.c_str(), nullptr));
  EXPECT_FALSE(ExtractSfldTo(state_.dir.File("absent.bin").c_str(), tempPath_.c_str(), nullptr));
}

TEST_F(SfldExtract, TailReportAndTempPath) {
  Bytes image = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(image, "S9030000FC\n");
  SfldTail tail{};
  EXPECT_TRUE(Extract(image, &tail));
  EXPECT_TRUE(tail.present);
  EXPECT_EQ(tail.payloadSize, 11u);
  EXPECT_EQ(tail.computed, test::TailSum("S9030000FC\n"));
  EXPECT_EQ(tail.stored, tail.computed);
  char path[kPathCapacity];
  ASSERT_TRUE(SfldTempPath(path, sizeof path));
  EXPECT_EQ(std::string(path), state_.dir.path() + "/sfld_tmp.hex");
}

TEST_F(SfldExtract, ProgramDirectoryKeepsItsSlash) {
  const std::pair<const char*, const char*> cases[] = {{"/opt/gps/bin/gpsfwload", "/opt/gps/bin/"},
                                                       {"/gpsfwload", "/"}};
  for (const auto& c : cases) {
    platform::OverrideModuleFileName(c.first);
    char dir[kPathCapacity];
    ProgramDirectory(dir, sizeof dir);
    EXPECT_EQ(std::string(dir), c.second) << c.first;
  }
}

// The file is written under a name of its own and renamed into place: whatever the outcome,
// no scratch file stays behind, and a name that cannot be replaced keeps what it held.
TEST_F(SfldExtract, NoScratchFileStaysBehind) {
  Bytes image = test::GoodContainer(0x800, 0x1000);
  tool::AppendSfld(image, test::SampleSfld());
  auto names = [this] {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(state_.dir.path())) {
      found.insert(entry.path().filename().string());
    }
    return found;
  };
  EXPECT_TRUE(Extract(image));
  EXPECT_EQ(names(), (std::set<std::string>{"bin", "image.bin", "sfld_tmp.hex"}));
  unlink(tempPath_.c_str());
  ASSERT_EQ(mkdir(tempPath_.c_str(), 0700), 0);
  EXPECT_FALSE(Extract(image));
  EXPECT_EQ(names(), (std::set<std::string>{"bin", "image.bin", "sfld_tmp.hex"}));
  EXPECT_TRUE(std::filesystem::is_directory(tempPath_));
  rmdir(tempPath_.c_str());
}

}  // namespace
}  // namespace gpsfw
