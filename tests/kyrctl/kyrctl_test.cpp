// Every kyrctl command against the simulator: JSON read back by the test,
// exit statuses, TLS and pairing, and no password anywhere in the output.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "csapi/client/cs_ops_hooks.h"
#include "csapi/client/cs_records.h"
#include "kyrctl_fixture.h"

namespace kyrtest {
namespace {

using Kyrctl = KyrctlTest;
const char kPwd[] = "Adm1n-Secret-7f3";

Json SimRecord(codec_sim *sim, const char *kind) {
  return Json(cJSON_Parse(codec_sim_record(sim, kind).c_str()));
}

TEST_F(Kyrctl, StatusAndOpReportTheCodecInJsonAndForPeople) {
  Start();
  Json sys = SimRecord(sim_, "Sys");
  ASSERT_TRUE(sys);

  RunResult r = Run({"--json"}, {"status"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  const cJSON *st = lines[0].get();
  EXPECT_EQ(Str(st, "type"), "status");
  EXPECT_EQ(Str(st, "model"), Str(sys.get(), "model"));
  EXPECT_EQ(Str(st, "serial"), Str(sys.get(), "serialNumber"));
  EXPECT_EQ(Str(st, "softwareVersion"), Str(sys.get(), "softwareVersion"));
  EXPECT_EQ(Str(st, "systemName"), Str(sys.get(), "systemName"));
  EXPECT_EQ(Str(st, "tls"), "off");
  EXPECT_TRUE(cJSON_IsNull(cJSON_GetObjectItemCaseSensitive(st, "fingerprint")));
  EXPECT_EQ(Str(st, "pairing"), "not needed");
  EXPECT_EQ(Str(st, "protocol"), "CSAPI/1.0");

  // For people: one aligned "name  value" line per item.
  r = Run({}, {"status"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("model           " + Str(sys.get(), "model") + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");

  // op decodes the answer into the record kind of the operation: every
  // field of the record, by name, in the encoder's order.
  // The record is stamped with this connection's instance, whatever the codec says.
  codec_sim_record_merge(sim_, "Sys", codec_sim_record_handles(sim_, "Sys").at(0), R"({"srvrInstance":7})");
  r = Run({"--json"}, {"op", "csSysGet"});
  ASSERT_EQ(r.status, 0) << r.err;
  lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Str(lines[0].get(), "kind"), "CSSys");
  const cJSON *rec = cJSON_GetObjectItemCaseSensitive(lines[0].get(), "record");
  CSSys zero{};
  Json all(cs_record_encode(CS_KIND_Sys, &zero));
  ASSERT_EQ(cJSON_GetArraySize(rec), cJSON_GetArraySize(all.get()));
  for (const cJSON *f = all->child, *g = rec->child; f && g; f = f->next, g = g->next) EXPECT_STREQ(f->string, g->string);
  EXPECT_EQ(Str(rec, "hostName"), Str(sys.get(), "hostName"));
  EXPECT_EQ(Num(rec, "bootTime"), Num(sys.get(), "bootTime"));
  EXPECT_EQ(Num(rec, "srvrInstance"), 0);

  // A count is a plain result; a record handle from one answer feeds the next.
  r = Run({"--json"}, {"op", "csCommGet"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto commLines = JsonLines(r.out);
  ASSERT_EQ(commLines.size(), 1u);
  const cJSON *comm = cJSON_GetObjectItemCaseSensitive(commLines[0].get(), "record");
  std::string params = "{\"pCommHandle\":" + std::to_string((long)Num(comm, "handle")) + "}";
  r = Run({"--json"}, {"op", "csCommConfCount", params});
  ASSERT_EQ(r.status, 0) << r.err;
  lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Num(lines[0].get(), "result"), Num(comm, "numConfs"));

  // Lists print entry by entry, each entry's fields one level deeper.
  uint32_t ch = codec_sim_record_handles(sim_, "Comm").at(0);
  codec_sim_record_merge(sim_, "Comm", ch,
                         R"({"dialOrderCount":2,"dialOrder":[{"videoOrder":1,"voiceOrder":2},{"videoOrder":3,"voiceOrder":4}]})");
  r = Run({}, {"op", "csCommGet"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("  dialOrder[0]  (CSDialOrder)\n    videoOrder      1\n    voiceOrder      2\n"
                       "  dialOrder[1]  (CSDialOrder)\n    videoOrder      3\n    voiceOrder      4\n  capabilities"),
            std::string::npos)
      << r.out;

  // Times are shown local and states by name.
  r = Run({}, {"op", "csSysGet"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("bootTime "), std::string::npos);
  EXPECT_NE(r.out.find("(20"), std::string::npos) << r.out;  // "(2023-11-14 ..."
}

TEST_F(Kyrctl, CodecErrorsExitOneWithCodeAndText) {
  Start();
  codec_sim_inject_error(sim_, "csSysGet", -11, "Not authorized");
  RunResult r = Run({"--json"}, {"op", "csSysGet"});
  EXPECT_EQ(r.status, 1);
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  EXPECT_EQ(Str(lines[0].get(), "type"), "error");
  EXPECT_EQ(Num(lines[0].get(), "code"), -11);
  EXPECT_EQ(Str(lines[0].get(), "message"), "Not authorized");

  r = Run({}, {"status"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-11"), std::string::npos) << r.err;
  codec_sim_clear_errors(sim_);

  // Text from the codec never reaches a terminal as control characters.
  codec_sim_inject_error(sim_, "csSysGet", -11, "Not \x1b[2Jauthorized");
  r = Run({}, {"op", "csSysGet"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Not \\x1b[2Jauthorized"), std::string::npos) << r.err;
  codec_sim_clear_errors(sim_);
  codec_sim_record_merge(sim_, "Sys", codec_sim_record_handles(sim_, "Sys").at(0), R"({"systemName":"Room\u001b]0;owned\u0007"})");
  for (const char *cmd : {"status", "op"}) {
    r = cmd == std::string("op") ? Run({}, {"op", "csSysGet"}) : Run({}, {cmd});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Room\\x1b]0;owned\\x07"), std::string::npos) << r.out;
  }
  codec_sim_inject_error(sim_, "csSysGet", -11, "Not authorized");
  r = Run({}, {"status"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-11"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Not authorized"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(Kyrctl, UsageErrorsNameTheMistakeAndNeverReachTheCodec) {
  Start();
  struct Case {
    std::vector<std::string> opts, args;
    const char *says;
  } cases[] = {
      {{}, {"op", "csSysGett"}, "did you mean: csSysGet"},
      {{}, {"op", "termget"}, "csTermGet"},
      {{}, {"op", "csSysGet", "{\"pSysHandle\":"}, "malformed JSON at character"},
      {{}, {"op", "csSysGet", "[1]"}, "must be a JSON object"},
      {{}, {"op", "csSysGet", "{\"pSysHandel\":1}"}, "did you mean: pSysHandle"},
      {{}, {"stauts"}, "did you mean: status"},
      {{}, {"mute", "maybe"}, "needs on or off"},
      {{}, {"volume", "loud"}, "N is a number"},
      {{}, {"watch", "--count", "x"}, "--count needs a number"},
      {{}, {"dial"}, "needs one ADDRESS"},
      {{"--password", kPwd}, {"status"}, "never taken from the command line"},
      {{"--tls", "maybe"}, {"status"}, "--tls takes auto, on or off"},
      {{"--jsn"}, {"status"}, "did you mean: --json"},
  };
  for (const Case &c : cases) {
    RunResult r = Run(c.opts, c.args);
    EXPECT_EQ(r.status, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kPwd), std::string::npos);
  }
  RunResult r = RunKyrctl({});
  EXPECT_EQ(r.status, 2);
  r = RunKyrctl({addr_});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no COMMAND"), std::string::npos);
  // With --json the mistake is a JSON line too.
  r = Run({"--json"}, {"op", "nope"});
  EXPECT_EQ(r.status, 2);
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Num(lines[0].get(), "status"), 2);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);
}

TEST_F(Kyrctl, HelpPagesAndTheMethodListNeedNoCodec) {
  RunResult r = RunKyrctl({"status", "--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS"})
    EXPECT_NE(("\n" + r.out).find(std::string("\n") + section + "\n"), std::string::npos) << section;
  EXPECT_NE(r.out.find("kyrctl status - "), std::string::npos);
  r = RunKyrctl({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("watch [--count N] [--seconds S]"), std::string::npos);
  // Every operation of the library's table, one per line.
  r = RunKyrctl({"help", "methods"});
  EXPECT_EQ(r.status, 0);
  size_t lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, cs_ops_count());
  for (size_t i = 0; i < cs_ops_count(); ++i)
    EXPECT_NE(r.out.find(std::string(cs_ops_name(i)) + " "), std::string::npos) << cs_ops_name(i);
  EXPECT_EQ(RunKyrctl({"help", "nosuch"}).status, 2);
  r = RunKyrctl({"help", "csTermGet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("CSTerm               pTermHandle:handle(CSTerm) pConfHandle:handle(CSConf) termInstance:unsigned"),
            std::string::npos)
      << r.out;
}

int closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

TEST_F(Kyrctl, NoCodecOrTheWrongTlsExitsThree) {
  RunResult r = RunKyrctl({"--timeout", "5", "127.0.0.1:" + std::to_string(closed_port()), "status"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot connect"), std::string::npos) << r.err;
  Start();  // plain, 127.0.0.1
  r = Run({"--tls", "on", "--timeout", "2"}, {"status"});
  EXPECT_EQ(r.status, 3) << r.out;
}

TEST_F(Kyrctl, TlsIsChosenAsTheLibraryDecidesOrAsForced) {
  codec_sim_config cfg;
  cfg.tls_version = "1.3";
  StartTls(cfg);
  RunResult r = Run({"--json"}, {"status"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Str(lines[0].get(), "tls"), "TLSv1.3");
  EXPECT_EQ(Str(lines[0].get(), "fingerprint"), codec_sim_fingerprint(sim_));
  EXPECT_EQ(Str(lines[0].get(), "fingerprint").size(), 64u);
  r = Run({}, {"status"});
  EXPECT_NE(r.out.find("fingerprint     " + codec_sim_fingerprint(sim_) + "\n"), std::string::npos) << r.out;
  r = Run({"--json", "--tls", "on"}, {"op", "csAudioGet"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"--tls", "off", "--timeout", "2"}, {"status"});
  EXPECT_EQ(r.status, 3);
}

class Pairing : public KyrctlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Pairing, PairsWithUserAndNeverShowsThePassword) {
  codec_sim_config cfg;
  cfg.pairing_required = true;
  cfg.admin_user = "admin";
  cfg.admin_pwd = kPwd;
  if (GetParam())
    StartTls(cfg);
  else
    Start(cfg);
  const std::vector<std::string> id = {"--serial", "KYRCTL-TEST-1"};

  RunResult r = Run(id, {"status"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("--user"), std::string::npos) << r.err;  // says how

  std::vector<std::string> pair = id;
  pair.insert(pair.end(), {"--user", "admin", "--trace", "--json"});
  r = Run(pair, {"status"}, {{"KYRCTL_PASSWORD", "wrong-one"}});
  EXPECT_EQ(r.status, 3);
  // No terminal and no KYRCTL_PASSWORD: refused, no prompt.
  r = Run(pair, {"status"}, {{"KYRCTL_PASSWORD", ""}});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("KYRCTL_PASSWORD"), std::string::npos) << r.out;

  r = Run(pair, {"status"}, {{"KYRCTL_PASSWORD", kPwd}});
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Str(lines[0].get(), "pairing"), "paired");
  EXPECT_EQ(Str(lines[0].get(), "tls"), GetParam() ? "TLSv1" : "off");
  // The trace shows the pairing request, its password value emptied.
  EXPECT_NE(r.err.find("-> {\"method\":\"csPair\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"adminPwd\":\"\""), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(kPwd), std::string::npos);
  EXPECT_EQ(r.err.find(kPwd), std::string::npos);
  bool reached = false;  // the password did reach the codec
  for (const codec_sim_request &q : codec_sim_requests(sim_))
    reached = reached || (q.method == "csPair" && q.text.find(kPwd) != std::string::npos);
  EXPECT_TRUE(reached);

  // The codec remembers the pairing.
  r = Run(id, {"--json", "status"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"pairing\":\"not needed\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, Pairing, ::testing::Bool());

// Pushes the notifications in turn until the child printed `want` lines.
void PushUntil(codec_sim *sim, Child &c, size_t want) {
  const std::pair<const char *, uint32_t> cycle[] = {
      {"csTermChangedCB", 0x200 | 0x800}, {"csAudioChangedCB", 0x10 | 0x20}, {"csSysChangedCB", 0x1}};
  for (int i = 0; i < 100; ++i) {
    size_t n = 0;
    for (char ch : c.out()) n += ch == '\n';
    if (n >= want) return;
    codec_sim_notify(sim, cycle[i % 3].first, cycle[i % 3].second);
    c.Read(100);
  }
}

TEST_F(Kyrctl, WatchPrintsEachNotificationWithItsChangedFields) {
  Start();
  Child c({"--json", addr_, "watch", "--count", "4"});
  PushUntil(sim_, c, 4);
  RunResult r = c.Wait(10000);
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  for (const Json &l : lines) {
    const cJSON *o = l.get();
    EXPECT_EQ(Str(o, "type"), "notification");
    std::string changed;
    for (const cJSON *m = cJSON_GetObjectItemCaseSensitive(o, "changed")->child; m; m = m->next)
      changed += std::string(changed.empty() ? "" : ",") + m->valuestring;
    const cJSON *rec = cJSON_GetObjectItemCaseSensitive(o, "record");
    if (Str(o, "method") == "csTermChangedCB") {
      EXPECT_EQ(Str(o, "kind"), "CSTerm");
      EXPECT_EQ(changed, "state,connectTime");
      EXPECT_NE(cJSON_GetObjectItemCaseSensitive(rec, "callerID"), nullptr);
    } else if (Str(o, "method") == "csAudioChangedCB") {
      EXPECT_EQ(Str(o, "kind"), "CSAudio");
      EXPECT_EQ(changed, "volume,muted");
      EXPECT_EQ(Num(o, "flags"), 0x30);
    } else {
      EXPECT_EQ(Str(o, "method"), "csSysChangedCB");
      EXPECT_EQ(changed, "systemName");
      EXPECT_EQ(Str(rec, "systemName"), Str(SimRecord(sim_, "Sys").get(), "systemName"));
    }
  }

  // For people: a heading per notification, then the record; --seconds ends it.
  Child h({addr_, "watch", "--seconds", "2"});
  for (int i = 0; i < 30 && h.out().find("changed: volume, muted") == std::string::npos; ++i) {
    codec_sim_notify(sim_, "csAudioChangedCB", 0x30);
    h.WaitForOutput("changed: volume, muted", 100);
  }
  r = h.Wait(10000);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("csAudioChangedCB  CSAudio  changed: volume, muted\n  srvrInstance"), std::string::npos)
      << r.out;
}

TEST_F(Kyrctl, WatchEndsWhenItsReaderGoesOrWithStatusThreeWhenTheCodecGoes) {
  Start();
  {
    Child c({"--json", addr_, "watch"});  // as in: kyrctl --json HOST watch | head -1
    PushUntil(sim_, c, 1);
    c.CloseOut();
    for (int i = 0; i < 10; ++i) {
      codec_sim_notify(sim_, "csAudioChangedCB", 0x10);
      c.Read(50);
    }
    RunResult r = c.Wait(5000);  // killed (-1) if it were still watching
    EXPECT_EQ(r.status, 0) << r.err;
  }
  Child c({"--json", addr_, "watch"});
  ASSERT_TRUE(codec_sim_wait_ready(sim_, 1, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  codec_sim_close_connections(sim_);
  RunResult r = c.Wait(10000);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
}

// Polls `calls --json` until pred holds for the list (bounded).
template <typename Pred>
std::vector<Json> CallsUntil(KyrctlTest &t, Pred pred) {
  std::vector<Json> lines;
  for (int i = 0; i < 50; ++i) {
    RunResult r = t.Run({"--json"}, {"calls"});
    EXPECT_EQ(r.status, 0) << r.err;
    lines = JsonLines(r.out);
    if (pred(lines)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return lines;
}

TEST_F(Kyrctl, DialAnswerHangupAndCalls) {
  Start();
  RunResult r = Run({"--json"}, {"dial", "5551234", "--protocol", "sip", "--rate", "768"});
  ASSERT_EQ(r.status, 0) << r.err;
  codec_sim_request dial;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csConfTermDial", 1000, &dial));
  EXPECT_NE(dial.params.find("\"address\":\"sip:5551234\""), std::string::npos) << dial.params;
  EXPECT_NE(dial.params.find("\"rate\":768"), std::string::npos) << dial.params;
  auto calls = CallsUntil(*this, [](const std::vector<Json> &l) {
    return l.size() == 1 && Str(l[0].get(), "state") == "Active";
  });
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Str(calls[0].get(), "state"), "Active");
  const cJSON *term = cJSON_GetObjectItemCaseSensitive(calls[0].get(), "record");
  EXPECT_EQ(Str(term, "addr"), "sip:5551234");
  const std::string id = std::to_string((long)Num(term, "id"));

  r = Run({}, {"calls"});  // for people: a table with the state by name
  EXPECT_NE(r.out.find("STATE"), std::string::npos);
  EXPECT_NE(r.out.find(" Active "), std::string::npos) << r.out;

  EXPECT_EQ(Run({}, {"hangup", "424242"}).status, 1);
  EXPECT_EQ(Run({}, {"answer"}).status, 1);  // nothing is ringing
  r = Run({"--json"}, {"hangup", id});
  EXPECT_EQ(r.status, 0) << r.err;
  CallsUntil(*this, [](const std::vector<Json> &l) { return l.empty(); });

  ASSERT_EQ(codec_sim_incoming_call(sim_, "incoming-7"), 0);  // nobody connected now
  calls = CallsUntil(*this, [](const std::vector<Json> &l) { return l.size() == 1; });
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(calls[0].get(), "pending")));
  EXPECT_EQ(Str(calls[0].get(), "state"), "Incoming");
  r = Run({"--json"}, {"answer"});
  ASSERT_EQ(r.status, 0) << r.err;
  calls = CallsUntil(*this, [](const std::vector<Json> &l) {
    return l.size() == 1 && Str(l[0].get(), "state") == "Active";
  });
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Num(calls[0].get(), "conference"), 0);
  EXPECT_EQ(Run({}, {"hangup"}).status, 0);
  calls = CallsUntil(*this, [](const std::vector<Json> &l) { return l.empty(); });
  EXPECT_TRUE(calls.empty());
}

TEST_F(Kyrctl, VolumeMuteAndSearch) {
  Start();
  ASSERT_EQ(Run({"--json"}, {"volume", "35"}).status, 0);
  ASSERT_EQ(Run({"--json"}, {"mute", "on"}).status, 0);
  RunResult r = Run({"--json"}, {"volume"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Num(lines[0].get(), "volume"), 35);
  EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(lines[0].get(), "muted")));
  ASSERT_EQ(Run({}, {"mute", "off"}).status, 0);
  r = Run({}, {"volume"});
  EXPECT_NE(r.out.find("muted   off"), std::string::npos) << r.out;

  r = Run({"--json"}, {"search", "Person 01", "--server", "ldap-1"});
  ASSERT_EQ(r.status, 0) << r.err;
  lines = JsonLines(r.out);
  ASSERT_FALSE(lines.empty());
  for (const Json &l : lines) {
    EXPECT_EQ(Str(l.get(), "server"), "ldap-1");
    EXPECT_NE(Str(cJSON_GetObjectItemCaseSensitive(l.get(), "record"), "displayName").find("Person 01"),
              std::string::npos);
  }
  // Secrets the codec holds are shown only as set or not set.
  uint32_t srv = codec_sim_record_handles(sim_, "DirSrvr").at(0);
  codec_sim_record_merge(sim_, "DirSrvr", srv, R"({"authPass":"dir-Secret-99"})");
  const std::string get = "{\"pDirHandle\":" + std::to_string(codec_sim_record_handles(sim_, "Dir").at(0)) +
                          ",\"instance\":0,\"prot\":" + std::to_string((long)Num(SimRecord(sim_, "DirSrvr").get(), "protocol")) + "}";
  for (const char *mode : {"--json", "--trace"}) {
    r = Run({mode}, {"op", "csDirSrvrGet", get});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("********"), std::string::npos) << r.out;
    EXPECT_EQ((r.out + r.err).find("dir-Secret-99"), std::string::npos);
  }

  r = Run({}, {"search", "Person", "--server", "ldap-2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ldap-1"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kyrtest
