#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/segment.h"

namespace gpsfw::sim {

// The bytes a correct loader programs from an image file. The simulator reads images with
// its own small reader, so that it checks the loader rather than sharing its mistakes.
//
// A binary container yields its file bytes from offset 0 up to, not including, the FW end
// address (the word at 0x4024 minus 0x10000000), or to the end of a shorter file, at
// 0x10000000 on. An S-record file yields the data of its S3 lines, every line's checksum
// checked. Throws std::runtime_error when the file cannot be read or makes no sense.
std::vector<Segment> LoadExpectedImage(const std::string& path);

// The largest firmware container a loader accepts; no image file may be larger.
inline constexpr uint64_t kLargestImageBytes = 0x10100000;

// The bytes of a regular file of at most kLargestImageBytes; throws std::runtime_error for
// anything else (a device, a FIFO, a directory, a file too large).
std::vector<uint8_t> ReadImageFile(const std::string& path);

std::vector<Segment> ExpectedFromContainer(const std::vector<uint8_t>& file);
std::vector<Segment> ExpectedFromSRecords(const std::string& text);

// True when the file starts like an S-record file ('S' and a record type digit).
bool LooksLikeSRecords(const std::vector<uint8_t>& file);

}  // namespace gpsfw::sim
