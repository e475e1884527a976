// The commands: one handler per row of commands.def. Commands other than
// `op` use the library's typed operations; `op` sends any method of the
// operation table through the generic call.
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <string>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi.h"
#include "kyrctl.h"

namespace kyrctl {

// An operation's failure: the codec's code and text (status 1), or the
// connection's (status 3).
int fail_code(const Session &s, const char *method, int rc) {
  Answer a;
  a.rc = rc;
  if (rc != CSAPI_ERR_NO_CONNECT && rc != CSAPI_ERR_TIMEOUT) {
    a.codec_error = true;
    a.code = rc;
  }
  return fail_answer(s, method, a);
}

int usage(const Session &s, const char *command, const char *what) {
  return fail(s, kUsage, "%s: %s (see: kyrctl help %s)", command, what, command);
}

bool parse_uint(const std::string &t, unsigned long max, unsigned long *out) {
  if (t.empty() || t[0] == '-' || t[0] == '+') return false;
  errno = 0;
  char *end = nullptr;
  unsigned long v = strtoul(t.c_str(), &end, 10);
  if (errno || *end || v > max) return false;
  *out = v;
  return true;
}

// Splits ARGS into positional words and "--name value" options of the
// command; false (status printed) on an option it does not take.
bool split_args(const Session &s, const char *command, const Args &args, const std::vector<std::string> &takes,
                Args *words, std::vector<std::pair<std::string, std::string>> *opts, int *status) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      bool known = false;
      for (const std::string &t : takes) known = known || t == a;
      if (!known || i + 1 >= args.size()) {
        *status = usage(s, command, known ? (a + " needs a value").c_str() : ("unknown option " + a).c_str());
        return false;
      }
      opts->emplace_back(a, args[++i]);
    } else {
      words->push_back(a);
    }
  }
  return true;
}

int print_result(const Session &s, const char *method, int rc) {
  if (rc < 0) return fail_code(s, method, rc);
  if (s.opt.json) {
    cJSON *o = json_line("result");
    cJSON_AddStringToObject(o, "method", method);
    cJSON_AddNumberToObject(o, "result", rc);
    emit(o);
  } else {
    printf("%s: ok (%d)\n", method, rc);
  }
  return kOk;
}

void print_pairs(const std::vector<std::pair<std::string, std::string>> &rows) {
  size_t w = 0;
  for (const auto &r : rows) w = std::max(w, r.first.size());
  for (const auto &r : rows) printf("%-*s  %s\n", (int)w, r.first.c_str(), shown(r.second.c_str()).c_str());
  fflush(stdout);
}

// ---- status --------------------------------------------------------------

int cmd_status(Session &s, const Args &args) {
  if (args.size() > 1) return usage(s, "status", "takes no arguments");
  if (int st = session_need(s)) return st;
  CSSrvrInfo info;
  memset(&info, 0, sizeof info);
  csSrvrGet(&info, (unsigned)s.instance);
  CSSys sys;
  memset(&sys, 0, sizeof sys);
  int rc = csSysGet(&sys, s.instance);
  if (rc < 0) return fail_code(s, "csSysGet", rc);
  const char *tls = session_tls_version(s);
  const char *pairing = s.paired ? "paired" : "not needed";
  char fp[CS_FINGERPRINT_SIZE] = "";
  if (!tls || csGetServerFingerprint(s.instance, fp, (int)sizeof fp) != 0) fp[0] = '\0';
  // One row per item: JSON key, label for people, value.
  const struct {
    const char *key, *label;
    std::string value;
  } rows[] = {
      {"address", "codec", s.opt.address},
      {"pairing", "pairing", pairing},
      {"tls", "tls", tls ? tls : "off"},
      {"fingerprint", "fingerprint", fp[0] ? fp : "-"},
      {"model", "model", sys.model},
      {"serial", "serial", sys.serialNumber},
      {"softwareVersion", "software", sys.softwareVersion},
      {"systemName", "system name", sys.systemName},
      {"protocol", "protocol", info.protoVers},
      {"deviceType", "device type", info.srvrDeviceType},
      {"serverVersion", "server version", info.srvrSWVer},
  };
  if (s.opt.json) {
    cJSON *o = json_line("status");
    cJSON_AddNumberToObject(o, "instance", s.instance);
    for (const auto &r : rows) cJSON_AddStringToObject(o, r.key, r.value.c_str());
    if (!fp[0]) cJSON_ReplaceItemInObjectCaseSensitive(o, "fingerprint", cJSON_CreateNull());
    emit(o);
    return kOk;
  }
  std::vector<std::pair<std::string, std::string>> lines;
  for (const auto &r : rows) lines.emplace_back(r.label, r.value);
  lines.insert(lines.begin() + 1, {"connection", "connected (instance " + std::to_string(s.instance) + ")"});
  print_pairs(lines);
  return kOk;
}

// ---- op ------------------------------------------------------------------

namespace {

std::vector<std::string> all_methods() {
  std::vector<std::string> v;
  for (size_t i = 0; i < op_count(); ++i) v.push_back(op_at(i).name);
  return v;
}

}  // namespace

// "key:type key:type " -> (key, type) pairs.
std::vector<std::pair<std::string, std::string>> op_params(const OpInfo &op) {
  std::vector<std::pair<std::string, std::string>> out;
  const char *p = op.params;
  while (*p) {
    const char *sp = strchr(p, ' ');
    std::string item(p, sp ? (size_t)(sp - p) : strlen(p));
    size_t colon = item.find(':');
    out.emplace_back(item.substr(0, colon), item.substr(colon + 1));
    if (!sp) break;
    p = sp + 1;
  }
  return out;
}

std::string join(const std::vector<std::string> &v) {
  std::string out;
  for (const std::string &x : v) out += (out.empty() ? "" : ", ") + x;
  return out;
}

int cmd_op(Session &s, const Args &args) {
  if (args.size() < 2 || args.size() > 3) return usage(s, "op", "needs METHOD and at most one JSON object");
  const std::string &method = args[1];
  const OpInfo *op = op_find(method);
  if (!op) {
    std::vector<std::string> near = near_matches(method, all_methods());
    return fail(s, kUsage, "op: unknown method \"%s\"%s%s", method.c_str(), near.empty() ? "" : "; did you mean: ",
                join(near).c_str());
  }
  const std::string text = args.size() == 3 ? args[2] : "{}";
  const char *end = nullptr;
  cJSON *params = cJSON_ParseWithOpts(text.c_str(), &end, 1);
  if (!params) {
    size_t at = end ? (size_t)(end - text.c_str()) : 0;
    if (at > text.size()) at = text.size();
    return fail(s, kUsage, "op: malformed JSON at character %zu: %s<-- here", at + 1, text.substr(0, at + 1).c_str());
  }
  if (!cJSON_IsObject(params)) {
    cJSON_Delete(params);
    return fail(s, kUsage, "op: the params must be a JSON object, like {\"key\":1}");
  }
  auto declared = op_params(*op);
  std::vector<std::string> keys;
  for (const auto &d : declared) keys.push_back(d.first);
  for (cJSON *m = params->child; m; m = m->next) {
    bool known = false;
    for (const std::string &k : keys) known = known || k == m->string;
    if (known) continue;
    std::vector<std::string> near = near_matches(m->string, keys);
    int st = fail(s, kUsage, "op: %s takes no param \"%s\"%s%s (it takes: %s)", op->name, m->string,
                  near.empty() ? "" : "; did you mean: ", join(near).c_str(), keys.empty() ? "none" : join(keys).c_str());
    cJSON_Delete(params);
    return st;
  }
  if (int st = session_need(s)) {
    cJSON_Delete(params);
    return st;
  }
  for (const auto &d : declared) {
    if (cJSON_GetObjectItemCaseSensitive(params, d.first.c_str())) continue;
    if (d.first == "srvrInstance") cJSON_AddNumberToObject(params, "srvrInstance", s.instance);
    if (d.second == "null") cJSON_AddNullToObject(params, d.first.c_str());
  }
  Answer a;
  session_call(s, op->name, params, &a);
  if (a.codec_error || (!a.result && a.rc < 0)) return fail_answer(s, op->name, a);
  if (op->result_kind >= 0 && cJSON_IsObject(a.result)) {
    const cs_kind kind = (cs_kind)op->result_kind;
    std::unique_ptr<unsigned char[]> rec(new unsigned char[cs_record_size(kind)]());
    cs_record_decode(kind, rec.get(), a.result);
    record_stamp_instance(kind, rec.get(), s.instance);  // as the typed getters do
    if (s.opt.json) {
      cJSON *o = json_line("result");
      cJSON_AddStringToObject(o, "method", op->name);
      cJSON_AddStringToObject(o, "kind", cs_record_name(kind));
      cJSON_AddItemToObject(o, "record", record_json(kind, rec.get()));
      emit(o);
    } else {
      printf("%s\n", cs_record_name(kind));
      record_print(stdout, kind, rec.get(), 2);
      fflush(stdout);
    }
    return kOk;
  }
  if (s.opt.json) {
    cJSON *o = json_line("result");
    cJSON_AddStringToObject(o, "method", op->name);
    cJSON_AddItemToObject(o, "result", a.result ? cJSON_Duplicate(a.result, 1) : cJSON_CreateNull());
    emit(o);
  } else {
    char *r = a.result ? cJSON_PrintUnformatted(a.result) : nullptr;
    printf("result  %s\n", r ? r : "(none)");
    fflush(stdout);
    free(r);
  }
  return kOk;
}

// ---- watch ---------------------------------------------------------------

namespace {

volatile sig_atomic_t g_stop = 0;
void on_sigint(int) { g_stop = 1; }

struct WatchState {
  Session *s;
  long limit;  // 0: no limit
  long seen;
};
WatchState *g_watch = nullptr;

// Local time: "HH:MM:SS" for people, ISO 8601 with the offset for JSON.
std::string clock_now(bool iso) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  char buf[64];
  strftime(buf, sizeof buf, iso ? "%Y-%m-%dT%H:%M:%S%z" : "%H:%M:%S", &tm);
  return buf;
}

void on_notification(const void *record, unsigned int flags, uintptr_t index) {
  WatchState *w = g_watch;
  if (!w || (w->limit && w->seen >= w->limit) || index >= notify_count()) return;
  w->seen++;
  const NotifyInfo &n = notify_at(index);
  cJSON *changed = changed_fields(n.kind, flags);
  if (w->s->opt.json) {
    cJSON *o = json_line("notification");
    cJSON_AddStringToObject(o, "time", clock_now(true).c_str());
    cJSON_AddStringToObject(o, "method", n.method);
    cJSON_AddStringToObject(o, "kind", cs_record_name(n.kind));
    cJSON_AddNumberToObject(o, "flags", flags);
    cJSON_AddItemToObject(o, "changed", changed);
    cJSON_AddItemToObject(o, "record", record_json(n.kind, record));
    emit(o);
    return;
  }
  std::string names;
  for (cJSON *c = changed->child; c; c = c->next) names += (names.empty() ? "" : ", ") + std::string(c->valuestring);
  cJSON_Delete(changed);
  printf("%s  %s  %s  changed: %s\n", clock_now(false).c_str(), n.method, cs_record_name(n.kind),
         names.empty() ? "-" : names.c_str());
  record_print(stdout, n.kind, record, 2);
  fflush(stdout);
}

}  // namespace

int cmd_watch(Session &s, const Args &args) {
  Args words;
  std::vector<std::pair<std::string, std::string>> opts;
  int st = kOk;
  if (!split_args(s, "watch", args, {"--count", "--seconds"}, &words, &opts, &st)) return st;
  if (!words.empty()) return usage(s, "watch", "takes no words, only --count and --seconds");
  unsigned long count = 0, seconds = 0;
  for (const auto &o : opts) {
    unsigned long *dst = o.first == "--count" ? &count : &seconds;
    if (!parse_uint(o.second, 1000000000ul, dst)) return usage(s, "watch", (o.first + " needs a number").c_str());
  }
  if (int st = session_need(s)) return st;
  WatchState w{&s, (long)count, 0};
  g_watch = &w;
  for (size_t i = 0; i < notify_count(); ++i) csCallbackAdd(s.instance, notify_at(i).method, on_notification, i);
  struct sigaction sa, old;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_sigint;
  sigaction(SIGINT, &sa, &old);
  g_stop = 0;
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  int status = kOk;
  // A reader that went away (watch | head -1) ends the watch too.
  while (!g_stop && !(count && w.seen >= (long)count) && !ferror(stdout)) {
    int slice = 200;
    if (seconds) {
      clock_gettime(CLOCK_MONOTONIC, &now);
      long left = (long)seconds * 1000 - ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
      if (left <= 0) break;
      if (left < slice) slice = (int)left;
    }
    int rc = csCallbackProcess(slice);
    if (rc == CSAPI_ERR_NO_CONNECT) {
      status = fail(s, kNoConnect, "watch: the connection to %s ended", s.opt.address.c_str());
      break;
    }
  }
  sigaction(SIGINT, &old, nullptr);
  for (size_t i = 0; i < notify_count(); ++i) csCallbackDelete(s.instance, notify_at(i).method, on_notification, i);
  g_watch = nullptr;
  return status;
}

int cmd_shell(Session &s, const Args &args) {
  if (args.size() > 1) return usage(s, "shell", "takes no arguments");
  if (int st = session_need(s)) return st;
  return run_shell(s);
}

int cmd_help(Session &s, const Args &args) {
  if (args.size() > 2) return usage(s, "help", "takes at most one COMMAND");
  if (args.size() == 2 && args[1] != "methods" && !is_command(args[1]) && !op_find(args[1])) {
    std::vector<std::string> names = command_names();
    for (const std::string &m : all_methods()) names.push_back(m);
    std::vector<std::string> near = near_matches(args[1], names);
    return fail(s, kUsage, "help: no command \"%s\"%s%s", args[1].c_str(), near.empty() ? "" : "; did you mean: ",
                join(near).c_str());
  }
  print_help(stdout, args.size() > 1 ? args[1] : "");
  return kOk;
}

namespace {

struct Command {
  const char *name;
  int (*run)(Session &, const Args &);
};

const Command kCommands[] = {
#define X(name, synopsis, summary, description) {#name, cmd_##name},
#include "commands.def"
#undef X
};

}  // namespace

bool is_command(const std::string &name) {
  for (const Command &c : kCommands)
    if (name == c.name) return true;
  return false;
}

std::vector<std::string> command_names() {
  std::vector<std::string> v;
  for (const Command &c : kCommands) v.push_back(c.name);
  return v;
}

int run_command(Session &s, const Args &args) {
  if (args.empty()) return kOk;
  for (const Command &c : kCommands)
    if (args[0] == c.name) return c.run(s, args);
  std::vector<std::string> near = near_matches(args[0], command_names());
  return fail(s, kUsage, "unknown command \"%s\"%s%s", args[0].c_str(), near.empty() ? "" : "; did you mean: ",
              join(near).c_str());
}

}  // namespace kyrctl
