#include "tools/gpsfwstation/run/stop_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <stdexcept>

namespace gpsfw::station {
namespace {

constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP, SIGCHLD};
volatile sig_atomic_t gWriteFd = -1;

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // A full pipe drops the byte: many signals are waiting already.
  if (gWriteFd >= 0) (void)!write(gWriteFd, &byte, 1);
  errno = saved;
}

void SetAction(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | (signal == SIGCHLD ? SA_NOCLDSTOP : 0);
  sigaction(signal, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make a pipe");
  read_.Reset(fds[0]);
  write_.Reset(fds[1]);
  gWriteFd = fds[1];
  for (int signal : kCaught) SetAction(signal, OnSignal);
  SetAction(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
  for (int signal : kCaught) SetAction(signal, SIG_DFL);
  SetAction(SIGPIPE, SIG_DFL);
  gWriteFd = -1;
}

int StopSignals::Next() {
  unsigned char byte = 0;
  for (;;) {
    const ssize_t n = read(read_.Get(), &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
}

}  // namespace gpsfw::station
