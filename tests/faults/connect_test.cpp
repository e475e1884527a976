// Connecting: IPv6 and several addresses within the bound, an address that
// swallows SYNs fails within it, and a cancel ends a connect in progress
// (TCP connect, TLS handshake, version exchange) at once.
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <thread>

#include "fault_rig.h"
#include "ipc/libccom/ccom_internal.h"

namespace {

using namespace faultrig;

// A listener on 127.0.0.1 whose accept queue is full: further SYNs are
// dropped, as by a host that has gone away.
struct SynSink {
  int lfd = -1, filler = -1, port = 0;
  SynSink() {
    lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(lfd, 0) != 0 ||
        getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      return;
    port = ntohs(a.sin_port);
    filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(filler, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) port = 0;
    usleep(50 * 1000);
  }
  ~SynSink() {
    if (filler >= 0) close(filler);
    if (lfd >= 0) close(lfd);
  }
};

struct BoundGuard {
  int saved = ccom_connect_timeout_ms;
  explicit BoundGuard(int ms) { ccom_connect_timeout_ms = ms; }
  ~BoundGuard() { ccom_connect_timeout_ms = saved; }
};

addrinfo *numeric(const char *host, int port) {
  addrinfo hints{}, *res = nullptr;
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  return getaddrinfo(host, std::to_string(port).c_str(), &hints, &res) == 0 ? res : nullptr;
}

TEST(Connect, HostPortForms) {
  struct {
    const char *in, *host;
    int port;
  } cases[] = {{"codec.example:4123", "codec.example", 4123}, {"10.1.2.3", "10.1.2.3", 7},
               {"[::1]:4500", "::1", 4500},                 {"[fe80::1]", "fe80::1", 7},
               {"fe80::2:3", "fe80::2:3", 7},                {"::1", "::1", 7}};
  for (const auto &c : cases) {
    char host[64];
    int port = 7;
    ASSERT_EQ(ccom_split_host_port(c.in, host, sizeof host, &port), 0) << c.in;
    EXPECT_STREQ(host, c.host) << c.in;
    EXPECT_EQ(port, c.port) << c.in;
  }
  char tiny[4];
  int port = 0;
  EXPECT_EQ(ccom_split_host_port("longer-name:1", tiny, sizeof tiny, &port), -1);
  EXPECT_EQ(ccom_split_host_port("[::1", tiny, sizeof tiny, &port), -1);
}

TEST(Connect, OverIpv6) {
  service_up();
  codec_sim_config cfg;
  cfg.bind_addr = "::1";
  cfg.tls = true;  // only 127.0.0.1 goes without TLS
  codec_sim *sim = codec_sim_start(cfg);
  ASSERT_NE(sim, nullptr);
  std::string addr = "[::1]:" + std::to_string(codec_sim_port(sim));
  int inst = csConnect(addr.c_str(), "android", "2.0.0", "1.0.0", "99.0.0");
  EXPECT_GE(inst, 0);
  if (inst >= 0) {
    EXPECT_EQ(csAuth(inst, "fault-serial-0001"), 0);
  }
  csDisconnect(inst);
  codec_sim_stop(sim);
}

// The first address swallows the SYN; the second still gets its turn
// within the bound.
TEST(Connect, NextAddressAfterOneThatSwallowsSyns) {
  SynSink sink;
  ASSERT_GT(sink.port, 0);
  codec_sim_config cfg;
  cfg.bind_addr = "::1";
  codec_sim *sim = codec_sim_start(cfg);
  ASSERT_NE(sim, nullptr);
  addrinfo *first = numeric("127.0.0.1", sink.port), *second = numeric("::1", codec_sim_port(sim));
  ASSERT_TRUE(first && second);
  first->ai_next = second;
  BoundGuard bound(2000);
  bool lb = true;
  int64_t t0 = now_ms();
  int fd = ccom_connect_any(first, ccom_connect_generation(), nullptr, &lb);
  int64_t took = now_ms() - t0;
  EXPECT_GE(fd, 0);
  EXPECT_FALSE(lb);
  EXPECT_GE(took, 800);    // the sink had its share
  EXPECT_LT(took, 2500);   // and the whole stayed within the bound
  if (fd >= 0) close(fd);
  first->ai_next = nullptr;
  freeaddrinfo(first);
  freeaddrinfo(second);
  codec_sim_stop(sim);
}

TEST(Connect, AddressThatSwallowsSynsFailsWithinTheBound) {
  service_up();
  SynSink sink;
  ASSERT_GT(sink.port, 0);
  BoundGuard bound(1500);
  std::string addr = "127.0.0.1:" + std::to_string(sink.port);
  int64_t t0 = now_ms();
  EXPECT_LT(csConnect(addr.c_str(), "android", "2.0.0", "1.0.0", "99.0.0"), 0);
  int64_t took = now_ms() - t0;
  EXPECT_GE(took, 1400);
  EXPECT_LT(took, 4000);
}

// A cancel from another thread ends the connect in each of its phases.
TEST(Connect, CancelEndsAConnectInEveryPhase) {
  service_up();
  SynSink sink;
  ASSERT_GT(sink.port, 0);
  codec_sim_config tls_stall;
  tls_stall.tls = true;
  tls_stall.tls_stall = true;
  tls_stall.bind_addr = "127.0.0.2";
  codec_sim_config silent;
  silent.stall = true;
  codec_sim *a = codec_sim_start(tls_stall), *b = codec_sim_start(silent);
  ASSERT_TRUE(a && b);
  const std::string phases[][2] = {
      {"TCP connect", "127.0.0.1:" + std::to_string(sink.port)},
      {"TLS handshake", "127.0.0.2:" + std::to_string(codec_sim_port(a))},
      {"version exchange", "127.0.0.1:" + std::to_string(codec_sim_port(b))},
  };
  for (const auto &p : phases) {
    const int before = csSrvrCount();
    std::atomic<int64_t> returned{0};
    std::atomic<int> rc{0};
    std::thread t([&] {
      rc = csConnect(p[1].c_str(), "android", "2.0.0", "1.0.0", "99.0.0");
      returned = now_ms();
    });
    usleep(400 * 1000);
    int64_t t0 = now_ms();
    csapi_cancel_connects();
    t.join();
    EXPECT_LT(rc.load(), 0) << p[0];
    EXPECT_LT(returned.load() - t0, 1000) << p[0];
    EXPECT_EQ(csSrvrCount(), before) << p[0];
  }
  codec_sim_stop(a);
  codec_sim_stop(b);
}

}  // namespace
