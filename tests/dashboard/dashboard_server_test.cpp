// The dashboard's web server in this process: who gets in (the token), what is served (and
// nothing else), the client limit, and the event stream's life.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/dashboard/dashboard_fixture.h"
#include "tests/dashboard/http_probe.h"

namespace gpsfw::station {
namespace {

using test::Dashboard;
using test::HttpReply;

// A raw connection that sends one request and reads what comes, for streams held open.
class Connection {
 public:
  Connection(int port, const std::string& request, int receiveBuffer = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval bound{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      (void)!write(fd_, request.data(), request.size());
    }
  }
  ~Connection() { close(fd_); }
  // Reads until `what` has come (or 5 s of silence); returns all read.
  std::string ReadUntil(const std::string& what) {
    char buffer[4096];
    while (got_.find(what) == std::string::npos) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      got_.append(buffer, static_cast<size_t>(n));
    }
    return got_;
  }

 private:
  int fd_;
  std::string got_;
};

const char kStreamRequest[] = "GET /events HTTP/1.1\r\nHost: x\r\n\r\n";

TEST(DashboardServer, ATokenIsCheckedOnEveryRequest) {
  Dashboard dashboard("s3cret &x");
  struct Case {
    std::string path;
    std::string authorization;
    int status;
  } cases[] = {
      {"/", "", 401},
      {"/?token=wrong", "", 401},
      {"/api/state?token=s3cret", "", 401},  // a prefix of the token is no token
      {"/api/state?token=s3cret%20%26x", "", 200},
      {"/api/history", "Bearer s3cret &x", 200},
      {"/api/history", "Bearer s3cret &y", 401},
      // The scheme's name whatever its case (RFC 9110), the token's exactly.
      {"/api/history", "bearer s3cret &x", 200},
      {"/api/history", "BEARER  s3cret &x", 200},
      {"/api/history", "Bearer S3CRET &X", 401},
      {"/api/history", "Basic s3cret &x", 401},
      {"/api/history", "Bearers3cret &x", 401},
      {"/app.js?token=s3cret%20%26x", "", 200},
      {"/nothing-here?token=s3cret%20%26x", "", 404},
      {"/api/state/../../etc/passwd?token=s3cret%20%26x", "", 404},
  };
  for (const Case& c : cases) {
    const std::string fields =
        c.authorization.empty() ? "" : "Authorization: " + c.authorization + "\r\n";
    EXPECT_EQ(dashboard.Get(c.path, fields).status, c.status) << c.path << " " << c.authorization;
  }
  // The page asks for its own files with the token it was opened with.
  const HttpReply page = dashboard.Get("/?token=s3cret%20%26x");
  EXPECT_NE(page.body.find("app.js?token=s3cret%20%26x"), std::string::npos);
  EXPECT_EQ(page.body.find("__TOKEN_QUERY__"), std::string::npos);
  EXPECT_NE(page.Field("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
  EXPECT_EQ(page.Field("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(dashboard.Get("/").Field("WWW-Authenticate"), "Bearer");
}

TEST(DashboardServer, ServesTheLatestStateAndHistory) {
  Dashboard dashboard;
  dashboard.hub.SetState(R"({"units":[{"port":"<b>x</b>"}]})");
  const HttpReply state = dashboard.Get("/api/state");
  EXPECT_EQ(state.body, R"({"units":[{"port":"<b>x</b>"}]})");
  EXPECT_EQ(state.Field("Content-Type"), "application/json");
  EXPECT_EQ(state.Field("Cache-Control"), "no-store");
  const HttpReply history = dashboard.Get("/api/history");
  EXPECT_EQ(history.body, R"({"source":"this run","rows":[],"per_port":[]})");
  // Nothing on the page changes anything.
  const HttpReply post = test::Exchange(
      dashboard.server->Port(),
      "POST /api/state HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx");
  EXPECT_EQ(post.status, 404);
}

TEST(DashboardServer, StreamsEachNewStateAndEndsWhenStopped) {
  Dashboard dashboard;
  Connection stream(dashboard.server->Port(), kStreamRequest);
  EXPECT_NE(stream.ReadUntil(R"(data: {"units":[]})").find("text/event-stream"), std::string::npos);
  dashboard.hub.SetState(R"({"units":[1]})");
  dashboard.hub.SetHistory(R"({"rows":[2]})");
  const std::string got = stream.ReadUntil(R"(event: history)"
                                           "\n"
                                           R"(data: {"rows":[2]})");
  EXPECT_NE(got.find("event: state\ndata: {\"units\":[1]}\n\n"), std::string::npos) << got;
  // The station's final state, handed over just before it stops, still reaches the browser.
  dashboard.hub.SetState(R"({"units":["last"]})");
  const auto before = std::chrono::steady_clock::now();
  dashboard.server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_NE(stream.ReadUntil("(the end of the stream)").find(R"(data: {"units":["last"]})"),
            std::string::npos);
  // Nothing listens any more: a station started again can take the port.
  EXPECT_LT(test::ConnectLoopback(dashboard.server->Port()), 0);
}

TEST(DashboardServer, AtMostSixtyFourClientsAndTheNextGets503) {
  Dashboard dashboard;
  std::vector<std::unique_ptr<Connection>> streams;
  for (int i = 0; i < 64; ++i) {
    streams.push_back(std::make_unique<Connection>(dashboard.server->Port(), kStreamRequest));
    ASSERT_NE(streams.back()->ReadUntil("event: state").find("200 OK"), std::string::npos) << i;
  }
  Connection refused(dashboard.server->Port(), "GET /api/state HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_NE(refused.ReadUntil("\r\n\r\n").find("HTTP/1.1 503"), std::string::npos);
  streams.pop_back();  // a browser closed: the next one is served
  bool served = false;
  for (int i = 0; i < 100 && !served; ++i) {
    dashboard.hub.SetState(R"({"units":[]})");  // the closed stream learns it as it writes
    served = dashboard.Get("/api/state").status == 200;
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(served);
}

TEST(DashboardServer, AStreamWhoseBrowserTakesNothingIsDropped) {
  Dashboard dashboard("", 1);
  Connection stalled(dashboard.server->Port(), kStreamRequest, 4096);  // and never read
  const HttpReply busy = dashboard.Get("/api/state");
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.Field("Retry-After"), "5");
  // States larger than what the sockets buffer, until the server gives up on the stream.
  const std::string big = "{\"pad\":\"" + std::string(256 * 1024, 'x') + "\"}";
  const auto start = std::chrono::steady_clock::now();
  bool served = false;
  while (!served && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
    dashboard.hub.SetState(big);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    served = dashboard.Get("/api/history").status == 200;
  }
  EXPECT_TRUE(served) << "the stalled stream still holds its place";
  // The write bound (3 s) after the buffers filled, not a stream held for ever.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace gpsfw::station
