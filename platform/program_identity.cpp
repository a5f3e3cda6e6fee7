#include "platform/program_identity.h"

#include "platform/paths.h"
#include "platform/port_name.h"

namespace gpsfw::platform {
namespace {

constexpr size_t kProgramPathCapacity = 4096;

char g_moduleOverride[kProgramPathCapacity];
bool g_moduleOverridden = false;
char g_programArgument[kProgramPathCapacity];

}  // namespace

const char* ModuleOverride() {
  return g_moduleOverridden ? g_moduleOverride : nullptr;
}

const char* ProgramArgument() {
  return g_programArgument;
}

void OverrideModuleFileName(const char* path) {
  g_moduleOverridden = path != nullptr;
  // An override too long to hold makes the program's path unknown rather than a cut one.
  if (g_moduleOverridden) CopyFitting(g_moduleOverride, sizeof g_moduleOverride, path);
}

void SetProgramArgument(const char* argv0) {
  CopyFitting(g_programArgument, sizeof g_programArgument, argv0 != nullptr ? argv0 : "");
}

}  // namespace gpsfw::platform
