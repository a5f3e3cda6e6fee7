#pragma once

// A small filesystem of the test's own that can be filled: a size-limited tmpfs mounted on a
// folder of the test (CI runs as root; elsewhere the tests that need it are skipped).
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace gpsfw::test {

class SmallDisk {
 public:
  SmallDisk(const std::string& where, const std::string& size) : where_(where) {
    std::filesystem::create_directories(where_);
    const std::string options = "size=" + size + ",mode=0755";
    mounted_ = geteuid() == 0 && mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    StopFilling();
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
  // Keeps the disk full: whatever a program frees (a log it cuts short, a file it truncates)
  // is taken again within milliseconds, until Free().
  void KeepFull() {
    Fill();
    filling_ = true;
    filler_ = std::thread([this] {
      while (filling_) {
        Fill();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  void Free() {
    StopFilling();
    std::filesystem::remove(Filler());
  }

 private:
  std::string Filler() const { return where_ + "/filler"; }
  void StopFilling() {
    filling_ = false;
    if (filler_.joinable()) filler_.join();
  }

  std::string where_;
  bool mounted_ = false;
  std::atomic<bool> filling_{false};
  std::thread filler_;
};

}  // namespace gpsfw::test
