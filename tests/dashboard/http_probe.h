#pragma once

// A plain HTTP client for the dashboard's tests: one request per connection, read until the
// server closes it (the request asks it to) or a bound passes. Raw sockets, so that a test can
// also send what no library would: huge headers, requests that never end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <string>

namespace gpsfw::test {

struct HttpReply {
  int status = 0;  // 0: no status line came
  std::string head;
  std::string body;

  // A header field's value, its name matched whatever its case; "" when absent.
  std::string Field(const std::string& name) const {
    std::string lower = ToLower(head);
    const size_t at = lower.find("\r\n" + ToLower(name) + ":");
    if (at == std::string::npos) return "";
    size_t begin = at + name.size() + 3;
    while (begin < head.size() && head[begin] == ' ') ++begin;
    return head.substr(begin, head.find("\r\n", begin) - begin);
  }

  static std::string ToLower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
};

// A TCP connection to 127.0.0.1:port (-1 when refused).
inline int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads from `fd` until it is closed, reset or `seconds` passed.
inline std::string ReadAll(int fd, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::string got;
  char buffer[16384];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// Reads from `fd` until `what` has come, it is closed or `seconds` passed; all that was read.
inline std::string ReadUntil(int fd, const std::string& what, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::string got;
  char buffer[4096];
  while (got.find(what) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

inline HttpReply ParseReply(const std::string& got) {
  HttpReply reply;
  const size_t end = got.find("\r\n\r\n");
  reply.head = got.substr(0, end);
  if (end != std::string::npos) reply.body = got.substr(end + 4);
  if (got.rfind("HTTP/1.", 0) == 0 && got.size() > 12) reply.status = std::stoi(got.substr(9, 3));
  return reply;
}

// Sends `request` whole and reads the reply.
inline HttpReply Exchange(int port, const std::string& request, double seconds = 10) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return {};
  (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  HttpReply reply = ParseReply(ReadAll(fd, seconds));
  close(fd);
  return reply;
}

inline HttpReply HttpGet(int port, const std::string& target, const std::string& fields = "",
                         const std::string& method = "GET") {
  return Exchange(port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields +
                            "Connection: close\r\n\r\n");
}

}  // namespace gpsfw::test
