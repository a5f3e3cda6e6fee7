#include "front/wire_trace.h"

#include <cinttypes>
#include <cstdarg>

#include "front/protocol_names.h"

namespace gpsfw {
namespace {

// Bytes further apart than this start a new burst: longer than the host's block-write
// retries and any byte time, shorter than every pause of the protocol but the erase gap.
constexpr uint64_t kBurstGapUs = 5000;
constexpr size_t kNamesCapacity = 1024;

char Printable(uint8_t byte) {
  return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
}

}  // namespace

WireTrace::WireTrace(std::FILE* out, const RunFacts& facts) : out_(out), facts_(facts) {
  std::fputs(
      "# time (s since start), direction (-> to the receiver, <- from it), baud, bytes, hex, "
      "|text|, names; a long burst goes on over '+' lines that give the offset of their first "
      "byte\n",
      out_);
}

void WireTrace::WriteTime(uint64_t microseconds) {
  std::fprintf(out_, "%6" PRIu64 ".%06" PRIu64, microseconds / 1000000, microseconds % 1000000);
}

// Bytes [from, to) of the burst in hex, then as text.
void WireTrace::WriteBytes(size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) std::fprintf(out_, " %02x", burst_.bytes[i]);
  std::fputs("  |", out_);
  for (size_t i = from; i < to; ++i) std::fputc(Printable(burst_.bytes[i]), out_);
  std::fputc('|', out_);
}

void WireTrace::WriteBurst() {
  if (burst_.count == 0) return;
  char names[kNamesCapacity];
  NameBurst(burst_, context_, names, sizeof names);
  WriteTime(burst_.startUs);
  std::fprintf(out_, " %s %6" PRIu32 " %5" PRIu64 " ",
               burst_.direction == WireDirection::kToTarget ? "->" : "<-", burst_.baud,
               static_cast<uint64_t>(burst_.count));
  const size_t first = burst_.count < kTraceLineBytes ? burst_.count : kTraceLineBytes;
  WriteBytes(0, first);
  std::fprintf(out_, "%s%s\n", names[0] != '\0' ? "  " : "", names);
  // The rest of a long burst: blank time and speed keep the columns of the first line.
  for (size_t from = first; from < burst_.count; from += kTraceLineBytes) {
    const size_t left = burst_.count - from;
    std::fprintf(out_, "%13s %2s %6s %5" PRIu64 " ", "", "+", "", static_cast<uint64_t>(from));
    WriteBytes(from, from + (left < kTraceLineBytes ? left : kTraceLineBytes));
    std::fputc('\n', out_);
  }
  std::fflush(out_);
  burst_.count = 0;
}

void WireTrace::Take(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud,
                     uint64_t now) {
  const bool continues = burst_.count > 0 && direction == burst_.direction && baud == burst_.baud &&
                         now - burst_.lastUs <= kBurstGapUs;
  if (!continues) WriteBurst();
  while (count > 0) {
    if (burst_.count == kBurstCapacity) WriteBurst();
    if (burst_.count == 0) {
      burst_.direction = direction;
      burst_.baud = baud;
      burst_.startUs = now;
    }
    const size_t room = kBurstCapacity - burst_.count;
    const size_t taken = count < room ? count : room;
    for (size_t i = 0; i < taken; ++i) burst_.bytes[burst_.count + i] = bytes[i];
    burst_.count += taken;
    bytes += taken;
    count -= taken;
  }
  burst_.lastUs = now;
}

void WireTrace::OnWire(WireDirection direction, const uint8_t* bytes, size_t count, uint32_t baud) {
  if (count > 0) Take(direction, bytes, count, baud, facts_.SinceStartUs());
}

void WireTrace::Note(const char* format, ...) {
  WriteBurst();
  WriteTime(facts_.SinceStartUs());
  std::fputs(" # ", out_);
  va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void WireTrace::OnPhase(UpdatePhase phase) {
  Note("phase %s", PhaseName(phase));
}

void WireTrace::OnRetry(const char* what, const char* next) {
  Note("retry: %s, %s", what, next);
}

void WireTrace::OnPortLost() {
  Note("port %s lost", facts_.port);
}

void WireTrace::OnPortBack() {
  Note("port %s back", facts_.port);
}

void WireTrace::OnLineError(uint32_t flags) {
  const char* names[kLineErrorKinds];
  const size_t count = LineErrorNames(flags, names);
  WriteBurst();
  WriteTime(facts_.SinceStartUs());
  std::fprintf(out_, " # line error 0x%08" PRIX32 ":", flags);
  for (size_t i = 0; i < count; ++i) std::fprintf(out_, " %s", names[i]);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void WireTrace::OnDone(int returnCode) {
  Note("done, return code %d", returnCode);
}

}  // namespace gpsfw
