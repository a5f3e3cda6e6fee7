#pragma once

#include <termios.h>

#include <cstdint>

namespace gpsfw::platform {

// The termios speed constant for `baud`; false for a rate that is no standard line speed.
bool SpeedForBaud(uint32_t baud, speed_t* speed);
// The rate of a termios speed constant; 0 for one that is no standard line speed.
uint32_t BaudForSpeed(speed_t speed);

// Raw 8N1 without flow control: every byte passes unchanged in both directions, a read
// returns at once with whatever is there (the driver waits with poll()), and the modem
// lines do not gate the port.
void MakeRaw8N1(termios* settings);

// Drops DTR and RTS: the receiver's line expects neither handshake signal.
void LowerModemControlLines(int fd);

}  // namespace gpsfw::platform
