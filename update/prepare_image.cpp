// Placeholder until image preparation lands: no image is ever ready.
#include "update/prepare_image.h"

namespace gpsfw {

bool PrepareImage(const wchar_t*) { return false; }

}  // namespace gpsfw
