// Help pages, from the command table: the overview, one page per command in
// the manner of a manual page, and the list of operations with their params.
#include <string.h>

#include <string>

#include "kyrctl.h"

namespace kyrctl {
namespace {

struct HelpRow {
  const char *name;
  const char *synopsis;
  const char *summary;
  const char *description;
};

const HelpRow kHelp[] = {
#define X(name, synopsis, summary, description) {#name, synopsis, summary, description},
#include "commands.def"
#undef X
};

const char kOptions[] =
    "  --tls auto|on|off   auto (default): as the library decides from port, address\n"
    "                      and marker file; on and off force it\n"
    "  --serial S          identity for authentication (default: KYRCTL-<host name>)\n"
    "  --user U            administrator for pairing; the password comes from the\n"
    "                      environment variable KYRCTL_PASSWORD or a prompt without\n"
    "                      echo, never from the command line\n"
    "  --json              every result and event as one JSON object per line\n"
    "  --trace             every message sent and received on stderr, password\n"
    "                      values emptied\n"
    "  --timeout SECONDS   per call (default 30)\n";

const char kExit[] =
    "  0  success\n"
    "  1  the codec answered an error (its code and text are printed)\n"
    "  2  usage: unknown command, method or option, malformed JSON\n"
    "  3  could not connect, authenticate or pair, or the connection ended\n";

void indent(FILE *f, const char *text) {
  std::string t(text);
  size_t pos = 0;
  while (pos <= t.size()) {
    size_t nl = t.find('\n', pos);
    if (nl == std::string::npos) nl = t.size();
    fprintf(f, "    %s\n", t.substr(pos, nl - pos).c_str());
    pos = nl + 1;
  }
}

void print_method(FILE *f, const OpInfo &op) {
  std::string params;
  for (const auto &p : op_params(op)) params += (params.empty() ? "" : " ") + p.first + ":" + p.second;
  fprintf(f, "%-26s %-20s %s\n", op.name, op.result_kind >= 0 ? cs_record_name((cs_kind)op.result_kind) : "result",
          params.c_str());
}

}  // namespace

void print_help(FILE *f, const std::string &command) {
  if (command == "methods") {
    for (size_t i = 0; i < op_count(); ++i) print_method(f, op_at(i));
    return;
  }
  if (const OpInfo *op = op_find(command)) {
    fprintf(f, "%-26s %-20s %s\n", "METHOD", "ANSWER", "PARAMS (key:type)");
    print_method(f, *op);
    return;
  }
  for (const HelpRow &h : kHelp) {
    if (command != h.name) continue;
    fprintf(f, "NAME\n    kyrctl %s - %s\n\nSYNOPSIS\n    kyrctl [options] HOST[:PORT] %s\n\nDESCRIPTION\n", h.name,
            h.summary, h.synopsis);
    indent(f, h.description);
    fprintf(f, "\nOPTIONS\n%s\nEXIT STATUS\n%s", kOptions, kExit);
    return;
  }
  fprintf(f,
          "NAME\n    kyrctl - ask a codec questions from the command line\n\n"
          "SYNOPSIS\n    kyrctl [options] HOST[:PORT] COMMAND [ARGS...]\n    kyrctl help [COMMAND|methods]\n\n"
          "OPTIONS\n%s\nCOMMANDS\n",
          kOptions);
  for (const HelpRow &h : kHelp) fprintf(f, "  %-40s %s\n", h.synopsis, h.summary);
  fprintf(f, "\n  \"kyrctl COMMAND --help\" shows one command's page.\n\nEXIT STATUS\n%s", kExit);
  if (!command.empty() && command != "help") fprintf(f, "\nno command \"%s\"\n", command.c_str());
}

}  // namespace kyrctl
