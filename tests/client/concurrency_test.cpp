// Many callers on one instance at once, and notifications flowing while
// calls are in flight. Run under ThreadSanitizer too (label "concurrency").
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "sim_fixture.h"

namespace clienttest {
namespace {

using Concurrency = SimTest;

void echo_hook(codec_sim *sim) {
  codec_sim_set_answer_hook(sim, [](const codec_sim_request &r, std::string *reply) {
    if (r.method != "echo") return (int)CODEC_SIM_DEFAULT;
    *reply = codec_sim_result_text(r, std::to_string(param_n(r)));
    return (int)CODEC_SIM_REPLY;
  });
}

TEST_F(Concurrency, EightThreadsEachGetTheirOwnAnswers) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  echo_hook(sim_);
  constexpr int kThreads = 8, kCalls = 300;
  std::atomic<int> wrong{0};
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kCalls; i++) {
        int n = t * 100000 + i;
        if (call(inst, "echo", n) != n || csError() != n) wrong++;
      }
    });
  for (auto &t : ts) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Concurrency, CallsAndNotificationsTogether) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  echo_hook(sim_);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, calls{0};
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; !stop && i < 100000; i++) {
        int n = t * 100000 + i;
        if (call(inst, "echo", n) != n) wrong++;
        calls++;
      }
    });
  // Processing runs on this thread while the codec pushes notifications.
  uint64_t before = csapi_detail::ring_view().writeSeq;
  codec_sim_flood(sim_, R"({"method":"someCB","params":{"flags":1}})", 2000, 0);
  for (int i = 0; i < 400 && csapi_detail::ring_view().writeSeq < before + 2000; i++) {
    (void)csCallbackProcess(0);
    usleep(5000);
  }
  stop = true;
  for (auto &t : ts) t.join();
  EXPECT_GE(csapi_detail::ring_view().writeSeq, before + 2000);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(calls.load(), 0);
}

TEST_F(Concurrency, DisconnectWhileCallsAreInFlight) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  echo_hook(sim_);
  std::vector<std::thread> ts;
  std::atomic<int> bad{0};
  for (int t = 0; t < 6; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < 100000; i++) {
        int rc = call(inst, "echo", t * 100000 + i);
        if (rc == CSAPI_ERR_NO_CONNECT) return;
        if (rc != t * 100000 + i) bad++;
      }
    });
  usleep(100 * 1000);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(csDisconnect(inst), 0);
  for (auto &t : ts) t.join();
  EXPECT_LT(ms_since(t0), 3000);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_DISCONNECTED);
}

}  // namespace
}  // namespace clienttest
