#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gpsfw {
namespace {

struct OptionCase {
  const char* commandLine;
  char letter;
  bool found;
  std::string value;
};

TEST(CommandLine, OptionExtraction) {
  const std::vector<OptionCase> cases = {
      {"-i /fw.bin", 'i', true, "/fw.bin"},
      {"-i /fw.bin", 'l', false, ""},
      {"-i /fw.bin", 'p', false, ""},
      {"-I /a.bin -i /b.bin", 'i', true, "/b.bin"},
      {"-I /a.bin", 'i', true, "/a.bin"},
      {"-i     /fw.bin", 'i', true, "/fw.bin"},
      {"-i/fw.bin", 'i', true, "/fw.bin"},
      {"-i", 'i', true, ""},
      {"-l /x.log -i   ", 'i', true, ""},
      {"-p COM2: -i /fw.bin -l /var/log/g.txt", 'p', true, "COM2:"},
      {"-p COM2: -i /fw.bin -l /var/log/g.txt", 'l', true, "/var/log/g.txt"},
      // An option counts only where a word starts.
      {"-i /fw/gps-loader.bin", 'l', false, ""},
      {"-i /x/gps-loader.bin -l LOG", 'l', true, "LOG"},
      {"-i /a-i.bin", 'i', true, "/a-i.bin"},
      {"x-i /fw.bin", 'i', false, ""},
      // Bytes from 0x80 up belong to the value; control characters end it.
      {"-i /firmware/\xE9t\xE9.bin -l x", 'i', true, "/firmware/\xE9t\xE9.bin"},
      {"-i /fw.bin\t-l x", 'i', true, "/fw.bin"},
      {"-i /fw\x7F.bin", 'i', true, "/fw\x7F.bin"},
  };
  for (const OptionCase& c : cases) {
    char value[kOptionBuffer] = "untouched";
    EXPECT_EQ(ExtractOption(c.commandLine, c.letter, value, sizeof value), c.found)
        << c.commandLine << " -" << c.letter;
    if (c.found) {
      EXPECT_EQ(std::string(value), c.value) << c.commandLine << " -" << c.letter;
    }
  }
}

TEST(CommandLine, LongValueIsCutToTheBuffer) {
  const std::string commandLine = "-i " + std::string(400, 'a');
  char value[kOptionBuffer];
  ASSERT_TRUE(ExtractOption(commandLine.c_str(), 'i', value, sizeof value));
  EXPECT_EQ(std::string(value), std::string(kOptionBuffer - 1, 'a'));
}

TEST(CommandLine, ArgumentsAreJoinedWithSingleBlanksAndCut) {
  char a0[] = "gpsfwload", a1[] = "-i", a2[] = "/fw.bin", a3[] = "-l", a4[] = "x y";
  char* argv[] = {a0, a1, a2, a3, a4};
  char out[kCommandLineBuffer];
  JoinArguments(5, argv, out, sizeof out);
  EXPECT_EQ(std::string(out), "-i /fw.bin -l x y");
  JoinArguments(1, argv, out, sizeof out);
  EXPECT_EQ(std::string(out), "");

  std::string longArg(300, 'z');
  char* longArgv[] = {a0, longArg.data()};
  JoinArguments(2, longArgv, out, sizeof out);
  EXPECT_EQ(std::string(out).size(), kCommandLineBuffer - 1);
}

}  // namespace
}  // namespace gpsfw
