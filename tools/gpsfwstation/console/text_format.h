#pragma once

#include <string>

#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// 75 -> "1:15", 3725 -> "1:02:05"; "-" for a negative time (unknown).
std::string ClockText(double seconds);
// A duration to a tenth of a second: "7.3 s".
std::string SecondsText(double seconds);
// Bytes per second as "11.2 KiB/s"; "-" for none.
std::string RateText(double bytesPerSecond);
// A CRC-32 as every station output spells it: "1a2b3c4d".
std::string Crc32Text(uint32_t crc);
// The image in one line: "fw.bin, 262144 bytes, CRC-32 1a2b3c4d".
std::string ImageLine(const ImageFacts& image);
// "3 updates: 2 completed, 1 failed, 0 running", and with `state` whether the station
// watches for ports or is stopping.
std::string TotalsLine(const Board& board, bool state);
// An ended unit's result: "completed", "failed: port (254)", "timed out (143)".
std::string Verdict(const Unit& unit);
// A phase as people read it: "waiting_for_sfld" -> "waiting for SFLD".
std::string PhaseText(const std::string& phase);
// `text` cut to `width` bytes from the left, the cut marked with "..": long port paths
// differ at their end.
std::string FitLeft(const std::string& text, size_t width);

}  // namespace gpsfw::station
