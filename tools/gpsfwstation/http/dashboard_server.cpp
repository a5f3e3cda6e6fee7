#include "tools/gpsfwstation/http/dashboard_server.h"

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

#include "tools/gpsfwstation/http/page_assets.h"

namespace gpsfw::station {
namespace {

using httplib::Request;
using httplib::Response;

// Bounds on what one client may cost. A request of this page is a GET of a few hundred
// bytes; the library itself bounds a header line and the URI.
constexpr size_t kMaxBody = 1024;
constexpr time_t kReadSeconds = 5;
constexpr time_t kWriteSeconds = 3;  // a client that takes no bytes for this long is dropped
constexpr time_t kKeepAliveSeconds = 2;
constexpr auto kKeepAliveEvery = std::chrono::seconds(10);
constexpr size_t kTurnAwayThreads = 2;
constexpr auto kStreamsEndBound = std::chrono::seconds(1);
constexpr char kNoHistory[] = R"({"source":"this run","rows":[],"perPort":[]})";

// Set on the threads that answer the connections beyond the limit.
thread_local bool tOverLimit = false;

// Each connection is served on a thread of its own (the event streams hold theirs) while
// fewer than the limit are open. The ones beyond it go to a small pool that answers 503 at
// once, so that a crowd cannot queue behind the streams, nor grow the station's threads.
class ClientLimit : public httplib::TaskQueue {
 public:
  explicit ClientLimit(size_t limit)
      : limit_(limit), served_(limit), turnedAway_(kTurnAwayThreads) {}

  void enqueue(std::function<void()> connection) override {
    if (open_.fetch_add(1) < limit_) {
      served_.enqueue([this, connection = std::move(connection)] {
        connection();
        open_.fetch_sub(1);
      });
      return;
    }
    open_.fetch_sub(1);
    turnedAway_.enqueue([connection = std::move(connection)] {
      tOverLimit = true;
      connection();
      tOverLimit = false;
    });
  }

  void shutdown() override {
    served_.shutdown();
    turnedAway_.shutdown();
  }

 private:
  size_t limit_;
  std::atomic<size_t> open_{0};
  httplib::ThreadPool served_;
  httplib::ThreadPool turnedAway_;
};

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(const std::string& given, const std::string& token) {
  unsigned char diff = given.size() == token.size() ? 0 : 1;
  for (size_t i = 0; i < token.size(); ++i) {
    diff |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
  }
  return diff == 0;
}

bool CarriesToken(const Request& req, const std::string& token) {
  const std::string auth = req.get_header_value("Authorization");
  if (auth.rfind("Bearer ", 0) == 0) return SameSecret(auth.substr(7), token);
  return req.has_param("token") && SameSecret(req.get_param_value("token"), token);
}

std::string UrlEncoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string PageWithToken(const std::string& token) {
  std::string page = kDashboardIndexHtml;
  const std::string query = token.empty() ? "" : "?token=" + UrlEncoded(token);
  const std::string mark = "__TOKEN_QUERY__";
  for (size_t at; (at = page.find(mark)) != std::string::npos;)
    page.replace(at, mark.size(), query);
  return page;
}

class HttplibDashboard : public DashboardServer {
 public:
  HttplibDashboard(const DashboardSettings& settings, DashboardHub& hub)
      : settings_(settings), hub_(hub), page_(PageWithToken(settings.token)) {
    const size_t limit = settings.maxClients;
    server_.new_task_queue = [limit] { return new ClientLimit(limit); };
    server_.set_payload_max_length(kMaxBody);
    server_.set_read_timeout(kReadSeconds, 0);
    server_.set_write_timeout(kWriteSeconds, 0);
    server_.set_keep_alive_timeout(kKeepAliveSeconds);
    server_.set_pre_routing_handler(
        [this](const Request& req, Response& res) { return Admit(req, res); });
    server_.set_post_routing_handler([](const Request&, Response& res) { Harden(res); });
    Routes();
  }

  bool Start(std::string& error) {
    port_ = settings_.address.port == 0
                ? server_.bind_to_any_port(settings_.address.host)
                : (server_.bind_to_port(settings_.address.host, settings_.address.port)
                       ? settings_.address.port
                       : -1);
    if (port_ < 0) {
      error = "cannot listen on " + settings_.address.host + ":" +
              std::to_string(settings_.address.port) + ": " + std::strerror(errno);
      return false;
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    return true;
  }

  ~HttplibDashboard() override { Stop(); }

  int Port() const override { return port_; }

  // The streams end first, each with the station's final state: once the server is told to
  // stop, the library calls no stream's provider again.
  void Stop() override {
    if (!thread_.joinable()) return;
    hub_.Close();
    const auto deadline = std::chrono::steady_clock::now() + kStreamsEndBound;
    while (streams_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server_.stop();
    thread_.join();
  }

 private:
  httplib::Server::HandlerResponse Admit(const Request& req, Response& res) {
    if (tOverLimit) {
      res.status = 503;
      res.set_header("Connection", "close");
      res.set_header("Retry-After", "5");
      res.set_content(
          "busy: at most " + std::to_string(settings_.maxClients) + " clients at once\n",
          "text/plain; charset=utf-8");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!settings_.token.empty() && !CarriesToken(req, settings_.token)) {
      res.status = 401;
      res.set_header("WWW-Authenticate", "Bearer");
      res.set_content("this page needs its token (?token=... or Authorization: Bearer ...)\n",
                      "text/plain; charset=utf-8");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  // The page takes nothing from elsewhere and runs no script but its own; a token in its
  // address never leaves in a Referer.
  static void Harden(Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
                   "base-uri 'none'; form-action 'none'");
  }

  void Routes() {
    server_.Get("/", [this](const Request&, Response& res) {
      res.set_content(page_, "text/html; charset=utf-8");
    });
    server_.Get("/app.js", [](const Request&, Response& res) {
      res.set_content(kDashboardAppJs, "text/javascript; charset=utf-8");
    });
    server_.Get("/app.css", [](const Request&, Response& res) {
      res.set_content(kDashboardAppCss, "text/css; charset=utf-8");
    });
    server_.Get("/api/state", [this](const Request&, Response& res) {
      const DashboardHub::Snapshot now = hub_.Current();
      res.set_content(now.state ? *now.state : "{}", "application/json");
    });
    server_.Get("/api/history", [this](const Request&, Response& res) {
      const DashboardHub::Snapshot now = hub_.Current();
      res.set_content(now.history ? *now.history : kNoHistory, "application/json");
    });
    server_.Get("/events", [this](const Request&, Response& res) { Stream(res); });
  }

  // Server-Sent Events: the latest state and history as they change. A stream that falls
  // behind skips to the newest state, and one whose client takes nothing is dropped by the
  // write bound.
  void Stream(Response& res) {
    ++streams_;
    auto seen = std::make_shared<DashboardHub::Snapshot>();
    auto first = std::make_shared<bool>(true);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen, first](size_t, httplib::DataSink& sink) {
          std::string out;
          DashboardHub::Snapshot now;
          bool closed = false;
          if (*first) {
            *first = false;
            out = "retry: 2000\n\n";
            now = hub_.Current();
          } else {
            now = hub_.WaitNewer(*seen, kKeepAliveEvery, closed);
          }
          if (now.state && now.stateVersion != seen->stateVersion) {
            out += "event: state\ndata: " + *now.state + "\n\n";
          }
          if (now.history && now.historyVersion != seen->historyVersion) {
            out += "event: history\ndata: " + *now.history + "\n\n";
          }
          // The station's last word (its final state) still goes out as the stream ends.
          if (out.empty() && !closed) out = ": keepalive\n\n";
          *seen = now;
          if (!out.empty() && !sink.write(out.data(), out.size())) return false;
          // A stream the station ends is ended properly (its last chunk), so that a browser
          // takes the final state as data and not as part of a broken response.
          if (closed) sink.done();
          return true;
        },
        [this](bool) { --streams_; });
  }

  DashboardSettings settings_;
  DashboardHub& hub_;
  std::string page_;
  httplib::Server server_;
  std::thread thread_;
  std::atomic<int> streams_{0};  // event streams open
  int port_ = -1;
};

}  // namespace

std::unique_ptr<DashboardServer> StartDashboardServer(const DashboardSettings& settings,
                                                      DashboardHub& hub, std::string& error) {
  auto server = std::make_unique<HttplibDashboard>(settings, hub);
  if (!server->Start(error)) return nullptr;
  return server;
}

}  // namespace gpsfw::station
