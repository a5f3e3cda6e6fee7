#pragma once

#include <string>
#include <vector>

namespace gpsfw::test {

// A fresh temporary directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Opens the progress log in a temporary directory and gives its lines back.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  // The log's content so far (flushes the log).
  std::string Text() const;
  // The lines, split at CR LF.
  std::vector<std::string> Lines() const;
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
};

}  // namespace gpsfw::test
