#include "app/run_loader.h"

#include <cstdio>

#include "app/command_line.h"
#include "link/serial_port.h"
#include "platform/text.h"
#include "report/observer.h"
#include "report/progress_log.h"
#include "update/prepare_image.h"
#include "update/session.h"

namespace gpsfw {
namespace {

constexpr size_t kPortNameCapacity = 200;
constexpr size_t kImagePathCapacity = 512;
constexpr uint32_t kOpeningBaud = 57600;
// On the handheld the log lived in "\MyDevice\grelm.txt"; here it is the working directory.
constexpr char kDefaultLogPath[] = "grelm.txt";

int RunWithLog(const char* commandLine) {
  char option[kOptionBuffer];
  wchar_t portName[kPortNameCapacity] = L"GPS1:";
  wchar_t imagePath[kImagePathCapacity];

  LogWide(L"GPS FW Loader v1.0.0 ");
  if (ExtractOption(commandLine, 'p', option, sizeof option)) {
    platform::WideFromNarrow(portName, kPortNameCapacity, option);
  }
  if (!ExtractOption(commandLine, 'i', option, sizeof option)) {
    LogWide(L"FW image file (-i parameter) missed");
    return kRunNoImageOption;
  }
  platform::WideFromNarrow(imagePath, kImagePathCapacity, option);

  PortHandle port = OpenPort(portName, kOpeningBaud);
  if (port == INVALID_PORT) return kRunPortFailed;
  Observe().OnPhase(UpdatePhase::kPreparing);
  if (!PrepareImage(imagePath)) {
    ClosePort(port);
    return kRunImageFailed;
  }
  Observe().OnPrepared();
  RunSession(port);
  ClosePort(port);
  return kRunOk;
}

}  // namespace

int RunLoader(const char* commandLine) {
  char logPath[kOptionBuffer];
  if (!ExtractOption(commandLine, 'l', logPath, sizeof logPath)) {
    std::snprintf(logPath, sizeof logPath, "%s", kDefaultLogPath);
  }
  if (!OpenProgressLog(logPath)) return kRunLogFailed;
  const int code = RunWithLog(commandLine);
  CloseProgressLog(code);
  Observe().OnPhase(UpdatePhase::kDone);
  Observe().OnDone(code);
  return code;
}

}  // namespace gpsfw
