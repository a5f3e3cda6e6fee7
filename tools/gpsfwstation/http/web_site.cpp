#include "tools/gpsfwstation/http/web_site.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace gpsfw::station {
namespace {

struct PageFile {
  const char* name;
  const char* type;
};

// What the page build writes; a browser compiles the module only when its type is wasm.
constexpr PageFile kPageFiles[] = {
    {"index.html", "text/html; charset=utf-8"},
    {"gpsfwload.js", "text/javascript; charset=utf-8"},
    {"gpsfwload.wasm", "application/wasm"},
    {"style.css", "text/css; charset=utf-8"},
};

bool ReadBounded(const std::string& path, std::string& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot read it (" + std::strerror(errno) + ")";
    return false;
  }
  // One byte beyond the bound tells a file that is too large, whatever it claims to be.
  bytes.resize(kMaxWebFileBytes + 1);
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    error = path + ": cannot read it";
    return false;
  }
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > kMaxWebFileBytes) {
    error = path + ": larger than " + std::to_string(kMaxWebFileBytes / (1024 * 1024)) +
            " MB, which no file of the web page is";
    return false;
  }
  return true;
}

}  // namespace

const WebFile* WebSite::Find(const std::string& name) const {
  for (const WebFile& file : files) {
    if (file.name == name) return &file;
  }
  return nullptr;
}

std::shared_ptr<const WebSite> LoadWebSite(const std::string& dir, std::string& error) {
  auto site = std::make_shared<WebSite>();
  const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  for (const PageFile& file : kPageFiles) {
    WebFile read{file.name, file.type, {}};
    if (!ReadBounded(base + file.name, read.bytes, error)) {
      error = "--web " + dir + ": " + error;
      return nullptr;
    }
    site->files.push_back(std::move(read));
  }
  return site;
}

}  // namespace gpsfw::station
