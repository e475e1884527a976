// kyrctl [options] HOST[:PORT] COMMAND [ARGS...]
//
// A command-line client of the codec for integrators and field engineers,
// built on the library's client core. "kyrctl help" prints the overview,
// "kyrctl COMMAND --help" one command's page.
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ipc/libccom/ccom_tool.h"
#include "kyrctl.h"

namespace kyrctl {
namespace {

std::string default_serial() {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) snprintf(host, sizeof host, "unknown");
  return std::string("KYRCTL-") + host;
}

// --help anywhere: the page of the command it follows, else the overview.
bool wants_help(int argc, char **argv, std::string *command) {
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") help = true;
    else if (command->empty() && is_command(a)) *command = a;
  }
  return help;
}

int parse(int argc, char **argv, Session &s, Args *command) {
  int i = 1;
  auto value = [&](const char *name, std::string *out) {
    if (i + 1 >= argc) return fail(s, kUsage, "%s needs a value", name) == 0;
    *out = argv[++i];
    return true;
  };
  std::string v;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a.compare(0, 2, "--") != 0) {
      if (s.opt.address.empty() && a != "help") {
        s.opt.address = a;
        continue;
      }
      break;
    }
    if (a == "--json") {
      s.opt.json = true;
    } else if (a == "--trace") {
      s.opt.trace = true;
    } else if (a == "--tls") {
      if (!value("--tls", &v)) return kUsage;
      if (v == "auto") s.opt.tls = CCOM_TLS_AUTO;
      else if (v == "on") s.opt.tls = CCOM_TLS_ON;
      else if (v == "off") s.opt.tls = CCOM_TLS_OFF;
      else return fail(s, kUsage, "--tls takes auto, on or off, not \"%s\"", v.c_str());
    } else if (a == "--serial") {
      if (!value("--serial", &s.opt.serial)) return kUsage;
      if (s.opt.serial.empty()) return fail(s, kUsage, "--serial needs a value");
    } else if (a == "--user") {
      if (!value("--user", &s.opt.user)) return kUsage;
    } else if (a == "--timeout") {
      unsigned long t = 0;
      if (!value("--timeout", &v)) return kUsage;
      if (!parse_uint(v, 3600, &t) || t == 0) return fail(s, kUsage, "--timeout takes 1 to 3600 seconds");
      s.opt.timeout = (int)t;
    } else if (a == "--password" || a.compare(0, 11, "--password=") == 0) {
      return fail(s, kUsage, "passwords are never taken from the command line: set KYRCTL_PASSWORD or answer the prompt");
    } else {
      std::vector<std::string> near =
          near_matches(a, {"--tls", "--serial", "--user", "--json", "--trace", "--timeout", "--help"});
      return fail(s, kUsage, "unknown option %s%s%s", a.c_str(), near.empty() ? "" : "; did you mean: ",
                  join(near).c_str());
    }
  }
  for (; i < argc; ++i) command->push_back(argv[i]);
  if (!command->empty() && (*command)[0] == "help") return kOk;
  if (s.opt.address.empty()) return fail(s, kUsage, "no HOST given (kyrctl help shows the usage)");
  if (command->empty()) return fail(s, kUsage, "no COMMAND given after %s (kyrctl help lists them)", s.opt.address.c_str());
  return kOk;
}

}  // namespace
}  // namespace kyrctl

int main(int argc, char **argv) {
  using namespace kyrctl;
  signal(SIGPIPE, SIG_IGN);
  std::string helpFor;
  if (wants_help(argc, argv, &helpFor)) {
    print_help(stdout, helpFor);
    return kOk;
  }
  Session s;
  Args command;
  if (int st = parse(argc, argv, s, &command)) return st;
  if (s.opt.serial.empty()) s.opt.serial = default_serial();
  trace_install(s.opt.trace);
  int status = run_command(s, command);
  session_close(s);
  trace_install(false);
  return status;
}
