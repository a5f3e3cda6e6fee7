#pragma once

#include "image/image_source.h"
#include "link/serial_port.h"

namespace gpsfw {

// The flash stage at 115200 baud: version and type queries, then ProgramFlash.
bool FlashUpload(PortHandle port);
// Boot mode (with PfldMode), the erase of the image's range, every record, the end record.
bool ProgramFlash(PortHandle port, ImageSource& source);
// Follows the target's sector reports until it says the erase is complete or failed.
bool EraseProgress(PortHandle port);

}  // namespace gpsfw
