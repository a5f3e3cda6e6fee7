#pragma once

#include <cstdint>
#include <cstdio>

namespace gpsfw {

// Checks a binary container on an open binary stream: file size, PFLD and FW headers, the
// first word of each section and both XOR checksums, logging one line per finding. True
// when the image is accepted; the PFLD checksum then goes to *pfldChecksum (which may be 0
// for a good image). Leaves the stream anywhere.
bool CheckContainer(std::FILE* stream, uint32_t* pfldChecksum);

}  // namespace gpsfw
