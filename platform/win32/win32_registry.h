#pragma once

#include <windows.h>

namespace gpsfw::platform {

// One registry key opened for reading, closed when it goes out of scope. Text comes in the
// ANSI code page, always terminated; a value too long for its buffer is refused.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool Open(HKEY parent, const char* path);
  HKEY Get() const { return key_; }

  // The name of the subkey at `index`; false past the last.
  bool SubkeyName(DWORD index, char* out, DWORD capacity) const;
  // The name and the text of the value at `index`; false past the last. A value that is
  // not text comes back with empty text.
  bool TextValueAt(DWORD index, char* name, DWORD nameCapacity, char* text,
                   DWORD textCapacity) const;
  bool ReadText(const char* name, char* out, DWORD capacity) const;
  bool ReadDword(const char* name, DWORD* value) const;

 private:
  HKEY key_ = nullptr;
};

}  // namespace gpsfw::platform
