#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "front/run_facts.h"
#include "front/wire_names.h"
#include "report/observer.h"

namespace gpsfw {

// Every byte on the wire, both directions, one line per burst: the time the driver took or
// gave the bytes (seconds since the start, microsecond resolution), the direction, the line
// speed, the count, the bytes in hex and as text, and the protocol's names for them. A burst
// longer than kTraceLineBytes goes on over continuation lines of kTraceLineBytes each, which
// show '+' in the direction's column and the offset of their first byte in the count's: every
// byte is in the trace. Phases, retries, line errors and a lost port appear as '#' lines
// between them.
inline constexpr size_t kTraceLineBytes = 48;

class WireTrace : public Observer {
 public:
  WireTrace(std::FILE* out, const RunFacts& facts);

  void OnPhase(UpdatePhase phase) override;
  void OnRetry(const char* what, const char* next) override;
  void OnPortLost() override;
  void OnPortBack() override;
  void OnLineError(uint32_t flags) override;
  void OnWire(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud) override;
  void OnDone(int returnCode) override;

 private:
  void Take(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud,
            uint64_t now);
  void WriteBurst();
  void WriteBytes(size_t from, size_t to);
  void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void WriteTime(uint64_t microseconds);

  std::FILE* out_;
  const RunFacts& facts_;
  WireBurst burst_;
  WireContext context_;
};

}  // namespace gpsfw
