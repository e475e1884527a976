// Notification dispatch from the codec simulator through the reader, the
// ring and csCallbackProcess to registered callbacks.
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "sim_fixture.h"
#include "support/log_capture.h"

namespace clienttest {
namespace {

struct TestRecord {
  int32_t srvrInstance;
  int32_t value;
};

// A handler in the shape the record decoders have: decode, then call every
// callback registered for the instance.
int testNoteHandler(int srvrInstance, ccom_msg_t *msg, const csCallbackEntry *callbacks) {
  cJSON *root = cJSON_Parse(msg->data);
  if (!root) return -2;
  cJSON *params = cJSON_GetObjectItem(root, "params");
  TestRecord rec{srvrInstance, cJSON_GetObjectItem(params, "value") ? cJSON_GetObjectItem(params, "value")->valueint : -1};
  unsigned flags = cJSON_GetObjectItem(params, "flags") ? (unsigned)cJSON_GetObjectItem(params, "flags")->valuedouble : 0;
  cJSON_Delete(root);
  for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES; i++)
    if (callbacks[i].func && callbacks[i].srvrInstance == (uintptr_t)srvrInstance)
      callbacks[i].func(&rec, flags, callbacks[i].userDefined);
  return 0;
}

const csMarshEntry kTestTable[] = {{"testNoteCB", testNoteHandler}, {nullptr, nullptr}};

struct Seen {
  std::mutex mu;
  std::vector<int> values;
  std::vector<unsigned> flags;
  std::vector<int> instances;
};

void onNote(const void *record, unsigned int flags, uintptr_t userDefined) {
  auto *seen = reinterpret_cast<Seen *>(userDefined);
  auto *rec = static_cast<const TestRecord *>(record);
  std::lock_guard<std::mutex> g(seen->mu);
  seen->values.push_back(rec->value);
  seen->flags.push_back(flags);
  seen->instances.push_back(rec->srvrInstance);
}

std::string note(int value, unsigned flags = 1) {
  return R"({"method":"testNoteCB","params":{"value":)" + std::to_string(value) + R"(,"flags":)" +
         std::to_string(flags) + "}}";
}

class Dispatch : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(csapi_client_add_marsh_table(kTestTable), 0);
  }
  // Waits until the reader has queued `n` more notifications.
  void WaitQueued(uint64_t before, uint64_t n) {
    for (int i = 0; i < 400 && csapi_detail::ring_view().writeSeq < before + n; i++) usleep(5000);
    ASSERT_GE(csapi_detail::ring_view().writeSeq, before + n);
  }
};

TEST_F(Dispatch, ThreeNotificationsInOneProcessCall) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  (void)csCallbackProcess(0);  // start from the newest record
  auto seen = std::make_unique<Seen>();
  ASSERT_EQ(csCallbackAdd(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get())), 1);
  uint64_t before = csapi_detail::ring_view().writeSeq;
  for (int v = 1; v <= 3; v++) codec_sim_push(sim_, note(v, 0x80000000u | (unsigned)v));
  WaitQueued(before, 3);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(csCallbackProcess(200), 3);
  EXPECT_GE(ms_since(t0), 190);  // returns after a quiet period
  EXPECT_EQ(seen->values, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(seen->flags, (std::vector<unsigned>{0x80000001u, 0x80000002u, 0x80000003u}));
  EXPECT_EQ(seen->instances, (std::vector<int>{inst, inst, inst}));
  EXPECT_EQ(csError(), 3);
  EXPECT_EQ(csCallbackDelete(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get())), 0);
}

TEST_F(Dispatch, EmptyQueueTimings) {
  // No instance at all: -18 at once.
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(csCallbackProcess(1000), CSAPI_ERR_NO_CONNECT);
  EXPECT_LT(ms_since(t0), 100);
  EXPECT_EQ(csCallbackProcessPerInstance(0, 0), CSAPI_ERR_NO_CONNECT);

  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  (void)csCallbackProcess(0);
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(csCallbackProcess(0), 0);
  EXPECT_LT(ms_since(t0), 100);
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(csCallbackProcess(1000), CSAPI_ERR_TIMEOUT);
  long long took = ms_since(t0);
  EXPECT_GE(took, 990);
  EXPECT_LT(took, 1600);
  EXPECT_EQ(csCallbackProcessPerInstance(inst, 0), 0);
  EXPECT_EQ(csCallbackProcessPerInstance(inst == 0 ? 1 : 0, 0), CSAPI_ERR_NO_CONNECT);
}

TEST_F(Dispatch, AnotherThreadsCallbacksAreNotCalled) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  (void)csCallbackProcess(0);
  auto seen = std::make_unique<Seen>();
  ASSERT_EQ(csCallbackAdd(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get())), 1);
  uint64_t before = csapi_detail::ring_view().writeSeq;
  codec_sim_push(sim_, note(42));
  WaitQueued(before, 1);
  int other = 1;
  std::thread t([&] { other = csCallbackProcess(100); });
  t.join();
  EXPECT_EQ(other, CSAPI_ERR_TIMEOUT);  // it read the notification but has no callback for it
  EXPECT_TRUE(seen->values.empty());
  EXPECT_EQ(csCallbackProcess(100), 1);  // this thread still gets it
  EXPECT_EQ(seen->values, std::vector<int>{42});
  csCallbackDelete(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get()));
}

class DroppedStates : public Dispatch, public ::testing::WithParamInterface<int> {};

TEST_P(DroppedStates, NotificationsForAnInstanceNotReadyAreDropped) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  (void)csCallbackProcess(0);
  auto seen = std::make_unique<Seen>();
  ASSERT_EQ(csCallbackAdd(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get())), 1);
  ASSERT_EQ(csapi_client_set_state(inst, GetParam()), 0);
  uint64_t before = csapi_detail::ring_view().writeSeq;
  codec_sim_push(sim_, note(7));
  WaitQueued(before, 1);
  EXPECT_EQ(csCallbackProcess(100), CSAPI_ERR_TIMEOUT);
  EXPECT_TRUE(seen->values.empty());
  ASSERT_EQ(csapi_client_set_state(inst, CLIENT_STATE_READY), 0);
  before = csapi_detail::ring_view().writeSeq;
  codec_sim_push(sim_, note(8));
  WaitQueued(before, 1);
  EXPECT_EQ(csCallbackProcess(100), 1);
  EXPECT_EQ(seen->values, std::vector<int>{8});
  csCallbackDelete(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get()));
}

INSTANTIATE_TEST_SUITE_P(States, DroppedStates,
                         ::testing::Values(CLIENT_STATE_VERSION_OK, CLIENT_STATE_AUTH_REQUIRED, CLIENT_STATE_CONNECTED));

TEST_F(Dispatch, OddMessagesAreLoggedAndSkipped) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  (void)csCallbackProcess(0);
  auto seen = std::make_unique<Seen>();
  ASSERT_EQ(csCallbackAdd(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get())), 1);
  kyrtest::LogCapture log;
  uint64_t before = csapi_detail::ring_view().writeSeq;
  codec_sim_send_raw(sim_, R"({"params":{"x":1}})");            // neither id nor method
  codec_sim_send_raw(sim_, R"({"method":"csNoSuchCB","params":{}})");  // no handler
  codec_sim_send_raw(sim_, R"({"method":"testNoteCB","params":{"value":5},"id":0})");  // id 0: a notification
  WaitQueued(before, 2);
  EXPECT_EQ(csCallbackProcess(100), 1);
  EXPECT_EQ(seen->values, std::vector<int>{5});
  EXPECT_EQ(log.Count("no \"id\" or \"method\" fields"), 1u);
  EXPECT_EQ(log.Count("unknown notification function:csNoSuchCB"), 1u);
  // The connection is still usable.
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_READY);
  csCallbackDelete(inst, "testNoteCB", onNote, reinterpret_cast<uintptr_t>(seen.get()));
}

TEST_F(Dispatch, LostConnectionShowsAsNoConnection) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_close_connections(sim_);
  for (int i = 0; i < 200 && csapi_client_get_state(inst) != 0; i++) usleep(5000);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_DISCONNECTED);
  EXPECT_EQ(csCallbackProcess(1000), CSAPI_ERR_NO_CONNECT);
  // The instance is free again: a new connection can take it.
  int again = ConnectReady();
  EXPECT_GE(again, 0);
}

}  // namespace
}  // namespace clienttest
