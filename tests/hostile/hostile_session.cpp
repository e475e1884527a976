// One native session from start to end through the exported interface,
// against the in-process codec simulator: connect, authenticate, a few
// operations from several threads, every notification method pushed and
// dispatched, disconnect, library end. Exit status 0 when everything
// happened as it should.
//
// Meant for memory checkers, e.g.
//   valgrind --leak-check=full --error-exitcode=1 ./hostile_session
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi.h"

namespace {

std::atomic<int> g_seen{0};

void on_any(const void *, unsigned int, uintptr_t) { g_seen++; }

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int fail(const char *what, int rc) {
  fprintf(stderr, "hostile_session: %s (%d)\n", what, rc);
  return 1;
}

}  // namespace

int main() {
  codec_sim_config cfg;
  codec_sim *sim = codec_sim_start(cfg);
  if (!sim) return fail("simulator did not start", 0);
  int status = 0;
  if (csInit(nullptr) != 0) return fail("csInit", -1);
  char addr[64];
  snprintf(addr, sizeof addr, "127.0.0.1:%d", codec_sim_port(sim));
  int inst = csConnect(addr, "android", "2.0.0", "1.0.0", "99.0.0");
  if (inst < 0) return fail("csConnect", inst);
  int rc = csAuth(inst, "session-serial-0001");
  if (rc != 0) return fail("csAuth", rc);

  std::vector<std::string> methods = codec_sim_notification_methods();
  for (const std::string &m : methods) csCallbackAdd(inst, m.c_str(), &on_any, 0);

  // Operations from four threads while the notifications arrive.
  std::atomic<int> op_failures{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; t++)
    callers.emplace_back([&] {
      for (int i = 0; i < 25; i++) {
        CSComm comm;
        CSAudio audio;
        memset(&comm, 0, sizeof comm);  // a top-level getter sends the record's own handle
        memset(&audio, 0, sizeof audio);
        if (csCommGet(&comm, inst) != 0) op_failures++;
        if (csAudioGet(&audio, inst) != 0) op_failures++;
      }
    });
  for (const std::string &m : methods) codec_sim_notify(sim, m, 1);
  int64_t end = now_ms() + 10000;
  while (g_seen.load() < (int)methods.size() && now_ms() < end) (void)csCallbackProcess(100);
  for (std::thread &t : callers) t.join();

  if (op_failures.load() != 0) status = fail("operations failed", op_failures.load());
  if (g_seen.load() != (int)methods.size()) status = fail("notifications dispatched", g_seen.load());
  for (const std::string &m : methods) csCallbackDelete(inst, m.c_str(), &on_any, 0);
  csDisconnect(inst);
  csExit();
  codec_sim_stop(sim);
  if (status == 0) printf("hostile_session: %zu notifications, 200 operations, clean end\n", methods.size());
  return status;
}
