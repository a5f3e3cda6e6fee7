#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::station::record {

// Writes the station's rows on a thread of its own, so that a slow, locked or unreachable
// database never holds up the station's loop, and so no update waits for it. Every row is
// first appended to a spool file (fsync'd) and leaves it only once the database has it: a
// station that must end before the server is back leaves its rows there, and the next
// station on the same log folder writes them. Rows carry their id, so a row written twice
// is still one row.
class RecordWriter {
 public:
  // `spoolDir` holds the spool; spools left by dead stations there are taken over.
  RecordWriter(std::unique_ptr<RecordStore> store, const std::string& spoolDir);
  ~RecordWriter();
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void Begin(const UpdateRow& row);
  void Finish(const UpdateRow& row);
  // The running row's serial, learnt after it began.
  void Amend(const UpdateRow& row);
  // The station's row for an image it refused; not added when the latest row of the same
  // station, host and operator already refused the same image (a service restarted in a loop).
  void Refuse(const UpdateRow& row);
  // What the factory's hook made of an ended row: only its hook_status is written. Its spool
  // line carries the row whole (without its log) all the same: an older station, which takes
  // a line it does not know for an ended row, still writes a sound one.
  void SetHookStatus(const UpdateRow& row);
  // Rows not yet in the database, and why the latest attempt failed ("" when it did not).
  size_t Waiting() const;
  std::string LastError() const;
  // Rows that are neither in the database nor in the spool (both failed): they live in this
  // process alone and are tried again; and their spool lines, for a last word on their loss.
  size_t Unkept() const;
  std::vector<std::string> UnkeptLines() const;
  std::string SpoolError() const;
  // What could not be read of the spools of dead stations, "" when they were whole.
  std::string Unread() const;
  // Waits at most `bound` for the queue to empty; true when it did. What is left stays in
  // the spool.
  bool Drain(std::chrono::milliseconds bound);
  const std::string& SpoolPath() const { return spoolPath_; }
  // Called on the writer's thread each time an ended update's row has reached the database,
  // for those who read the record back (the dashboard's history).
  void OnFinishWritten(std::function<void()> callback);
  // Notes this station alive in the record every `every`, on the writer's thread, between
  // rows. A beat that fails is skipped without a word (the rows say when the record is away),
  // and none is tried while rows fail.
  void Beat(std::chrono::milliseconds every);

 private:
  enum class Kind { kBegin, kFinish, kRefuse, kAmend, kHook };
  struct Op {
    Kind kind = Kind::kBegin;
    UpdateRow row;
    std::string line;      // the op as a line of the spool
    bool spooled = false;  // the line is on disk, synced
    bool adopted = false;  // the line is in a dead station's spool, kept until ours has it
  };
  static Op OpOf(Kind kind, const UpdateRow& row);
  void Push(Op op);
  void Spool(std::unique_lock<std::mutex>& lock);
  void Respool(std::unique_lock<std::mutex>& lock);
  void AfterSpoolWrite(bool kept, const std::string& error, std::unique_lock<std::mutex>& lock);
  std::vector<const Op*> UnkeptRows() const;
  void SayLoss();
  void AdoptSpools(const std::string& dir);
  void Work();
  bool Write(const Op& op, std::string& error);
  void ClearSpool();
  void WaitForWork(std::unique_lock<std::mutex>& lock);
  void BeatIfDue(std::unique_lock<std::mutex>& lock);

  std::unique_ptr<RecordStore> store_;
  std::string spoolPath_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<Op> incoming_;  // handed over, not yet in the spool
  std::deque<Op> queue_;     // in the spool, not yet in the database
  bool busy_ = false;        // the thread is writing the queue's first op
  bool stop_ = false;
  std::string lastError_;
  std::string spoolError_;            // why the latest spool write failed, "" once it works
  bool lossSaid_ = false;             // the rows kept in memory alone were said on standard error
  std::vector<std::string> adopted_;  // spools of dead stations, until their rows are in ours
  std::vector<std::string> unreadFiles_;  // where the spools with unreadable lines are kept
  size_t unreadLines_ = 0;
  std::function<void()> onFinishWritten_;
  std::chrono::milliseconds beatEvery_{0};  // 0: no heartbeat
  std::chrono::steady_clock::time_point nextBeat_{};
  std::thread thread_;
};

}  // namespace gpsfw::station::record
