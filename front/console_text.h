#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw {

// Bytes per second a line carries at `baud` (start and stop bit around every byte).
uint32_t LineBytesPerSecond(uint32_t baud);

// Small text pieces of the console, each written into `out` (always terminated).
// "0:07", "12:34", "1:02:03".
void FormatDuration(char* out, size_t capacity, uint64_t microseconds);
// "980 B/s", "10.2 kB/s", "1.05 MB/s".
void FormatRate(char* out, size_t capacity, double bytesPerSecond);
// "512 bytes", "48 KiB", "1.5 MiB".
void FormatSize(char* out, size_t capacity, uint64_t bytes);

// Cuts `text` in place to at most `columns` characters on a terminal: UTF-8 sequences count
// as one column and are never split. Returns the columns kept.
size_t CutToColumns(char* text, size_t columns);

// Columns `text` takes on a terminal: a UTF-8 sequence takes one.
size_t TextColumns(const char* text);

// The pieces of the status line, each with how much a person watching needs it. A narrow
// terminal gets the most needed pieces that fit, whole and in their order: the least
// needed one gives way first, never half of one.
class StatusFields {
 public:
  // A piece that always stays (the phase, its counter, the time left).
  static constexpr int kAlways = 1000;

  // Adds a piece: its text as printf formats it, with its own separator in front.
  void Add(int use, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Every piece, as a pipe gets it.
  void Join(char* out, size_t capacity) const;
  // The pieces that fit into `columns`, taken by use; what must stay is cut only when it
  // alone is too wide. Returns the columns written.
  size_t Fit(char* out, size_t capacity, size_t columns) const;

 private:
  static constexpr size_t kMaxFields = 8;
  static constexpr size_t kFieldCapacity = 160;
  struct Field {
    char text[kFieldCapacity];
    int use;
  };
  Field fields_[kMaxFields] = {};
  size_t count_ = 0;
};

// Appends formatted text behind what `out` holds, never past `capacity`.
void Append(char* out, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace gpsfw
