// Network fault figures (./run.sh bench, section "faults"): time from each
// kind of fault to the service's loss report, plain and TLS; when a call in
// flight returns relative to that report; and what 500 connect/loss cycles
// leave behind. Writes its own section of results.md ("## Network faults"),
// replacing an earlier one and keeping the rest of the file.
//   fault_bench [results.md]     KYR_BENCH_QUICK=1: fewer runs and cycles
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "csapi/client/cs_ops.h"
#include "fault_rig.h"
#include "platform/kyr_log.h"

using namespace faultrig;

namespace {

struct Row {
  std::string what, value, target, met;
};
std::vector<Row> g_rows;

std::string fmt_ms(int64_t ms) { return ms < 0 ? "none" : std::to_string(ms) + " ms"; }

void quiet_sink(int, const char *, const char *, void *) {}

// One fault on a fresh connection with a call waiting: the time to the
// Failed state, and the call's return relative to it.
bool one_run(Rig &rig, Fault f, int64_t *to_failed, int64_t *call_rel) {
  if (!rig.connect()) return false;
  codec_sim_fault(rig.sim, CODEC_SIM_STALL_ANSWERS, 60);
  std::atomic<int64_t> done{0};
  std::thread caller([&] {
    CSSys sys;
    memset(&sys, 0, sizeof sys);
    (void)csSysGet(&sys, rig.instance);
    done = now_ms();
  });
  codec_sim_wait_request(rig.sim, "csSysGet", 2000);
  int64_t t0 = now_ms();
  int64_t ms = rig.fault_to_failed(f, 15000);
  caller.join();
  *to_failed = ms;
  *call_rel = ms < 0 ? 0 : done.load() - (t0 + ms);
  rig.disconnect();
  codec_sim_clear_faults(rig.sim);
  codec_sim_clear_requests(rig.sim);
  return ms >= 0;
}

void replace_section(const char *path, const std::string &section) {
  std::ifstream in(path);
  std::stringstream ss;
  if (in) ss << in.rdbuf();
  std::string all = ss.str();
  const std::string head = "## Network faults";
  size_t a = all.find(head);
  if (a != std::string::npos) {
    size_t b = all.find("\n## ", a + head.size());
    all.erase(a, b == std::string::npos ? std::string::npos : b + 1 - a);
  }
  if (!all.empty() && all.back() != '\n') all += "\n";
  if (!all.empty()) all += "\n";
  all += section;
  std::ofstream(path) << all;
}

}  // namespace

int main(int argc, char **argv) {
  const char *out = argc > 1 ? argv[1] : "bench/results.md";
  const bool quick = getenv("KYR_BENCH_QUICK") && atoi(getenv("KYR_BENCH_QUICK")) != 0;
  const int runs = quick ? 2 : 5;
  const int cycles = quick ? 50 : 500;
  kyr_log_set_sink(&quiet_sink, nullptr);
  printf("fault_bench: %d runs per fault, %d cycles\n", runs, cycles);

  int64_t worst_call = -1000000;
  for (bool tls : {false, true}) {
    Rig rig(tls);
    for (int f = 0; f < kAllFaults; f++) {
      Fault fault = static_cast<Fault>(f);
      csapi_set_liveness(fault == blackhole ? 2 : 0);
      std::vector<int64_t> v;
      int misses = 0;
      for (int i = 0; i < runs; i++) {
        int64_t ms = -1, rel = 0;
        if (!one_run(rig, fault, &ms, &rel)) {
          misses++;
          continue;
        }
        v.push_back(ms);
        worst_call = std::max(worst_call, rel);
      }
      std::sort(v.begin(), v.end());
      int64_t target = fault == blackhole ? 5000 : 1000;
      int64_t worst = v.empty() ? -1 : v.back();
      Row r{std::string("fault to KYR_Connect_Failed, ") + fault_name(fault) + (tls ? ", TLS" : ", plain TCP"),
            v.empty() ? "none" : fmt_ms(v[v.size() / 2]) + " median, " + fmt_ms(worst) + " worst",
            "< " + std::to_string(target) + " ms", misses == 0 && worst >= 0 && worst < target ? "met" : "NOT met"};
      printf("  %-62s %-28s %s\n", r.what.c_str(), r.value.c_str(), r.met.c_str());
      g_rows.push_back(r);
    }
  }
  csapi_set_liveness(0);
  g_rows.push_back({"in-flight call return after the loss report (worst of all runs; negative: before it)",
                    std::to_string(worst_call) + " ms", "< 100 ms", worst_call < 100 ? "met" : "NOT met"});
  printf("  in-flight call: %lld ms\n", (long long)worst_call);

  CycleResult c = run_cycles(cycles, 50);
  char buf[256];
  snprintf(buf, sizeof buf, "%+d / %+d / %+zd / %+d / %+ld KiB", c.last.fds - c.first.fds,
           c.last.threads - c.first.threads, (ssize_t)c.last.handles - (ssize_t)c.first.handles,
           c.last.instances - c.first.instances, c.last.rss_kib - c.first.rss_kib);
  bool ok = c.cycles == cycles && c.failed_reports == cycles && c.last.fds == c.first.fds &&
            c.last.threads == c.first.threads && c.last.handles == c.first.handles &&
            c.last.instances == c.first.instances && c.last.rss_kib - c.first.rss_kib < 1024;
  g_rows.push_back({"after " + std::to_string(c.cycles) + " connect/loss cycles: descriptors / threads / handles / "
                        "instances / resident",
                    buf, "0 / 0 / 0 / 0 / < +1024 KiB", ok ? "met" : "NOT met"});
  printf("  cycles: %s (%d of %d losses reported, %lld ms)\n", buf, c.failed_reports, c.cycles, (long long)c.ms);

  std::string s = "## Network faults\n\nWritten by `./run.sh bench` (bench/fault_bench, `KYR_BENCH_ONLY=faults`). ";
  s += "The codec simulator injects each fault into a connected session (plain TCP on 127.0.0.1, TLS 1.0 on "
       "127.0.0.2) while a csSysGet waits for an answer the simulator holds back; the time runs from the "
       "injection to the service's worker setting KYR_Connect_Failed. " +
       std::to_string(runs) + " runs per fault" + (quick ? " (quick mode)" : "") + ".\n\n";
  s += "| figure | measured | target | met |\n|---|---|---|---|\n";
  for (const Row &r : g_rows) s += "| " + r.what + " | " + r.value + " | " + r.target + " | " + r.met + " |\n";
  s += "\nCycles rotate orderly close, RST, a cut frame and a TLS close_notify, with a blackhole found by a 1 s "
       "liveness watch every 50th; resources are compared while connected, after the first connect and after "
       "the last (short-lived threads given up to 3 s to end). Took " +
       std::to_string(c.ms / 1000) + " s.\n";
  replace_section(out, s);
  printf("wrote the network fault section of %s\n", out);
  kyr_log_set_sink(nullptr, nullptr);
  return 0;
}
