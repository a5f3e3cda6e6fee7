#include "tests/support/watchdog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace gpsfw::test {
namespace {

constexpr unsigned kDefaultBoundSeconds = 200;
constexpr size_t kTextCapacity = 512;
constexpr size_t kMaxChildren = 64;

// Read by the alarm's handler: plain fixed buffers, nothing it would have to allocate or lock.
char g_test[kTextCapacity];
char g_awaiting[2][kTextCapacity];
volatile sig_atomic_t g_awaitingIndex = 0;
volatile pid_t g_children[kMaxChildren];
unsigned g_boundSeconds = kDefaultBoundSeconds;

void Copy(char* destination, const char* source) {
  std::strncpy(destination, source, kTextCapacity - 1);
  destination[kTextCapacity - 1] = '\0';
}

// Appends `text` to the message being built in `message`.
void Append(char* message, size_t* length, const char* text) {
  for (; *text != '\0' && *length + 1 < 3 * kTextCapacity; ++text) message[(*length)++] = *text;
  message[*length] = '\0';
}

// The alarm of a test that ran past the bound: async-signal-safe calls only.
void OnOverrun(int) {
  for (volatile pid_t& child : g_children) {
    if (child > 0) ::kill(child, SIGKILL);
  }
  static char message[3 * kTextCapacity];
  size_t length = 0;
  const char* awaiting = g_awaiting[g_awaitingIndex];
  Append(message, &length, "\n[ WATCHDOG ] ");
  Append(message, &length, g_test);
  Append(message, &length, " ran past the bound of every test; it was waiting for: ");
  Append(message, &length, awaiting[0] != '\0' ? awaiting : "(nothing named)");
  Append(message, &length, "\n");
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (::write(fd, message, length) < 0) continue;
  }
  ::_exit(1);
}

unsigned BoundSeconds() {
  const char* text = std::getenv("GPSFW_TEST_BOUND_S");
  const long bound = text != nullptr ? std::atol(text) : 0;
  return bound > 0 ? static_cast<unsigned>(bound) : kDefaultBoundSeconds;
}

class WatchdogListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& info) override {
    const std::string name = std::string(info.test_suite_name()) + "." + info.name();
    Copy(g_test, name.c_str());
    Awaiting("");
    ::alarm(g_boundSeconds);
  }
  void OnTestEnd(const ::testing::TestInfo&) override { ::alarm(0); }
};

// Installed before main() runs the tests: GoogleTest's main is the library's own.
const bool g_installed = [] {
  g_boundSeconds = BoundSeconds();
  struct sigaction action {};
  action.sa_handler = OnOverrun;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGALRM, &action, nullptr);
  ::testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
  return true;
}();

}  // namespace

void Awaiting(const std::string& what) {
  // The handler reads the buffer named by the index; the other one is written and then named.
  const int next = 1 - g_awaitingIndex;
  Copy(g_awaiting[next], what.c_str());
  g_awaitingIndex = next;
}

void WatchChild(pid_t pid) {
  for (volatile pid_t& child : g_children) {
    if (child <= 0) {
      child = pid;
      return;
    }
  }
}

void UnwatchChild(pid_t pid) {
  for (volatile pid_t& child : g_children) {
    if (child == pid) child = 0;
  }
}

}  // namespace gpsfw::test
