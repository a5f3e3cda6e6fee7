#include "state/state_view.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"

namespace gpsfw {
namespace {

std::string Shown(const std::string& path, bool json) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ShowState(path.c_str(), json), 0);
  return testing::internal::GetCapturedStdout();
}

// Numbers and flags go out as JSON's own; a value edited by hand into something else stays
// a string, and the object stays valid JSON.
TEST(ShowState, JsonKeepsTheFileValidWhateverItsValues) {
  test::TempDir dir;
  const std::string state = dir.File("r.state");
  const struct {
    const char* size;
    const char* logComplete;
    const char* shown;
  } cases[] = {
      {"4096", "true", R"({"size":4096,"sha256":"ab\"c","identity":{},"log_complete":true})"},
      {"0", "false", R"({"size":0,"sha256":"ab\"c","identity":{},"log_complete":false})"},
      {"12kB", "yes", R"({"size":"12kB","sha256":"ab\"c","identity":{},"log_complete":"yes"})"},
      {"", "", R"({"size":"","sha256":"ab\"c","identity":{},"log_complete":""})"},
      {"+7", "1", R"({"size":"+7","sha256":"ab\"c","identity":{},"log_complete":"1"})"},
  };
  for (const auto& c : cases) {
    test::WriteFile(state, std::string("sha256=ab\"c\nsize=") + c.size +
                               "\nlog_complete=" + c.logComplete + "\n");
    EXPECT_EQ(Shown(state, true), std::string(c.shown) + "\n") << c.size;
  }
  EXPECT_EQ(Shown(state, false), "size: +7\nsha256: ab\"c\nlog_complete: 1\n");
}

}  // namespace
}  // namespace gpsfw
