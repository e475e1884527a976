// Synthetic notifications end to end inside the process: the queue, its
// wake-up thread, delivery through the shared registry of this (test)
// thread, merging into the virtual records, and withdrawing the registry
// while a delivery runs. Each test runs in its own process.
#include <gtest/gtest.h>
#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "csapi/client/cs_records.h"
#include "csapi/client/csapi_callback.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"
#include "support/log_capture.h"

namespace {

using Clock = std::chrono::steady_clock;

// One callback call as seen by a test.
struct Got {
  std::string kind;
  unsigned flags;
  int64_t key; // volume, level, state, numTerms, source ... of the record
  uintptr_t userDefined;
  Clock::time_point at;
};

struct Recorder {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<Got> got;
  void add(const char *kind, unsigned flags, int64_t key, uintptr_t ud) {
    std::lock_guard<std::mutex> g(mu);
    got.push_back({kind, flags, key, ud, Clock::now()});
    cv.notify_all();
  }
  // Waits (bounded) until n calls arrived; a copy of them.
  std::vector<Got> wait(size_t n, int ms = 5000) {
    std::unique_lock<std::mutex> g(mu);
    cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return got.size() >= n; });
    return got;
  }
};

Recorder g_rec;

void onAudio(const CSAudio *r, CSAudioFields f, uintptr_t ud) { g_rec.add("audio", f, r->volume, ud); }
void onTerm(const CSTerm *r, CSTermFields f, uintptr_t ud) { g_rec.add("term", f, r->state, ud); }
void onLayout(const CSVideoOutLayout *r, CSVideoOutLayoutFields f, uintptr_t ud) {
  g_rec.add("layout", f, r->PIPMode, ud);
}
void onCap(const CSVideoOutLayoutCap *r, CSVideoOutLayoutCapFields f, uintptr_t ud) {
  g_rec.add("cap", f, r->monitorLayoutCap, ud);
}
void onConf(const CSConf *r, CSConfFields f, uintptr_t ud) { g_rec.add("conf", f, r->numTerms, ud); }
void onGroup(const CSCameraFarGroup *r, CSCameraFarGroupFields f, uintptr_t ud) { g_rec.add("group", f, r->id, ud); }
void onCamera(const CSCamera *r, CSCameraFields f, uintptr_t ud) { g_rec.add("camera", f, r->source, ud); }

template <typename F>
csCallbackFunc Cb(F *f) {
  return reinterpret_cast<csCallbackFunc>(f);
}

class TestHooksQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, csCallbackShareThreadRegistry());
    ASSERT_GT(csCallbackAdd(0, "csAudioChangedCB", Cb(&onAudio), 0x51), 0);
  }
  void TearDown() override { csCallbackUnshareThreadRegistry(); }

  // The next processed entries (bounded wait).
  std::vector<csapi_test_delivery> Deliveries(size_t n) {
    std::vector<csapi_test_delivery> out;
    auto end = Clock::now() + std::chrono::seconds(5);
    while (out.size() < n && Clock::now() < end) {
      csapi_test_delivery d[64];
      int k = csapi_client_test_take_deliveries(d, 64);
      out.insert(out.end(), d, d + k);
      if (out.size() < n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out;
  }
};

int64_t MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

TEST_F(TestHooksQueue, DelayZeroArrivesAfterTheSettlingPause) {
  auto t0 = Clock::now();
  ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, 35, 0));
  auto got = g_rec.wait(1);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ("audio", got[0].kind);
  EXPECT_EQ(unsigned(CSAUDIO_VOLUME_FIELD), got[0].flags);
  EXPECT_EQ(35, got[0].key);
  EXPECT_EQ(0x51u, got[0].userDefined);
  EXPECT_GE(MsBetween(t0, got[0].at), 90);
  EXPECT_LT(MsBetween(t0, got[0].at), 3000);
  auto d = Deliveries(1);
  ASSERT_EQ(1u, d.size());
  EXPECT_EQ(TESTCB_AUDIO_CHANGED, d[0].type);
  EXPECT_EQ(1, d[0].callbacks);
}

TEST_F(TestHooksQueue, LaterDeadlinesComeLaterAndEqualOnesInQueueOrder) {
  auto t0 = Clock::now();
  ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, 1, 1500));
  for (int v = 2; v <= 6; v++) ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, v, 0));
  auto got = g_rec.wait(6, 8000);
  ASSERT_EQ(6u, got.size());
  for (int i = 0; i < 5; i++) EXPECT_EQ(i + 2, got[i].key);
  EXPECT_EQ(1, got[5].key);
  EXPECT_GE(MsBetween(t0, got[5].at), 1400);
  EXPECT_LT(MsBetween(t0, got[5].at), 6000);
  EXPECT_LT(MsBetween(t0, got[4].at), 1400);
}

TEST_F(TestHooksQueue, NotificationWithoutCallbacksIsDroppedWithWarning) {
  kyrtest::LogCapture log;
  ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIOOUT_VOLUME, 7, 0));
  auto d = Deliveries(1);
  ASSERT_EQ(1u, d.size());
  EXPECT_EQ(TESTCB_AUDIOOUT_CHANGED, d[0].type);
  EXPECT_EQ(-1, d[0].callbacks);
  EXPECT_EQ(1u, log.Count("callback:process_test_cb_q NO callback_lookups found to process TESTCB_AUDIOOUT_CHANGED_CB"));
  EXPECT_TRUE(g_rec.wait(1, 50).empty());
}

TEST_F(TestHooksQueue, OnlyFlaggedFieldsMergeIntoTheVirtualRecord) {
  kyrtest::LogCapture log;
  csLogLocalEnable(1);
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  CSAudio before;
  csapi_client_test_virtual_get(TESTCB_AUDIO_CHANGED, &before);
  CSAudio rec = before;
  rec.volume = before.volume + 17;  // not flagged: must not stick
  rec.muted = 1;
  ASSERT_EQ(0, callback_test_post(TESTCB_AUDIO_CHANGED, &rec, CSAUDIO_MUTED_FIELD, 0));
  auto got = g_rec.wait(1);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(before.volume + 17, got[0].key);  // the callback sees the record as queued
  CSAudio after;
  csapi_client_test_virtual_get(TESTCB_AUDIO_CHANGED, &after);
  EXPECT_EQ(1u, after.muted);
  EXPECT_EQ(before.volume, after.volume);
  EXPECT_EQ(1u, log.Count("csAudioChangedCBClient CSAUDIO_MUTED_FIELD = 1"));
  EXPECT_EQ(0u, log.Count("CSAUDIO_VOLUME_FIELD"));
  int kyr = -1, emu = -1;
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioChangedCBClient", CSAPI_TEST_SCOPE_ALL, &kyr, &emu));
  EXPECT_EQ(0, kyr);
  EXPECT_EQ(1, emu);
  csLogLocalEnable(0);
}

TEST_F(TestHooksQueue, BadEntriesAreRefused) {
  CSAudio a{};
  EXPECT_EQ(-1, callback_test_post(TESTCB_TYPE_COUNT, &a, 0, 0));
  EXPECT_EQ(-1, callback_test_post(-1, &a, 0, 0));
  EXPECT_EQ(-1, callback_test_post(TESTCB_AUDIO_CHANGED, nullptr, 0, 0));
  // A negative delay counts as none.
  auto t0 = Clock::now();
  ASSERT_EQ(0, callback_test_post(TESTCB_AUDIO_CHANGED, &a, 0, -5000));
  auto got = g_rec.wait(1);
  ASSERT_EQ(1u, got.size());
  EXPECT_LT(MsBetween(t0, got[0].at), 3000);
}

TEST_F(TestHooksQueue, ScriptedIncomingCallArrivesInOrder) {
  ASSERT_GT(csCallbackAdd(0, "csTermChangedCB", Cb(&onTerm), 1), 0);
  ASSERT_GT(csCallbackAdd(0, "csVideoOutLayoutChangedCB", Cb(&onLayout), 1), 0);
  ASSERT_GT(csCallbackAdd(0, "csVideoOutLayoutCapChangedCB", Cb(&onCap), 1), 0);
  ASSERT_GT(csCallbackAdd(0, "csConfChangedCB", Cb(&onConf), 1), 0);
  ASSERT_GT(csCallbackAdd(0, "csCameraFarGroupAddedCB", Cb(&onGroup), 1), 0);
  ASSERT_GT(csCallbackAdd(0, "csCameraAddedCB", Cb(&onCamera), 1), 0);
  ASSERT_EQ(0, csapi_client_test_emulate_incoming_call(0));
  struct Want {
    const char *kind;
    unsigned flags;
    int64_t key; // -1: any
  };
  const Want want[] = {{"term", 0x2, 7},      {"term", 0xA00, 4},    {"layout", 0x16, -1}, {"cap", 0x16, -1},
                       {"layout", 0x16, -1},  {"cap", 0x12, -1},     {"conf", 0x80, 1},    {"layout", 0x16, -1},
                       {"cap", 0x12, -1},     {"term", 0x200, 5},    {"group", 0x100, -1}, {"term", 0x4, 5},
                       {"term", 0x200, 0},    {"camera", 0x100000, 0}, {"camera", 0x100000, 3},
                       {"camera", 0x100000, 2}};
  const size_t n = sizeof want / sizeof want[0];
  auto got = g_rec.wait(n);
  ASSERT_EQ(n, got.size());
  for (size_t i = 0; i < n; i++) {
    EXPECT_EQ(want[i].kind, got[i].kind) << i;
    EXPECT_EQ(want[i].flags, got[i].flags) << i;
    if (want[i].key >= 0) {
      EXPECT_EQ(want[i].key, got[i].key) << i;
    }
  }
  CSTerm term;
  csapi_client_test_virtual_get(TESTCB_TERM_CHANGED, &term);
  EXPECT_EQ(0u, term.state);
  EXPECT_NE(0u, term.connectTime);
}

// ---- threads ----

std::mutex g_slowMu;
std::condition_variable g_slowCv;
bool g_inside = false, g_done = false;

void onSlowAudio(const CSAudio *, CSAudioFields, uintptr_t) {
  {
    std::lock_guard<std::mutex> g(g_slowMu);
    g_inside = true;
  }
  g_slowCv.notify_all();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::lock_guard<std::mutex> g(g_slowMu);
  g_done = true;
}

TEST(TestHooksThreads, WithdrawingTheRegistryWaitsForARunningDelivery) {
  ASSERT_EQ(0, csCallbackShareThreadRegistry());
  ASSERT_GT(csCallbackAdd(0, "csAudioChangedCB", Cb(&onSlowAudio), 0), 0);
  ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_MUTE, 1, 0));
  {
    std::unique_lock<std::mutex> g(g_slowMu);
    ASSERT_TRUE(g_slowCv.wait_for(g, std::chrono::seconds(5), [] { return g_inside; }));
  }
  csCallbackUnshareThreadRegistry();
  {
    std::lock_guard<std::mutex> g(g_slowMu);
    EXPECT_TRUE(g_done) << "the registry was withdrawn while its callback still ran";
  }
  // Withdrawn: the next one finds no callbacks.
  kyrtest::LogCapture log;
  ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_MUTE, 0, 0));
  auto end = Clock::now() + std::chrono::seconds(5);
  while (log.Count("TESTCB_AUDIO_CHANGED_CB") == 0 && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(1u, log.Count("NO callback_lookups found to process TESTCB_AUDIO_CHANGED_CB"));
}

void onRequeue(const CSAudio *r, CSAudioFields f, uintptr_t ud) {
  g_rec.add("audio", f, r->volume, ud);
  // A callback may queue more: the queue's lock is not held meanwhile.
  if (r->volume < 3) (void)csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, (int)r->volume + 1, 0);
}

TEST(TestHooksThreads, CallbacksMayQueueFurtherNotifications) {
  ASSERT_EQ(0, csCallbackShareThreadRegistry());
  ASSERT_GT(csCallbackAdd(0, "csAudioChangedCB", Cb(&onRequeue), 0), 0);
  ASSERT_EQ(0, csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, 1, 0));
  auto got = g_rec.wait(3);
  ASSERT_EQ(3u, got.size());
  for (int i = 0; i < 3; i++) EXPECT_EQ(i + 1, got[i].key);
  csCallbackUnshareThreadRegistry();
}

TEST(TestHooksThreads, ManyThreadsQueueAndCountAtOnce) {
  ASSERT_EQ(0, csCallbackShareThreadRegistry());
  ASSERT_GT(csCallbackAdd(0, "csAudioChangedCB", Cb(&onAudio), 0), 0);
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; t++)
    ts.emplace_back([t] {
      for (int i = 0; i < 10; i++) {
        (void)csapi_client_test_emulate_audio(CSAPI_TEST_AUDIO_VOLUME, t * 100 + i, i % 3);
        csapi_client_test_count("csAudioGet");
      }
    });
  for (auto &t : ts) t.join();
  auto got = g_rec.wait(40);
  EXPECT_EQ(40u, got.size());
  // Each thread's entries keep their order: equal or later deadlines.
  int last[4] = {-1, -1, -1, -1};
  for (const Got &g : got) {
    int t = (int)g.key / 100;
    ASSERT_LT(t, 4);
    EXPECT_LT(last[t], (int)g.key % 100);
    last[t] = (int)g.key % 100;
  }
  int kyr = -1, emu = -1;
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioGet", CSAPI_TEST_SCOPE_ALL, &kyr, nullptr));
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioChangedCBClient", CSAPI_TEST_SCOPE_ALL, nullptr, &emu));
  EXPECT_EQ(40, kyr);
  EXPECT_EQ(40, emu);
  csCallbackUnshareThreadRegistry();
}

}  // namespace
