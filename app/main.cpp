#include "app/command_line.h"
#include "app/run_loader.h"

int main(int argc, char** argv) {
  char commandLine[gpsfw::kCommandLineBuffer];
  gpsfw::JoinArguments(argc, argv, commandLine, sizeof commandLine);
  return gpsfw::RunLoader(commandLine);
}
