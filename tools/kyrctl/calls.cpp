// Calls, audio and the directory: the everyday commands, each a few of the
// library's typed operations.
#include <string.h>

#include <memory>
#include <string>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi.h"
#include "kyrctl.h"

namespace kyrctl {
namespace {

// Directory protocols the codec counts servers for (1 .. 4).
constexpr int kDirProtocols = 4;
// Names per directory page, and the pages a search reads at most.
constexpr int kPageNames = 64;
constexpr int kMaxPages = 1000;

int get_comm(Session &s, CSComm *comm) {
  memset(comm, 0, sizeof *comm);
  return csCommGet(comm, s.instance);
}

int get_conf(const CSComm &comm, unsigned i, CSConf *conf) {
  memset(conf, 0, sizeof *conf);
  return csConfGet(conf, &comm, i);
}

// Every call: (conference index or -1 for pending, terminal).
struct Call {
  int conf;
  CSTerm term;
};

int collect_calls(Session &s, std::vector<Call> *out, const char **failed) {
  CSComm comm;
  int rc = get_comm(s, &comm);
  if (rc < 0) return *failed = "csCommGet", rc;
  for (unsigned c = 0; c < comm.numConfs && c < 64; ++c) {
    CSConf conf;
    if ((rc = get_conf(comm, c, &conf)) < 0) return *failed = "csConfGet", rc;
    for (unsigned t = 0; t < conf.numTerms && t < 64; ++t) {
      Call call{(int)c, {}};
      if ((rc = csTermGet(&call.term, &conf, t)) < 0) return *failed = "csTermGet", rc;
      out->push_back(call);
    }
  }
  for (unsigned t = 0; t < comm.numPendingTerms && t < 64; ++t) {
    Call call{-1, {}};
    if ((rc = csTermPendingGet(&call.term, &comm, t)) < 0) return *failed = "csTermPendingGet", rc;
    out->push_back(call);
  }
  return 0;
}

const char *direction_name(uint32_t d) { return d == 0 ? "out" : d == 1 ? "in" : "?"; }

}  // namespace

int cmd_dial(Session &s, const Args &args) {
  Args words;
  std::vector<std::pair<std::string, std::string>> opts;
  int st = kOk;
  if (!split_args(s, "dial", args, {"--protocol", "--rate"}, &words, &opts, &st)) return st;
  if (words.size() != 1 || words[0].empty()) return usage(s, "dial", "needs one ADDRESS");
  std::string address = words[0];
  unsigned long rate = 0;
  for (const auto &o : opts) {
    if (o.first == "--protocol")
      address = o.second + ":" + words[0];
    else if (!parse_uint(o.second, 0xFFFFFFFFul, &rate))
      return usage(s, "dial", "--rate needs a number of kbit/s");
  }
  if (int st = session_need(s)) return st;
  CSComm comm;
  CSConf conf;
  int rc = get_comm(s, &comm);
  if (rc < 0) return fail_code(s, "csCommGet", rc);
  if ((rc = get_conf(comm, 0, &conf)) < 0) return fail_code(s, "csConfGet", rc);
  return print_result(s, "csConfTermDial", csConfTermDial(&conf, (unsigned)rate, address.c_str()));
}

int cmd_answer(Session &s, const Args &args) {
  if (args.size() > 1) return usage(s, "answer", "takes no arguments");
  if (int st = session_need(s)) return st;
  CSComm comm;
  int rc = get_comm(s, &comm);
  if (rc < 0) return fail_code(s, "csCommGet", rc);
  if (comm.numPendingTerms == 0) return fail(s, kCodecError, "answer: no incoming call");
  CSTerm term;
  CSConf conf;
  memset(&term, 0, sizeof term);
  if ((rc = csTermPendingGet(&term, &comm, 0)) < 0) return fail_code(s, "csTermPendingGet", rc);
  if ((rc = get_conf(comm, 0, &conf)) < 0) return fail_code(s, "csConfGet", rc);
  return print_result(s, "csConfTermAnswer", csConfTermAnswer(&conf, &term));
}

int cmd_hangup(Session &s, const Args &args) {
  if (args.size() > 2) return usage(s, "hangup", "takes at most one CALL_ID");
  unsigned long id = 0;
  if (args.size() == 2 && !parse_uint(args[1], 0x7FFFFFFFul, &id))
    return usage(s, "hangup", "CALL_ID is a number (see calls)");
  if (int st = session_need(s)) return st;
  CSComm comm;
  int rc = get_comm(s, &comm);
  if (rc < 0) return fail_code(s, "csCommGet", rc);
  if (args.size() == 1) {
    if (comm.numConfs == 0) return fail(s, kCodecError, "hangup: no conference");
    for (unsigned c = 0; c < comm.numConfs && c < 64; ++c) {
      CSConf conf;
      if ((rc = get_conf(comm, c, &conf)) < 0) return fail_code(s, "csConfGet", rc);
      if ((rc = csConfHangup(&conf, 0)) < 0) return fail_code(s, "csConfHangup", rc);
    }
    return print_result(s, "csConfHangup", rc);
  }
  std::vector<Call> calls;
  const char *failed = "";
  if ((rc = collect_calls(s, &calls, &failed)) < 0) return fail_code(s, failed, rc);
  for (const Call &c : calls)
    if (c.term.id == (int32_t)id) return print_result(s, "csTermHangup", csTermHangup(&c.term, 0));
  return fail(s, kCodecError, "hangup: no call with id %lu", id);
}

int cmd_calls(Session &s, const Args &args) {
  if (args.size() > 1) return usage(s, "calls", "takes no arguments");
  if (int st = session_need(s)) return st;
  std::vector<Call> calls;
  const char *failed = "";
  int rc = collect_calls(s, &calls, &failed);
  if (rc < 0) return fail_code(s, failed, rc);
  if (s.opt.json) {
    for (const Call &c : calls) {
      cJSON *o = json_line("call");
      if (c.conf < 0)
        cJSON_AddNullToObject(o, "conference");
      else
        cJSON_AddNumberToObject(o, "conference", c.conf);
      cJSON_AddBoolToObject(o, "pending", c.conf < 0);
      cJSON_AddStringToObject(o, "state", term_state_name(c.term.state));
      cJSON_AddItemToObject(o, "record", record_json(CS_KIND_Term, &c.term));
      emit(o);
    }
    return kOk;
  }
  if (calls.empty()) {
    printf("no calls\n");
    return kOk;
  }
  printf("%-6s %-5s %-13s %-4s %-28s %-20s %s\n", "ID", "CONF", "STATE", "DIR", "ADDRESS", "NAME", "CONNECTED");
  for (const Call &c : calls)
    printf("%-6d %-5s %-13s %-4s %-28s %-20s %s\n", c.term.id, c.conf < 0 ? "-" : std::to_string(c.conf).c_str(),
           term_state_name(c.term.state), direction_name(c.term.direction), shown(c.term.addr).c_str(),
           shown(c.term.name).c_str(),
           local_time(c.term.connectTime).c_str());
  fflush(stdout);
  return kOk;
}

int cmd_volume(Session &s, const Args &args) {
  if (args.size() > 2) return usage(s, "volume", "takes at most one number");
  unsigned long v = 0;
  if (args.size() == 2 && !parse_uint(args[1], 0xFFFFFFFFul, &v)) return usage(s, "volume", "N is a number");
  if (int st = session_need(s)) return st;
  CSAudio audio;
  memset(&audio, 0, sizeof audio);
  int rc = csAudioGet(&audio, s.instance);
  if (rc < 0) return fail_code(s, "csAudioGet", rc);
  if (args.size() == 2) {
    return print_result(s, "csAudioVolume", csAudioVolume(&audio, (unsigned)v));
  }
  if (s.opt.json) {
    cJSON *o = json_line("audio");
    cJSON_AddNumberToObject(o, "volume", audio.volume);
    cJSON_AddBoolToObject(o, "muted", audio.muted != 0);
    emit(o);
  } else {
    print_pairs({{"volume", std::to_string(audio.volume)}, {"muted", audio.muted ? "on" : "off"}});
  }
  return kOk;
}

int cmd_mute(Session &s, const Args &args) {
  if (args.size() != 2 || (args[1] != "on" && args[1] != "off")) return usage(s, "mute", "needs on or off");
  if (int st = session_need(s)) return st;
  CSAudio audio;
  memset(&audio, 0, sizeof audio);
  int rc = csAudioGet(&audio, s.instance);
  if (rc < 0) return fail_code(s, "csAudioGet", rc);
  return print_result(s, "csAudioMute", csAudioMute(&audio, args[1] == "on" ? 1u : 0u));
}

namespace {

// The directory server with that id (the first listed when id is empty).
int find_server(Session &s, const std::string &id, CSDirSrvr *out, std::vector<std::string> *ids,
                const char **failed) {
  CSDir dir;
  memset(&dir, 0, sizeof dir);
  int rc = csDirGet(&dir, s.instance);
  if (rc < 0) return *failed = "csDirGet", rc;
  for (int prot = 1; prot <= kDirProtocols; ++prot) {
    int n = csDirSrvrCount(&dir, prot);
    for (int i = 0; i < n && i < 64; ++i) {
      CSDirSrvr srv;
      memset(&srv, 0, sizeof srv);
      if ((rc = csDirSrvrGet(&srv, &dir, i, prot)) < 0) return *failed = "csDirSrvrGet", rc;
      ids->push_back(srv.id);
      if (id.empty() || id == srv.id) {
        *out = srv;
        return 1;
      }
    }
  }
  return 0;
}

void print_entry(const Session &s, const CSDirSrvr &srv, const CSDirEnt &e) {
  if (s.opt.json) {
    cJSON *o = json_line("entry");
    cJSON_AddStringToObject(o, "server", srv.id);
    cJSON_AddItemToObject(o, "record", record_json(CS_KIND_DirEnt, &e));
    emit(o);
    return;
  }
  const char *addr = e.videoDeviceCount > 0 && e.videoDevice[0].addrCount > 0 ? e.videoDevice[0].addr[0] : "";
  printf("%-32s %-16s %s\n", shown(e.displayName[0] ? e.displayName : e.fullName).c_str(), shown(e.id).c_str(),
         shown(addr).c_str());
}

}  // namespace

int cmd_search(Session &s, const Args &args) {
  Args words;
  std::vector<std::pair<std::string, std::string>> opts;
  int st = kOk;
  if (!split_args(s, "search", args, {"--server"}, &words, &opts, &st)) return st;
  if (words.size() != 1) return usage(s, "search", "needs one TEXT (quote it when it has spaces)");
  std::string id = opts.empty() ? "" : opts.back().second;
  if (int st = session_need(s)) return st;
  CSDirSrvr srv;
  std::vector<std::string> ids;
  const char *failed = "";
  int rc = find_server(s, id, &srv, &ids, &failed);
  if (rc < 0) return fail_code(s, failed, rc);
  if (rc == 0) {
    std::vector<std::string> near = near_matches(id, ids);
    return fail(s, kCodecError, "search: no directory server \"%s\"%s%s (the codec has: %s)", id.c_str(),
                near.empty() ? "" : "; did you mean: ", join(near).c_str(), ids.empty() ? "none" : join(ids).c_str());
  }
  std::unique_ptr<CSDirEnt> filter(new CSDirEnt());
  snprintf(filter->displayName, sizeof filter->displayName, "%s", words[0].c_str());
  int handle = csDirSrvrListStart(&srv, 0, filter.get(), 0);
  if (handle < 0) return fail_code(s, "csDirSrvrListStart", handle);
  std::unique_ptr<CSDirList> page(new CSDirList());
  if (!s.opt.json) printf("%-32s %-16s %s\n", "NAME", "ID", "ADDRESS");
  long found = 0;
  int status = kOk;
  for (int p = 0; p < kMaxPages; ++p) {
    memset(page.get(), 0, sizeof *page);
    rc = csDirListGet(page.get(), &srv, handle, 5000, kPageNames);
    if (rc == CSAPI_ERR_EOF) break;
    if (rc < 0) {
      status = fail_code(s, "csDirListGet", rc);
      break;
    }
    int n = page->listCount < 0 ? 0 : std::min<int>(page->listCount, kPageNames);
    if (n == 0) break;
    for (int i = 0; i < n; ++i) print_entry(s, srv, page->list[i]);
    found += n;
  }
  csDirSrvrListStop(&srv, handle);
  if (!s.opt.json) printf("%ld entries on %s\n", found, srv.id);
  fflush(stdout);
  return status;
}

}  // namespace kyrctl
