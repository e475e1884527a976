// kyr-sim-launcher: the codec simulator for the JVM tests and the demo, with
// a line protocol on standard input so a Java test can steer it.
//
// The library never wraps a connection to 127.0.0.1 in TLS, so to exercise
// TLS over loopback the simulator listens on another loopback address
// (127.0.0.2 by default).
//
// Usage:
//   kyr-sim-launcher [--bind ADDR] [--port N] [--tls on|off] [--tls-version 1.0|1.2|1.3]
//                    [--serial S] [--admin-user U]
//                    [--admin-pwd P] [--pairing-required] [--echo]
//                    [--min-client-ver TEXT] [--fault TEXT]... [--net PRESET]
//
// --port N listens on port N (default 0: any free port), so a test can stop
// the simulator and start a new one where the client expects its codec.
//
// --min-client-ver sets the "minClientSWVer" the codec reports; "\xNN" in
// TEXT stands for the byte NN, so tests can send text that is not UTF-8.
//
// First line on standard output: "listening host=ADDR port=N tls=on|off",
// with TLS followed by " fingerprint=HEX" (what a client pins).
// With --echo every request is printed as "recv[CONN] TEXT" (password values emptied).
// Commands, one per line; each answer ends with a line holding ".":
//   close                 close every connection    -> "closed N"
//   connections           open connections          -> "connections N"
//   requests METHOD       every logged request of METHOD -> "params TEXT" lines
//   count METHOD          how many requests of METHOD -> "count N"
//   wait-ready N MS       wait for N authenticated connections -> "ready 1|0"
//   notify METHOD FLAGS [HANDLE]  push a notification (the model's record of
//                         its kind, or the one with HANDLE) -> "notified N"
//   push JSON             push raw text (rest of line) to every connection -> "pushed N"
//   incoming ADDRESS      a call arrives from ADDRESS   -> "incoming N"
//   record KIND [HANDLE]  the model's record as JSON   -> "record TEXT" ("record" alone if none)
//   handles KIND          handles of every record of KIND -> "handles H1 H2 ..."
//   notifications         the 55 notification methods -> "methods M1 M2 ..."
//   merge KIND HANDLE JSON  merge members into a record (HANDLE 0: a new one) -> "merged HANDLE"
//   error METHOD CODE [TIMES]  answer METHOD with error CODE (TIMES < 0 or absent: always) -> "ok"
//   clear-errors          answer normally again      -> "ok"
//   clear-requests        forget the request log     -> "ok"
//   quit                  stop and exit
// and every network fault command of the simulator (codec_sim.h,
// codec_sim_fault_command), answered with its one-line reply:
//   [next] blackhole | rst | cut-mid-frame | stall-answers S | delay MS [JITTER_MS]
//        | drop-notifications PERCENT | random-rst MEAN_S
//   restart [PAUSE_MS] | net flaky-wifi|barely-working | clear
//   restarts              restarts completed so far  -> "restarts N"
// End of input also stops it, so a test that dies never leaves it behind.
#include <ctype.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "codec_sim.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage: kyr-sim-launcher [--bind ADDR] [--port N] [--tls on|off] [--tls-version 1.0|1.2|1.3]\n"
          "                        [--serial S] [--admin-user U] [--admin-pwd P]\n"
          "                        [--pairing-required] [--echo]\n");
}

std::string unescape(const std::string &in) {
  std::string out;
  for (size_t i = 0; i < in.size(); i++) {
    if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x' && isxdigit((unsigned char)in[i + 2]) &&
        isxdigit((unsigned char)in[i + 3])) {
      out.push_back((char)strtol(in.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out.push_back(in[i]);
    }
  }
  return out;
}

void answer(const std::string &text) {
  if (!text.empty()) printf("%s\n", text.c_str());
  printf(".\n");
  fflush(stdout);
}

// The rest of a command line after the words already read, leading blanks cut.
std::string rest(std::istringstream &in) {
  std::string r;
  std::getline(in, r);
  size_t i = r.find_first_not_of(" \t");
  return i == std::string::npos ? "" : r.substr(i);
}

}  // namespace

int main(int argc, char **argv) {
  codec_sim_config cfg;
  cfg.bind_addr = "127.0.0.2";
  cfg.tls = true;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        usage();
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--bind") cfg.bind_addr = value();
    else if (a == "--port") cfg.port = atoi(value().c_str());
    else if (a == "--tls") cfg.tls = value() == "on";
    else if (a == "--tls-version") cfg.tls_version = value();
    else if (a == "--serial") cfg.serial = value();
    else if (a == "--admin-user") cfg.admin_user = value();
    else if (a == "--admin-pwd") cfg.admin_pwd = value();
    else if (a == "--pairing-required") cfg.pairing_required = true;
    else if (a == "--echo") cfg.echo_requests = true;
    else if (a == "--min-client-ver") cfg.min_client_sw_ver = unescape(value());
    else if (a == "--fault") cfg.faults.push_back(value());
    else if (a == "--net") {
      auto cmds = codec_sim_net_preset(value());
      if (cmds.empty()) {
        usage();
        return 2;
      }
      cfg.faults.insert(cfg.faults.end(), cmds.begin(), cmds.end());
    }
    else {
      usage();
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  codec_sim *sim = codec_sim_start(cfg);
  if (!sim) {
    fprintf(stderr, "kyr-sim-launcher: cannot listen on %s\n", cfg.bind_addr.c_str());
    return 1;
  }
  printf("listening host=%s port=%d tls=%s%s%s\n", cfg.bind_addr.c_str(), codec_sim_port(sim), cfg.tls ? "on" : "off",
         cfg.tls ? " fingerprint=" : "", codec_sim_fingerprint(sim).c_str());
  fflush(stdout);

  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "quit") break;
    if (cmd == "close") {
      answer("closed " + std::to_string(codec_sim_close_connections(sim)));
    } else if (cmd == "connections") {
      answer("connections " + std::to_string(codec_sim_connection_count(sim)));
    } else if (cmd == "requests" || cmd == "count") {
      std::string method;
      in >> method;
      std::string out;
      int n = 0;
      for (const auto &r : codec_sim_requests(sim)) {
        if (r.method != method) continue;
        n++;
        if (cmd == "requests") out += (out.empty() ? "" : "\n") + std::string("params ") + r.params;
      }
      answer(cmd == "count" ? "count " + std::to_string(n) : out);
    } else if (cmd == "wait-ready") {
      int n = 1, ms = 1000;
      in >> n >> ms;
      answer(std::string("ready ") + (codec_sim_wait_ready(sim, n, ms) ? "1" : "0"));
    } else if (cmd == "notify") {
      std::string method;
      unsigned flags = 0, handle = 0;
      in >> method >> flags >> handle;
      answer("notified " + std::to_string(codec_sim_notify(sim, method, flags, 0, handle)));
    } else if (cmd == "push") {
      answer("pushed " + std::to_string(codec_sim_push(sim, rest(in))));
    } else if (cmd == "incoming") {
      answer("incoming " + std::to_string(codec_sim_incoming_call(sim, rest(in))));
    } else if (cmd == "record") {
      std::string kind;
      unsigned handle = 0;
      in >> kind >> handle;
      std::string text = codec_sim_record(sim, kind, handle);
      answer(text.empty() ? "record" : "record " + text);
    } else if (cmd == "handles") {
      std::string kind, out = "handles";
      in >> kind;
      for (uint32_t h : codec_sim_record_handles(sim, kind)) out += " " + std::to_string(h);
      answer(out);
    } else if (cmd == "notifications") {
      std::string out = "methods";
      for (const std::string &m : codec_sim_notification_methods()) out += " " + m;
      answer(out);
    } else if (cmd == "merge") {
      std::string kind;
      unsigned handle = 0;
      in >> kind >> handle;
      answer("merged " + std::to_string(codec_sim_record_merge(sim, kind, handle, rest(in))));
    } else if (cmd == "error") {
      std::string method;
      int code = 0, times = -1;
      in >> method >> code;
      if (!(in >> times)) times = -1;
      codec_sim_inject_error(sim, method, code, "", times);
      answer("ok");
    } else if (cmd == "clear-errors") {
      codec_sim_clear_errors(sim);
      answer("ok");
    } else if (cmd == "clear-requests") {
      codec_sim_clear_requests(sim);
      answer("ok");
    } else if (cmd == "restarts") {
      answer("restarts " + std::to_string(codec_sim_restarts(sim)));
    } else {
      std::string reply;
      if (codec_sim_fault_command(sim, line, &reply) < 0 && reply.rfind("unknown fault", 0) == 0) reply = "unknown command";
      answer(reply);
    }
  }
  codec_sim_stop(sim);
  return 0;
}
