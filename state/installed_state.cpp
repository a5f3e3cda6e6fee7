#include "state/installed_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "image/image_digest.h"
#include "platform/file_replace.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace gpsfw {
namespace {

namespace fs = std::filesystem;

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

// A rename is on disk only once its folder is.
void SyncFolder(const fs::path& folder) {
#ifndef _WIN32
  const int fd = open(folder.empty() ? "." : folder.string().c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
#else
  (void)folder;
#endif
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

bool WriteSynced(const fs::path& path, const std::string& text) {
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool synced = SyncFile(out);
  return std::fclose(out) == 0 && written && synced;
}

// The image's copy under its SHA-256, put in place whole before any state names it.
bool KeepCopy(const char* image, const fs::path& copy) {
  std::error_code ec;
  if (fs::exists(copy, ec)) return true;
  std::ifstream in(image, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const fs::path part = copy.string() + ".part";
  if (!WriteSynced(part, bytes) ||
      !platform::RenameReplacing(part.string().c_str(), copy.string().c_str())) {
    const int error = errno;
    fs::remove(part, ec);
    errno = error;
    return false;
  }
  SyncFolder(copy.parent_path());
  return true;
}

std::string StateText(const StateFields& now, const StateFields& before) {
  std::string text = "# gpsfwload --state: the firmware the receiver runs, and the one before\n";
  for (const char* key : kStateFields) {
    const auto found = now.find(key);
    if (found != now.end()) text += std::string(key) + "=" + found->second + "\n";
  }
  for (const char* key : kStateFields) {
    const auto found = before.find(key);
    if (found != before.end()) text += std::string("previous.") + key + "=" + found->second + "\n";
  }
  return text;
}

// Copies that neither the state nor its previous names are not kept.
void DropOldCopies(const fs::path& folder, const StateFields& now, const StateFields& before) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string path = entry.path().string();
    const bool named = (now.count("image_copy") != 0 && now.at("image_copy") == path) ||
                       (before.count("image_copy") != 0 && before.at("image_copy") == path);
    if (!named) fs::remove(entry.path(), ec);
  }
}

}  // namespace

bool ReadStateFile(const char* statePath, StateFields& fields) {
  std::ifstream in(statePath);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return !in.bad();
}

namespace {

// The reason, with the system's error of the step that failed.
bool Refuse(std::string& why, const std::string& what, int error) {
  why = what + ": " + std::strerror(error != 0 ? error : EIO);
  return false;
}

}  // namespace

bool WriteInstalledState(const char* statePath, const CompletedImage& completed, std::string& why) {
  const char* imagePath = completed.imagePath;
  const ReceiverIdentity& identity = *completed.identity;
  const std::string cannot = std::string("the state file ") + statePath + " cannot be written";
  ImageDigest digest;
  if (!DigestFile(imagePath, digest)) {
    why = std::string("the image ") + imagePath + " cannot be read again for the state file";
    return false;
  }
  StateFields old;
  StateFields before;
  if (ReadStateFile(statePath, old)) {
    for (const char* key : kStateFields) {
      if (old.count(key) != 0) before[key] = old[key];
    }
  }
  const fs::path folder = fs::absolute(std::string(statePath) + ".d").lexically_normal();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return Refuse(why, cannot + " (its folder " + folder.string() + ")", ec.value());
  const fs::path copy = folder / (std::string(digest.sha256) + ".bin");
  errno = 0;
  if (!KeepCopy(imagePath, copy)) {
    return Refuse(why, cannot + " (the image's copy " + copy.string() + ")", errno);
  }
  char crc[9];
  Crc32Hex(digest.crc32, crc);
  StateFields now = {{"image", fs::path(imagePath).filename().string()},
                     {"size", std::to_string(digest.size)},
                     {"crc32", crc},
                     {"sha256", digest.sha256},
                     {"time", UtcNow()},
                     {"loader_version", completed.loaderVersion},
                     {"image_copy", copy.string()},
                     {"log_complete", completed.logComplete ? "true" : "false"}};
  if (identity.bootLoader[0] != '\0') now["boot_loader"] = identity.bootLoader;
  if (identity.sfld[0] != '\0') now["sfld"] = identity.sfld;
  if (identity.flashTypeKnown) now["flash_type"] = std::to_string(identity.flashType);
  const std::string part = std::string(statePath) + ".part";
  errno = 0;
  if (!WriteSynced(part, StateText(now, before)) ||
      !platform::RenameReplacing(part.c_str(), statePath)) {
    const int error = errno;
    fs::remove(part, ec);
    return Refuse(why, cannot, error);
  }
  SyncFolder(fs::path(statePath).parent_path());
  DropOldCopies(folder, now, before);
  return true;
}

}  // namespace gpsfw
