// The directory interface without a JVM: the known-server table, searches,
// entry look-up, dialling and the change callbacks, against the codec
// simulator's model (plain TCP on 127.0.0.1), with the events caught by the
// directory's event sink.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"
#include "ipc/libccom/ccom_internal.h"
#include "service/interfaces/directory.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "iface_session.h"
#include "support/log_capture.h"

namespace {

struct Event {
  int code, v1, v2;
  jobject obj;
};

std::mutex g_mu;
std::vector<Event> g_events;

void sink(int code, int v1, int v2, jobject obj) {
  std::lock_guard<std::mutex> g(g_mu);
  g_events.push_back({code, v1, v2, obj});
}

std::vector<Event> events() {
  std::lock_guard<std::mutex> g(g_mu);
  return g_events;
}

// Gives back what an event handed over: a settings list or a server node.
void release_event(const Event &e) {
  if (e.code == EVENT_DIR_SETTINGS_CHANGED)
    SettingsListRelease(e.v1);
  else
    DirectoryReleaseList(e.v1);
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    codec_sim_config cfg;
    kyrtest::OpenInterfaceSession(cfg, &sim_, &inst_);
    if (HasFatalFailure()) return;
    {
      std::lock_guard<std::mutex> g(g_mu);
      g_events.clear();
    }
    DirectoryDebugSetEventSink(sink);
    ASSERT_EQ(getKnownDirectoryServers(), 4);
    codec_sim_clear_requests(sim_);
  }

  void TearDown() override {
    DirectoryDebugSetEventSink(nullptr);
    DirectoryForgetServers();
    kyr_service_debug_set_server_instance(-1);
    if (inst_ >= 0) delete_csapi_client(inst_);
    if (sim_) codec_sim_stop(sim_);
  }

  int Count(const std::string &method) {
    int n = 0;
    for (const auto &r : codec_sim_requests(sim_)) n += r.method == method;
    return n;
  }

  // The params of the last request of method, parsed (caller deletes).
  cJSON *LastParams(const std::string &method) {
    std::string p;
    for (const auto &r : codec_sim_requests(sim_))
      if (r.method == method) p = r.params;
    return cJSON_Parse(p.c_str());
  }

  uint32_t ServerHandle(const std::string &id) {
    for (uint32_t h : codec_sim_record_handles(sim_, "DirSrvr"))
      if (codec_sim_record(sim_, "DirSrvr", h).find("\"id\":\"" + id + "\"") != std::string::npos) return h;
    return 0;
  }

  codec_sim *sim_ = nullptr;
  int inst_ = -1;
};

// ---- known servers and server lists ----

TEST_F(DirectoryTest, KnownServersComeProtocolByProtocol) {
  CSDirSrvr table[KYR_DIR_MAX_SERVERS];
  ASSERT_EQ(DirectoryKnownServers(table, KYR_DIR_MAX_SERVERS), 4);
  const char *ids[] = {"local-1", "gds-1", "ldap-1", "presence-1"};
  for (int i = 0; i < 4; i++) {
    EXPECT_STREQ(table[i].id, ids[i]);
    EXPECT_EQ(table[i].protocol, i + 1);
  }
  CSDirSrvr found;
  EXPECT_EQ(DirectoryFindServer("ldap-1", &found), 1);
  EXPECT_EQ(found.port, 389);
  EXPECT_EQ(DirectoryFindServer("ldap-2", &found), 0);
  EXPECT_EQ(DirectoryFindServer(nullptr, &found), 0);
}

TEST_F(DirectoryTest, ServerListFollowsTheMaskInProtocolOrder) {
  size_t before = kyr_handle_count();
  int64_t head = DirectoryGetServers(0x5);
  ASSERT_GT(head, 0);
  auto *a = static_cast<KyrDirServerStruct *>(kyr_list_node(head, sizeof(KyrDirServerStruct)));
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->id, "local-1");
  EXPECT_EQ(a->protocol, 1);
  auto *b = static_cast<KyrDirServerStruct *>(kyr_list_node(a->next, sizeof(KyrDirServerStruct)));
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->id, "ldap-1");
  EXPECT_EQ(b->port, 389);
  EXPECT_STREQ(b->authBaseDN, "dc=example,dc=test");
  EXPECT_EQ(b->lastModifiedTime, 1700000000u);
  EXPECT_EQ(b->next, 0);
  EXPECT_EQ(kyr_list_release(head, "test"), 2);
  EXPECT_EQ(kyr_handle_count(), before);
  EXPECT_EQ(DirectoryGetServers(0), 0);
  head = DirectoryGetServers(0x8 | 0x2);
  a = static_cast<KyrDirServerStruct *>(kyr_list_node(head, sizeof(KyrDirServerStruct)));
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->id, "gds-1");
  b = static_cast<KyrDirServerStruct *>(kyr_list_node(a->next, sizeof(KyrDirServerStruct)));
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->id, "presence-1");
  EXPECT_EQ(kyr_list_release(head, "test"), 2);
  EXPECT_EQ(Count("csDirSrvrGet") + Count("csDirGet"), 0) << "server lists come from the table alone";
}

TEST_F(DirectoryTest, CountsAndSystemAskTheCodec) {
  EXPECT_EQ(DirectoryGetNumberServers(0xF), 4);
  EXPECT_EQ(DirectoryGetNumberServers(0x5), 2);
  EXPECT_EQ(DirectoryGetNumberServers(0), 0);
  int64_t h = DirectoryGetSystem();
  ASSERT_GT(h, 0);
  auto *sys = static_cast<DirectorySystemStruct *>(kyr_handle_resolve(static_cast<int32_t>(h), 20, KYR_HANDLE_STATIC));
  ASSERT_NE(sys, nullptr);
  EXPECT_EQ(sys->maxSrvrs, 8u);
  EXPECT_EQ(sys->capabilities, 3u);
  EXPECT_EQ(DirectoryGetSystem(), h) << "the snapshot is one static structure";

  codec_sim_inject_error(sim_, "csDirGet", -28, "", 2);
  kyrtest::LogCapture log;
  EXPECT_EQ(DirectoryGetSystem(), 0);
  EXPECT_EQ(DirectoryGetNumberServers(0xF), 0);
  EXPECT_EQ(log.Find("GetDirectorySystem: csDirGet error (error:-28, Busy)", KYR_DIR_TAG).size(), 1u);
  EXPECT_EQ(log.Find("DirectoryGetNumberServers: csDirGet error (error:-28", KYR_DIR_TAG).size(), 1u);
}

TEST_F(DirectoryTest, MoreThan64ServersKeepTheFirst64) {
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *reply) {
    if (r.method == "csDirSrvrCount") {
      *reply = codec_sim_result_text(r, "30");
      return static_cast<int>(CODEC_SIM_REPLY);
    }
    if (r.method == "csDirSrvrGet") {
      cJSON *p = cJSON_Parse(r.params.c_str());
      char rec[160];
      snprintf(rec, sizeof rec, R"({"srvrInstance":0,"handle":9,"enabled":1,"protocol":%d,"id":"s%d-%d"})",
               (int)cJSON_GetObjectItem(p, "prot")->valuedouble, (int)cJSON_GetObjectItem(p, "prot")->valuedouble,
               (int)cJSON_GetObjectItem(p, "instance")->valuedouble);
      cJSON_Delete(p);
      *reply = codec_sim_result_text(r, rec);
      return static_cast<int>(CODEC_SIM_REPLY);
    }
    return static_cast<int>(CODEC_SIM_DEFAULT);
  });
  kyrtest::LogCapture log;
  EXPECT_EQ(getKnownDirectoryServers(), 64);
  EXPECT_EQ(Count("csDirSrvrGet"), 64) << "servers beyond the table are not fetched";
  std::vector<CSDirSrvr> table(KYR_DIR_MAX_SERVERS + 1);
  EXPECT_EQ(DirectoryKnownServers(table.data(), KYR_DIR_MAX_SERVERS + 1), 64);
  EXPECT_STREQ(table[63].id, "s3-3");
  EXPECT_EQ(log.Find("56 servers beyond the first 64 ignored", KYR_DIR_TAG).size(), 1u);
  codec_sim_set_answer_hook(sim_, nullptr);
}

TEST_F(DirectoryTest, AFailingServerFetchStopsAndLeavesNoStaleSlot) {
  codec_sim_inject_error(sim_, "csDirSrvrGet", -4, "", -1);
  kyrtest::LogCapture log;
  EXPECT_EQ(getKnownDirectoryServers(), -4);
  // The four servers are asked for together; the first failure still decides
  // alone: nothing after it is logged or kept.
  EXPECT_EQ(Count("csDirSrvrGet"), 4) << "every server is asked for in one step";
  EXPECT_EQ(log.Find("csDirSrvrGet error").size(), 1u) << "the first failure stops the walk";
  EXPECT_EQ(log.Find("getKnownDirectoryServers: csDirSrvrGet error (server:0, error:-4, Not found)").size(), 1u);
  EXPECT_EQ(DirectoryKnownServers(nullptr, 0), 0);
  CSDirSrvr s;
  EXPECT_EQ(DirectoryFindServer("ldap-1", &s), 0) << "a server of the earlier fetch stayed behind";
  codec_sim_clear_errors(sim_);
  codec_sim_inject_error(sim_, "csDirGet", -18, "", 1);
  EXPECT_EQ(getKnownDirectoryServers(), -18);
  EXPECT_EQ(log.Find("getKnownDirectoryServers: csDirGet error (error:-18, No Connection)").size(), 1u);
}

// ---- searches ----

struct Pages {
  std::vector<int64_t> firsts;
  std::vector<int> handles;
  std::vector<std::string> ids;
  int stopAfter = 0;
  bool logOnDuring = true;
};

int collect(void *ctx, int64_t first, int listHandle) {
  auto *p = static_cast<Pages *>(ctx);
  p->firsts.push_back(first);
  p->handles.push_back(listHandle);
  p->logOnDuring = ccom_debug_on();
  for (int64_t h = first; h != 0;) {
    auto *n = static_cast<KyrDirEntryStruct *>(kyr_list_node(h, sizeof(KyrDirEntryStruct)));
    if (!n) break;
    p->ids.push_back(n->id);
    h = n->next;
  }
  return p->stopAfter && static_cast<int>(p->firsts.size()) >= p->stopAfter ? 1 : 0;
}

void release_all(const Pages &p) {
  for (int64_t h : p.firsts) kyr_list_release(h, "test");
}

std::unique_ptr<KyrDirEntryStruct> filter(const char *displayName = "") {
  std::unique_ptr<KyrDirEntryStruct> f(new KyrDirEntryStruct());
  memset(f.get(), 0, sizeof *f);
  kyr_copy_text(f->displayName, sizeof f->displayName, displayName);
  return f;
}

TEST_F(DirectoryTest, SearchPagesToTheEndWithOneListHandle) {
  Pages p;
  size_t before = kyr_handle_count();
  auto f = filter();
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0xFFFFFFFFu, 0, 64, collect, &p), KYR_DIR_SEARCH_COMPLETE);
  ASSERT_EQ(p.firsts.size(), 2u);
  EXPECT_EQ(p.handles[0], p.handles[1]);
  ASSERT_EQ(p.ids.size(), 100u);
  EXPECT_EQ(p.ids[0], "ldap-1:001");
  EXPECT_EQ(p.ids[64], "ldap-1:065");
  EXPECT_EQ(Count("csDirListGet"), 3);
  EXPECT_EQ(Count("csDirSrvrListStop"), 1);
  cJSON *stop = LastParams("csDirSrvrListStop");
  EXPECT_EQ((int)cJSON_GetObjectItem(stop, "listHandle")->valuedouble, p.handles[0]);
  cJSON_Delete(stop);
  EXPECT_EQ(kyr_handle_count(), before + 100) << "every delivered node is Java's until released";
  release_all(p);
  EXPECT_EQ(kyr_handle_count(), before);
}

TEST_F(DirectoryTest, SearchFilterCarriesOnlyTheNameFields) {
  auto f = filter("person 01");
  kyr_copy_text(f->id, sizeof f->id, "ldap-1:");
  kyr_copy_text(f->email, sizeof f->email, "nobody@nowhere");  // not a filter field
  kyr_copy_text(f->lastName, sizeof f->lastName, "last01");
  f->entryType = 0;
  Pages p;
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 7u, 50, 4, collect, &p), KYR_DIR_SEARCH_COMPLETE);
  EXPECT_EQ(p.ids.size(), 10u);  // Person 010 .. 019
  EXPECT_EQ(p.firsts.size(), 3u) << "4 + 4 + 2";
  cJSON *start = LastParams("csDirSrvrListStart");
  cJSON *pf = cJSON_GetObjectItem(start, "pFilter");
  EXPECT_STREQ(cJSON_GetObjectItem(pf, "displayName")->valuestring, "person 01");
  EXPECT_STREQ(cJSON_GetObjectItem(pf, "email")->valuestring, "");
  EXPECT_STREQ(cJSON_GetObjectItem(pf, "lastName")->valuestring, "last01");
  EXPECT_EQ((int)cJSON_GetObjectItem(start, "totalNames")->valuedouble, 50);
  EXPECT_EQ((int)cJSON_GetObjectItem(start, "attrs")->valuedouble, 7);
  cJSON_Delete(start);
  cJSON *get = LastParams("csDirListGet");
  EXPECT_EQ((int)cJSON_GetObjectItem(get, "maxNames")->valuedouble, 4);
  EXPECT_EQ((int)cJSON_GetObjectItem(get, "timeoutMS")->valuedouble, 60000);
  cJSON_Delete(get);
  release_all(p);
}

TEST_F(DirectoryTest, SearchOnAnUnknownServerAsksNothing) {
  Pages p;
  auto f = filter();
  EXPECT_EQ(DirectorySearch("ldap-9", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_NOTHING);
  EXPECT_EQ(DirectorySearch(nullptr, f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_NOTHING);
  EXPECT_EQ(DirectorySearch("ldap-1", nullptr, 0, 0, 64, collect, &p), KYR_DIR_SEARCH_NOTHING);
  EXPECT_TRUE(p.firsts.empty());
  EXPECT_EQ(Count("csDirSrvrListStart"), 0);
  EXPECT_TRUE(events().empty());
}

TEST_F(DirectoryTest, EmptyPagesForeverEndWithinTheBound) {
  codec_sim_record_merge(sim_, "DirSrvr", ServerHandle("ldap-1"), R"({"simEmptyPages":1})");
  kyrtest::LogCapture log;
  Pages p;
  auto f = filter();
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_FAILED);
  EXPECT_TRUE(p.firsts.empty());
  EXPECT_EQ(Count("csDirListGet"), KYR_DIR_SEARCH_MAX_EMPTY_PAGES);
  EXPECT_EQ(Count("csDirSrvrListStop"), 1);
  EXPECT_EQ(log.Find("100 empty pages in a row", KYR_DIR_TAG).size(), 1u);
  EXPECT_TRUE(events().empty()) << "a search given up posts nothing";
}

TEST_F(DirectoryTest, AnEndlessListStopsAfterTheEntryBound) {
  // Every page answers 64 entries and the list never ends.
  std::string page = R"({"srvrInstance":0,"listCount":64,"list":[)";
  for (int i = 0; i < 64; i++) page += std::string(i ? "," : "") + R"({"id":"ldap-1:x","displayName":"Loop"})";
  page += R"(],"locale":"en_US","rate":0})";
  codec_sim_set_answer_hook(sim_, [page](const codec_sim_request &r, std::string *reply) {
    if (r.method != "csDirListGet") return static_cast<int>(CODEC_SIM_DEFAULT);
    *reply = codec_sim_result_text(r, page);
    return static_cast<int>(CODEC_SIM_REPLY);
  });
  kyrtest::LogCapture log;
  Pages p;
  auto f = filter();
  size_t before = kyr_handle_count();
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_FAILED);
  codec_sim_set_answer_hook(sim_, nullptr);
  EXPECT_EQ(p.ids.size(), static_cast<size_t>(KYR_DIR_SEARCH_MAX_ENTRIES));
  EXPECT_EQ(Count("csDirSrvrListStop"), 1);
  EXPECT_EQ(log.Find("10000 entries delivered", KYR_DIR_TAG).size(), 1u);
  EXPECT_EQ(kyr_handle_count(), before + KYR_DIR_SEARCH_MAX_ENTRIES) << "delivered nodes stay Java's";
  release_all(p);
}

TEST_F(DirectoryTest, APageFunctionThatStopsEndsTheList) {
  Pages p;
  p.stopAfter = 1;
  auto f = filter();
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 10, collect, &p), KYR_DIR_SEARCH_FAILED);
  EXPECT_EQ(p.firsts.size(), 1u);
  EXPECT_EQ(Count("csDirListGet"), 1);
  EXPECT_EQ(Count("csDirSrvrListStop"), 1);
  release_all(p);
}

TEST_F(DirectoryTest, SearchErrorsStopTheListAndBadParameterIsReported) {
  kyrtest::LogCapture log;
  Pages p;
  auto f = filter();
  codec_sim_inject_error(sim_, "csDirListGet", -10, "", 1);
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_FAILED);
  EXPECT_EQ(log.Find("csDirListGet error (-10) Bad parameter", KYR_DIR_TAG).size(), 1u);
  auto ev = events();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].code, EVENT_ERROR);
  EXPECT_EQ(ev[0].v1, 0x402);
  EXPECT_EQ(ev[0].v2, -1);
  codec_sim_inject_error(sim_, "csDirListGet", -6, "", 1);
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_FAILED);
  EXPECT_EQ(events().size(), 1u) << "only a bad parameter is reported to Java";
  EXPECT_EQ(Count("csDirSrvrListStop"), 2);
  codec_sim_inject_error(sim_, "csDirSrvrListStart", -13, "", 1);
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_FAILED);
  EXPECT_EQ(log.Find("csDirSrvrListStart error In use)", KYR_DIR_TAG).size(), 1u);
  EXPECT_EQ(Count("csDirListGet"), 2);
  EXPECT_TRUE(p.firsts.empty());
}

TEST_F(DirectoryTest, LocalLoggingIsQuietDuringASearchAndRestoredAfter) {
  auto f = filter("person 00");
  for (int on = 0; on <= 1; on++) {
    csLogLocalEnable(on);
    Pages p;
    EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 64, collect, &p), KYR_DIR_SEARCH_COMPLETE);
    EXPECT_FALSE(p.logOnDuring);
    EXPECT_EQ(ccom_debug_on() ? 1 : 0, on) << "logging not put back as it was";
    release_all(p);
  }
  csLogLocalEnable(0);
}

TEST_F(DirectoryTest, ConcurrentSearchesPutLoggingBackOnlyWhenTheLastEnds) {
  csLogLocalEnable(1);
  auto f = filter();
  Pages a, b;
  std::thread t([&] { EXPECT_EQ(DirectorySearch("local-1", f.get(), 0, 0, 3, collect, &b), KYR_DIR_SEARCH_COMPLETE); });
  EXPECT_EQ(DirectorySearch("ldap-1", f.get(), 0, 0, 3, collect, &a), KYR_DIR_SEARCH_COMPLETE);
  t.join();
  EXPECT_EQ(a.ids.size(), 100u);
  EXPECT_EQ(b.ids.size(), 121u);
  EXPECT_FALSE(a.logOnDuring);
  EXPECT_FALSE(b.logOnDuring);
  EXPECT_TRUE(ccom_debug_on());
  csLogLocalEnable(0);
  release_all(a);
  release_all(b);
}

// ---- entries ----

TEST_F(DirectoryTest, EntryLookUpFillsEveryFieldAndOnlyValidDevices) {
  int64_t h = DirectoryGetEntry("local-1", "local-1:012");
  ASSERT_GT(h, 0);
  auto *e = static_cast<KyrDirEntryStruct *>(kyr_handle_resolve(static_cast<int32_t>(h), sizeof(KyrDirEntryStruct),
                                                                KYR_HANDLE_RECORD));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->next, 0);
  EXPECT_STREQ(e->id, "local-1:012");
  EXPECT_EQ(e->srvrType, 1);
  EXPECT_STREQ(e->firstName, "Lars");
  EXPECT_STREQ(e->lastName, "Alvarez");
  EXPECT_STREQ(e->fullName, "Lars Alvarez");
  EXPECT_STREQ(e->displayName, "Lars Alvarez");
  EXPECT_STREQ(e->email, "lars.alvarez12@example.test");
  EXPECT_STREQ(e->workTel, "+1 555 1012");
  EXPECT_STREQ(e->timeZone, "UTC");
  EXPECT_STREQ(e->locale, "en_US");
  EXPECT_EQ(e->rate, 1920);
  EXPECT_EQ(e->presence, 1u);
  ASSERT_EQ(e->videoDeviceCount, 2);
  EXPECT_STREQ(e->videoDevice[0].name, "Lars Alvarez desk");
  ASSERT_EQ(e->videoDevice[0].addrCount, 3);
  EXPECT_STREQ(e->videoDevice[0].addr[0].text, "sip:lars.alvarez12@example.test");
  EXPECT_STREQ(e->videoDevice[0].addr[1].text, "10.1.0.22");
  EXPECT_STREQ(e->videoDevice[0].addr[2].text, "+1 555 1012");
  EXPECT_EQ(e->videoDevice[0].addr[3].text[0], '\0');
  EXPECT_EQ(e->videoDevice[1].addrCount, 1);
  EXPECT_EQ(e->videoDevice[1].rate, 4096u);
  static const char zero[sizeof(DirVideoDeviceStruct)] = {};
  EXPECT_EQ(memcmp(&e->videoDevice[2], zero, sizeof zero), 0) << "a device past the count was filled";
  cJSON *p = LastParams("csDirEntGet");
  EXPECT_EQ((int)cJSON_GetObjectItem(p, "timeoutMS")->valuedouble, 30000);
  cJSON_Delete(p);

  kyrtest::LogCapture log;
  DirectoryReleaseList(h);  // not a list: nothing freed
  EXPECT_NE(kyr_handle_resolve(static_cast<int32_t>(h), 1, KYR_HANDLE_RECORD), nullptr);
  DirectoryReleaseEntryChanged(h);  // not an entry-changed record
  EXPECT_NE(kyr_handle_resolve(static_cast<int32_t>(h), 1, KYR_HANDLE_RECORD), nullptr);
  DirectoryReleaseEntry(h);
  EXPECT_EQ(kyr_handle_resolve(static_cast<int32_t>(h), 1, KYR_HANDLE_ANY), nullptr);
  DirectoryReleaseEntry(h);  // twice: logged, harmless
  EXPECT_FALSE(log.Find("release of record").empty());
}

TEST_F(DirectoryTest, EntryLookUpFailures) {
  kyrtest::LogCapture log;
  EXPECT_EQ(DirectoryGetEntry("nowhere", "nowhere:1"), 0);
  EXPECT_EQ(Count("csDirEntGet"), 0);
  EXPECT_EQ(DirectoryGetEntry("ldap-1", "ldap-1:999"), 0);
  EXPECT_EQ(log.Find("DirectoryGetEntry: csDirEntGet error (error:-4, Not found)", KYR_DIR_TAG).size(), 1u);
  EXPECT_EQ(DirectoryGetEntry("ldap-1", nullptr), 0);
}

// ---- dialling ----

DirAddressListStruct address_list(int count) {
  DirAddressListStruct l;
  memset(&l, 0, sizeof l);
  l.count = count;
  for (int i = 0; i < 10; i++) {
    l.entries[i].rate = 384 * (i + 1);
    snprintf(l.entries[i].address, sizeof l.entries[i].address, "10.9.0.%d", i + 1);
  }
  snprintf(l.siteName, sizeof l.siteName, "Site %d", count);
  return l;
}

TEST_F(DirectoryTest, DialEntrySendsExactlyTheCountedAddresses) {
  DirAddressListStruct l = address_list(2);
  memset(l.entries[1].address, 'a', sizeof l.entries[1].address);  // no terminator
  EXPECT_EQ(DirectoryDialEntry(&l, sizeof l), 0);
  cJSON *p = LastParams("csConfTermDialList");
  ASSERT_NE(p, nullptr);
  cJSON *al = cJSON_GetObjectItem(p, "pAddressList");
  EXPECT_EQ((int)cJSON_GetObjectItem(al, "listCount")->valuedouble, 2);
  cJSON *list = cJSON_GetObjectItem(al, "list");
  ASSERT_EQ(cJSON_GetArraySize(list), 2);
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetArrayItem(list, 0), "Address")->valuestring, "10.9.0.1");
  EXPECT_EQ(strlen(cJSON_GetObjectItem(cJSON_GetArrayItem(list, 1), "Address")->valuestring), 256u);
  EXPECT_EQ((int)cJSON_GetObjectItem(cJSON_GetArrayItem(list, 1), "rate")->valuedouble, 768);
  EXPECT_STREQ(cJSON_GetObjectItem(al, "siteName")->valuestring, "Site 2");
  EXPECT_EQ((int)cJSON_GetObjectItem(p, "bAll")->valuedouble, 0);
  cJSON_Delete(p);
}

TEST_F(DirectoryTest, DialEntryRefusesWhatCannotBeDialled) {
  kyrtest::LogCapture log;
  DirAddressListStruct none = address_list(0), many = address_list(11), negative = address_list(-3);
  EXPECT_EQ(DirectoryDialEntry(&none, sizeof none), -1);
  EXPECT_EQ(log.Find("DirectoryDialEntry no addresses to dial\n", KYR_DIR_TAG).size(), 1u);
  EXPECT_EQ(DirectoryDialEntry(&negative, sizeof negative), -1);
  EXPECT_EQ(DirectoryDialEntry(&many, sizeof many), -1);
  DirAddressListStruct ok = address_list(1);
  EXPECT_EQ(DirectoryDialEntry(&ok, sizeof ok - 1), -1);
  EXPECT_EQ(DirectoryDialEntry(nullptr, sizeof ok), -1);
  EXPECT_EQ(Count("csConfTermDialList") + Count("csCommGet") + Count("csConfGet"), 0);
}

TEST_F(DirectoryTest, DialEntryFailuresAreLoggedAndBadAddressReported) {
  kyrtest::LogCapture log;
  DirAddressListStruct l = address_list(1);
  codec_sim_inject_error(sim_, "csConfTermDialList", -8, "", 1);
  EXPECT_EQ(DirectoryDialEntry(&l, sizeof l), -8);
  EXPECT_EQ(log.Find("DirectoryDialEntry: csConfTermDialList error (error:-8, Bad address)").size(), 1u);
  codec_sim_inject_error(sim_, "csConfGet", -4, "", 1);
  EXPECT_EQ(DirectoryDialEntry(&l, sizeof l), -4);
  EXPECT_EQ(log.Find("DirectoryDialEntry: csConfGet error (error:-4, Not found)").size(), 1u);
  codec_sim_inject_error(sim_, "csCommGet", -28, "", 1);
  EXPECT_EQ(DirectoryDialEntry(&l, sizeof l), -28);
  EXPECT_EQ(log.Find("DirectoryDialEntry: csCommGet error (error:-28, Busy)").size(), 1u);
  auto ev = events();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].code, EVENT_ERROR);
  EXPECT_EQ(ev[0].v1, 0x304);
}

using Group = DirAddressListArrayStruct;

TEST_F(DirectoryTest, DialGroupSendsEveryList) {
  std::unique_ptr<Group> g(new Group());
  g->count = 2;
  g->lists[0] = address_list(1);
  g->lists[1] = address_list(3);
  // Only the lists the count names need be given.
  EXPECT_EQ(DirectoryDialGroup(g.get(), 4 + 2 * sizeof(DirAddressListStruct)), 0);
  cJSON *p = LastParams("csConfTermDialListArray");
  ASSERT_NE(p, nullptr);
  cJSON *arr = cJSON_GetObjectItem(p, "pAddressListArray");
  EXPECT_EQ((int)cJSON_GetObjectItem(arr, "listCount")->valuedouble, 2);
  cJSON *lists = cJSON_GetObjectItem(arr, "list");
  ASSERT_EQ(cJSON_GetArraySize(lists), 2);
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(cJSON_GetArrayItem(lists, 1), "list")), 3);
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetArrayItem(lists, 1), "siteName")->valuestring, "Site 3");
  cJSON_Delete(p);
}

TEST_F(DirectoryTest, DialGroupRefusesWhatCannotBeDialled) {
  kyrtest::LogCapture log;
  std::unique_ptr<Group> g(new Group());
  memset(g.get(), 0, sizeof *g);
  EXPECT_EQ(DirectoryDialGroup(g.get(), sizeof *g), -1);
  EXPECT_EQ(log.Find("DirectoryDialGroup no addresses to dial\n", KYR_DIR_TAG).size(), 1u);
  g->count = 31;
  EXPECT_EQ(DirectoryDialGroup(g.get(), sizeof *g), -1);
  g->count = 2;
  g->lists[0] = address_list(2);
  g->lists[1] = address_list(2);
  EXPECT_EQ(DirectoryDialGroup(g.get(), 4 + sizeof(DirAddressListStruct)), -1) << "second list past the buffer";
  EXPECT_EQ(DirectoryDialGroup(g.get(), 3), -1);
  g->lists[1] = address_list(0);
  EXPECT_EQ(DirectoryDialGroup(g.get(), sizeof *g), -1) << "an empty list in the group";
  g->lists[1] = address_list(12);
  EXPECT_EQ(DirectoryDialGroup(g.get(), sizeof *g), -1);
  EXPECT_EQ(Count("csConfTermDialListArray") + Count("csCommGet"), 0);
}

TEST_F(DirectoryTest, DialGroupFullOrOutOfRangeIsReported) {
  std::unique_ptr<Group> g(new Group());
  g->count = 1;
  g->lists[0] = address_list(1);
  kyrtest::LogCapture log;
  const int codes[] = {-5, -9, -8};
  for (int code : codes) {
    codec_sim_inject_error(sim_, "csConfTermDialListArray", code, "", 1);
    EXPECT_EQ(DirectoryDialGroup(g.get(), sizeof *g), code);
  }
  EXPECT_EQ(log.Find("DirectoryDialGroup: csConfTermDialList error (error:-5, Full)").size(), 1u);
  auto ev = events();
  ASSERT_EQ(ev.size(), 2u);
  for (const auto &e : ev) {
    EXPECT_EQ(e.code, EVENT_ERROR);
    EXPECT_EQ(e.v1, 0x303);
  }
}

// ---- callbacks ----

CSDirSrvr known(const char *id) {
  CSDirSrvr s;
  memset(&s, 0, sizeof s);
  EXPECT_EQ(DirectoryFindServer(id, &s), 1);
  return s;
}

TEST_F(DirectoryTest, ServerComingOnlineWithNewContentsPostsStatusModifiedSettings) {
  CSDirSrvr s = known("presence-1");
  ASSERT_NE(s.status, 6u);
  s.status = 6;
  s.lastModifiedTime = 1800000000u;
  size_t before = kyr_handle_count();
  on_dir_server_changed(&s, CSDIR_SRVR_STATUS_FIELD | CSDIR_SRVR_LAST_MODIFIED_TIME_FIELD, 0);
  auto ev = events();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].code, EVENT_DIR_SERVER_STATUS_CHANGED);
  EXPECT_EQ(ev[1].code, EVENT_DIR_SERVER_MODIFIED);
  EXPECT_EQ(ev[2].code, EVENT_DIR_SETTINGS_CHANGED);
  EXPECT_EQ(ev[0].v1, ev[1].v1) << "both server events carry the one node";
  auto *node = static_cast<KyrDirServerStruct *>(kyr_list_node(ev[0].v1, sizeof(KyrDirServerStruct)));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->next, 0);
  EXPECT_STREQ(node->id, "presence-1");
  EXPECT_EQ(node->status, 6u);
  EXPECT_EQ(node->lastModifiedTime, 1800000000u);
  EXPECT_EQ(known("presence-1").status, 6u) << "the cached slot took the new record";
  release_event(ev[0]);
  release_event(ev[2]);
  EXPECT_EQ(kyr_handle_count(), before);
}

TEST_F(DirectoryTest, ServerStatusRules) {
  struct Case {
    const char *what;
    uint32_t oldEnabled, oldStatus, newEnabled, newStatus, flags;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"switched off", 1, 6, 0, 6, 0x1, {EVENT_DIR_SERVER_DISABLED, EVENT_DIR_SETTINGS_CHANGED}},
      {"online to nothing", 1, 6, 1, 0, 0x2, {EVENT_DIR_SERVER_STATUS_CHANGED, EVENT_DIR_SETTINGS_CHANGED}},
      {"online to another status", 1, 6, 1, 3, 0x2, {EVENT_DIR_SETTINGS_CHANGED}},
      {"online while disabled", 0, 2, 0, 6, 0x2, {EVENT_DIR_SETTINGS_CHANGED}},
      {"status unflagged", 1, 2, 1, 6, 0x4, {EVENT_DIR_SETTINGS_CHANGED}},
      {"off and status lost", 1, 6, 0, 0, 0x3, {EVENT_DIR_SERVER_DISABLED, EVENT_DIR_SETTINGS_CHANGED}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CSDirSrvr s = known("gds-1");
    s.enabled = c.oldEnabled;
    s.status = c.oldStatus;
    on_dir_server_changed(&s, 0x4, 0);  // puts the old state in the table
    {
      std::lock_guard<std::mutex> g(g_mu);
      for (const auto &e : g_events) release_event(e);
      g_events.clear();
    }
    size_t before = kyr_handle_count();
    s.enabled = c.newEnabled;
    s.status = c.newStatus;
    on_dir_server_changed(&s, c.flags, 0);
    auto ev = events();
    std::vector<int> codes;
    for (const auto &e : ev) codes.push_back(e.code);
    EXPECT_EQ(codes, c.codes);
    for (const auto &e : ev) release_event(e);
    EXPECT_EQ(kyr_handle_count(), before) << "a node no event carried was kept";
  }
}

TEST_F(DirectoryTest, UnknownServerChangePostsOnlyModifiedAndSettings) {
  CSDirSrvr s = known("gds-1");
  kyr_copy_text(s.id, sizeof s.id, "gds-2");
  s.enabled = 0;
  on_dir_server_changed(&s, 0x1 | 0x20000, 0);
  auto ev = events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].code, EVENT_DIR_SERVER_MODIFIED);
  EXPECT_EQ(ev[1].code, EVENT_DIR_SETTINGS_CHANGED);
  EXPECT_EQ(known("gds-1").enabled, 1u);
  for (const auto &e : ev) release_event(e);
  on_dir_server_changed(nullptr, 0x3, 0);
  EXPECT_EQ(events().size(), 2u);
}

TEST_F(DirectoryTest, EntryEventsOnlyForAnOnlineKnownServer) {
  CSDirEnt e;
  memset(&e, 0, sizeof e);
  kyr_copy_text(e.id, sizeof e.id, "ldap-1:042");
  on_dir_entry_added(&e, 0, 0);
  on_dir_entry_removed(&e, 0, 0);
  on_dir_entry_changed(&e, 0, 0);
  auto ev = events();
  ASSERT_EQ(ev.size(), 3u);
  const int codes[] = {EVENT_DIR_ENTRY_ADDED, EVENT_DIR_ENTRY_REMOVED, EVENT_DIR_ENTRY_CHANGED};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(ev[i].code, codes[i]);
    auto *rec = static_cast<DirEntryChangedStruct *>(
        kyr_handle_resolve(ev[i].v1, sizeof(DirEntryChangedStruct), KYR_HANDLE_RECORD));
    ASSERT_NE(rec, nullptr);
    EXPECT_STREQ(rec->serverId, "ldap-1");
    EXPECT_STREQ(rec->entryId, "ldap-1:042");
    DirectoryReleaseEntryChanged(ev[i].v1);
    EXPECT_EQ(kyr_handle_resolve(ev[i].v1, 1, KYR_HANDLE_ANY), nullptr);
  }
  {
    std::lock_guard<std::mutex> g(g_mu);
    g_events.clear();
  }
  kyr_copy_text(e.id, sizeof e.id, "presence-1:7");  // status 2
  on_dir_entry_added(&e, 0, 0);
  kyr_copy_text(e.id, sizeof e.id, "ldap-9:1");  // no such server
  on_dir_entry_changed(&e, 0, 0);
  kyr_copy_text(e.id, sizeof e.id, "ldap-1");  // the prefix is the whole id: the server itself
  on_dir_entry_changed(&e, 0, 0);
  on_dir_entry_removed(nullptr, 0, 0);
  ev = events();
  ASSERT_EQ(ev.size(), 1u) << "only the entry named after an online server";
  EXPECT_EQ(ev[0].code, EVENT_DIR_ENTRY_CHANGED);
  DirectoryReleaseEntryChanged(ev[0].v1);

  CSDirSrvr s = known("gds-1");
  s.enabled = 0;
  on_dir_server_changed(&s, 0x4, 0);  // switched off, status still 6
  {
    std::lock_guard<std::mutex> g(g_mu);
    for (const auto &x : g_events) release_event(x);
    g_events.clear();
  }
  kyr_copy_text(e.id, sizeof e.id, "gds-1:3");
  on_dir_entry_removed(&e, 0, 0);
  EXPECT_TRUE(events().empty()) << "an entry of a disabled server";
}

TEST_F(DirectoryTest, DirectoryChangeRefreshesServersAndPostsTheSnapshot) {
  uint32_t dir = codec_sim_record_handles(sim_, "Dir")[0];
  uint32_t extra = codec_sim_record_merge(sim_, "DirSrvr", 0,
                                          "{\"parentHandle\":" + std::to_string(dir) +
                                              R"(,"enabled":1,"status":6,"protocol":3,"id":"ldap-2"})");
  ASSERT_NE(extra, 0u);
  CSDir rec;
  memset(&rec, 0, sizeof rec);
  rec.maxSrvrs = 12;
  rec.localAvailability = 2;
  codec_sim_inject_error(sim_, "csDirGet", -28, "", 1);
  on_dir_changed(&rec, CSDIR_MAX_SRVRS_FIELD, 0);
  auto ev = events();
  ASSERT_EQ(ev.size(), 2u);
  auto *sys = static_cast<DirectorySystemStruct *>(kyr_handle_resolve(ev[0].v1, 20, KYR_HANDLE_STATIC));
  ASSERT_NE(sys, nullptr);
  EXPECT_EQ(sys->maxSrvrs, 12u) << "without a fresh record the notification's fields are shown";
  EXPECT_EQ(sys->localAvailability, 2u);
  {
    std::lock_guard<std::mutex> g(g_mu);
    release_event(g_events[1]);
    g_events.clear();
  }
  on_dir_changed(&rec, CSDIR_MAX_SRVRS_FIELD, 0);
  CSDirSrvr s;
  EXPECT_EQ(DirectoryFindServer("ldap-2", &s), 1) << "the server table was not refreshed";
  ev = events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].code, EVENT_DIR_SYSTEM_CHANGED);
  EXPECT_EQ(kyr_handle_resolve(ev[0].v1, 20, KYR_HANDLE_STATIC), sys);
  EXPECT_EQ(sys->maxSrvrs, 8u) << "the record fetched with the servers is shown";
  EXPECT_EQ(ev[1].code, EVENT_DIR_SETTINGS_CHANGED);
  release_event(ev[1]);
}

}  // namespace
