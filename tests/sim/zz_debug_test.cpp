#include <gtest/gtest.h>
#include <cstdio>
#include "link/link_codes.h"
#include "sim/wire_log.h"
#include "tests/sim/sim_host.h"
namespace gpsfw::sim::test {
TEST(Debug, Dump) {
  SimHost host;
  host.ToFlashCommands();
  printf("ver %s\n", HexBytes(host.Ask(VER_QUERY_CODE)).c_str());
  printf("type %s\n", HexBytes(host.Ask(TYPE_QUERY_CODE)).c_str());
  printf("erase %s\n", HexBytes(host.Erase(PFLD_BASE, PFLD_BASE + 0x8000)).c_str());
  printf("rec %d\n", host.Record(DataRecord(PFLD_BASE, Pattern(2048))));
  auto r = host.Result();
  for (auto& e : r.events) printf("%10.6f %s\n", NsToSeconds(e.timeNs), e.text.c_str());
  for (auto& p : r.phases)
    printf("phase %s %u %.6f-%.6f\n", p.name.c_str(), p.baud, NsToSeconds(p.startNs),
           NsToSeconds(p.endNs));
  for (auto& run : GroupRuns(host.transport.Wire(), 5 * kNsPerMs))
    printf(
        "%10.6f %s %u->%u g%zu: %s\n", NsToSeconds(run.startNs),
        run.direction == Direction::kHostToTarget ? ">" : "<", run.senderBaud, run.receiverBaud,
        run.garbled,
        HexBytes(std::vector<uint8_t>(run.bytes.begin(),
                                      run.bytes.begin() + std::min<size_t>(run.bytes.size(), 24)))
            .c_str());
  printf("state %s now %.6f\n", host.receiver.StateName(), NsToSeconds(host.Now()));
}
}  // namespace gpsfw::sim::test
