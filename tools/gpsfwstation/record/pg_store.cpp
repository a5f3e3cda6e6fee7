#include "tools/gpsfwstation/record/pg_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>

namespace gpsfw::station::record {
namespace {

// A server that does not answer holds the record's writer no longer than this per attempt;
// the rows wait meanwhile, and no update waits for them.
constexpr const char* kConnectTimeoutSeconds = "5";
constexpr auto kAnswerBound = std::chrono::seconds(15);

// The server's own notices (a table that exists already) are no news to an operator.
void Quiet(void*, const char*) {}

std::string Trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct Result {
  PGresult* result;
  ~Result() { PQclear(result); }
};

}  // namespace

std::unique_ptr<PgStore> PgStore::Open(const std::string& conninfo, std::string& error) {
  std::unique_ptr<PgStore> store(new PgStore(conninfo));
  if (!store->Connect(error)) return nullptr;
  return store;
}

PgStore::~PgStore() {
  PQfinish(conn_);
}

const char* PgStore::SchemaLockSql() const {
  // Two stations that start at once on an empty server create the schema one after the other.
  return "SELECT pg_advisory_xact_lock(7420135)";
}

bool PgStore::Connect(std::string& error) {
  if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return true;
  PQfinish(conn_);
  const char* keywords[] = {"dbname", "connect_timeout", "application_name", nullptr};
  const char* values[] = {conninfo_.c_str(), kConnectTimeoutSeconds, "gpsfwstation", nullptr};
  conn_ = PQconnectdbParams(keywords, values, 1);
  if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
    error = "cannot reach the record's database: " +
            Trimmed(conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory");
    PQfinish(conn_);
    conn_ = nullptr;
    return false;
  }
  PQsetNoticeProcessor(conn_, Quiet, nullptr);
  PQsetnonblocking(conn_, 1);
  return true;
}

bool PgStore::Run(const std::string& sql, const SqlRow& params, std::vector<SqlRow>* rows,
                  std::string& error) {
  if (!Connect(error)) return false;
  std::vector<const char*> values;
  for (const SqlValue& p : params) values.push_back(p ? p->c_str() : nullptr);
  if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                         values.data(), nullptr, nullptr, 0) ||
      !AwaitAnswer(error)) {
    if (error.empty()) error = "the record's database: " + Trimmed(PQerrorMessage(conn_));
    Drop();
    return false;
  }
  Result r{PQgetResult(conn_)};
  // A statement gives one result; the null after it ends the exchange.
  for (PGresult* more; (more = PQgetResult(conn_)) != nullptr;) PQclear(more);
  const ExecStatusType status = PQresultStatus(r.result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    error = "the record's database: " + Trimmed(PQerrorMessage(conn_));
    return false;
  }
  if (rows == nullptr) return true;
  for (int i = 0; i < PQntuples(r.result); ++i) {
    SqlRow row;
    for (int c = 0; c < PQnfields(r.result); ++c) {
      row.push_back(PQgetisnull(r.result, i, c) ? SqlValue()
                                                : SqlValue(PQgetvalue(r.result, i, c)));
    }
    rows->push_back(std::move(row));
  }
  return true;
}

// A server that stops answering (stopped, or its host gone without a reset) would hold a
// blocking call for ever: the answer is awaited within a bound, and the connection dropped.
bool PgStore::AwaitAnswer(std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + kAnswerBound;
  while (PQflush(conn_) == 1 || PQisBusy(conn_)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error =
          "the record's database did not answer within " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kAnswerBound).count()) +
          " s";
      return false;
    }
    pollfd fd = {PQsocket(conn_), POLLIN, 0};
    if (PQflush(conn_) == 1) fd.events |= POLLOUT;
    if (poll(&fd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    if (!PQconsumeInput(conn_)) return false;
  }
  return true;
}

void PgStore::Drop() {
  PQfinish(conn_);
  conn_ = nullptr;
}

bool PgStore::Exec(const std::string& sql, const SqlRow& params, std::string& error) {
  return Run(sql, params, nullptr, error);
}

bool PgStore::Query(const std::string& sql, const SqlRow& params, std::vector<SqlRow>& rows,
                    std::string& error) {
  rows.clear();
  return Run(sql, params, &rows, error);
}

bool PgStore::Transaction(const std::function<bool(std::string&)>& body, std::string& error) {
  error.clear();
  if (!Exec("BEGIN", {}, error)) return false;
  if (body(error) && Exec("COMMIT", {}, error)) return true;
  std::string ignored;
  if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) Exec("ROLLBACK", {}, ignored);
  return false;
}

}  // namespace gpsfw::station::record
