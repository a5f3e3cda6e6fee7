#include "report/failure_reason.h"

#include <cstdio>
#include <cstring>

#include "report/observer.h"

namespace gpsfw {
namespace {

void AppendV(FailureReason& reason, const char* format, va_list args) {
  const size_t used = std::strlen(reason.message);
  if (used + 1 >= sizeof reason.message) return;
  std::vsnprintf(reason.message + used, sizeof reason.message - used, format, args);
}

}  // namespace

FailureReason MakeReason(const char* code, const char* format, ...) {
  FailureReason reason;
  reason.code = code;
  va_list args;
  va_start(args, format);
  AppendV(reason, format, args);
  va_end(args);
  return reason;
}

void AppendReason(FailureReason& reason, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendV(reason, format, args);
  va_end(args);
}

void ReportFailure(const FailureReason& reason) {
  Observe().OnFailure(reason);
}

void ReportWarning(const FailureReason& reason) {
  Observe().OnWarning(reason);
}

}  // namespace gpsfw
