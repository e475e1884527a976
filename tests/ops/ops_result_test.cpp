// How operations turn answers into results and records: counts and codec
// errors, getters that fail, the instance stamped on decoded records, list
// answers (missing members, counts beyond the list), the call's time-out
// argument, and failures before anything is sent.
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "ops_fixture.h"

namespace opstest {
namespace {

using ResultTest = OpsTest;

// ---- results of non-getters ------------------------------------------------

TEST_F(ResultTest, CallResultIsReturnedAndLeftAsLastError) {
  CSComm comm{};
  comm.srvrInstance = inst_;
  CSTerm term{};
  term.srvrInstance = inst_;
  CSDirSrvr srvr{};
  srvr.srvrInstance = inst_;
  CSDirEnt filter{};
  struct Case {
    const char *answer;
    std::function<int()> call;
    int want;
  } cases[] = {
      {"5", [&] { return csCommConfCount(&comm); }, 5},
      {"0", [&] { return csCommConfCount(&comm); }, 0},
      {"1", [&] { return csTermSet(&term, 0x1u); }, 1},
      {"1234", [&] { return csDirSrvrListStart(&srvr, 64, &filter, 0u); }, 1234},
      {"{\"x\":1}", [&] { return csTermHangup(&term, 0); }, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.answer);
    AnswerResult(c.answer);
    EXPECT_EQ(c.call(), c.want);
    EXPECT_EQ(csError(), c.want);
  }
}

TEST_F(ResultTest, CodecErrorCodeIsPassedThrough) {
  CSComm comm{};
  comm.srvrInstance = inst_;
  for (int code : {-4, -7, -23, -31}) {
    SCOPED_TRACE(code);
    AnswerError(code);
    EXPECT_EQ(csCommConfCount(&comm), code);
    EXPECT_EQ(csError(), code);
  }
}

// ---- getters that fail ------------------------------------------------------

// A getter on a record of some kind, filled with a byte pattern beforehand.
struct GetCase {
  const char *name;
  size_t size;
  std::function<int(void *out, int parentInstance)> call;
};

std::vector<GetCase> GetCases() {
  return {
      {"csTermGet", sizeof(CSTerm),
       [](void *o, int in) {
         CSConf c{};
         c.srvrInstance = in;
         return csTermGet(static_cast<CSTerm *>(o), &c, 0u);
       }},
      {"csAudioGet", sizeof(CSAudio), [](void *o, int in) { return csAudioGet(static_cast<CSAudio *>(o), in); }},
      {"csInkpadGet", sizeof(CSInkpad),
       [](void *o, int in) {
         CSSys s{};
         s.srvrInstance = in;
         return csInkpadGet(static_cast<CSInkpad *>(o), &s);
       }},
      {"csDirEntGet", sizeof(CSDirEnt),
       [](void *o, int in) {
         CSDirSrvr s{};
         s.srvrInstance = in;
         return csDirEntGet(static_cast<CSDirEnt *>(o), &s, 60000, "id-1");
       }},
      {"csDirListGet", sizeof(CSDirList),
       [](void *o, int in) {
         CSDirSrvr s{};
         s.srvrInstance = in;
         return csDirListGet(static_cast<CSDirList *>(o), &s, 1, 6000, 64);
       }},
      {"csRecentCallListGet", sizeof(CSRecentCallList),
       [](void *o, int in) {
         CSComm c{};
         c.srvrInstance = in;
         return csRecentCallListGet(static_cast<CSRecentCallList *>(o), &c, 0u, 100u, 1u, 1u);
       }},
  };
}

std::vector<unsigned char> Pattern(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(0xA5 ^ (i * 7));
  int32_t nine = 9;
  memcpy(v.data(), &nine, sizeof nine);  // srvrInstance
  return v;
}

int32_t InstanceOf(const std::vector<unsigned char> &rec) {
  int32_t v;
  memcpy(&v, rec.data(), sizeof v);
  return v;
}

// The answers a getter must refuse: the record keeps every field and only
// learns which connection answered.
TEST_F(ResultTest, GetterRefusedByCodecKeepsFieldsButStampsInstance) {
  const struct {
    const char *label;
    std::function<std::string(const codec_sim_request &)> answer;
    int want;
  } answers[] = {
      {"error -4", [](const codec_sim_request &r) { return codec_sim_error_text(r, -4, "Not found"); }, -4},
      {"error -11", [](const codec_sim_request &r) { return codec_sim_error_text(r, -11); }, -11},
      {"number result", [](const codec_sim_request &r) { return codec_sim_result_text(r, "3"); }, -2},
      {"text result", [](const codec_sim_request &r) { return codec_sim_result_text(r, "\"x\""); }, -2},
      {"error code 4", [](const codec_sim_request &r) { return codec_sim_error_text(r, 4); }, -2},
      {"error code 0", [](const codec_sim_request &r) { return codec_sim_error_text(r, 0); }, -2},
      {"error beside a result",
       [](const codec_sim_request &r) {
         return "{\"result\":{\"name\":\"x\"},\"error\":{\"code\":-4},\"id\":" + r.id + ",\"jsonrpc\":\"2.0\"}";
       },
       -4},
      {"neither result nor error",
       [](const codec_sim_request &r) { return "{\"id\":" + r.id + ",\"jsonrpc\":\"2.0\"}"; }, -2},
  };
  for (const auto &a : answers) {
    Answer(a.answer);
    for (const GetCase &c : GetCases()) {
      SCOPED_TRACE(std::string(a.label) + " / " + c.name);
      auto before = Pattern(c.size);
      auto rec = before;
      EXPECT_EQ(c.call(rec.data(), inst_), a.want);
      EXPECT_EQ(csError(), a.want);
      EXPECT_EQ(InstanceOf(rec), inst_);
      EXPECT_TRUE(std::equal(rec.begin() + 4, rec.end(), before.begin() + 4)) << "fields changed";
    }
  }
}

TEST_F(ResultTest, GetterThatNeverReachesTheCodecLeavesRecordWhole) {
  AnswerResult("{\"srvrInstance\":1}");
  for (int target : {9, 12, -1}) {
    for (const GetCase &c : GetCases()) {
      SCOPED_TRACE(std::string(c.name) + " to instance " + std::to_string(target));
      size_t sent = codec_sim_request_count(sim_);
      auto before = Pattern(c.size);
      auto rec = before;
      int rc = c.call(rec.data(), target);
      EXPECT_TRUE(rc == CSAPI_ERR_NO_CONNECT || rc == CSAPI_ERR_BAD_PARAMETER) << rc;
      EXPECT_EQ(rec, before);
      EXPECT_EQ(codec_sim_request_count(sim_), sent);
    }
  }
}

// ---- getters that succeed ----------------------------------------------------

TEST_F(ResultTest, TermGetOnSecondInstanceStampsThatInstance) {
  int i1 = Connect(), i2 = Connect();
  ASSERT_EQ(i1, inst_ + 1);
  ASSERT_EQ(i2, inst_ + 2);
  AnswerResult(R"({"srvrInstance":7,"handle":77,"name":"Far end","state":3})");
  CSConf conf{};
  conf.srvrInstance = i2;
  conf.handle = 12;
  CSTerm term{};
  term.srvrInstance = 0;
  term.handle = 41;
  size_t before = codec_sim_request_count(sim_);
  ASSERT_EQ(csTermGet(&term, &conf, 1u), 0);
  EXPECT_EQ(term.srvrInstance, i2);
  EXPECT_EQ(term.handle, 77u);
  EXPECT_STREQ(term.name, "Far end");
  EXPECT_EQ(term.state, 3u);
  codec_sim_request req;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csTermGet", 1000, &req, before));
  EXPECT_EQ(RawParams(req.text), R"({"pTermHandle":41,"pConfHandle":12,"termInstance":1})");
  // Connections are accepted in the order they were made: the third one.
  auto ids = codec_sim_connection_ids(sim_);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(req.conn, ids[2]);
}

TEST_F(ResultTest, TopLevelGetterStampsInstanceArgument) {
  AnswerResult(R"({"srvrInstance":6,"handle":5,"volume":40,"muted":true})");
  CSAudio audio{};
  audio.srvrInstance = 9;
  ASSERT_EQ(csAudioGet(&audio, inst_), 0);
  EXPECT_EQ(audio.srvrInstance, inst_);
  EXPECT_EQ(audio.handle, 5u);
  EXPECT_EQ(audio.volume, 40u);
  EXPECT_EQ(audio.muted, 1u);
}

// ---- list answers --------------------------------------------------------------

// A list record inside a larger block whose tail must stay untouched.
template <typename L>
struct Guarded {
  static constexpr size_t kTail = 4096;
  std::vector<unsigned char> block = std::vector<unsigned char>(sizeof(L) + kTail, 0xEE);
  L *rec() { return reinterpret_cast<L *>(block.data()); }
  bool TailIntact() const {
    for (size_t i = sizeof(L); i < block.size(); ++i)
      if (block[i] != 0xEE) return false;
    return true;
  }
};

TEST_F(ResultTest, DirListWithoutListClearsEntriesAndWithoutLocaleLeavesItEmpty) {
  auto list = std::make_unique<CSDirList>();
  snprintf(list->list[0].id, sizeof list->list[0].id, "stale");
  list->list[0].rate = 99;
  snprintf(list->locale, sizeof list->locale, "xx");
  list->rate = 3;
  AnswerResult(R"({"srvrInstance":4,"listCount":3})");
  CSDirSrvr srvr{};
  srvr.srvrInstance = inst_;
  ASSERT_EQ(csDirListGet(list.get(), &srvr, 1, 60000, 64), 0);
  EXPECT_EQ(list->srvrInstance, inst_);
  EXPECT_EQ(list->listCount, 3);
  CSDirEnt zero{};
  EXPECT_EQ(memcmp(&list->list[0], &zero, sizeof zero), 0);
  EXPECT_STREQ(list->locale, "");
  EXPECT_EQ(list->rate, 0);
}

TEST_F(ResultTest, DirListDecodesEntriesLocaleAndRate) {
  AnswerResult(R"({"srvrInstance":0,"listCount":2,"list":[{"id":"a","fullName":"Ann"},{"id":"b","rate":512}],)"
               R"("locale":"en_GB-this-locale-is-longer-than-31-characters","rate":768})");
  auto list = std::make_unique<CSDirList>();
  CSDirSrvr srvr{};
  srvr.srvrInstance = inst_;
  ASSERT_EQ(csDirListGet(list.get(), &srvr, 1, 6000, 64), 0);
  ASSERT_EQ(list->listCount, 2);
  EXPECT_STREQ(list->list[0].id, "a");
  EXPECT_STREQ(list->list[0].fullName, "Ann");
  EXPECT_STREQ(list->list[1].id, "b");
  EXPECT_EQ(list->list[1].rate, 512);
  EXPECT_EQ(strlen(list->locale), 31u);
  EXPECT_EQ(list->rate, 768);
}

std::string Entries(int n, const char *member) {
  std::string s = "[";
  for (int i = 0; i < n; ++i) s += std::string(i ? "," : "") + "{\"" + member + "\":\"e" + std::to_string(i) + "\"}";
  return s + "]";
}

// A count from the network never writes past the list, never reads entries
// the answer does not hold, and a negative one reads as 0.
TEST_F(ResultTest, ListCountsAreKeptWithinTheListAndTheAnswer) {
  const struct {
    int count, entries, want;
  } cases[] = {{1000, 70, 64}, {65, 65, 64}, {64, 64, 64}, {10, 3, 3}, {-5, 4, 0}, {2147483647, 80, 64}};
  CSDirSrvr dsrv{};
  dsrv.srvrInstance = inst_;
  CSCalSrvr csrv{};
  csrv.srvrInstance = inst_;
  CSContentSrvr tsrv{};
  tsrv.srvrInstance = inst_;
  CSComm comm{};
  comm.srvrInstance = inst_;
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " of " + std::to_string(c.entries));
    auto answer = [&](const char *member) {
      AnswerResult("{\"listCount\":" + std::to_string(c.count) + ",\"list\":" + Entries(c.entries, member) + "}");
    };
    {
      answer("id");
      Guarded<CSDirList> g;
      ASSERT_EQ(csDirListGet(g.rec(), &dsrv, 1, 6000, 64), 0);
      EXPECT_EQ(g.rec()->listCount, c.want);
      if (c.want) {
        EXPECT_STREQ(g.rec()->list[c.want - 1].id, ("e" + std::to_string(c.want - 1)).c_str());
      }
      EXPECT_TRUE(g.TailIntact());
    }
    {
      answer("id");
      Guarded<CSCalList> g;
      ASSERT_EQ(csCalListGet(g.rec(), &csrv, 1, 6000, 64), 0);
      EXPECT_EQ(g.rec()->listCount, std::min(c.want, static_cast<int>(sizeof g.rec()->list / sizeof g.rec()->list[0])));
      EXPECT_TRUE(g.TailIntact());
    }
    {
      answer("name");
      Guarded<CSContentList> g;
      ASSERT_EQ(csContentListGet(g.rec(), &tsrv, 1, 6000, 64), 0);
      EXPECT_LE(g.rec()->listCount, static_cast<int>(sizeof g.rec()->list / sizeof g.rec()->list[0]));
      EXPECT_TRUE(g.TailIntact());
    }
  }
  // The recent call list holds 100 terminals.
  AnswerResult("{\"listCount\":500,\"list\":" + Entries(130, "name") + "}");
  Guarded<CSRecentCallList> g;
  ASSERT_EQ(csRecentCallListGet(g.rec(), &comm, 0u, 100u, 1u, 1u), 0);
  EXPECT_EQ(g.rec()->listCount, 100);
  EXPECT_STREQ(g.rec()->list[99].name, "e99");
  EXPECT_TRUE(g.TailIntact());
}

// ---- the call's time-out argument ------------------------------------------

std::vector<int> g_timeouts;
int RecordingCall(unsigned int instance, ccom_msg_t *msg, int timeout) {
  g_timeouts.push_back(timeout);
  return csapi_client_call(instance, msg, timeout);
}

TEST_F(ResultTest, SearchesAndListGetsStretchTheTimeoutAbove30Seconds) {
  AnswerResult("{}");
  cs_ops_set_hooks(nullptr, &RecordingCall);
  CSDirSrvr dsrv{};
  dsrv.srvrInstance = inst_;
  CSCalSrvr csrv{};
  csrv.srvrInstance = inst_;
  CSContentSrvr tsrv{};
  tsrv.srvrInstance = inst_;
  CSComm comm{};
  comm.srvrInstance = inst_;
  CSTerm term{};
  term.srvrInstance = inst_;
  auto dl = std::make_unique<CSDirList>();
  auto cl = std::make_unique<CSCalList>();
  auto tl = std::make_unique<CSContentList>();
  auto rl = std::make_unique<CSRecentCallList>();
  CSDirEnt ent{};
  CSCalMeeting meeting{};
  const struct {
    const char *label;
    std::function<int()> call;
    int want;
  } cases[] = {
      {"dir list 60000", [&] { return csDirListGet(dl.get(), &dsrv, 1, 60000, 64); }, 60000001},
      {"dir list 6000", [&] { return csDirListGet(dl.get(), &dsrv, 1, 6000, 64); }, 30},
      {"dir list 30000", [&] { return csDirListGet(dl.get(), &dsrv, 1, 30000, 64); }, 30},
      {"dir list 30001", [&] { return csDirListGet(dl.get(), &dsrv, 1, 30001, 64); }, 30001001},
      {"dir list -1", [&] { return csDirListGet(dl.get(), &dsrv, 1, -1, 64); }, 30},
      {"dir list huge", [&] { return csDirListGet(dl.get(), &dsrv, 1, INT_MAX, 64); }, INT_MAX},
      {"cal list", [&] { return csCalListGet(cl.get(), &csrv, 1, 45000, 64); }, 45000001},
      {"content list", [&] { return csContentListGet(tl.get(), &tsrv, 1, 40000, 64); }, 40000001},
      {"dir ent", [&] { return csDirEntGet(&ent, &dsrv, 60000, "x"); }, 60000001},
      {"dir ent by name", [&] { return csDirEntGetByName(&ent, &dsrv, 31000, "x"); }, 31000001},
      {"meeting", [&] { return csCalMeetingGet(&meeting, &csrv, 50000, "x"); }, 50000001},
      {"recent calls", [&] { return csRecentCallListGet(rl.get(), &comm, 0u, 100u, 1u, 1u); }, 30},
      {"setter", [&] { return csTermSet(&term, 1u); }, 30},
      {"count", [&] { return csCommConfCount(&comm); }, 30},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    g_timeouts.clear();
    EXPECT_EQ(c.call(), 0);
    ASSERT_EQ(g_timeouts.size(), 1u);
    EXPECT_EQ(g_timeouts[0], c.want);
  }
}

// ---- failures before anything is sent ---------------------------------------

ccom_msg_t *NoBuffer() { return nullptr; }

TEST_F(ResultTest, NoMessageBufferGivesOutOfResourcesAndSendsNothing) {
  AnswerResult("{}");
  cs_ops_set_hooks(&NoBuffer, nullptr);
  CSTerm term{};
  term.srvrInstance = inst_;
  snprintf(term.name, sizeof term.name, "keep");
  CSConf conf{};
  conf.srvrInstance = inst_;
  CSComm comm{};
  comm.srvrInstance = inst_;
  auto dl = std::make_unique<CSDirList>();
  CSDirSrvr dsrv{};
  dsrv.srvrInstance = inst_;
  const std::function<int()> calls[] = {
      [&] { return csTermSet(&term, 1u); },
      [&] { return csTermGet(&term, &conf, 0u); },
      [&] { return csCommConfCount(&comm); },
      [&] { return csConfTermDial(&conf, 384u, "10.0.0.1"); },
      [&] { return csDirListGet(dl.get(), &dsrv, 1, 60000, 64); },
  };
  size_t sent = codec_sim_request_count(sim_);
  for (const auto &call : calls) {
    csapi_err_set(0);
    EXPECT_EQ(call(), CSAPI_ERR_OUT_OF_RESOURCES);
    EXPECT_EQ(csError(), CSAPI_ERR_OUT_OF_RESOURCES);
  }
  EXPECT_STREQ(term.name, "keep");
  EXPECT_EQ(term.srvrInstance, inst_);
  // Let anything that was sent after all arrive before counting.
  EXPECT_FALSE(codec_sim_wait_request(sim_, "", 200, nullptr, sent));
}

TEST_F(ResultTest, MissingRecordsOrTextsAreRefusedBeforeSending) {
  AnswerResult("{}");
  CSTerm term{};
  term.srvrInstance = inst_;
  CSConf conf{};
  conf.srvrInstance = inst_;
  CSDirSrvr dsrv{};
  dsrv.srvrInstance = inst_;
  CSContentSrc src{};
  src.srvrInstance = inst_;
  const std::function<int()> calls[] = {
      [&] { return csTermSet(nullptr, 1u); },
      [&] { return csTermGet(nullptr, &conf, 0u); },
      [&] { return csTermGet(&term, nullptr, 0u); },
      [&] { return csAudioGet(nullptr, inst_); },
      [&] { return csConfTermDial(&conf, 384u, nullptr); },
      [&] { return csConfTermAnswer(&conf, nullptr); },
      [&] { return csContentSrcPlay(&src, nullptr, 1.0); },
      [&] { return csDirSrvrListStart(&dsrv, 10, nullptr, 0u); },
      [&] { return csDirListGet(nullptr, &dsrv, 1, 6000, 64); },
      [&] { return csDirEntGetByName(nullptr, &dsrv, 6000, "x"); },
  };
  size_t sent = codec_sim_request_count(sim_);
  for (const auto &call : calls) EXPECT_EQ(call(), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csError(), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_FALSE(codec_sim_wait_request(sim_, "", 200, nullptr, sent));
}

}  // namespace
}  // namespace opstest
