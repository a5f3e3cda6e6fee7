#pragma once

#include "protocol/image_extent.h"

namespace gpsfw {

// The three lines that tell an image's start address, entry point and size.
void LogImageExtent(const ImageExtent& extent);

}  // namespace gpsfw
