#pragma once

#include <cstddef>
#include <cstdint>

#include "image/stdio_file.h"
#include "protocol/image_extent.h"
#include "protocol/record_packet.h"

namespace gpsfw {

inline constexpr size_t kSRecLineData = 256;
// An S3 line with 32 data bytes: 'S', type, count, 8 address digits, 64 data digits, sum.
inline constexpr size_t kSRecMaxLineText = 78;

// The longest line, without its line end, the reader takes.
inline constexpr int kSRecLongestLine = 254;

// One parsed S-record line.
struct SRecLine {
  uint8_t type;                  // 0..9 for S0..S9
  uint16_t length;               // data bytes of S1/S2/S3; 0 for S0; the raw count otherwise
  uint32_t address;              // load address of S1/S2/S3; entry point of S7; 0 for S0
  uint16_t data[kSRecLineData];  // one byte in the low 8 bits of each element
};

// Results of SRecReader::ParseLine.
inline constexpr int kLineError = 0;
inline constexpr int kLineParsed = 1;
inline constexpr int kLineEnd = 2;

// The checksum test of one line's text (without its line end): the pair behind the count
// bytes must be the ones' complement of their sum. False as well when the text does not hold
// the digit pairs its count claims.
bool CheckLineSum(const char* text);
// Parses one line's text (without its line end): kLineParsed or kLineError.
int ParseLineText(const char* text, SRecLine& line);

// Reads a Motorola S-record file: checks every line, works out the extent, and hands out
// the S3 data as packets of up to 2048 contiguous bytes.
class SRecReader {
 public:
  SRecReader() = default;
  ~SRecReader() { Close(); }
  SRecReader(const SRecReader&) = delete;
  SRecReader& operator=(const SRecReader&) = delete;

  bool Open(const char* path);
  // Reads the file behind the descriptor `fd` (taken over, read from its current offset):
  // the bytes of that file, whatever its name comes to hold later.
  bool Adopt(int fd);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  // True when the first line is well formed or the file holds no line; the file is then
  // back at its start.
  bool Probe();
  // Reads the whole file for its extent; leaves the file at its end.
  bool Scan();
  void Rewind();
  // Fills and seals the next packet; a packet without data means the end of the file.
  bool NextRecord(RecordPacket& packet);
  int ParseLine(SRecLine& line);
  const ImageExtent& Extent() const { return extent_; }
  // The number (from 1) of the line that made the last read fail by being longer than
  // kSRecLongestLine; 0 when none did.
  int TooLongLine() const { return tooLongLine_; }

 private:
  void ToStart();
  // After a read that filled the buffer: true when the line ends there.
  bool LineEndsHere();

  StdioFile file_;
  int lineNumber_ = 0;
  int tooLongLine_ = 0;
  ImageExtent extent_{};
  CarryOver carry_{};
};

}  // namespace gpsfw
