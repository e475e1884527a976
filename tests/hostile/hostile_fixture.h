// A live session against a codec simulator that misbehaves on purpose.
//
// The fixture connects and authenticates one instance (plain TCP on
// loopback), runs a worker thread that waits in csCallbackProcess as the
// service's worker does, and records every terminal and communication record
// its callbacks see. Tests then make the codec send the wrong thing and check
// that the library survives, logs what it drops, and still delivers the
// next good message (a "marker" notification) and answers the next call.
//
// Every wait is bounded; nothing asserts on timing.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/cs_records.h"
#include "csapi/client/csapi.h"
#include "support/log_capture.h"

namespace hostile {

inline int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Polls cond every 2 ms until it holds or timeout_ms passed.
inline bool WaitFor(const std::function<bool()> &cond, int timeout_ms) {
  int64_t end = now_ms() + timeout_ms;
  for (;;) {
    if (cond()) return true;
    if (now_ms() >= end) return false;
    usleep(2000);
  }
}

// A terminal record as the codec writes it.
inline std::string TermJson(uint32_t handle, const std::string &name, int rate = 768) {
  return "{\"srvrInstance\":0,\"handle\":" + std::to_string(handle) + ",\"name\":\"" + name +
         "\",\"callerID\":\"caller\",\"addr\":\"sip:room@example.com\",\"rate\":" + std::to_string(rate) +
         ",\"state\":9,\"muted\":0,\"deviceName\":\"dev\",\"id\":7}";
}

inline std::string TermNote(uint32_t handle, const std::string &name, uint32_t flags = 0x200) {
  return "{\"jsonrpc\":\"2.0\",\"method\":\"csTermChangedCB\",\"params\":{\"pTerm\":" + TermJson(handle, name) +
         ",\"flags\":" + std::to_string(flags) + "}}";
}

// One capture for the whole process, installed once and never removed: the
// log seam keeps every sink it ever had, and a capture that uninstalled
// itself would leave its sink unreachable (a leak report under ASan).
inline kyrtest::LogCapture &Log() {
  static kyrtest::LogCapture *capture = new kyrtest::LogCapture;
  return *capture;
}

struct SeenTerm {
  CSTerm rec;
  unsigned flags;
};
struct SeenComm {
  CSComm rec;
  unsigned flags;
};

class HostileTest : public ::testing::Test {
 protected:
  virtual codec_sim_config Config() {
    codec_sim_config cfg;
    cfg.model = true;
    return cfg;
  }

  void SetUp() override {
    log_.Clear();
    sim_ = codec_sim_start(Config());
    ASSERT_NE(sim_, nullptr);
    ASSERT_EQ(csInit(nullptr), 0);
    codec_sim_set_answer_hook(sim_, [this](const codec_sim_request &r, std::string *reply) {
      std::lock_guard<std::mutex> g(hook_mu_);
      if (r.method != "csTermGet") return static_cast<int>(CODEC_SIM_DEFAULT);
      if (term_get_) return term_get_(r, reply);
      *reply = codec_sim_result_text(r, TermJson(1, "default"));
      return static_cast<int>(CODEC_SIM_REPLY);
    });
    ASSERT_TRUE(OpenSession());
    StartWorker();
  }

  void TearDown() override {
    StopWorker();
    if (inst_ >= 0) csDisconnect(inst_);
    inst_ = -1;
    if (sim_) codec_sim_stop(sim_);
    sim_ = nullptr;
  }

  bool OpenSession() {
    char addr[64];
    snprintf(addr, sizeof addr, "127.0.0.1:%d", codec_sim_port(sim_));
    inst_ = csConnect(addr, "android", "2.0.0", "1.0.0", "99.0.0");
    if (inst_ < 0) return false;
    return csAuth(inst_, "hostile-serial-0001") == 0 && csapi_client_get_state(inst_) == CLIENT_STATE_READY;
  }

  static void OnTerm(const CSTerm *t, CSTermFields flags, uintptr_t ud) {
    auto *self = reinterpret_cast<HostileTest *>(ud);
    std::lock_guard<std::mutex> g(self->seen_mu_);
    self->terms_.push_back({*t, (unsigned)flags});
  }
  static void OnComm(const CSComm *c, CSCommFields flags, uintptr_t ud) {
    auto *self = reinterpret_cast<HostileTest *>(ud);
    std::lock_guard<std::mutex> g(self->seen_mu_);
    self->comms_.push_back({*c, (unsigned)flags});
  }

  void StartWorker() {
    stop_ = false;
    std::atomic<bool> ready{false};
    int inst = inst_;
    worker_ = std::thread([this, inst, &ready] {
      csCallbackAdd(inst, "csTermChangedCB", reinterpret_cast<csCallbackFunc>(&OnTerm),
                    reinterpret_cast<uintptr_t>(this));
      csCallbackAdd(inst, "csCommChangedCB", reinterpret_cast<csCallbackFunc>(&OnComm),
                    reinterpret_cast<uintptr_t>(this));
      (void)csCallbackProcess(0);
      ready = true;
      while (!stop_) {
        if (csCallbackProcess(50) == CSAPI_ERR_NO_CONNECT) usleep(5000);
      }
    });
    WaitFor([&] { return ready.load(); }, 5000);
  }

  void StopWorker() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
  }

  // Terminal records seen with this handle.
  int TermCount(uint32_t handle) {
    std::lock_guard<std::mutex> g(seen_mu_);
    int n = 0;
    for (const SeenTerm &t : terms_)
      if (t.rec.handle == handle) n++;
    return n;
  }
  bool WaitTerm(uint32_t handle, int timeout_ms = 5000) {
    return WaitFor([&] { return TermCount(handle) > 0; }, timeout_ms);
  }
  SeenTerm LastTermWithFlags(unsigned flags) {
    std::lock_guard<std::mutex> g(seen_mu_);
    for (auto it = terms_.rbegin(); it != terms_.rend(); ++it)
      if (it->flags == flags) return *it;
    SeenTerm none;
    memset(&none, 0, sizeof none);
    none.flags = ~0u;
    return none;
  }
  bool WaitTermFlags(unsigned flags, int timeout_ms = 5000) {
    return WaitFor([&] { return LastTermWithFlags(flags).flags == flags; }, timeout_ms);
  }
  bool WaitCommFlags(unsigned flags, SeenComm *out, int timeout_ms = 5000) {
    return WaitFor(
        [&] {
          std::lock_guard<std::mutex> g(seen_mu_);
          for (const SeenComm &c : comms_)
            if (c.flags == flags) {
              *out = c;
              return true;
            }
          return false;
        },
        timeout_ms);
  }

  // The library still delivers a good notification and answers a call.
  void ExpectAlive(const char *context) {
    uint32_t h = next_marker_++;
    ASSERT_GE(codec_sim_push(sim_, TermNote(h, "marker")), 1) << context;
    EXPECT_TRUE(WaitTerm(h)) << context << ": the good notification after it was lost";
    CSTerm t;
    EXPECT_EQ(CallTermGet(&t), 0) << context << ": a call after it failed";
  }

  // csTermGet against the simulator (its model, or term_get_ when set).
  int CallTermGet(CSTerm *out) {
    CSConf conf;
    memset(&conf, 0, sizeof conf);
    conf.srvrInstance = inst_;
    conf.handle = 1;
    memset(out, 0, sizeof *out);
    return csTermGet(out, &conf, 0);
  }

  void SetTermGetAnswer(std::function<int(const codec_sim_request &, std::string *)> fn) {
    std::lock_guard<std::mutex> g(hook_mu_);
    term_get_ = std::move(fn);
  }

  bool WaitLog(const std::string &needle, int timeout_ms = 5000) {
    return WaitFor([&] { return log_.Count(needle) > 0; }, timeout_ms);
  }

  // Notifications the library reported as lost to overruns.
  long long LostLogged() {
    long long n = 0;
    for (const kyrtest::LogLine &l : log_.Find("overran this reader, ")) {
      size_t k = l.text.find("overran this reader, ");
      n += atoll(l.text.c_str() + k + strlen("overran this reader, "));
    }
    return n;
  }

  kyrtest::LogCapture &log_ = Log();
  codec_sim *sim_ = nullptr;
  int inst_ = -1;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  std::mutex seen_mu_;
  std::vector<SeenTerm> terms_;
  std::vector<SeenComm> comms_;
  std::mutex hook_mu_;
  std::function<int(const codec_sim_request &, std::string *)> term_get_;
  uint32_t next_marker_ = 900000;
};

}  // namespace hostile
