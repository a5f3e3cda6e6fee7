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

// Appends formatted text behind what `out` holds, never past `capacity`.
void Append(char* out, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace gpsfw
