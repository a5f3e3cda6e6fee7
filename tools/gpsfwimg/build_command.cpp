#include <cstdio>
#include <iostream>

#include "image/container_check.h"
#include "image/sfld_loader.h"
#include "image/srec_reader.h"
#include "image/stdio_file.h"
#include "tools/container_writer/container_writer.h"
#include "tools/gpsfwimg/commands.h"
#include "tools/gpsfwimg/tool_support.h"

namespace gpsfw::tool {
namespace {

// The SFLD must be something the loader's own reader accepts before it goes into an image.
std::string ReadSfld(const std::string& path) {
  const Bytes bytes = ReadWholeFile(path);
  SRecReader reader;
  if (!reader.Open(path.c_str())) throw InputError("cannot open " + path);
  if (!reader.Scan()) throw InputError(path + " is not a well-formed S-record file");
  return PadSfldText(std::string(bytes.begin(), bytes.end()));
}

// Reads the written image back the way the loader will and insists on its verdicts.
void Verify(const std::string& imagePath, bool withSfld) {
  StdioFile file;
  uint32_t pfldChecksum = 0;
  if (!file.Open(imagePath.c_str(), "rb") || !CheckContainer(file.Get(), &pfldChecksum)) {
    throw InputError("the written image fails the container check");
  }
  if (!withSfld) return;
  ScratchDir scratch;
  if (!ExtractSfldTo(imagePath.c_str(), scratch.File("sfld.hex").c_str(), nullptr)) {
    throw InputError("the written image's SFLD tail does not check out");
  }
}

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
  const Options options = ParseOptions(args, {"--pfld", "--fw", "--sfld", "-o", "--out"});
  if (options.help) {
    std::cout << BuildUsage();
    return kExitOk;
  }
  if (!options.positional.empty()) throw UsageError("unexpected argument " + options.positional[0]);
  auto outOption = options.values.find("-o");
  if (outOption == options.values.end()) outOption = options.values.find("--out");
  if (outOption == options.values.end()) throw UsageError("-o IMAGE.bin is required");
  const std::string out = outOption->second;
  Bytes image = LayOutContainer(ReadWholeFile(Required(options, "--pfld")),
                                ReadWholeFile(Required(options, "--fw")));
  const bool withSfld = options.values.count("--sfld") != 0;
  if (withSfld) AppendSfld(image, ReadSfld(options.values.at("--sfld")));
  WriteWholeFile(out, image);
  Verify(out, withSfld);
  std::cout << out << ": " << image.size() << " bytes" << (withSfld ? " with an SFLD tail" : "")
            << "\n";
  return kExitOk;
}

}  // namespace gpsfw::tool
