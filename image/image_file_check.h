#pragma once

#include "report/failure_reason.h"

namespace gpsfw {

// Whether `path` names something an image can be read from: an existing, regular, non-empty
// file. False with the cause in *why (image_not_found, image_not_regular, image_empty,
// image_unreadable).
bool ImageFileUsable(const char* path, FailureReason* why);

// Whether the binary image at `path` carries bytes behind its FW checksum word that could be
// an SFLD tail (at least the tail's own checksum word).
bool ImageCarriesSfldTail(const char* path);

// Whether the binary container at `path` ends before its FW section does (its header says
// where): true with the cause (image_truncated, both sizes) in *why.
bool BinaryImageCutShort(const char* path, FailureReason* why);

}  // namespace gpsfw
