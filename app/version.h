#pragma once

namespace gpsfw {

// The project's version, set once in CMake's project() and handed down as GPSFW_VERSION.
inline constexpr char kLoaderVersion[] = GPSFW_VERSION;

}  // namespace gpsfw
