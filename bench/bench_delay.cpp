// The delaying loopback proxy (bench_delay.h).
#include "bench_delay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>

#include "bench_peer.h"

namespace kyrbench {

namespace {

struct Chunk {
  int64_t due_ns;
  std::string bytes;
};

bool write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= (size_t)w;
  }
  return true;
}

void no_delay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

DelayProxy::DelayProxy(std::string target_host, int target_port, int delay_ms)
    : host_(std::move(target_host)), target_port_(target_port), delay_ms_(delay_ms) {}

DelayProxy::~DelayProxy() {
  stop_ = true;
  if (lfd_ >= 0) shutdown(lfd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> g(mu_);
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  }
  for (auto &t : pumps_) t.join();
  for (int fd : fds_) close(fd);
  if (lfd_ >= 0) close(lfd_);
}

bool DelayProxy::start() {
  lfd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (lfd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (bind(lfd_, (sockaddr *)&a, sizeof a) != 0 || listen(lfd_, 16) != 0 ||
      getsockname(lfd_, (sockaddr *)&a, &len) != 0)
    return false;
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
  return true;
}

void DelayProxy::accept_loop() {
  while (!stop_) {
    pollfd p{lfd_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    int c = accept(lfd_, nullptr, nullptr);
    if (c < 0) continue;
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)target_port_);
    inet_pton(AF_INET, host_.c_str(), &a.sin_addr);
    if (s < 0 || connect(s, (sockaddr *)&a, sizeof a) != 0) {
      close(c);
      if (s >= 0) close(s);
      continue;
    }
    no_delay(c);
    no_delay(s);
    std::lock_guard<std::mutex> g(mu_);
    fds_.push_back(c);
    fds_.push_back(s);
    pumps_.emplace_back([this, c, s] { pump(c, s); });
    pumps_.emplace_back([this, c, s] { pump(s, c); });
  }
}

// Reads what arrives on `from` and writes it to `to` delay_ms later, in
// order; ends when either side closes (then shuts the other side too).
void DelayProxy::pump(int from, int to) {
  std::deque<Chunk> held;
  const int64_t delay_ns = (int64_t)delay_ms_ * 1000000;
  bool open = true;
  char buf[65536];
  while (!stop_ && (open || !held.empty())) {
    int timeout = 200;
    if (!held.empty()) {
      int64_t wait = held.front().due_ns - now_ns();
      timeout = wait <= 0 ? 0 : (int)((wait + 999999) / 1000000);
    }
    int r = 0;
    pollfd p{from, POLLIN, 0};
    if (open)
      r = poll(&p, 1, timeout);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
    if (r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = recv(from, buf, sizeof buf, 0);
      if (n <= 0)
        open = false;
      else
        held.push_back({now_ns() + delay_ns, std::string(buf, (size_t)n)});
    }
    while (!held.empty() && held.front().due_ns <= now_ns()) {
      if (!write_all(to, held.front().bytes.data(), held.front().bytes.size())) return;
      held.pop_front();
    }
  }
  shutdown(to, SHUT_WR);
}

}  // namespace kyrbench
