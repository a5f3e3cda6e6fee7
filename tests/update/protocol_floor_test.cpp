// The expected time of an update that --check prints, against a whole update in virtual time.
#include "update/protocol_floor.h"

#include <gtest/gtest.h>

#include <memory>

#include "image/image_source.h"
#include "image/srec_reader.h"
#include "protocol/host_timing.h"
#include "tests/update/update_run.h"
#include "update/record_census.h"

namespace gpsfw::test {
namespace {

// A receiver that answers, erases and programs in no time: what is left of a whole update
// is the host's own time on the line.
sim::ReceiverConfig InstantReceiver() {
  sim::ReceiverConfig config;
  config.timing.bootUs = 0;
  config.timing.sfldStartUs = 0;
  config.timing.replyUs = 0;
  config.timing.programRecordUs = 0;
  config.timing.eraseSectorUs = 0;
  return config;
}

TEST(ProtocolFloor, IsTheTimeOfAWholeUpdateAgainstAnInstantReceiver) {
  TempDir dir;
  const ImageFiles images = MakeImages(dir, 4096, 12 * 1024);
  ImageSource image;
  ASSERT_TRUE(image.Open(images.container.c_str()) && image.Scan());
  SRecReader sfld;
  ASSERT_TRUE(sfld.Open(images.sfld.c_str()) && sfld.Scan());
  auto packet = std::make_unique<RecordPacket>();
  const ProtocolFloor floor =
      FloorOfUpdate(CountRecords(sfld, *packet), CountRecords(image, *packet), true);

  const UpdateRun run = RunUpdate(dir, InstantReceiver(), images.container);
  ASSERT_EQ(run.code, 0);
  // Beyond the floor the receiver's loaders cost the host: the boot loader answers the first
  // poll with its version (a reply pause for its text) and the next with 'D' before it asks
  // for the SFLD; the bytes the floor does not count (those texts, the sector reports) and
  // the reads' time-outs come to some 40 ms. A pause of the session that the floor left out,
  // even one short pause per record, would show here.
  const double beyondFloor = run.virtualSeconds - floor.Seconds();
  const double pollsBeforeRequest = 3 * kReplyPauseMs / 1000.0;
  EXPECT_GE(beyondFloor, pollsBeforeRequest)
      << run.virtualSeconds << " s, floor " << floor.Seconds();
  EXPECT_LT(beyondFloor, pollsBeforeRequest + 0.1)
      << run.virtualSeconds << " s, floor " << floor.Seconds();
}

}  // namespace
}  // namespace gpsfw::test
