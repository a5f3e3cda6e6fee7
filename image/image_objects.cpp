#include "image/image_objects.h"

namespace gpsfw {
namespace {

// Built in this order and destroyed in reverse at exit, closing their files.
ImageSource g_firmwareImage;
SRecReader g_sfldReader;

}  // namespace

bool PfldMode = false;

ImageSource& FirmwareImage() {
  return g_firmwareImage;
}
SRecReader& SfldReader() {
  return g_sfldReader;
}

}  // namespace gpsfw
