#include "report/progress_log.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"

namespace gpsfw {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(ProgressLog, ClosedLogIgnoresEverythingAndStillAnswersYes) {
  ASSERT_FALSE(ProgressLogIsOpen());
  LogWide(L"x");
  LogNarrow("y");
  EXPECT_EQ(ReportMessage(L"Incorrect baud.", L"Error", kMessageError), 1);
  CloseProgressLog(0);
}

TEST(ProgressLog, LinesEndInCrLfAndOnlyWideLinesAreFlushed) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  test::WriteFile(path, "old content that must go");
  ASSERT_TRUE(OpenProgressLog(path.c_str()));
  EXPECT_EQ(ReadFile(path), "");
  LogNarrow("PFLD CRC: 0x00000000 PASSED.");
  EXPECT_EQ(ReadFile(path), "") << "narrow lines wait for the next flush";
  LogWide(L"line with\r\ninside");
  EXPECT_EQ(ReadFile(path), "PFLD CRC: 0x00000000 PASSED.\r\nline with\r\ninside\r\n");
  CloseProgressLog(-3);
  EXPECT_EQ(ReadFile(path),
            "PFLD CRC: 0x00000000 PASSED.\r\nline with\r\ninside\r\nRetCode: -3\r\n");
}

TEST(ProgressLog, MessageHookLogsErrorsAndAnswersQuestionsSilently) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  ASSERT_TRUE(OpenProgressLog(path.c_str()));
  EXPECT_EQ(ReportMessage(L"PFLD update requiered.\r\nContinue ?", L" Warning: Unsafe mode",
                          kMessageQuestion),
            1);
  EXPECT_EQ(ReportMessage(L"Incorrect baud.", L"Error", kMessageError), 1);
  CloseProgressLog(0);
  EXPECT_EQ(ReadFile(path), "Incorrect baud.\r\nRetCode: 0\r\n");
}

TEST(ProgressLog, WideTextIsWrittenByteForByteAndOverlongLinesAreCut) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  ASSERT_TRUE(OpenProgressLog(path.c_str()));
  LogWide(L"Opening '/fw/\u00e9t\u00e9\u20ac.bin' ...");
  // A message with the longest path the loader accepts is not cut; a longer line is.
  const std::wstring pathLine(4200, L'p');
  LogWide(pathLine.c_str());
  const std::wstring longLine(9000, L'a');
  LogWide(longLine.c_str());
  CloseProgressLog(0);
  EXPECT_EQ(ReadFile(path), "Opening '/fw/\xE9t\xE9?.bin' ...\r\n" + std::string(4200, 'p') +
                                "\r\n" + std::string(8191, 'a') + "\r\nRetCode: 0\r\n");
}

TEST(ProgressLog, MissingFolderFailsAndCreatesNothing) {
  TempDir dir;
  EXPECT_FALSE(OpenProgressLog(dir.File("missing/log.txt").c_str()));
  EXPECT_FALSE(ProgressLogIsOpen());
}

}  // namespace
}  // namespace gpsfw
