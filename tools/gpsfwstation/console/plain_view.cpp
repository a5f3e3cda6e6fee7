// The plain view: one line per event worth a line, for a log file or a pipe.
#include "tools/gpsfwstation/console/text_format.h"
#include "tools/gpsfwstation/console/view.h"

namespace gpsfw::station {
namespace {

constexpr char kDonePhase[] = "done";

class PlainView : public View {
 public:
  explicit PlainView(std::FILE* out) : out_(out) {}

  void Started(const Board& board, const Unit& unit) override {
    Line(board, unit.port + ": started, log " + unit.logPath);
  }
  void PhaseChanged(const Board& board, const Unit& unit) override {
    // The end has a line of its own, with the verdict.
    if (unit.progress.phase == kDonePhase) return;
    Line(board, unit.port + ": " + PhaseText(unit.progress.phase));
  }
  void Ended(const Board& board, const Unit& unit) override {
    const int retries = unit.progress.retries;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, " after %.1f s, ", unit.Seconds({}));
    Line(board, unit.port + ": " + Verdict(unit) + seconds + std::to_string(retries) +
                    (retries == 1 ? " retry" : " retries"));
  }
  void Note(const Board& board, const std::string& text) override { Line(board, text); }
  void Refresh(const Board&, Clock::time_point) override {}
  Clock::time_point NextRefresh(Clock::time_point) const override {
    return Clock::time_point::max();
  }
  void Finish(const Board&, Clock::time_point) override {}

 private:
  void Line(const Board& board, const std::string& text) {
    const double t = std::chrono::duration<double>(Clock::now() - board.start).count();
    std::fprintf(out_, "[%8.1f] %s\n", t, text.c_str());
    std::fflush(out_);
  }

  std::FILE* out_;
};

}  // namespace

std::unique_ptr<View> MakePlainView(std::FILE* out) {
  return std::make_unique<PlainView>(out);
}

}  // namespace gpsfw::station
