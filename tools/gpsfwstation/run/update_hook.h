#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/record/update_row.h"

namespace gpsfw::station {

class HookProcess;

struct HookSettings {
  std::string command;  // --on-update-end: run through /bin/sh -c
  double timeoutSeconds = 30;
  std::string db;       // the record, for the rows whose hook never succeeded; "" for none
  std::string station;  // whose rows those are: the station's name, or while it has none,
  std::string host;     // its host's
};

// What a hook made of one row, for the board.
struct HookOutcome {
  std::string id;
  std::string status;  // "ok", "exit N", "signal N", "timed out", "not started: WHY"
};

// The factory's hook, run once per ended update off the station's loop: a thread of its own
// starts at most kAtOnce hooks at a time, each bounded by its time-out, and writes each
// outcome into the row's hook_status through the record's writer. A failure is said on
// standard error at once. Rows of earlier runs whose hook never succeeded are read from the
// record when it starts and handed to the hook once, after the updates of this run.
class UpdateHook {
 public:
  static constexpr size_t kAtOnce = 4;
  // Rows that wait for a free place; beyond them a row is not handed to the hook (its status
  // says so) and the next start tries it again.
  static constexpr size_t kQueueBound = 1000;

  UpdateHook(HookSettings settings, record::RecordWriter* record);
  ~UpdateHook();  // kills the hooks still running: their rows stay "pending"
  UpdateHook(const UpdateHook&) = delete;
  UpdateHook& operator=(const UpdateHook&) = delete;

  // Hands an ended row over; never blocks.
  void Hand(const record::UpdateRow& row);
  // The outcomes since the last call.
  std::vector<HookOutcome> TakeOutcomes();
  // Lets the queued and running hooks go on for at most `bound`, then kills what still runs;
  // returns how many rows were left without an outcome (they stay "pending").
  size_t Finish(std::chrono::milliseconds bound);

 private:
  struct Job {
    record::UpdateRow row;
    bool retry = false;
  };
  struct Running {
    Job job;
    std::unique_ptr<HookProcess> process;
  };

  void Work();
  void LoadBacklog();
  std::vector<record::UpdateRow> ReadBacklog(std::string& error) const;
  void StartDue();
  bool StartOne(Job job);
  void Turn();
  void Report(const Job& job, const std::string& status, const std::string& said);
  void Wake();

  const HookSettings settings_;
  record::RecordWriter* const record_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::condition_variable stopped_;
  std::deque<Job> fresh_;         // this run's rows, first
  std::deque<Job> backlog_;       // earlier runs' rows
  std::vector<Running> running_;  // the hook thread's alone
  size_t runningCount_ = 0;       // its size, for the others
  bool backlogLoaded_ = false;
  std::vector<HookOutcome> outcomes_;
  bool stop_ = false;
  platform::UniqueFd wakeRead_;
  platform::UniqueFd wakeWrite_;
  std::thread thread_;
};

// The environment of a hook: the station's, and what tells the row apart.
std::vector<std::string> HookEnvironment(const record::UpdateRow& row, bool retry);

}  // namespace gpsfw::station
