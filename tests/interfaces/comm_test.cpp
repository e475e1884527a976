// Calls and conferences without a JVM: the comm functions against the codec
// simulator's model, and the notification handlers fed records directly.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/comm.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kyr_cache.h"
#include "iface_session.h"
#include "support/log_capture.h"

namespace {

struct Event {
  int code, v1, v2;
};

std::mutex g_mu;
std::vector<Event> g_events;
// Copy of the call-list event's record, read while the event is posted (as
// Java must).
KyrCallStruct g_posted_call;
bool g_posted_call_ok = false;

void Sink(callback_cookie *, int code, int v1, int v2, jobject) {
  std::lock_guard<std::mutex> g(g_mu);
  g_events.push_back({code, v1, v2});
  if (code == EVENT_COMM_CALL_LIST_CHANGED) {
    auto *rec = static_cast<KyrCallStruct *>(kyr_handle_resolve(v1, sizeof(KyrCallStruct), KYR_HANDLE_ANY));
    g_posted_call_ok = rec != nullptr;
    if (rec) g_posted_call = *rec;
  }
}

std::vector<Event> Events() {
  std::lock_guard<std::mutex> g(g_mu);
  return g_events;
}

std::vector<int> Codes() {
  std::vector<int> out;
  for (const auto &e : Events()) out.push_back(e.code);
  return out;
}

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    codec_sim_config cfg;
    cfg.dial_step_ms = 5;
    kyrtest::OpenInterfaceSession(cfg, &sim_, &inst_);
    if (HasFatalFailure()) return;
    kyr_cache_clear_all();
    comm_debug_reset();
    comm_debug_set_event_sink(Sink);
    std::lock_guard<std::mutex> g(g_mu);
    g_events.clear();
    g_posted_call_ok = false;
  }

  void TearDown() override {
    comm_debug_set_event_sink(nullptr);
    kyr_service_debug_set_server_instance(-1);
    if (inst_ >= 0) delete_csapi_client(inst_);
    if (sim_) codec_sim_stop(sim_);
  }

  std::vector<codec_sim_request> Requests(const std::string &method) {
    std::vector<codec_sim_request> out;
    for (auto &r : codec_sim_requests(sim_))
      if (r.method == method) out.push_back(r);
    return out;
  }

  // A number member of a request's params ("" path: top level).
  static double Param(const codec_sim_request &r, const char *key, const char *sub = nullptr) {
    cJSON *p = cJSON_Parse(r.params.c_str());
    const cJSON *o = sub ? cJSON_GetObjectItemCaseSensitive(p, sub) : p;
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(o, key);
    double d = cJSON_IsNumber(v) ? v->valuedouble : -12345;
    cJSON_Delete(p);
    return d;
  }
  static std::string ParamText(const codec_sim_request &r, const char *key) {
    cJSON *p = cJSON_Parse(r.params.c_str());
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(p, key);
    std::string s = cJSON_IsString(v) ? v->valuestring : "<none>";
    cJSON_Delete(p);
    return s;
  }

  // Dials and waits until the model reports the call Active; its id.
  int DialActive(const char *address) {
    size_t before = codec_sim_record_handles(sim_, "Term").size();
    EXPECT_EQ(comm_dial(0, address, "h323", 1024), 0);
    auto terms = codec_sim_record_handles(sim_, "Term");
    EXPECT_EQ(terms.size(), before + 1);
    if (terms.size() != before + 1) return -1;
    for (int i = 0; i < 200; i++) {
      std::string rec = codec_sim_record(sim_, "Term", terms.back());
      if (rec.find("\"state\":0") != std::string::npos) {
        cJSON *o = cJSON_Parse(rec.c_str());
        int id = cJSON_GetObjectItemCaseSensitive(o, "id")->valueint;
        cJSON_Delete(o);
        return id;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "call never became Active";
    return -1;
  }

  // The id of the newest pending call after an incoming one from address.
  int Incoming(const char *address) {
    codec_sim_incoming_call(sim_, address);
    std::string rec = codec_sim_record(sim_, "Term", codec_sim_record_handles(sim_, "Term").back());
    cJSON *o = cJSON_Parse(rec.c_str());
    int id = cJSON_GetObjectItemCaseSensitive(o, "id")->valueint;
    cJSON_Delete(o);
    return id;
  }

  // The nth request of method (counted from now) is answered "Not found".
  void FailNth(const std::string &method, int nth) {
    auto seen = std::make_shared<std::atomic<int>>(0);
    codec_sim_set_answer_hook(sim_, [=](const codec_sim_request &r, std::string *reply) {
      if (r.method != method || ++*seen != nth) return static_cast<int>(CODEC_SIM_DEFAULT);
      *reply = codec_sim_error_text(r, -4);
      return static_cast<int>(CODEC_SIM_REPLY);
    });
  }

  codec_sim *sim_ = nullptr;
  int inst_ = -1;
};

// ---- dialling ----

TEST_F(CommTest, DialSendsPrefixColonAddressAndMarksDialing) {
  comm_debug_reset();
  EXPECT_EQ(comm_dial(0, "10.0.0.9", "h323", 768), 0);
  auto dials = Requests("csConfTermDial");
  ASSERT_EQ(dials.size(), 1u);
  EXPECT_EQ(ParamText(dials[0], "address"), "h323:10.0.0.9");
  EXPECT_EQ(Param(dials[0], "rate"), 768);
  EXPECT_EQ(comm_call_state(), KYR_CALL_DIALING);
  CSConf last;
  ASSERT_EQ(comm_last_conf(&last), 1) << "dial remembers the conference it resolved";
  EXPECT_STREQ(last.name, "Conference 1");

  EXPECT_EQ(comm_dial(0, "10.0.0.10", nullptr, 384), 0) << "a null prefix counts as empty";
  dials = Requests("csConfTermDial");
  ASSERT_EQ(dials.size(), 2u);
  EXPECT_EQ(ParamText(dials[1], "address"), ":10.0.0.10");
}

TEST_F(CommTest, DialStringThatDoesNotFitIsRefusedNeverCut) {
  kyrtest::LogCapture log;
  std::string fits(127 - 5, 'a');  // "h323:" + 122 = 127 characters: fits exactly
  EXPECT_EQ(comm_dial(0, fits.c_str(), "h323", 384), 0);
  ASSERT_EQ(Requests("csConfTermDial").size(), 1u);
  EXPECT_EQ(ParamText(Requests("csConfTermDial")[0], "address"), "h323:" + fits);

  std::string too_long = fits + "b";
  EXPECT_EQ(comm_dial(0, too_long.c_str(), "h323", 384), -8);
  EXPECT_EQ(Requests("csConfTermDial").size(), 1u) << "nothing dialled";
  auto ev = Events();
  ASSERT_FALSE(ev.empty());
  EXPECT_EQ(ev.back().code, EVENT_ERROR);
  EXPECT_EQ(ev.back().v1, ERROR_REASON_DIAL_BAD_ADDRESS);
  EXPECT_EQ(ev.back().v2, -1);
  EXPECT_EQ(log.Count("does not fit", KYR_COMM_TAG), 1u);

  size_t events = Events().size();
  EXPECT_EQ(comm_dial(0, nullptr, "h323", 384), -10);
  EXPECT_EQ(Requests("csConfTermDial").size(), 1u);
  EXPECT_EQ(Requests("csCommGet").size(), 1u) << "a null address contacts nobody";
  EXPECT_EQ(Events().size(), events);
  EXPECT_EQ(log.Count("no address", KYR_COMM_TAG), 1u);
}

TEST_F(CommTest, DialFailuresPostTheirErrorReason) {
  kyrtest::LogCapture log;
  EXPECT_EQ(comm_dial(0, "invalid.example", "sip", 384), -8);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].v1, ERROR_REASON_DIAL_BAD_ADDRESS);
  EXPECT_EQ(log.Count("csConfTermDial error (error:-8, ", KYR_COMM_TAG), 1u);

  codec_sim_inject_error(sim_, "csConfTermDial", -12, "", 1);
  EXPECT_EQ(comm_dial(0, "10.0.0.9", "h323", 384), -12);
  ASSERT_EQ(Events().size(), 2u);
  EXPECT_EQ(Events()[1].code, EVENT_ERROR);
  EXPECT_EQ(Events()[1].v1, ERROR_REASON_DIAL_OUT_OF_RESOURCES);

  codec_sim_inject_error(sim_, "csConfTermDial", -4, "", 1);
  EXPECT_EQ(comm_dial(0, "10.0.0.9", "h323", 384), -4);
  EXPECT_EQ(Events().size(), 2u) << "other failures are only logged";

  codec_sim_inject_error(sim_, "csConfGet", -4, "", 1);
  EXPECT_EQ(comm_dial(0, "10.0.0.9", "h323", 384), -4);
  EXPECT_EQ(log.Count("csConfGet error (error:-4, ", KYR_COMM_TAG), 1u);
}

TEST_F(CommTest, DialListRefusesBadBuffersAndCountsWithoutSending) {
  DirAddressListStruct list;
  memset(&list, 0, sizeof list);
  kyrtest::LogCapture log;
  EXPECT_EQ(comm_dial_list(nullptr, sizeof list, 1), -1);
  EXPECT_EQ(comm_dial_list(&list, sizeof list - 1, 1), -1);
  list.count = 0;
  EXPECT_EQ(comm_dial_list(&list, sizeof list, 1), -1);
  EXPECT_EQ(log.Count("DirectoryDialEntry no addresses to dial\n", KYR_COMM_TAG), 1u);
  list.count = 11;
  EXPECT_EQ(comm_dial_list(&list, sizeof list, 1), -1);
  list.count = -3;
  EXPECT_EQ(comm_dial_list(&list, sizeof list, 1), -1);
  EXPECT_EQ(Requests("csCommGet").size() + Requests("csConfGet").size(), 0u) << "nothing reached the codec";
  EXPECT_EQ(Requests("csConfTermDialList").size(), 0u);
  EXPECT_EQ(log.Find("", KYR_COMM_TAG).size(), 5u) << "every refusal is logged";
}

TEST_F(CommTest, DialListSendsEveryAddressAndTheSiteName) {
  DirAddressListStruct list;
  memset(&list, 0, sizeof list);
  list.count = 2;
  list.entries[0].rate = 512;
  strcpy(list.entries[0].address, "h323:10.0.0.1");
  list.entries[1].rate = 64;
  memset(list.entries[1].address, 'x', sizeof list.entries[1].address);  // no terminator from Java
  strcpy(list.entries[2].address, "never sent");
  strcpy(list.siteName, "Oslo");
  EXPECT_EQ(comm_dial_list(&list, sizeof list, 1), 0);
  auto r = Requests("csConfTermDialList");
  ASSERT_EQ(r.size(), 1u);
  cJSON *p = cJSON_Parse(r[0].params.c_str());
  const cJSON *al = cJSON_GetObjectItemCaseSensitive(p, "pAddressList");
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(al, "listCount")->valueint, 2);
  const cJSON *entries = cJSON_GetObjectItemCaseSensitive(al, "list");
  ASSERT_GE(cJSON_GetArraySize(entries), 2);
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(entries, 0), "rate")->valueint, 512);
  EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(entries, 0), "Address")->valuestring,
               "h323:10.0.0.1");
  EXPECT_EQ(strlen(cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(entries, 1), "Address")->valuestring), 256u)
      << "an unterminated address is cut inside its field";
  EXPECT_EQ(r[0].text.find("never sent"), std::string::npos);
  EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(al, "siteName")->valuestring, "Oslo");
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(p, "bAll")->valueint, 1);
  cJSON_Delete(p);

  codec_sim_inject_error(sim_, "csConfTermDialList", -8, "", 1);
  EXPECT_EQ(comm_dial_list(&list, sizeof list, 0), -8);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].v1, ERROR_REASON_DIAL_BAD_ADDRESS);
}

// ---- answering and hanging up ----

TEST_F(CommTest, AcceptAnswersTheFirstOrTheNamedPendingCallOnly) {
  int first = Incoming("10.1.1.1");
  int second = Incoming("10.1.1.2");
  kyrtest::LogCapture log;
  EXPECT_EQ(comm_accept_call(0, 9999), 0);
  EXPECT_EQ(Requests("csConfTermAnswer").size(), 0u) << "no pending call has that id";
  EXPECT_EQ(log.Find("", KYR_COMM_TAG).size(), 0u) << "and nothing is logged";
  EXPECT_EQ(comm_call_state(), KYR_CALL_DIALING);

  EXPECT_EQ(comm_accept_call(0, second), 0);
  ASSERT_EQ(Requests("csConfTermAnswer").size(), 1u);
  EXPECT_EQ(comm_call_state(), KYR_CALL_ACTIVE);
  // The answered terminal is the second one.
  uint32_t answered = static_cast<uint32_t>(Param(Requests("csConfTermAnswer")[0], "pTermHandle"));
  EXPECT_NE(codec_sim_record(sim_, "Term", answered).find("\"id\":" + std::to_string(second)), std::string::npos);

  EXPECT_EQ(comm_accept_call(0, 0), 0);
  ASSERT_EQ(Requests("csConfTermAnswer").size(), 2u);
  answered = static_cast<uint32_t>(Param(Requests("csConfTermAnswer")[1], "pTermHandle"));
  EXPECT_NE(codec_sim_record(sim_, "Term", answered).find("\"id\":" + std::to_string(first)), std::string::npos);

  size_t pendings = Requests("csTermPendingGet").size();
  EXPECT_EQ(comm_accept_call(0, 0), 0) << "no pending call left";
  EXPECT_EQ(Requests("csTermPendingGet").size(), pendings);
  EXPECT_EQ(Requests("csConfTermAnswer").size(), 2u);
}

TEST_F(CommTest, HangupEndsTheConferenceOrTheCallNamed) {
  int a = DialActive("10.0.0.21");
  int b = DialActive("10.0.0.22");
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_EQ(comm_hangup(0, b, 31), 0);
  auto hangs = Requests("csTermHangup");
  ASSERT_EQ(hangs.size(), 1u);
  EXPECT_EQ(Param(hangs[0], "causeCode"), 31);
  uint32_t h = static_cast<uint32_t>(Param(hangs[0], "pTermHandle"));
  EXPECT_NE(codec_sim_record(sim_, "Term", h).find("\"id\":" + std::to_string(b)), std::string::npos);

  EXPECT_EQ(comm_hangup(0, 0, 16), 0);
  ASSERT_EQ(Requests("csConfHangup").size(), 1u) << "term 0 ends the whole conference";
  EXPECT_EQ(Requests("csTermHangup").size(), 1u);
  EXPECT_EQ(comm_call_state(), KYR_CALL_ACTIVE);
}

TEST_F(CommTest, HangupOfPendingCallsSearchesOnlyThePendingOnes) {
  int active = DialActive("10.0.0.31");
  int pending = Incoming("10.1.1.9");
  size_t conf_gets = Requests("csConfGet").size();
  EXPECT_EQ(comm_hangup(-1, active, 16), 0);
  EXPECT_EQ(Requests("csTermHangup").size(), 0u) << "a conference call is not among the pending ones";
  EXPECT_EQ(Requests("csTermGet").size(), 0u);
  EXPECT_EQ(comm_hangup(-1, 0, 16), 0);
  EXPECT_EQ(Requests("csTermHangup").size(), 0u) << "pending calls are matched by id exactly";
  EXPECT_EQ(comm_hangup(-1, pending, 21), 0);
  ASSERT_EQ(Requests("csTermHangup").size(), 1u);
  EXPECT_EQ(Requests("csConfGet").size(), conf_gets) << "no conference is resolved";
  EXPECT_EQ(Requests("csConfHangup").size(), 0u);
  std::string comm = codec_sim_record(sim_, "Comm", 0);
  EXPECT_NE(comm.find("\"numPendingTerms\":0"), std::string::npos) << comm;
}

// ---- per-call operations ----

TEST_F(CommTest, MuteFlashKeysAndPasswordReachTheRightCall) {
  int id = DialActive("10.0.0.41");
  ASSERT_GT(id, 0);
  EXPECT_EQ(comm_toggle_term_mute(0, id, 1), 0);
  auto sets = Requests("csTermSet");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(Param(sets[0], "flags"), CSTERM_MUTED_FIELD);
  EXPECT_EQ(Param(sets[0], "muted", "pTerm"), 1);
  EXPECT_EQ(Param(sets[0], "id", "pTerm"), id);
  EXPECT_EQ(comm_toggle_term_mute(0, id, 0), 0);
  EXPECT_EQ(Param(Requests("csTermSet")[1], "muted", "pTerm"), 0);

  EXPECT_EQ(comm_toggle_conf_mute(0, 5), 0);
  ASSERT_EQ(Requests("csConfSet").size(), 1u);
  EXPECT_EQ(Param(Requests("csConfSet")[0], "flags"), CSCONF_CONF_MUTE_FIELD);
  EXPECT_EQ(Param(Requests("csConfSet")[0], "confMute", "pConf"), 1);

  EXPECT_EQ(comm_send_flash(0, id, 250), 0);
  EXPECT_EQ(Param(Requests("csTermSendFlash")[0], "durationMs"), 250);
  EXPECT_EQ(comm_send_keystring(0, id, "12#"), 0);
  EXPECT_EQ(ParamText(Requests("csTermSendKeystring")[0], "keystring"), "12#");
  EXPECT_EQ(comm_send_keystring(0, id, nullptr), -10);
  EXPECT_EQ(Requests("csTermSendKeystring").size(), 1u) << "a null key string sends nothing";

  kyrtest::LogCapture log;
  EXPECT_EQ(comm_toggle_term_mute(0, 424242, 1), -4);
  EXPECT_EQ(log.Count("csTermGet error (error:-4, ", KYR_COMM_TAG), 1u);
  EXPECT_EQ(comm_send_flash(0, 424242, 1), -4);
  EXPECT_EQ(log.Count("csTermGetByID error (error:-4, ", KYR_COMM_TAG), 1u);

  const char *secret = "s3cr3t-Pw";
  EXPECT_EQ(comm_authenticate_call(0, id, secret), 0);
  auto auth = Requests("csTermSet").back();
  EXPECT_EQ(Param(auth, "flags"), CSTERM_PASSWORD_FIELD);
  EXPECT_NE(auth.params.find(secret), std::string::npos);
  codec_sim_inject_error(sim_, "csTermSet", -10, "", 1);
  EXPECT_EQ(comm_authenticate_call(0, id, secret), -10);
  EXPECT_EQ(comm_authenticate_call(0, id, nullptr), -1);
  EXPECT_EQ(log.Count("NULL password\n", KYR_COMM_TAG), 1u);
  for (const auto &l : log.Lines()) EXPECT_EQ(l.text.find(secret), std::string::npos) << l.text;
}

// ---- lists ----

TEST_F(CommTest, CurrentCallsListConferenceCallsThenPendingOnes) {
  int a = DialActive("10.0.0.51");
  int b = DialActive("10.0.0.52");
  int p = Incoming("10.1.1.50");
  int64_t head = comm_get_current_calls();
  ASSERT_GT(head, 0);
  std::vector<std::pair<int, int>> got;  // (index, id)
  for (int32_t h = static_cast<int32_t>(head); h;) {
    auto *c = static_cast<KyrCallStruct *>(kyr_list_node(h, sizeof(KyrCallStruct)));
    ASSERT_NE(c, nullptr);
    got.push_back({+c->index, +c->id});
    if (c->id == p) {
      EXPECT_EQ(+c->state, KYR_CALL_INCOMING);
    }
    if (c->id == a) {
      EXPECT_STREQ(c->dialedAddr, "h323:10.0.0.51");
    }
    h = kyr_list_next(c);
  }
  std::vector<std::pair<int, int>> want = {{0, a}, {0, b}, {-1, p}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(comm_get_number_current_calls(), 3);
  EXPECT_EQ(comm_release_list(head), 3);

  codec_sim_inject_error(sim_, "csTermGet", -4, "", 1);
  head = comm_get_current_calls();
  EXPECT_EQ(comm_release_list(head), 2) << "a failing terminal is skipped";

  // The second pass over the conferences fails: no list at all.
  FailNth("csConfGet", 2);
  size_t live = kyr_handle_count();
  EXPECT_EQ(comm_get_current_calls(), 0);
  EXPECT_EQ(kyr_handle_count(), live) << "the nodes built so far are freed";
  codec_sim_set_answer_hook(sim_, nullptr);
}

TEST_F(CommTest, ACountTheCodecInflatesCannotMakeACallLoopForEver) {
  uint32_t conf = codec_sim_record_handles(sim_, "Conf")[0];
  codec_sim_record_merge(sim_, "Conf", conf, R"({"numTerms":4000000000})");
  kyrtest::LogCapture log;
  EXPECT_EQ(comm_get_current_calls(), 0) << "no terminal could be read";
  EXPECT_EQ(Requests("csTermGet").size(), 100u);
  EXPECT_EQ(comm_get_number_current_calls(), 100);
  EXPECT_EQ(comm_hangup(0, 12345, 16), -4) << "the walk stops at the first failing fetch";
}

TEST_F(CommTest, RecentCallsAndConferencesAreIndexedByPosition) {
  int64_t head = comm_get_recent_calls();
  ASSERT_GT(head, 0);
  auto *first = static_cast<KyrCallStruct *>(kyr_list_node(head, sizeof(KyrCallStruct)));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(+first->index, 0);
  EXPECT_STREQ(first->name, "Earlier call 1");
  auto *second = static_cast<KyrCallStruct *>(kyr_list_node(kyr_list_next(first), sizeof(KyrCallStruct)));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(+second->index, 1);
  EXPECT_EQ(+second->state, KYR_CALL_DISCONNECTED);
  EXPECT_EQ(kyr_list_next(second), 0);
  EXPECT_EQ(comm_release_list(head), 2);
  auto recents = Requests("csRecentCallListGet");
  ASSERT_EQ(recents.size(), 1u);
  EXPECT_EQ(Param(recents[0], "startIndex"), 0);
  EXPECT_EQ(Param(recents[0], "endIndex"), 100);
  EXPECT_EQ(Param(recents[0], "sort"), 1);
  EXPECT_EQ(Param(recents[0], "filter"), 1);

  codec_sim_inject_error(sim_, "csRecentCallListGet", -4, "", 1);
  EXPECT_EQ(comm_get_recent_calls(), 0);

  head = comm_get_current_conferences();
  auto *conf = static_cast<KyrConferenceStruct *>(kyr_list_node(head, sizeof(KyrConferenceStruct)));
  ASSERT_NE(conf, nullptr);
  EXPECT_EQ(+conf->index, 0);
  EXPECT_STREQ(conf->name, "Conference 1");
  EXPECT_EQ(+conf->maxTerms, 8);
  EXPECT_EQ(comm_release_list(head), 1);
  EXPECT_EQ(comm_get_number_current_conferences(), 1);
  codec_sim_inject_error(sim_, "csConfGet", -4, "", 1);
  EXPECT_EQ(comm_get_current_conferences(), 0);
}

TEST_F(CommTest, CallStatsHoldOnlyStreamingMediaAndNothingWhenAFetchFails) {
  int id = DialActive("10.0.0.61");
  ASSERT_GT(id, 0);
  int64_t head = comm_get_call_stats(0, id);
  std::vector<int> slots;
  for (int32_t h = static_cast<int32_t>(head); h;) {
    auto *m = static_cast<KyrCallMediaStruct *>(kyr_list_node(h, sizeof(KyrCallMediaStruct)));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(+m->state, KYR_COMM_MEDIA_ACTIVE);
    if (m->index == 1) {
      EXPECT_STREQ(m->alg, "H.264");
      EXPECT_NEAR(m->actualFrameRate, 29.97, 1e-5) << "carried in single precision";
      EXPECT_EQ(+m->packetsLost, 12);
    }
    slots.push_back(m->index);
    h = kyr_list_next(m);
  }
  EXPECT_EQ(slots, (std::vector<int>{0, 1})) << "the six idle slots are left out";
  EXPECT_EQ(Requests("csTermMediaGet").size(), 8u);
  comm_release_list(head);

  // The fifth of the eight fetches fails.
  FailNth("csTermMediaGet", 5);
  kyrtest::LogCapture log;
  size_t live = kyr_handle_count();
  EXPECT_EQ(comm_get_call_stats(0, id), 0);
  EXPECT_EQ(kyr_handle_count(), live);
  EXPECT_EQ(log.Count("csTermMediaGet error (error:-4, ", KYR_COMM_TAG), 1u);
  codec_sim_set_answer_hook(sim_, nullptr);
}

TEST_F(CommTest, CommSystemAndSystemTime) {
  int64_t h = comm_get_comm_system();
  ASSERT_GT(h, 0);
  EXPECT_EQ(h, comm_get_comm_system()) << "one static structure";
  auto *s = static_cast<CommSystemStruct *>(kyr_handle_resolve(static_cast<int32_t>(h), sizeof(CommSystemStruct),
                                                               KYR_HANDLE_STATIC));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(+s->maxConfs, 2);
  EXPECT_EQ(+s->maxTermsPerConf, 8);
  EXPECT_EQ(+s->dialOrderCount, 2);
  EXPECT_EQ(+s->dialOrder[0], 1);
  EXPECT_EQ(+s->dialOrder[3], 4);
  EXPECT_EQ(+s->dialOrder[4], 0) << "pairs past the count are not written";
  EXPECT_EQ(+s->capabilities, 0) << "capabilities is never written";
  CSComm cached;
  EXPECT_EQ(kyr_cache_comm_load(&cached), 1);

  uint32_t sys_time = static_cast<uint32_t>(comm_get_system_time());
  std::string t = codec_sim_record(sim_, "Time", 0);
  EXPECT_NE(t.find("\"time\":" + std::to_string(sys_time)), std::string::npos) << t;
  kyrtest::LogCapture log;
  codec_sim_inject_error(sim_, "csTimeGet", -4, "", 1);
  EXPECT_EQ(comm_get_system_time(), -1);
  EXPECT_EQ(log.Count("can't get TIME settings, err=-4", KYR_COMM_TAG), 1u);
  codec_sim_inject_error(sim_, "csSysGet", -4, "", 1);
  EXPECT_EQ(comm_get_system_time(), -1);
  EXPECT_EQ(log.Count("can't get SYS settings, err=-4", KYR_COMM_TAG), 1u);
  codec_sim_inject_error(sim_, "csCommGet", -18, "", 1);
  EXPECT_EQ(comm_get_comm_system(), 0);
}

// ---- handlers ----

CSTerm MakeTerm(int id, unsigned int state) {
  CSTerm t;
  memset(&t, 0, sizeof t);
  t.id = id;
  t.state = state;
  t.causeCode = 16;
  snprintf(t.name, sizeof t.name, "Far %d", id);
  return t;
}

TEST_F(CommTest, DisconnectPostsTheStateThenTheCallListWithThatCall) {
  CSTerm t = MakeTerm(77, KYR_CALL_DISCONNECTED);
  t.muted = 1;
  strcpy(t.addr, "10.9.9.9");
  kyrtest::LogCapture log;
  on_term_changed(&t, CSTERM_STATE_FIELD | CSTERM_CAUSE_CODE_FIELD, 0);
  auto ev = Events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].code, EVENT_COMM_CALL_STATE_CHANGED);
  EXPECT_EQ(ev[0].v1, 7);
  EXPECT_EQ(ev[0].v2, 16);
  EXPECT_EQ(ev[1].code, EVENT_COMM_CALL_LIST_CHANGED);
  EXPECT_EQ(ev[1].v1, comm_call_entry_handle());
  ASSERT_TRUE(g_posted_call_ok);
  EXPECT_EQ(+g_posted_call.next, 0);
  EXPECT_EQ(+g_posted_call.index, 0);
  EXPECT_EQ(+g_posted_call.id, 77);
  EXPECT_STREQ(g_posted_call.addr, "10.9.9.9");
  EXPECT_EQ(comm_call_state(), KYR_CALL_DISCONNECTED);
  EXPECT_EQ(log.Count("term:Far 77 changed state:Disconnected\n", KYR_COMM_TAG), 1u);
  EXPECT_EQ(log.Count("term:Far 77 changed state:Disconnected (update call log)\n", KYR_COMM_TAG), 1u);
  EXPECT_EQ(log.Count("(sending EVENT_COMM_CALL_LIST_CHANGED event)", KYR_COMM_TAG), 1u);
  CSTerm last;
  ASSERT_EQ(comm_last_term(&last), 1);
  EXPECT_EQ(last.id, 77);
}

TEST_F(CommTest, MuteStateAndAuthenticationChecksAreIndependentAndOrdered) {
  CSTerm t = MakeTerm(5, KYR_CALL_ALERTING);
  t.muted = 1;
  t.authState = 1;
  on_term_changed(&t, CSTERM_MUTED_FIELD | CSTERM_STATE_FIELD | CSTERM_AUTH_STATE_FIELD, 0);
  auto ev = Events();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].code, EVENT_COMM_CALL_MUTE_CHANGED);
  EXPECT_EQ(ev[0].v1, 5);
  EXPECT_EQ(ev[0].v2, 1);
  EXPECT_EQ(ev[1].code, EVENT_COMM_CALL_STATE_CHANGED);
  EXPECT_EQ(ev[1].v1, KYR_CALL_ALERTING);
  EXPECT_EQ(ev[2].code, EVENT_COMM_CALL_AUTH_STATE_CHANGED);
  EXPECT_EQ(ev[2].v1, 1);
  EXPECT_EQ(ev[2].v2, 5);
  EXPECT_EQ(comm_call_auth_state(), 1);

  on_term_changed(&t, CSTERM_NAME_FIELD, 0);
  EXPECT_EQ(Events().size(), 3u) << "other fields post nothing";
  on_term_changed(nullptr, CSTERM_STATE_FIELD, 0);
  EXPECT_EQ(Events().size(), 3u);
}

TEST_F(CommTest, PendingCountPostsOnlyWhenItChanged) {
  CSComm c;
  memset(&c, 0, sizeof c);
  c.maxConfs = 2;
  c.numPendingTerms = 0;
  kyr_cache_comm_store(&c);
  on_comm_changed(&c, CSCOMM_NUM_PENDING_TERMS_FIELD, 0);
  std::vector<int> want = {EVENT_COMM_SYSTEM_CHANGED, EVENT_COMM_SETTINGS_CHANGED};
  EXPECT_EQ(Codes(), want) << "unchanged count: no pending event";
  EXPECT_EQ(Events()[0].v1, comm_system_handle());
  EXPECT_EQ(Events()[0].v2, static_cast<int>(CSCOMM_NUM_PENDING_TERMS_FIELD));
  EXPECT_EQ(comm_call_state(), KYR_CALL_DIALING);

  c.numPendingTerms = 1;
  on_comm_changed(&c, CSCOMM_NUM_PENDING_TERMS_FIELD, 0);
  want = {EVENT_COMM_SYSTEM_CHANGED, EVENT_COMM_SETTINGS_CHANGED, EVENT_COMM_PENDING_CALLS_CHANGED,
          EVENT_COMM_SYSTEM_CHANGED, EVENT_COMM_SETTINGS_CHANGED};
  EXPECT_EQ(Codes(), want);
  EXPECT_EQ(comm_call_state(), KYR_CALL_INCOMING);
  CSComm cached;
  kyr_cache_comm_load(&cached);
  EXPECT_EQ(cached.numPendingTerms, 1u) << "the record replaces the cached one";
  auto *s = static_cast<CommSystemStruct *>(kyr_handle_resolve(comm_system_handle(), sizeof(CommSystemStruct),
                                                               KYR_HANDLE_ANY));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(+s->numPendingTerms, 1);

  c.numPendingTerms = 0;
  on_comm_changed(&c, CSCOMM_AUTO_ANSWER_PP_FIELD, 0);
  EXPECT_EQ(Codes().size(), 7u) << "without the pending flag the count is not compared";
  for (const auto &e : Events())
    if (e.code == EVENT_COMM_SETTINGS_CHANGED && e.v1 > 0) comm_release_list(e.v1);
}

TEST_F(CommTest, ConferenceNetworkAndArchiveHandlers) {
  CSConf conf;
  memset(&conf, 0, sizeof conf);
  strcpy(conf.name, "Board room");
  conf.numTerms = 3;
  on_conf_changed(&conf, CSCONF_NUM_TERMS_FIELD, 0);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].code, EVENT_COMM_CONFERENCE_CHANGED);
  EXPECT_EQ(Events()[0].v2, static_cast<int>(CSCONF_NUM_TERMS_FIELD));
  auto *entry = static_cast<KyrConferenceStruct *>(
      kyr_handle_resolve(Events()[0].v1, sizeof(KyrConferenceStruct), KYR_HANDLE_ANY));
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->name, "Board room");
  EXPECT_EQ(+entry->numTerms, 3);
  EXPECT_EQ(+entry->index, 0);
  CSConf last;
  ASSERT_EQ(comm_last_conf(&last), 1);
  EXPECT_STREQ(last.name, "Board room");

  CSSipNic sip;
  memset(&sip, 0, sizeof sip);
  on_sip_nic_changed(&sip, 1, 0);
  CSIsdnLine line;
  memset(&line, 0, sizeof line);
  on_line_changed(&line, 1, 0);
  on_pots_nic_changed(nullptr, 1, 0);
  std::vector<int> want = {EVENT_COMM_CONFERENCE_CHANGED, EVENT_COMM_SETTINGS_CHANGED, EVENT_COMM_SETTINGS_CHANGED};
  EXPECT_EQ(Codes(), want);
  for (const auto &e : Events())
    if (e.code == EVENT_COMM_SETTINGS_CHANGED && e.v1 > 0) comm_release_list(e.v1);

  CSRecentCallArchive arch;
  memset(&arch, 0, sizeof arch);
  arch.archiveTime = 1700000123;
  on_recent_call_list_archived(&arch, 0, 0);
  EXPECT_EQ(Events().size(), 3u) << "only with the archive-time flag";
  on_recent_call_list_archived(&arch, CSRECENT_CALL_ARCHIVE_ARCHIVE_TIME_FIELD, 0);
  ASSERT_EQ(Events().size(), 4u);
  EXPECT_EQ(Events()[3].code, EVENT_COMM_RECENT_CALLS_ARCHIVED);
  EXPECT_EQ(Events()[3].v1, 1700000123);
  EXPECT_EQ(comm_archive_time(), 1700000123);
}

TEST_F(CommTest, CallStateEventReportsTheRememberedState) {
  comm_debug_reset();
  callStateEvent(nullptr);
  CSTerm t = MakeTerm(3, KYR_CALL_HOLDING);
  on_term_changed(&t, CSTERM_STATE_FIELD, 0);
  callStateEvent(nullptr);
  auto ev = Events();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].code, EVENT_COMM_CALL_STATE_CHANGED);
  EXPECT_EQ(ev[0].v1, KYR_CALL_DIALING) << "Dialing at load";
  EXPECT_EQ(ev[0].v2, 0);
  EXPECT_EQ(ev[2].v1, KYR_CALL_HOLDING);
  EXPECT_EQ(ev[2].v2, 0);
}

// Entry points fetch into their own records: Java threads asking at once,
// while the worker's handlers rewrite the module state, each get whole and
// correct answers.
TEST_F(CommTest, ConcurrentCallersAndHandlersDoNotShareScratchRecords) {
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 3; k++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 15; i++) {
        int64_t head = comm_get_recent_calls();
        auto *first = static_cast<KyrCallStruct *>(kyr_list_node(head, sizeof(KyrCallStruct)));
        if (!first || strcmp(first->name, "Earlier call 1") != 0 || comm_release_list(head) != 2) bad++;
        head = comm_get_current_conferences();
        auto *conf = static_cast<KyrConferenceStruct *>(kyr_list_node(head, sizeof(KyrConferenceStruct)));
        if (!conf || strcmp(conf->name, "Conference 1") != 0 || comm_release_list(head) != 1) bad++;
      }
    });
  }
  threads.emplace_back([] {
    CSConf conf;
    memset(&conf, 0, sizeof conf);
    CSComm comm;
    memset(&comm, 0, sizeof comm);
    for (int i = 0; i < 200; i++) {
      snprintf(conf.name, sizeof conf.name, "Notified %d", i);
      on_conf_changed(&conf, CSCONF_NAME_FIELD, 0);
      comm.numPendingTerms = static_cast<unsigned int>(i % 3);
      on_comm_changed(&comm, CSCOMM_NUM_PENDING_TERMS_FIELD, 0);
    }
  });
  for (auto &t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  for (const auto &e : Events())
    if (e.code == EVENT_COMM_SETTINGS_CHANGED && e.v1 > 0) comm_release_list(e.v1);
}

TEST(CommNames, CallAndAuthenticationStates) {
  EXPECT_STREQ(comm_call_state_name(0), "Active");
  EXPECT_STREQ(comm_call_state_name(4), "Incoming");
  EXPECT_STREQ(comm_call_state_name(7), "Disconnected");
  EXPECT_STREQ(comm_call_state_name(8), "Unknown");
  EXPECT_STREQ(comm_auth_state_name(1), "NeedsAuthenticating");
  EXPECT_STREQ(comm_auth_state_name(3), "Authenticated");
  EXPECT_STREQ(comm_auth_state_name(4), "Unknown");
}

TEST(CommLayout, CallCopyCutsTextsAndKeepsEveryField) {
  CSTerm t;
  memset(&t, 0x5A, sizeof t);  // garbage everywhere, texts unterminated
  t.id = -2;
  t.state = 3;
  KyrCallStruct c;
  memset(&c, 0xEE, sizeof c);
  c.next = 0;
  kyr_copy_KyrCallStruct(&c, &t);
  EXPECT_EQ(+c.id, -2);
  EXPECT_EQ(+c.state, 3);
  EXPECT_EQ(strlen(c.name), 127u);
  EXPECT_EQ(strlen(c.addr), 256u);
  EXPECT_EQ(strlen(c.dialedAddr), 256u);
  EXPECT_EQ(strlen(c.deviceName), 31u);
  EXPECT_EQ(+c.next, 0) << "the link is not part of the copy";
}

}  // namespace
