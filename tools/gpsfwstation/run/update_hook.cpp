#include "tools/gpsfwstation/run/update_hook.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "tools/gpsfwstation/record/row_json.h"
#include "tools/gpsfwstation/run/hook_process.h"

extern char** environ;

namespace gpsfw::station {
namespace {

// While hooks run, the thread looks at them this often: a hook whose output pipe is held by a
// program it left behind ends without closing it.
constexpr int kLookMs = 50;
constexpr int kIdleLookMs = 1000;
constexpr int kBacklogReads = 3;
constexpr auto kBacklogPause = std::chrono::seconds(2);
constexpr const char* kOwnNames[] = {
    "GPSFW_UPDATE_ID=", "GPSFW_RESULT=", "GPSFW_PORT=",       "GPSFW_UNIT_SERIAL=",
    "GPSFW_STATION=",   "GPSFW_HOST=",   "GPSFW_HOOK_RETRY=", "GPSFW_IMAGE_SHA256="};

bool OwnName(const std::string& entry) {
  return std::any_of(std::begin(kOwnNames), std::end(kOwnNames),
                     [&](const char* name) { return entry.rfind(name, 0) == 0; });
}

std::chrono::steady_clock::duration Span(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
}

}  // namespace

std::vector<std::string> HookEnvironment(const record::UpdateRow& row, bool retry) {
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!OwnName(*entry)) env.emplace_back(*entry);
  }
  // A row of a station without a name (--station) is its host's.
  const std::string& station = row.station.empty() ? row.host : row.station;
  const std::string values[] = {row.id,  row.result, row.port,          row.unitSerial,
                                station, row.host,   retry ? "1" : "0", row.imageSha256};
  for (size_t i = 0; i < std::size(kOwnNames); ++i) {
    // A value with a NUL would end the variable early: it goes the way the record stores it.
    env.push_back(kOwnNames[i] + record::CleanText(values[i]));
  }
  return env;
}

UpdateHook::UpdateHook(HookSettings settings, record::RecordWriter* record)
    : settings_(std::move(settings)), record_(record) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_.Reset(fds[0]);
    wakeWrite_.Reset(fds[1]);
  }
  thread_ = std::thread([this] { Work(); });
}

UpdateHook::~UpdateHook() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  Wake();
  if (thread_.joinable()) thread_.join();
}

void UpdateHook::Wake() {
  const char byte = 1;
  (void)!write(wakeWrite_.Get(), &byte, 1);  // a full pipe wakes the thread all the same
}

void UpdateHook::Hand(const record::UpdateRow& row) {
  Job job{row, false};
  job.row.log.clear();
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued = fresh_.size() < kQueueBound;
    if (queued) fresh_.push_back(job);
  }
  if (queued) {
    Wake();
  } else {
    Report(job, "not started: " + std::to_string(kQueueBound) + " rows already wait for it", "");
  }
}

std::vector<HookOutcome> UpdateHook::TakeOutcomes() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HookOutcome> taken;
  taken.swap(outcomes_);
  return taken;
}

size_t UpdateHook::Finish(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait_for(lock, bound, [this] {
    return backlogLoaded_ && fresh_.empty() && backlog_.empty() && runningCount_ == 0;
  });
  const size_t left = fresh_.size() + backlog_.size() + runningCount_;
  stop_ = true;
  lock.unlock();
  stopped_.notify_all();
  Wake();
  if (thread_.joinable()) thread_.join();
  return left;
}

// Each outcome goes into the row and onto the board; a failure is said at once.
void UpdateHook::Report(const Job& job, const std::string& status, const std::string& said) {
  record::UpdateRow row = job.row;
  row.hookStatus = status;
  if (record_ != nullptr) record_->SetHookStatus(row);
  if (status != "ok") {
    std::fprintf(stderr, "gpsfwstation: the hook for update %s on %s%s failed: %s%s%s\n",
                 row.id.c_str(), record::CleanText(row.port).c_str(),
                 job.retry ? " (tried again)" : "", status.c_str(), said.empty() ? "" : ": ",
                 record::CleanText(said).c_str());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  outcomes_.push_back({row.id, status});
}

// The rows of earlier runs whose hook never succeeded, read once per start on this thread:
// a slow database holds neither the loop nor this run's hooks, which go first.
std::vector<record::UpdateRow> UpdateHook::ReadBacklog(std::string& error) const {
  std::unique_ptr<record::RecordStore> store = record::OpenRecordForReading(settings_.db, error);
  if (store == nullptr) return {};
  return store->HookBacklog(settings_.station, settings_.host, static_cast<int>(kQueueBound),
                            error);
}

void UpdateHook::LoadBacklog() {
  std::vector<record::UpdateRow> rows;
  std::string error;
  // A record busy with this station's first rows, or a server a moment away, is asked again.
  for (int attempt = 1; !settings_.db.empty() && attempt <= kBacklogReads; ++attempt) {
    error.clear();
    rows = ReadBacklog(error);
    if (error.empty()) break;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_.wait_for(lock, kBacklogPause, [this] { return stop_; })) break;
  }
  if (!error.empty()) {
    std::fprintf(stderr,
                 "gpsfwstation: the rows whose hook never succeeded cannot be read (%s); they "
                 "are tried at a later start\n",
                 error.c_str());
  }
  if (!rows.empty()) {
    std::fprintf(stderr,
                 "gpsfwstation: %zu row%s of earlier runs whose hook never succeeded %s "
                 "handed to the hook again\n",
                 rows.size(), rows.size() == 1 ? "" : "s", rows.size() == 1 ? "is" : "are");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (record::UpdateRow& row : rows) backlog_.push_back({std::move(row), true});
  backlogLoaded_ = true;
}

bool UpdateHook::StartOne(Job job) {
  const std::string input = record::RowJson(job.row, false).dump() + "\n";
  auto process = std::make_unique<HookProcess>();
  std::string error;
  const auto deadline = std::chrono::steady_clock::now() + Span(settings_.timeoutSeconds);
  if (!process->Start(settings_.command, HookEnvironment(job.row, job.retry), input, deadline,
                      error)) {
    Report(job, "not started: " + error, "");
    return false;
  }
  running_.push_back({std::move(job), std::move(process)});
  return true;
}

// Fills the free places: this run's rows first, then the earlier runs'.
void UpdateHook::StartDue() {
  for (;;) {
    Job job;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || running_.size() >= kAtOnce) return;
      std::deque<Job>& from = !fresh_.empty() ? fresh_ : backlog_;
      if (from.empty()) return;
      job = std::move(from.front());
      from.pop_front();
      // Counted at once: a Finish that looks now must not find the row nowhere.
      ++runningCount_;
    }
    StartOne(std::move(job));
    std::lock_guard<std::mutex> lock(mutex_);
    runningCount_ = running_.size();
  }
}

// One wait on the running hooks' pipes (or on the wake pipe alone), then their news.
void UpdateHook::Turn() {
  std::vector<pollfd> fds = {{wakeRead_.Get(), POLLIN, 0}};
  for (const Running& r : running_) {
    if (r.process->InFd() >= 0) fds.push_back({r.process->InFd(), POLLOUT, 0});
    if (r.process->OutFd() >= 0) fds.push_back({r.process->OutFd(), POLLIN, 0});
  }
  poll(fds.data(), fds.size(), running_.empty() ? kIdleLookMs : kLookMs);
  char bytes[64];
  while (read(wakeRead_.Get(), bytes, sizeof bytes) > 0) {
  }
  const auto now = std::chrono::steady_clock::now();
  for (auto it = running_.begin(); it != running_.end();) {
    it->process->Pump();
    if (!it->process->Check(now)) {
      ++it;
      continue;
    }
    Report(it->job, it->process->Status(), it->process->FirstLine());
    it = running_.erase(it);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  runningCount_ = running_.size();
  if (fresh_.empty() && backlog_.empty() && running_.empty()) idle_.notify_all();
}

void UpdateHook::Work() {
  LoadBacklog();
  for (;;) {
    StartDue();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) break;
      // Said at once when there was nothing to do.
      if (fresh_.empty() && backlog_.empty() && running_.empty()) idle_.notify_all();
    }
    Turn();
  }
  // Killed and reaped by their destructors: the station ends, their rows stay "pending".
  running_.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  runningCount_ = 0;
}

}  // namespace gpsfw::station
