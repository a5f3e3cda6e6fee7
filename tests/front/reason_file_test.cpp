#include "front/reason_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace gpsfw {
namespace {

std::string Written(int returnCode, const RunFacts& facts) {
  std::FILE* out = std::tmpfile();
  EXPECT_NE(out, nullptr);
  EXPECT_TRUE(WriteReasonLine(out, returnCode, facts));
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

// One line whatever the message holds; nothing when the run succeeded or gave no reason.
TEST(ReasonFile, OneLineForAFailureWithItsReasonAndNothingElse) {
  auto facts = std::make_unique<RunFacts>();
  EXPECT_EQ(Written(0, *facts), "");
  EXPECT_EQ(Written(254, *facts), "");
  TakeFailure(*facts, MakeReason("port_busy", "serial port '%s' is held", "/dev/a\nb\r"));
  EXPECT_EQ(Written(254, *facts), "port_busy serial port '/dev/a b ' is held\n");
  // A reason noted on the way of a run that still completed is no failure of it.
  EXPECT_EQ(Written(0, *facts), "");
}

}  // namespace
}  // namespace gpsfw
