#include "app/loader_main.h"

int main(int argc, char** argv) {
  return gpsfw::LoaderMain(argc, argv);
}
