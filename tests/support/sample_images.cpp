#include "tests/support/sample_images.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/process.h"

namespace gpsfw::test {
namespace {

void Run(const std::vector<std::string>& argv) {
  ASSERT_EQ(RunProcess(argv, 60), 0) << argv[0] << " " << argv[1];
}

}  // namespace

ImageFiles MakeImages(const TempDir& dir, int pfldSize, int fwSize, int sfldSize) {
  const std::string parts = dir.File("parts");
  std::filesystem::create_directories(parts);
  const std::string tool = ProgramPath("gpsfwimg");
  Run({tool, "sample", "--pfld-size", std::to_string(pfldSize), "--fw-size", std::to_string(fwSize),
       "--sfld-size", std::to_string(sfldSize), "--out-dir", parts});
  ImageFiles files{dir.File("fw.bin"), dir.File("bare.bin"), parts + "/SFLD.srec",
                   dir.File("fw.srec")};
  Run({tool, "build", "--pfld", parts + "/PFLD.bin", "--fw", parts + "/FW.bin", "--sfld",
       files.sfld, "-o", files.container});
  Run({tool, "build", "--pfld", parts + "/PFLD.bin", "--fw", parts + "/FW.bin", "-o", files.bare});
  // The S-record image holds what the container programs, made by a producer of its own.
  const std::string bytes = ReadFile(files.bare);
  const uint32_t fwEnd = static_cast<uint8_t>(bytes[0x4024]) |
                         static_cast<uint8_t>(bytes[0x4025]) << 8 |
                         static_cast<uint8_t>(bytes[0x4026]) << 16 |
                         static_cast<uint32_t>(static_cast<uint8_t>(bytes[0x4027])) << 24;
  WriteFile(dir.File("programmed.bin"), bytes.substr(0, fwEnd - 0x10000000));
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  Run({"/usr/bin/objcopy", "-I", "binary", "-O", "srec", "--srec-forceS3", "--srec-len", "32",
       "--change-addresses", "0x10000000", "programmed.bin", "fw.srec"});
  std::filesystem::current_path(previous);
  return files;
}

}  // namespace gpsfw::test
