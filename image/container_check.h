#pragma once

#include <cstdint>
#include <cstdio>

#include "report/failure_reason.h"

namespace gpsfw {

// Checks a binary container on an open binary stream: file size, PFLD and FW headers, the
// first word of each section and both XOR checksums, logging one line per finding. True
// when the image is accepted; the PFLD checksum then goes to *pfldChecksum (which may be 0
// for a good image). Leaves the stream anywhere.
// A refusal's cause goes to *why when it is given.
bool CheckContainer(std::FILE* stream, uint32_t* pfldChecksum, FailureReason* why = nullptr);

// The cause of a container whose `section` ("PFLD", "FW") needs `needed` bytes of a file
// that has `size`: an interrupted download, most often.
FailureReason CutShortReason(const char* section, long size, long needed);

}  // namespace gpsfw
