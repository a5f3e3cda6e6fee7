#include "front/reason_file.h"

namespace gpsfw {

bool WriteReasonLine(std::FILE* out, int returnCode, const RunFacts& facts) {
  if (returnCode == 0 || !facts.failed) return std::fflush(out) == 0;
  std::fprintf(out, "%s ", facts.failureCode);
  for (const char* c = facts.failureMessage; *c != '\0'; ++c) {
    std::fputc(*c == '\n' || *c == '\r' ? ' ' : *c, out);
  }
  std::fputc('\n', out);
  return std::fflush(out) == 0 && std::ferror(out) == 0;
}

}  // namespace gpsfw
