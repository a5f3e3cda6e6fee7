// A whole update driven by a scripted host through the loader's serial port code, in
// virtual time: what the flash holds afterwards and what the receiver reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/link_codes.h"
#include "sim/wire_log.h"
#include "tests/sim/sim_host.h"

namespace gpsfw::sim::test {
namespace {

using ::testing::ElementsAre;

constexpr size_t kImageBytes = 64 * 1024;
constexpr size_t kRecordBytes = 2048;

std::vector<Segment> ProgramImage(SimHost& host, const std::vector<uint8_t>& image) {
  const uint32_t end = PFLD_BASE + static_cast<uint32_t>(image.size());
  EXPECT_EQ(host.Ask(VER_QUERY_CODE), Bytes("$VER SFLD 1.10\r\n"));
  EXPECT_THAT(host.Ask(TYPE_QUERY_CODE), ElementsAre(TYPE_QUERY_CODE, 5));
  const std::vector<uint8_t> erase = host.Erase(PFLD_BASE, end);
  EXPECT_EQ(erase.front(), SYNC_CODE);
  EXPECT_EQ(erase.back(), SYNC_CODE);
  for (size_t offset = 0; offset < image.size(); offset += kRecordBytes) {
    const std::vector<uint8_t> chunk(image.begin() + offset,
                                     image.begin() + std::min(image.size(), offset + kRecordBytes));
    EXPECT_EQ(host.Record(DataRecord(PFLD_BASE + static_cast<uint32_t>(offset), chunk)), SYNC_CODE);
  }
  EXPECT_EQ(host.Record(EndRecord()), SYNC_CODE);
  return {Segment{PFLD_BASE, image}};
}

TEST(WholeUpdate, LeavesTheImageInFlashAndReportsEveryPhase) {
  SimHost host;
  host.ToFlashCommands();
  const std::vector<uint8_t> image = Pattern(kImageBytes, 3);
  const std::vector<Segment> expected = ProgramImage(host, image);

  const SimResult result = host.Result();
  EXPECT_TRUE(result.updateCompleted);
  EXPECT_TRUE(result.flashFaults.empty());
  EXPECT_EQ(VerifyFlash(host.receiver.GetFlash(), expected).text,
            "flash verified: 65536 bytes match");
  ASSERT_EQ(result.erases.size(), 1u);
  EXPECT_EQ(result.erases[0].sectors, 4u + 1u);           // the PFLD area and one 64 KiB sector
  EXPECT_EQ(result.Accepted(Stage::kFlash), 1 + 32 + 1);  // erase, data, end
  std::vector<std::string> names;
  for (const Phase& phase : result.phases)
    names.push_back(phase.name + "@" + std::to_string(phase.baud));
  EXPECT_THAT(names, ElementsAre("application@57600", "boot loader@19200", "SFLD upload@19200",
                                 "SFLD@19200", "flash commands@115200", "erase@115200",
                                 "programming@115200"));
}

TEST(WholeUpdate, RunsTheSameWayTwice) {
  auto run = [] {
    SimHost host;
    host.ToFlashCommands();
    ProgramImage(host, Pattern(8 * 1024, 9));
    return std::make_pair(host.Now(),
                          HexBytes(BytesSent(host.transport.Wire(), Direction::kTargetToHost)));
  };
  EXPECT_EQ(run(), run());
}

}  // namespace
}  // namespace gpsfw::sim::test
