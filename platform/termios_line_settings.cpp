#include "platform/termios_line_settings.h"

#include <sys/ioctl.h>

namespace gpsfw::platform {
namespace {

struct BaudSpeed {
  uint32_t baud;
  speed_t speed;
};

constexpr BaudSpeed kSpeeds[] = {
    {4800, B4800},   {9600, B9600},   {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200},
};

}  // namespace

bool SpeedForBaud(uint32_t baud, speed_t* speed) {
  for (const BaudSpeed& entry : kSpeeds) {
    if (entry.baud == baud) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

void MakeRaw8N1(termios* settings) {
  // No break, parity or error marking, no CR/LF translation, no XON/XOFF in either direction.
  settings->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | INPCK);
  settings->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
  settings->c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  settings->c_cflag |= CS8 | CLOCAL | CREAD;
  settings->c_cc[VMIN] = 0;
  settings->c_cc[VTIME] = 0;
}

void LowerModemControlLines(int fd) {
#ifdef TIOCMBIC
  // A pty and some adapters have no modem lines; there is nothing to lower then.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIC, &lines);
#else
  (void)fd;
#endif
}

}  // namespace gpsfw::platform
