#pragma once

#include <cstdint>

namespace gpsfw {

// Bytes of the boot loader's and SFLD's serial protocol.
inline constexpr uint8_t SYNC_CODE = 0x55;
inline constexpr uint8_t REC_WAIT_CODE = 0x77;
inline constexpr uint8_t REC_POLL_CODE = 0x44;  // 'D'
inline constexpr uint8_t PFLD_VER_CODE = 0x45;  // 'E'
inline constexpr uint8_t BOOT_MODE_CODE = 0x07;
inline constexpr uint8_t ERASE_CODE = 0x6A;
inline constexpr uint8_t VER_QUERY_CODE = 0x90;
inline constexpr uint8_t TYPE_QUERY_CODE = 0x91;
inline constexpr uint8_t SECTOR_ERASED_CODE = 0x8F;
inline constexpr uint8_t ERASE_FAIL_CODE = 0x84;

// Record verdicts of the target besides SYNC_CODE.
inline constexpr uint8_t BAD_CSUM = 0x81;
inline constexpr uint8_t BAD_LENGTH = 0x82;
inline constexpr uint8_t BAD_COMMAND = 0x83;
inline constexpr uint8_t RECORD_TIMEOUT = 0x85;
inline constexpr uint8_t NO_REC_END = 0x88;

// Sent at 4800 and at 57600 baud to drop the receiver into its boot loader. Holds zero bytes,
// so it always travels with its explicit length.
inline constexpr uint8_t WAKE_SEQUENCE[7] = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};

inline constexpr uint8_t FRAME_START = 0x5B;  // '['
inline constexpr uint8_t FRAME_END = 0x5D;    // ']'

inline constexpr uint32_t PFLD_BASE = 0x10000000;
inline constexpr uint32_t FW_BASE = 0x10004000;

}  // namespace gpsfw
