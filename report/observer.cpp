#include "report/observer.h"

namespace gpsfw {
namespace {

Observer g_silent;
Observer* g_observer = &g_silent;

}  // namespace

Observer& Observe() {
  return *g_observer;
}

void InstallObserver(Observer* observer) {
  g_observer = observer != nullptr ? observer : &g_silent;
}

}  // namespace gpsfw
