#pragma once

// A small filesystem of the test's own that can be filled: a size-limited tmpfs mounted on a
// folder of the test (CI runs as root; elsewhere the tests that need it are skipped).
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace gpsfw::test {

class SmallDisk {
 public:
  SmallDisk(const std::string& where, const std::string& size) : where_(where) {
    std::filesystem::create_directories(where_);
    const std::string options = "size=" + size + ",mode=0755";
    mounted_ = geteuid() == 0 && mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  // Fills what is left with a file of its own, until the disk refuses a byte more.
  void Fill() {
    std::FILE* out = std::fopen(Filler().c_str(), "ab");
    if (out == nullptr) return;
    static const char block[4096] = {};
    while (std::fwrite(block, 1, sizeof block, out) == sizeof block) {
    }
    std::fclose(out);
    for (std::FILE* tail = std::fopen(Filler().c_str(), "ab"); tail != nullptr;) {
      const bool more = std::fputc(0, tail) != EOF && std::fflush(tail) == 0;
      std::fclose(tail);
      if (!more) break;
      tail = std::fopen(Filler().c_str(), "ab");
    }
  }
  void Free() { std::filesystem::remove(Filler()); }

 private:
  std::string Filler() const { return where_ + "/filler"; }

  std::string where_;
  bool mounted_ = false;
};

}  // namespace gpsfw::test
