#include "tools/gpsfwstation/http/dashboard_hub.h"

namespace gpsfw::station {

void DashboardHub::SetState(std::string json) {
  auto text = std::make_shared<const std::string>(std::move(json));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now_.state = std::move(text);
    ++now_.stateVersion;
  }
  changed_.notify_all();
}

void DashboardHub::SetHistory(std::string json) {
  auto text = std::make_shared<const std::string>(std::move(json));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now_.history = std::move(text);
    ++now_.historyVersion;
  }
  changed_.notify_all();
}

void DashboardHub::SetMetrics(std::string text) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  std::lock_guard<std::mutex> lock(mutex_);
  now_.metrics = std::move(shared);
}

void DashboardHub::SetStations(std::string json) {
  auto text = std::make_shared<const std::string>(std::move(json));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now_.stations = std::move(text);
    ++now_.stationsVersion;
  }
  changed_.notify_all();
}

DashboardHub::Snapshot DashboardHub::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

DashboardHub::Snapshot DashboardHub::WaitNewer(const Snapshot& seen,
                                               std::chrono::milliseconds timeout, bool& closed) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return closed_ || now_.stateVersion != seen.stateVersion ||
           now_.historyVersion != seen.historyVersion ||
           now_.stationsVersion != seen.stationsVersion;
  });
  closed = closed_;
  return now_;
}

void DashboardHub::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace gpsfw::station
