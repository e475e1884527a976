// Callback registries and the notification ring, driven directly (no
// connection needed): identity of entries, the 100-entry limit, private
// thread registries, wrapping at the ring's end, oversize messages, and a
// reader the writer laps.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "csapi/client/csapi.h"
#include "csapi/client/csapi_internal.h"
#include "ipc/libccom/ccom.h"
#include "ring_helpers.h"
#include "support/log_capture.h"

namespace {

using ringtest::drain;
using ringtest::make_note;
using ringtest::on_fresh_thread;
using ringtest::post;

void cbA(const void *, unsigned int, uintptr_t) {}
void cbB(const void *, unsigned int, uintptr_t) {}

int entries_for(const char *name, int global) {
  csCallbackEntry tab[CS_CALLBACK_TABLE_ENTRIES];
  if (callback_lookup_client(name, tab, global) != 0) return -1;
  int n = 0;
  for (auto &e : tab)
    if (e.func) n++;
  return n;
}

TEST(Registry, IdentityIsFuncUserDataAndInstance) {
  on_fresh_thread([] {
    EXPECT_EQ(csCallbackAdd(0, "aCB", cbA, 1), 1);
    EXPECT_EQ(csCallbackAdd(0, "aCB", cbA, 1), 1);
    EXPECT_EQ(entries_for("aCB", 0), 1);
    EXPECT_EQ(csCallbackAdd(0, "aCB", cbA, 2), 1);
    EXPECT_EQ(csCallbackAdd(1, "aCB", cbA, 1), 1);
    EXPECT_EQ(csCallbackAdd(0, "aCB", cbB, 1), 1);
    EXPECT_EQ(entries_for("aCB", 0), 4);
    EXPECT_EQ(csCallbackAdd(0, "bCB", cbA, 1), 2);
    // Removing every entry of a name removes the name; adding again starts afresh.
    EXPECT_EQ(csCallbackDelete(0, "bCB", cbA, 1), 1);
    EXPECT_EQ(entries_for("bCB", 0), -1);
    EXPECT_EQ(csCallbackAdd(0, "bCB", cbB, 9), 2);
    EXPECT_EQ(entries_for("bCB", 0), 1);
  });
}

TEST(Registry, DeletingWhatIsNotThereWarnsAndChangesNothing) {
  on_fresh_thread([] {
    kyrtest::LogCapture log;
    ASSERT_EQ(csCallbackAdd(0, "aCB", cbA, 1), 1);
    EXPECT_EQ(csCallbackDelete(0, "aCB", cbA, 2), 1);
    EXPECT_EQ(csCallbackDelete(0, "noSuchCB", cbA, 1), 1);
    EXPECT_EQ(entries_for("aCB", 0), 1);
    EXPECT_EQ(log.Count("not found in the callback table"), 1u);
    EXPECT_EQ(log.Count("callback function table not found"), 1u);
  });
}

TEST(Registry, TheHundredAndFirstCallbackIsRefused) {
  on_fresh_thread([] {
    kyrtest::LogCapture log;
    for (uintptr_t i = 0; i < CS_CALLBACK_TABLE_ENTRIES; i++) ASSERT_EQ(csCallbackAdd(0, "fullCB", cbA, i), 1);
    EXPECT_EQ(csCallbackAdd(0, "fullCB", cbA, 1000), -1);
    EXPECT_EQ(log.Count("out of entries in callback table for:fullCB"), 1u);
    // A freed entry can be taken again.
    EXPECT_EQ(csCallbackDelete(0, "fullCB", cbA, 50), 1);
    EXPECT_EQ(csCallbackAdd(0, "fullCB", cbA, 1000), 1);
  });
}

TEST(Registry, ThreadRegistriesArePrivateAndTheGlobalOneIsShared) {
  on_fresh_thread([] { ASSERT_EQ(csCallbackAdd(0, "privateCB", cbA, 1), 1); });
  on_fresh_thread([] { EXPECT_EQ(entries_for("privateCB", 0), -1); });
  on_fresh_thread([] { ASSERT_GE(csGlobalCallbackAdd(0, "sharedCB", cbA, 1), 1); });
  on_fresh_thread([] {
    EXPECT_EQ(entries_for("sharedCB", 1), 1);
    EXPECT_GE(csGlobalCallbackDelete(0, "sharedCB", cbA, 1), 0);
  });
  EXPECT_EQ(entries_for("sharedCB", 1), -1);
}

TEST(Ring, WrapsBeforeTheLimitAndReadersFollow) {
  on_fresh_thread([] {
    ccom_msg_t *m = ccom_client_msg_alloc();
    (void)drain(m);
    auto v = csapi_detail::ring_view();
    // Fill to just short of the limit, then post one that cannot fit there.
    const size_t rec = 1000;
    std::vector<std::string> sent;
    int seq = 0;
    while (csapi_detail::ring_view().writePos + (int)rec + 8 <= CSAPI_NOTIFY_RING_LIMIT) {
      sent.push_back(make_note(seq++, rec));
      post(seq % 10, sent.back());
      // Keep up so nothing is lost while filling.
      auto got = drain(m);
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0], sent.back());
    }
    int before = csapi_detail::ring_view().writePos;
    ASSERT_GT(before + (int)rec + 8, CSAPI_NOTIFY_RING_LIMIT);
    sent.push_back(make_note(seq++, rec));
    post(7, sent.back());
    v = csapi_detail::ring_view();
    EXPECT_EQ(v.writePos, (int)rec + 8) << "the record went to offset 0";
    std::vector<int> insts;
    auto got = drain(m, &insts);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], sent.back());
    EXPECT_EQ(insts[0], 7);
    ccom_client_msg_free(m);
  });
}

TEST(Ring, AWrappingRecordThatCoversItsOwnMarkIsStillReadWhole) {
  on_fresh_thread([] {
    ccom_msg_t *m = ccom_client_msg_alloc();
    (void)drain(m);
    // Bring the write position to a few thousand bytes, reading as we go, so
    // this reader waits exactly at the write position.
    int seq = 0;
    while (csapi_detail::ring_view().writePos < 2000 || csapi_detail::ring_view().writePos > 30000) {
      post(1, make_note(seq++, 900));
      (void)drain(m);
    }
    int w = csapi_detail::ring_view().writePos;
    // Too long to fit behind w, and longer than w: written at 0 over the mark.
    std::string big = make_note(seq++, CSAPI_NOTIFY_RING_LIMIT - 1500);
    ASSERT_GT((int)big.size() + 8, CSAPI_NOTIFY_RING_LIMIT - w);
    ASSERT_GT((int)big.size() + 8, w);
    post(2, big);
    post(3, make_note(seq++, 50));
    std::vector<int> insts;
    auto got = drain(m, &insts);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], big);
    EXPECT_EQ(insts, (std::vector<int>{2, 3}));
    ccom_client_msg_free(m);
  });
}

TEST(Ring, OversizeMessageIsDroppedWithAnError) {
  on_fresh_thread([] {
    kyrtest::LogCapture log;
    ccom_msg_t *m = ccom_client_msg_alloc();
    (void)drain(m);
    auto before = csapi_detail::ring_view();
    post(0, make_note(1, CSAPI_NOTIFY_RING_LIMIT - 7));  // L + 8 = limit + 1
    auto after = csapi_detail::ring_view();
    EXPECT_EQ(after.writeSeq, before.writeSeq);
    EXPECT_EQ(log.Count("does not fit in the queue, dropped"), 1u);
    auto ok = make_note(2, CSAPI_NOTIFY_RING_LIMIT - 8);  // exactly fits
    post(0, ok);
    auto got = drain(m);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], ok);
    ccom_client_msg_free(m);
  });
}

TEST(Ring, ALappedReaderResynchronisesAndCountsWhatItLost) {
  on_fresh_thread([] {
    kyrtest::LogCapture log;
    ccom_msg_t *m = ccom_client_msg_alloc();
    (void)drain(m);
    // Sizes vary so record boundaries of one lap never line up with the next.
    // This thread posts and reads, so the writer does not wait for it.
    const int total = 3000;
    std::vector<std::string> sent;
    for (int i = 0; i < total; i++) {
      sent.push_back(make_note(i, 300 + (i * 37) % 700));
      post(i % 10, sent.back());
    }
    uint64_t lostBefore = csapi_detail::ring_view().lost;
    std::vector<std::string> got = drain(m);
    ASSERT_FALSE(got.empty());
    auto warnings = log.Find("notifications lost");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].prio, 5);  // WARNING
    unsigned long long lost = 0;
    sscanf(warnings[0].text.c_str() + warnings[0].text.find("overran this reader, ") + 21, "%llu", &lost);
    // Everything read is intact, in order, and ends with the newest; what was
    // read plus what was reported lost is everything that was posted.
    EXPECT_EQ(lost + got.size(), (size_t)total);
    EXPECT_EQ(csapi_detail::ring_view().lost - lostBefore, lost) << "the queue's own count";
    for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], sent[lost + i]) << "record " << i;
    ccom_client_msg_free(m);
  });
}

TEST(Ring, EachRegistryReadsEveryRecord) {
  ccom_msg_t *m0 = ccom_client_msg_alloc();
  (void)drain(m0);  // this thread's registry is now at the newest position
  on_fresh_thread([] {});
  std::string a = make_note(1, 80), b = make_note(2, 90);
  post(3, a);
  post(4, b);
  on_fresh_thread([&] {
    // A fresh registry starts at the oldest intact record, so it sees at least these.
    ccom_msg_t *m = ccom_client_msg_alloc();
    auto got = drain(m);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[got.size() - 2], a);
    EXPECT_EQ(got.back(), b);
    ccom_client_msg_free(m);
  });
  auto got = drain(m0);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], a);
  EXPECT_EQ(got[1], b);
  ccom_client_msg_free(m0);
}

TEST(Ring, ARegistryThatSkipsTheQueuedStartsWithTheNextRecord) {
  std::string stale = make_note(5, 70), fresh = make_note(6, 75);
  post(1, stale);
  on_fresh_thread([&] {
    ASSERT_EQ(csCallbackSkipQueued(), 0);
    ccom_msg_t *m = ccom_client_msg_alloc();
    EXPECT_TRUE(drain(m).empty()) << "nothing queued before the skip is delivered";
    post(2, fresh);
    auto got = drain(m);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], fresh);
    ccom_client_msg_free(m);
  });
}

TEST(Ring, WaitTimesOutAfterItsTime) {
  on_fresh_thread([] {
    ccom_msg_t *m = ccom_client_msg_alloc();
    (void)drain(m);
    int inst;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(callback_waitmsg(&inst, m, 200, 0), CSAPI_ERR_TIMEOUT);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 190);
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(callback_waitmsg(nullptr, m, 0, 0), -1);
    EXPECT_EQ(callback_waitmsg(&inst, m, 0, 7), -10);
    ccom_client_msg_free(m);
  });
}

}  // namespace
