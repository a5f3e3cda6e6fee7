#pragma once

#include "image/image_source.h"
#include "image/srec_reader.h"

namespace gpsfw {

// The two image objects that live for the whole process, built closed before the entry
// runs: the firmware image source first, then the SFLD reader.
ImageSource& FirmwareImage();
SRecReader& SfldReader();

// True when the target's PFLD area is rewritten as well: flash programming then asks the
// target to enter its boot mode first.
extern bool PfldMode;

}  // namespace gpsfw
