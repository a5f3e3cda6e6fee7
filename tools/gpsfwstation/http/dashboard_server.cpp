// The dashboard's web server on GNU libmicrohttpd. The library bounds what a client may cost
// before it reads: each connection's memory (its request is parsed inside it, and one too
// large is refused with 414 or 431 once the bound is reached), the connections in all, and
// how long one may stay silent. Each connection has a thread of its own: an event stream holds
// its thread while it waits for the hub, and the one accepting thread is never held up by a
// client, so that a crowd is refused as fast as it comes.
#include "tools/gpsfwstation/http/dashboard_server.h"

#include <microhttpd.h>
#include <poll.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cctype>
#include <cstring>
#include <thread>

#include "tools/gpsfwstation/http/event_stream.h"
#include "tools/gpsfwstation/http/http_token.h"
#include "tools/gpsfwstation/http/listen_socket.h"
#include "tools/gpsfwstation/http/metrics_text.h"
#include "tools/gpsfwstation/http/page_assets.h"
#include "tools/gpsfwstation/http/request_deadline.h"
#include "tools/gpsfwstation/http/request_gate.h"
#include "tools/gpsfwstation/http/serial_write.h"

namespace gpsfw::station {
namespace {

// A request of this page fits in a few hundred bytes; the bound leaves room for both limits
// of the gate (target and header, 8 KiB each) and refuses anything larger as it is read.
constexpr size_t kConnectionMemory = 32 * 1024;
// Connections beyond the client bound that are still answered 503 (each briefly); beyond
// these, a connection is closed as soon as it is accepted.
constexpr unsigned kTurnedAway = 64;
// A client that moves no byte for this long is dropped: a browser that takes nothing, a
// request that never ends, an idle kept-alive connection.
constexpr unsigned kIdleSeconds = 3;
// Under the idle bound, so that a quiet stream is never taken for a stalled one.
constexpr auto kStreamQuiet = std::chrono::milliseconds(1000);
constexpr size_t kStreamBlock = 16 * 1024;
constexpr size_t kThreadStack = 512 * 1024;
constexpr auto kStreamsEndBound = std::chrono::seconds(1);
constexpr char kNoHistory[] = R"({"source":"this run","rows":[],"per_port":[]})";
// A station without a record knows no other station (nor its own start in one).
constexpr char kNoStations[] = R"({"read":null,"stations":[]})";
constexpr char kDashboardPolicy[] =
    "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'none'";
// The web updater page runs its own script and compiles its own module, and talks to nothing
// but the port the browser opens for it.
constexpr char kWebPolicy[] =
    "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; "
    "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";
constexpr char kWebPrefix[] = "/web/";
constexpr char kWebCookie[] = "gpsfw_web_token";

// One connection's place: counted against the client bound or only answered 503.
struct ClientSlot {
  bool served = false;
  size_t targetBytes = 0;  // of the request being read
  bool admitted = false;   // the request being read passed the gate
  bool writing = false;    // a serial's write whose header passed: its body is read
  std::string body;        // within kMaxSerialBody
  int fd = -1;
};

std::string MachineName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// Whether the peer of `fd` closed its side (a browser's tab closed), without reading from it.
bool PeerClosed(int fd) {
  pollfd look{fd, POLLRDHUP, 0};
  return poll(&look, 1, 0) == 1 && (look.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

struct StreamContext {
  StreamContext(DashboardHub& hub, std::atomic<int>& open, int fd)
      : stream(hub, kStreamQuiet, [fd] { return fd >= 0 && PeerClosed(fd); }), open(open) {}
  EventStream stream;
  std::atomic<int>& open;
};

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

MHD_Result AddFieldSize(void* cls, MHD_ValueKind, const char* key, const char* value) {
  // "Key: value\r\n" as it came.
  *static_cast<size_t*>(cls) += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;
  return MHD_YES;
}

// The page takes nothing from elsewhere and runs no script but its own; a token in its
// address never leaves in a Referer.
void Harden(MHD_Response* response, const char* policy) {
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "Content-Security-Policy", policy);
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response,
                 const char* type, const char* policy = kDashboardPolicy) {
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", type);
  Harden(response, policy);
  const MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

// A text that lives as long as the server (the page, its files).
MHD_Result SendFixed(MHD_Connection* connection, unsigned status, const char* text, size_t size,
                     const char* type) {
  return Queue(
      connection, status,
      MHD_create_response_from_buffer(size, const_cast<char*>(text), MHD_RESPMEM_PERSISTENT), type);
}

// One of the hub's texts, held (not copied) until the response is sent.
MHD_Result SendShared(MHD_Connection* connection, std::shared_ptr<const std::string> text,
                      const char* type = "application/json") {
  auto* held = new std::shared_ptr<const std::string>(std::move(text));
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      (*held)->size(), const_cast<char*>((*held)->data()),
      [](void* cls) { delete static_cast<std::shared_ptr<const std::string>*>(cls); }, held);
  if (response == nullptr) delete held;
  return Queue(connection, MHD_HTTP_OK, response, type);
}

MHD_Result SendText(MHD_Connection* connection, unsigned status, const std::string& text) {
  MHD_Response* response = MHD_create_response_from_buffer(
      text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (response != nullptr && status == MHD_HTTP_UNAUTHORIZED) {
    MHD_add_response_header(response, "WWW-Authenticate", "Bearer");
  }
  if (response != nullptr && status == MHD_HTTP_SERVICE_UNAVAILABLE) {
    MHD_add_response_header(response, "Connection", "close");
    MHD_add_response_header(response, "Retry-After", "5");
  }
  return Queue(connection, status, response, "text/plain; charset=utf-8");
}

class MicrohttpdDashboard : public DashboardServer {
 public:
  MicrohttpdDashboard(const DashboardSettings& settings, DashboardHub& hub)
      : settings_(settings),
        hub_(hub),
        page_(PageWithToken(settings.token)),
        deadline_(settings.requestBound) {}

  ~MicrohttpdDashboard() override { Stop(); }

  bool Start(std::string& error) {
    const int fd = ListenOn(settings_.address, port_, error);
    if (fd < 0) return false;
    own_ = {settings_.address.host, port_, MachineName()};
    // With its inter-thread channel, a connection's thread wakes the accepting thread as it
    // ends, which then closes the socket at once: without it, a refused client would stay
    // connected (its data piling up in the kernel) until the next connection came.
    const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                           MHD_USE_POLL | MHD_USE_ITC;
    daemon_ = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &OnRequest, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_CONNECTION_LIMIT,
        static_cast<unsigned>(settings_.maxClients) + kTurnedAway, MHD_OPTION_CONNECTION_TIMEOUT,
        kIdleSeconds, MHD_OPTION_THREAD_STACK_SIZE, kThreadStack, MHD_OPTION_NOTIFY_CONNECTION,
        &OnConnection, this, MHD_OPTION_URI_LOG_CALLBACK, &OnTarget, this,
        MHD_OPTION_NOTIFY_COMPLETED, &OnAnswered, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
      close(fd);
      error = "cannot start the dashboard's web server on " + settings_.address.host + ":" +
              std::to_string(port_);
      return false;
    }
    return true;
  }

  int Port() const override { return port_; }

  // The streams end first, each with the station's final state: stopping the library cuts
  // every connection it still has.
  void Stop() override {
    if (daemon_ == nullptr) return;
    hub_.Close();
    const auto deadline = std::chrono::steady_clock::now() + kStreamsEndBound;
    while (streams_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }

 private:
  static void OnConnection(void* cls, MHD_Connection* connection, void** context,
                           MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<MicrohttpdDashboard*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* slot = new ClientSlot;
      if (self->served_.fetch_add(1) < self->settings_.maxClients) {
        slot->served = true;
      } else {
        self->served_.fetch_sub(1);
      }
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      slot->fd = info != nullptr ? info->connect_fd : -1;
      self->deadline_.Arm(slot, slot->fd);
      *context = slot;
      return;
    }
    auto* slot = static_cast<ClientSlot*>(*context);
    self->deadline_.Disarm(slot);
    if (slot != nullptr && slot->served) self->served_.fetch_sub(1);
    delete slot;
    *context = nullptr;
  }

  // An answer has gone: a kept-alive connection's next request is bounded again.
  static void OnAnswered(void* cls, MHD_Connection*, void** request, MHD_RequestTerminationCode) {
    auto* slot = static_cast<ClientSlot*>(*request);
    if (slot != nullptr) static_cast<MicrohttpdDashboard*>(cls)->deadline_.Arm(slot, slot->fd);
  }

  // Called as soon as the request line is read: the target's length as sent, for the gate.
  static void* OnTarget(void*, const char* target, MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    auto* slot = info != nullptr ? static_cast<ClientSlot*>(info->socket_context) : nullptr;
    if (slot != nullptr) slot->targetBytes = std::strlen(target);
    return slot;
  }

  // Called once the header is read, and again once the request is whole. A refusal goes out
  // at the first call (the library then closes the connection, which a refused client
  // should not keep); an answer at the second, which lets the connection be kept alive.
  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char* data, size_t* size,
                              void** request) {
    auto* self = static_cast<MicrohttpdDashboard*>(cls);
    auto* slot = static_cast<ClientSlot*>(*request);
    if (slot == nullptr) return self->Refuse(connection, MHD_HTTP_SERVICE_UNAVAILABLE);
    if (slot->writing) return self->ReadWrite(connection, url, data, size, *slot);
    if (slot->admitted) {
      slot->admitted = false;
      return self->Route(connection, url);
    }
    self->deadline_.Disarm(slot);
    RequestFacts facts;
    facts.targetBytes = slot->targetBytes;
    facts.beyondClientBound = !slot->served;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &AddFieldSize, &facts.headerBytes);
    facts.authorization =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    facts.queryToken = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
    // The page's own files ask for each other without the token in their addresses.
    if (std::strncmp(url, kWebPrefix, std::strlen(kWebPrefix)) == 0) {
      facts.pageCookie = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, kWebCookie);
    }
    const int refusal = RefusalStatus(facts, self->settings_.token);
    if (refusal != 0) return self->Refuse(connection, static_cast<unsigned>(refusal));
    const bool read = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                      std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    std::string id;
    if (std::strcmp(method, MHD_HTTP_METHOD_POST) == 0 && self->settings_.serials != nullptr &&
        SerialWriteTarget(url, id)) {
      return self->BeginWrite(connection, *slot);
    }
    // Nothing else on the page changes anything: no other body is read.
    if (!read) return self->Route(connection, "");
    slot->admitted = true;
    return MHD_YES;
  }

  MHD_Result BeginWrite(MHD_Connection* connection, ClientSlot& slot) {
    WriteFacts facts;
    auto field = [connection](const char* name) {
      return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    };
    facts.authorization = field(MHD_HTTP_HEADER_AUTHORIZATION);
    facts.requestHeader = field(kWriteHeader);
    facts.origin = field("Origin");
    facts.host = field(MHD_HTTP_HEADER_HOST);
    facts.contentLength = field(MHD_HTTP_HEADER_CONTENT_LENGTH);
    const WriteAnswer answer = CheckWriteHeader(facts, settings_.token, own_);
    if (answer.status != 0) return SendJson(connection, answer.status, answer.body);
    slot.writing = true;
    slot.body.clear();
    return MHD_YES;
  }

  // A body beyond the bound without a Content-Length (one with it was refused already) ends
  // its connection as it comes: nothing more of it is read.
  MHD_Result ReadWrite(MHD_Connection* connection, const char* url, const char* data, size_t* size,
                       ClientSlot& slot) {
    if (*size > 0) {
      if (slot.body.size() + *size > kMaxSerialBody) return MHD_NO;
      slot.body.append(data, *size);
      *size = 0;
      return MHD_YES;
    }
    slot.writing = false;
    std::string serial;
    const WriteAnswer answer = SerialOfBody(slot.body, serial);
    slot.body.clear();
    if (answer.status != 0) return SendJson(connection, answer.status, answer.body);
    std::string id;
    std::string port;
    SerialWriteTarget(url, id);
    if (!settings_.serials->Post(id, serial, port)) {
      return SendJson(connection, MHD_HTTP_NOT_FOUND, WriteError("no port goes by " + id));
    }
    const nlohmann::json done = {{"port", port}, {"serial", serial}};
    return SendJson(connection, MHD_HTTP_OK, done.dump());
  }

  static MHD_Result SendJson(MHD_Connection* connection, unsigned status, const std::string& text) {
    MHD_Response* response = MHD_create_response_from_buffer(
        text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (response != nullptr && status == MHD_HTTP_UNAUTHORIZED) {
      MHD_add_response_header(response, "WWW-Authenticate", "Bearer");
    }
    return Queue(connection, status, response, "application/json");
  }

  MHD_Result Refuse(MHD_Connection* connection, unsigned status) {
    switch (status) {
      case MHD_HTTP_URI_TOO_LONG:
        return SendText(connection, status, "the request's address is longer than 8 KiB\n");
      case MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE:
        return SendText(connection, status, "the request's header is larger than 8 KiB\n");
      case MHD_HTTP_SERVICE_UNAVAILABLE:
        return SendText(
            connection, status,
            "busy: at most " + std::to_string(settings_.maxClients) + " clients at once\n");
      default:
        return SendText(connection, status,
                        "this page needs its token (?token=... or Authorization: Bearer ...)\n");
    }
  }

  MHD_Result Route(MHD_Connection* connection, const std::string& path) {
    if (settings_.web != nullptr && (path == "/web" || path.rfind(kWebPrefix, 0) == 0)) {
      return SendWebFile(connection, path);
    }
    if (!settings_.dashboard) {
      if (path == "/") return SendMoved(connection, kWebPrefix);
      return SendText(connection, MHD_HTTP_NOT_FOUND, "not found\n");
    }
    if (path == "/") {
      return SendFixed(connection, MHD_HTTP_OK, page_.data(), page_.size(),
                       "text/html; charset=utf-8");
    }
    if (path == "/app.js") {
      return SendFixed(connection, MHD_HTTP_OK, kDashboardAppJs, std::strlen(kDashboardAppJs),
                       "text/javascript; charset=utf-8");
    }
    if (path == "/app.css") {
      return SendFixed(connection, MHD_HTTP_OK, kDashboardAppCss, std::strlen(kDashboardAppCss),
                       "text/css; charset=utf-8");
    }
    if (path == "/api/state" || path == "/api/history") {
      const DashboardHub::Snapshot now = hub_.Current();
      std::shared_ptr<const std::string> text = path == "/api/state" ? now.state : now.history;
      if (!text) {
        text = std::make_shared<const std::string>(path == "/api/state" ? "{}" : kNoHistory);
      }
      return SendShared(connection, std::move(text));
    }
    if (path == "/api/stations") {
      std::shared_ptr<const std::string> text = hub_.Current().stations;
      if (!text) text = std::make_shared<const std::string>(kNoStations);
      return SendShared(connection, std::move(text));
    }
    if (path == "/events") return Stream(connection);
    if (path == "/metrics") {
      std::shared_ptr<const std::string> text = hub_.Current().metrics;
      if (!text) return SendText(connection, MHD_HTTP_NOT_FOUND, "no station, no metrics\n");
      return SendShared(connection, std::move(text), kMetricsContentType);
    }
    return SendText(connection, MHD_HTTP_NOT_FOUND, "not found\n");
  }

  // The folder's address without its slash is sent on to the folder, so that the page's
  // files, named relative to it, are found.
  MHD_Result SendWebFile(MHD_Connection* connection, const std::string& path) {
    if (path == "/web") return SendMoved(connection, kWebPrefix);
    std::string name = path.substr(std::strlen(kWebPrefix));
    if (name.empty()) name = "index.html";
    const WebFile* file = settings_.web->Find(name);
    if (file == nullptr) return SendText(connection, MHD_HTTP_NOT_FOUND, "not found\n");
    MHD_Response* response = MHD_create_response_from_buffer(
        file->bytes.size(), const_cast<char*>(file->bytes.data()), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    if (!settings_.token.empty()) {
      const std::string cookie = std::string(kWebCookie) + "=" + TokenCookie(settings_.token) +
                                 "; Path=/web/; HttpOnly; SameSite=Strict";
      MHD_add_response_header(response, "Set-Cookie", cookie.c_str());
    }
    return Queue(connection, MHD_HTTP_OK, response, file->type, kWebPolicy);
  }

  // A token in the query goes along.
  static MHD_Result SendMoved(MHD_Connection* connection, const std::string& to) {
    const char* token = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
    MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    const std::string location =
        to + (token != nullptr ? "?token=" + UrlEncoded(token) : std::string());
    MHD_add_response_header(response, "Location", location.c_str());
    return Queue(connection, MHD_HTTP_MOVED_PERMANENTLY, response, "text/plain; charset=utf-8");
  }

  // A stream that falls behind skips to the newest state; one whose browser takes nothing is
  // dropped by the idle bound. A stream the station ends is ended properly (its last chunk),
  // so that a browser takes the final state as data and not as part of a broken response.
  MHD_Result Stream(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    auto* context = new StreamContext(hub_, streams_, info != nullptr ? info->connect_fd : -1);
    ++streams_;
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, kStreamBlock,
        [](void* cls, uint64_t, char* out, size_t max) -> ssize_t {
          const long n = static_cast<StreamContext*>(cls)->stream.Read(out, max);
          if (n == EventStream::kGone) return MHD_CONTENT_READER_END_WITH_ERROR;
          return n == EventStream::kEnded ? MHD_CONTENT_READER_END_OF_STREAM : n;
        },
        context,
        [](void* cls) {
          auto* ended = static_cast<StreamContext*>(cls);
          --ended->open;
          delete ended;
        });
    if (response == nullptr) {
      --streams_;
      delete context;
      return MHD_NO;
    }
    return Queue(connection, MHD_HTTP_OK, response, "text/event-stream");
  }

  DashboardSettings settings_;
  DashboardHub& hub_;
  std::string page_;
  MHD_Daemon* daemon_ = nullptr;
  std::atomic<size_t> served_{0};  // connections counted against the client bound
  std::atomic<int> streams_{0};    // event streams open
  int port_ = -1;
  OwnAddress own_;            // what a write's Host and Origin must name
  RequestDeadline deadline_;  // outlives the library's threads, which call it
};

}  // namespace

std::unique_ptr<DashboardServer> StartDashboardServer(const DashboardSettings& settings,
                                                      DashboardHub& hub, std::string& error) {
  auto server = std::make_unique<MicrohttpdDashboard>(settings, hub);
  if (!server->Start(error)) return nullptr;
  return server;
}

}  // namespace gpsfw::station
