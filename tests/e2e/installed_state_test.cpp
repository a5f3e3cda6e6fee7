// What a device's receiver runs: --state after real updates on a pty, --show-state, and the
// SHA-256 the state names images by.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "image/image_digest.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

TEST(ImageDigest, Sha256OfTheStandardsVectors) {
  struct Case {
    std::string text;
    const char* hex;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    Sha256 sha;
    // Fed in uneven pieces, so that the blocks are cut anywhere.
    for (size_t at = 0; at < c.text.size(); at += 37) {
      sha.Update(reinterpret_cast<const uint8_t*>(c.text.data()) + at,
                 std::min<size_t>(37, c.text.size() - at));
    }
    char hex[65];
    sha.Finish(hex);
    EXPECT_STREQ(hex, c.hex) << c.text.size() << " bytes";
  }
  const std::string check = "123456789";  // CRC-32's check value
  EXPECT_EQ(Crc32Update(0, reinterpret_cast<const uint8_t*>(check.data()), check.size()),
            0xCBF43926u);
}

class InstalledState : public ::testing::Test {
 protected:
  // One update of `image` against a simulated receiver that expects it.
  int Update(const std::string& image, const std::string& expected) {
    const std::string link = dir.File("gps0");
    ChildProcess sim({ProgramPath("gpsfwsim"), "--once", "--expect", expected, "--link", link,
                      "--time-limit", "60"},
                     dir.File("sim.out"));
    EXPECT_TRUE(WaitForPath(link));
    ChildProcess loader({ProgramPath("gpsfwload"), "-q", "-i", image, "-p", link, "-l",
                         dir.File("log.txt"), "--state", state, "--give-up-after", "40"},
                        dir.File("out"), dir.File("err"));
    const int code = loader.Wait(90);
    sim.Kill();
    return code;
  }
  nlohmann::json Shown() {
    const int code = RunProcess({"/bin/sh", "-c",
                                 ProgramPath("gpsfwload") + " --show-state " + state +
                                     " --json > " + dir.File("shown.json")});
    EXPECT_EQ(code, 0);
    return nlohmann::json::parse(ReadFile(dir.File("shown.json")));
  }

  TempDir dir;
  std::string state = dir.File("receiver.state");
};

TEST_F(InstalledState, KeepsTheImageAndTheOneBeforeAndIsLeftByAFailure) {
  const ImageFiles first = MakeImages(dir, 1024, 4096, 512);
  std::filesystem::copy_file(first.container, dir.File("first.bin"));
  TempDir other;
  const ImageFiles second = MakeImages(other, 1024, 6144, 512);

  ASSERT_EQ(Update(dir.File("first.bin"), dir.File("first.bin")), 0);
  nlohmann::json shown = Shown();
  ImageDigest digest;
  ASSERT_TRUE(DigestFile(dir.File("first.bin").c_str(), digest));
  EXPECT_EQ(shown["image"], "first.bin");
  EXPECT_EQ(shown["sha256"], digest.sha256);
  EXPECT_EQ(shown["size"], digest.size);
  EXPECT_EQ(shown["identity"],
            nlohmann::json({{"boot_loader", "BL 2.04"}, {"sfld", "SFLD 1.10"}, {"flash_type", 5}}));
  EXPECT_FALSE(shown.contains("previous"));

  ASSERT_EQ(Update(second.container, second.container), 0);
  shown = Shown();
  EXPECT_EQ(shown["previous"]["sha256"], digest.sha256);
  // The image before is kept, byte for byte, where the state says.
  EXPECT_EQ(ReadFile(shown["previous_image"]), ReadFile(dir.File("first.bin")));
  EXPECT_EQ(ReadFile(shown["image_copy"]), ReadFile(second.container));

  // An update that does not complete (an image the loader refuses) leaves the state alone.
  const std::string before = ReadFile(state);
  WriteFile(dir.File("broken.bin"), "no image");
  EXPECT_NE(Update(dir.File("broken.bin"), second.container), 0);
  EXPECT_EQ(ReadFile(state), before);
  size_t copies = 0;
  for (const auto& entry : std::filesystem::directory_iterator(state + ".d")) {
    copies += entry.is_regular_file();
  }
  EXPECT_EQ(copies, 2u);
}

TEST_F(InstalledState, AStateThatCannotBeWrittenIsItsOwnCodeAndNoStateIsShown) {
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  std::filesystem::create_directories(state);  // a folder where the file should be
  EXPECT_EQ(Update(images.container, images.container), 256 - 9);
  // The log's last line is the true code, and the message gives the system's error.
  EXPECT_EQ(LastBytes(ReadFile(dir.File("log.txt")), 37),
            "FLASH upload complete.\r\nRetCode: -9\r\n");
  EXPECT_EQ(ReadFile(dir.File("err")), "gpsfwload: the update completed, but the state file " +
                                           state + " cannot be written: Is a directory\n");
  EXPECT_EQ(RunProcess({ProgramPath("gpsfwload"), "--show-state", dir.File("none.state")}), 1);
}

}  // namespace
}  // namespace gpsfw::test
