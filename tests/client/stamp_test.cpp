// The notification module on its own: what it dispatches is decided by the
// state reader lent to it and by the connection announcements, with no
// instance table behind them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "csapi/client/csapi.h"
#include "csapi/client/csapi_internal.h"
#include "ring_helpers.h"

namespace {

constexpr int kInst = 4;
std::atomic<int> gReadyInstance{-1};

int fake_state(int instance) {
  return instance == gReadyInstance.load() ? CLIENT_STATE_READY : CLIENT_STATE_DISCONNECTED;
}

int stamp_handler(int instance, ccom_msg_t *msg, const csCallbackEntry *callbacks) {
  for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES; i++)
    if (callbacks[i].func && callbacks[i].srvrInstance == (uintptr_t)instance)
      callbacks[i].func(msg->data, 0, callbacks[i].userDefined);
  return 0;
}

const csMarshEntry kTable[] = {{"stampCB", stamp_handler}, {nullptr, nullptr}};

void on_note(const void *record, unsigned int, uintptr_t ud) {
  reinterpret_cast<std::vector<int> *>(ud)->push_back(ringtest::note_seq(static_cast<const char *>(record)));
}

std::string note(int seq) { return "{\"method\":\"stampCB\",\"params\":{\"seq\":" + std::to_string(seq) + "}}"; }

class NotifyStamp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(csapi_client_add_marsh_table(kTable), 0);
    gReadyInstance = kInst;
    csapi_detail::callback_set_state_reader(fake_state);
  }
  void TearDown() override { csapi_detail::callback_set_state_reader(csapi_client_get_state); }
};

TEST_F(NotifyStamp, OnlyTheCurrentConnectionOfAReadyInstanceIsDispatched) {
  ringtest::on_fresh_thread([] {
    std::vector<int> seen;
    ASSERT_EQ(csCallbackAdd(kInst, "stampCB", on_note, reinterpret_cast<uintptr_t>(&seen)), 1);
    ASSERT_EQ(csCallbackAdd(kInst + 1, "stampCB", on_note, reinterpret_cast<uintptr_t>(&seen)), 1);
    ASSERT_EQ(csCallbackSkipQueued(), 0);
    csapi_detail::callback_connection_began(kInst);
    ringtest::post(kInst, note(1));
    // A new connection of the same instance: what the old one queued is stale.
    csapi_detail::callback_connection_began(kInst);
    ringtest::post(kInst, note(2));
    ringtest::post(kInst + 1, note(3));  // not ready
    EXPECT_EQ(csCallbackProcess(0), 1);
    EXPECT_EQ(seen, std::vector<int>{2});
  });
}

TEST_F(NotifyStamp, AWaitingProcessorLearnsAtOnceThatTheLastConnectionEnded) {
  std::atomic<int> rc{1};
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    rc = csCallbackProcess(20000);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto t0 = std::chrono::steady_clock::now();
  gReadyInstance = -1;
  // Announced again in case the waiter was not yet waiting the first time.
  for (int i = 0; i < 100 && !done; i++) {
    csapi_detail::callback_connection_ended();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  waiter.join();
  EXPECT_EQ(rc.load(), CSAPI_ERR_NO_CONNECT);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}

}  // namespace
