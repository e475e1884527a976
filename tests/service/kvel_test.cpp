// The event loop on its own thread: timer order, expiry arithmetic, the
// watch table, nfds, persistent and one-shot watches, select failures.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/kvel.h"
#include "support/log_capture.h"

namespace {

using namespace std::chrono_literals;

// A clock the test moves by hand, so expiries are exact.
std::atomic<long long> g_fakeUs{0};
void fake_clock(struct timeval *now) {
  long long us = g_fakeUs.load();
  now->tv_sec = (time_t)(us / 1000000);
  now->tv_usec = (suseconds_t)(us % 1000000);
}

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) {
      r = fds[0];
      w = fds[1];
    }
  }
  ~Pipe() {
    if (r >= 0) close(r);
    if (w >= 0) close(w);
  }
  void Put() { ASSERT_EQ(write(w, "x", 1), 1); }
  void Drain() {
    char buf[64];
    while (read(r, buf, sizeof buf) > 0) {
    }
  }
};

// Records the order callbacks ran in, by label.
struct Recorder {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> order;
  void Add(const std::string &s) {
    std::lock_guard<std::mutex> g(mu);
    order.push_back(s);
    cv.notify_all();
  }
  bool WaitFor(size_t n, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> g(mu);
    return cv.wait_for(g, limit, [&] { return order.size() >= n; });
  }
  std::vector<std::string> Get() {
    std::lock_guard<std::mutex> g(mu);
    return order;
  }
};

struct Labelled {
  kvel_event ev;
  std::string label;
  Recorder *rec;
};

void record_cb(int, short events, void *arg) {
  auto *l = static_cast<Labelled *>(arg);
  EXPECT_EQ(events, 0);
  l->rec->Add(l->label);
}

// Runs the loop on its own thread. The loop only ends on a select() failure,
// so Stop() arms a timer whose callback (on the loop thread) closes a watched
// descriptor; the next select() then fails with EBADF.
class LoopFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    kvel_set_clock(nullptr);
    kvel_event_init();
    kvel_event_set(&wake_ev_, wake_.r, 1, &LoopFixture::OnWake, this);
    kvel_event_add(&wake_ev_);
    poisonR_ = dup(poison_.r);
    kvel_event_set(&poison_ev_, poisonR_, 1, nullptr, nullptr);
    kvel_event_add(&poison_ev_);
  }
  void TearDown() override {
    if (loop_.joinable()) Stop();
    kvel_set_clock(nullptr);
  }
  void Start() {
    loop_ = std::thread([this] {
      kvel_event_loop();
      returned_ = true;
    });
  }
  void Wake() { wake_.Put(); }
  void Stop() {
    kvel_event_set(&stop_ev_, -1, 0, &LoopFixture::OnStop, this);
    struct timeval zero = {0, 0};
    kvel_timer_add(&stop_ev_, &zero);
    g_fakeUs += 1;  // strictly past the stop timer's expiry under a fake clock
    Wake();
    auto until = std::chrono::steady_clock::now() + 5s;
    while (!returned_ && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(returned_) << "loop did not end";
    loop_.join();
  }
  static void OnWake(int, short, void *arg) { static_cast<LoopFixture *>(arg)->wake_.Drain(); }
  static void OnStop(int, short, void *arg) {
    auto *self = static_cast<LoopFixture *>(arg);
    close(self->poisonR_);
  }

  Pipe wake_, poison_;
  int poisonR_ = -1;
  kvel_event wake_ev_, poison_ev_, stop_ev_;
  std::thread loop_;
  std::atomic<bool> returned_{false};
};

// Each step arms one timer (relative seconds, microseconds) after moving the
// fake clock forward; all then fire in one pass once the clock is far ahead.
struct Arm {
  const char *label;
  long long advanceUsBefore;
  long sec, usec;
};
struct OrderCase {
  const char *name;
  std::vector<Arm> arms;
  std::vector<std::string> expected;
};

void PrintTo(const OrderCase &c, std::ostream *os) { *os << c.name; }

class TimerOrder : public LoopFixture, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(TimerOrder, FiresEarliestFirstAndEqualExpiriesNewestFirst) {
  const OrderCase &c = GetParam();
  g_fakeUs = 5000000000000LL;
  kvel_set_clock(fake_clock);
  Recorder rec;
  std::vector<Labelled> timers(c.arms.size());
  for (size_t i = 0; i < c.arms.size(); i++) {
    g_fakeUs += c.arms[i].advanceUsBefore;
    timers[i].label = c.arms[i].label;
    timers[i].rec = &rec;
    kvel_event_set(&timers[i].ev, -1, 0, record_cb, &timers[i]);
    struct timeval tv = {c.arms[i].sec, c.arms[i].usec};
    kvel_timer_add(&timers[i].ev, &tv);
  }
  g_fakeUs += 100000000;  // everything is due
  Start();
  ASSERT_TRUE(rec.WaitFor(c.expected.size()));
  EXPECT_EQ(rec.Get(), c.expected);
  for (auto &t : timers) EXPECT_EQ(t.ev.next, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimerOrder,
    ::testing::Values(
        OrderCase{"EarliestFirst", {{"A", 0, 0, 300000}, {"B", 0, 0, 100000}, {"C", 0, 0, 200000}}, {"B", "C", "A"}},
        OrderCase{"EqualExpiriesNewestFirst",
                  {{"A", 0, 1, 0}, {"B", 0, 1, 0}, {"C", 0, 1, 0}},
                  {"C", "B", "A"}},
        // A zero timer armed once earlier timers are due goes after them, and
        // before a timer that was armed earlier but expires later.
        OrderCase{"ZeroTimerAfterDueTimers",
                  {{"A", 0, 0, 1000}, {"B", 0, 0, 2000}, {"D", 0, 0, 10000}, {"Z", 5000, 0, 0}},
                  {"A", "B", "Z", "D"}},
        OrderCase{"SecondsBeforeMicroseconds",
                  {{"A", 0, 1, 0}, {"B", 0, 0, 999999}, {"C", 0, 2, 5}},
                  {"B", "A", "C"}}),
    [](const ::testing::TestParamInfo<OrderCase> &i) { return std::string(i.param.name); });

struct ExpiryCase {
  long long nowUs;
  long sec, usec;
  long expSec, expUsec;
};

TEST(KvelTimer, ExpiryIsNowPlusRelativeNormalisedOnce) {
  kvel_event_init();
  const ExpiryCase cases[] = {
      {1000LL * 1000000 + 700000, 1, 500000, 1002, 200000},
      {1000LL * 1000000 + 700000, 0, 299999, 1000, 999999},
      {1000LL * 1000000 + 700000, 0, 300000, 1001, 0},
      {1000LL * 1000000, 0, 0, 1000, 0},
  };
  kvel_set_clock(fake_clock);
  for (const auto &c : cases) {
    g_fakeUs = c.nowUs;
    kvel_event ev;
    kvel_event_set(&ev, -1, 0, nullptr, nullptr);
    struct timeval tv = {c.sec, c.usec};
    kvel_timer_add(&ev, &tv);
    EXPECT_EQ(ev.fd, -1);
    EXPECT_EQ(ev.expiry.tv_sec, c.expSec);
    EXPECT_EQ(ev.expiry.tv_usec, c.expUsec);
    kvel_timer_remove(&ev);
    EXPECT_EQ(ev.next, nullptr);
    EXPECT_EQ(ev.prev, nullptr);
  }
  kvel_set_clock(nullptr);
  EXPECT_EQ(kvel_debug_timers(nullptr, 0), 0);
}

TEST(KvelTimer, NullArgumentsAndUnlinkedRemovalChangeNothing) {
  kvel_event_init();
  kvel_event ev;
  kvel_event_set(&ev, -1, 0, nullptr, nullptr);
  kvel_timer_add(&ev, nullptr);
  EXPECT_EQ(ev.next, nullptr);
  EXPECT_EQ(kvel_debug_timers(nullptr, 0), 0);
  kvel_timer_remove(nullptr);
  kvel_timer_remove(&ev);  // not linked
  EXPECT_EQ(kvel_debug_timers(nullptr, 0), 0);

  // Re-arming a linked record moves it instead of linking it twice.
  g_fakeUs = 7000000000LL;
  kvel_set_clock(fake_clock);
  struct timeval a = {5, 0}, b = {1, 0};
  kvel_event other;
  kvel_event_set(&other, -1, 0, nullptr, nullptr);
  kvel_timer_add(&ev, &a);
  kvel_timer_add(&other, &b);
  kvel_timer_add(&ev, &b);
  kvel_event *list[4];
  ASSERT_EQ(kvel_debug_timers(list, 4), 2);
  EXPECT_EQ(list[0], &ev);  // same expiry: newest first
  EXPECT_EQ(list[1], &other);
  kvel_timer_remove(&ev);
  kvel_timer_remove(&other);
  EXPECT_EQ(kvel_debug_timers(nullptr, 0), 0);
  kvel_set_clock(nullptr);
}

TEST(KvelWatch, SetFillsTheRecordAndMakesTheDescriptorNonBlocking) {
  Pipe p;
  int dummy;
  kvel_event ev;
  memset(&ev, 0x5a, sizeof ev);
  kvel_event_set(&ev, p.r, 1, nullptr, &dummy);
  EXPECT_EQ(ev.next, nullptr);
  EXPECT_EQ(ev.prev, nullptr);
  EXPECT_EQ(ev.fd, p.r);
  EXPECT_EQ(ev.slot, -1);
  EXPECT_EQ(ev.persistent, 1);
  EXPECT_EQ(ev.cb_arg, &dummy);
  EXPECT_TRUE(fcntl(p.r, F_GETFL) & O_NONBLOCK);
}

TEST(KvelWatch, NinthWatchIsIgnoredAndFirstEightStay) {
  kvel_event_init();
  Pipe pipes[9];
  kvel_event evs[9];
  int highest = 0;
  for (int i = 0; i < 9; i++) {
    kvel_event_set(&evs[i], pipes[i].r, 0, nullptr, nullptr);
    kvel_event_add(&evs[i]);
    if (i < 8 && pipes[i].r + 1 > highest) highest = pipes[i].r + 1;
  }
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ(evs[i].slot, i);
    EXPECT_EQ(kvel_debug_watch(i), &evs[i]);
    EXPECT_TRUE(kvel_debug_is_set(pipes[i].r));
  }
  EXPECT_EQ(evs[8].slot, -1);
  EXPECT_FALSE(kvel_debug_is_set(pipes[8].r));
  EXPECT_EQ(kvel_debug_nfds(), highest);
  for (auto &e : evs) kvel_event_del(&e);
}

TEST(KvelWatch, RemovingTheHighestLowersNfds) {
  kvel_event_init();
  Pipe a, b, c;
  kvel_event ea, eb, ec;
  kvel_event_set(&ea, a.r, 0, nullptr, nullptr);
  kvel_event_set(&eb, b.r, 0, nullptr, nullptr);
  kvel_event_set(&ec, c.r, 0, nullptr, nullptr);
  // Add out of order so the slots do not follow the descriptors.
  kvel_event_add(&ec);
  kvel_event_add(&ea);
  kvel_event_add(&eb);
  ASSERT_LT(a.r, b.r);
  ASSERT_LT(b.r, c.r);
  EXPECT_EQ(kvel_debug_nfds(), c.r + 1);
  kvel_event_del(&ea);  // not the highest: unchanged
  EXPECT_EQ(kvel_debug_nfds(), c.r + 1);
  EXPECT_EQ(ea.slot, -1);
  EXPECT_FALSE(kvel_debug_is_set(a.r));
  kvel_event_del(&ec);
  EXPECT_EQ(kvel_debug_nfds(), b.r + 1);
  kvel_event_del(&ec);  // not watched any more: no change
  EXPECT_EQ(kvel_debug_nfds(), b.r + 1);
  kvel_event_del(&eb);
  EXPECT_EQ(kvel_debug_nfds(), 1);
  // A freed slot is reused lowest first.
  kvel_event_add(&eb);
  EXPECT_EQ(eb.slot, 0);
  kvel_event_del(&eb);
}

TEST(KvelWatch, DescriptorOutsideTheSelectSetIsRefused) {
  kvel_event_init();
  kyrtest::LogCapture cap;
  kvel_event ev;
  kvel_event_set(&ev, FD_SETSIZE, 0, nullptr, nullptr);
  kvel_event_add(&ev);
  EXPECT_EQ(ev.slot, -1);
  EXPECT_EQ(kvel_debug_watch(0), nullptr);
  EXPECT_EQ(cap.Count("cannot be watched", "KVELEVENT"), 1u);
}

struct Counting {
  kvel_event ev;
  Pipe *pipe;
  std::atomic<int> calls{0};
  int drainAt;  // drain the pipe on this call (0: never)
};

void counting_cb(int fd, short, void *arg) {
  auto *c = static_cast<Counting *>(arg);
  EXPECT_EQ(fd, c->pipe->r);
  int n = ++c->calls;
  if (n == c->drainAt) c->pipe->Drain();
}

using KvelLoop = LoopFixture;

TEST_F(KvelLoop, PersistentWatchFiresEveryPassOneShotOnce) {
  Pipe pp, po;
  Counting persistent, oneshot;
  persistent.pipe = &pp;
  persistent.drainAt = 5;
  oneshot.pipe = &po;
  oneshot.drainAt = 0;  // stays readable, yet must not fire again
  kvel_event_set(&persistent.ev, pp.r, 1, counting_cb, &persistent);
  kvel_event_set(&oneshot.ev, po.r, 0, counting_cb, &oneshot);
  kvel_event_add(&persistent.ev);
  kvel_event_add(&oneshot.ev);
  pp.Put();
  po.Put();
  Start();
  auto until = std::chrono::steady_clock::now() + 5s;
  while (persistent.calls < 5 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(persistent.calls.load(), 5);
  EXPECT_EQ(oneshot.calls.load(), 1);
  EXPECT_EQ(oneshot.ev.slot, -1);
  EXPECT_FALSE(kvel_debug_is_set(po.r));
  EXPECT_GE(persistent.ev.slot, 0);
  EXPECT_EQ(kvel_debug_watch(persistent.ev.slot), &persistent.ev);
  Stop();
  kvel_event_del(&persistent.ev);
}

TEST_F(KvelLoop, SelectFailureLogsAndReturns) {
  kyrtest::LogCapture cap;
  Start();
  Stop();
  auto lines = cap.Find("kvel_event: select error (9)", "KVELEVENT");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].prio, KYR_LOG_ERROR);
}

void on_usr1(int) {}

TEST_F(KvelLoop, BlocksWithoutTimeoutAndRestartsAfterASignal) {
  struct sigaction sa = {};
  sa.sa_handler = on_usr1;  // no SA_RESTART: select() sees EINTR
  sigemptyset(&sa.sa_mask);
  struct sigaction old;
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
  kyrtest::LogCapture cap;
  Recorder rec;
  Start();
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(returned_);
  for (int i = 0; i < 3; i++) {
    pthread_kill(loop_.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(returned_);
  EXPECT_EQ(cap.Count("select error"), 0u);
  // Still serving: a timer armed now fires.
  Labelled t{{}, "T", &rec};
  kvel_event_set(&t.ev, -1, 0, record_cb, &t);
  struct timeval tv = {0, 1000};
  kvel_timer_add(&t.ev, &tv);
  Wake();
  EXPECT_TRUE(rec.WaitFor(1));
  Stop();
  sigaction(SIGUSR1, &old, nullptr);
}

TEST_F(KvelLoop, RemovedTimerNeverFires) {
  Recorder rec;
  Labelled keep{{}, "keep", &rec}, drop{{}, "drop", &rec};
  kvel_event_set(&keep.ev, -1, 0, record_cb, &keep);
  kvel_event_set(&drop.ev, -1, 0, record_cb, &drop);
  struct timeval a = {0, 20000}, b = {0, 10000};
  kvel_timer_add(&keep.ev, &a);
  kvel_timer_add(&drop.ev, &b);
  kvel_timer_remove(&drop.ev);
  Start();
  ASSERT_TRUE(rec.WaitFor(1));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(rec.Get(), std::vector<std::string>{"keep"});
}

// Many threads arm heap timers that free themselves when they fire; each
// must fire exactly once, whatever the interleaving with the loop.
struct SelfFreeing {
  kvel_event ev;
  std::atomic<int> *fired;
};
void self_freeing_cb(int, short, void *arg) {
  auto *s = static_cast<SelfFreeing *>(arg);
  ++*s->fired;
  delete s;
}

TEST_F(KvelLoop, TimersArmedFromManyThreadsFireOnceEach) {
  std::atomic<int> fired{0};
  Start();
  const int kThreads = 4, kEach = 200;
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kEach; i++) {
        auto *s = new SelfFreeing{{}, &fired};
        kvel_event_set(&s->ev, -1, 0, self_freeing_cb, s);
        struct timeval tv = {0, (i * 7 + t) % 3000};
        kvel_timer_add(&s->ev, &tv);
        Wake();
      }
    });
  for (auto &t : ts) t.join();
  auto until = std::chrono::steady_clock::now() + 5s;
  while (fired < kThreads * kEach && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(fired.load(), kThreads * kEach);
  EXPECT_EQ(kvel_debug_timers(nullptr, 0), 0);
}

}  // namespace
