// End to end: every one of the 55 notifications pushed by the codec
// simulator travels through the transport and the notification queue to a
// callback registered for its connection, with the right record kind, the
// record's fields and the flags; a callback of the other connection is not
// called.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <chrono>
#include <string>
#include <vector>

#include "../client/sim_fixture.h"
#include "csapi/client/cs_dispatch.h"
#include "csapi/client/cs_records.h"
#include "csapi/client/csapi_callback.h"
#include "record_fill.h"

namespace {

using namespace cs_record_detail;

struct Call {
  int kind;
  std::vector<unsigned char> record;
  uint32_t flags;
  uintptr_t userDefined;
};
std::vector<Call> g_calls;  // the processing thread is the test thread

template <typename T, typename E, int K>
void capture(const T *rec, E flags, uintptr_t userDefined) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(rec);
  g_calls.push_back({K, std::vector<unsigned char>(b, b + sizeof(T)), (uint32_t)flags, userDefined});
}
#define CS_CAPTURE_ROW(Name, Enum, P) \
  reinterpret_cast<csCallbackFunc>(static_cast<cs##Name##Callback>(&capture<CS##Name, Enum, CS_KIND_##Name>)),
const csCallbackFunc kCapture[CS_KIND_COUNT] = {CS_RECORD_KINDS(CS_CAPTURE_ROW)};
#undef CS_CAPTURE_ROW

struct Notification {
  const char *method;
  cs_kind kind;
};
#define CS_NOTIFY_ROW(Event, Kind, Param) {"cs" #Event "CB", CS_KIND_##Kind},
const Notification kNotifications[] = {CS_NOTIFY_ALL(CS_NOTIFY_ROW)};
#undef CS_NOTIFY_ROW

// Compares the scalar and text fields of a received record with the
// simulator's own JSON of that record, member by member, without going
// through the library's decoder.
void expect_fields(int kind, const unsigned char *rec, const cJSON *json, int instance, const std::string &where) {
  const KindDesc &d = kKinds[kind];
  for (unsigned i = 0; i < d.nfields; ++i) {
    const FieldDesc &f = d.fields[i];
    const unsigned char *p = rec + f.offset;
    const cJSON *m = cJSON_GetObjectItem(json, f.name);
    if (strcmp(f.name, "srvrInstance") == 0) {
      int32_t v;
      memcpy(&v, p, 4);
      EXPECT_EQ(v, instance) << where;
      continue;
    }
    if (f.type == FT_I32 || f.type == FT_U32 || f.type == FT_COUNT) {
      uint32_t v;
      memcpy(&v, p, 4);
      uint32_t want = 0;
      if (cJSON_IsNumber(m)) want = (uint32_t)(int64_t)m->valuedouble;
      if (cJSON_IsTrue(m)) want = 1;
      EXPECT_EQ(v, want) << where << "." << f.name;
    } else if (f.type == FT_TEXT) {
      std::string want = cJSON_IsString(m) ? std::string(m->valuestring).substr(0, f.cap - 1) : "";
      EXPECT_EQ(std::string((const char *)p), want) << where << "." << f.name;
    }
  }
}

class RecordsSim : public clienttest::SimTest {};

TEST_F(RecordsSim, EveryNotificationReachesTheCallbacksOfItsConnection) {
  Start();
  int a = ConnectReady("SERIAL-A");
  ASSERT_GE(a, 0);
  int b = ConnectReady("SERIAL-B");
  ASSERT_GE(b, 0);
  ASSERT_TRUE(codec_sim_wait_ready(sim_, 2, 5000));
  std::vector<int> conns = codec_sim_connection_ids(sim_);
  ASSERT_EQ(conns.size(), 2u);
  const int connA = conns[0] < conns[1] ? conns[0] : conns[1];  // accepted first

  for (size_t i = 0; i < 55; ++i) {
    const Notification &n = kNotifications[i];
    ASSERT_GE(csCallbackAdd(a, n.method, kCapture[n.kind], 1000 + i), 1);
    ASSERT_GE(csCallbackAdd(b, n.method, kCapture[n.kind], 2000 + i), 1);
  }
  g_calls.clear();

  for (size_t i = 0; i < 55; ++i) {
    const Notification &n = kNotifications[i];
    const uint32_t flags = 0x1u << (i % 31) | (i % 2 ? 0x80000000u : 0);
    // A live record of the kind (the model makes one where it has none, as
    // for a terminal while no call is up), so its JSON can be compared.
    const std::string kindName = cs_record_name(n.kind) + 2;
    std::vector<uint32_t> handles = codec_sim_record_handles(sim_, kindName);
    uint32_t handle = handles.empty() ? codec_sim_record_merge(sim_, kindName, 0, "{}") : handles[0];
    ASSERT_NE(handle, 0u) << kindName;
    ASSERT_EQ(codec_sim_notify(sim_, n.method, flags, connA, handle), 1) << n.method;
    // Bounded wait for the one expected callback.
    auto t0 = std::chrono::steady_clock::now();
    while (g_calls.empty() && clienttest::ms_since(t0) < 5000) (void)csCallbackProcess(10);
    ASSERT_EQ(g_calls.size(), 1u) << n.method;
    const Call &c = g_calls[0];
    EXPECT_EQ(c.userDefined, 1000 + i) << n.method;
    EXPECT_EQ(c.kind, n.kind) << n.method;
    EXPECT_EQ(c.flags, flags) << n.method;

    std::string json = codec_sim_record(sim_, kindName, handle);
    ASSERT_FALSE(json.empty()) << kindName;
    cJSON *obj = cJSON_Parse(json.c_str());
    ASSERT_NE(obj, nullptr);
    expect_fields(n.kind, c.record.data(), obj, a, n.method);
    cJSON_Delete(obj);
    g_calls.clear();
  }
  // Nothing more arrives, and in particular nothing for connection B.
  (void)csCallbackProcess(100);
  EXPECT_TRUE(g_calls.empty());
  for (size_t i = 0; i < 55; ++i) {
    (void)csCallbackDelete(a, kNotifications[i].method, kCapture[kNotifications[i].kind], 1000 + i);
    (void)csCallbackDelete(b, kNotifications[i].method, kCapture[kNotifications[i].kind], 2000 + i);
  }
}

}  // namespace
