#include "app/run_loader.h"

#include "app/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "report/observer.h"
#include "sim/receiver.h"
#include "sim/virtual_transport.h"
#include "tests/support/log_capture.h"
#include "tests/support/sample_images.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_line.h"

namespace gpsfw {
namespace {

using test::ReadFile;
using test::ScriptedLine;
using test::TempDir;

std::string Log(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

class RunLoaderTest : public ::testing::Test {
 protected:
  RunLoaderTest() { platform::OverrideModuleFileName(dir.File("gpsfwload").c_str()); }
  ~RunLoaderTest() override { platform::OverrideModuleFileName(nullptr); }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "gpsfwload");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    LoaderOptions options;
    EXPECT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options));
    return RunLoader(options);
  }

  TempDir dir;
  test::ScopedEnv tmpDir{"TMPDIR", dir.path()};
  ScriptedLine line;
};

TEST_F(RunLoaderTest, MissingImageOptionEndsWithMinusSixAndNeverTouchesThePort) {
  const std::string log = dir.File("g.txt");
  EXPECT_EQ(Run({"-l", log}), kRunNoImageOption);
  EXPECT_EQ(ReadFile(log),
            Log({"GPS FW Loader v1.0.0 ", "FW image file (-i parameter) missed", "RetCode: -6"}));
  EXPECT_TRUE(line.openedDevice.empty());
}

TEST_F(RunLoaderTest, LogInMissingFolderEndsWithMinusFiveAndCreatesNothing) {
  EXPECT_EQ(Run({"-i", "/fw.bin", "-l", dir.File("no/such/log.txt")}), kRunLogFailed);
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
  EXPECT_TRUE(line.openedDevice.empty());
}

TEST_F(RunLoaderTest, PortThatCannotBeOpenedEndsWithMinusTwoBeforeTheImageIsRead) {
  line.failOpen = true;
  const std::string log = dir.File("g.txt");
  EXPECT_EQ(Run({"-i", "/no/such/image.bin", "-p", "COM3:", "-l", log}), kRunPortFailed);
  EXPECT_EQ(ReadFile(log),
            Log({"GPS FW Loader v1.0.0 ", "Can not open serial port 1.", "RetCode: -2"}));
}

TEST_F(RunLoaderTest, DefaultPortIsTheFirstGpsDevice) {
  line.failOpen = true;
  Run({"-i", "/fw.bin", "-l", dir.File("g.txt")});
  EXPECT_EQ(line.openedDevice, "/dev/gps0");
}

TEST_F(RunLoaderTest, UnusableImageEndsWithMinusThreeAndClosesThePort) {
  const std::string log = dir.File("g.txt");
  EXPECT_EQ(Run({"-i", dir.File("missing.bin"), "-p", "/dev/ttyFAKE", "-l", log}), kRunImageFailed);
  EXPECT_EQ(line.openedDevice, "/dev/ttyFAKE");
  EXPECT_EQ(ReadFile(log), Log({"GPS FW Loader v1.0.0 ", "Opening SFLD ...", "SFLD section skipped",
                                "Can not open '" + dir.File("sfld.hex") + "'", "RetCode: -3"}));
}

TEST_F(RunLoaderTest, EmptyImageValueIsAnUnusableImage) {
  const std::string log = dir.File("g.txt");
  EXPECT_EQ(Run({"-p", "/dev/ttyFAKE", "-l", log, "-i"}), kRunImageFailed);
}

TEST_F(RunLoaderTest, DefaultLogIsInTheWorkingDirectory) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(Run({}), kRunNoImageOption);
  std::filesystem::current_path(previous);
  EXPECT_NE(ReadFile(dir.File("grelm.txt")).find("RetCode: -6"), std::string::npos);
}

// A receiver that never answers: with a time to give up, the run stops at the session's
// next poll after it, closes the port and says why; the log ends as a run ends.
TEST_F(RunLoaderTest, GiveUpAfterEndsWithMinusEightSoonAfterTheTimeGiven) {
  struct Failures : Observer {
    void OnFailure(const FailureReason& reason) override { codes.push_back(reason.code); }
    std::vector<std::string> codes;
  } failures;
  InstallObserver(&failures);
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  const std::string log = dir.File("g.txt");
  line.stopAtUs = 600'000'000;  // a run that kept trying would be stopped here
  const int code =
      Run({"-i", images.container, "-p", "/dev/ttyFAKE", "-l", log, "--give-up-after", "30"});
  InstallObserver(nullptr);
  EXPECT_EQ(code, kRunGaveUp);
  EXPECT_GE(line.now(), 30'000'000u);
  // At most one poll round (a wake-up with its syncs, a quiet gap) beyond the time given.
  EXPECT_LE(line.now(), 60'000'000u);
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("Waiting for target answer at 19200...\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 33), "Gave up after 30 s\r\nRetCode: -8\r\n");
  EXPECT_EQ(failures.codes, std::vector<std::string>{"gave_up"});
}

// An adapter pulled out for good is waited for until the time to give up, not for ever.
TEST_F(RunLoaderTest, GiveUpAfterEndsTheWaitForALostPort) {
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  const std::string log = dir.File("g.txt");
  line.stopAtUs = 600'000'000;
  line.onHostByte = [this](uint8_t) { line.gone = true; };
  const int code =
      Run({"-i", images.container, "-p", "/dev/ttyFAKE", "-l", log, "--give-up-after", "30"});
  EXPECT_EQ(code, kRunGaveUp);
  EXPECT_LE(line.now(), 40'000'000u);  // the session's next look at the time
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("Serial port lost, waiting for it...\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 33), "Gave up after 30 s\r\nRetCode: -8\r\n");
}

// An SFLD the run may fall back to is as precious as the image.
TEST_F(RunLoaderTest, LogThatIsAnSfldFileIsRefusedAndTheFileKept) {
  platform::OverrideModuleFileName(dir.File("bin/gpsfwload").c_str());
  std::filesystem::create_directories(dir.File("bin"));
  std::filesystem::create_directories(dir.File("share/gpsfwload"));
  for (const std::string& sfld : {dir.File("bin/sfld.hex"), dir.File("share/gpsfwload/sfld.hex")}) {
    test::WriteFile(sfld, "S9030000FC\n");
    EXPECT_EQ(Run({"-i", "/fw.bin", "-l", sfld}), kRunLogFailed) << sfld;
    EXPECT_EQ(ReadFile(sfld), "S9030000FC\n");
    EXPECT_TRUE(line.openedDevice.empty());
  }
}

// A path longer than the old 255-byte command line and 512-character buffers, before or
// after the other options: the run opens and names exactly that file.
TEST(RunLoaderPaths, LongImagePathIsUsedWholeInAnyOrder) {
  TempDir dir;
  const test::ImageFiles images = test::MakeImages(dir, 1024, 4096, 256);
  std::string folder = dir.path();
  while (folder.size() < 1500) folder += "/" + std::string(200, 'd');
  std::filesystem::create_directories(folder);
  const std::string image = folder + "/" + std::string(100, 'f') + ".bin";
  std::filesystem::copy_file(images.container, image);
  const test::ScopedEnv tmpDir("TMPDIR", dir.path());
  const std::string log = dir.File("g.txt");
  const std::vector<std::vector<std::string>> orders = {
      {"-i", image, "-p", "/dev/gps-sim", "-l", log},
      {"-p", "/dev/gps-sim", "-l", log, "-i" + image},
  };
  for (std::vector<std::string> args : orders) {
    args.insert(args.begin(), "gpsfwload");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    LoaderOptions options;
    ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options));
    sim::Receiver receiver;
    sim::VirtualTransport transport(receiver);
    {
      sim::ScopedVirtualTransport installed(transport);
      EXPECT_EQ(RunLoader(options), kRunOk);
    }
    EXPECT_TRUE(receiver.Result().updateCompleted);
    EXPECT_NE(ReadFile(log).find("\r\nOpening '" + image + "' ...\r\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace gpsfw
