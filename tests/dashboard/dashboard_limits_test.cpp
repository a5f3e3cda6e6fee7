// What a client may cost the station before it is refused: a request beyond the header and
// target limits (refused as it is read, before its token), a flood of huge headers (memory
// stays bounded), a crowd beyond the client bound (refused promptly, the next client served).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/dashboard/dashboard_fixture.h"
#include "tests/dashboard/http_probe.h"

namespace gpsfw::test {
namespace {

using Seconds = std::chrono::duration<double>;

// This process's resident memory in KiB (the server runs in it).
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::string Field(const std::string& name, size_t bytes) {
  return name + ": " + std::string(bytes, 'a') + "\r\n";
}

TEST(DashboardLimits, ARequestBeyondTheLimitsIsRefusedBeforeItsToken) {
  Dashboard dashboard("a-token-of-16-chars");
  const std::string token = "?token=a-token-of-16-chars";
  struct Case {
    std::string target;
    std::string fields;
    int status;
  } cases[] = {
      {"/api/state" + token, Field("X-Pad", 7 * 1024), 200},
      {"/api/state", Field("X-Pad", 7 * 1024), 401},
      {"/" + std::string(7 * 1024, 'p') + token, "", 404},
      // Beyond the limits, with a token or without: the size is refused first.
      {"/api/state" + token, Field("X-Pad", 9 * 1024), 431},
      {"/api/state", Field("X-Pad", 9 * 1024), 431},
      {"/api/state" + token, Field("X-A", 5 * 1024) + Field("X-B", 5 * 1024), 431},
      {"/" + std::string(9 * 1024, 'p') + token, "", 414},
      {"/" + std::string(9 * 1024, 'p'), "", 414},
      // Beyond what one connection may hold: refused by the library as it reads.
      {"/api/state" + token, Field("X-Pad", 200 * 1024), 431},
      {"/" + std::string(200 * 1024, 'p'), "", 414},
  };
  for (const Case& c : cases) {
    const HttpReply reply = HttpGet(dashboard.server->Port(), c.target, c.fields);
    EXPECT_EQ(reply.status, c.status) << c.target.size() << " + " << c.fields.size();
  }
}

// Sends a header without end (up to `total` bytes) until the server stops taking it.
struct Flood {
  size_t sent = 0;
  int status = 0;
  double seconds = 0;
};

Flood SendHugeHeader(int port, size_t total) {
  Flood flood;
  const auto start = std::chrono::steady_clock::now();
  const int fd = ConnectLoopback(port);
  if (fd < 0) return flood;
  timeval bound{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  const std::string head = "GET /api/state HTTP/1.1\r\nHost: x\r\nX-Flood: ";
  (void)!send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  const std::string chunk(64 * 1024, 'f');
  while (flood.sent < total) {
    const ssize_t n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    flood.sent += static_cast<size_t>(n);
  }
  flood.status = ParseReply(ReadAll(fd, 5)).status;
  close(fd);
  flood.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  return flood;
}

TEST(DashboardLimits, AFloodOfHugeHeadersCostsBoundedMemory) {
  Dashboard dashboard("a-token-of-16-chars");
  constexpr size_t kEach = 256u << 20;  // far more than any bound would let through
  const long before = ResidentKiB();
  std::atomic<long> peak{before};
  std::atomic<bool> done{false};
  std::thread watch([&] {
    while (!done) {
      peak = std::max(peak.load(), ResidentKiB());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<Flood> floods(6);
  std::vector<std::thread> senders;
  for (Flood& flood : floods) {
    senders.emplace_back([&] { flood = SendHugeHeader(dashboard.server->Port(), kEach); });
  }
  for (std::thread& sender : senders) sender.join();
  done = true;
  watch.join();
  for (const Flood& flood : floods) {
    // Answered 431 or cut off, long before the header's end.
    EXPECT_TRUE(flood.status == 431 || flood.status == 0) << flood.status;
    EXPECT_LT(flood.sent, kEach / 4);
    EXPECT_LT(flood.seconds, 10.0);
  }
  // A few connections' bounded buffers; the generous bound allows for the test's own threads.
  EXPECT_LT(peak - before, 24 * 1024) << "KiB resident, before: " << before;
  EXPECT_EQ(dashboard.Get("/api/state?token=a-token-of-16-chars").status, 200);
}

TEST(DashboardLimits, ACrowdBeyondTheBoundIsRefusedPromptlyAndTheNextServed) {
  constexpr size_t kBound = 4;
  Dashboard dashboard("", kBound);
  const int port = dashboard.server->Port();
  std::vector<int> streams;
  for (size_t i = 0; i < kBound; ++i) {
    streams.push_back(ConnectLoopback(port));
    const std::string request = "GET /events HTTP/1.1\r\nHost: x\r\n\r\n";
    (void)!send(streams.back(), request.data(), request.size(), MSG_NOSIGNAL);
    ASSERT_NE(ReadUntil(streams.back(), "event: state", 10).find("200 OK"), std::string::npos);
  }
  // Connections that never say anything hold places beside the crowd.
  std::vector<int> silent;
  for (int i = 0; i < 8; ++i) silent.push_back(ConnectLoopback(port));
  std::vector<double> waited(24);
  std::vector<int> statuses(waited.size());
  std::vector<std::thread> crowd;
  for (size_t i = 0; i < waited.size(); ++i) {
    crowd.emplace_back([&, i] {
      const auto start = std::chrono::steady_clock::now();
      statuses[i] = HttpGet(port, "/api/state").status;
      waited[i] = Seconds(std::chrono::steady_clock::now() - start).count();
    });
  }
  for (std::thread& t : crowd) t.join();
  for (size_t i = 0; i < waited.size(); ++i) {
    EXPECT_EQ(statuses[i], 503) << i;
    EXPECT_LT(waited[i], 3.0) << i;  // each at once, not one after another
  }
  // A browser goes: the next one is served, the silent ones notwithstanding.
  close(streams.back());
  streams.pop_back();
  const auto start = std::chrono::steady_clock::now();
  bool served = false;
  while (!served && Seconds(std::chrono::steady_clock::now() - start).count() < 10) {
    served = dashboard.Get("/api/state").status == 200;
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(served);
  for (int fd : streams) close(fd);
  for (int fd : silent) close(fd);
}

TEST(DashboardLimits, ARequestTrickledInIsCutAtItsBound) {
  // A byte every 0.3 s never trips the idle bound (3 s): only the whole request's bound ends it.
  Dashboard dashboard("", 64, std::chrono::seconds(1));
  const int fd = ConnectLoopback(dashboard.server->Port());
  ASSERT_GE(fd, 0);
  const std::string head = "GET /api/state HTTP/1.1\r\nHost: x\r\nX-Slow: ";
  (void)!send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  const auto start = std::chrono::steady_clock::now();
  int sent = 0;
  while (Seconds(std::chrono::steady_clock::now() - start).count() < 15) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pollfd ended{fd, POLLIN, 0};
    if (poll(&ended, 1, 0) == 1 || send(fd, "a", 1, MSG_NOSIGNAL) != 1) break;
    ++sent;
  }
  const double lasted = Seconds(std::chrono::steady_clock::now() - start).count();
  close(fd);
  EXPECT_LT(lasted, 8.0) << sent << " bytes sent";
  // Requests that come whole in time are served as ever, on a connection kept alive.
  const int again = ConnectLoopback(dashboard.server->Port());
  const std::string request = "GET /api/state HTTP/1.1\r\nHost: x\r\n\r\n";
  (void)!send(again, request.data(), request.size(), MSG_NOSIGNAL);
  EXPECT_NE(ReadUntil(again, R"({"units":[]})", 5).find("HTTP/1.1 200"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  (void)!send(again, request.data(), request.size(), MSG_NOSIGNAL);
  EXPECT_NE(ReadUntil(again, R"({"units":[]})", 5).find("HTTP/1.1 200"), std::string::npos);
  close(again);
}

}  // namespace
}  // namespace gpsfw::test
