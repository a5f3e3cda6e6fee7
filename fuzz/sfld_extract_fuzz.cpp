// SFLD extraction and loading from arbitrary image files, the temporary file included.
#include <cstdlib>
#include <cwchar>

#include "fuzz/fuzz_file.h"
#include "image/sfld_loader.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = gpsfw::fuzz::Files().Write("image.bin", data, size);
  gpsfw::SfldTail tail{};
  const std::string out = gpsfw::fuzz::Files().File("extracted.hex");
  const bool found = gpsfw::ExtractSfldTo(path.c_str(), out.c_str(), &tail);
  if (found && (!tail.present || tail.computed != tail.stored || tail.payloadSize + 4 > size)) {
    std::abort();
  }
  wchar_t widePath[4096];
  gpsfw::platform::WideFromNarrow(widePath, 4096, path.c_str());
  gpsfw::SRecReader reader;
  gpsfw::LoadSfld(widePath, reader);
  return 0;
}
