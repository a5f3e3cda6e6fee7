#include "tools/gpsfwstation/console/text_format.h"

#include "tools/gpsfwstation/run/unit_row.h"

#include <cstdio>

#include "image/image_digest.h"

namespace gpsfw::station {
namespace {

constexpr char kUnknown[] = "-";
constexpr char kCutMark[] = "..";
constexpr size_t kLongestPhase = 18;  // "waiting_for_serial"

std::string Printf(const char* format, double a, double b = 0, double c = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

std::string ClockText(double seconds) {
  if (seconds < 0) return kUnknown;
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

std::string SecondsText(double seconds) {
  return Printf("%.1f s", seconds);
}

std::string RateText(double bytesPerSecond) {
  if (bytesPerSecond <= 0) return kUnknown;
  return Printf("%.1f KiB/s", bytesPerSecond / 1024);
}

std::string Crc32Text(uint32_t crc) {
  char text[9];
  Crc32Hex(crc, text);
  return text;
}

std::string ImageLine(const ImageFacts& image) {
  return image.path + ", " + std::to_string(image.size) + " bytes, CRC-32 " +
         Crc32Text(image.crc32);
}

std::string TotalsLine(const Board& board, bool state) {
  const Totals totals = board.Count();
  const size_t updates = board.Updates();
  std::string line = std::to_string(updates) + (updates == 1 ? " update: " : " updates: ") +
                     std::to_string(totals.completed) + " completed, " +
                     std::to_string(totals.failed) + " failed, " + std::to_string(totals.running) +
                     " running";
  if (state && board.watching && !board.stopping) line += ", watching for ports";
  if (state && board.stopping) line += ", stopping";
  return line;
}

std::string Verdict(const Unit& unit) {
  const std::string code = " (" + std::to_string(LoaderReturnCode(unit)) + ")";
  switch (unit.result) {
    case Result::kRunning:
      return "";
    case Result::kCompleted:
      return "completed";
    case Result::kFailed:
      return "failed: " + FailureReason(unit) + (unit.status >= 0 ? code : "");
    case Result::kTimedOut:
    case Result::kStopped:
      return FailureReason(unit) + code;
  }
  return "";
}

std::string PhaseText(const std::string& phase) {
  // The name comes from the loader's stream: whatever it holds never reaches the terminal
  // as a control sequence, nor widens the table.
  std::string text = phase.empty() ? "starting" : phase.substr(0, kLongestPhase);
  for (char& c : text) {
    if (c == '_') c = ' ';
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  }
  const size_t sfld = text.find("sfld");
  if (sfld != std::string::npos) text.replace(sfld, 4, "SFLD");
  return text;
}

std::string FitLeft(const std::string& text, size_t width) {
  if (text.size() <= width) return text;
  if (width <= 2) return text.substr(text.size() - width);
  return kCutMark + text.substr(text.size() - (width - 2));
}

}  // namespace gpsfw::station
