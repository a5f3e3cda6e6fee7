#include "tools/gpsfwstation/http/dashboard_view.h"

#include <algorithm>

#include "tools/gpsfwstation/http/metrics_text.h"
#include "tools/gpsfwstation/run/unit.h"

namespace gpsfw::station {
namespace {

constexpr auto kSoonest = std::chrono::milliseconds(250);
constexpr auto kTick = std::chrono::seconds(1);
constexpr size_t kLogLines = 12;
constexpr size_t kHistoryRows = 50;

class DashboardView : public View {
 public:
  DashboardView(DashboardHub& hub, DashboardInfo info, RecordContext context, bool keepHistory,
                std::function<void()> onEnded)
      : hub_(hub),
        info_(std::move(info)),
        context_(std::move(context)),
        keepHistory_(keepHistory),
        onEnded_(std::move(onEnded)) {}

  void Started(const Board&, const Unit&) override { dirty_ = true; }
  void PhaseChanged(const Board&, const Unit&) override { dirty_ = true; }
  void Note(const Board&, const std::string&) override { dirty_ = true; }

  void Ended(const Board& board, const Unit& unit) override {
    dirty_ = true;
    tails_[&unit] = LastLines(unit.logPath, kLogLines);
    if (keepHistory_) PublishHistory(board);
    if (onEnded_) onEnded_();
  }

  void Refresh(const Board& board, Clock::time_point now) override {
    if (now < NextRefresh(now)) return;
    Publish(board, now);
    last_ = now;
    dirty_ = false;
  }

  Clock::time_point NextRefresh(Clock::time_point) const override {
    return last_ + (dirty_ ? Clock::duration(kSoonest) : Clock::duration(kTick));
  }

  void Finish(const Board& board, Clock::time_point now) override { Publish(board, now); }
  void Forget(const Unit& unit) override { tails_.erase(&unit); }

 private:
  void Publish(const Board& board, Clock::time_point now) {
    nlohmann::ordered_json state = StateJson(board, info_, tails_, now);
    state["version"] = ++version_;
    hub_.SetState(state.dump());
    hub_.SetMetrics(MetricsText(board));
  }

  // This run's ended units, newest first, as the record would list them.
  void PublishHistory(const Board& board) {
    std::vector<record::UpdateRow> rows;
    for (auto it = board.units.rbegin(); it != board.units.rend(); ++it) {
      if ((*it)->result == Result::kRunning) continue;
      rows.push_back(RowOf(**it, board, context_));
    }
    const std::vector<PortYield> perPort = YieldOf(rows);
    if (rows.size() > kHistoryRows) rows.resize(kHistoryRows);
    hub_.SetHistory(HistoryJson(rows, perPort, "this run").dump());
  }

  DashboardHub& hub_;
  DashboardInfo info_;
  RecordContext context_;
  bool keepHistory_;
  std::function<void()> onEnded_;
  LogTails tails_;
  Clock::time_point last_{};
  bool dirty_ = true;
  uint64_t version_ = 0;
};

class ViewPair : public View {
 public:
  ViewPair(std::unique_ptr<View> a, std::unique_ptr<View> b) : a_(std::move(a)), b_(std::move(b)) {}

  void Started(const Board& board, const Unit& unit) override {
    a_->Started(board, unit);
    b_->Started(board, unit);
  }
  void PhaseChanged(const Board& board, const Unit& unit) override {
    a_->PhaseChanged(board, unit);
    b_->PhaseChanged(board, unit);
  }
  void Ended(const Board& board, const Unit& unit) override {
    a_->Ended(board, unit);
    b_->Ended(board, unit);
  }
  void Note(const Board& board, const std::string& text) override {
    a_->Note(board, text);
    b_->Note(board, text);
  }
  void Refresh(const Board& board, Clock::time_point now) override {
    a_->Refresh(board, now);
    b_->Refresh(board, now);
  }
  Clock::time_point NextRefresh(Clock::time_point now) const override {
    return std::min(a_->NextRefresh(now), b_->NextRefresh(now));
  }
  void Finish(const Board& board, Clock::time_point now) override {
    a_->Finish(board, now);
    b_->Finish(board, now);
  }
  void Forget(const Unit& unit) override {
    a_->Forget(unit);
    b_->Forget(unit);
  }

 private:
  std::unique_ptr<View> a_;
  std::unique_ptr<View> b_;
};

}  // namespace

std::unique_ptr<View> MakeDashboardView(DashboardHub& hub, const DashboardInfo& info,
                                        const RecordContext& context, bool keepHistory,
                                        std::function<void()> onEnded) {
  return std::make_unique<DashboardView>(hub, info, context, keepHistory, std::move(onEnded));
}

std::unique_ptr<View> MakeViewPair(std::unique_ptr<View> first, std::unique_ptr<View> second) {
  return std::make_unique<ViewPair>(std::move(first), std::move(second));
}

}  // namespace gpsfw::station
