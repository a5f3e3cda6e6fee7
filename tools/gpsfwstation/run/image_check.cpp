#include "tools/gpsfwstation/run/image_check.h"
#include "tools/gpsfwstation/record/path_name.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "image/image_digest.h"
#include "tools/gpsfwstation/run/loader_environment.h"
#include "tools/gpsfwstation/run/loader_process.h"

namespace gpsfw::station {
namespace {

// Preparing even the largest container takes the loader well under a second.
constexpr auto kCheckBound = std::chrono::seconds(60);
constexpr int kPollMs = 100;

// Reads both pipes until both end, or the time bound passes.
void Collect(LoaderProcess& check, std::string& output) {
  const auto deadline = std::chrono::steady_clock::now() + kCheckBound;
  while (check.OutFd() >= 0 || check.ErrFd() >= 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      output += "gpsfwstation: the image check did not end within 60 s\n";
      check.SignalGroup(SIGKILL);
      return;
    }
    pollfd fds[2] = {{check.OutFd(), POLLIN, 0}, {check.ErrFd(), POLLIN, 0}};
    if (poll(fds, 2, kPollMs) <= 0) continue;
    if (fds[0].revents != 0 && !ReadAvailable(fds[0].fd, output)) check.CloseOut();
    if (fds[1].revents != 0 && !ReadAvailable(fds[1].fd, output)) check.CloseErr();
  }
}

// The image's copy in the station's folder; without a folder, no copy.
class Snapshot {
 public:
  Snapshot(const std::string& dir, const std::string& image) {
    if (dir.empty()) return;
    path_ = dir + "/" + record::BaseName(image);
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0) throw std::runtime_error("cannot copy the image to " + path_);
  }
  ~Snapshot() {
    if (fd_ >= 0) close(fd_);
  }
  void Write(const uint8_t* bytes, size_t count) {
    for (size_t done = 0; fd_ >= 0 && done < count;) {
      const ssize_t n = write(fd_, bytes + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("cannot copy the image to " + path_);
      done += static_cast<size_t>(n);
    }
  }
  // The copy's path, made read-only: a loader reads it and nothing writes it again.
  std::string Finish() {
    if (fd_ < 0) return path_;
    if (fchmod(fd_, 0400) != 0 || close(fd_) != 0) {
      fd_ = -1;
      throw std::runtime_error("cannot copy the image to " + path_);
    }
    fd_ = -1;
    return path_;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

ImageFacts ReadImageFacts(const std::string& path, const std::string& snapshotDir) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot read the image " + path + ": not a readable regular file");
  }
  ImageFacts facts;
  facts.path = path;
  facts.device = st.st_dev;
  facts.inode = st.st_ino;
  facts.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  Snapshot copy(snapshotDir, path);
  Sha256 sha;
  std::vector<uint8_t> buffer(64 * 1024);
  ssize_t got;
  while ((got = read(fd, buffer.data(), buffer.size())) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    const auto n = static_cast<size_t>(got);
    facts.crc32 = Crc32Update(facts.crc32, buffer.data(), n);
    sha.Update(buffer.data(), n);
    copy.Write(buffer.data(), n);
    facts.size += n;
  }
  close(fd);
  if (got < 0) throw std::runtime_error("cannot read the image " + path);
  char sha256[65];
  sha.Finish(sha256);
  facts.sha256 = sha256;
  facts.snapshot = copy.Finish();
  return facts;
}

bool ImageChangedOnDisk(const ImageFacts& facts) {
  struct stat st {};
  if (stat(facts.path.c_str(), &st) != 0) return true;
  const int64_t mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return st.st_dev != facts.device || st.st_ino != facts.inode ||
         static_cast<uint64_t>(st.st_size) != facts.size || mtime != facts.mtimeNs;
}

CheckRun RunImageCheck(const std::string& loader, const std::string& image, const std::string& log,
                       const std::string& tmpDir) {
  LoaderProcess check;
  std::string error;
  if (!check.Start({loader, "--check", "-i", image, "-l", log}, LoaderEnvironment(tmpDir), error)) {
    throw std::runtime_error(error);
  }
  CheckRun run;
  Collect(check, run.output);
  while (!check.Reap()) poll(nullptr, 0, 10);
  run.status = check.Status();
  return run;
}

}  // namespace gpsfw::station
