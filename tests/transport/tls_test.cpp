// The socket client's TLS policy against loopback peers: the version it
// negotiates, the suites it accepts, the server's fingerprint and the pin.
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <thread>

#include "ipc/libccom/ccom_internal.h"
#include "support/log_capture.h"
#include "support/test_servers.h"

namespace {

using kyrtest::TestConn;
using kyrtest::TestServer;

int Drain(ccom_client_t *c, void *) {
  if (!c) return -1;
  ccom_msg_t *m = ccom_client_msg_alloc();
  int n;
  while ((n = ccom_client_recv(c, m)) > 0) {
  }
  ccom_client_msg_free(m);
  return n < 0 ? -1 : 0;
}

const std::string kOtherKey(64, 'a');

struct Tls : ::testing::Test {
  ccom_client_t *client = nullptr;
  std::unique_ptr<TestConn> conn;

  void TearDown() override {
    ccom_tls_set_pin(nullptr);
    if (client) {
      ccom_client_disconnect(client);
      ccom_client_free(client);
    }
  }
  // The library connects while the server accepts on a helper thread.
  void Connect(TestServer &srv) {
    std::thread acc([&] { conn = srv.Accept(5000); });
    client = ccom_client_connect(srv.host().c_str(), srv.port(), Drain, 1, nullptr);
    acc.join();
  }
  std::string Fingerprint() {
    char fp[CCOM_FINGERPRINT_SIZE];
    return ccom_client_get_fingerprint(client, fp, sizeof fp) == 0 ? fp : "";
  }
  // True when the peer closes without having received a single byte.
  static bool ClosedUnused(TestConn *c) {
    std::string got;
    int r;
    while ((r = c->RecvSome(&got, 3000)) > 0) {
    }
    return r < 0 && got.empty();
  }
};

bool CanBind(const char *host) {
  TestServer probe(TestServer::kPlain, host);
  return probe.Start();
}

struct VersionCase {
  TestServer::Mode mode;
  const char *name;
};

// The client offers TLS 1.0 to 1.3 and takes the highest the server has;
// the session then carries messages, and the server's key is identified.
TEST_F(Tls, NegotiatesTheServersVersionAndIdentifiesItsKey) {
  if (!CanBind("127.0.0.2")) GTEST_SKIP() << "127.0.0.2 not available on loopback";
  for (VersionCase v : {VersionCase{TestServer::kTls10, "TLSv1"}, VersionCase{TestServer::kTls12, "TLSv1.2"},
                        VersionCase{TestServer::kTls13, "TLSv1.3"}}) {
    SCOPED_TRACE(v.name);
    kyrtest::LogCapture cap;
    TestServer srv(v.mode, "127.0.0.2");
    ASSERT_TRUE(srv.Start());
    Connect(srv);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(conn);
    EXPECT_EQ(conn->Version(), v.name);
    EXPECT_EQ(ccom_client_connect_result(), CCOM_CONNECT_OK);
    auto info = cap.Find("CCOM:INFO:TLS to 127.0.0.2:" + std::to_string(srv.port()) + ": " + v.name + ", " +
                         conn->Suite() + "\n");
    EXPECT_EQ(info.size(), 1u) << "one INFO line with version and suite";
    EXPECT_EQ(Fingerprint(), kyrtest::TestKeyFingerprint());

    ccom_msg_t *m = ccom_client_msg_alloc();
    ccom_msg_strcpy(m, R"({"method":"csVersion","id":5})");
    EXPECT_EQ(ccom_client_send(client, m), 0);
    ccom_client_msg_free(m);
    std::string obj;
    EXPECT_TRUE(conn->RecvObject(&obj, 5000));
    EXPECT_EQ(obj, R"({"method":"csVersion","id":5})");
    ccom_client_disconnect(client);
    ccom_client_free(client);
    client = nullptr;
  }
}

// Servers that offer nothing but NULL, anonymous, RC4 or 3DES suites, or a
// TLS 1.2 server that signs only with SHA-1 (allowed to TLS 1.0 and 1.1
// alone). Each is first shown to work with a client that accepts what it
// offers, so the refusal is the client's policy and not a broken server.
TEST_F(Tls, ServerWithOnlyForbiddenAlgorithmsIsRefused) {
  if (!CanBind("127.0.0.2")) GTEST_SKIP() << "127.0.0.2 not available on loopback";
  struct Case {
    TestServer::Mode mode;
    const char *name;
    const char *control_ciphers;
  };
  int tested = 0;
  for (Case c : {Case{TestServer::kTlsNullOnly, "NULL", "eNULL:@SECLEVEL=0"},
                 Case{TestServer::kTlsAnonOnly, "anonymous", "aNULL:!eNULL:@SECLEVEL=0"},
                 Case{TestServer::kTlsRc4Only, "RC4", "RC4:@SECLEVEL=0"},
                 Case{TestServer::kTls3DesOnly, "3DES", "3DES:@SECLEVEL=0"},
                 Case{TestServer::kTls12Sha1Signatures, "TLS 1.2 with SHA-1 signatures", "ALL:@SECLEVEL=0"}}) {
    SCOPED_TRACE(c.name);
    if (!TestServer::CanOffer(c.mode)) {
      printf("[   NOTE   ] this OpenSSL cannot offer %s suites; that case is not exercised\n", c.name);
      continue;
    }
    tested++;
    TestServer srv(c.mode, "127.0.0.2");
    ASSERT_TRUE(srv.Start());
    std::unique_ptr<TestConn> control;
    std::thread acc([&] { control = srv.Accept(5000); });
    auto peer = kyrtest::TlsConnect("127.0.0.2", srv.port(), 5000, c.control_ciphers);
    acc.join();
    ASSERT_TRUE(peer && control) << "the server works with a client that accepts its suites";
    peer.reset();
    control.reset();

    kyrtest::LogCapture cap;
    Connect(srv);
    EXPECT_EQ(client, nullptr);
    EXPECT_FALSE(conn) << "no handshake completed";
    EXPECT_EQ(ccom_client_connect_result(), CCOM_CONNECT_FAILED);
    EXPECT_EQ(cap.Count("CCOM:ERR:TLS handshake with 127.0.0.2:" + std::to_string(srv.port()) + " refused"), 1u);
  }
  EXPECT_GE(tested, 3) << "at least the NULL, anonymous and SHA-1 signing servers can be built";
}

// What the client offers, whatever the server: no suite of a forbidden
// kind at any version, and still suites a TLS 1.0 codec can take.
TEST(TlsPolicy, OfferedSuites) {
  SSL_CTX *ctx = ccom_tls_client_context();
  ASSERT_NE(ctx, nullptr);
  SSL *ssl = SSL_new(ctx);
  ASSERT_NE(ssl, nullptr);
  STACK_OF(SSL_CIPHER) *offered = SSL_get1_supported_ciphers(ssl);
  ASSERT_NE(offered, nullptr);
  bool tls10_suite = false, tls13_suite = false;
  for (int i = 0; i < sk_SSL_CIPHER_num(offered); i++) {
    const SSL_CIPHER *c = sk_SSL_CIPHER_value(offered, i);
    std::string name = SSL_CIPHER_get_name(c);
    SCOPED_TRACE(name);
    for (const char *bad : {"NULL", "RC4", "DES", "MD5", "EXP", "ADH", "AECDH", "PSK", "SRP", "anon"})
      EXPECT_EQ(name.find(bad), std::string::npos);
    EXPECT_TRUE(name.find("AES") != std::string::npos || name.find("CHACHA20") != std::string::npos);
    std::string since = SSL_CIPHER_get_version(c);  // the oldest version the suite works with
    if (since == "TLSv1.0" || since == "SSLv3") tls10_suite = true;
    if (since == "TLSv1.3") tls13_suite = true;
  }
  EXPECT_TRUE(tls10_suite);
  EXPECT_TRUE(tls13_suite);
  sk_SSL_CIPHER_free(offered);
  SSL_free(ssl);
  SSL_CTX_free(ctx);
}

// A pin that does not match ends the connection right after the handshake:
// the server sees the handshake complete and then not one byte. The
// matching pin (in capitals) connects.
TEST_F(Tls, PinnedKeyIsRequired) {
  if (!CanBind("127.0.0.2")) GTEST_SKIP() << "127.0.0.2 not available on loopback";
  TestServer srv(TestServer::kTls12, "127.0.0.2");
  ASSERT_TRUE(srv.Start());

  kyrtest::LogCapture cap;
  ASSERT_EQ(ccom_tls_set_pin(kOtherKey.c_str()), 0);
  Connect(srv);
  EXPECT_EQ(client, nullptr);
  EXPECT_EQ(ccom_client_connect_result(), CCOM_CONNECT_IDENTITY);
  ASSERT_TRUE(conn) << "the handshake itself completed";
  EXPECT_TRUE(ClosedUnused(conn.get()));
  EXPECT_EQ(cap.Count("CCOM:ERR:server identity changed: 127.0.0.2:" + std::to_string(srv.port()) + " presents key " +
                      kyrtest::TestKeyFingerprint() + ", pinned " + kOtherKey),
            1u);

  std::string upper = kyrtest::TestKeyFingerprint();
  for (char &ch : upper) ch = (char)toupper((unsigned char)ch);
  ASSERT_EQ(ccom_tls_set_pin(upper.c_str()), 0);
  Connect(srv);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(ccom_client_connect_result(), CCOM_CONNECT_OK);
  EXPECT_EQ(Fingerprint(), kyrtest::TestKeyFingerprint());
}

// A pin means "this must be that codec": a connection without TLS cannot
// show it, so it is refused before anything is sent. Without a pin plain
// TCP works as before, and has no fingerprint.
TEST_F(Tls, PinRefusesPlainTcp) {
  TestServer srv(TestServer::kPlain, "127.0.0.1");
  ASSERT_TRUE(srv.Start());
  Connect(srv);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(Fingerprint(), "");
  ccom_client_disconnect(client);
  ccom_client_free(client);
  client = nullptr;

  ASSERT_EQ(ccom_tls_set_pin(kyrtest::TestKeyFingerprint().c_str()), 0);
  Connect(srv);
  EXPECT_EQ(client, nullptr);
  EXPECT_EQ(ccom_client_connect_result(), CCOM_CONNECT_IDENTITY);
  ASSERT_TRUE(conn);
  EXPECT_TRUE(ClosedUnused(conn.get()));
}

TEST(TlsPin, ArgumentsAreCheckedAndABadOneKeepsThePin) {
  const std::string good = std::string(32, '0') + std::string(32, 'F');
  ASSERT_EQ(ccom_tls_set_pin(good.c_str()), 0);
  char out[CCOM_FINGERPRINT_SIZE];
  ASSERT_EQ(ccom_tls_get_pin(out, sizeof out), 1);
  EXPECT_EQ(std::string(out), std::string(32, '0') + std::string(32, 'f'));
  for (const std::string &bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g",
                                 " " + std::string(63, 'a'), "0x" + std::string(62, 'a'), std::string("zz")}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ccom_tls_set_pin(bad.c_str()), -1);
    ASSERT_EQ(ccom_tls_get_pin(out, sizeof out), 1);
    EXPECT_EQ(std::string(out), std::string(32, '0') + std::string(32, 'f'));
  }
  EXPECT_EQ(ccom_tls_get_pin(out, sizeof out - 1), -1);
  EXPECT_EQ(ccom_tls_get_pin(nullptr, sizeof out), -1);
  EXPECT_EQ(ccom_tls_set_pin(""), 0);
  EXPECT_EQ(ccom_tls_get_pin(out, sizeof out), 0);
  EXPECT_STREQ(out, "");
  ASSERT_EQ(ccom_tls_set_pin(good.c_str()), 0);
  EXPECT_EQ(ccom_tls_set_pin(nullptr), 0);
  EXPECT_EQ(ccom_tls_get_pin(out, sizeof out), 0);
  EXPECT_EQ(ccom_client_get_fingerprint(nullptr, out, sizeof out), -1);
  EXPECT_EQ(ccom_client_get_fingerprint(nullptr, nullptr, 0), -1);
}

}  // namespace
