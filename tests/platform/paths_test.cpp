#include "platform/paths.h"

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

namespace gpsfw::platform {
namespace {

TEST(DevicePathForPort, MapsPortNamesAndPassesPathsThrough) {
  const struct {
    const char* name;
    const char* device;
  } cases[] = {
      {"GPS1:", "/dev/gps0"},
      {"COM1:", "/dev/ttyS0"},
      {"COM12:", "/dev/ttyS11"},
      {"gps2:", "/dev/gps1"},
      {"Com3:", "/dev/ttyS2"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/pts/7", "/dev/pts/7"},
      {"COM1", "COM1"},            // no colon: a file name
      {"COM0:", "COM0:"},          // ports count from 1
      {"COM1:x", "COM1:x"},        // something after the colon
      {"COM:", "COM:"},            // no number
      {"COM-1:", "COM-1:"},        // no sign
      {"GPS99999:", "GPS99999:"},  // beyond any port
      {"COMPORT1:", "COMPORT1:"},
      {"\xe9t\xe9", "\xe9t\xe9"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char out[64];
    ASSERT_TRUE(DevicePathForPort(c.name, out, sizeof out)) << c.name;
    EXPECT_STREQ(out, c.device) << c.name;
  }
}

TEST(DevicePathForPort, FailsWhenTheResultDoesNotFit) {
  char out[10];
  EXPECT_TRUE(DevicePathForPort("GPS1:", out, sizeof out));   // "/dev/gps0" and its end
  EXPECT_FALSE(DevicePathForPort("COM1:", out, sizeof out));  // "/dev/ttyS0" is one too long
  EXPECT_FALSE(DevicePathForPort("/dev/ttyUSB0", out, sizeof out));
}

TEST(ModuleFileName, NamesThisProgramUnlessOverridden) {
  char out[4096];
  ModuleFileName(out, sizeof out);
  EXPECT_EQ(out[0], '/');
  EXPECT_NE(std::string(out).find("test_platform"), std::string::npos) << out;

  char tiny[4] = "xyz";
  ModuleFileName(tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "") << "a cut path would name another file";

  OverrideModuleFileName("/opt/loader/gpsfwload");
  ModuleFileName(out, sizeof out);
  EXPECT_STREQ(out, "/opt/loader/gpsfwload");
  OverrideModuleFileName(nullptr);
  ModuleFileName(out, sizeof out);
  EXPECT_NE(std::string(out).find("test_platform"), std::string::npos) << out;
}

TEST(TempDirectory, FollowsTmpdirWithItsSlash) {
  const struct {
    const char* tmpdir;  // nullptr: unset
    const char* expected;
  } cases[] = {
      {nullptr, "/tmp/"},
      {"", "/tmp/"},
      {"/var/tmp", "/var/tmp/"},
      {"/var/tmp/", "/var/tmp/"},
      {"/a-directory-name-too-long-for-the-buffer", "/tmp/"},
  };
  for (const auto& c : cases) {
    if (c.tmpdir == nullptr) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", c.tmpdir, 1);
    }
    char out[32];
    TempDirectory(out, sizeof out);
    EXPECT_STREQ(out, c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
  }
  unsetenv("TMPDIR");
}

}  // namespace
}  // namespace gpsfw::platform
