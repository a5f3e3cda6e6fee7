#pragma once

#include <cstdarg>
#include <cstddef>

namespace gpsfw {

// Why a run failed, or what it had to work around: a short code for scripts ("port_busy",
// "image_empty", "gave_up") and one line of text for people, naming the file or port and
// what to do about it. Built on the stack by the step that finds the cause, in a buffer of
// fixed size: no allocation while an image is read or a port is opened.
struct FailureReason {
  static constexpr size_t kMessageCapacity = 1024;
  const char* code = "";
  char message[kMessageCapacity] = {};
};

// A reason with its message formatted like printf; the text is cut at the capacity.
FailureReason MakeReason(const char* code, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Appends formatted text behind the message, never past its capacity.
void AppendReason(FailureReason& reason, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Hands `reason` to the observer as the cause of the run's failure.
void ReportFailure(const FailureReason& reason);
// Hands `reason` to the observer as a warning: the run goes on.
void ReportWarning(const FailureReason& reason);

}  // namespace gpsfw
