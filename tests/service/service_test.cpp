// The service core without a JVM: set-up threads and their failure paths,
// the close request, timed callbacks on the dispatch thread, and the board
// revision sent as hardware version. (The JNI entry points and the events
// Java receives are covered by the JVM suite in tests/jvm.)
#include <gtest/gtest.h>

#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/kyr_modules.h"
#include "service/kyr_service.h"
#include "support/log_capture.h"

namespace {

using namespace std::chrono_literals;

std::string temp_file(const std::string &content) {
  char path[] = "/tmp/kyr_boardrev_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), (ssize_t)content.size());
  close(fd);
  return path;
}

TEST(BoardRevision, FirstLineCutAtLineEndAndToSixtyFourCharacters) {
  struct Case {
    const char *name;
    std::string content;
    std::string expected;
  } cases[] = {
      {"crlf", "A1\r\nsecond line\n", "A1"},
      {"lf", "B2\n", "B2"},
      {"cr only", "C3\rrest", "C3"},
      {"no newline", "D4", "D4"},
      {"empty", "", ""},
      {"long", std::string(100, 'x') + "\n", std::string(64, 'x')},
  };
  for (const auto &c : cases) {
    std::string path = temp_file(c.content);
    char out[65];
    memset(out, 'Z', sizeof out);
    kyr_read_board_revision(path.c_str(), out);
    EXPECT_EQ(std::string(out), c.expected) << c.name;
    unlink(path.c_str());
  }
}

TEST(BoardRevision, MissingFileGivesUnknownAndALogLine) {
  kyrtest::LogCapture cap;
  char out[65];
  kyr_read_board_revision("/nonexistent/dir/boardrev.txt", out);
  EXPECT_STREQ(out, "UNKNOWN");
  EXPECT_EQ(cap.Count("NativeSendSystemInfoToKyr: can't open file /nonexistent/dir/boardrev.txt, error 2",
                      "KyrConnectLib"),
            1u);
}

// Set-up must not wait for ever when the main loop cannot start the worker.
TEST(ServiceLifecycle, WorkerThatCannotStartFailsSetUpPromptly) {
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  kyrtest::LogCapture cap;
  kyr_service_debug_fail_worker_start(1);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(native_init(nullptr), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  kyr_service_debug_fail_worker_start(0);
  EXPECT_EQ(kyr_service_wait_idle(5000), 0) << "main loop did not end";
  EXPECT_EQ(cap.Count("native_open (error:-1)", "KyrConnectLib"), 1u);
  EXPECT_EQ(cap.Count("pthread_create (error:", "KyrConnectLib"), 1u);
  EXPECT_NE(kyr_connect_state(), KYR_Connect_Started);
}

TEST(ServiceLifecycle, StartedThenClosedAndTheDispatchThreadIsReused) {
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  kyrtest::LogCapture cap;
  ASSERT_EQ(native_init(nullptr), 0);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Started);
  const int dispatchers = kyr_service_dispatch_threads_started();
  EXPECT_EQ(dispatchers, 1);
  EXPECT_EQ(kyr_service_wait_idle(0), -1) << "main loop should be running";

  auto t0 = std::chrono::steady_clock::now();
  native_close();
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Disconnected);
  EXPECT_EQ(kyr_server_instance(), -1);
  // Not set up from Java: the state events are dropped with a line each.
  EXPECT_GE(cap.Count("NULL JavaVM", "KyrConnectLib"), 2u);

  ASSERT_EQ(native_init(nullptr), 0);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Started);
  EXPECT_EQ(kyr_service_dispatch_threads_started(), dispatchers);
  native_close();
  EXPECT_EQ(kyr_service_wait_idle(5000), 0);
}

std::atomic<int> g_losses{0};
void count_loss(int) { g_losses++; }
const kyr_module_hooks kLossCounter = {"loss counter", nullptr, nullptr, count_loss, nullptr};

// Only a start leaves a closed session, and nothing but a closed one starts:
// every other move is refused with a log line and leaves the state as it
// was. A closed session keeps no connection, whoever handed it one.
TEST(ServiceLifecycle, RefusedTransitionsAreLoggedAndChangeNothing) {
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  kyrtest::LogCapture cap;
  kyr_modules_debug_set_extra(&kLossCounter);
  const int losses = g_losses.load();

  kyr_service_debug_set_server_instance(7);
  setConnectState(KYR_Connect_PairingRequired);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Disconnected);
  EXPECT_EQ(kyr_server_instance(), -1);
  EXPECT_EQ(g_losses.load(), losses + 1);
  EXPECT_EQ(cap.Count("setConnectState: connection state SESSION_CLOSED -> SESSION_PAIRING refused"), 1u);

  ASSERT_EQ(native_init(nullptr), 0);
  // The worker reports losses of Connected only, so these stay put.
  setConnectState(KYR_Connect_PairingRequired);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_PairingRequired);
  setConnectState(KYR_Connect_Started);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_PairingRequired);
  EXPECT_EQ(cap.Count("SESSION_PAIRING -> SESSION_STARTED refused"), 1u);
  setConnectState(KYR_Connect_Failed);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Failed);
  EXPECT_EQ(cap.Count("refused"), 2u) << "allowed moves are not refused";

  native_close();
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Disconnected);
  EXPECT_EQ(g_losses.load(), losses + 1) << "no connection, nothing lost";
  kyr_modules_debug_set_extra(nullptr);
}

// Whatever state the session is in, a close ends in Disconnected and the
// next set-up starts afresh.
TEST(ServiceLifecycle, EveryStateClosesAndStartsAgain) {
  const KYR_Connect_State states[] = {KYR_Connect_Started, KYR_Connect_Disconnected, KYR_Connect_Failed,
                                      KYR_Connect_PairingRequired, KYR_Connect_Connected};
  kyrtest::LogCapture cap;
  for (KYR_Connect_State st : states) {
    ASSERT_EQ(kyr_service_wait_idle(5000), 0);
    ASSERT_EQ(native_init(nullptr), 0);
    EXPECT_EQ(kyr_connect_state(), KYR_Connect_Started);
    setConnectState(st);
    native_close();
    ASSERT_EQ(kyr_service_wait_idle(5000), 0) << kyr_connect_state_name(st);
    EXPECT_EQ(kyr_connect_state(), KYR_Connect_Disconnected) << kyr_connect_state_name(st);
  }
  EXPECT_EQ(cap.Count("refused"), 0u);
}

struct TimedHit {
  std::atomic<int> calls{0};
  std::atomic<bool> onDispatchThread{true};
  std::chrono::steady_clock::time_point at;
  std::mutex mu;
  std::vector<int> order;
};

void timed_fn(void *arg) {
  auto *h = static_cast<TimedHit *>(arg);
  char name[32] = "";
  pthread_getname_np(pthread_self(), name, sizeof name);
  if (std::string(name) != "kyr-dispatch") h->onDispatchThread = false;
  h->at = std::chrono::steady_clock::now();
  ++h->calls;
}

struct Ordered {
  TimedHit *hit;
  int id;
};
void ordered_fn(void *arg) {
  auto *o = static_cast<Ordered *>(arg);
  std::lock_guard<std::mutex> g(o->hit->mu);
  o->hit->order.push_back(o->id);
}

bool wait_until(const std::function<bool()> &pred, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ServiceTimedCallback, RunsOnceOnTheDispatchThreadAfterItsDelay) {
  if (kyr_service_dispatch_threads_started() == 0) {
    TimedHit early;
    EXPECT_EQ(requestTimedCallback(timed_fn, &early, nullptr), -1) << "no dispatch thread yet";
  }
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  ASSERT_EQ(native_init(nullptr), 0);

  TimedHit now, later;
  struct timeval delay = {0, 150000};
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(requestTimedCallback(timed_fn, &later, &delay), 0);
  ASSERT_EQ(requestTimedCallback(timed_fn, &now, nullptr), 0);
  ASSERT_TRUE(wait_until([&] { return now.calls == 1 && later.calls == 1; }, 3000ms));
  EXPECT_TRUE(now.onDispatchThread);
  EXPECT_TRUE(later.onDispatchThread);
  EXPECT_LT(now.at - t0, 1000ms);  // promptly, with room for a loaded machine
  EXPECT_GE(later.at - t0, 150ms);
  EXPECT_EQ(requestTimedCallback(nullptr, nullptr, nullptr), -1);

  // Shorter delays run first, whatever order they were asked in.
  TimedHit seq;
  Ordered o[3] = {{&seq, 3}, {&seq, 1}, {&seq, 2}};
  struct timeval d3 = {0, 60000}, d1 = {0, 20000}, d2 = {0, 40000};
  requestTimedCallback(ordered_fn, &o[0], &d3);
  requestTimedCallback(ordered_fn, &o[1], &d1);
  requestTimedCallback(ordered_fn, &o[2], &d2);
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard<std::mutex> g(seq.mu);
    return seq.order.size() == 3;
  }, 3000ms));
  EXPECT_EQ(seq.order, (std::vector<int>{1, 2, 3}));

  native_close();
  EXPECT_EQ(kyr_service_wait_idle(5000), 0);
}

TEST(ServiceTimedCallback, ManyThreadsRequestingAtOnceEachRunOnce) {
  ASSERT_EQ(kyr_service_wait_idle(5000), 0);
  ASSERT_EQ(native_init(nullptr), 0);
  const int kThreads = 4, kEach = 250;
  std::vector<TimedHit> hits(kThreads * kEach);
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kEach; i++) {
        struct timeval d = {0, (i % 5) * 1000};
        EXPECT_EQ(requestTimedCallback(timed_fn, &hits[t * kEach + i], i % 2 ? &d : nullptr), 0);
      }
    });
  for (auto &t : ts) t.join();
  ASSERT_TRUE(wait_until([&] {
    for (auto &h : hits)
      if (h.calls.load() == 0) return false;
    return true;
  }, 5000ms));
  std::this_thread::sleep_for(20ms);
  for (auto &h : hits) {
    EXPECT_EQ(h.calls.load(), 1);
    EXPECT_TRUE(h.onDispatchThread);
  }
  native_close();
  EXPECT_EQ(kyr_service_wait_idle(5000), 0);
}

}  // namespace
