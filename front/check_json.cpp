#include <cstring>

#include "front/check_report.h"
#include "front/json_text.h"
#include "protocol/link_codes.h"
#include "update/protocol_floor.h"

namespace gpsfw {
namespace {

constexpr size_t kMaxLogLines = 512;
constexpr double kMicroseconds = 1e6;

// The image's facts once preparation accepted it, as the text report shows them.
void AddAccepted(JsonLine& line, const RunFacts& facts) {
  const ProtocolFloor floor = FloorOfUpdate(facts.sfld, facts.flash, facts.pfldMode);
  line.Text("image_type", facts.srecord ? "srec" : "binary")
      .Address("start", facts.extent.start)
      .Address("entry", facts.extent.entry)
      .Int("size", facts.extent.size)
      .Text("pfld_mode", facts.pfldMode ? "on" : "off")
      .Text("sfld_source", facts.sfldFromTail ? "tail" : "file")
      .Text("sfld_path", facts.sfldPath)
      .Address("sfld_start", facts.sfldExtent.start)
      .Address("sfld_entry", facts.sfldExtent.entry)
      .Int("sfld_size", facts.sfldExtent.size)
      .Address("erase_start", facts.eraseStart)
      .Address("erase_end", facts.eraseEnd)
      .Int("sfld_records", facts.sfld.records)
      .Int("sfld_bytes", static_cast<long long>(facts.sfld.bytes))
      .Int("records", facts.flash.records)
      .Int("bytes", static_cast<long long>(facts.flash.bytes))
      .Seconds("expected_seconds", static_cast<uint64_t>(floor.Seconds() * kMicroseconds));
}

}  // namespace

void CheckReport::WriteJson(int returnCode) const {
  const bool accepted = facts_.prepared && returnCode == 0;
  {
    JsonLine line(out_, facts_.SinceStartUs(), "check");
    line.Text("image", facts_.image);
    if (accepted) AddAccepted(line, facts_);
    line.Text("verdict", accepted ? "accepted" : "refused").Int("code", returnCode);
    if (warningCount_ > 0) {
      const char* codes[kMaxWarnings];
      const char* messages[kMaxWarnings];
      for (size_t i = 0; i < warningCount_; ++i) {
        codes[i] = warningCodes_[i];
        messages[i] = warnings_[i];
      }
      line.Texts("warnings", codes, warningCount_)
          .Texts("warning_messages", messages, warningCount_);
    }
    if (!accepted) {
      if (StartRefused()) line.Address("required_start", PFLD_BASE);
      // The log's lines, which tell why, cut apart in a copy of the report's buffer.
      char text[kLogCapacity];
      std::memcpy(text, log_, sizeof text);
      const char* texts[kMaxLogLines];
      size_t count = 0;
      for (char* at = text; *at != '\0' && count < kMaxLogLines;) {
        char* end = std::strchr(at, '\n');
        *end = '\0';
        texts[count++] = at;
        at = end + 1;
      }
      line.Texts("log", texts, count);
    }
  }
}

}  // namespace gpsfw
