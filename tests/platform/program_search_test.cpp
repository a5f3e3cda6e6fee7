#include "platform/posix/program_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"

namespace gpsfw::platform {
namespace {

// Three folders on a search path: one without the program, one with a file of its name that
// is not executable, one with a directory of its name, and one with the program.
class FindProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char real[PATH_MAX];
    ASSERT_NE(::realpath(dir_.path().c_str(), real), nullptr);
    root_ = real;
    for (const char* sub : {"/empty", "/plain", "/folder", "/folder/gpsfwload", "/bin"}) {
      ASSERT_EQ(::mkdir((root_ + sub).c_str(), 0755), 0) << sub;
    }
    test::WriteFile(root_ + "/plain/gpsfwload", "data");
    ::chmod((root_ + "/plain/gpsfwload").c_str(), 0644);
    test::WriteFile(root_ + "/bin/gpsfwload", "#!/bin/sh\n");
    ::chmod((root_ + "/bin/gpsfwload").c_str(), 0755);
    ASSERT_EQ(::symlink((root_ + "/bin/gpsfwload").c_str(), (root_ + "/empty/link").c_str()), 0);
  }

  std::string Find(const char* argv0, const std::string& searchPath) {
    char out[PATH_MAX];
    if (!FindProgram(argv0, searchPath.c_str(), out, sizeof out)) return "(none)";
    return out;
  }

  test::TempDir dir_;
  std::string root_;
};

TEST_F(FindProgramTest, FindsTheProgramAsTheShellDid) {
  const std::string program = root_ + "/bin/gpsfwload";
  const std::string path =
      root_ + "/empty:" + root_ + "/plain:" + root_ + "/folder:" + root_ + "/bin";
  EXPECT_EQ(Find("gpsfwload", path), program);
  EXPECT_EQ(Find("gpsfwload", root_ + "/empty:" + root_ + "/plain"), "(none)");
  EXPECT_EQ(Find("gpsfwload", ""), "(none)");
  EXPECT_EQ(Find("", path), "(none)");
  // A name with a slash is not searched; links are resolved to the real file.
  EXPECT_EQ(Find(program.c_str(), "/nowhere"), program);
  EXPECT_EQ(Find((root_ + "/empty/link").c_str(), "/nowhere"), program);
  EXPECT_EQ(Find((root_ + "/plain/gpsfwload").c_str(), path), "(none)");
  EXPECT_EQ(Find("link", root_ + "/empty"), program);
}

TEST_F(FindProgramTest, AnEmptyEntryIsTheWorkingDirectory) {
  char previous[PATH_MAX];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir((root_ + "/bin").c_str()), 0);
  const std::string program = root_ + "/bin/gpsfwload";
  EXPECT_EQ(Find("gpsfwload", root_ + "/empty:"), program);
  EXPECT_EQ(Find("gpsfwload", ":" + root_ + "/empty"), program);
  EXPECT_EQ(Find("./gpsfwload", "/nowhere"), program);
  ASSERT_EQ(::chdir(previous), 0);
}

TEST_F(FindProgramTest, RefusesAPathThatDoesNotFit) {
  char out[8] = "xxxxxxx";
  EXPECT_FALSE(FindProgram("gpsfwload", (root_ + "/bin").c_str(), out, sizeof out));
  EXPECT_STREQ(out, "");
  // Without PATH the system's own folders are searched, as execvp() does.
  char sh[PATH_MAX];
  ASSERT_TRUE(FindProgram("sh", nullptr, sh, sizeof sh));
  EXPECT_EQ(sh[0], '/');
}

// Where the kernel names the running program its link wins; where it is missing (no /proc)
// or names something too long to hold, argv[0] is found as the shell found it.
TEST_F(FindProgramTest, FallsBackToTheArgumentWithoutTheKernelsLink) {
  const std::string program = root_ + "/bin/gpsfwload";
  const std::string path = root_ + "/empty:" + root_ + "/bin";
  const std::string link = root_ + "/exe";
  ASSERT_EQ(::symlink("/opt/loader/gpsfwload", link.c_str()), 0);
  const std::string missing = root_ + "/no-proc/self/exe";
  char out[PATH_MAX];
  ASSERT_TRUE(LocateProgram(link.c_str(), "gpsfwload", path.c_str(), out, sizeof out));
  EXPECT_STREQ(out, "/opt/loader/gpsfwload");
  ASSERT_TRUE(LocateProgram(missing.c_str(), "gpsfwload", path.c_str(), out, sizeof out));
  EXPECT_EQ(std::string(out), program);
  ASSERT_TRUE(LocateProgram(missing.c_str(), program.c_str(), "/nowhere", out, sizeof out));
  EXPECT_EQ(std::string(out), program);
  EXPECT_FALSE(LocateProgram(missing.c_str(), "gpsfwload", "/nowhere", out, sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(LocateProgram(missing.c_str(), "", path.c_str(), out, sizeof out));
  EXPECT_STREQ(out, "");
  char small[16];
  EXPECT_FALSE(LocateProgram(link.c_str(), "gpsfwload", "/nowhere", small, sizeof small));
  EXPECT_STREQ(small, "") << "a cut path would name another file";
}

}  // namespace
}  // namespace gpsfw::platform
