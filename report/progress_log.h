#pragma once

#include <cstddef>

#include "report/output_file.h"

namespace gpsfw {

// The progress log: one 8-bit text file with CR LF line ends. While it is closed every
// operation does nothing.

// Opens the log for a run as OpenHeldOutputFile does (output_file.h): never through a
// symbolic link, never over one of the `spared` files, never over a log that another run
// holds (kHeld, with its PID in *holder when `holder` is given). The log stays held until it
// is closed.
LogOpenResult OpenRunLog(const char* path, const char* const* spared, size_t sparedCount,
                         long* holder);
// OpenRunLog with nothing to spare; true when opened.
bool OpenProgressLog(const char* path);
// A log for a run that leaves no file (--check without -l): every line goes to the observer
// as usual and nowhere else; CloseProgressLog ends it.
void OpenUnwrittenLog();
bool ProgressLogIsOpen();
// False once a line of this run's log could not be written (a full disk, a failing device);
// the observer heard of it then (OnOutputLost).
bool ProgressLogComplete();
// Hands every line written so far to the system.
void FlushProgressLog();
// Writes "RetCode: %d" and closes the log.
void CloseProgressLog(int returnCode);

// One line of wide text, converted byte for byte and flushed to disk at once.
void LogWide(const wchar_t* text);
// One line of 8-bit text; reaches the disk with the next LogWide line or at close.
void LogNarrow(const char* text);

inline constexpr int kMessageError = 0;     // error box with an OK button
inline constexpr int kMessageQuestion = 4;  // question with Yes and No buttons
// The message-box hook of a loader without a screen: an error box becomes a log line, a
// question is answered yes without being asked. Always 1 (OK / Yes).
int ReportMessage(const wchar_t* text, const wchar_t* caption, int style);

}  // namespace gpsfw
