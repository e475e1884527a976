// The notification queue under load, driven directly (no connection): a
// processing reader loses nothing however far a burst outruns the ring, an
// idle reader costs the writer nothing, and a reader that stops loses the
// oldest notifications with a count while the writer pauses at most once.
// Run under ThreadSanitizer too (label "concurrency").
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "csapi/client/csapi.h"
#include "csapi/client/csapi_internal.h"
#include "ring_helpers.h"
#include "support/log_capture.h"

namespace {

using ringtest::make_note;
using ringtest::note_seq;
using ringtest::post;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A thread reading its own registry. It takes its place in the queue before
// the constructor returns, then reads until told to stop; pause() makes it
// stop reading (without waiting on the queue) until resume().
class Reader {
 public:
  explicit Reader(int slowEvery = 0) : slowEvery_(slowEvery) {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> g(mu_);
    cv_.wait(g, [this] { return synced_; });
  }
  ~Reader() {
    {
      std::lock_guard<std::mutex> g(mu_);
      stop_ = true;
      paused_ = false;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Pause() {
    std::unique_lock<std::mutex> g(mu_);
    pauseAsked_ = true;
    cv_.wait(g, [this] { return paused_; });
  }
  void Resume() {
    {
      std::lock_guard<std::mutex> g(mu_);
      pauseAsked_ = false;
      paused_ = false;
    }
    cv_.notify_all();
  }
  // Waits up to ms for the last sequence number read to be seq.
  bool WaitFor(int seq, int ms) {
    std::unique_lock<std::mutex> g(mu_);
    return cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return !seqs_.empty() && seqs_.back() == seq; });
  }
  std::vector<int> Seqs() {
    std::lock_guard<std::mutex> g(mu_);
    return seqs_;
  }

 private:
  void Run() {
    ccom_msg_t *m = ccom_client_msg_alloc();
    int inst;
    (void)callback_waitmsg(&inst, m, 0, 0);  // takes the newest position
    while (callback_waitmsg(&inst, m, 0, 0) == 0) {
    }
    {
      std::lock_guard<std::mutex> g(mu_);
      synced_ = true;
    }
    cv_.notify_all();
    for (long n = 0;; n++) {
      {
        std::unique_lock<std::mutex> g(mu_);
        if (pauseAsked_) {
          paused_ = true;
          cv_.notify_all();
          cv_.wait(g, [this] { return !paused_; });
        }
        if (stop_) break;
      }
      if (callback_waitmsg(&inst, m, 20, 0) != 0) continue;
      int seq = note_seq(m->data);
      {
        std::lock_guard<std::mutex> g(mu_);
        seqs_.push_back(seq);
      }
      cv_.notify_all();
      // A reader slower than the writer: the ring fills and the writer waits.
      if (slowEvery_ && n % slowEvery_ == 0) usleep(200);
    }
    ccom_client_msg_free(m);
  }

  int slowEvery_;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool synced_ = false, stop_ = false, pauseAsked_ = false, paused_ = false;
  std::vector<int> seqs_;
};

// Posts n notifications of about size bytes numbered from 0; the longest
// single post in *maxMs, the number taking longer than slowMs in *slow.
double burst(int n, size_t size, double *maxMs = nullptr, int *slow = nullptr, double slowMs = 50) {
  std::vector<std::string> notes;
  notes.reserve(n);
  for (int i = 0; i < n; i++) notes.push_back(make_note(i, size + (size_t)(i * 37) % 200));
  ccom_msg_t *m = ccom_client_msg_alloc();
  double longest = 0;
  int slowPosts = 0;
  auto t0 = Clock::now();
  for (const std::string &s : notes) {
    ccom_msg_memcpy(m, s.data(), (uint32_t)s.size());
    auto p0 = Clock::now();
    callback_postmsg(1, "ringCB", m);
    double d = ms_since(p0);
    longest = std::max(longest, d);
    if (d > slowMs) slowPosts++;
  }
  double total = ms_since(t0);
  ccom_client_msg_free(m);
  if (maxMs) *maxMs = longest;
  if (slow) *slow = slowPosts;
  return total;
}

bool in_order_from_zero(const std::vector<int> &seqs, int n) {
  if ((int)seqs.size() != n) return false;
  for (int i = 0; i < n; i++)
    if (seqs[i] != i) return false;
  return true;
}

class Queue : public ::testing::Test {
 protected:
  void TearDown() override { csapi_detail::ring_set_patience(0, 0); }
};

TEST_F(Queue, ABurstManyTimesTheRingReachesAProcessingReaderWhole) {
  kyrtest::LogCapture log;
  Reader r(/*slowEvery=*/50);
  uint64_t lost0 = csapi_detail::ring_view().lost;
  // About 20 MB, twenty times the ring and three hundred times the old one.
  const int n = 20000;
  double ms = burst(n, 1000);
  ASSERT_TRUE(r.WaitFor(n - 1, 10000));
  EXPECT_TRUE(in_order_from_zero(r.Seqs(), n)) << "read " << r.Seqs().size() << " of " << n;
  EXPECT_EQ(csapi_detail::ring_view().lost, lost0);
  EXPECT_EQ(log.Count("overran this reader"), 0u);
  printf("burst of %d x ~1.1 KB to a slow processing reader: %.0f ms\n", n, ms);
}

TEST_F(Queue, TwoProcessingReadersBothReadEverything) {
  Reader a(/*slowEvery=*/40), b(/*slowEvery=*/0);
  uint64_t lost0 = csapi_detail::ring_view().lost;
  const int n = 5000;
  burst(n, 600);
  ASSERT_TRUE(a.WaitFor(n - 1, 10000));
  ASSERT_TRUE(b.WaitFor(n - 1, 10000));
  EXPECT_TRUE(in_order_from_zero(a.Seqs(), n));
  EXPECT_TRUE(in_order_from_zero(b.Seqs(), n));
  EXPECT_EQ(csapi_detail::ring_view().lost, lost0);
}

TEST_F(Queue, AnIdleRegistryDoesNotSlowTheWriter) {
  // A short activity window keeps the test short; a long wait bound makes
  // any wait for the idle reader plain to see.
  csapi_detail::ring_set_patience(/*activeWindowMs=*/150, /*waitBoundMs=*/3000);
  const int n = 4000;  // about 4.5 MB: the idle reader is overrun several times
  double alone;
  {
    Reader active;
    alone = burst(n, 1000);
    ASSERT_TRUE(active.WaitFor(n - 1, 10000));
  }
  Reader idle;
  idle.Pause();
  usleep(300 * 1000);  // past the activity window
  Reader active;
  double longest = 0;
  double withIdle = burst(n, 1000, &longest);
  ASSERT_TRUE(active.WaitFor(n - 1, 10000));
  EXPECT_TRUE(in_order_from_zero(active.Seqs(), n));
  EXPECT_LT(longest, 1500) << "the writer waited for the idle reader";
  printf("burst of %d with an idle and an active reader: %.1f ms, with the active one alone: %.1f ms (%.2fx)\n", n,
         withIdle, alone, withIdle / alone);
  idle.Resume();
}

TEST_F(Queue, AReaderThatStopsLosesTheOldestWithACountAndPausesTheWriterOnce) {
  kyrtest::LogCapture log;
  csapi_detail::ring_set_patience(/*activeWindowMs=*/60000, /*waitBoundMs=*/100);
  Reader r;
  r.Pause();  // still processing as far as the queue can tell
  uint64_t lost0 = csapi_detail::ring_view().lost;
  const int n = 3000;  // about 3.4 MB
  double longest = 0;
  int slow = 0;
  double total = burst(n, 1000, &longest, &slow, 50);
  EXPECT_GE(longest, 90) << "the writer did not wait for a processing reader";
  EXPECT_LT(longest, 100 + 900) << "a post waited well past its bound";
  EXPECT_EQ(slow, 1) << "after one wait ran out, the writer waits no more for that reader";
  r.Resume();
  ASSERT_TRUE(r.WaitFor(n - 1, 10000));
  std::vector<int> seqs = r.Seqs();
  auto lines = log.Find("overran this reader, ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].prio, 5);  // WARNING
  uint64_t lost = strtoull(lines[0].text.c_str() + lines[0].text.find("reader, ") + 8, nullptr, 10);
  EXPECT_EQ(csapi_detail::ring_view().lost - lost0, lost);
  // What it read is the newest stretch, whole and in order, and with what
  // was reported lost it accounts for every notification.
  ASSERT_FALSE(seqs.empty());
  EXPECT_EQ(seqs.size() + lost, (size_t)n);
  for (size_t i = 0; i < seqs.size(); i++) ASSERT_EQ(seqs[i], (int)(lost + i)) << "record " << i;
  printf("stopped reader: %d posts in %.0f ms, longest %.0f ms, %llu lost\n", n, total, longest,
         (unsigned long long)lost);
}

TEST_F(Queue, AReaderThatWaitsAgainIsWaitedForAgain) {
  csapi_detail::ring_set_patience(/*activeWindowMs=*/60000, /*waitBoundMs=*/100);
  Reader r;
  r.Pause();
  int slow = 0;
  burst(2000, 1000, nullptr, &slow);
  EXPECT_EQ(slow, 1);
  r.Resume();
  ASSERT_TRUE(r.WaitFor(1999, 10000));
  // It processes again, so the next overrun is waited for once more, and a
  // reader that keeps up loses nothing.
  uint64_t lost0 = csapi_detail::ring_view().lost;
  burst(2000, 1000);
  ASSERT_TRUE(r.WaitFor(1999, 10000));
  EXPECT_EQ(csapi_detail::ring_view().lost, lost0);
  r.Pause();
  burst(2000, 1000, nullptr, &slow);
  EXPECT_EQ(slow, 1);
  r.Resume();
}

}  // namespace
