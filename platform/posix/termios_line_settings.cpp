#include "platform/posix/termios_line_settings.h"

#include <sys/ioctl.h>

#include <cstddef>

#include "platform/line_speeds.h"

namespace gpsfw::platform {
namespace {

// termios speed constants, in the order of kLineSpeeds.
constexpr speed_t kTermiosSpeeds[] = {B1200,  B2400,  B4800,   B9600,  B19200,
                                      B38400, B57600, B115200, B230400};
static_assert(sizeof kTermiosSpeeds / sizeof kTermiosSpeeds[0] ==
              sizeof kLineSpeeds / sizeof kLineSpeeds[0]);

}  // namespace

bool SpeedForBaud(uint32_t baud, speed_t* speed) {
  for (size_t i = 0; i < sizeof kLineSpeeds / sizeof kLineSpeeds[0]; ++i) {
    if (kLineSpeeds[i] == baud) {
      *speed = kTermiosSpeeds[i];
      return true;
    }
  }
  return false;
}

uint32_t BaudForSpeed(speed_t speed) {
  for (size_t i = 0; i < sizeof kLineSpeeds / sizeof kLineSpeeds[0]; ++i) {
    if (kTermiosSpeeds[i] == speed) return kLineSpeeds[i];
  }
  return 0;
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
  // With O_NONBLOCK, VMIN 1 makes an empty read fail with EAGAIN, so that a read of 0
  // bytes means a hang-up only.
  settings->c_cc[VMIN] = 1;
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
