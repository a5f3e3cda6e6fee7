#pragma once

#include "link/serial_port.h"

namespace gpsfw {

// Everything one run of the loader keeps between its steps: the serial link and the counts
// the views number the run's wake-ups and stage attempts by, each from 1 within the run.
// Made by the run sequence and handed to every step that needs it; nothing of it outlives
// the run.
struct RunState {
  SerialLink link;
  int wakes = 0;
  int sfldUploads = 0;
  int flashStages = 0;
};

}  // namespace gpsfw
