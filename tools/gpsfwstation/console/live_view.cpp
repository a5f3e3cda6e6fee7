// The live view: the whole table is drawn again in place, a few times a second at most.
#include <errno.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tools/gpsfwstation/console/live_table.h"
#include "tools/gpsfwstation/console/view.h"

namespace gpsfw::station {
namespace {

constexpr auto kSoonest = std::chrono::milliseconds(200);
// The elapsed and remaining times move on without events.
constexpr auto kLatest = std::chrono::seconds(1);
constexpr size_t kDefaultWidth = 80;
constexpr size_t kDefaultHeight = 24;
constexpr char kEraseToEnd[] = "\x1b[K";
constexpr char kEraseBelow[] = "\x1b[J";

void WriteAll(int fd, const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a terminal that went away: the station goes on without its view
    at += static_cast<size_t>(n);
  }
}

class LiveView : public View {
 public:
  explicit LiveView(int fd) : fd_(fd) {}

  void Started(const Board&, const Unit&) override { dirty_ = true; }
  void PhaseChanged(const Board&, const Unit&) override { dirty_ = true; }
  void Ended(const Board&, const Unit&) override { dirty_ = true; }

  void Note(const Board&, const std::string& text) override {
    WriteAll(fd_, BackToTop() + kEraseBelow + text + "\n");
    drawn_ = 0;
    dirty_ = true;
  }

  void Refresh(const Board& board, Clock::time_point now) override {
    if (now < NextRefresh(now)) return;
    Draw(board, now);
  }

  Clock::time_point NextRefresh(Clock::time_point) const override {
    return last_ + (dirty_ ? kSoonest : kLatest);
  }

  void Finish(const Board& board, Clock::time_point now) override { Draw(board, now); }

 private:
  std::string BackToTop() const {
    return drawn_ == 0 ? "" : "\r\x1b[" + std::to_string(drawn_) + "A";
  }

  void Draw(const Board& board, Clock::time_point now) {
    winsize size{};
    const bool known = ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && size.ws_row > 0;
    // One column is left free: a line that fills the last column makes some terminals wrap.
    const size_t width = known ? size.ws_col - 1u : kDefaultWidth;
    const size_t height = known ? size.ws_row : kDefaultHeight;
    const std::vector<std::string> lines = LiveLines(board, now, width, height);
    std::string frame = BackToTop();
    for (const std::string& line : lines) frame += line + kEraseToEnd + "\n";
    frame += kEraseBelow;
    WriteAll(fd_, frame);
    drawn_ = lines.size();
    dirty_ = false;
    last_ = now;
  }

  int fd_;
  size_t drawn_ = 0;
  bool dirty_ = true;
  Clock::time_point last_{};
};

}  // namespace

std::unique_ptr<View> MakeLiveView(int fd) {
  return std::make_unique<LiveView>(fd);
}

}  // namespace gpsfw::station
