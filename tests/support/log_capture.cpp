#include "tests/support/log_capture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "report/progress_log.h"

namespace gpsfw::test {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "gpsfw-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

LogCapture::LogCapture() : path_(dir_.File("progress.log")) {
  OpenProgressLog(path_.c_str());
}

LogCapture::~LogCapture() {
  CloseProgressLog(0);
}

std::string LogCapture::Text() const {
  FlushProgressLog();
  return ReadFile(path_);
}

std::vector<std::string> LogCapture::Lines() const {
  std::vector<std::string> lines;
  const std::string text = Text();
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace gpsfw::test
