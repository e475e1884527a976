// Handshake paths and synchronous calls against the codec simulator.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

#include "sim_fixture.h"
#include "support/log_capture.h"

namespace clienttest {
namespace {

using Handshake = SimTest;
using Calls = SimTest;

TEST_F(Handshake, ConnectAndAuthReachReadyAndResendLogFlags) {
  Start();
  EXPECT_EQ(csLogEnable(0, 2), CSAPI_ERR_NO_CONNECT);  // nothing connected, but the flags are kept
  int inst = Connect();
  ASSERT_GE(inst, 0);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_VERSION_OK);
  CSSrvrInfo info;
  ASSERT_EQ(csSrvrGet(&info, (unsigned)inst), 0);
  EXPECT_EQ(info.index, inst);
  EXPECT_STREQ(info.srvrSWVer, "6.2.0");
  EXPECT_STREQ(info.srvrDeviceType, "codec-sim");
  EXPECT_STREQ(info.protoVers, "CSAPI/1.0");
  EXPECT_STREQ(info.minClientSWVer, "1.0.0");
  EXPECT_STREQ(info.maxClientSWVer, "99.0.0");
  codec_sim_request ver;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csVersion", 1000, &ver));
  EXPECT_EQ(ver.params,
            R"({"protoVers":"CSAPI/1.0","clientDeviceType":"davix","clientSWVer":"2.0.0","minSrvrSWVer":"1.0.0","maxSrvrSWVer":"9.0.0"})");

  size_t from = codec_sim_request_count(sim_);
  EXPECT_EQ(csAuth(inst, "SERIAL1"), 0);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_READY);
  EXPECT_EQ(csSrvrCount(), 1);
  codec_sim_request le;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csLogEnable", 1000, &le, from));
  EXPECT_EQ(le.params, R"({"logEnable":1})");
  EXPECT_EQ(csError(), 0);
}

TEST_F(Handshake, MissingChallengeHashesTheIdAlone) {
  codec_sim_config cfg;
  cfg.send_challenge = false;
  Start(cfg);
  int inst = Connect();
  ASSERT_GE(inst, 0);
  csapi_srvr_t e;
  ASSERT_EQ(csapi_client_get_srvr_info(inst, &e), 0);
  EXPECT_STREQ(e.srvrChallenge, "");
  EXPECT_EQ(csAuth(inst, "SERIAL1"), 0);
  codec_sim_request a;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csAuth", 1000, &a));
  EXPECT_NE(a.params.find(codec_sim_challenge_response("SERIAL1", "")), std::string::npos) << a.params;
}

struct VersionCase {
  int code;
  const char *line;
};

class VersionErrors : public SimTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionErrors, LogTheVersionsAndLeaveNoInstance) {
  codec_sim_config cfg;
  cfg.version_error = GetParam().code;
  Start(cfg);
  kyrtest::LogCapture log;
  EXPECT_EQ(Connect(), GetParam().code);
  EXPECT_EQ(csError(), GetParam().code);
  EXPECT_EQ(csSrvrCount(), 0);
  auto lines = log.Find(GetParam().line);
  ASSERT_EQ(lines.size(), 1u);
  const std::string &t = lines[0].text;
  EXPECT_EQ(t.rfind("csapi_client:ERR:", 0), 0u) << t;
  EXPECT_NE(t.find("client [protocol:CSAPI/1.0, clientSWVersion:2.0.0, minSrvrVersion:1.0.0, maxSrvrVersion:9.0.0]"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("server [protocol:CSAPI/1.0, srvrSWVersion:6.2.0, minClientVersion:1.0.0, maxClientVersion:99.0.0]"),
            std::string::npos)
      << t;
  // The connection was closed by us.
  for (int i = 0; i < 200 && codec_sim_connection_count(sim_) > 0; i++) usleep(5000);
  EXPECT_EQ(codec_sim_connection_count(sim_), 0);
}

INSTANTIATE_TEST_SUITE_P(Codes, VersionErrors,
                         ::testing::Values(VersionCase{-29, "bad client version"},
                                           VersionCase{-30, "bad server version"}),
                         [](const ::testing::TestParamInfo<VersionCase> &i) { return "code" + std::to_string(-i.param.code); });

TEST_F(Handshake, OtherVersionErrorKeepsTheInstanceConnected) {
  codec_sim_config cfg;
  cfg.version_error = -11;
  Start(cfg);
  EXPECT_EQ(Connect(), -11);
  EXPECT_EQ(csSrvrCount(), 1);
  int found = -1;
  for (int i = 0; i < csSrvrMax(); i++)
    if (csapi_client_get_state(i) == CLIENT_STATE_CONNECTED) found = i;
  EXPECT_GE(found, 0);
}

TEST_F(Handshake, PairingRequiredThenPair) {
  codec_sim_config cfg;
  cfg.pairing_required = true;
  cfg.admin_user = "admin";
  cfg.admin_pwd = "secret";
  Start(cfg);
  EXPECT_EQ(csLogEnable(0, 2), CSAPI_ERR_NO_CONNECT);
  int inst = Connect();
  ASSERT_GE(inst, 0);
  EXPECT_EQ(csAuth(inst, "SERIAL1"), CSAPI_ERR_PAIRING_REQUIRED);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_AUTH_REQUIRED);

  EXPECT_EQ(csPair(inst, "SERIAL1", "admin", "wrong"), CSAPI_ERR_NOT_AUTHORIZED);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_AUTH_REQUIRED);

  size_t from = codec_sim_request_count(sim_);
  EXPECT_EQ(csPair(inst, "SERIAL1", "admin", "secret"), 0);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_READY);
  codec_sim_request le;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csLogEnable", 1000, &le, from));
  EXPECT_EQ(le.params, R"({"logEnable":1})");
  codec_sim_request pr;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csPair", 1000, &pr, from));
  EXPECT_EQ(pr.params, R"({"id":"SERIAL1","adminName":"admin","adminPwd":"secret"})");
}

TEST_F(Handshake, UnpairLeavesConnectedEvenWhenRefused) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_inject_error(sim_, "csUnpair", -11);
  EXPECT_EQ(csUnpair(inst, "SERIAL1", "admin", "bad"), -11);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_CONNECTED);
}

TEST_F(Handshake, WrongChallengeResponseIsNotAuthorized) {
  codec_sim_config cfg;
  cfg.serial = "THE-SERIAL";
  Start(cfg);
  kyrtest::LogCapture log;
  int inst = Connect();
  ASSERT_GE(inst, 0);
  EXPECT_EQ(csAuth(inst, "OTHER"), CSAPI_ERR_NOT_AUTHORIZED);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_VERSION_OK);
  EXPECT_EQ(log.Count("authentication error from server"), 1u);
  EXPECT_EQ(csAuth(inst, "THE-SERIAL"), 0);
}

TEST_F(Handshake, LogEnableAndClientSetSendTheirMembers) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  size_t from = codec_sim_request_count(sim_);
  EXPECT_EQ(csLogEnable(inst, 1), 0);
  EXPECT_EQ(csLogEnable(inst, 0), 0);
  CSClientInfo ci;
  memset(&ci, 0, sizeof ci);
  strcpy(ci.applicationVersion, "3.1");
  strcpy(ci.platformVersion, "14");
  strcpy(ci.hardwareVersion, "B2");
  ci.addressMode = 2;
  strcpy(ci.language, "en");
  EXPECT_EQ(csClientSet(&ci, inst), 0);
  EXPECT_EQ(csClientSet(nullptr, inst), CSAPI_ERR_BAD_PARAMETER);
  auto reqs = codec_sim_requests(sim_);
  std::vector<std::string> params;
  for (size_t i = from; i < reqs.size(); i++) params.push_back(reqs[i].method + " " + reqs[i].params);
  ASSERT_EQ(params.size(), 3u);
  EXPECT_EQ(params[0], R"(csLogEnable {"logEnable":0})");
  EXPECT_EQ(params[1], R"(csLogEnable {"logEnable":0})");
  EXPECT_EQ(params[2],
            R"(csClientSet {"applicationVersion":"3.1","platformVersion":"14","language":"en","addressMode":2,"hardwareVersion":"B2"})");
}

TEST_F(Handshake, AddressFromTheConfigurationFile) {
  Start();
  char dir[] = "/tmp/csapi_cfgXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char old[1024];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  FILE *f = fopen("csapi_srvr_addr0.dat", "wb");
  ASSERT_NE(f, nullptr);
  fprintf(f, "%s\r\nsecond line\n", addr_.c_str());
  fclose(f);
  char buf[64];
  EXPECT_EQ(csConfigRead("csapi_srvr_addr", 0, buf, sizeof buf), 0);
  EXPECT_EQ(std::string(buf), addr_);
  EXPECT_EQ(csConfigRead("csapi_srvr_addr", 0, buf, 5), 0);
  EXPECT_STREQ(buf, "127.");
  EXPECT_EQ(csConfigRead("csapi_srvr_addr", 1, buf, sizeof buf), ENOENT);  // csapi_srvr_addr.dat
  EXPECT_EQ(csConfigRead(nullptr, 0, buf, sizeof buf), -1);
  int inst = csConnect(nullptr, "davix", "2.0.0", "1.0.0", "9.0.0");
  EXPECT_GE(inst, 0);
  unlink("csapi_srvr_addr0.dat");
  ASSERT_EQ(chdir(old), 0);
  rmdir(dir);
}

TEST_F(Handshake, UnreachableServerIsBadAddress) {
  kyrtest::LogCapture log;
  // Bind a port, then close it so nothing listens there.
  codec_sim *tmp = codec_sim_start(codec_sim_config());
  ASSERT_NE(tmp, nullptr);
  int port = codec_sim_port(tmp);
  codec_sim_stop(tmp);
  std::string a = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(csConnect(a.c_str(), "davix", "2", "1", "9"), CSAPI_ERR_BAD_ADDRESS);
  EXPECT_EQ(log.Count("can't connect to csapi server:127.0.0.1"), 1u);
  EXPECT_EQ(csSrvrCount(), 0);
}

TEST_F(Handshake, TenInstancesThenOutOfResources) {
  Start();
  std::vector<int> insts;
  for (int i = 0; i < csSrvrMax(); i++) {
    int inst = Connect();
    ASSERT_GE(inst, 0);
    insts.push_back(inst);
  }
  EXPECT_EQ(Connect(), CSAPI_ERR_OUT_OF_RESOURCES);
  // None of the live ones was touched.
  for (int inst : insts) EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_VERSION_OK);
  EXPECT_EQ(csSrvrCount(), csSrvrMax());
  CSSrvrInfo info;
  EXPECT_EQ(csSrvrGet(&info, 10), CSAPI_ERR_OUT_OF_RANGE);
  EXPECT_EQ(csSrvrGet(nullptr, 0), CSAPI_ERR_BAD_PARAMETER);
}

TEST_F(Handshake, AddressIsCutAtTheColonInPlace) {
  Start();
  char a[64];
  snprintf(a, sizeof a, "%s", addr_.c_str());
  int inst = new_csapi_client(a);
  ASSERT_GE(inst, 0);
  EXPECT_STREQ(a, "127.0.0.1");
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_CONNECTED);
  delete_csapi_client(inst);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_DISCONNECTED);
}

// ---- calls ----

struct AnswerCase {
  const char *result;  // JSON of "result", or null for an error answer
  int code;            // error code when result is null
  int expected;
};

class CallAnswers : public SimTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(CallAnswers, ValueOfTheCall) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  AnswerCase c = GetParam();
  codec_sim_set_answer_hook(sim_, [c](const codec_sim_request &r, std::string *reply) {
    if (r.method != "testCall") return (int)CODEC_SIM_DEFAULT;
    *reply = c.result ? codec_sim_result_text(r, c.result) : codec_sim_error_text(r, c.code);
    return (int)CODEC_SIM_REPLY;
  });
  EXPECT_EQ(call(inst, "testCall", 1), c.expected);
  EXPECT_EQ(csError(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, CallAnswers,
                         ::testing::Values(AnswerCase{"7", 0, 7}, AnswerCase{R"({"handle":3})", 0, 0},
                                           AnswerCase{R"("text")", 0, 0}, AnswerCase{"[1,2]", 0, 0},
                                           AnswerCase{"-4", 0, -4}, AnswerCase{nullptr, -23, -23},
                                           AnswerCase{nullptr, -1, -1}),
                         [](const ::testing::TestParamInfo<AnswerCase> &i) { return "case" + std::to_string(i.index); });

TEST_F(Calls, UnknownMethodIsUnknownFunction) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  EXPECT_EQ(call(inst, "noSuchMethod", 1), CSAPI_ERR_UNKNOWN_FUNCTION);
}

TEST_F(Calls, BadArgumentsAndNoConnection) {
  EXPECT_EQ(call(10, "x", 1), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csError(), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csapi_client_call(0, nullptr, 5), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(call(3, "x", 1), CSAPI_ERR_NO_CONNECT);
  EXPECT_EQ(csError(), CSAPI_ERR_NO_CONNECT);
}

TEST_F(Calls, UnreadableAnswerIsBadMessage) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *reply) {
    if (r.method != "testCall") return (int)CODEC_SIM_DEFAULT;
    *reply = "{\"result\":tru,\"id\":" + r.id + "}";
    return (int)CODEC_SIM_REPLY;
  });
  EXPECT_EQ(call(inst, "testCall", 1), CSAPI_ERR_BAD_MESSAGE);
}

TEST_F(Calls, TwoThreadsGetTheirOwnAnswersInEitherOrder) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *) {
    return r.method == "held" ? (int)CODEC_SIM_SILENT : (int)CODEC_SIM_DEFAULT;
  });
  size_t from = codec_sim_request_count(sim_);
  int rc1 = 0, rc2 = 0;
  std::thread t1([&] { rc1 = call(inst, "held", 101); });
  std::thread t2([&] { rc2 = call(inst, "held", 202); });
  codec_sim_request a, b;
  size_t ia = 0;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 3000, &a, from, &ia));
  ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 3000, &b, ia + 1));
  EXPECT_NE(a.id, b.id);
  // Answer the second request first.
  codec_sim_push(sim_, codec_sim_result_text(b, std::to_string(param_n(b))));
  codec_sim_push(sim_, codec_sim_result_text(a, std::to_string(param_n(a))));
  t1.join();
  t2.join();
  EXPECT_EQ(rc1, 101);
  EXPECT_EQ(rc2, 202);
}

TEST_F(Calls, StalledCodecTimesOutAndTheLateAnswerIsNotTakenByTheNextCall) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *) {
    return r.method == "held" ? (int)CODEC_SIM_SILENT : (int)CODEC_SIM_DEFAULT;
  });
  kyrtest::LogCapture log;
  size_t from = codec_sim_request_count(sim_);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(call(inst, "held", 1, 1), CSAPI_ERR_TIMEOUT);
  long long took = ms_since(t0);
  EXPECT_GE(took, 950);
  EXPECT_LT(took, 2500);
  EXPECT_EQ(csError(), CSAPI_ERR_TIMEOUT);
  codec_sim_request first;
  size_t i1 = 0;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 1000, &first, from, &i1));

  // The next call on the same thread waits while the abandoned call's answer arrives.
  int rc = 0;
  std::thread t([&] { rc = call(inst, "held", 2, 5); });
  codec_sim_request second;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 3000, &second, i1 + 1));
  codec_sim_push(sim_, codec_sim_result_text(first, "99"));
  for (int i = 0; i < 200 && log.Count("matches no waiting call") == 0; i++) usleep(5000);
  EXPECT_EQ(log.Count("matches no waiting call"), 1u);
  codec_sim_push(sim_, codec_sim_result_text(second, "5"));
  t.join();
  EXPECT_EQ(rc, 5);
}

TEST_F(Calls, LongTimeoutArgumentEncodesMilliseconds) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *) {
    return r.method == "held" ? (int)CODEC_SIM_SILENT : (int)CODEC_SIM_DEFAULT;
  });
  // 1500 ms * 1000 + 1: waits 1.5 s plus 30 s, so it is still waiting at 3 s;
  // then the connection closes and the call ends.
  std::atomic<int> rc{1};
  std::thread t([&] { rc = call(inst, "held", 1, 1500 * 1000 + 1); });
  ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 2000));
  usleep(3000 * 1000);
  EXPECT_EQ(rc.load(), 1);
  codec_sim_close_connections(sim_);
  t.join();
  EXPECT_EQ(rc.load(), CSAPI_ERR_NO_CONNECT);
}

TEST_F(Calls, TenWaitingCallersAllFailPromptlyWhenTheCodecCloses) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *) {
    return r.method == "held" ? (int)CODEC_SIM_SILENT : (int)CODEC_SIM_DEFAULT;
  });
  size_t from = codec_sim_request_count(sim_);
  std::vector<int> rcs(10, 1);
  std::vector<std::thread> ts;
  for (int i = 0; i < 10; i++) ts.emplace_back([&, i] { rcs[i] = call(inst, "held", i, 30); });
  for (int i = 0; i < 10; i++) {
    size_t idx = 0;
    ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 3000, nullptr, from, &idx));
    from = idx + 1;
  }
  auto t0 = std::chrono::steady_clock::now();
  codec_sim_close_connections(sim_);
  for (auto &t : ts) t.join();
  EXPECT_LT(ms_since(t0), 2000);
  for (int rc : rcs) EXPECT_EQ(rc, CSAPI_ERR_NO_CONNECT);
  EXPECT_EQ(csapi_client_get_state(inst), CLIENT_STATE_DISCONNECTED);
  EXPECT_EQ(csSrvrCount(), 0);
  // Later calls fail at once without touching the connection.
  EXPECT_EQ(call(inst, "held", 1), CSAPI_ERR_NO_CONNECT);
}

TEST_F(Calls, DeletingAnInstanceWakesItsCallers) {
  Start();
  int inst = ConnectReady();
  ASSERT_GE(inst, 0);
  codec_sim_set_answer_hook(sim_, [](const codec_sim_request &r, std::string *) {
    return r.method == "held" ? (int)CODEC_SIM_SILENT : (int)CODEC_SIM_DEFAULT;
  });
  int rc = 1;
  std::thread t([&] { rc = call(inst, "held", 1, 30); });
  ASSERT_TRUE(codec_sim_wait_request(sim_, "held", 3000));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(csDisconnect(inst), 0);
  t.join();
  EXPECT_LT(ms_since(t0), 2000);
  EXPECT_EQ(rc, CSAPI_ERR_NO_CONNECT);
}

}  // namespace
}  // namespace clienttest
