#pragma once

#include <cstddef>
#include <cstdint>

#include "image/srec_reader.h"
#include "platform/unique_fd.h"

namespace gpsfw {

// What an extraction found behind the FW checksum word of a binary image.
struct SfldTail {
  bool present;          // a tail of at least its checksum word was copied out
  uint64_t payloadSize;  // S-record text bytes, without the checksum word
  uint32_t computed;     // XOR of the payload as little-endian words, short last word zero-filled
  uint32_t stored;       // the tail's last word
};

// Room for any path the loader builds.
inline constexpr size_t kPathCapacity = 4096;

// Copies the SFLD tail of the binary image at `imagePath` to a new file `outPath`: written
// completely under a unique name beside it (created exclusively, mode 0600) and then renamed
// over whatever stood there, a planted link included, which is never followed. Whatever the
// checksum verdict, a tail that was copied stays in the file. True when a tail was found and
// its checksum is right. `tail` may be nullptr. `reading`, when given and a tail was copied,
// receives a descriptor for reading that very file: its bytes stay the same whatever
// another process later renames over `outPath`. Where the file at `outPath` cannot be
// replaced (another user's, in a sticky folder), the copy is read through `reading` alone
// and `replaceError` (when given) gets the reason; without `reading` that is a failure.
// Where the folder of `outPath` cannot take the copy at all (missing, not writable, full),
// `tempError` (when given, with `reading`) gets the reason and the run reads a copy that
// has no name.
bool ExtractSfldReading(const char* imagePath, const char* outPath, SfldTail* tail,
                        platform::UniqueFd* reading, int* replaceError = nullptr,
                        int* tempError = nullptr);
bool ExtractSfldTo(const char* imagePath, const char* outPath, SfldTail* tail);

// The temporary SFLD file: $TMPDIR/sfld_tmp.hex. False when the path does not fit.
bool SfldTempPath(char* out, size_t capacity);

// ExtractSfldReading from the image named by wide text into `tempPath`.
bool ExtractSfld(const wchar_t* imagePath, const char* tempPath, platform::UniqueFd* reading,
                 int* replaceError = nullptr, int* tempError = nullptr);

// Where an SFLD is looked for when the image carries none: "sfld.hex" beside the program,
// then "../share/gpsfwload/sfld.hex" from the program's directory (an installed loader's
// packaged SFLD). False when `which` is past the last or the path does not fit.
inline constexpr size_t kSfldFallbacks = 2;
bool SfldFallbackPath(size_t which, char* out, size_t capacity);

// Where the SFLD was read from: the copy of the image's tail, or the fallback file at `path`
// (the first one looked for, when none opened).
struct SfldOrigin {
  bool fromTail = false;
  char path[kPathCapacity] = {};
  // Not 0 when the image's SFLD could not replace the file at `path` (errno): the run reads
  // its own copy of the tail, which has no name.
  int notReplaced = 0;
  // Not 0 when the temporary folder could not take the copy at all (errno): the run reads
  // a copy of the tail that has no name.
  int tempError = 0;
};

// Opens and scans `reader` on the image's SFLD tail or else on the first fallback file that
// opens, logging each step. True when the reader is ready. `origin`, when given, is told
// where the SFLD comes from once that is known.
bool LoadSfld(const wchar_t* imagePath, SRecReader& reader, SfldOrigin* origin = nullptr);

// The directory of the running program with its trailing '/'.
void ProgramDirectory(char* out, size_t capacity);

}  // namespace gpsfw
