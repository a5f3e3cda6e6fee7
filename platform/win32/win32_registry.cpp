#include "platform/win32/win32_registry.h"

namespace gpsfw::platform {
namespace {

// Registry text need not end in a terminator: it is added, and must fit.
bool Terminate(char* text, DWORD size, DWORD capacity) {
  if (size > 0 && text[size - 1] == '\0') return true;
  if (size >= capacity) {
    text[0] = '\0';
    return false;
  }
  text[size] = '\0';
  return true;
}

}  // namespace

RegistryKey::~RegistryKey() {
  if (key_ != nullptr) ::RegCloseKey(key_);
}

bool RegistryKey::Open(HKEY parent, const char* path) {
  if (key_ != nullptr) ::RegCloseKey(key_);
  key_ = nullptr;
  return ::RegOpenKeyExA(parent, path, 0, KEY_READ, &key_) == ERROR_SUCCESS;
}

bool RegistryKey::SubkeyName(DWORD index, char* out, DWORD capacity) const {
  DWORD length = capacity;
  return ::RegEnumKeyExA(key_, index, out, &length, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool RegistryKey::TextValueAt(DWORD index, char* name, DWORD nameCapacity, char* text,
                              DWORD textCapacity) const {
  DWORD nameLength = nameCapacity;
  DWORD type = 0;
  DWORD size = textCapacity;
  const LONG result = ::RegEnumValueA(key_, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(text), &size);
  if (result == ERROR_NO_MORE_ITEMS) return false;
  if (result != ERROR_SUCCESS || type != REG_SZ || !Terminate(text, size, textCapacity)) {
    text[0] = '\0';
    // A value too long for its buffer leaves its name unknown too.
    if (result != ERROR_SUCCESS) name[0] = '\0';
  }
  return true;
}

bool RegistryKey::ReadText(const char* name, char* out, DWORD capacity) const {
  DWORD type = 0;
  DWORD size = capacity;
  if (::RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    out[0] = '\0';
    return false;
  }
  return Terminate(out, size, capacity);
}

bool RegistryKey::ReadDword(const char* name, DWORD* value) const {
  DWORD type = 0;
  DWORD size = sizeof *value;
  return ::RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD;
}

}  // namespace gpsfw::platform
