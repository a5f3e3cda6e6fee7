#include "app/loader_main.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  gpsfw::platform::SetProgramArgument(argc > 0 ? argv[0] : nullptr);
  return gpsfw::LoaderMain(argc, argv);
}
