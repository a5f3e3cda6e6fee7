#include "front/wire_names.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "front/console_text.h"
#include "front/protocol_names.h"
#include "protocol/link_codes.h"
#include "protocol/record_frame.h"

namespace gpsfw {
namespace {

constexpr size_t kEraseWords = 4;
constexpr size_t kShortestText = 2;

// Names joined with ", "; a name that repeats the last one counts up instead ("x3").
class NameList {
 public:
  NameList(char* out, size_t capacity) : out_(out), capacity_(capacity) { out_[0] = '\0'; }
  ~NameList() { FlushRepeat(); }
  void Add(const char* name) {
    if (last_[0] != '\0' && std::strcmp(last_, name) == 0) {
      ++repeat_;
      return;
    }
    FlushRepeat();
    Append(out_, capacity_, "%s%s", out_[0] != '\0' ? ", " : "", name);
    std::snprintf(last_, sizeof last_, "%s", name);
  }

 private:
  void FlushRepeat() {
    if (repeat_ > 1) Append(out_, capacity_, " x%" PRIu64, static_cast<uint64_t>(repeat_));
    repeat_ = 1;
  }
  char* out_;
  size_t capacity_;
  char last_[160] = {};
  size_t repeat_ = 1;
};

void NameFrame(const RecordFrame& frame, WireContext& context, NameList& names) {
  const size_t words = frame.words;
  char text[160];
  if (words == 0) {
    std::snprintf(text, sizeof text, "end record");
  } else if (context.eraseAsked && words == kEraseWords) {
    std::snprintf(text, sizeof text, "erase record 0x%08" PRIX32 " to 0x%08" PRIX32, frame.address,
                  ReadBE32(frame.payload + kFrameAddressBytes));
  } else if (2 * words >= kFrameAddressBytes) {
    std::snprintf(text, sizeof text, "record 0x%08" PRIX32 ", %" PRIu64 " bytes", frame.address,
                  static_cast<uint64_t>(2 * words - kFrameAddressBytes));
  } else {
    std::snprintf(text, sizeof text, "frame of %" PRIu64 " words", static_cast<uint64_t>(words));
  }
  Append(text, sizeof text, ", checksum 0x%04X", frame.storedChecksum);
  if (!frame.ChecksumOk()) {
    Append(text, sizeof text, " (wrong: 0x%04X computed)", frame.computedChecksum);
  }
  names.Add(text);
  context.frameSent = true;
  context.eraseAsked = false;
}

const char* HostByteName(uint8_t byte, WireContext& context) {
  switch (byte) {
    case SYNC_CODE:
      return "SYNC_CODE";
    case REC_POLL_CODE:
      return "REC_POLL_CODE";
    case PFLD_VER_CODE:
      return "PFLD_VER_CODE";
    case BOOT_MODE_CODE:
      return "BOOT_MODE_CODE";
    case ERASE_CODE:
      context.eraseAsked = true;
      return "ERASE_CODE";
    case VER_QUERY_CODE:
      return "VER_QUERY_CODE";
    case TYPE_QUERY_CODE:
      context.typeAsked = true;
      return "TYPE_QUERY_CODE";
    default:
      return nullptr;
  }
}

void NameHostBytes(const WireBurst& burst, WireContext& context, NameList& names) {
  for (size_t i = 0; i < burst.count;) {
    if (burst.count - i >= sizeof WAKE_SEQUENCE &&
        std::memcmp(&burst.bytes[i], WAKE_SEQUENCE, sizeof WAKE_SEQUENCE) == 0) {
      names.Add("WAKE_SEQUENCE");
      i += sizeof WAKE_SEQUENCE;
      continue;
    }
    RecordFrame frame;
    if (ParseFrame(&burst.bytes[i], burst.count - i, frame)) {
      NameFrame(frame, context, names);
      i += frame.length;
      continue;
    }
    if (const char* name = HostByteName(burst.bytes[i], context)) names.Add(name);
    ++i;
  }
}

bool IsTextByte(uint8_t byte) {
  return (byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n';
}

// A run of text from the target: a reply that starts with '$', or the rest of one whose '$'
// came alone.
size_t TextAt(const WireBurst& burst, size_t at, const WireContext& context, NameList& names) {
  const bool restOfReply = at == 0 && context.textReplyOpen;
  if (burst.bytes[at] != '$' && !restOfReply) return 0;
  size_t end = at;
  while (end < burst.count && IsTextByte(burst.bytes[end])) ++end;
  if (end - at < kShortestText) return 0;
  static constexpr char kTag[] = "VER";
  const uint8_t* text = &burst.bytes[at];
  const bool version =
      std::search(text, text + (end - at), kTag, kTag + sizeof kTag - 1) != text + (end - at);
  names.Add(version ? "version reply" : "text");
  return end - at;
}

const char* TargetByteName(uint8_t byte, WireContext& context) {
  const bool afterFrame = context.frameSent;
  if (byte != REC_WAIT_CODE) context.frameSent = false;
  if (const char* verdict = VerdictName(byte)) return verdict;
  switch (byte) {
    case SYNC_CODE:
      return afterFrame ? "SYNC_CODE (accepted)" : "SYNC_CODE";
    case REC_WAIT_CODE:
      return "REC_WAIT_CODE";
    case REC_POLL_CODE:
      return "REC_POLL_CODE";
    case BOOT_MODE_CODE:
      return "BOOT_MODE_CODE";
    case SECTOR_ERASED_CODE:
      return "SECTOR_ERASED_CODE";
    case ERASE_FAIL_CODE:
      return "ERASE_FAIL_CODE";
    case '$':
      return "'$' (text reply)";
    default:
      return nullptr;
  }
}

void NameTargetBytes(const WireBurst& burst, WireContext& context, NameList& names) {
  for (size_t i = 0; i < burst.count;) {
    const uint8_t byte = burst.bytes[i];
    if (context.typeAsked && byte == TYPE_QUERY_CODE && i + 1 < burst.count) {
      char text[48];
      std::snprintf(text, sizeof text, "type reply, TypeID %d",
                    static_cast<int>(static_cast<int8_t>(burst.bytes[i + 1])));
      names.Add(text);
      context.typeAsked = false;
      i += 2;
      continue;
    }
    if (const size_t text = TextAt(burst, i, context, names)) {
      i += text;
      continue;
    }
    if (const char* name = TargetByteName(byte, context)) names.Add(name);
    ++i;
  }
  context.textReplyOpen = burst.count == 1 && burst.bytes[0] == '$';
}

}  // namespace

void NameBurst(const WireBurst& burst, WireContext& context, char* out, size_t capacity) {
  NameList names(out, capacity);
  if (burst.direction == WireDirection::kToTarget) {
    NameHostBytes(burst, context, names);
  } else {
    NameTargetBytes(burst, context, names);
  }
}

}  // namespace gpsfw
