// Message buffers, queue, pool, list and the challenge response.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ipc/libccom/ccom_internal.h"
#include "support/log_capture.h"

namespace {

struct MsgDeleter {
  void operator()(ccom_msg_t *m) const {
    free(m->data);
    free(m);
  }
};
using MsgPtr = std::unique_ptr<ccom_msg_t, MsgDeleter>;

// A private queue so these tests do not depend on the process-wide pool.
struct Queue {
  ccom_msg_queue_t q{};
  Queue() { EXPECT_EQ(ccom_msg_queue_init(&q), 0); }
  ~Queue() { ccom_msg_queue_free(&q); }
};

MsgPtr NewMsg() {
  static Queue empty;
  return MsgPtr(ccom_msg_alloc(&empty.q));
}

TEST(MsgGrow, CapacityIsTwoStepsAboveTheRequestsMultipleOf512) {
  struct {
    uint32_t req, cap;
  } const cases[] = {{0, 1024}, {511, 1024}, {512, 1536}, {614, 1536}, {1023, 1536}, {1024, 2048}, {1100, 2048}};
  for (const auto &c : cases) {
    MsgPtr m = NewMsg();
    ASSERT_TRUE(m);
    std::strcpy(m->data, "keep");
    m->len = 5;
    ASSERT_EQ(ccom_msg_grow(m.get(), c.req), 0) << c.req;
    EXPECT_EQ(m->size, c.cap) << "request " << c.req;
    EXPECT_STREQ(m->data, "keep") << "contents survive growth";
    // The NUL margin: writing data[size] must stay inside the allocation
    // (the sanitizer build checks this).
    m->data[m->size] = '\0';
  }
}

TEST(MsgGrow, LogsTheNewTotalsAndNullMessageFails) {
  kyrtest::LogCapture cap;
  MsgPtr m = NewMsg();
  EXPECT_EQ(ccom_msg_grow(nullptr, 10), -1);
  ASSERT_EQ(ccom_msg_grow(m.get(), 600), 0);
  auto lines = cap.Find("grow allocated:");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].prio, KYR_LOG_INFO);
  EXPECT_EQ(lines[0].tag, "CSAPI");
  EXPECT_EQ(lines[0].text.rfind("CCOM:INFO:grow allocated:", 0), 0u) << lines[0].text;
}

TEST(MsgWriters, StrcpyCountsTheNulAndGrowsOnlyWhenNeeded) {
  MsgPtr m = NewMsg();
  EXPECT_EQ(m->size, 512u);
  EXPECT_EQ(m->data[0], '\0');
  m->len = 77;
  EXPECT_EQ(ccom_msg_strcpy(m.get(), ""), nullptr);
  EXPECT_EQ(m->len, 77u) << "empty text leaves len alone";
  EXPECT_EQ(ccom_msg_strcpy(m.get(), nullptr), nullptr);
  EXPECT_EQ(ccom_msg_strcpy(nullptr, "x"), nullptr);

  std::string t511(511, 'a');
  ASSERT_EQ(ccom_msg_strcpy(m.get(), t511.c_str()), m->data);
  EXPECT_EQ(m->size, 512u) << "511 chars + NUL fit";
  EXPECT_EQ(m->len, 512u);
  std::string t512(512, 'b');
  ASSERT_NE(ccom_msg_strcpy(m.get(), t512.c_str()), nullptr);
  EXPECT_EQ(m->size, 1536u) << "grown for 512 + 64 bytes";
  EXPECT_EQ(m->len, 513u);
  EXPECT_EQ(std::string(m->data), t512);
}

TEST(MsgWriters, MemcpyAndAppend) {
  MsgPtr m = NewMsg();
  EXPECT_EQ(ccom_msg_memcpy(m.get(), "abc", 0), nullptr);
  ASSERT_EQ(ccom_msg_memcpy(m.get(), "abc", 3), m->data);
  EXPECT_EQ(m->len, 3u);
  char *at = ccom_msg_append(m.get(), "def", 3);
  ASSERT_EQ(at, m->data + 3);
  EXPECT_EQ(std::string(m->data, m->len), "abcdef");
  EXPECT_EQ(ccom_msg_append(m.get(), "x", 0), nullptr);

  // 100 bytes onto 450 of 512 grows to (614 / 512 + 2) * 512.
  std::string fill(450, 'f');
  ASSERT_NE(ccom_msg_memcpy(m.get(), fill.data(), 450), nullptr);
  std::string more(100, 'm');
  ASSERT_NE(ccom_msg_append(m.get(), more.data(), 100), nullptr);
  EXPECT_EQ(m->size, 1536u);
  EXPECT_EQ(m->len, 550u);
  EXPECT_EQ(std::string(m->data, m->len), fill + more);

  std::vector<char> big(3000, 'z');
  ASSERT_NE(ccom_msg_memcpy(m.get(), big.data(), 3000), nullptr);
  EXPECT_EQ(m->size, ccom_grow_capacity(3064));
  EXPECT_EQ(m->len, 3000u);
}

TEST(MsgWriters, SprintfAppendsAndGrowsForLongOutput) {
  MsgPtr m = NewMsg();
  EXPECT_EQ(ccom_msg_sprintf(nullptr, "x"), -1);
  EXPECT_EQ(ccom_msg_sprintf(m.get(), nullptr), 0);
  m->len = 0;
  EXPECT_EQ(ccom_msg_sprintf(m.get(), "{\"id\":%d", 42), 8);
  std::string tail(2000, 'q');
  int n = ccom_msg_sprintf(m.get(), ",\"s\":\"%s\"}", tail.c_str());
  EXPECT_EQ(n, (int)(8 + 7 + 2000 + 1));
  EXPECT_EQ(std::string(m->data), "{\"id\":42,\"s\":\"" + tail + "\"}");
  EXPECT_GE(m->size, (uint32_t)n + 1);
}

TEST(MsgQueue, FifoWithLinksCountAndBytes) {
  Queue q;
  EXPECT_EQ(ccom_msg_dequeue(&q.q), nullptr) << "empty queue returns at once";
  ccom_msg_t *a = ccom_msg_alloc(&q.q), *b = ccom_msg_alloc(&q.q);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(ccom_msg_grow(b, 600), 0);
  EXPECT_EQ(ccom_msg_enqueue(&q.q, a), 1);
  EXPECT_EQ(ccom_msg_enqueue(&q.q, b), 2);
  EXPECT_EQ(q.q.bytes, (int)(a->size + b->size));
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->prev, a);
  EXPECT_EQ(ccom_msg_dequeue(&q.q), a);
  EXPECT_EQ(a->next, nullptr);
  EXPECT_EQ(a->prev, nullptr);
  EXPECT_EQ(q.q.head, b);
  EXPECT_EQ(b->prev, nullptr);
  EXPECT_EQ(ccom_msg_dequeue(&q.q), b);
  EXPECT_EQ(q.q.count, 0);
  EXPECT_EQ(q.q.bytes, 0);
  EXPECT_EQ(q.q.tail, nullptr);
  EXPECT_EQ(ccom_msg_enqueue(nullptr, a), 0);
  EXPECT_EQ(ccom_msg_enqueue(&q.q, nullptr), 0);
  ccom_msg_enqueue(&q.q, a);
  ccom_msg_enqueue(&q.q, b);
  EXPECT_EQ(ccom_msg_queue_free(&q.q), (int)(512 + 1536));
  EXPECT_EQ(q.q.count, 0);
}

TEST(MsgPool, FreedMessageIsReusedWithItsCapacityAndAnEmptyText) {
  ccom_msg_t *m = ccom_client_msg_alloc();
  ASSERT_TRUE(m);
  ASSERT_NE(ccom_msg_strcpy(m, std::string(2000, 'x').c_str()), nullptr);
  uint32_t size = m->size;
  // Drain the pool so the freed message is the only one in it.
  std::vector<ccom_msg_t *> others;
  while (client_msg_queue.count > 0) others.push_back(ccom_client_msg_alloc());
  EXPECT_EQ(ccom_client_msg_free(m), 1);
  ccom_msg_t *again = ccom_client_msg_alloc();
  EXPECT_EQ(again, m);
  EXPECT_EQ(again->size, size);
  EXPECT_EQ(again->data[0], '\0');
  ccom_client_msg_free(again);
  for (auto *o : others) ccom_client_msg_free(o);
  EXPECT_EQ(ccom_client_msg_free(nullptr), 0);
}

TEST(MsgPool, ManyThreadsNeverShareAMessage) {
  constexpr int kThreads = 4, kRounds = 2000;
  std::vector<std::thread> ts;
  std::atomic<int> clashes{0};
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([t, &clashes] {
      for (int i = 0; i < kRounds; i++) {
        ccom_msg_t *m = ccom_client_msg_alloc();
        char mark[32];
        snprintf(mark, sizeof mark, "t%d-%d", t, i);
        ccom_msg_strcpy(m, mark);
        std::this_thread::yield();
        if (strcmp(m->data, mark) != 0) clashes++;
        ccom_client_msg_free(m);
      }
    });
  for (auto &th : ts) th.join();
  EXPECT_EQ(clashes.load(), 0);
}

TEST(Clist, AddRemoveWalkSize) {
  clist_node_t *list = nullptr;
  EXPECT_EQ(clist_add(nullptr, 1), nullptr);
  clist_node_t *n1 = clist_add(&list, 1), *n2 = clist_add(&list, 2), *n3 = clist_add(&list, 3);
  ASSERT_TRUE(n1 && n2 && n3);
  EXPECT_EQ(list, n1);
  EXPECT_EQ(clist_size(list), 3);
  EXPECT_EQ(n2->prev, n1);
  EXPECT_EQ(n3->prev, n2);

  static std::vector<uint32_t> seen;
  seen.clear();
  clist_walk(list, [](clist_node_t *n) {
    seen.push_back(n->value);
    return n->value == 2 ? 1 : 0;
  });
  EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2})) << "walk stops at the first non-zero";
  clist_walk(list, nullptr);

  clist_remove(&list, n1);
  EXPECT_EQ(list, n2);
  EXPECT_EQ(n2->prev, nullptr);
  clist_remove(&list, n3);
  EXPECT_EQ(n2->next, nullptr);
  EXPECT_EQ(clist_size(list), 1);
  clist_remove(&list, nullptr);
  clist_remove(&list, n2);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(clist_size(nullptr), 0);
}

TEST(ChallengeResponse, KnownDigestsAndCutting) {
  EXPECT_STREQ(ccom_get_version(), "libccom 0.0.1");
  struct {
    std::string id, challenge, hex;
  } const cases[] = {
      // Expected values from an independent SHA-1 (Python hashlib) over
      // id[:32] + challenge[:95].
      {"SN0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", std::string(120, 'c'), "28c327ba1c6bed63c5242803547bd1e379788847"},
      {"KYR12345678", "", "203150c750fdfb3b10ab8b3c1d5fb1a32304edb3"},
      {"KYR12345678", "6b3a55e0261b0304143f805a24924d0c", "091d2b8410e82476a056ca027a76b10a57d4b519"},
  };
  for (const auto &c : cases) {
    char out[64];
    memset(out, 'X', sizeof out);
    EXPECT_EQ(ccom_gen_challenge_rsp(c.id.c_str(), c.challenge.c_str(), out), 0);
    EXPECT_EQ(std::string(out), c.hex);
    EXPECT_EQ(out[40], '\0');
    EXPECT_EQ(out[41], 'X') << "writes exactly 41 bytes";
  }
}

}  // namespace
