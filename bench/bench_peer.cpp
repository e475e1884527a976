#include "bench_peer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace kyrbench {

int64_t now_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void Framer::feed(const char *p, size_t n, std::vector<std::string> *out) {
  size_t start = 0;  // first byte of the current object within p, when begun here
  bool begun_here = false;
  for (size_t i = 0; i < n; i++) {
    char c = p[i];
    if (depth == 0) {
      if (c == '{') {
        depth = 1;
        start = i;
        begun_here = true;
      }
      continue;
    }
    if (in_str) {
      if (esc)
        esc = false;
      else if (c == '\\')
        esc = true;
      else if (c == '"')
        in_str = false;
      continue;
    }
    if (c == '"') {
      in_str = true;
    } else if (c == '{') {
      depth++;
    } else if (c == '}' && --depth == 0) {
      if (begun_here) {
        out->emplace_back(p + start, i + 1 - start);
      } else {
        pending.append(p, i + 1);
        out->push_back(std::move(pending));
        pending.clear();
      }
      begun_here = false;
    }
  }
  if (depth > 0) {
    if (begun_here)
      pending.assign(p + start, n - start);
    else
      pending.append(p, n);
  }
}

std::string find_id(const std::string &obj) {
  // The canned requests and answers carry "id" at the top level only.
  size_t k = obj.rfind("\"id\":");
  if (k == std::string::npos) return "";
  size_t b = k + 5, e = b;
  while (e < obj.size() && (obj[e] == '-' || (obj[e] >= '0' && obj[e] <= '9'))) e++;
  return obj.substr(b, e - b);
}

namespace {

bool make_cert(EVP_PKEY **key_out, X509 **cert_out) {
  EVP_PKEY *key = EVP_RSA_gen(2048);
  if (!key) return false;
  X509 *x = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400);
  X509_set_pubkey(x, key);
  X509_NAME *name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, (const unsigned char *)"kyr-bench", -1, -1, 0);
  X509_set_issuer_name(x, name);
  if (!X509_sign(x, key, EVP_sha256())) {
    X509_free(x);
    EVP_PKEY_free(key);
    return false;
  }
  *key_out = key;
  *cert_out = x;
  return true;
}

void tls10_only(SSL_CTX *ctx) {
  SSL_CTX_set_security_level(ctx, 0);
  SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_VERSION);
}

bool send_all_plain(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd pf = {fd, POLLOUT, 0};
      poll(&pf, 1, 1000);
      continue;
    }
    if (w <= 0) return false;
    p += w;
    n -= (size_t)w;
  }
  return true;
}

void set_nodelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

SSL_CTX *server_tls_ctx() {
  static SSL_CTX *ctx = [] {
    SSL_CTX *c = SSL_CTX_new(TLS_server_method());
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    if (!c || !make_cert(&key, &cert)) return (SSL_CTX *)nullptr;
    tls10_only(c);
    SSL_CTX_use_certificate(c, cert);
    SSL_CTX_use_PrivateKey(c, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return c;
  }();
  return ctx;
}

SSL_CTX *client_tls_ctx() {
  static SSL_CTX *ctx = [] {
    SSL_CTX *c = SSL_CTX_new(TLS_client_method());
    tls10_only(c);
    SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_read_ahead(c, 1);
    return c;
  }();
  return ctx;
}

// ---- Peer ------------------------------------------------------------------

Peer::Peer(bool tls, std::string pre, std::string suf) : tls_(tls), pre_(std::move(pre)), suf_(std::move(suf)) {}

Peer::~Peer() {
  stop_ = true;
  if (lfd_ >= 0) shutdown(lfd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  if (lfd_ >= 0) close(lfd_);
  for (PeerConn *c : conns_) {
    shutdown(c->fd, SHUT_RDWR);
    if (c->th.joinable()) c->th.join();
    if (c->ssl) SSL_free(c->ssl);
    close(c->fd);
    delete c;
  }
}

bool Peer::start() {
  if (tls_ && !server_tls_ctx()) return false;
  lfd_ = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(lfd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  inet_pton(AF_INET, host(), &a.sin_addr);
  if (bind(lfd_, (struct sockaddr *)&a, sizeof a) != 0 || listen(lfd_, 16) != 0) return false;
  socklen_t len = sizeof a;
  getsockname(lfd_, (struct sockaddr *)&a, &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
  return true;
}

void Peer::accept_loop() {
  while (!stop_) {
    struct pollfd pf = {lfd_, POLLIN, 0};
    if (poll(&pf, 1, 200) <= 0) continue;
    int fd = accept(lfd_, nullptr, nullptr);
    if (fd < 0) continue;
    set_nodelay(fd);
    PeerConn *c = new PeerConn;
    c->fd = fd;
    if (tls_) {
      c->ssl = SSL_new(server_tls_ctx());
      SSL_set_fd(c->ssl, fd);
      if (SSL_accept(c->ssl) != 1) {
        SSL_free(c->ssl);
        close(fd);
        delete c;
        continue;
      }
    }
    pthread_mutex_lock(&lock_);
    conns_.push_back(c);
    pthread_mutex_unlock(&lock_);
    c->th = std::thread([this, c] { serve(c); });
  }
}

bool Peer::wait_conns(int n, int timeout_ms) {
  int64_t end = now_ns() + (int64_t)timeout_ms * 1000000;
  while (now_ns() < end) {
    pthread_mutex_lock(&lock_);
    int have = (int)conns_.size();
    pthread_mutex_unlock(&lock_);
    if (have >= n) return true;
    usleep(1000);
  }
  return false;
}

void Peer::serve(PeerConn *c) {
  Framer fr;
  std::vector<std::string> objs;
  std::string out;
  char buf[65536];
  for (;;) {
    int n = c->ssl ? SSL_read(c->ssl, buf, sizeof buf) : (int)recv(c->fd, buf, sizeof buf, 0);
    if (n <= 0) {
      if (!c->ssl && n < 0 && errno == EINTR) continue;
      return;
    }
    objs.clear();
    fr.feed(buf, (size_t)n, &objs);
    for (const std::string &o : objs) {
      out.assign(pre_);
      out += find_id(o);
      out += suf_;
      pthread_mutex_lock(&c->wlock);
      bool ok = c->ssl ? SSL_write(c->ssl, out.data(), (int)out.size()) == (int)out.size()
                       : send_all_plain(c->fd, out.data(), out.size());
      pthread_mutex_unlock(&c->wlock);
      if (!ok) return;
    }
  }
}

void Peer::push(int conn, const std::string &prefix, const std::string &suffix, int count, int per_second,
                std::vector<int64_t> *stamp) {
  pthread_mutex_lock(&lock_);
  PeerConn *c = conn < (int)conns_.size() ? conns_[conn] : nullptr;
  pthread_mutex_unlock(&lock_);
  if (!c || c->ssl) return;  // plain connections only: the TLS session is the serve thread's
  // Built beforehand, so the peer spends its time on the socket only: on a
  // two-core loopback run the codec's own CPU use competes with the client.
  std::vector<std::string> msgs(count);
  for (int i = 0; i < count; i++) msgs[i] = prefix + std::to_string(i) + suffix;
  std::string batch;
  int64_t t0 = now_ns();
  int sent = 0;
  while (sent < count) {
    int due = count;
    if (per_second > 0) {
      due = (int)std::min<int64_t>(count, (now_ns() - t0) * per_second / 1000000000LL + 1);
      if (due <= sent) {
        struct timespec ts = {0, 50000};
        nanosleep(&ts, nullptr);
        continue;
      }
    }
    // Whatever is due goes out in writes of up to 64 KiB, one message after
    // the other with nothing between them.
    batch.clear();
    int first = sent;
    while (sent < due && batch.size() < 65536) batch += msgs[sent++];
    int64_t t = now_ns();
    if (stamp)
      for (int i = first; i < sent; i++) (*stamp)[i] = t;
    pthread_mutex_lock(&c->wlock);
    bool ok = send_all_plain(c->fd, batch.data(), batch.size());
    pthread_mutex_unlock(&c->wlock);
    if (!ok) return;
  }
}

// ---- RawClient ---------------------------------------------------------------

RawClient::~RawClient() {
  stop_ = true;
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
  if (th_.joinable()) th_.join();
  if (ssl_) SSL_free(ssl_);
  if (fd_ >= 0) close(fd_);
}

bool RawClient::connect_to(const char *host, int port, bool tls) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  inet_pton(AF_INET, host, &a.sin_addr);
  if (connect(fd_, (struct sockaddr *)&a, sizeof a) != 0) return false;
  set_nodelay(fd_);
  if (tls) {
    ssl_ = SSL_new(client_tls_ctx());
    SSL_set_fd(ssl_, fd_);
    if (SSL_connect(ssl_) != 1) return false;
    // As the library does: non-blocking, so the reader can wait for the
    // peer without holding the session lock a writer needs.
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL, 0) | O_NONBLOCK);
  }
  th_ = std::thread([this] { reader(); });
  return true;
}

bool RawClient::write_all(const char *p, size_t n) {
  if (!ssl_) return send_all_plain(fd_, p, n);
  while (n > 0) {
    pthread_mutex_lock(&ssl_lock_);
    int w = SSL_write(ssl_, p, (int)n);
    int err = w > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, w);
    pthread_mutex_unlock(&ssl_lock_);
    if (w > 0) {
      p += w;
      n -= (size_t)w;
      continue;
    }
    if (err != SSL_ERROR_WANT_WRITE && err != SSL_ERROR_WANT_READ) return false;
    struct pollfd pf = {fd_, (short)(err == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    poll(&pf, 1, err == SSL_ERROR_WANT_WRITE ? 1000 : 5);
  }
  return true;
}

void RawClient::reader() {
  Framer fr;
  std::vector<std::string> objs;
  char buf[32768];
  while (!stop_) {
    int n;
    if (ssl_) {
      pthread_mutex_lock(&ssl_lock_);
      n = SSL_read(ssl_, buf, sizeof buf);
      int err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, n);
      pthread_mutex_unlock(&ssl_lock_);
      if (n <= 0) {
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
          struct pollfd pf = {fd_, (short)(err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
          poll(&pf, 1, 1000);
          continue;
        }
        break;
      }
    } else {
      n = (int)recv(fd_, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
    objs.clear();
    fr.feed(buf, (size_t)n, &objs);
    for (std::string &o : objs) {
      std::string id = find_id(o);
      pthread_mutex_lock(&mu_);
      Waiter *hit = nullptr;
      for (size_t i = 0; i < waiters_.size(); i++)
        if (waiters_[i]->id == id) {
          hit = waiters_[i];
          waiters_[i] = waiters_.back();
          waiters_.pop_back();
          break;
        }
      if (hit) {
        hit->rsp->assign(o);
        hit->done = true;
        pthread_cond_signal(&hit->cond);
      } else {
        notes_.push_back(std::move(o));
        pthread_cond_signal(&ncond_);
      }
      pthread_mutex_unlock(&mu_);
    }
  }
  pthread_mutex_lock(&mu_);
  for (Waiter *w : waiters_) pthread_cond_signal(&w->cond);
  stop_ = true;
  pthread_cond_broadcast(&ncond_);
  pthread_mutex_unlock(&mu_);
}

bool RawClient::call(const std::string &request, const std::string &id, std::string *rsp) {
  Waiter w{id, rsp, false, PTHREAD_COND_INITIALIZER};
  pthread_mutex_lock(&mu_);
  waiters_.push_back(&w);
  pthread_mutex_unlock(&mu_);
  pthread_mutex_lock(&wlock_);
  bool ok = write_all(request.data(), request.size());
  pthread_mutex_unlock(&wlock_);
  pthread_mutex_lock(&mu_);
  while (ok && !w.done && !stop_) pthread_cond_wait(&w.cond, &mu_);
  if (!w.done)
    for (size_t i = 0; i < waiters_.size(); i++)
      if (waiters_[i] == &w) {
        waiters_.erase(waiters_.begin() + (long)i);
        break;
      }
  pthread_mutex_unlock(&mu_);
  pthread_cond_destroy(&w.cond);
  return w.done;
}

bool RawClient::take_notification(std::string *out, int timeout_ms) {
  struct timespec dl;
  clock_gettime(CLOCK_REALTIME, &dl);
  dl.tv_sec += timeout_ms / 1000;
  dl.tv_nsec += (long)(timeout_ms % 1000) * 1000000L;
  if (dl.tv_nsec >= 1000000000L) {
    dl.tv_sec++;
    dl.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&mu_);
  while (note_head_ == notes_.size() && !stop_)
    if (pthread_cond_timedwait(&ncond_, &mu_, &dl) == ETIMEDOUT) break;
  bool got = note_head_ < notes_.size();
  if (got) {
    out->swap(notes_[note_head_]);
    note_head_++;
    if (note_head_ == notes_.size()) {
      notes_.clear();
      note_head_ = 0;
    }
  }
  pthread_mutex_unlock(&mu_);
  return got;
}

}  // namespace kyrbench
