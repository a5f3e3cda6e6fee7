// --check leaves the last update's log alone, and --json makes its report the one thing on
// standard output.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

struct Shell {
  int status = -1;
  std::string out;
  std::string err;
};

// `arguments` after the loader's path, run by the shell in `dir` as working directory.
Shell RunLoaderIn(const TempDir& dir, const std::string& arguments) {
  Shell run;
  ChildProcess child(
      {"/bin/sh", "-c",
       "cd '" + dir.File("") + "' && '" + ProgramPath("gpsfwload") + "' " + arguments},
      dir.File("out"), dir.File("err"));
  run.status = child.Wait(60);
  run.out = ReadFile(dir.File("out"));
  run.err = ReadFile(dir.File("err"));
  return run;
}

TEST(CheckOutputs, CheckWithoutLogOptionLeavesTheLastUpdatesLogAsItWas) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  WriteFile(dir.File("grelm.txt"), "the last update's log\r\n");
  const Shell run = RunLoaderIn(dir, "--check -i '" + images.container + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Verdict:        accepted\n"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(dir.File("grelm.txt")), "the last update's log\r\n");
  // A refused image still shows the log's lines in the report, from no file.
  const Shell refused = RunLoaderIn(dir, "--check -i '" + images.sfld + "x'");
  EXPECT_EQ(refused.status, 253);
  EXPECT_NE(refused.out.find("Log:\n"), std::string::npos) << refused.out;
  EXPECT_EQ(ReadFile(dir.File("grelm.txt")), "the last update's log\r\n");
}

TEST(CheckOutputs, JsonReportIsTheOneObjectOnStandardOutput) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 1024, 4096, 512);
  const Shell run = RunLoaderIn(dir, "--check --json -i '" + images.container + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["type"], "check");
  EXPECT_EQ(report["verdict"], "accepted");
  EXPECT_EQ(report["code"], 0);
  EXPECT_EQ(report["sfld_source"], "tail");
  EXPECT_EQ(report["erase_start"], "0x10000000");
  EXPECT_GT(report["expected_seconds"].get<double>(), 0.0);

  const Shell refused = RunLoaderIn(dir, "--check --json -i missing.bin");
  EXPECT_EQ(refused.status, 253);
  const nlohmann::json verdict = nlohmann::json::parse(refused.out);
  EXPECT_EQ(verdict["verdict"], "refused");
  EXPECT_EQ(verdict["code"], -3);
  EXPECT_FALSE(verdict["log"].empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("grelm.txt")));
}

TEST(CheckOutputs, JsonRefusesAnythingElseOnStandardOutput) {
  TempDir dir;
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"--check --json -i fw.bin --events -", "refused on standard output: '--events'"},
      {"--check --json -i fw.bin --trace=-", "refused on standard output: '--trace'"},
      {"--json -i fw.bin", "only with --check or --list-ports: '--json'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Shell run = RunLoaderIn(dir, c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("grelm.txt")));
}

}  // namespace
}  // namespace gpsfw::test
