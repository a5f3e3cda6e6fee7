#pragma once

namespace gpsfw {

// The run sequence's part under --check: the image is prepared exactly as for an update,
// and no port is opened. The return code is the run's: 0 or -3. The front end's check
// report prints the rest when the run ends.
int CheckImage(const wchar_t* imagePath);

}  // namespace gpsfw
