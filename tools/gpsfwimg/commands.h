#pragma once

#include <string>
#include <vector>

namespace gpsfw::tool {

// Each takes the arguments behind its command name and returns the exit status.
int RunBuild(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunSample(const std::vector<std::string>& args);

// Usage texts: the whole manual, and the part of one command.
const char* ManualText();
const char* BuildUsage();
const char* InfoUsage();
const char* SampleUsage();

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // input refused, or an image the loader would refuse
inline constexpr int kExitUsage = 2;

}  // namespace gpsfw::tool
