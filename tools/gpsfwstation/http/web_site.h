#pragma once

#include <memory>
#include <string>
#include <vector>

namespace gpsfw::station {

// The web updater page's files, read once when the server starts and served from memory: a
// file changed or removed later does not change what a browser gets until the next start.
struct WebFile {
  std::string name;  // as in the address: "index.html"
  const char* type;  // its Content-Type
  std::string bytes;
};

struct WebSite {
  std::vector<WebFile> files;
  // The file of this name, or nullptr.
  const WebFile* Find(const std::string& name) const;
};

// No file of the page comes near this; one larger is not the page.
inline constexpr size_t kMaxWebFileBytes = 2 * 1024 * 1024;

// Reads the page's four files from `dir`. nullptr with the reason (the file and the cause)
// when one is missing, unreadable or larger than kMaxWebFileBytes.
std::shared_ptr<const WebSite> LoadWebSite(const std::string& dir, std::string& error);

}  // namespace gpsfw::station
