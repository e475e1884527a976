// The 32-bit handle registry: range, resolution with size and kind checks,
// release of unknown handles, wrap-around, and use from many threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "service/kyr_handles.h"
#include "support/log_capture.h"

namespace {

TEST(Handles, RegisteredBlocksResolveOnlyWithinTheirSizeAndKind) {
  char block[64];
  const int32_t h = kyr_handle_register(block, sizeof block, KYR_HANDLE_LIST);
  ASSERT_GE(h, KYR_HANDLE_MIN);
  ASSERT_LE(h, KYR_HANDLE_MAX);
  struct Case {
    int32_t handle;
    size_t capacity;
    kyr_handle_kind kind;
    bool found;
  } cases[] = {
      {h, 0, KYR_HANDLE_LIST, true},
      {h, 64, KYR_HANDLE_LIST, true},
      {h, 65, KYR_HANDLE_LIST, false},
      {h, 64, KYR_HANDLE_ANY, true},
      {h, 1, KYR_HANDLE_RECORD, false},
      {h, 1, KYR_HANDLE_COOKIE, false},
      {0, 0, KYR_HANDLE_ANY, false},
      {-1, 0, KYR_HANDLE_ANY, false},
      {-h, 0, KYR_HANDLE_ANY, false},
      {h == KYR_HANDLE_MAX ? 1 : h + 1, 0, KYR_HANDLE_ANY, false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(kyr_handle_resolve(c.handle, c.capacity, c.kind), c.found ? block : nullptr)
        << "handle " << c.handle << " capacity " << c.capacity << " kind " << c.kind;
  EXPECT_EQ(kyr_handle_capacity(h), 64u);
  EXPECT_EQ(kyr_handle_release(h, KYR_HANDLE_LIST, "T"), block);
}

TEST(Handles, ReleaseForgetsAndUnknownOrForeignHandlesFreeNothing) {
  kyrtest::LogCapture cap;
  int a = 0, b = 0;
  const size_t before = kyr_handle_count();
  const int32_t ha = kyr_handle_register(&a, sizeof a, KYR_HANDLE_RECORD);
  const int32_t hb = kyr_handle_register(&b, sizeof b, KYR_HANDLE_LIST);
  ASSERT_GT(ha, 0);
  ASSERT_GT(hb, 0);
  EXPECT_NE(ha, hb);
  EXPECT_EQ(kyr_handle_count(), before + 2);

  EXPECT_EQ(kyr_handle_release(hb, KYR_HANDLE_RECORD, "KyrConnectLib:Test"), nullptr);  // wrong kind
  EXPECT_EQ(kyr_handle_resolve(hb, 0, KYR_HANDLE_LIST), &b);                           // still there
  EXPECT_EQ(kyr_handle_release(ha, KYR_HANDLE_RECORD, "KyrConnectLib:Test"), &a);
  EXPECT_EQ(kyr_handle_resolve(ha, 0, KYR_HANDLE_ANY), nullptr);
  EXPECT_EQ(kyr_handle_release(ha, KYR_HANDLE_RECORD, "KyrConnectLib:Test"), nullptr);  // twice
  EXPECT_EQ(kyr_handle_release(0x7ffffff0, KYR_HANDLE_ANY, "KyrConnectLib:Test"), nullptr);
  EXPECT_EQ(cap.Count("unknown handle", "KyrConnectLib:Test"), 3u);
  EXPECT_EQ(kyr_handle_release(hb, KYR_HANDLE_ANY, "T"), &b);
  EXPECT_EQ(kyr_handle_count(), before);

  EXPECT_EQ(kyr_handle_register(nullptr, 4, KYR_HANDLE_LIST), -1);
}

TEST(Handles, StaticBlocksKeepOneHandle) {
  static char table[100];
  const int32_t h1 = kyr_handle_for(table, 50, KYR_HANDLE_STATIC);
  const int32_t h2 = kyr_handle_for(table, 100, KYR_HANDLE_STATIC);
  ASSERT_GT(h1, 0);
  EXPECT_EQ(h1, h2);
  EXPECT_EQ(kyr_handle_capacity(h1), 100u);  // grown, never shrunk
  EXPECT_EQ(kyr_handle_for(table, 10, KYR_HANDLE_STATIC), h1);
  EXPECT_EQ(kyr_handle_capacity(h1), 100u);
  kyr_handle_forget(table);
  EXPECT_EQ(kyr_handle_resolve(h1, 0, KYR_HANDLE_ANY), nullptr);
}

TEST(Handles, CounterWrapsToOneAndSkipsLiveHandles) {
  int x, y, z;
  kyr_handle_debug_set_next(KYR_HANDLE_MIN);
  const int32_t low = kyr_handle_register(&x, 1, KYR_HANDLE_RECORD);
  ASSERT_GE(low, KYR_HANDLE_MIN);
  kyr_handle_debug_set_next(KYR_HANDLE_MAX);
  const int32_t top = kyr_handle_register(&y, 1, KYR_HANDLE_RECORD);
  EXPECT_EQ(top, KYR_HANDLE_MAX);
  // Wraps past 0x7FFFFFFF to the bottom, stepping over `low` if still live.
  kyr_handle_debug_set_next(low);
  const int32_t next = kyr_handle_register(&z, 1, KYR_HANDLE_RECORD);
  EXPECT_GT(next, 0);
  EXPECT_NE(next, low);
  EXPECT_NE(next, top);
  for (int32_t h : {low, top, next}) EXPECT_NE(kyr_handle_release(h, KYR_HANDLE_RECORD, "T"), nullptr);
}

TEST(Handles, ConcurrentRegistrationGivesDistinctHandles) {
  const int kThreads = 4, kEach = 5000;
  const size_t before = kyr_handle_count();
  std::vector<std::vector<int32_t>> got(kThreads);
  std::vector<char> blocks(kThreads * kEach);
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kEach; i++) {
        char *p = &blocks[t * kEach + i];
        int32_t h = kyr_handle_register(p, 1, KYR_HANDLE_LIST);
        got[t].push_back(h);
        // Every other one is released at once, interleaving with the others.
        if (i % 2 && kyr_handle_release(h, KYR_HANDLE_LIST, "T") != p) got[t].back() = -2;
      }
    });
  for (auto &t : ts) t.join();
  std::set<int32_t> seen;
  for (int t = 0; t < kThreads; t++)
    for (int i = 0; i < kEach; i++) {
      int32_t h = got[t][i];
      ASSERT_GT(h, 0);
      EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " given twice";
      if (i % 2 == 0) {
        EXPECT_EQ(kyr_handle_resolve(h, 1, KYR_HANDLE_LIST), &blocks[t * kEach + i]);
        kyr_handle_release(h, KYR_HANDLE_LIST, "T");
      }
    }
  EXPECT_EQ(kyr_handle_count(), before);
}

}  // namespace
