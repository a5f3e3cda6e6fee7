#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/posix/deadline_poll.h"

namespace gpsfw::platform {
namespace {

int g_stoppedBy = 0;
int g_stops = 0;

void RecordStop(int signal) {
  g_stoppedBy = signal;
  ++g_stops;
}

class StopSignals : public ::testing::Test {
 protected:
  StopSignals() {
    g_stoppedBy = 0;
    g_stops = 0;
    ClearStopSignal();
    EXPECT_TRUE(InstallStopHandlers());
    SetStopRoutine(RecordStop);
  }
  ~StopSignals() override {
    SetStopRoutine(nullptr);
    RemoveStopHandlers();
    ClearStopSignal();
  }

  // Runs `wait` while another thread sends `signal` to this one after 50 ms; the seconds the
  // wait took.
  template <typename Wait>
  double SecondsUntilStopped(int signal, Wait wait) {
    const pthread_t waiter = pthread_self();
    std::thread sender([waiter, signal] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      pthread_kill(waiter, signal);
    });
    const auto start = std::chrono::steady_clock::now();
    wait();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    sender.join();
    return took.count();
  }
};

// A wait of 20 s ends long before: the bound is generous for a loaded machine, the point is
// that neither the sleep nor the poll resumes after the signal.
TEST_F(StopSignals, SleepsAndPollsEndEarlyAndRunTheRoutineOnce) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ClearStopSignal();
    g_stops = 0;
    EXPECT_LT(SecondsUntilStopped(signal, [] { SleepMs(20000); }), 5.0);
    EXPECT_EQ(g_stoppedBy, signal);
    EXPECT_EQ(g_stops, 1);

    ClearStopSignal();
    g_stops = 0;
    int events = -1;
    EXPECT_LT(SecondsUntilStopped(
                  signal, [&] { events = PollUntil(pipeFds[0], POLLIN, DeadlineAfterMs(20000)); }),
              5.0);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(g_stops, 1);
  }
  close(pipeFds[0]);
  close(pipeFds[1]);
}

TEST_F(StopSignals, SignalNotedBeforeAWaitEndsItAtOnce) {
  ASSERT_EQ(raise(SIGTERM), 0);
  EXPECT_EQ(StopSignal(), SIGTERM);
  const auto start = std::chrono::steady_clock::now();
  SleepMs(20000);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  EXPECT_EQ(g_stoppedBy, SIGTERM);
  // The first signal counts; the routine is not run again while it runs.
  ASSERT_EQ(raise(SIGINT), 0);
  EXPECT_EQ(StopSignal(), SIGTERM);
}

TEST_F(StopSignals, WithoutASignalWaitsTakeTheirTime) {
  const auto start = std::chrono::steady_clock::now();
  SleepMs(250);
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.25);
  EXPECT_FALSE(CheckStop());
  EXPECT_EQ(g_stops, 0);
}

// Started under nohup, the loader keeps ignoring the hang-up.
TEST(StopSignalsNohup, IgnoredHangUpStaysIgnored) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGHUP, &ignore, &saved), 0);
  ClearStopSignal();
  InstallStopHandlers();
  ASSERT_EQ(raise(SIGHUP), 0);
  EXPECT_EQ(StopSignal(), 0);
  RemoveStopHandlers();
  sigaction(SIGHUP, &saved, nullptr);
}

}  // namespace
}  // namespace gpsfw::platform
