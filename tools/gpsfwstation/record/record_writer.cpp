#include "tools/gpsfwstation/record/record_writer.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tools/gpsfwstation/record/row_json.h"
#include "tools/gpsfwstation/record/sql_store.h"

namespace gpsfw::station::record {
namespace {

// A database that failed is tried again this often: soon enough that rows follow a server
// that is back, rarely enough that a station does not hammer one that is not.
constexpr auto kRetryPause = std::chrono::seconds(2);
constexpr const char* kSpoolPrefix = "gpsfwstation-record-";
constexpr const char* kOpNames[] = {"begin", "finish", "refuse", "amend", "hook"};

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

// Appends whole lines or nothing: a write cut short by a full disk is taken back, so that
// the next append does not glue a row onto a cut one (a reader could then take neither).
// A write the disk took but could not sync (delayed allocation) counts as not written.
bool AppendSynced(const std::string& path, const std::string& text, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = strerror(errno);
    return false;
  }
  struct stat before {};
  const bool sized = fstat(fd, &before) == 0;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool kept = done == text.size() && fdatasync(fd) == 0;
  if (!kept) {
    error = errno != 0 ? strerror(errno) : "written short";
    if (sized && ftruncate(fd, before.st_size) == 0) fdatasync(fd);
  }
  close(fd);
  return kept;
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
    size_t unread = 0;
    for (std::string line; std::getline(in, line);) {
      try {
        const nlohmann::json j = nlohmann::json::parse(line);
        Op op;
        op.kind = j.at("op") == "begin"    ? Kind::kBegin
                  : j.at("op") == "refuse" ? Kind::kRefuse
                  : j.at("op") == "amend"  ? Kind::kAmend
                  : j.at("op") == "hook"   ? Kind::kHook
                                           : Kind::kFinish;
        op.row = RowFromJson(j.at("row"));
        op.adopted = true;
        Push(std::move(op));
      } catch (const nlohmann::json::exception&) {
        // A line cut by the power cut that ended its station: kept aside, and said.
        unread += line.empty() ? 0 : 1;
      }
    }
    // Removed once its rows are in this station's spool; one with lines that could not be
    // read is kept beside, under another name that no station adopts again.
    adopted_.push_back(entry.path().string());
    if (unread > 0) unreadFiles_.push_back(entry.path().string() + ".unread");
    unreadLines_ += unread;
  }
}

RecordWriter::Op RecordWriter::OpOf(Kind kind, const UpdateRow& row) {
  Op op;
  op.kind = kind;
  op.row = row;
  return op;
}

void RecordWriter::Begin(const UpdateRow& row) {
  Push(OpOf(Kind::kBegin, row));
}

void RecordWriter::Finish(const UpdateRow& row) {
  Push(OpOf(Kind::kFinish, row));
}

void RecordWriter::Amend(const UpdateRow& row) {
  Push(OpOf(Kind::kAmend, row));
}

void RecordWriter::Refuse(const UpdateRow& row) {
  Push(OpOf(Kind::kRefuse, row));
}

void RecordWriter::SetHookStatus(const UpdateRow& row) {
  Op op = OpOf(Kind::kHook, row);
  op.row.log.clear();  // the record has it already; the spool line stays small
  Push(std::move(op));
}

// The station's loop only hands the row over: the spool's disk write, the log's read and the
// database are all the writer thread's, so that a hundred units ending at once are reaped at
// once.
void RecordWriter::Push(Op op) {
  std::lock_guard<std::mutex> lock(mutex_);
  incoming_.push_back(std::move(op));
  wake_.notify_all();
}

// Moves what came in to the queue, written to the spool first: one write and one sync for
// however many rows came together. What the spool cannot take waits in memory.
void RecordWriter::Spool(std::unique_lock<std::mutex>& lock) {
  std::deque<Op> batch;
  batch.swap(incoming_);
  // The batch is in neither list while the spool takes it: a Drain() that looked now must not
  // take the writer for idle.
  busy_ = true;
  lock.unlock();
  std::string lines;
  for (Op& op : batch) {
    if (op.kind == Kind::kFinish && op.row.log.empty() && !op.row.logPath.empty()) {
      op.row.log = ReadLog(op.row.logPath);
    }
    Clean(op.row);
    op.line = nlohmann::ordered_json{{"op", kOpNames[static_cast<int>(op.kind)]},
                                     {"row", RowJson(op.row, true)}}
                  .dump() +
              "\n";
    lines += op.line;
  }
  std::string error;
  const bool kept = lines.empty() || AppendSynced(spoolPath_, lines, error);
  lock.lock();
  busy_ = false;
  for (Op& op : batch) {
    op.spooled = kept;
    queue_.push_back(std::move(op));
  }
  AfterSpoolWrite(kept, error, lock);
}

// Writes again the ops that the spool could not take before (a disk that was full).
void RecordWriter::Respool(std::unique_lock<std::mutex>& lock) {
  std::vector<Op*> ops;
  std::string lines;
  for (Op& op : queue_) {
    if (op.spooled) continue;
    ops.push_back(&op);
    lines += op.line;
  }
  if (ops.empty()) return;
  // Only this thread changes the queue, and a deque keeps its elements where they are.
  lock.unlock();
  std::string error;
  const bool kept = AppendSynced(spoolPath_, lines, error);
  lock.lock();
  for (Op* op : ops) op->spooled = kept;
  AfterSpoolWrite(kept, error, lock);
}

// The spools of dead stations go once everything in the queue is in this station's spool.
void RecordWriter::AfterSpoolWrite(bool kept, const std::string& error,
                                   std::unique_lock<std::mutex>& lock) {
  spoolError_ = kept ? "" : "cannot write the spool " + spoolPath_ + ": " + error;
  const bool all =
      std::all_of(queue_.begin(), queue_.end(), [](const Op& op) { return op.spooled; });
  if (!kept || !all || adopted_.empty()) return;
  std::vector<std::string> adopted;
  adopted.swap(adopted_);
  lock.unlock();
  for (const std::string& path : adopted) {
    const std::string aside = path + ".unread";
    if (std::find(unreadFiles_.begin(), unreadFiles_.end(), aside) == unreadFiles_.end() ||
        rename(path.c_str(), aside.c_str()) != 0) {
      unlink(path.c_str());
    }
  }
  lock.lock();
}

size_t RecordWriter::Unkept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return UnkeptRows().size();
}

std::vector<std::string> RecordWriter::UnkeptLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> lines;
  for (const Op* op : UnkeptRows()) lines.push_back(op->line);
  return lines;
}

// Each row whose latest op is on no disk: a row whose end is only in memory is not kept,
// although its start is. A row still in a dead station's spool is kept there.
std::vector<const RecordWriter::Op*> RecordWriter::UnkeptRows() const {
  std::map<std::string, const Op*> latest;
  for (const Op& op : queue_) latest[op.row.id] = &op;
  std::vector<const Op*> rows;
  for (const auto& entry : latest) {
    if (!entry.second->spooled && !entry.second->adopted) rows.push_back(entry.second);
  }
  return rows;
}

std::string RecordWriter::Unread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (unreadLines_ == 0) return "";
  std::string files;
  for (const std::string& path : unreadFiles_) files += (files.empty() ? "" : ", ") + path;
  return std::to_string(unreadLines_) + " line" + (unreadLines_ == 1 ? "" : "s") +
         " of the spools of dead stations could not be read (kept in " + files + ")";
}

std::string RecordWriter::SpoolError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return spoolError_;
}

// Said at once, whatever the view: rows that live in this process alone are lost with it.
void RecordWriter::SayLoss() {
  const size_t unkept = UnkeptRows().size();
  if (unkept > 0 && !lossSaid_) {
    std::fprintf(stderr,
                 "gpsfwstation: %zu record row%s kept in memory alone: the record (%s) and the "
                 "spool (%s) both fail; tried again every %d s, and lost if the station ends "
                 "before either works\n",
                 unkept, unkept == 1 ? " is" : "s are", lastError_.c_str(), spoolError_.c_str(),
                 static_cast<int>(kRetryPause.count()));
    lossSaid_ = true;
  } else if (unkept == 0 && lossSaid_) {
    std::fprintf(stderr, "gpsfwstation: the record rows kept in memory alone are on disk again\n");
    lossSaid_ = false;
  }
}

size_t RecordWriter::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  // A row begun and not yet ended waits as well, once.
  std::set<std::string> ids;
  for (const Op& op : queue_) ids.insert(op.row.id);
  return ids.size();
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
  switch (op.kind) {
    case Kind::kBegin:
      return store_->Begin(op.row, error);
    case Kind::kFinish:
      return store_->Finish(op.row, error);
    case Kind::kRefuse:
      return store_->Refuse(op.row, error);
    case Kind::kAmend:
      return store_->Amend(op.row, error);
    case Kind::kHook:
      return store_->SetHookStatus(op.row.id, op.row.hookStatus, error);
  }
  return false;
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

void RecordWriter::Beat(std::chrono::milliseconds every) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    beatEvery_ = every;
    nextBeat_ = std::chrono::steady_clock::now() + every;
  }
  wake_.notify_all();
}

// Sleeps until there is something to write, or the next heartbeat is due; heartbeats asked
// for during the sleep end it, so that the first is not left for the first row.
void RecordWriter::WaitForWork(std::unique_lock<std::mutex>& lock) {
  const bool beating = beatEvery_.count() > 0;
  const auto ready = [this, beating] {
    return stop_ || !queue_.empty() || !incoming_.empty() || (beatEvery_.count() > 0) != beating;
  };
  if (beating) {
    wake_.wait_until(lock, nextBeat_, ready);
  } else {
    wake_.wait(lock, ready);
  }
}

void RecordWriter::BeatIfDue(std::unique_lock<std::mutex>& lock) {
  const auto now = std::chrono::steady_clock::now();
  if (beatEvery_.count() <= 0 || now < nextBeat_ || stop_) return;
  nextBeat_ = now + beatEvery_;
  if (!lastError_.empty()) return;
  lock.unlock();
  std::string ignored;
  store_->Heartbeat(ignored);
  lock.lock();
}

void RecordWriter::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    WaitForWork(lock);
    BeatIfDue(lock);
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
      if ((op.kind == Kind::kFinish || op.kind == Kind::kRefuse) && onFinishWritten_) {
        const std::function<void()> callback = onFinishWritten_;
        lock.unlock();
        callback();
        lock.lock();
      }
      if (queue_.empty() && incoming_.empty()) {
        ClearSpool();
        drained_.notify_all();
      }
      SayLoss();
      continue;
    }
    lastError_ = error;
    Respool(lock);
    SayLoss();
    if (stop_) return;
    wake_.wait_for(lock, kRetryPause, [this] { return stop_; });
    if (stop_) return;
  }
}

}  // namespace gpsfw::station::record
