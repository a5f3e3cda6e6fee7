// The event stream of whole updates in virtual time, parsed and held against the schema the
// production station reads and against what the receiver saw.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "front/event_stream.h"
#include "front/terminal.h"
#include "platform/serial_driver.h"
#include "protocol/link_codes.h"
#include "sim/receiver.h"
#include "tests/front/front_run.h"
#include "tests/support/sample_images.h"

namespace gpsfw::test {
namespace {

using nlohmann::json;

enum class Kind { kNumber, kInteger, kText, kAddress, kTexts, kObject, kBool };

// Every field of every event type, with its kind; no other field may appear.
const std::map<std::string, std::map<std::string, Kind>>& Schema() {
  static const std::map<std::string, std::map<std::string, Kind>> schema = {
      {"start",
       {{"image", Kind::kText},
        {"image_type", Kind::kText},
        {"start", Kind::kAddress},
        {"entry", Kind::kAddress},
        {"size", Kind::kInteger},
        {"erase_start", Kind::kAddress},
        {"erase_end", Kind::kAddress},
        {"records", Kind::kInteger},
        {"bytes", Kind::kInteger},
        {"sfld_source", Kind::kText},
        {"sfld_path", Kind::kText},
        {"sfld_records", Kind::kInteger},
        {"sfld_bytes", Kind::kInteger},
        {"port", Kind::kText}}},
      {"phase", {{"phase", Kind::kText}}},
      {"wake", {{"count", Kind::kInteger}}},
      {"record",
       {{"stage", Kind::kText},
        {"kind", Kind::kText},
        {"index", Kind::kInteger},
        {"address", Kind::kAddress},
        {"bytes", Kind::kInteger},
        {"verdict", Kind::kText},
        {"attempt", Kind::kInteger}}},
      {"sector_erased", {{"count", Kind::kInteger}}},
      {"retry", {{"what", Kind::kText}, {"next", Kind::kText}}},
      {"warning", {{"reason", Kind::kText}, {"message", Kind::kText}}},
      {"port_lost", {{"port", Kind::kText}}},
      {"port_back", {{"port", Kind::kText}}},
      {"line_error", {{"flags", Kind::kInteger}, {"names", Kind::kTexts}}},
      {"identity", {{"identity", Kind::kObject}}},
      {"done",
       {{"code", Kind::kInteger},
        {"duration", Kind::kNumber},
        {"bytes", Kind::kInteger},
        {"retries", Kind::kInteger},
        {"log_complete", Kind::kBool},
        {"identity", Kind::kObject}}},
      {"output_lost", {{"output", Kind::kText}, {"path", Kind::kText}, {"message", Kind::kText}}},
  };
  return schema;
}

const std::set<std::string> kPhases = {
    "preparing",     "waking",  "polling",     "sfld_upload", "waiting_for_sfld",
    "flash_queries", "erasing", "programming", "port_lost",   "done"};
const std::set<std::string> kVerdicts = {"accepted",    "BAD_CSUM",       "BAD_LENGTH",
                                         "BAD_COMMAND", "RECORD_TIMEOUT", "NO_REC_END",
                                         "no_request",  "no_verdict"};

bool HasKind(const json& value, Kind kind) {
  switch (kind) {
    case Kind::kNumber:
      return value.is_number();
    case Kind::kInteger:
      return value.is_number_integer();
    case Kind::kText:
      return value.is_string();
    case Kind::kAddress:
      return value.is_string() && value.get<std::string>().size() == 10 &&
             value.get<std::string>().rfind("0x", 0) == 0 &&
             value.get<std::string>().find_first_not_of("0123456789ABCDEF", 2) == std::string::npos;
    case Kind::kTexts:
      return value.is_array();
    case Kind::kObject:
      return value.is_object();
    case Kind::kBool:
      return value.is_boolean();
  }
  return false;
}

// Parses every line and checks it against the schema; the events in order.
std::vector<json> ParseValid(const std::string& stream) {
  std::vector<json> events;
  double lastTime = 0;
  for (const std::string& line : SplitLines(stream)) {
    const json event = json::parse(line);
    EXPECT_TRUE(event.at("t").is_number()) << line;
    EXPECT_GE(event.at("t").get<double>(), lastTime) << line;
    lastTime = event.at("t").get<double>();
    const auto type = Schema().find(event.at("type").get<std::string>());
    EXPECT_NE(type, Schema().end()) << line;
    if (type == Schema().end()) continue;
    // A failed run's done event says why.
    const size_t why = event["type"] == "done" && event.contains("reason") ? 2 : 0;
    if (why != 0) {
      EXPECT_TRUE(event["reason"].is_string() && event["message"].is_string()) << line;
    }
    EXPECT_EQ(event.size(), type->second.size() + 2 + why) << line;
    for (const auto& [name, kind] : type->second) {
      EXPECT_TRUE(event.contains(name) && HasKind(event.at(name), kind)) << name << " in " << line;
    }
    if (event["type"] == "phase") {
      EXPECT_EQ(kPhases.count(event["phase"]), 1u) << line;
    }
    if (event["type"] == "record") {
      EXPECT_EQ(kVerdicts.count(event["verdict"]), 1u) << line;
    }
    events.push_back(event);
  }
  return events;
}

std::vector<json> OfType(const std::vector<json>& events, const std::string& type) {
  std::vector<json> found;
  for (const json& e : events) {
    if (e["type"] == type) found.push_back(e);
  }
  return found;
}

class EventStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    images_ = new ImageFiles(MakeImages(*dir_, 4096, 12 * 1024));
  }
  static void TearDownTestSuite() {
    delete images_;
    delete dir_;
  }
  FrontRun Run(const sim::ReceiverConfig& config) {
    FrontViews views;
    views.events = true;
    return RunWithFrontEnd(runDir, config, images_->container, views);
  }
  TempDir runDir;
  static TempDir* dir_;
  static ImageFiles* images_;
};

TempDir* EventStreamTest::dir_ = nullptr;
ImageFiles* EventStreamTest::images_ = nullptr;

TEST_F(EventStreamTest, WholeUpdateFollowsTheSchemaAndEndsWithDone) {
  const FrontRun run = Run(sim::ReceiverConfig());
  ASSERT_EQ(run.code, 0);
  const std::vector<json> events = ParseValid(run.events);
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front()["type"], "phase");
  EXPECT_EQ(events.front()["phase"], "preparing");
  EXPECT_EQ(events.back()["type"], "done");
  EXPECT_EQ(events.back()["code"], 0);
  EXPECT_EQ(events.back()["retries"], 0);
  EXPECT_EQ(events.back()["bytes"], 28672);
  EXPECT_NEAR(events.back()["duration"].get<double>(), run.virtualSeconds, 1e-5);

  const std::vector<json> start = OfType(events, "start");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0]["image_type"], "binary");
  EXPECT_EQ(start[0]["start"], "0x10000000");
  EXPECT_EQ(start[0]["size"], 28672);
  EXPECT_EQ(start[0]["erase_start"], "0x10000000");
  EXPECT_EQ(start[0]["erase_end"], "0x10007000");
  EXPECT_EQ(start[0]["records"], 14);
  EXPECT_EQ(start[0]["bytes"], 28672);
  EXPECT_EQ(start[0]["sfld_source"], "tail");
  EXPECT_EQ(start[0]["sfld_records"], 1);
  EXPECT_EQ(start[0]["sfld_bytes"], 2048);
  EXPECT_EQ(start[0]["port"], "/dev/gps-sim");

  std::vector<std::string> phases;
  for (const json& e : OfType(events, "phase")) phases.push_back(e["phase"]);
  EXPECT_EQ(phases, (std::vector<std::string>{"preparing", "waking", "polling", "sfld_upload",
                                              "waiting_for_sfld", "flash_queries", "erasing",
                                              "programming", "done"}));
  EXPECT_EQ(OfType(events, "sector_erased").size(), 5u);
  EXPECT_EQ(OfType(events, "wake").size(), 1u);

  // The receiver's identity grows with each reply that tells a part of it, and the done
  // event repeats the whole.
  std::vector<json> identities;
  for (const json& e : OfType(events, "identity")) identities.push_back(e["identity"]);
  const json whole = {{"boot_loader", "BL 2.04"}, {"sfld", "SFLD 1.10"}, {"flash_type", 5}};
  EXPECT_EQ(identities, (std::vector<json>{{{"boot_loader", "BL 2.04"}},
                                           {{"boot_loader", "BL 2.04"}, {"sfld", "SFLD 1.10"}},
                                           whole}));
  EXPECT_EQ(events.back()["identity"], whole);
}

// Every record the receiver judged is in the stream with the same verdict, in order.
TEST_F(EventStreamTest, EveryRecordOfAFaultyUpdateWithItsVerdict) {
  sim::ReceiverConfig config;
  config.faults.rejects.push_back({{sim::Stage::kSfld, 0}, BAD_LENGTH});
  config.faults.rejects.push_back({{sim::Stage::kFlash, 3}, BAD_CSUM});
  const FrontRun run = Run(config);
  ASSERT_EQ(run.code, 0);
  const std::vector<json> events = ParseValid(run.events);
  const std::vector<json> records = OfType(events, "record");
  ASSERT_EQ(records.size(), run.result.records.size());
  // Attempts count from 1 within the run on both sides, although the loader's core counts
  // them for the life of the process and earlier tests ran updates of their own.
  for (size_t i = 0; i < records.size(); ++i) {
    const sim::RecordEntry& seen = run.result.records[i];
    const json& told = records[i];
    EXPECT_EQ(told["stage"], seen.stage == sim::Stage::kSfld ? "sfld" : "flash") << i;
    EXPECT_EQ(told["index"], seen.index) << i;
    EXPECT_EQ(told["attempt"], seen.attempt) << i;
    const bool accepted = seen.verdict == SYNC_CODE;
    // The receiver counts the data it took; the loader the data it sent.
    if (accepted) {
      EXPECT_EQ(told["bytes"], seen.dataBytes) << i;
    }
    EXPECT_EQ(told["verdict"] == "accepted", accepted) << i << " " << told.dump();
  }
  EXPECT_EQ(records[0]["verdict"], "BAD_LENGTH");
  const std::vector<json> retries = OfType(events, "retry");
  ASSERT_EQ(retries.size(), 2u);
  EXPECT_EQ(retries[0]["what"], "SFLD upload failed");
  EXPECT_EQ(retries[1]["next"], "repeating the flash stage");
  EXPECT_EQ(events.back()["retries"], 2);
  EXPECT_EQ(events.back()["bytes"], 28672) << "the final stage's bytes only";
}

TEST_F(EventStreamTest, UnpluggedPortIsLostAndBackOnTheConsoleToo) {
  sim::ReceiverConfig config;
  config.faults.unplugs.push_back({7000, 5000, false});
  FrontViews views;
  views.events = true;
  views.console.mode = ConsoleMode::kPlain;
  const FrontRun run = RunWithFrontEnd(runDir, config, images_->container, views);
  ASSERT_EQ(run.code, 0);
  const std::vector<json> events = ParseValid(run.events);
  std::vector<std::string> types;
  for (const json& e : events) {
    if (e["type"] == "port_lost" || e["type"] == "port_back" ||
        e.value("phase", "") == "port_lost") {
      types.push_back(e["type"].get<std::string>() + (e.contains("phase") ? ":port_lost" : ""));
    }
  }
  EXPECT_EQ(types, (std::vector<std::string>{"port_lost", "phase:port_lost", "port_back"}));
  const std::string lost = "  port /dev/gps-sim lost, waiting for it to come back\n";
  const size_t first = run.console.find(lost);
  EXPECT_NE(first, std::string::npos) << run.console;
  EXPECT_EQ(run.console.find(lost, first + 1), std::string::npos) << "said once\n" << run.console;
  EXPECT_NE(run.console.find("  port /dev/gps-sim is back\n"), std::string::npos);
}

TEST_F(EventStreamTest, RefusedImageEndsWithItsCodeAndNoStart) {
  const std::string broken = runDir.File("broken.bin");
  WriteFile(broken, "not an image at all\n");
  FrontViews views;
  views.events = true;
  const FrontRun run = RunWithFrontEnd(runDir, sim::ReceiverConfig(), broken, views);
  EXPECT_EQ(run.code, -3);
  const std::vector<json> events = ParseValid(run.events);
  EXPECT_TRUE(OfType(events, "start").empty());
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["type"], "done");
  EXPECT_EQ(events.back()["code"], -3);
  // Nothing was heard from a receiver: the identity is there, and empty.
  EXPECT_EQ(events.back()["identity"], json::object());
}

// Events the receiver model does not cause: a lost port and line errors.
TEST(EventStreamEvents, LostPortAndLineErrors) {
  TempDir dir;
  const std::string path = dir.File("events");
  std::FILE* out = std::fopen(path.c_str(), "w");
  RunFacts facts;
  facts.port = "/dev/ttyUSB0";
  {
    EventStream stream(out, facts);
    stream.OnPhase(UpdatePhase::kProgramming);
    stream.OnPortLost();
    stream.OnPhase(UpdatePhase::kPortLost);
    stream.OnPortBack();
    stream.OnLineError(platform::kCeFrame | platform::kCeOverrun);
    stream.OnLineError(0x8000);
  }
  std::fclose(out);
  const std::vector<json> events = ParseValid(ReadFile(path));
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[1]["type"], "port_lost");
  EXPECT_EQ(events[1]["port"], "/dev/ttyUSB0");
  EXPECT_EQ(events[2]["phase"], "port_lost");
  EXPECT_EQ(events[3]["type"], "port_back");
  EXPECT_EQ(events[4]["flags"], 10);
  EXPECT_EQ(events[4]["names"], json::array({"CE_FRAME", "CE_OVERRUN"}));
  EXPECT_EQ(events[5]["names"], json::array());
}

}  // namespace
}  // namespace gpsfw::test
