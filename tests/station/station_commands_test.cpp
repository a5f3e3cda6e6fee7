// The command line of `history`, `stats` and `serve`: each command's refusals, their exit
// status, and a --help that answers whatever follows it.
#include <gtest/gtest.h>

#include "tools/gpsfwstation/cli/record_commands.h"
#include "tools/gpsfwstation/cli/serve_command.h"
#include "tools/gpsfwstation/cli/station_options.h"

namespace gpsfw::station {
namespace {

using Command = int (*)(const std::vector<std::string>&);

struct CommandCase {
  const char* name;
  Command command;
  std::vector<std::string> args;
  int status;
  const char* message;  // the first line on standard error
};

TEST(StationCommands, EachCommandRefusesWhatItCannotUseWithItsOwnMessage) {
  const CommandCase cases[] = {
      {"history unknown", RunHistoryCommand, {"--bogus"}, 2, "history: unknown option --bogus"},
      {"history word", RunHistoryCommand, {"today"}, 2, "history: unknown option today"},
      {"history limit", RunHistoryCommand, {"--limit", "x"}, 2, "--limit needs a count, not 'x'"},
      {"history no value", RunHistoryCommand, {"--db"}, 2, "--db needs a value"},
      {"stats by",
       RunStatsCommand,
       {"--by", "week"},
       2,
       "--by takes port, day, image or station, not 'week'"},
      {"stats unknown", RunStatsCommand, {"-x"}, 2, "stats: unknown option -x"},
      {"serve unknown", RunServeCommand, {"--nope"}, 2, "serve: unknown argument --nope"},
      {"serve no value", RunServeCommand, {"--http"}, 2, "--http needs a value"},
      {"serve no http", RunServeCommand, {"--db", "a.db"}, 2, "serve needs --http ADDR:PORT"},
      {"serve no db",
       RunServeCommand,
       {"--http", "127.0.0.1:0"},
       2,
       "serve needs --db WHERE, --web DIR or both"},
      {"serve web no http", RunServeCommand, {"--web", "site"}, 2, "serve needs --http ADDR:PORT"},
      {"history help first", RunHistoryCommand, {"--help", "--bogus"}, 0, ""},
      {"stats help", RunStatsCommand, {"-h"}, 0, ""},
      {"serve help", RunServeCommand, {"--help"}, 0, ""},
  };
  for (const CommandCase& c : cases) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int status = c.command(c.args);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << c.name;
    const std::string first = err.substr(0, err.find('\n'));
    EXPECT_EQ(first, *c.message ? "gpsfwstation: " + std::string(c.message) : "") << c.name;
    // A refusal shows the command's usage; a --help prints it on standard output.
    EXPECT_NE((status == 0 ? out : err).find("usage: gpsfwstation"), std::string::npos) << c.name;
  }
}

TEST(StationCommands, TheRunRefusesLikeBefore) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"-i"}, "-i needs a value"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"-i", "fw.bin", ""}, "an empty port name"},
      {{"-i", "fw.bin", "--settle", "-1", "p"},
       "--settle needs a number of seconds up to 86400, not '-1'"},
      {{"-i", "fw.bin", "--expect-sha256", "ab", "p"},
       "--expect-sha256 needs the 64 hex digits of a SHA-256, not 'ab'"},
      {{"-i", "fw.bin", "--web", "site", "p"}, "--web needs --http"},
      {{"-i", "fw.bin", "--require-serial", "p"},
       "--require-serial needs --http (to scan serials) or --serial-from CMD"},
      {{"-i", "fw.bin", "--serial-timeout", "0", "p"},
       "--serial-timeout needs a number of seconds up to 86400, not '0'"},
  };
  for (const auto& [args, message] : cases) {
    try {
      ParseStationOptions(args);
      ADD_FAILURE() << message;
    } catch (const UsageError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  const StationOptions options =
      ParseStationOptions({"--watch", "-i", "fw.bin", "--ports", "/dev/g*", "--settle", "0", "p1"});
  EXPECT_TRUE(options.watch);
  EXPECT_EQ(options.image, "fw.bin");
  EXPECT_EQ(options.patterns, std::vector<std::string>{"/dev/g*"});
  EXPECT_EQ(options.ports, std::vector<std::string>{"p1"});
  EXPECT_EQ(options.settleSeconds, 0);
}

}  // namespace
}  // namespace gpsfw::station
