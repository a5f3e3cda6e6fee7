#include "front/console_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "update/protocol_floor.h"

namespace gpsfw {

uint32_t LineBytesPerSecond(uint32_t baud) {
  return baud / kBitsPerByte;
}

void FormatDuration(char* out, size_t capacity, uint64_t microseconds) {
  const uint64_t seconds = microseconds / 1000000;
  const uint64_t hours = seconds / 3600;
  const uint64_t minutes = seconds / 60 % 60;
  if (hours > 0) {
    std::snprintf(out, capacity, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64, hours, minutes,
                  seconds % 60);
  } else {
    std::snprintf(out, capacity, "%" PRIu64 ":%02" PRIu64, minutes, seconds % 60);
  }
}

void FormatRate(char* out, size_t capacity, double bytesPerSecond) {
  if (bytesPerSecond < 1000) {
    std::snprintf(out, capacity, "%.0f B/s", bytesPerSecond);
  } else if (bytesPerSecond < 1e6) {
    std::snprintf(out, capacity, "%.1f kB/s", bytesPerSecond / 1e3);
  } else {
    std::snprintf(out, capacity, "%.2f MB/s", bytesPerSecond / 1e6);
  }
}

void FormatSize(char* out, size_t capacity, uint64_t bytes) {
  constexpr uint64_t kKiB = 1024;
  if (bytes < kKiB || bytes % kKiB != 0) {
    std::snprintf(out, capacity, "%" PRIu64 " bytes", bytes);
  } else if (bytes < kKiB * kKiB || bytes % (kKiB * kKiB) != 0) {
    std::snprintf(out, capacity, "%" PRIu64 " KiB", bytes / kKiB);
  } else {
    std::snprintf(out, capacity, "%" PRIu64 " MiB", bytes / kKiB / kKiB);
  }
}

size_t CutToColumns(char* text, size_t columns) {
  size_t kept = 0;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    // A continuation byte belongs to the column of its lead byte.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (kept == columns) {
      text[i] = '\0';
      break;
    }
    ++kept;
  }
  return kept;
}

size_t TextColumns(const char* text) {
  size_t columns = 0;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

void StatusFields::Add(int use, const char* format, ...) {
  if (count_ == kMaxFields) return;
  Field& field = fields_[count_++];
  field.use = use;
  va_list args;
  va_start(args, format);
  std::vsnprintf(field.text, sizeof field.text, format, args);
  va_end(args);
}

void StatusFields::Join(char* out, size_t capacity) const {
  if (capacity > 0) out[0] = '\0';
  for (size_t i = 0; i < count_; ++i) Append(out, capacity, "%s", fields_[i].text);
}

size_t StatusFields::Fit(char* out, size_t capacity, size_t columns) const {
  bool taken[kMaxFields] = {};
  bool weighed[kMaxFields] = {};
  size_t used = 0;
  for (size_t i = 0; i < count_; ++i) {
    if (fields_[i].use < kAlways) continue;
    taken[i] = weighed[i] = true;
    used += TextColumns(fields_[i].text);
  }
  // The others by use, most needed first; one too wide leaves the room to a shorter one.
  for (size_t round = 0; round < count_; ++round) {
    size_t best = count_;
    for (size_t i = 0; i < count_; ++i) {
      if (!weighed[i] && (best == count_ || fields_[i].use > fields_[best].use)) best = i;
    }
    if (best == count_) break;
    weighed[best] = true;
    const size_t width = TextColumns(fields_[best].text);
    if (used + width > columns) continue;
    taken[best] = true;
    used += width;
  }
  if (capacity > 0) out[0] = '\0';
  for (size_t i = 0; i < count_; ++i) {
    if (taken[i]) Append(out, capacity, "%s", fields_[i].text);
  }
  return CutToColumns(out, columns);
}

void Append(char* out, size_t capacity, const char* format, ...) {
  const size_t used = std::strlen(out);
  if (used + 1 >= capacity) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(out + used, capacity - used, format, args);
  va_end(args);
}

}  // namespace gpsfw
