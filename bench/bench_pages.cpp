// The pages figure (bench_pages.h).
//
// The codec simulator (its codec model, plain TCP on loopback) sits behind
// a DelayProxy that holds every byte 25 ms each way, so one round trip is
// 50 ms plus the simulator's own time. Each read is timed pipelined (as the
// library issues it) and one request at a time (the operations' call hook
// set to the plain synchronous call: the wire behaviour of the reads before
// they were pipelined), alternately. The same reads are then timed on a
// direct loopback connection, where the ratio shows what pipelining costs or
// saves when the network is not the limit.
#include "bench_pages.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <cjson/cJSON.h>

#include "bench_delay.h"
#include "bench_peer.h"
#include "codec_sim.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/cs_ops_hooks.h"
#include "csapi/client/csapi.h"
#include "service/interfaces/audio.h"
#include "service/interfaces/comm.h"
#include "service/interfaces/settings.h"
#include "service/kyr_service.h"

namespace kyrbench {

namespace {

constexpr int kDelayMs = 25;
constexpr double kRoundTripMs = 2.0 * kDelayMs;

struct PageRead {
  const char *name;
  int floor;                   // round trips the read's dependencies need
  const char *why;             // the dependency chain behind the floor
  std::function<bool()> run;   // true when the read succeeded
  std::function<void()> after = {}; // untimed clean-up after each sample, or empty
};

bool list_ok(int64_t head) {
  if (head <= 0) return false;
  SettingsListRelease(head);
  return true;
}

double ms_of(const std::function<bool()> &fn, bool *ok) {
  int64_t t0 = now_ns();
  *ok = fn() && *ok;
  return (double)(now_ns() - t0) / 1e6;
}

double med(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Times a read pipelined and one request at a time, alternately: medians
// in ms.
void time_both(const PageRead &r, int samples, double *piped, double *serial, bool *ok) {
  std::vector<double> p, s;
  for (int i = 0; i < samples; i++) {
    p.push_back(ms_of(r.run, ok));
    if (r.after) r.after();
    cs_ops_set_hooks(nullptr, &csapi_client_call);
    s.push_back(ms_of(r.run, ok));
    cs_ops_set_hooks(nullptr, nullptr);
    if (r.after) r.after();
  }
  *piped = med(p);
  *serial = med(s);
}

int connect_ready(int port) {
  char addr[64];
  snprintf(addr, sizeof addr, "127.0.0.1:%d", port);
  int inst = csConnect(addr, "davix", "2.0.0", "1.0.0", "99.0.0");
  if (inst < 0) return inst;
  int rc = csAuth(inst, "SERIAL1");
  if (rc != 0) {
    csDisconnect(inst);
    return rc;
  }
  return inst;
}

// Dials through the library and waits until the model reports the call
// Active; the call's id, or -1.
int dial_active(codec_sim *sim, int inst) {
  CSComm comm{};
  CSConf conf{};
  if (csCommGet(&comm, inst) != 0 || csConfGet(&conf, &comm, 0) != 0) return -1;
  if (csConfTermDial(&conf, 1024, "10.0.0.61") < 0) return -1;
  for (int i = 0; i < 400; i++) {
    auto terms = codec_sim_record_handles(sim, "Term");
    if (!terms.empty()) {
      std::string rec = codec_sim_record(sim, "Term", terms.back());
      if (rec.find("\"state\":0") != std::string::npos) {
        cJSON *o = cJSON_Parse(rec.c_str());
        const cJSON *id = cJSON_GetObjectItemCaseSensitive(o, "id");
        int v = cJSON_IsNumber(id) ? id->valueint : -1;
        cJSON_Delete(o);
        return v;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

}  // namespace

std::string pages_section(bool quick) {
  std::string md = "## Pages through a 25 ms delay each way\n\n";
  codec_sim_config cfg;
  cfg.dial_step_ms = 5;
  codec_sim *sim = codec_sim_start(cfg);
  if (!sim) return md + "The codec simulator did not start; no figures.\n";
  DelayProxy proxy("127.0.0.1", codec_sim_port(sim), kDelayMs);
  if (!proxy.start()) {
    codec_sim_stop(sim);
    return md + "The delaying proxy did not start; no figures.\n";
  }
  int far = connect_ready(proxy.port());
  int near = connect_ready(codec_sim_port(sim));
  int call_id = near >= 0 ? dial_active(sim, near) : -1;
  if (far < 0 || near < 0 || call_id < 0) {
    if (far >= 0) csDisconnect(far);
    if (near >= 0) csDisconnect(near);
    codec_sim_stop(sim);
    return md + "Connecting to the simulator failed; no figures.\n";
  }

  // Connect-to-ready opens a connection of its own each time, through the
  // proxy or straight to the simulator; it is closed untimed.
  int connect_port = proxy.port(), fresh = -1;
  const PageRead reads[] = {
      {"content settings", 1, "csCamSubsysGet", [] { return list_ok(GetContentSystemSettings()); }},
      {"security settings", 2, "csSecGet; password and its rules", [] { return list_ok(GetSecuritySystemSettings()); }},
      {"calendar settings", 2, "csCalGet; its server", [] { return list_ok(GetCalendarSystemSettings()); }},
      {"directory settings", 2, "csDirGet; three servers", [] { return list_ok(GetDirectorySystemSettings()); }},
      {"audio settings", 2, "csAudioGet; its inputs", [] { return list_ok(GetAudioSystemSettings()); }},
      {"system settings", 2, "csSysGet (with home screen); six records under it",
       [] { return list_ok(GetSysSystemSettings()); }},
      {"communication settings", 3, "csCommGet; five interfaces; the lines of one",
       [] { return list_ok(GetCommSystemSettings()); }},
      {"call statistics (8 media slots)", 4, "comm; conference; terminal; eight slots",
       [call_id] {
         int64_t h = comm_get_call_stats(0, call_id);
         if (h <= 0) return false;
         comm_release_list(h);
         return true;
       }},
      {"getVolume", 1, "csAudioGet", [] { return kyr_audio_get_volume() > 0; }},
      {"connect-to-ready", 6, "csVersion; csAuth; csLogEnable (sent by csAuth once accepted); comm, audio, directory; server counts; servers",
       [&connect_port, &fresh] {
         fresh = connect_ready(connect_port);
         return fresh >= 0 && kyr_post_connect_fetch(fresh) == 0;
       },
       [&fresh] {
         if (fresh >= 0) csDisconnect(fresh);
         fresh = -1;
       }},
  };

  const int delay_samples = quick ? 1 : 7;
  const int loop_samples = quick ? 10 : 200;
  md += "| read | floor (round trips) | pipelined | round trips | one at a time | target | met | loopback pipelined "
        "/ one at a time | ratio | met |\n|---|---|---|---|---|---|---|---|---|---|\n";
  std::vector<std::string> floors;
  int missed = 0, slower = 0;
  for (const PageRead &r : reads) {
    bool ok = true;
    double dp, ds, lp, ls;
    kyr_service_debug_set_server_instance(far);
    connect_port = proxy.port();
    time_both(r, delay_samples, &dp, &ds, &ok);
    kyr_service_debug_set_server_instance(near);
    connect_port = codec_sim_port(sim);
    time_both(r, r.after ? std::min(loop_samples, 20) : loop_samples, &lp, &ls, &ok);
    double target = 1.2 * r.floor * kRoundTripMs + 10;
    bool met = ok && dp <= target;
    /* Judged at the two decimals shown: equal is not slower. */
    double ratio = ls > 0 ? std::round(lp / ls * 100) / 100 : 0;
    missed += !met;
    slower += ratio > 1.0;
    char row[512];
    snprintf(row, sizeof row, "| %s | %d | %.0f ms | %.2f | %.0f ms (%.2f) | <= %.0f ms | %s | %.0f / %.0f us | %.2fx | %s |\n",
             r.name, r.floor, dp, dp / kRoundTripMs, ds, ds / kRoundTripMs, target,
             ok ? (met ? "met" : "NOT met") : "FAILED", lp * 1000, ls * 1000, ratio, ratio <= 1.0 ? "met" : "NOT met");
    md += row;
    printf("  %-34s floor %d  %7.1f ms (%.2f RT)  one at a time %7.1f ms  loopback %.2fx%s\n", r.name, r.floor, dp,
           dp / kRoundTripMs, ds, ratio, ok ? "" : "  (a read FAILED)");
    fflush(stdout);
    floors.push_back(std::string(r.name) + ": " + r.why);
  }
  kyr_service_debug_set_server_instance(-1);
  csDisconnect(far);
  csDisconnect(near);
  codec_sim_stop(sim);

  md += "\n- Targets: through the delay, every read within 1.2 x its floor x 50 ms + 10 ms (" +
        std::to_string((int)(sizeof reads / sizeof reads[0]) - missed) + " of " +
        std::to_string((int)(sizeof reads / sizeof reads[0])) + " met); on loopback, nothing slower than one request "
        "at a time, judged at two decimals (" + std::to_string(slower) + " slower).\n";
  md += "- Round trips = time / 50 ms. The proxy (bench/bench_delay.cpp) holds every byte 25 ms in each direction "
        "and keeps requests sent together together, as a real link does; the simulator answers from its codec model.\n";
  md += "- One at a time: the same reads with every request answered before the next is sent (the operations' "
        "call hook set to the synchronous call), which is how they went out before they were pipelined; medians of " +
        std::to_string(delay_samples) + " (delayed) and " + std::to_string(loop_samples) +
        " (loopback; 20 for connect-to-ready, which opens and closes a connection each time) alternating samples.\n";
  md += "- Floors, step by step: ";
  for (size_t i = 0; i < floors.size(); i++) md += (i ? "; " : "") + floors[i];
  md += ". The communication page's third step reads the lines of the ISDN or V.35 interface it shows; "
        "connect-to-ready is csConnect and csAuth through the proxy and the post-connect fetch until the caches "
        "and the known directory servers are filled.\n";
  return md;
}

}  // namespace kyrbench
