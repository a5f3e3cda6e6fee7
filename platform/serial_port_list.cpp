#include "platform/serial_port_list.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace gpsfw::platform {
namespace {

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Compares the runs of digits at `*a` and `*b` by value and moves both past them.
int CompareNumbers(const char** a, const char** b) {
  while (**a == '0') ++*a;
  while (**b == '0') ++*b;
  const char* aEnd = *a;
  const char* bEnd = *b;
  while (IsDigit(*aEnd)) ++aEnd;
  while (IsDigit(*bEnd)) ++bEnd;
  int result = 0;
  if (aEnd - *a != bEnd - *b) {
    result = aEnd - *a < bEnd - *b ? -1 : 1;
  } else {
    result = std::strncmp(*a, *b, static_cast<size_t>(aEnd - *a));
  }
  *a = aEnd;
  *b = bEnd;
  return result;
}

}  // namespace

const char* UsbSerialOf(const char* portName) {
  const size_t length = sizeof kUsbSerialPrefix - 1;
  if (std::strncmp(portName, kUsbSerialPrefix, length) != 0) return nullptr;
  return portName + length;
}

UsbSerialMatch FindUsbSerial(const SerialPortList& list, const char* serial,
                             const SerialPortInfo** found, size_t* matches) {
  *found = nullptr;
  *matches = 0;
  for (size_t i = 0; i < list.count; ++i) {
    const SerialPortInfo& port = list.ports[i];
    // An empty serial number is no serial number: it must not match "usb-serial:".
    if (!port.usb || port.serial[0] == '\0' || std::strcmp(port.serial, serial) != 0) continue;
    if (*matches == 0) *found = &port;
    ++*matches;
  }
  if (*matches == 1) return UsbSerialMatch::kOne;
  *found = nullptr;
  return *matches == 0 ? UsbSerialMatch::kNone : UsbSerialMatch::kSeveral;
}

int ComparePortNames(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    if (IsDigit(*a) && IsDigit(*b)) {
      const int numbers = CompareNumbers(&a, &b);
      if (numbers != 0) return numbers;
      continue;
    }
    if (*a != *b) return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
    ++a;
    ++b;
  }
  return *a == *b ? 0 : (*a == '\0' ? -1 : 1);
}

void SortPorts(SerialPortList* list) {
  std::sort(list->ports, list->ports + list->count,
            [](const SerialPortInfo& a, const SerialPortInfo& b) {
              return ComparePortNames(a.device, b.device) < 0;
            });
}

}  // namespace gpsfw::platform
