// Loopback stand-ins for the benchmarks: a minimal codec that answers every
// request with a canned response (echoing the request's id) and can push a
// stream of notifications, and the raw ping-pong client that marks the
// physical limit of the library's design (reader thread + condition-variable
// hand-off). Both speak plain TCP or TLS 1.0.
//
// The peer does as little work as a peer can, so that the library and the
// raw baseline face the same server cost and the ratio shows the library's
// own overhead.
#pragma once

#include <pthread.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace kyrbench {

// Monotonic nanoseconds.
int64_t now_ns();

// String-aware brace framer: feed bytes, get whole top-level objects.
struct Framer {
  std::string pending;  // bytes of the object in progress
  int depth = 0;
  bool in_str = false;
  bool esc = false;
  // Appends every object completed by [p, p+n) to out (as views into a
  // scratch buffer, copied); bytes outside objects are ignored.
  void feed(const char *p, size_t n, std::vector<std::string> *out);
};

// The value of the top-level "id" member as text ("" when absent).
std::string find_id(const std::string &obj);

// Self-signed certificate and key for the TLS peer, made once.
SSL_CTX *server_tls_ctx();
SSL_CTX *client_tls_ctx();

struct PeerConn {
  int fd = -1;
  SSL *ssl = nullptr;
  pthread_mutex_t wlock = PTHREAD_MUTEX_INITIALIZER;  // serialises writes
  std::thread th;
};

class Peer {
 public:
  // tls: bind 127.0.0.2 and speak TLS 1.0 (the library never uses TLS to
  // 127.0.0.1). response_prefix + id + response_suffix is the answer.
  Peer(bool tls, std::string response_prefix, std::string response_suffix);
  ~Peer();
  bool start();
  int port() const { return port_; }
  const char *host() const { return tls_ ? "127.0.0.2" : "127.0.0.1"; }
  // Waits until n connections were accepted (bounded).
  bool wait_conns(int n, int timeout_ms);
  // Writes count notifications prefix + seq + suffix to connection conn
  // (0-based accept order), one write each, back to back, or paced at
  // per_second. stamp[seq] receives the time just before its write.
  void push(int conn, const std::string &prefix, const std::string &suffix, int count, int per_second,
            std::vector<int64_t> *stamp);

 private:
  void serve(PeerConn *c);
  void accept_loop();
  bool tls_;
  std::string pre_, suf_;
  int lfd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
  std::vector<PeerConn *> conns_;
};

// The physical limit of a synchronous call: send the request bytes, let a
// reader thread frame the answer and hand it over through a mutex and a
// condition variable to the waiting caller (one waiter per calling thread).
class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  bool connect_to(const char *host, int port, bool tls);
  // Sends request (its id must be unique among calls in flight) and waits
  // for the answer with that id; copies it into *rsp. False on failure.
  bool call(const std::string &request, const std::string &id, std::string *rsp);
  // Notification mode: every framed object without a waiting caller is
  // queued here for take_notification.
  bool take_notification(std::string *out, int timeout_ms);

 private:
  struct Waiter {
    std::string id;
    std::string *rsp;
    bool done;
    pthread_cond_t cond;
  };
  void reader();
  bool write_all(const char *p, size_t n);
  int fd_ = -1;
  SSL *ssl_ = nullptr;
  pthread_mutex_t ssl_lock_ = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_t wlock_ = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_t mu_ = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t ncond_ = PTHREAD_COND_INITIALIZER;
  std::vector<Waiter *> waiters_;
  std::vector<std::string> notes_;
  size_t note_head_ = 0;
  std::atomic<bool> stop_{false};
  std::thread th_;
};

}  // namespace kyrbench
