// A loopback TCP proxy that holds every byte for a fixed time in each
// direction, as a slow network would: a request written at t reaches the
// peer at t + delay and its answer the client at t + 2 x delay (plus the
// peer's own time). Bytes keep their order and are never held longer
// because others are in flight, so requests sent together share one round
// trip exactly as they would on a real link.
//
// Threads: one accept thread, and two pump threads per accepted connection
// (one per direction). Listens on 127.0.0.1, port chosen by the OS.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kyrbench {

class DelayProxy {
 public:
  // Forwards to target_host:target_port, holding bytes delay_ms each way.
  DelayProxy(std::string target_host, int target_port, int delay_ms);
  ~DelayProxy();
  bool start();
  int port() const { return port_; }

 private:
  void accept_loop();
  void pump(int from, int to);
  std::string host_;
  int target_port_;
  int delay_ms_;
  int lfd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mu_;
  std::vector<std::thread> pumps_;
  std::vector<int> fds_;
};

}  // namespace kyrbench
