// Loopback peers for tests: a plain TCP server and TLS servers built on
// OpenSSL (one protocol version each, or only forbidden cipher suites), with
// a self-signed certificate and key generated at run time (no key is
// committed), and a TLS client for proxies and control checks. A test drives the accepted connection synchronously
// from its own thread while the code under test runs its own threads.
//
// Use: add ${CMAKE_SOURCE_DIR}/tests/support/test_servers.cpp to the test
// executable's sources and include "support/test_servers.h".
//
// Every wait is bounded by a time-out in milliseconds.
#pragma once

#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace kyrtest {

// Writes the process's test certificate and key (PEM) to the given paths,
// for external peers such as `openssl s_server`. False on failure.
bool WriteTestCertPem(const std::string &cert_path, const std::string &key_path);

// SHA-256 of the test key's SubjectPublicKeyInfo, 64 lowercase hex digits
// (computed from the key itself, not from a certificate).
std::string TestKeyFingerprint();

// An accepted connection, plain or TLS. Closed on destruction.
class TestConn {
 public:
  TestConn(int fd, SSL *ssl);
  ~TestConn();
  TestConn(const TestConn &) = delete;
  TestConn &operator=(const TestConn &) = delete;

  // Writes all bytes (bounded by timeout_ms). False on failure or time-out.
  bool Send(const std::string &bytes, int timeout_ms = 5000);
  // Appends whatever arrives within timeout_ms to *out: bytes read (> 0),
  // 0 on time-out, -1 when the peer closed or the connection failed.
  int RecvSome(std::string *out, int timeout_ms);
  // Reads until *out holds at least n bytes. False on time-out or close.
  bool RecvAtLeast(size_t n, std::string *out, int timeout_ms);
  // Reads the next JSON object with this helper's own framing (independent
  // of the library's); bytes after it stay buffered for the next call.
  bool RecvObject(std::string *obj, int timeout_ms);
  // True when the peer closes within timeout_ms (data read meanwhile is
  // discarded).
  bool WaitClosed(int timeout_ms);
  // Closes now (TLS: without close_notify when abrupt is set).
  void Close(bool abrupt = false);

  int fd() const { return fd_; }
  bool tls() const { return ssl_ != nullptr; }
  // The negotiated protocol ("TLSv1.2") and suite; "" for plain TCP.
  std::string Version() const;
  std::string Suite() const;

 private:
  int fd_;
  SSL *ssl_;
  std::string pending_;  // received, not yet returned by RecvObject
};

class TestServer {
 public:
  // kTlsNullOnly and the other *Only modes offer TLS 1.0 to 1.2 at security
  // level 0 with nothing but suites of that kind.
  // kTls12Sha1Signatures is TLS 1.2 signing its handshake only with SHA-1.
  enum Mode {
    kPlain, kTls10, kTls12, kTls13, kTlsNullOnly, kTlsAnonOnly, kTlsRc4Only, kTls3DesOnly, kTls12Sha1Signatures
  };
  // Whether this build of OpenSSL can offer the mode at all (RC4 and 3DES
  // suites are often compiled out).
  static bool CanOffer(Mode mode);
  // bind_host: a loopback address. The client turns TLS off for 127.0.0.1,
  // so TLS tests bind another loopback address such as 127.0.0.2.
  explicit TestServer(Mode mode = kPlain, const char *bind_host = "127.0.0.1");
  ~TestServer();
  TestServer(const TestServer &) = delete;
  TestServer &operator=(const TestServer &) = delete;

  // Binds port 0 (the OS chooses) and listens. False on failure.
  bool Start();
  int port() const { return port_; }
  const std::string &host() const { return host_; }

  // Accepts one connection; in TLS mode also completes the handshake.
  // Null on time-out or failure.
  std::unique_ptr<TestConn> Accept(int timeout_ms = 5000);
  // Accepts the TCP connection only (no TLS handshake), e.g. to stall a
  // client's handshake.
  std::unique_ptr<TestConn> AcceptRaw(int timeout_ms = 5000);

 private:
  int AcceptFd(int timeout_ms);

  Mode mode_;
  std::string host_;
  int listen_fd_ = -1;
  int port_ = 0;
  SSL_CTX *ctx_ = nullptr;
};

// Connects to host:port as a TLS client (any version from 1.0 to 1.3,
// security level 0, the given OpenSSL cipher list or OpenSSL's default),
// completing the handshake. Null on failure or time-out.
std::unique_ptr<TestConn> TlsConnect(const std::string &host, int port, int timeout_ms,
                                     const char *cipher_list = nullptr);

}  // namespace kyrtest
