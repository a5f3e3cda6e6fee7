// What `cmake --install` puts into a prefix: the three programs, their manual pages, the
// documentation, laid out so that the installed programs work from there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

TEST(InstallTreeTest, ProgramsManualPagesAndDocumentationInTheirPlaces) {
  TempDir dir;
  const std::string prefix = dir.File("prefix");
  ASSERT_EQ(
      RunProcess({GPSFW_CMAKE_COMMAND, "--install", GPSFW_BUILD_DIR, "--prefix", prefix}, 120), 0);
  for (const char* program : {"gpsfwload", "gpsfwsim", "gpsfwimg"}) {
    const std::string path = prefix + "/bin/" + program;
    EXPECT_EQ(access(path.c_str(), X_OK), 0) << path;
    const std::string page = prefix + "/share/man/man1/" + program + ".1.gz";
    const std::string text = dir.File(std::string(program) + ".1");
    ASSERT_EQ(ChildProcess({"/bin/gzip", "-dc", page}, text).Wait(30), 0) << page;
    std::string title = program;
    for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string manual = ReadFile(text);
    EXPECT_EQ(manual.rfind(".TH " + title + " 1 ", 0), 0u) << manual.substr(0, 80);
    EXPECT_NE(manual.find("gpsfwload " GPSFW_VERSION_TEXT), std::string::npos) << program;
  }
  EXPECT_EQ(ReadFile(prefix + "/share/doc/gpsfwload/README.md"),
            ReadFile(std::string(GPSFW_SOURCE_DIR) + "/README.md"));
  EXPECT_NE(ReadFile(prefix + "/share/doc/gpsfwload/SFLD.txt").find("share/gpsfwload/sfld.hex"),
            std::string::npos);

  // The installed tools work from the prefix.
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  EXPECT_EQ(RunProcess(Started(prefix + "/bin/gpsfwimg", {"info", images.container}), 30), 0);
  EXPECT_EQ(RunProcess(Started(prefix + "/bin/gpsfwsim", {"--help"}), 30), 0);
  // An installed loader finds the SFLD where the note says to put it.
  std::filesystem::create_directories(prefix + "/share/gpsfwload");
  std::filesystem::copy_file(images.sfld, prefix + "/share/gpsfwload/sfld.hex");
  const std::string report = dir.File("check");
  EXPECT_EQ(ChildProcess(Started(prefix + "/bin/gpsfwload",
                                 {"--check", "-i", images.bare, "-l", dir.File("check.log")}),
                         report)
                .Wait(30),
            0)
      << ReadFile(report);
  EXPECT_NE(ReadFile(report).find("/bin/../share/gpsfwload/sfld.hex\n"), std::string::npos)
      << ReadFile(report);
}

}  // namespace
}  // namespace gpsfw::test
