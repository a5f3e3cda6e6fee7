// Two users share one sticky /tmp: the SFLD copy of one must never stop the other's update.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

constexpr uid_t kNobody = 65534;

// Runs the loader's image check as `uid` with TMPDIR at `tmp`; its exit status, and what it
// said on standard error in `err`.
int CheckAs(uid_t uid, const std::string& loader, const std::string& image, const std::string& tmp,
            const std::string& err) {
  WriteFile(err, "");
  if (::chmod(err.c_str(), 0666) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(126);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ChildProcess child({loader, "--check", "-i", image}, "/dev/null", err);
    ::_exit(child.Wait(120));
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Root leaves its SFLD copy in the shared folder; a user then checks another image there.
// The user cannot replace root's file, so it reads its own copy of its image's SFLD, says so
// once, and its check passes; root's file stays as it was.
TEST(StickyTmp, AUserUpdatesBesideRootsSfldCopy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users (root and nobody)";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string shared = dir.File("tmp");
  ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const ImageFiles images = MakeImages(dir, 1024, 4096, 1536);
  ASSERT_EQ(::chmod(images.container.c_str(), 0644), 0);
  std::string why;
  const std::string loader = CopyProgramForAnyUser("gpsfwload", dir.path(), why);
  ASSERT_FALSE(loader.empty()) << why;

  EXPECT_EQ(CheckAs(0, loader, images.container, shared, dir.File("root.err")), 0);
  const std::string rootsCopy = ReadFile(shared + "/sfld_tmp.hex");
  ASSERT_FALSE(rootsCopy.empty());
  WriteFile(shared + "/sfld_tmp.hex", rootsCopy + "S9030000FC\n");  // root's, and not the user's

  EXPECT_EQ(CheckAs(kNobody, loader, images.container, shared, dir.File("user.err")), 0)
      << ReadFile(dir.File("user.err"));
  const std::string said = ReadFile(dir.File("user.err"));
  EXPECT_NE(said.find("cannot be replaced"), std::string::npos) << said;
  EXPECT_NE(said.find("its own copy of the image's SFLD"), std::string::npos) << said;
  EXPECT_EQ(ReadFile(shared + "/sfld_tmp.hex"), rootsCopy + "S9030000FC\n");
  // The user's copy leaves nothing behind in the shared folder.
  EXPECT_EQ(RunProcess({"/bin/sh", "-c", "ls -A '" + shared + "' | grep -v '^sfld_tmp.hex$'"}), 1);
}

}  // namespace
}  // namespace gpsfw::test
