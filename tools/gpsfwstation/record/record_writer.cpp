#include "tools/gpsfwstation/record/record_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/gpsfwstation/record/row_json.h"
#include "tools/gpsfwstation/record/sql_store.h"

namespace gpsfw::station::record {
namespace {

// A database that failed is tried again this often: soon enough that rows follow a server
// that is back, rarely enough that a station does not hammer one that is not.
constexpr auto kRetryPause = std::chrono::seconds(2);
constexpr const char* kSpoolPrefix = "gpsfwstation-record-";

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::string SpoolName(int pid) {
  return kSpoolPrefix + HostName() + "-" + std::to_string(pid) + ".spool";
}

// The pid of a spool file of this host's, or 0 when the file is none.
int SpoolPid(const std::string& name) {
  const std::string prefix = kSpoolPrefix + HostName() + "-";
  const std::string suffix = ".spool";
  if (name.rfind(prefix, 0) != 0 || name.size() <= prefix.size() + suffix.size()) return 0;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return 0;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoi(digits);
}

// A progress log is some kilobytes; a bound keeps a runaway one out of the record.
std::string ReadLog(const std::string& path) {
  constexpr std::streamsize kMaxLog = 4 << 20;
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(kMaxLog), '\0');
  in.read(text.data(), kMaxLog);
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

bool AppendSynced(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool synced = fdatasync(fd) == 0;
  close(fd);
  return whole && synced;
}

void Clean(UpdateRow& r) {
  for (std::string* text : {&r.host, &r.operatorName, &r.port, &r.portById, &r.portByPath,
                            &r.usbSerial, &r.imagePath, &r.identity.bootLoader, &r.identity.sfld,
                            &r.identity.flashType, &r.reason, &r.message, &r.logPath, &r.log}) {
    *text = CleanText(*text);
  }
}

}  // namespace

RecordWriter::RecordWriter(std::unique_ptr<RecordStore> store, const std::string& spoolDir)
    : store_(std::move(store)),
      spoolPath_((std::filesystem::path(spoolDir) / SpoolName(getpid())).string()) {
  AdoptSpools(spoolDir);
  thread_ = std::thread([this] { Work(); });
}

RecordWriter::~RecordWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (queue_.empty() && incoming_.empty()) unlink(spoolPath_.c_str());
}

void RecordWriter::AdoptSpools(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    const int pid = SpoolPid(name);
    if (pid == 0 || pid == getpid() || StationAlive(pid)) continue;
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      try {
        const nlohmann::json j = nlohmann::json::parse(line);
        Push({j.at("op") == "finish", RowFromJson(j.at("row"))}, true);
      } catch (const nlohmann::json::exception&) {
        // A line cut by the power cut that ended its station: the row is in the lines before.
      }
    }
    // Removed once its rows are in this station's spool.
    adopted_.push_back(entry.path().string());
  }
}

void RecordWriter::Begin(const UpdateRow& row) {
  Push({false, row}, true);
}

void RecordWriter::Finish(const UpdateRow& row) {
  Push({true, row}, true);
}

// The station's loop only hands the row over: the spool's disk write, the log's read and the
// database are all the writer thread's, so that a hundred units ending at once are reaped at
// once.
void RecordWriter::Push(Op op, bool toSpool) {
  std::lock_guard<std::mutex> lock(mutex_);
  incoming_.push_back({std::move(op), toSpool});
  wake_.notify_all();
}

// Moves what came in to the queue, written to the spool first: one write and one sync for
// however many rows came together.
void RecordWriter::Spool(std::unique_lock<std::mutex>& lock) {
  std::deque<Incoming> batch;
  batch.swap(incoming_);
  lock.unlock();
  std::string lines;
  for (Incoming& in : batch) {
    if (in.op.finish && in.op.row.log.empty() && !in.op.row.logPath.empty()) {
      in.op.row.log = ReadLog(in.op.row.logPath);
    }
    Clean(in.op.row);
    if (!in.toSpool) continue;
    lines += nlohmann::ordered_json{{"op", in.op.finish ? "finish" : "begin"},
                                    {"row", RowJson(in.op.row, true)}}
                 .dump() +
             "\n";
  }
  std::string error;
  if (!lines.empty() && !AppendSynced(spoolPath_, lines)) {
    error = "cannot write the spool " + spoolPath_;
  }
  if (error.empty()) {
    for (const std::string& path : adopted_) unlink(path.c_str());
  }
  lock.lock();
  if (error.empty()) adopted_.clear();
  if (!error.empty()) lastError_ = error;
  for (Incoming& in : batch) queue_.push_back(std::move(in.op));
}

size_t RecordWriter::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t rows = 0;
  for (const Op& op : queue_) rows += op.finish ? 1 : 0;
  // A row begun and not yet ended waits as well, once.
  for (const Op& op : queue_) {
    if (op.finish) continue;
    bool ended = false;
    for (const Op& other : queue_) ended = ended || (other.finish && other.row.id == op.row.id);
    rows += ended ? 0 : 1;
  }
  return rows;
}

std::string RecordWriter::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

bool RecordWriter::Drain(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return drained_.wait_for(lock, bound,
                           [this] { return queue_.empty() && incoming_.empty() && !busy_; });
}

bool RecordWriter::Write(const Op& op, std::string& error) {
  return op.finish ? store_->Finish(op.row, error) : store_->Begin(op.row, error);
}

void RecordWriter::ClearSpool() {
  const int fd = open(spoolPath_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (ftruncate(fd, 0) == 0) fsync(fd);
  close(fd);
}

void RecordWriter::OnFinishWritten(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  onFinishWritten_ = std::move(callback);
}

void RecordWriter::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty() || !incoming_.empty(); });
    if (!incoming_.empty()) Spool(lock);
    if (queue_.empty()) {
      if (stop_) return;
      continue;
    }
    const Op op = queue_.front();
    busy_ = true;
    lock.unlock();
    std::string error;
    const bool written = Write(op, error);
    lock.lock();
    busy_ = false;
    if (written) {
      queue_.pop_front();
      lastError_.clear();
      if (op.finish && onFinishWritten_) {
        const std::function<void()> callback = onFinishWritten_;
        lock.unlock();
        callback();
        lock.lock();
      }
      if (queue_.empty() && incoming_.empty()) {
        ClearSpool();
        drained_.notify_all();
      }
      continue;
    }
    lastError_ = error;
    if (stop_) return;
    wake_.wait_for(lock, kRetryPause, [this] { return stop_; });
    if (stop_) return;
  }
}

}  // namespace gpsfw::station::record
