// The codec's identity end to end against the simulator: a man in the
// middle with his own key, pinning, the protocol versions a codec may
// speak, and what becomes of the administrator password once sent.
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <thread>

#include "ipc/libccom/ccom_internal.h"
#include "sim_fixture.h"
#include "support/log_capture.h"
#include "support/test_servers.h"

namespace {

using clienttest::SimTest;
using kyrtest::TestConn;
using kyrtest::TestServer;

bool CanBind(const char *host) {
  TestServer probe(TestServer::kPlain, host);
  return probe.Start();
}

#define REQUIRE_LOOPBACK_2() \
  if (!CanBind("127.0.0.2")) GTEST_SKIP() << "127.0.0.2 not available on loopback"

// A TLS proxy with its own key: it completes the library's handshake,
// opens its own TLS connection to the codec and relays the plaintext both
// ways, keeping everything the library sent. One connection, bounded.
class Mitm {
 public:
  Mitm(const std::string &codec_host, int codec_port) : srv_(TestServer::kTls12, "127.0.0.2") {
    started_ = srv_.Start();
    if (started_) th_ = std::thread([=] { Run(codec_host, codec_port); });
  }
  ~Mitm() { Finish(); }
  bool started() const { return started_; }
  std::string address() const { return "127.0.0.2:" + std::to_string(srv_.port()); }
  // Waits for the relay to end (either side closed, or 20 s passed).
  void Finish() {
    stop_ = true;
    if (th_.joinable()) th_.join();
  }
  bool handshake_done() const { return handshake_done_; }
  const std::string &from_library() const { return from_library_; }  // after Finish

 private:
  void Run(const std::string &codec_host, int codec_port) {
    std::unique_ptr<TestConn> lib = srv_.Accept(10000);
    if (!lib) return;
    handshake_done_ = true;
    std::unique_ptr<TestConn> codec = kyrtest::TlsConnect(codec_host, codec_port, 5000);
    if (!codec) return;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
      std::string up, down;
      int a = lib->RecvSome(&up, 20);
      if (a > 0) {
        from_library_ += up;
        if (!codec->Send(up)) break;
      }
      int b = codec->RecvSome(&down, 20);
      if (b > 0 && !lib->Send(down)) break;
      if (a < 0 || b < 0) break;
      if (stop_ && a == 0 && b == 0) break;
    }
  }

  TestServer srv_;
  bool started_ = false;
  std::thread th_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> handshake_done_{false};
  std::string from_library_;
};

class Identity : public SimTest {
 protected:
  void TearDown() override {
    csSetPinnedFingerprint(nullptr);
    csLogLocalEnable(0);
    SimTest::TearDown();
  }
  // A TLS codec on 127.0.0.2 (the library never uses TLS to 127.0.0.1).
  void StartTls(codec_sim_config cfg = codec_sim_config()) {
    cfg.tls = true;
    cfg.bind_addr = "127.0.0.2";
    Start(cfg);
    addr_ = "127.0.0.2:" + std::to_string(codec_sim_port(sim_));
  }
  static int ConnectTo(const std::string &address) {
    return csConnect(address.c_str(), "davix", "2.0.0", "1.0.0", "9.0.0");
  }
  static std::string ServerFingerprint(int inst) {
    char fp[CS_FINGERPRINT_SIZE];
    return csGetServerFingerprint(inst, fp, sizeof fp) == 0 ? fp : "";
  }
};

// Without a pin the library cannot tell the proxy from the codec: the whole
// session runs through it and it reads everything (the documented default,
// trust on first use). With the codec's pin the connect fails with -32
// right after the handshake: the proxy never gets one byte of CSAPI, so no
// version exchange, serial or credential reaches it.
TEST_F(Identity, ManInTheMiddleIsStoppedByThePin) {
  REQUIRE_LOOPBACK_2();
  // The proxy must hold a key of its own: a run that shares one test key
  // among all its TLS peers (KYR_TEST_TLS_KEY) would give both the same.
  unsetenv("KYR_TEST_TLS_KEY");
  StartTls();
  const std::string codec_fp = codec_sim_fingerprint(sim_);
  ASSERT_EQ(codec_fp.size(), 64u);
  ASSERT_NE(codec_fp, kyrtest::TestKeyFingerprint());
  {
    Mitm mitm("127.0.0.2", codec_sim_port(sim_));
    ASSERT_TRUE(mitm.started());
    int inst = ConnectTo(mitm.address());
    ASSERT_GE(inst, 0);
    EXPECT_EQ(csAuth(inst, "SERIAL1"), 0);
    EXPECT_EQ(ServerFingerprint(inst), kyrtest::TestKeyFingerprint()) << "the library sees the proxy's key";
    csDisconnect(inst);
    mitm.Finish();
    EXPECT_NE(mitm.from_library().find("\"csAuth\""), std::string::npos) << "the proxy read the session";
  }
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csAuth", 1000)) << "the session reached the codec through the proxy";
  codec_sim_clear_requests(sim_);

  ASSERT_EQ(csSetPinnedFingerprint(codec_fp.c_str()), 0);
  {
    Mitm mitm("127.0.0.2", codec_sim_port(sim_));
    ASSERT_TRUE(mitm.started());
    EXPECT_EQ(ConnectTo(mitm.address()), CSAPI_ERR_SERVER_IDENTITY);
    EXPECT_EQ(csError(), -32);
    EXPECT_STREQ(csErrorString(), "Server identity changed");
    mitm.Finish();
    EXPECT_TRUE(mitm.handshake_done()) << "the refusal came after a completed handshake";
    EXPECT_EQ(mitm.from_library(), "") << "not one byte of CSAPI reached the proxy";
  }
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);

  // The real codec presents the pinned key.
  int inst = ConnectTo(addr_);
  ASSERT_GE(inst, 0);
  EXPECT_EQ(csAuth(inst, "SERIAL1"), 0);
  EXPECT_EQ(ServerFingerprint(inst), codec_fp);
}

// The codec speaks one version; the library takes it, logs it with the
// suite at INFO once, and identifies the codec's key.
TEST_F(Identity, EveryCodecVersionConnects) {
  REQUIRE_LOOPBACK_2();
  for (const char *v : {"1.0", "1.2", "1.3"}) {
    SCOPED_TRACE(v);
    codec_sim_config cfg;
    cfg.tls_version = v;
    StartTls(cfg);
    kyrtest::LogCapture cap;
    int inst = ConnectTo(addr_);
    ASSERT_GE(inst, 0);
    EXPECT_EQ(csAuth(inst, "SERIAL1"), 0);
    const std::string version = std::string("TLSv") + (strcmp(v, "1.0") == 0 ? "1" : v);
    EXPECT_EQ(cap.Count("CCOM:INFO:TLS to 127.0.0.2:" + std::to_string(codec_sim_port(sim_)) + ": " + version + ", "),
              1u);
    EXPECT_EQ(ServerFingerprint(inst), codec_sim_fingerprint(sim_));
    csDisconnect(inst);
    codec_sim_stop(sim_);
    sim_ = nullptr;
  }
}

// A pin cannot be checked without TLS, so a plain connection is refused
// before anything is sent; without a pin it works and has no fingerprint.
TEST_F(Identity, PlainTcpAndThePin) {
  Start();
  int inst = Connect();
  ASSERT_GE(inst, 0);
  char fp[CS_FINGERPRINT_SIZE];
  EXPECT_EQ(csGetServerFingerprint(inst, fp, sizeof fp), CSAPI_ERR_NOT_FOUND);
  EXPECT_STREQ(fp, "");
  EXPECT_EQ(csGetServerFingerprint(inst, fp, sizeof fp - 1), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csGetServerFingerprint(inst, nullptr, sizeof fp), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csGetServerFingerprint(CSAPI_SRVR_MAX, fp, sizeof fp), CSAPI_ERR_BAD_PARAMETER);
  csDisconnect(inst);
  EXPECT_EQ(csGetServerFingerprint(inst, fp, sizeof fp), CSAPI_ERR_NO_CONNECT);
  codec_sim_clear_requests(sim_);

  ASSERT_EQ(csSetPinnedFingerprint(std::string(64, 'c').c_str()), 0);
  EXPECT_EQ(Connect(), CSAPI_ERR_SERVER_IDENTITY);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);
}

TEST(PinArgument, OnlySixtyFourHexDigitsOrNothing) {
  const std::string pin = std::string(63, 'A') + "b";
  ASSERT_EQ(csSetPinnedFingerprint(pin.c_str()), 0);
  char out[CS_FINGERPRINT_SIZE];
  for (const std::string &bad : {std::string("abc"), std::string(64, 'g'), std::string(66, 'a'), pin + " "}) {
    EXPECT_EQ(csSetPinnedFingerprint(bad.c_str()), CSAPI_ERR_BAD_PARAMETER);
    EXPECT_EQ(csError(), CSAPI_ERR_BAD_PARAMETER);
  }
  ASSERT_EQ(csGetPinnedFingerprint(out, sizeof out), 1);
  EXPECT_EQ(std::string(out), std::string(63, 'a') + "b") << "a refused pin leaves the old one";
  EXPECT_EQ(csGetPinnedFingerprint(out, 10), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csSetPinnedFingerprint(""), 0);
  EXPECT_EQ(csGetPinnedFingerprint(out, sizeof out), 0);
}

// True when text occurs anywhere in a message buffer of the pool, in its
// whole allocation and not only the bytes in use.
bool PoolHolds(const std::string &text) {
  bool found = false;
  pthread_mutex_lock(&client_msg_queue.lock);
  for (ccom_msg_t *m = client_msg_queue.head; m; m = m->next)
    if (memmem(m->data, (size_t)m->size + CCOM_MSG_MARGIN, text.data(), text.size())) found = true;
  pthread_mutex_unlock(&client_msg_queue.lock);
  return found;
}

// Once sent, the password and the challenge response are in no buffer of
// the pool, and no log line at any level (debug on) shows the password.
TEST_F(Identity, SecretsAreWipedOnceSent) {
  REQUIRE_LOOPBACK_2();
  codec_sim_config cfg;
  // Long enough that the password sits behind any shorter message that
  // reuses the buffer.
  cfg.admin_user = "administrator-of-the-meeting-room-on-the-third-floor";
  cfg.admin_pwd = "Pw0-of-the-4dmin";
  cfg.pairing_required = true;
  StartTls(cfg);
  kyrtest::LogCapture cap;
  csLogLocalEnable(1);
  int inst = ConnectTo(addr_);
  ASSERT_GE(inst, 0);
  csapi_srvr_t info;
  ASSERT_EQ(csapi_client_get_srvr_info(inst, &info), 0);
  const std::string response = codec_sim_challenge_response("SERIAL1", info.srvrChallenge);
  EXPECT_EQ(csAuth(inst, "SERIAL1"), CSAPI_ERR_PAIRING_REQUIRED);
  EXPECT_EQ(csPair(inst, "SERIAL1", cfg.admin_user.c_str(), cfg.admin_pwd.c_str()), 0);
  codec_sim_request pr;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csPair", 2000, &pr));
  ASSERT_NE(pr.params.find(cfg.admin_pwd), std::string::npos) << "the password did go out";
  // The connection's reader gives its spare buffer back when it ends, so
  // every buffer that carried the session is in the pool now.
  csDisconnect(inst);
  EXPECT_FALSE(PoolHolds(cfg.admin_pwd));
  EXPECT_FALSE(PoolHolds(response));
  EXPECT_GT(cap.Count("\"csPair\""), 0u) << "the request was logged (redacted)";
  EXPECT_EQ(cap.Count(cfg.admin_pwd), 0u);
}

}  // namespace
