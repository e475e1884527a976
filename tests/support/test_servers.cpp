#include "support/test_servers.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

namespace kyrtest {
namespace {

struct Credentials {
  EVP_PKEY *key = nullptr;
  X509 *cert = nullptr;
};

// The key in KYR_TEST_TLS_KEY (PEM; a test run that makes keys slowly, as
// under qemu-user, shares one), else a new one.
EVP_PKEY *LoadOrMakeKey() {
  const char *path = getenv("KYR_TEST_TLS_KEY");
  FILE *f = path && *path ? fopen(path, "r") : nullptr;
  EVP_PKEY *key = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
  if (f) fclose(f);
  return key ? key : EVP_RSA_gen(2048);
}

// One RSA key and self-signed certificate per process: generating a key
// takes tens of milliseconds.
const Credentials &TestCredentials() {
  static Credentials creds;
  static std::once_flag once;
  std::call_once(once, [] {
    EVP_PKEY *key = LoadOrMakeKey();
    X509 *x = X509_new();
    if (!key || !x) return;
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365);
    X509_set_pubkey(x, key);
    X509_NAME *name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("kyrtest codec"), -1,
                               -1, 0);
    X509_set_issuer_name(x, name);
    if (X509_sign(x, key, EVP_sha256()) <= 0) {
      X509_free(x);
      EVP_PKEY_free(key);
      return;
    }
    creds.key = key;
    creds.cert = x;
  });
  return creds;
}

int64_t NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Waits for events on fd until deadline; false on time-out.
bool WaitFd(int fd, short events, int64_t deadline) {
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left < 0) left = 0;
    struct pollfd p = {fd, events, 0};
    int r = poll(&p, 1, (int)left);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when
// the client under test has already gone; keep that from killing the test.
struct NoSigpipe {
  sigset_t old_mask;
  bool was_pending = false;
  NoSigpipe() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &s, &old_mask);
    sigset_t p;
    sigpending(&p);
    was_pending = sigismember(&p, SIGPIPE);
  }
  ~NoSigpipe() {
    sigset_t p;
    sigpending(&p);
    if (!was_pending && sigismember(&p, SIGPIPE)) {
      sigset_t s;
      sigemptyset(&s);
      sigaddset(&s, SIGPIPE);
      struct timespec zero = {0, 0};
      sigtimedwait(&s, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  }
};

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

// What each TLS mode offers: versions, security level (-1: OpenSSL's
// default), cipher list and signature algorithms (null: OpenSSL's default).
struct TlsOffer {
  TestServer::Mode mode;
  int min_version, max_version;
  int level;
  const char *ciphers;
  const char *sigalgs = nullptr;
};
const TlsOffer kOffers[] = {
    {TestServer::kTls10, TLS1_VERSION, TLS1_VERSION, 0, nullptr},
    {TestServer::kTls12, TLS1_2_VERSION, TLS1_2_VERSION, -1, nullptr},
    {TestServer::kTls13, TLS1_3_VERSION, TLS1_3_VERSION, -1, nullptr},
    {TestServer::kTlsNullOnly, TLS1_VERSION, TLS1_2_VERSION, 0, "eNULL:@SECLEVEL=0"},
    {TestServer::kTlsAnonOnly, TLS1_VERSION, TLS1_2_VERSION, 0, "aNULL:!eNULL:@SECLEVEL=0"},
    {TestServer::kTlsRc4Only, TLS1_VERSION, TLS1_2_VERSION, 0, "RC4:@SECLEVEL=0"},
    {TestServer::kTls3DesOnly, TLS1_VERSION, TLS1_2_VERSION, 0, "3DES:@SECLEVEL=0"},
    {TestServer::kTls12Sha1Signatures, TLS1_2_VERSION, TLS1_2_VERSION, 0, "ECDHE+AESGCM:@SECLEVEL=0", "RSA+SHA1"},
};

// A server context for the mode; null when it cannot be built.
SSL_CTX *NewServerCtx(TestServer::Mode mode) {
  const TlsOffer *o = nullptr;
  for (const auto &row : kOffers)
    if (row.mode == mode) o = &row;
  const Credentials &c = TestCredentials();
  if (!o || !c.key || !c.cert) return nullptr;
  SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return nullptr;
  if (o->level >= 0) SSL_CTX_set_security_level(ctx, o->level);
  bool ok = SSL_CTX_set_min_proto_version(ctx, o->min_version) == 1 &&
            SSL_CTX_set_max_proto_version(ctx, o->max_version) == 1 &&
            (!o->ciphers || SSL_CTX_set_cipher_list(ctx, o->ciphers) == 1) &&
            (!o->sigalgs || SSL_CTX_set1_sigalgs_list(ctx, o->sigalgs) == 1) &&
            SSL_CTX_use_certificate(ctx, c.cert) == 1 && SSL_CTX_use_PrivateKey(ctx, c.key) == 1;
  ERR_clear_error();
  if (!ok) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

// Runs a handshake on a non-blocking socket until done or the deadline.
bool Handshake(SSL *ssl, int fd, bool accept, int64_t deadline) {
  NoSigpipe guard;
  for (;;) {
    int r = accept ? SSL_accept(ssl) : SSL_connect(ssl);
    if (r == 1) return true;
    int err = SSL_get_error(ssl, r);
    if ((err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) ||
        !WaitFd(fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
      ERR_clear_error();
      return false;
    }
  }
}

}  // namespace

bool WriteTestCertPem(const std::string &cert_path, const std::string &key_path) {
  const Credentials &c = TestCredentials();
  if (!c.key || !c.cert) return false;
  FILE *f = fopen(cert_path.c_str(), "w");
  if (!f) return false;
  bool ok = PEM_write_X509(f, c.cert) == 1;
  fclose(f);
  f = fopen(key_path.c_str(), "w");
  if (!f) return false;
  ok = ok && PEM_write_PrivateKey(f, c.key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  fclose(f);
  return ok;
}

std::string TestKeyFingerprint() {
  const Credentials &c = TestCredentials();
  unsigned char *der = nullptr;
  int len = c.key ? i2d_PUBKEY(c.key, &der) : 0;
  if (len <= 0) return "";
  unsigned char md[32];
  SHA256(der, (size_t)len, md);
  OPENSSL_free(der);
  char hex[65];
  for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", md[i]);
  return hex;
}

TestConn::TestConn(int fd, SSL *ssl) : fd_(fd), ssl_(ssl) {}

std::string TestConn::Version() const { return ssl_ ? SSL_get_version(ssl_) : ""; }

std::string TestConn::Suite() const {
  const SSL_CIPHER *c = ssl_ ? SSL_get_current_cipher(ssl_) : nullptr;
  return c ? SSL_CIPHER_get_name(c) : "";
}

TestConn::~TestConn() { Close(); }

void TestConn::Close(bool abrupt) {
  NoSigpipe guard;
  if (ssl_) {
    if (!abrupt) SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

bool TestConn::Send(const std::string &bytes, int timeout_ms) {
  if (fd_ < 0) return false;
  NoSigpipe guard;
  int64_t deadline = NowMs() + timeout_ms;
  size_t off = 0;
  while (off < bytes.size()) {
    size_t chunk = bytes.size() - off;
    if (chunk > (1u << 20)) chunk = 1u << 20;
    if (ssl_) {
      int n = SSL_write(ssl_, bytes.data() + off, (int)chunk);
      if (n > 0) {
        off += (size_t)n;
        continue;
      }
      int err = SSL_get_error(ssl_, n);
      if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) {
        if (!WaitFd(fd_, err == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, deadline)) return false;
        continue;
      }
      return false;
    }
    ssize_t n = send(fd_, bytes.data() + off, chunk, MSG_NOSIGNAL);
    if (n > 0) {
      off += (size_t)n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFd(fd_, POLLOUT, deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

int TestConn::RecvSome(std::string *out, int timeout_ms) {
  if (fd_ < 0) return -1;
  NoSigpipe guard;
  int64_t deadline = NowMs() + timeout_ms;
  char buf[65536];
  for (;;) {
    if (ssl_) {
      int n = SSL_read(ssl_, buf, sizeof buf);
      if (n > 0) {
        out->append(buf, (size_t)n);
        return n;
      }
      int err = SSL_get_error(ssl_, n);
      if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        if (!WaitFd(fd_, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) return 0;
        continue;
      }
      return -1;
    }
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      out->append(buf, (size_t)n);
      return (int)n;
    }
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!WaitFd(fd_, POLLIN, deadline)) return 0;
  }
}

bool TestConn::RecvAtLeast(size_t n, std::string *out, int timeout_ms) {
  int64_t deadline = NowMs() + timeout_ms;
  while (out->size() < n) {
    int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    if (RecvSome(out, (int)left) <= 0) return false;
  }
  return true;
}

bool TestConn::RecvObject(std::string *obj, int timeout_ms) {
  int64_t deadline = NowMs() + timeout_ms;
  for (;;) {
    // A deliberately simple framer: depth counting that skips string
    // contents and escapes, scanning from the first "{".
    size_t start = pending_.find('{');
    if (start != std::string::npos) {
      int depth = 0;
      bool in_str = false, esc = false;
      for (size_t i = start; i < pending_.size(); i++) {
        char c = pending_[i];
        if (in_str) {
          if (esc)
            esc = false;
          else if (c == '\\')
            esc = true;
          else if (c == '"')
            in_str = false;
        } else if (c == '"') {
          in_str = true;
        } else if (c == '{') {
          depth++;
        } else if (c == '}' && --depth == 0) {
          *obj = pending_.substr(start, i + 1 - start);
          pending_.erase(0, i + 1);
          return true;
        }
      }
    }
    int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    if (RecvSome(&pending_, (int)left) <= 0) return false;
  }
}

bool TestConn::WaitClosed(int timeout_ms) {
  int64_t deadline = NowMs() + timeout_ms;
  std::string sink;
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    int r = RecvSome(&sink, (int)left);
    if (r < 0) return true;
    if (r == 0) return false;
    sink.clear();
  }
}

TestServer::TestServer(Mode mode, const char *bind_host) : mode_(mode), host_(bind_host) {}

TestServer::~TestServer() {
  if (listen_fd_ >= 0) close(listen_fd_);
  if (ctx_) SSL_CTX_free(ctx_);
}

bool TestServer::CanOffer(Mode mode) {
  if (mode == kPlain) return true;
  SSL_CTX *ctx = NewServerCtx(mode);
  SSL_CTX_free(ctx);
  return ctx != nullptr;
}

bool TestServer::Start() {
  if (mode_ != kPlain) {
    ctx_ = NewServerCtx(mode_);
    if (!ctx_) return false;
  }
  listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (listen_fd_ < 0) return false;
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = 0;
  if (inet_pton(AF_INET, host_.c_str(), &sa.sin_addr) != 1) return false;
  if (bind(listen_fd_, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) != 0) return false;
  if (listen(listen_fd_, 16) != 0) return false;
  socklen_t len = sizeof sa;
  if (getsockname(listen_fd_, reinterpret_cast<struct sockaddr *>(&sa), &len) != 0) return false;
  port_ = ntohs(sa.sin_port);
  return true;
}

int TestServer::AcceptFd(int timeout_ms) {
  if (listen_fd_ < 0) return -1;
  if (!WaitFd(listen_fd_, POLLIN, NowMs() + timeout_ms)) return -1;
  int fd = accept(listen_fd_, nullptr, nullptr);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SetNonBlocking(fd);
  return fd;
}

std::unique_ptr<TestConn> TestServer::AcceptRaw(int timeout_ms) {
  int fd = AcceptFd(timeout_ms);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TestConn>(new TestConn(fd, nullptr));
}

std::unique_ptr<TestConn> TestServer::Accept(int timeout_ms) {
  if (mode_ == kPlain) return AcceptRaw(timeout_ms);
  int64_t deadline = NowMs() + timeout_ms;
  int fd = AcceptFd(timeout_ms);
  if (fd < 0) return nullptr;
  SSL *ssl = SSL_new(ctx_);
  if (!ssl) {
    close(fd);
    return nullptr;
  }
  SSL_set_fd(ssl, fd);
  if (!Handshake(ssl, fd, true, deadline)) {
    SSL_free(ssl);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<TestConn>(new TestConn(fd, ssl));
}

std::unique_ptr<TestConn> TlsConnect(const std::string &host, int port, int timeout_ms, const char *cipher_list) {
  int64_t deadline = NowMs() + timeout_ms;
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons((uint16_t)port);
  if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) return nullptr;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return nullptr;
  if (connect(fd, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) != 0) {
    close(fd);
    return nullptr;
  }
  SetNonBlocking(fd);
  SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
  SSL *ssl = nullptr;
  if (ctx) {
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    if (!cipher_list || SSL_CTX_set_cipher_list(ctx, cipher_list) == 1) ssl = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the session keeps its own reference
  }
  if (!ssl) {
    ERR_clear_error();
    close(fd);
    return nullptr;
  }
  SSL_set_fd(ssl, fd);
  if (!Handshake(ssl, fd, false, deadline)) {
    SSL_free(ssl);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<TestConn>(new TestConn(fd, ssl));
}

}  // namespace kyrtest
