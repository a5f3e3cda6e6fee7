#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw {

// What an extraction found behind the FW checksum word of a binary image.
struct SfldTail {
  bool present;          // a tail of at least its checksum word was copied out
  uint64_t payloadSize;  // S-record text bytes, without the checksum word
  uint32_t computed;     // XOR of the payload as little-endian words, short last word zero-filled
  uint32_t stored;       // the tail's last word
};

// Copies the SFLD tail of the binary image at `imagePath` to a new file `outPath` (whatever
// stood there is removed first; the new file is created exclusively, mode 0600, and a link
// is never followed). True when a tail was found and its checksum is right. `tail` may be
// nullptr.
bool ExtractSfldTo(const char* imagePath, const char* outPath, SfldTail* tail);

// The temporary SFLD file: $TMPDIR/sfld_tmp.hex. False when the path does not fit.
bool SfldTempPath(char* out, size_t capacity);

// ExtractSfldTo into the temporary SFLD file.
bool ExtractSfld(const wchar_t* imagePath);

// Opens and scans the process-wide SFLD reader on the image's SFLD tail or else on
// "sfld.hex" beside the program, logging each step. True when the reader is ready.
bool LoadSfld(const wchar_t* imagePath);

// The directory of the running program with its trailing '/'.
void ProgramDirectory(char* out, size_t capacity);

// Room for any path the loader builds.
inline constexpr size_t kPathCapacity = 4096;

}  // namespace gpsfw
