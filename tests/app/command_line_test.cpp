#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gpsfw {
namespace {

// The options that were set, as "i=VALUE p=VALUE ... flags", or the refusal.
std::string Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "gpsfwload");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  LoaderOptions o;
  if (!ParseCommandLine(static_cast<int>(args.size()), argv.data(), o)) {
    return std::string("refused: ") + o.error + " '" + o.offending + "'";
  }
  std::string text;
  const std::pair<const char*, const char*> values[] = {
      {"i", o.image},       {"p", o.port},      {"l", o.log},
      {"events", o.events}, {"trace", o.trace}, {"give-up-after", o.giveUpAfter}};
  for (const auto& [name, value] : values) {
    if (value != nullptr) text += std::string(name) + "=" + value + " ";
  }
  const std::pair<const char*, bool> flags[] = {{"progress", o.progress},
                                                {"quiet", o.quiet},
                                                {"check", o.check},
                                                {"json", o.json},
                                                {"help", o.help},
                                                {"version", o.version},
                                                {"no-low-latency", o.noLowLatency},
                                                {"list-ports", o.listPorts}};
  for (const auto& [name, set] : flags) {
    if (set) text += std::string(name) + " ";
  }
  if (o.giveUpAfterSeconds != 0) text += std::to_string(o.giveUpAfterSeconds) + "s ";
  if (!text.empty()) text.pop_back();
  return text;
}

const std::string kBadSeconds =
    "refused: a whole number of seconds from 1 to 86400 expected for '--give-up-after'";

struct Case {
  std::vector<std::string> args;
  std::string parsed;
};

TEST(CommandLine, TokensAndValues) {
  const std::string longPath(MaxOptionValueBytes(), 'a');
  const Case cases[] = {
      {{}, ""},
      {{"-i", "/fw.bin"}, "i=/fw.bin"},
      {{"-p", "COM2:", "-i", "/fw.bin", "-l", "/var/log/g.txt"},
       "i=/fw.bin p=COM2: l=/var/log/g.txt"},
      // Joined values, and a value that looks like an option.
      {{"-i/fw.bin", "-pCOM2:", "-lx"}, "i=/fw.bin p=COM2: l=x"},
      {{"-i", "-p", "x"}, "refused: unexpected argument 'x'"},
      // The lower-case option wins over the upper-case one; the first of two counts.
      {{"-I", "/a.bin", "-i", "/b.bin"}, "i=/b.bin"},
      {{"-I", "/a.bin"}, "i=/a.bin"},
      {{"-i", "/a.bin", "-i", "/b.bin", "-L", "u", "-l", "v", "-l", "w"}, "i=/a.bin l=v"},
      // An option at the very end has an empty value.
      {{"-l", "/x.log", "-i"}, "i= l=/x.log"},
      // A value is the whole token: blanks, option letters, control and high bytes alike.
      {{"-i", "/x -L victim.txt"}, "i=/x -L victim.txt"},
      {{"-i", "/fw/gps-loader.bin"}, "i=/fw/gps-loader.bin"},
      {{"-i", "/firmware/\xE9t\xE9.bin\t\x7F"}, "i=/firmware/\xE9t\xE9.bin\t\x7F"},
      {{"-i", ""}, "i="},
      // The new options.
      {{"--events", "-", "--trace", "t.txt", "--progress", "-q", "--check"},
       "events=- trace=t.txt progress quiet check"},
      {{"--events=ev.jsonl", "--trace="}, "events=ev.jsonl trace="},
      {{"-h"}, "help"},
      {{"--help", "-i", "x"}, "i=x help"},
      {{"--version"}, "version"},
      // Long forms of -i, -p, -l and -q; they count as the lower-case form.
      {{"--image", "a b.bin", "--port=COM2:", "--log", "x.log", "--quiet"},
       "i=a b.bin p=COM2: l=x.log quiet"},
      {{"--image=", "-I", "/u.bin"}, "i="},
      {{"-i", "/a.bin", "--image", "/b.bin"}, "i=/a.bin"},
      {{"--image"}, "refused: missing value after '--image'"},
      {{"--imagefile"}, "refused: unknown option '--imagefile'"},
      {{"--check", "--json", "--events", "e.jsonl"}, "events=e.jsonl check json"},
      {{"--json"}, "refused: only with --check or --list-ports: '--json'"},
      {{"--check", "--json", "--trace=-"},
       "refused: standard output holds the check's JSON object alone; refused on standard "
       "output: '--trace'"},
      {{"--list-ports", "--json", "--no-low-latency"}, "json no-low-latency list-ports"},
      // Refusals.
      {{"-x"}, "refused: unknown option '-x'"},
      {{"--bogus"}, "refused: unknown option '--bogus'"},
      {{"-qh"}, "refused: unknown option '-qh'"},
      {{"--progress=yes"}, "refused: unknown option '--progress=yes'"},
      {{"--eventsfile"}, "refused: unknown option '--eventsfile'"},
      {{"-i", "a", "fw.bin"}, "refused: unexpected argument 'fw.bin'"},
      {{"-"}, "refused: unexpected argument '-'"},
      {{"--trace"}, "refused: missing value after '--trace'"},
      // A time to give up: whole seconds, from one second to a day.
      {{"--give-up-after", "90"}, "give-up-after=90 90s"},
      {{"--give-up-after=86400"}, "give-up-after=86400 86400s"},
      {{"--give-up-after", "0"}, kBadSeconds},
      {{"--give-up-after", "86401"}, kBadSeconds},
      {{"--give-up-after", "-5"}, kBadSeconds},
      {{"--give-up-after", "5s"}, kBadSeconds},
      {{"--give-up-after="}, kBadSeconds},
      {{"--give-up-after"}, "refused: missing value after '--give-up-after'"},
      // Values up to the platform's path limit, and not one byte more.
      {{"-i", longPath}, "i=" + longPath},
      {{"-i", longPath + "b"},
       "refused: too long a value (over the platform's path limit) for '-i'"},
      {{"-P" + longPath + "b"},
       "refused: too long a value (over the platform's path limit) for '-P'"},
      {{"--events=" + longPath + "b"},
       "refused: too long a value (over the platform's path limit) for '--events'"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a.substr(0, 40) + "]";
    EXPECT_EQ(Parse(c.args), c.parsed) << shown;
  }
}

}  // namespace
}  // namespace gpsfw
