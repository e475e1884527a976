// The socket client against real loopback peers, plain TCP and TLS 1.0.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ipc/libccom/ccom_internal.h"
#include "support/log_capture.h"
#include "support/test_servers.h"

namespace {

using namespace std::chrono_literals;
using kyrtest::TestConn;
using kyrtest::TestServer;

// What the reader thread delivered. One client at a time per test, reached
// through g_sink; the fixture also hands it as the connection's user pointer.
struct Sink {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> msgs;
  std::vector<int> buffered;  // ccom_client_input_buffered after each message
  int null_calls = 0;
  int calls = 0;
  int foreign_user = 0;  // handler calls whose user pointer was not this sink
  bool one_per_call = false;  // return after each message, as a lazy handler would

  bool WaitFor(const std::function<bool()> &pred, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> g(mu);
    return cv.wait_for(g, limit, pred);
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(mu);
    return msgs.size();
  }
  int Nulls() {
    std::lock_guard<std::mutex> g(mu);
    return null_calls;
  }
};
Sink *g_sink = nullptr;

int Handler(ccom_client_t *c, void *user) {
  Sink *s = g_sink;
  if (user != s) {
    std::lock_guard<std::mutex> g(s->mu);
    s->foreign_user++;
  }
  if (!c) {
    std::lock_guard<std::mutex> g(s->mu);
    s->null_calls++;
    s->cv.notify_all();
    return -1;
  }
  {
    std::lock_guard<std::mutex> g(s->mu);
    s->calls++;
    s->cv.notify_all();
  }
  ccom_msg_t *m = ccom_client_msg_alloc();
  int n;
  while ((n = ccom_client_recv(c, m)) > 0) {
    std::lock_guard<std::mutex> g(s->mu);
    s->msgs.emplace_back(m->data, m->len);
    s->buffered.push_back(ccom_client_input_buffered(c));
    s->cv.notify_all();
    if (s->one_per_call) break;
  }
  ccom_client_msg_free(m);
  return n < 0 ? -1 : 0;
}

struct ClientFixture : ::testing::Test {
  Sink sink;
  ccom_client_t *client = nullptr;
  void SetUp() override { g_sink = &sink; }
  void TearDown() override {
    if (client) {
      ccom_client_disconnect(client);
      ccom_client_free(client);
    }
    g_sink = nullptr;
  }
  int Send(const std::string &text) {
    ccom_msg_t *m = ccom_client_msg_alloc();
    ccom_msg_strcpy(m, text.c_str());
    int r = ccom_client_send(client, m);
    ccom_client_msg_free(m);
    return r;
  }
  // Connects on a helper thread while the server accepts (a TLS handshake
  // needs both sides at once).
  std::unique_ptr<TestConn> ConnectTo(TestServer &srv, int use_tls) {
    std::unique_ptr<TestConn> conn;
    std::thread acc([&] { conn = srv.Accept(5000); });
    client = ccom_client_connect(srv.host().c_str(), srv.port(), Handler, use_tls, &sink);
    acc.join();
    return conn;
  }
};

bool CanBind(const char *addr) {
  TestServer probe(TestServer::kPlain, addr);
  return probe.Start();
}

#define REQUIRE_LOOPBACK_2()                                                             \
  do {                                                                                   \
    if (!CanBind("127.0.0.2")) GTEST_SKIP() << "127.0.0.2 not available on loopback"; \
  } while (0)

// A TLS peer needs an address other than 127.0.0.1 (where TLS is always
// off); 127.0.0.2 is loopback too.
struct Mode {
  const char *name;
  TestServer::Mode server;
  const char *host;
};
void PrintTo(const Mode &m, std::ostream *os) { *os << m.name; }
const Mode kModes[] = {{"plain", TestServer::kPlain, "127.0.0.1"}, {"tls", TestServer::kTls10, "127.0.0.2"}};

struct BothModes : ClientFixture, ::testing::WithParamInterface<Mode> {
  void SetUp() override {
    ClientFixture::SetUp();
    if (GetParam().server == TestServer::kTls10 && !CanBind("127.0.0.2")) GTEST_SKIP() << "no 127.0.0.2";
  }
};

TEST_P(BothModes, MessagesBothWaysWithFramingEdgeCases) {
  kyrtest::LogCapture cap;
  csLogLocalEnable(1);
  TestServer srv(GetParam().server, GetParam().host);
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  csLogLocalEnable(0);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(conn);
  EXPECT_EQ(cap.Count("SSL encryption complete"), GetParam().server == TestServer::kTls10 ? 1u : 0u);

  ASSERT_EQ(Send(R"({"method":"csVersion","id":5})"), 0);
  std::string got;
  ASSERT_TRUE(conn->RecvObject(&got, 5000));
  EXPECT_EQ(got, R"({"method":"csVersion","id":5})");

  const std::string big = "{\"blob\":\"" + std::string(1 << 20, 'k') + "\"}";
  // Two objects in one write, white space between, a brace inside a string,
  // an object split across writes, and a 1 MiB object.
  ASSERT_TRUE(conn->Send("{\"a\":1}{\"b\":\"Budget }\"}\r\n  {\"c\":"));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(conn->Send("3}" + big));
  ASSERT_TRUE(sink.WaitFor([&] { return sink.msgs.size() >= 4; }));
  std::lock_guard<std::mutex> g(sink.mu);
  ASSERT_EQ(sink.msgs.size(), 4u);
  EXPECT_EQ(sink.msgs[0], R"({"a":1})");
  EXPECT_EQ(sink.msgs[1], R"({"b":"Budget }"})");
  EXPECT_EQ(sink.msgs[2], R"({"c":3})");
  EXPECT_TRUE(sink.msgs[3] == big);
}

TEST_P(BothModes, BufferedMessagesReachALazyHandlerWithoutWaiting) {
  TestServer srv(GetParam().server, GetParam().host);
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  ASSERT_TRUE(client && conn);
  sink.one_per_call = true;
  std::string burst;
  for (int i = 0; i < 40; i++) burst += "{\"n\":" + std::to_string(i) + "}";
  ASSERT_TRUE(conn->Send(burst));
  // Forty handler calls; waiting a second between them would take 40 s.
  EXPECT_TRUE(sink.WaitFor([&] { return sink.msgs.size() == 40; }, 3000ms)) << sink.Count();
}

TEST_P(BothModes, InputBufferedTellsWhetherTheNextReceiveHasDataAlready) {
  TestServer srv(GetParam().server, GetParam().host);
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  ASSERT_TRUE(client && conn);
  ASSERT_TRUE(conn->Send("{\"n\":1}{\"n\":2}{\"n\":3}"));
  ASSERT_TRUE(sink.WaitFor([&] { return sink.msgs.size() == 3; })) << sink.Count();
  std::lock_guard<std::mutex> g(sink.mu);
  EXPECT_EQ(sink.buffered, (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(ccom_client_input_buffered(nullptr), 0);
}

TEST_P(BothModes, DisconnectWhileTheReaderIsBlocked) {
  TestServer srv(GetParam().server, GetParam().host);
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  ASSERT_TRUE(client && conn);
  // Let the reader reach its handler and block in the read.
  ASSERT_TRUE(sink.WaitFor([&] { return sink.calls >= 1; }, 3000ms));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ccom_client_disconnect(client), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  EXPECT_EQ(sink.Nulls(), 1) << "the reader ended, with one null call, before disconnect returned";
  EXPECT_TRUE(conn->WaitClosed(3000));
  EXPECT_EQ(Send("{}"), -1);
  EXPECT_EQ(ccom_client_disconnect(client), 0) << "a second disconnect is harmless";
  EXPECT_EQ(sink.Nulls(), 1);
}

TEST_P(BothModes, PeerCloseEndsTheReaderAndClosesTheDescriptorOnce) {
  kyrtest::LogCapture cap;
  TestServer srv(GetParam().server, GetParam().host);
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  ASSERT_TRUE(client && conn);
  int fd = client->fd;
  conn->Close(true);
  ASSERT_TRUE(sink.WaitFor([&] { return sink.null_calls == 1; }));
  // The reader's end closed the descriptor: the next open reuses the
  // number, and neither disconnect nor free may close it again.
  int reuse = -1;
  std::vector<int> opened;
  for (int i = 0; i < 64 && reuse < 0; i++) {
    int f = open("/dev/null", O_RDONLY);
    ASSERT_GE(f, 0);
    if (f == fd) reuse = f;
    else opened.push_back(f);
  }
  EXPECT_EQ(Send("{\"late\":1}"), -1);
  EXPECT_GE(cap.Count("client send failed"), 1u);
  ccom_client_disconnect(client);
  ccom_client_free(client);
  client = nullptr;
  if (reuse >= 0) {
    EXPECT_NE(fcntl(reuse, F_GETFD), -1) << "descriptor " << reuse << " was closed twice";
    close(reuse);
  }
  for (int f : opened) close(f);
  EXPECT_EQ(sink.Nulls(), 1);
}

INSTANTIATE_TEST_SUITE_P(Transport, BothModes, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode> &i) { return std::string(i.param.name); });

TEST_F(ClientFixture, LoopbackOneTwentySevenNeverUsesTls) {
  kyrtest::LogCapture cap;
  csLogLocalEnable(1);
  TestServer srv(TestServer::kPlain, "127.0.0.1");
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  csLogLocalEnable(0);
  ASSERT_TRUE(client && conn);
  EXPECT_EQ(cap.Count("disabling SSL (connecting to internal server)"), 1u);
  ASSERT_EQ(Send(R"({"x":1})"), 0);
  std::string raw;
  ASSERT_TRUE(conn->RecvAtLeast(7, &raw, 3000));
  EXPECT_EQ(raw, R"({"x":1})") << "clear text, no TLS record";
}

TEST_F(ClientFixture, OtherAddressesUseTlsOnlyWhenAskedAndNotDisabled) {
  REQUIRE_LOOPBACK_2();
  {
    TestServer srv(TestServer::kPlain, "127.0.0.2");
    ASSERT_TRUE(srv.Start());
    auto conn = ConnectTo(srv, 0);
    ASSERT_TRUE(client && conn);
    ASSERT_EQ(Send("{}"), 0);
    std::string raw;
    ASSERT_TRUE(conn->RecvAtLeast(2, &raw, 3000));
    EXPECT_EQ(raw, "{}");
    ccom_client_disconnect(client);
    ccom_client_free(client);
    client = nullptr;
  }
  // The marker file in the working directory switches TLS off.
  char dir[] = "/tmp/ccom_tls_off_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  FILE *f = fopen("csapidisablessl.dat", "w");
  ASSERT_TRUE(f);
  fclose(f);
  kyrtest::LogCapture cap;
  csLogLocalEnable(1);
  TestServer srv(TestServer::kPlain, "127.0.0.2");
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  csLogLocalEnable(0);
  unlink("csapidisablessl.dat");
  EXPECT_EQ(chdir(old), 0);
  rmdir(dir);
  ASSERT_TRUE(client && conn);
  EXPECT_EQ(cap.Count("CCOM:DEBUG:SSL disabled"), 1u);
  ASSERT_EQ(Send("{}"), 0);
  std::string raw;
  ASSERT_TRUE(conn->RecvAtLeast(2, &raw, 3000));
  EXPECT_EQ(raw, "{}");
}

TEST_F(ClientFixture, TheUserPointerComesBackOnEveryCallUpToTheLast) {
  TestServer srv;
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 0);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(conn);
  ASSERT_TRUE(conn->Send("{\"a\":1}"));
  ASSERT_TRUE(sink.WaitFor([&] { return sink.msgs.size() >= 1; }));
  ccom_client_disconnect(client);
  ccom_client_free(client);
  client = nullptr;
  std::lock_guard<std::mutex> g(sink.mu);
  EXPECT_GE(sink.calls, 1);
  EXPECT_EQ(sink.null_calls, 1);
  EXPECT_EQ(sink.foreign_user, 0);
}

TEST_F(ClientFixture, NullHandlerFailsBeforeAnySocket) {
  kyrtest::LogCapture cap;
  csLogLocalEnable(1);
  TestServer srv;
  ASSERT_TRUE(srv.Start());
  int before = open("/dev/null", O_RDONLY);
  close(before);
  EXPECT_EQ(ccom_client_connect("127.0.0.1", srv.port(), nullptr, 0, nullptr), nullptr);
  int after = open("/dev/null", O_RDONLY);
  close(after);
  csLogLocalEnable(0);
  EXPECT_EQ(before, after) << "no descriptor left behind";
  EXPECT_EQ(cap.Count("Initialized socket"), 0u);
  EXPECT_EQ(srv.AcceptRaw(100), nullptr) << "nothing connected";
}

TEST_F(ClientFixture, ConnectFailuresYieldNull) {
  // A port that was just free: nothing listens there.
  int closed_port;
  {
    TestServer probe;
    ASSERT_TRUE(probe.Start());
    closed_port = probe.port();
  }
  struct {
    const char *host;
    int port;
    const char *line;
  } const cases[] = {
      {"127.0.0.1", 0, "couldn't create a socket"},            // port 0 resolves and is refused
      {"127.0.0.1", closed_port, "couldn't create a socket"},  // refused
      {"::1", 4122, "couldn't create a socket"},               // IPv6 first: the socket is IPv4
  };
  for (const auto &c : cases) {
    kyrtest::LogCapture cap;
    EXPECT_EQ(ccom_client_connect(c.host, c.port, Handler, 0, &sink), nullptr) << c.host << ":" << c.port;
    EXPECT_EQ(cap.Count(c.line), 1u) << c.host << ":" << c.port;
  }
  EXPECT_EQ(ccom_client_connect(nullptr, 1, Handler, 0, &sink), nullptr);
}

TEST_F(ClientFixture, HandshakeWithASilentServerIsBounded) {
  REQUIRE_LOOPBACK_2();
  kyrtest::LogCapture cap;
  TestServer srv(TestServer::kTls10, "127.0.0.2");
  ASSERT_TRUE(srv.Start());
  int saved = ccom_handshake_timeout_ms;
  ccom_handshake_timeout_ms = 1000;
  std::unique_ptr<TestConn> raw;
  std::thread acc([&] { raw = srv.AcceptRaw(5000); });  // accepts TCP, never speaks TLS
  auto t0 = std::chrono::steady_clock::now();
  client = ccom_client_connect(srv.host().c_str(), srv.port(), Handler, 1, &sink);
  auto took = std::chrono::steady_clock::now() - t0;
  acc.join();
  ccom_handshake_timeout_ms = saved;
  EXPECT_EQ(client, nullptr);
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 4s);
  auto lines = cap.Find("SSL_connect handshake failed\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "CCOM:ERR:SSL_connect handshake failed\n");
  ASSERT_TRUE(raw);
  EXPECT_TRUE(raw->WaitClosed(3000)) << "the half-made connection is closed";
  EXPECT_EQ(sink.Nulls(), 0) << "no reader was started";
}

TEST_F(ClientFixture, NullArguments) {
  kyrtest::LogCapture cap;
  ccom_msg_t *m = ccom_client_msg_alloc();
  EXPECT_EQ(ccom_client_send(nullptr, m), -1);
  EXPECT_EQ(cap.Count("cannot send to server, NULL client specified"), 1u);
  EXPECT_EQ(ccom_client_send(reinterpret_cast<ccom_client_t *>(m), nullptr), -1);
  EXPECT_EQ(cap.Count("NULL msg ptr"), 1u);
  EXPECT_EQ(ccom_client_recv(nullptr, m), 0);
  EXPECT_EQ(ccom_client_disconnect(nullptr), 0);
  EXPECT_EQ(ccom_client_free(nullptr), 0);
  EXPECT_EQ(close_socket(0), -1);
  EXPECT_EQ(close_socket(-1), -1);
  ccom_client_msg_free(m);
}

TEST_F(ClientFixture, OversizedFrameEndsTheConnection) {
  kyrtest::LogCapture cap;
  TestServer srv;
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 0);
  ASSERT_TRUE(client && conn);
  std::thread flood([&] {
    conn->Send("{\"s\":\"", 2000);
    std::string chunk(1 << 20, 'z');
    for (int i = 0; i < 18; i++)
      if (!conn->Send(chunk, 2000)) break;
  });
  EXPECT_TRUE(sink.WaitFor([&] { return sink.null_calls == 1; }, 10000ms));
  flood.join();
  EXPECT_EQ(cap.Count("CCOM:ERR:message exceeds"), 1u);
  EXPECT_EQ(sink.Count(), 0u);
}

// Many threads send while the peer echoes everything back: every call on
// the TLS session must be serialised with the reader's, or records corrupt.
TEST_P(BothModes, ConcurrentSendersWhileReceiving) {
  TestServer srv(GetParam().server, GetParam().host);
  ASSERT_TRUE(srv.Start());
  auto conn = ConnectTo(srv, 1);
  ASSERT_TRUE(client && conn);
  constexpr int kThreads = 4, kEach = 150;
  std::atomic<bool> echo_ok{true};
  std::thread echo([&] {
    std::string obj;
    for (int i = 0; i < kThreads * kEach; i++) {
      if (!conn->RecvObject(&obj, 10000) || !conn->Send(obj)) {
        echo_ok = false;
        return;
      }
    }
  });
  std::vector<std::thread> senders;
  std::atomic<int> send_failures{0};
  for (int t = 0; t < kThreads; t++)
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; i++) {
        std::string body = "{\"t\":" + std::to_string(t) + ",\"i\":" + std::to_string(i) + ",\"pad\":\"" +
                           std::string(100 + (i * 37) % 3000, 'p') + "}\"}";
        if (Send(body) != 0) send_failures++;
      }
    });
  for (auto &s : senders) s.join();
  echo.join();
  EXPECT_TRUE(echo_ok.load());
  EXPECT_EQ(send_failures.load(), 0);
  ASSERT_TRUE(sink.WaitFor([&] { return sink.msgs.size() == (size_t)kThreads * kEach; }, 10000ms)) << sink.Count();
  std::set<std::string> seen;
  std::lock_guard<std::mutex> g(sink.mu);
  for (const auto &m : sink.msgs) {
    EXPECT_EQ(m.rfind("{\"t\":", 0), 0u);
    seen.insert(m);
  }
  EXPECT_EQ(seen.size(), (size_t)kThreads * kEach) << "every message arrived once, intact";
}

// An independent TLS 1.0 implementation as the peer: the openssl command's
// s_server, which relays its stdin to the client and prints what it gets.
TEST_F(ClientFixture, TalksToOpensslSServerTls1) {
  REQUIRE_LOOPBACK_2();
  if (system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl command";
  char dir[] = "/tmp/ccom_sserver_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string cert = std::string(dir) + "/cert.pem", key = std::string(dir) + "/key.pem";
  ASSERT_TRUE(kyrtest::WriteTestCertPem(cert, key));
  int port;
  {
    TestServer probe(TestServer::kPlain, "127.0.0.2");
    ASSERT_TRUE(probe.Start());
    port = probe.port();
  }
  int to_child[2], from_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(from_child), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    dup2(from_child[1], 2);
    close(to_child[1]);
    close(from_child[0]);
    std::string accept = "127.0.0.2:" + std::to_string(port);
    execlp("openssl", "openssl", "s_server", "-tls1", "-cipher", "DEFAULT:@SECLEVEL=0", "-accept", accept.c_str(),
           "-cert", cert.c_str(), "-key", key.c_str(), "-naccept", "1", (char *)nullptr);
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  fcntl(from_child[0], F_SETFL, O_NONBLOCK);
  std::string out;
  auto drain = [&] {
    char b[4096];
    ssize_t n;
    while ((n = read(from_child[0], b, sizeof b)) > 0) out.append(b, (size_t)n);
  };
  // The server needs a moment to listen; retry the connect for a while.
  for (int i = 0; i < 50 && !client; i++) {
    client = ccom_client_connect("127.0.0.2", port, Handler, 1, &sink);
    if (!client) std::this_thread::sleep_for(100ms);
  }
  ASSERT_NE(client, nullptr) << out;
  ASSERT_EQ(Send(R"({"method":"csVersion","id":77})"), 0);
  bool seen = false;
  for (int i = 0; i < 50 && !seen; i++) {
    std::this_thread::sleep_for(50ms);
    drain();
    seen = out.find(R"({"method":"csVersion","id":77})") != std::string::npos;
  }
  EXPECT_TRUE(seen) << out;
  const char reply[] = "{\"id\":77,\"result\":0}\n";
  ASSERT_EQ(write(to_child[1], reply, sizeof reply - 1), (ssize_t)(sizeof reply - 1));
  EXPECT_TRUE(sink.WaitFor([&] { return !sink.msgs.empty(); }, 5000ms));
  {
    std::lock_guard<std::mutex> g(sink.mu);
    if (!sink.msgs.empty()) {
      EXPECT_EQ(sink.msgs[0], R"({"id":77,"result":0})");
    }
  }
  ccom_client_disconnect(client);
  ccom_client_free(client);
  client = nullptr;
  close(to_child[1]);
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
  close(from_child[0]);
  unlink(cert.c_str());
  unlink(key.c_str());
  rmdir(dir);
}

}  // namespace
