#pragma once

namespace gpsfw {

// Return codes of a run; they are also the process exit status.
inline constexpr int kRunOk = 0;
inline constexpr int kRunPortFailed = -2;
inline constexpr int kRunImageFailed = -3;
inline constexpr int kRunLogFailed = -5;
inline constexpr int kRunNoImageOption = -6;

// The whole run: log, port, image preparation, the session with the target.
int RunLoader(const char* commandLine);

}  // namespace gpsfw
