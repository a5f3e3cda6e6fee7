#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "platform/file_replace.h"

namespace gpsfw::platform {
namespace {

// Longest path taken, in wide characters with the terminator.
constexpr int kWidePathCapacity = 4096;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FileRenameInfoEx of FILE_INFO_BY_HANDLE_CLASS, which MinGW-w64's headers leave out behind
// a version test that never holds.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// False, with errno set, when `path` is longer than the capacity or is no text of the ANSI
// code page.
bool WidePath(const char* path, wchar_t* out) {
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, out, kWidePathCapacity) > 0) {
    return true;
  }
  errno = ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
  return false;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    default:
      return EIO;
  }
}

// The last component of `path`, or nullptr when `from` lies in another folder.
const wchar_t* NameInSameFolder(const wchar_t* from, const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  const size_t folder = static_cast<size_t>(name - path);
  if (std::wcsncmp(from, path, folder) != 0) return nullptr;
  for (const wchar_t* p = from + folder; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') return nullptr;
  }
  return *name == L'\0' ? nullptr : name;
}

// A rename with POSIX semantics (Windows 10 1607 and later, on NTFS): the target is replaced
// even while it is open, shared for deletion, in another process; its readers keep their
// handles. The classic rename below refuses a target that anyone holds open, which on a
// temporary folder shared by several loaders would fail an update for as long as another
// one reads its SFLD. A simple name renames within the file's own folder.
bool RenameWithPosixSemantics(const wchar_t* from, const wchar_t* toName) {
  const size_t nameBytes = std::wcslen(toName) * sizeof(wchar_t);
  alignas(FILE_RENAME_INFO) unsigned char
      buffer[sizeof(FILE_RENAME_INFO) + kWidePathCapacity * sizeof(wchar_t)];
  FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
  std::memset(buffer, 0, sizeof(FILE_RENAME_INFO));
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(info->FileName, toName, nameBytes + sizeof(wchar_t));
  const HANDLE file = ::CreateFileW(from, DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL done = ::SetFileInformationByHandle(
      file, kFileRenameInfoEx, info, static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + nameBytes));
  ::CloseHandle(file);
  return done != 0;
}

// Without POSIX semantics a file that anyone holds open cannot be replaced, but it can be
// renamed when it was opened shared for deletion, as every loader opens it: it is moved
// aside, the new file takes its name, and the old one goes once its last reader closes it.
// For that moment the name is missing; no half-written file is ever seen under it.
bool RenameMovingAside(const wchar_t* from, const wchar_t* to) {
  const DWORD attributes = ::GetFileAttributesW(to);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  wchar_t aside[kWidePathCapacity];
  if (std::swprintf(aside, kWidePathCapacity, L"%ls.replaced", from) < 0) return false;
  if (::MoveFileExW(to, aside, 0) == 0) return false;
  if (::MoveFileExW(from, to, 0) == 0) {
    const DWORD error = ::GetLastError();
    ::MoveFileExW(aside, to, 0);
    ::SetLastError(error);
    return false;
  }
  ::DeleteFileW(aside);
  return true;
}

}  // namespace

int OpenReadingReplaceable(const char* path) {
  wchar_t wide[kWidePathCapacity];
  if (!WidePath(path, wide)) return -1;
  // Not inheritable (no security attributes). A link to a file is a privilege of
  // administrators, and the files opened so live in the user's own temporary folder.
  const HANDLE file = ::CreateFileW(wide, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(::GetLastError());
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    errno = EMFILE;
  }
  return fd;
}

// Wine (8.0) has no POSIX rename semantics and refuses, as older Windows does, to replace a
// file that is open: there a target held by a reader is always moved aside first.
bool RenameReplacing(const char* from, const char* to) {
  wchar_t wideFrom[kWidePathCapacity];
  wchar_t wideTo[kWidePathCapacity];
  if (!WidePath(from, wideFrom) || !WidePath(to, wideTo)) return false;
  const wchar_t* toName = NameInSameFolder(wideFrom, wideTo);
  if (toName != nullptr && RenameWithPosixSemantics(wideFrom, toName)) return true;
  // Older systems and other file systems know the classic rename only.
  if (::MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING) != 0) return true;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED && RenameMovingAside(wideFrom, wideTo)) return true;
  errno = ErrnoOf(error);
  return false;
}

}  // namespace gpsfw::platform
