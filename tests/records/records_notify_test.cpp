// The 55 notification handlers, called directly with a message buffer and a
// callback table, and the module tables that register them.
#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/cs_records.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_internal.h"
#include "ipc/libccom/ccom.h"
#include "platform/kyr_log.h"
#include "record_fill.h"

namespace {

struct Call {
  int kind;
  std::vector<unsigned char> record;
  uint32_t flags;
  uintptr_t userDefined;
};
std::vector<Call> g_calls;

// One callback per kind, with the kind's exact callback type.
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
  const char *param;
  csMarshFunc handler;
};
#define CS_NOTIFY_ROW(Event, Kind, Param) {"cs" #Event "CB", CS_KIND_##Kind, Param, &cs##Event##CBClient},
const Notification kNotifications[] = {CS_NOTIFY_ALL(CS_NOTIFY_ROW)};
#undef CS_NOTIFY_ROW

// A message buffer as the dispatcher hands it over.
struct Msg {
  explicit Msg(const std::string &text) : text(text) {
    m.next = m.prev = nullptr;
    m.data = &this->text[0];
    m.size = (uint32_t)this->text.size();
    m.len = (uint32_t)this->text.size() + 1;
  }
  std::string text;
  ccom_msg_t m;
};

std::string message(const Notification &n, cJSON *record, const char *flagsJson) {
  cJSON *root = cJSON_CreateObject();
  cJSON_AddStringToObject(root, "method", n.method);
  cJSON *params = cJSON_AddObjectToObject(root, "params");
  if (record) cJSON_AddItemToObject(params, n.param, record);
  if (flagsJson) cJSON_AddItemToObject(params, "flags", cJSON_Parse(flagsJson));
  cJSON_AddStringToObject(root, "jsonrpc", "2.0");
  char *t = cJSON_PrintUnformatted(root);
  std::string s(t);
  cJSON_free(t);
  cJSON_Delete(root);
  return s;
}

struct Table {
  csCallbackEntry e[CS_CALLBACK_TABLE_ENTRIES] = {};
  void set(int i, csCallbackFunc f, uintptr_t ud, uintptr_t inst) { e[i] = {f, ud, inst}; }
};

void reaches_callbacks(const Notification &n) {
  std::mt19937 rng(std::hash<std::string>()(n.method));
  recfill::Rec src(n.kind);
  recfill::fill(n.kind, src.bytes, rng);
  uint32_t flags = (uint32_t)rng() | 0x80000000u;
  Msg msg(message(n, cs_record_encode(n.kind, src.bytes), std::to_string(flags).c_str()));

  Table t;
  t.set(3, kCapture[n.kind], 11, 2);
  t.set(5, kCapture[n.kind], 33, 1);  // another connection
  t.set(7, kCapture[n.kind], 22, 2);
  ASSERT_EQ(n.handler(2, &msg.m, t.e), 0);

  int32_t two = 2;
  memcpy(src.bytes, &two, 4);  // the record carries the connection it came on
  ASSERT_EQ(g_calls.size(), 2u) << n.method;
  EXPECT_EQ(g_calls[0].userDefined, 11u);
  EXPECT_EQ(g_calls[1].userDefined, 22u);
  for (const Call &c : g_calls) {
    EXPECT_EQ(c.kind, n.kind);
    EXPECT_EQ(c.flags, flags);
    ASSERT_EQ(c.record.size(), src.size);
    EXPECT_EQ(memcmp(c.record.data(), src.bytes, src.size), 0) << n.method;
  }
}

void zeros_without_record(const Notification &n) {
  Msg msg(message(n, nullptr, nullptr));
  Table t;
  t.set(0, kCapture[n.kind], 5, 0);
  ASSERT_EQ(n.handler(0, &msg.m, t.e), 0);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].flags, 0u);
  for (unsigned char b : g_calls[0].record) EXPECT_EQ(b, 0);
}

// Log lines of this process. The sink is installed once and never replaced,
// so the seam keeps no orphaned sink behind (the leak checker would see it).
std::mutex g_logMu;
std::vector<std::string> g_log;
void log_sink(int, const char *tag, const char *text, void *) {
  std::lock_guard<std::mutex> g(g_logMu);
  g_log.push_back(std::string(tag) + "|" + text);
}
size_t log_count(const std::string &needle) {
  static const bool installed = (kyr_log_set_sink(&log_sink, nullptr), true);
  (void)installed;
  std::lock_guard<std::mutex> g(g_logMu);
  size_t n = 0;
  for (const std::string &l : g_log) n += l.find(needle) != std::string::npos;
  return n;
}

void bad_message(const Notification &n) {
  const std::string line = std::string("CSAPI|") + n.method + "Client:WARNING:not a notification";
  const size_t before = log_count(line);
  Table t;
  t.set(0, kCapture[n.kind], 5, 0);
  for (const char *bad : {"not json", "", "{\"method\":\"x\"}", "[1,2]", "{\"method\":\"x\",\"params\":5}", "{\"a\":"}) {
    Msg msg(bad);
    EXPECT_EQ(n.handler(0, &msg.m, t.e), -2) << bad;
  }
  EXPECT_EQ(n.handler(0, nullptr, t.e), -2);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(log_count(line) - before, 7u);
  Msg ok(message(n, nullptr, "1"));
  EXPECT_EQ(n.handler(0, &ok.m, nullptr), 0);
}

// Each check runs over all 55 handlers in one test (each its own trace).
template <typename F>
void each_notification(F check) {
  for (const Notification &n : kNotifications) {
    SCOPED_TRACE(n.method);
    g_calls.clear();
    check(n);
  }
}

TEST(EveryNotification, ReachesTheCallbacksOfItsConnectionInTableOrder) { each_notification(reaches_callbacks); }
TEST(EveryNotification, WithoutFlagsOrRecordTheCallbacksStillRunWithZeros) { each_notification(zeros_without_record); }
TEST(EveryNotification, ABadMessageCallsNothing) { each_notification(bad_message); }

TEST(Notify, FiftyFiveDistinctMethodsFollowTheNamingRule) {
  ASSERT_EQ(sizeof kNotifications / sizeof kNotifications[0], 55u);
  for (size_t i = 0; i < 55; ++i) {
    std::string m = kNotifications[i].method;
    EXPECT_EQ(m.rfind("cs", 0), 0u);
    EXPECT_EQ(m.substr(m.size() - 2), "CB");
    EXPECT_EQ(std::string(kNotifications[i].param).rfind("p", 0), 0u);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(m, kNotifications[j].method);
  }
}

TEST(Notify, TerminalStateExample) {
  g_calls.clear();
  Msg msg("{\"method\":\"csTermChangedCB\",\"params\":{\"pTerm\":{\"srvrInstance\":9,\"state\":7},\"flags\":512}}");
  Table t;
  t.set(0, kCapture[CS_KIND_Term], 1, 0);
  t.set(1, kCapture[CS_KIND_Term], 2, 1);
  ASSERT_EQ(csTermChangedCBClient(1, &msg.m, t.e), 0);
  ASSERT_EQ(g_calls.size(), 1u);
  CSTerm term;
  memcpy(&term, g_calls[0].record.data(), sizeof term);
  EXPECT_EQ(term.state, 7u);
  EXPECT_EQ(term.srvrInstance, 1);
  EXPECT_EQ(g_calls[0].flags, (uint32_t)CSTERM_STATE_FIELD);
  EXPECT_EQ(g_calls[0].userDefined, 2u);
}

TEST(Notify, ArchiveTimeExample) {
  g_calls.clear();
  Msg msg(
      "{\"method\":\"csRecentCallListArchivedCB\",\"params\":{\"pRecentCallArchive\":{\"archiveTime\":1700000000},"
      "\"flags\":1},\"jsonrpc\":\"2.0\"}");
  Table t;
  t.set(99, kCapture[CS_KIND_RecentCallArchive], 7, 4);
  ASSERT_EQ(csRecentCallListArchivedCBClient(4, &msg.m, t.e), 0);
  ASSERT_EQ(g_calls.size(), 1u);
  CSRecentCallArchive a;
  memcpy(&a, g_calls[0].record.data(), sizeof a);
  EXPECT_EQ(a.archiveTime, 1700000000);
  EXPECT_EQ(a.srvrInstance, 4);
  EXPECT_EQ(g_calls[0].flags, 1u);
}

TEST(Notify, FlagsFollowTheIntegerRule) {
  struct Case {
    const char *flags;
    uint32_t want;
  } cases[] = {{"512", 512}, {"-1", 0xFFFFFFFFu}, {"4294967295", 0xFFFFFFFFu}, {"\"3\"", 0},
               {"true", 1},  {"null", 0},          {"2.7", 2},                 {"1e20", 0xFFFFFFFFu}};
  for (const Case &c : cases) {
    g_calls.clear();
    Msg msg(std::string("{\"method\":\"csAudioChangedCB\",\"params\":{\"pAudio\":{\"volume\":9},\"flags\":") + c.flags +
            "}}");
    Table t;
    t.set(0, kCapture[CS_KIND_Audio], 1, 0);
    ASSERT_EQ(csAudioChangedCBClient(0, &msg.m, t.e), 0);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].flags, c.want) << c.flags;
  }
}

TEST(Modules, InitAllRegistersEveryHandlerUnderItsMethod) {
  ASSERT_EQ(csapiClientInitAll(), 0);
  for (const Notification &n : kNotifications) EXPECT_EQ(csapi_detail::lookup_marsh(n.method), n.handler) << n.method;
  EXPECT_EQ(csapi_detail::lookup_marsh("csNoSuchCB"), nullptr);
#define CS_EXIT(m) EXPECT_EQ(m##ClientExit(), 0);
  CS_MODULE_LIST(CS_EXIT)
#undef CS_EXIT
}

}  // namespace
