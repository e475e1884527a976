// codec-sim: a stand-in codec on loopback for demos and manual testing.
//
// Usage:
//   codec-sim [--port N] [--tls on|off] [--tls-version 1.0|1.2|1.3]
//             [--cert FILE --key FILE] [--serial S] [--admin-user U]
//             [--admin-pwd P] [--pairing-required] [--notify-file F]
//             [--version-error CODE] [--delay MS] [--stall] [--no-challenge]
//             [--challenge TEXT] [--exit-after SECONDS] [--quiet]
//             [--fault TEXT]... [--net flaky-wifi|barely-working]
//
//   --port N             listen on 127.0.0.1 port N (default 0: any free port)
//   --tls on|off         TLS (default on)
//   --tls-version V      the one TLS version spoken: 1.0 (default), 1.2 or 1.3
//   --cert FILE --key FILE  PEM certificate and private key (default: a
//                        self-signed certificate over a key made at start,
//                        so every run has another fingerprint)
//   --serial S           the client id (device serial number) csAuth must
//                        prove; without it any id is accepted
//   --admin-user U       administrator name csPair checks (default "admin")
//   --admin-pwd P        administrator password csPair checks (default "")
//   --pairing-required   csAuth answers -23 until the client id has paired
//   --notify-file F      JSON objects (back to back, white space between them
//                        allowed) pushed to each connection once it is ready
//   --version-error CODE answer csVersion with this error (e.g. -29, -30)
//   --delay MS           delay every answer by MS milliseconds
//   --stall              accept and read, never answer
//   --no-challenge       leave "srvrChallenge" out of the csVersion answer
//   --challenge TEXT     use this challenge instead of a random one
//   --exit-after SECONDS stop by itself after that long (default: run until
//                        SIGINT/SIGTERM or the "quit" command)
//   --quiet              do not print the requests
//   --fault TEXT         a network fault from the start, in the words of the
//                        fault commands below (repeatable), e.g. --fault "delay 300 50"
//   --net PRESET         flaky-wifi: 200 ms latency, 50 % jitter, a reset about
//                        once a minute; barely-working: 1 s latency, 80 % jitter,
//                        a fifth of the notifications lost, a reset about every 20 s
//
// Output: the first line is "codec-sim listening port=N tls=on|off"; with
// TLS the second is "codec-sim tls-version=V fingerprint=HEX" (SHA-256 of the
// certificate's SubjectPublicKeyInfo, what a client pins); then
// every request received, one per line, as "recv[CONN] TEXT" (password values emptied).
//
// Commands on standard input, one per line (optional; end of input is fine):
//   notify METHOD [FLAGS]   push a notification with the model's record
//   push JSON               push the text as it stands
//   close                   close every connection
//   quit                    stop
// Network faults (without "next": every open connection, and the lasting
// ones every later connection too, until "clear"; with "next": only the next
// connection accepted, from its first byte):
//   [next] blackhole        keep the socket open, stop reading and writing
//   [next] rst              close with a reset
//   [next] cut-mid-frame    send half of the next message, then close
//   [next] stall-answers S  answer requests S seconds late
//   [next] delay MS [JITTER_MS]  every message MS (+- JITTER_MS) late, order kept
//   [next] drop-notifications PERCENT  lose that share of the notifications
//   [next] random-rst MEAN_S  reset after a random time, MEAN_S on average
//   restart [PAUSE_MS]      close the listener and every connection, listen
//                           again on the same port after PAUSE_MS (2000)
//   net PRESET              apply a preset
//   clear                   end every fault
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "codec_sim.h"
#include "sim_framer.h"

namespace {

std::atomic<bool> g_quit{false};

void usage() {
    fprintf(stderr,
            "usage: codec-sim [--port N] [--tls on|off] [--tls-version 1.0|1.2|1.3] [--cert FILE --key FILE]\n"
            "                 [--serial S] [--admin-user U] [--admin-pwd P]\n"
            "                 [--pairing-required] [--notify-file F] [--version-error CODE] [--delay MS]\n"
            "                 [--stall] [--no-challenge] [--challenge TEXT] [--exit-after SECONDS] [--quiet]\n"
            "                 [--fault TEXT]... [--net flaky-wifi|barely-working]\n");
}

bool read_notify_file(const std::string &path, std::vector<std::string> *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str();
    codec_sim_internal::sim_framer f;
    codec_sim_internal::framer_feed(f, all.data(), all.size());
    std::string obj;
    while (codec_sim_internal::framer_next(f, &obj)) out->push_back(obj);
    return true;
}

void stdin_commands(codec_sim *sim) {
    std::string line;
    while (!g_quit && std::getline(std::cin, line)) {
        std::istringstream is(line);
        std::string cmd;
        is >> cmd;
        if (cmd == "notify") {
            std::string method;
            unsigned long flags = 0;
            is >> method >> flags;
            int n = codec_sim_notify(sim, method, static_cast<uint32_t>(flags));
            printf("notify %s: %s\n", method.c_str(), n < 0 ? "unknown method" : (std::to_string(n) + " connection(s)").c_str());
        } else if (cmd == "push") {
            std::string rest;
            std::getline(is, rest);
            int n = codec_sim_push(sim, rest);
            printf("push: %d connection(s)\n", n);
        } else if (cmd == "close") {
            printf("close: %d connection(s)\n", codec_sim_close_connections(sim));
        } else if (cmd == "quit") {
            g_quit = true;
        } else if (!cmd.empty()) {
            std::string reply;
            if (codec_sim_fault_command(sim, line, &reply) < 0 && reply.rfind("unknown fault", 0) == 0)
                printf("unknown command: %s\n", cmd.c_str());
            else
                printf("%s\n", reply.c_str());
        }
        fflush(stdout);
    }
}

}  // namespace

int main(int argc, char **argv) {
    codec_sim_config cfg;
    cfg.tls = true;
    cfg.echo_requests = true;
    int exit_after = 0;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--port") cfg.port = atoi(value().c_str());
        else if (a == "--tls") {
            std::string v = value();
            if (v != "on" && v != "off") {
                usage();
                return 2;
            }
            cfg.tls = v == "on";
        } else if (a == "--tls-version") {
            cfg.tls_version = value();
            if (cfg.tls_version != "1.0" && cfg.tls_version != "1.2" && cfg.tls_version != "1.3") {
                usage();
                return 2;
            }
        } else if (a == "--cert") cfg.cert_file = value();
        else if (a == "--key") cfg.key_file = value();
        else if (a == "--serial") cfg.serial = value();
        else if (a == "--admin-user") cfg.admin_user = value();
        else if (a == "--admin-pwd") cfg.admin_pwd = value();
        else if (a == "--pairing-required") cfg.pairing_required = true;
        else if (a == "--notify-file") {
            std::string f = value();
            if (!read_notify_file(f, &cfg.notify_on_ready)) {
                fprintf(stderr, "codec-sim: cannot read %s\n", f.c_str());
                return 2;
            }
        } else if (a == "--version-error") cfg.version_error = atoi(value().c_str());
        else if (a == "--delay") cfg.answer_delay_ms = atoi(value().c_str());
        else if (a == "--stall") cfg.stall = true;
        else if (a == "--no-challenge") cfg.send_challenge = false;
        else if (a == "--challenge") cfg.challenge = value();
        else if (a == "--exit-after") exit_after = atoi(value().c_str());
        else if (a == "--quiet") cfg.echo_requests = false;
        else if (a == "--fault") cfg.faults.push_back(value());
        else if (a == "--net") {
            std::string name = value();
            auto cmds = codec_sim_net_preset(name);
            if (cmds.empty()) {
                fprintf(stderr, "codec-sim: unknown --net preset %s\n", name.c_str());
                return 2;
            }
            cfg.faults.insert(cfg.faults.end(), cmds.begin(), cmds.end());
        }
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (cfg.port < 0 || cfg.port > 65535 || cfg.cert_file.empty() != cfg.key_file.empty()) {
        usage();
        return 2;
    }

    // Signals are taken by this thread alone, with sigtimedwait below.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    codec_sim *sim = codec_sim_start(cfg);
    if (!sim) {
        fprintf(stderr, "codec-sim: cannot listen on 127.0.0.1 port %d (or a --fault is not understood)\n", cfg.port);
        return 1;
    }
    printf("codec-sim listening port=%d tls=%s\n", codec_sim_port(sim), cfg.tls ? "on" : "off");
    if (cfg.tls)
        printf("codec-sim tls-version=%s fingerprint=%s\n", cfg.tls_version.c_str(),
               codec_sim_fingerprint(sim).c_str());
    fflush(stdout);

    std::thread(stdin_commands, sim).detach();

    auto start = std::chrono::steady_clock::now();
    while (!g_quit) {
        timespec ts{0, 200 * 1000 * 1000};
        int sig = sigtimedwait(&set, nullptr, &ts);
        if (sig == SIGINT || sig == SIGTERM) break;
        if (exit_after > 0 && std::chrono::steady_clock::now() - start >= std::chrono::seconds(exit_after)) break;
    }
    g_quit = true;
    codec_sim_stop(sim);
    printf("codec-sim stopped\n");
    fflush(stdout);
    // The command reader may still sit in a blocking read of standard input.
    _exit(0);
}
