#pragma once

#include <cstddef>
#include <cstdint>

namespace gpsfw {

using PortHandle = int;
inline constexpr PortHandle INVALID_PORT = -1;

// Purge actions, combinable.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;
inline constexpr uint32_t PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Device names longer than this are refused like a missing device.
inline constexpr size_t kMaxPortName = 99;

PortHandle OpenPort(const wchar_t* name, uint32_t baud);
void ClosePort(PortHandle& port);
bool SetBaud(PortHandle port, uint32_t baud);
uint32_t CheckLineErrors(PortHandle port);
bool ReadByte(PortHandle port, uint8_t& byte);
bool WaitForByte(PortHandle port, uint8_t expected);
void WriteByte(PortHandle port, uint8_t byte);
bool WriteBlock(PortHandle port, const uint8_t* bytes, size_t length);
// `buffer` holds at least size + 1 bytes: a zero byte is stored behind what was read.
size_t ReadBlock(PortHandle port, uint8_t* buffer, size_t size);
void PurgePort(PortHandle port, uint32_t set);
void FlushPort(PortHandle port);

}  // namespace gpsfw
