#pragma once

namespace gpsfw {

// Loads the SFLD, opens and checks the firmware image, decides PfldMode. True when
// everything the session will send is at hand.
bool PrepareImage(const wchar_t* imagePath);

}  // namespace gpsfw
