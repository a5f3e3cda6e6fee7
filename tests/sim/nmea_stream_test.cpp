// The application streams NMEA at its own rate whenever it runs, whatever the host does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/link_codes.h"
#include "sim/nmea.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

// The sentences of `text` whose checksum is right, without their checksums.
std::vector<std::string> ValidSentences(const std::string& text) {
  std::vector<std::string> sentences;
  for (size_t start = text.find('$'); start != std::string::npos;
       start = text.find('$', start + 1)) {
    const size_t star = text.find('*', start);
    if (star == std::string::npos || star + 5 > text.size()) break;
    uint8_t sum = 0;
    for (size_t i = start + 1; i < star; ++i) sum ^= static_cast<uint8_t>(text[i]);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X\r\n", sum);
    if (text.compare(star + 1, 4, hex) == 0) sentences.push_back(text.substr(start, star - start));
  }
  return sentences;
}

constexpr size_t kSentencesPerBurst = 5;

ReceiverConfig WithNmea(uint32_t baud) {
  ReceiverConfig config;
  config.nmea.baud = baud;
  return config;
}

TEST(NmeaStream, ABurstEachPeriodAtItsOwnRate) {
  for (uint32_t baud : {4800u, 9600u, 38400u, 115200u}) {
    SCOPED_TRACE(baud);
    SimHost host(WithNmea(baud));
    host.Baud(baud);
    const std::vector<uint8_t> heard = host.Collect(2900);
    const std::vector<std::string> sentences =
        ValidSentences(std::string(heard.begin(), heard.end()));
    ASSERT_EQ(sentences.size(), 2 * kSentencesPerBurst);
    EXPECT_EQ(std::string(heard.begin(), heard.end()), NmeaBurst(1000) + NmeaBurst(2000));
    EXPECT_EQ(sentences[0].substr(0, 22), "$GPGGA,123520.00,4807.");
    EXPECT_EQ(sentences[3].substr(0, 17), "$GPRMC,123520.00,");
    EXPECT_EQ(sentences[kSentencesPerBurst].substr(0, 17), "$GPGGA,123521.00,");
    for (const WireEvent& event : host.transport.Wire()) {
      if (event.direction == Direction::kTargetToHost) {
        EXPECT_EQ(event.senderBaud, baud);
      }
    }
  }
}

struct Role {
  const char* name;
  Faults faults;
  bool streams;  // after the wake-up and one poll
};

TEST(NmeaStream, OnlyWhileTheApplicationRuns) {
  Faults toApplication;
  toApplication.resetsAt.push_back({ReceiverPhase::kBootPoll, 1, ResetTo::kApplication});
  Faults toBootLoader;
  toBootLoader.resetsAt.push_back({ReceiverPhase::kBootPoll, 1, ResetTo::kBootLoader});
  const Role roles[] = {
      {"boot loader", {}, false},
      {"reset into the application", toApplication, true},
      {"reset into the boot loader", toBootLoader, false},
  };
  for (const Role& role : roles) {
    SCOPED_TRACE(role.name);
    ReceiverConfig config = WithNmea(9600);
    config.faults = role.faults;
    SimHost host(config);
    host.Wake();
    host.Ask(REC_POLL_CODE, 10);
    host.Baud(9600);
    const std::vector<uint8_t> heard = host.Collect(2500);
    EXPECT_EQ(ValidSentences(std::string(heard.begin(), heard.end())).size(),
              role.streams ? 2 * kSentencesPerBurst : 0);
  }
}

}  // namespace
}  // namespace gpsfw::sim::test
