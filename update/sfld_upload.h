#pragma once

#include "image/srec_reader.h"
#include "link/serial_port.h"

namespace gpsfw {

// Sends the whole SFLD into the boot loader, one confirmed record at a time, and closes it
// with the end record. True when the target accepted every record.
bool UploadSfld(PortHandle port, SRecReader& reader);

}  // namespace gpsfw
