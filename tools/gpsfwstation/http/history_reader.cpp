#include "tools/gpsfwstation/http/history_reader.h"

#include <iostream>

#include "tools/gpsfwstation/record/record_store.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {
namespace {

constexpr auto kReadEvery = std::chrono::seconds(5);
constexpr int kHistoryRows = 50;

}  // namespace

HistoryReader::HistoryReader(std::string where, DashboardHub& hub, const DashboardInfo* serveInfo)
    : where_(std::move(where)), hub_(hub), serve_(serveInfo != nullptr) {
  if (serveInfo != nullptr) info_ = *serveInfo;
  thread_ = std::thread([this] { Loop(); });
}

HistoryReader::~HistoryReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void HistoryReader::Changed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_ = true;
    ++asked_;
  }
  wake_.notify_all();
}

void HistoryReader::Settle(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_ = true;
  const uint64_t wanted = ++asked_;
  wake_.notify_all();
  wake_.wait_for(lock, bound, [&] { return done_ >= wanted || stop_; });
}

void HistoryReader::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, kReadEvery, [this] { return stop_ || changed_; });
    if (stop_) break;
    changed_ = false;
    const uint64_t serving = asked_;
    lock.unlock();
    ReadOnce();
    lock.lock();
    done_ = serving;
    wake_.notify_all();
  }
}

void HistoryReader::ReadOnce() {
  // A connection per read: a reader never holds the record open between looks, so a server
  // that went away and came back is simply found again.
  std::string error;
  std::unique_ptr<record::RecordStore> store = record::OpenRecordForReading(where_, error);
  std::vector<record::UpdateRow> rows;
  std::vector<record::StatsRow> byPort;
  std::vector<record::StatsRow> byStation;
  std::vector<record::StationRow> stations;
  if (store != nullptr) {
    record::HistoryFilter filter;
    filter.limit = kHistoryRows;
    rows = store->History(filter, error);
    if (error.empty()) byPort = store->Stats(record::StatsBy::kPort, error);
    if (error.empty() && serve_) byStation = store->Stats(record::StatsBy::kStation, error);
    if (error.empty()) stations = store->Stations(error);
  }
  if (!error.empty()) {
    if (error != lastError_) std::cerr << "gpsfwstation: dashboard history: " << error << "\n";
    lastError_ = error;
    return;
  }
  lastError_.clear();
  for (record::UpdateRow& row : rows) row.log.clear();  // the page never shows whole logs
  hub_.SetHistory(HistoryJson(rows, YieldOf(byPort), "record").dump());
  hub_.SetStations(StationsJson(stations, std::chrono::system_clock::now(), HostName()).dump());
  if (serve_) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    hub_.SetState(ServeStateJson(info_, elapsed, byStation).dump());
  }
}

}  // namespace gpsfw::station
