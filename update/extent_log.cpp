#include "update/extent_log.h"

#include <cwchar>

#include "report/progress_log.h"

namespace gpsfw {

void LogImageExtent(const ImageExtent& extent) {
  constexpr size_t kLine = 64;
  wchar_t line[kLine];
  std::swprintf(line, kLine, L"Image Start address: 0x%08X", extent.start);
  LogWide(line);
  std::swprintf(line, kLine, L"Image Entry point: 0x%08X", extent.entry);
  LogWide(line);
  std::swprintf(line, kLine, L"Image Size: %lu bytes", static_cast<unsigned long>(extent.size));
  LogWide(line);
}

}  // namespace gpsfw
