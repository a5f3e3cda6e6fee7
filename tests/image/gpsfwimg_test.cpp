// The image tool's build and info against the loader's own view of the image.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/image/image_test_support.h"
#include "update/prepare_image.h"

namespace gpsfw {
namespace {

class ImageTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(tool_.c_str(), X_OK) != 0) GTEST_SKIP() << "gpsfwimg is not built";
  }
  int Tool(const std::string& args) {
    return test::Run(tool_ + " " + args + " >" + state_.dir.File("out.txt") + " 2>&1");
  }
  std::string Output() { return test::ReadFile(state_.dir.File("out.txt")); }
  std::string File(const char* name) { return state_.dir.File(name); }

  test::ImageFixtureState state_;
  std::string tool_ = std::string(GPSFW_BIN_DIR) + "/gpsfwimg";
};

TEST_F(ImageTool, BuildThenInfoAndPrepareAgree) {
  const std::string dir = state_.dir.path();
  ASSERT_EQ(Tool("sample --pfld-size 1001 --fw-size 30000 --sfld-size 333 --out-dir " + dir), 0);
  ASSERT_EQ(Tool("build --pfld " + File("PFLD.bin") + " --fw " + File("FW.bin") + " --sfld " +
                 File("SFLD.srec") + " -o " + File("image.bin")),
            0)
      << Output();
  ASSERT_EQ(Tool("info " + File("image.bin")), 0) << Output();
  const std::string info = Output();
  EXPECT_NE(info.find("PFLD section found at: 0x10000000, 0x100003ec"), std::string::npos);
  EXPECT_NE(info.find("FW   section found at: 0x10004000, 0x1000b530"), std::string::npos);
  EXPECT_NE(info.find("SFLD tail:       found"), std::string::npos) << info;
  EXPECT_NE(info.find("Verdict:         accepted"), std::string::npos);

  test::LogCapture log;
  const std::string path = File("image.bin");
  RunState run;
  EXPECT_TRUE(PrepareImage(run, std::wstring(path.begin(), path.end()).c_str()));
  EXPECT_EQ(log.Lines()[1], "SFLD section found");
  // The tail went out as written: the sample text, with line ends chosen for whole words.
  const std::string extracted = test::ReadFile(File("sfld_tmp.hex"));
  EXPECT_EQ(extracted.size() % 4, 0u);
  std::string sample = test::ReadFile(File("SFLD.srec"));
  std::string a, b;
  for (char c : extracted) a += c == '\r' ? "" : std::string(1, c);
  for (char c : sample) b += c == '\r' ? "" : std::string(1, c);
  EXPECT_EQ(a, b);
}

TEST_F(ImageTool, RefusedInputsAndImages) {
  const std::string dir = state_.dir.path();
  ASSERT_EQ(Tool("sample --pfld-size 20000 --fw-size 4096 --out-dir " + dir), 0);
  EXPECT_EQ(
      Tool("build --pfld " + File("PFLD.bin") + " --fw " + File("FW.bin") + " -o " + File("x.bin")),
      1);
  EXPECT_NE(Output().find("PFLD holds 20000 bytes"), std::string::npos) << Output();
  test::WriteFile(File("PFLD.bin"), "\xE5\x9F\xF0\x18 wrong byte order");
  EXPECT_EQ(
      Tool("build --pfld " + File("PFLD.bin") + " --fw " + File("FW.bin") + " -o " + File("x.bin")),
      1);
  EXPECT_EQ(Tool("build --pfld"), 2);

  test::Bytes image = test::GoodContainer(0x800, 0x1000);
  image.resize(0x4800);
  test::WriteBytes(File("cut.bin"), image);
  EXPECT_EQ(Tool("info " + File("cut.bin")), 1);
  EXPECT_NE(Output().find("0x00000000 FAILED."), std::string::npos) << Output();
  EXPECT_EQ(Tool("info " + File("absent.bin")), 1);
}

TEST_F(ImageTool, RefusesWhatNoContainerCanHoldAndMakesItsFolder) {
  const std::string parts = File("new/parts");
  ASSERT_EQ(Tool("sample --pfld-size 1024 --fw-size 4096 --out-dir " + parts), 0) << Output();
  ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
  test::WriteFile(File("huge.bin"), "");
  ASSERT_EQ(::truncate(File("huge.bin").c_str(), 0x10100001), 0);
  const std::string pfld = " --pfld " + parts + "/PFLD.bin";
  const std::string fw = " --fw " + parts + "/FW.bin";
  const std::string out = " -o " + File("x.bin");
  const std::string sample = "sample --pfld-size 8 --fw-size 8 --out-dir " + File("s");
  struct Case {
    std::string args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {"build --pfld /dev/zero" + fw + out, 1, "/dev/zero is not a regular file"},
      {"build" + pfld + " --fw /dev/zero" + out, 1, "not a regular file"},
      {"build --pfld " + File("fifo") + fw + out, 1, "not a regular file"},
      {"build --pfld " + state_.dir.path() + fw + out, 1, "not a regular file"},
      {"build --pfld " + File("huge.bin") + fw + out, 1, "larger than the largest"},
      {"build" + pfld + fw + " --sfld " + File("fifo") + out, 1, "not a regular file"},
      {"info " + File("fifo"), 1, "refused: not a regular file"},
      {sample + " --sfld-address 0xFFFFFFFF", 2, "run past 0xFFFFFFFF"},
      {sample + " --sfld-address 0xFFFFF801", 2, "run past 0xFFFFFFFF"},
      {sample + " --sfld-address 0xFFFFF800", 0, "SFLD.srec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(Tool(c.args), c.status);
    EXPECT_NE(Output().find(c.says), std::string::npos) << Output();
  }
  EXPECT_NE(test::ReadFile(File("s/SFLD.srec")).find("S325FFFFFFE0"), std::string::npos);
}

}  // namespace
}  // namespace gpsfw
