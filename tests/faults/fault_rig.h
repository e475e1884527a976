// A connected session for the fault suite and its figures: the codec
// simulator (plain TCP on 127.0.0.1 or TLS on 127.0.0.2), one client core
// instance authenticated on it, and the service's own worker watching it as
// it watches a connection made from Java. A fault is then injected and the
// time until the worker reports the loss (state Failed) is measured.
#pragma once

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "codec_sim.h"
#include "csapi/client/csapi.h"
#include "csapi/client/csapi_liveness.h"
#include "service/kyr_handles.h"
#include "service/kyr_service.h"

namespace faultrig {

inline int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Polls cond every millisecond; the time it first held, or -1 after limit_ms.
inline int64_t wait_until(const std::function<bool()> &cond, int limit_ms) {
  int64_t end = now_ms() + limit_ms;
  for (;;) {
    if (cond()) return now_ms();
    if (now_ms() >= end) return -1;
    usleep(1000);
  }
}

// The ways a connection ends, as the codec or the network makes them.
#define FAULT_KINDS(X)                                             \
  X(orderly_close, "orderly close")                                \
  X(rst, "RST")                                                    \
  X(cut_mid_frame, "close in the middle of a frame")               \
  X(blackhole, "blackhole (liveness 2 s)")

enum Fault {
#define X(id, text) id,
  FAULT_KINDS(X)
#undef X
};

inline const char *fault_name(Fault f) {
  static const char *const names[] = {
#define X(id, text) text,
      FAULT_KINDS(X)
#undef X
  };
  return names[f];
}

inline const char *fault_id(Fault f) {
  static const char *const ids[] = {
#define X(id, text) #id,
      FAULT_KINDS(X)
#undef X
  };
  return ids[f];
}

const int kAllFaults = blackhole + 1;

// Process resources that must come back after a connection is gone.
struct Resources {
  int fds = 0;
  int threads = 0;
  size_t handles = 0;
  int instances = 0;
  long rss_kib = 0;
};

inline int count_dir(const char *path) {
  DIR *d = opendir(path);
  if (!d) return -1;
  int n = 0;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n - (strcmp(path, "/proc/self/fd") == 0 ? 1 : 0);  // the directory's own descriptor
}

inline Resources resources() {
  Resources r;
  r.fds = count_dir("/proc/self/fd");
  r.threads = count_dir("/proc/self/task");
  r.handles = kyr_handle_count();
  r.instances = csSrvrCount();
  long pages = 0, rss = 0;
  if (FILE *f = fopen("/proc/self/statm", "r")) {
    if (fscanf(f, "%ld %ld", &pages, &rss) != 2) rss = 0;
    fclose(f);
  }
  r.rss_kib = rss * (sysconf(_SC_PAGESIZE) / 1024);
  return r;
}

// The service's threads, once per process, without Java: its state events
// are only logged, the state itself is read back.
inline void service_up() {
  static bool up = false;
  if (up) return;
  csInit(nullptr);
  native_init(nullptr);
  up = true;
}

struct Rig {
  codec_sim *sim = nullptr;
  bool tls = false;
  int instance = -1;

  explicit Rig(bool use_tls) : tls(use_tls) {
    service_up();
    codec_sim_config cfg;
    cfg.tls = use_tls;
    cfg.bind_addr = use_tls ? "127.0.0.2" : "127.0.0.1";
    sim = codec_sim_start(cfg);
  }
  ~Rig() {
    disconnect();
    codec_sim_stop(sim);
  }
  Rig(const Rig &) = delete;
  Rig &operator=(const Rig &) = delete;

  // Connects and authenticates as NativeConnect does and tells the service
  // it is connected; true when the service's worker now watches it.
  bool connect() {
    if (!sim) return false;
    char addr[64];
    snprintf(addr, sizeof addr, "%s:%d", tls ? "127.0.0.2" : "127.0.0.1", codec_sim_port(sim));
    instance = csConnect(addr, "android", "2.0.0", "1.0.0", "99.0.0");
    if (instance < 0) return false;
    if (csAuth(instance, "fault-serial-0001") != 0) return false;
    kyr_service_debug_set_server_instance(instance);
    setConnectState(KYR_Connect_Connected);
    return kyr_connect_state() == KYR_Connect_Connected;
  }

  // Ends what is left as NativeDisconnect does.
  void disconnect() {
    if (instance < 0) return;
    setConnectState(KYR_Connect_Disconnected);
    kyr_service_debug_set_server_instance(-1);
    csDisconnect(instance);
    instance = -1;
  }

  void inject(Fault f) {
    switch (f) {
      case orderly_close: codec_sim_close_connections(sim); break;
      case rst: codec_sim_fault(sim, CODEC_SIM_RST); break;
      case cut_mid_frame:
        codec_sim_fault(sim, CODEC_SIM_CUT_MID_FRAME);
        codec_sim_notify(sim, "csAudioChangedCB", 1);  // the message that is cut
        break;
      case blackhole: codec_sim_fault(sim, CODEC_SIM_BLACKHOLE); break;
    }
  }

  // Injects the fault and measures until the worker reports the loss;
  // -1 when it did not within limit_ms.
  int64_t fault_to_failed(Fault f, int limit_ms) {
    int64_t t0 = now_ms();
    inject(f);
    int64_t t = wait_until([] { return kyr_connect_state() == KYR_Connect_Failed; }, limit_ms);
    return t < 0 ? -1 : t - t0;
  }
};

// Connect/loss cycles on two simulators (plain and TLS, both started before
// the first connect). The loss rotates through orderly close, RST, a cut
// frame, a TLS close_notify alert and, every blackhole_every cycles, a
// blackhole found by the liveness watch (1 s). Resources are compared while
// connected: after the first connect and after the last one.
struct CycleResult {
  int cycles = 0;
  int failed_reports = 0;   // cycles whose loss the worker reported
  Resources first, last;
  int64_t ms = 0;
};

inline bool settle(const Resources &want, Resources *got, int limit_ms) {
  // Short-lived threads (the post-connect fetch) end by themselves.
  return wait_until(
             [&] {
               *got = resources();
               return got->fds == want.fds && got->threads == want.threads && got->handles == want.handles &&
                      got->instances == want.instances;
             },
             limit_ms) >= 0;
}

inline CycleResult run_cycles(int n, int blackhole_every) {
  CycleResult r;
  Rig plain(false), tls(true);
  if (!plain.sim || !tls.sim) return r;
  int64_t t0 = now_ms();
  for (int i = 0; i <= n; i++) {
    const int kind = i % 4;
    const bool hole = blackhole_every > 0 && i > 0 && i % blackhole_every == 0;
    Rig &rig = kind == 3 ? tls : plain;
    csapi_set_liveness(hole ? 1 : 0);
    if (!rig.connect()) break;
    if (i == 0 || i == n) {
      usleep(50 * 1000);
      if (i == 0)
        r.first = resources();
      else
        settle(r.first, &r.last, 3000);
    }
    if (i == n) {
      rig.disconnect();
      break;
    }
    Fault f = hole ? blackhole : kind == 1 ? rst : kind == 2 ? cut_mid_frame : orderly_close;
    if (rig.fault_to_failed(f, hole ? 8000 : 3000) >= 0) r.failed_reports++;
    rig.disconnect();
    codec_sim_clear_faults(rig.sim);
    codec_sim_clear_requests(rig.sim);  // the simulator's log is not the library's memory
    r.cycles++;
  }
  csapi_set_liveness(0);
  r.ms = now_ms() - t0;
  return r;
}

}  // namespace faultrig
