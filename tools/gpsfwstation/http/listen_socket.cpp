#include "tools/gpsfwstation/http/listen_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gpsfw::station {
namespace {

// Connections wait here only while the server's one accepting thread takes the ones before.
constexpr int kBacklog = 128;

int PortOf(const sockaddr_storage& bound) {
  if (bound.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(bound).sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
}

}  // namespace

int ListenOn(const HttpAddress& address, int& port, std::string& error) {
  const std::string where = address.host + ":" + std::to_string(address.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const int resolved =
      getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
  if (resolved != 0) {
    error = "cannot listen on " + where + ": " + gai_strerror(resolved);
    return -1;
  }
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int yes = 1;
  bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, kBacklog) == 0;
  const int cause = errno;
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  ok = ok && getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0;
  if (!ok) {
    error = "cannot listen on " + where + ": " + std::strerror(cause);
    if (fd >= 0) close(fd);
    return -1;
  }
  port = PortOf(bound);
  return fd;
}

}  // namespace gpsfw::station
