// One connection to the codec: connect, authenticate, pair when the codec
// asks for it, the protocol trace, and the one generic call every command
// and `op` goes through.
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "csapi/client/cs_ops_hooks.h"
#include "csapi/client/csapi.h"
#include "ipc/libccom/ccom.h"
#include "ipc/libccom/ccom_tool.h"
#include "kyrctl.h"
#include "platform/kyr_log.h"

namespace kyrctl {
namespace {

int g_timeout = CSAPI_CALL_TIMEOUT;

// The typed operations the commands use run with the --timeout too.
int call_with_timeout(unsigned int instance, ccom_msg_t *msg, int) {
  return csapi_client_call(instance, msg, g_timeout);
}

void wipe(std::string &s) {
  volatile char *p = &s[0];
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

bool secret_key(const char *k) {
  std::string n(k ? k : "");
  for (char &c : n) c = (char)tolower((unsigned char)c);
  return n.find("pwd") != std::string::npos || n.find("pass") != std::string::npos;
}

// The transport already empties the usual password keys; this also catches
// any other member whose name says it holds a secret, at any depth.
void mask(cJSON *o) {
  for (cJSON *m = o ? o->child : nullptr; m; m = m->next) {
    if (cJSON_IsString(m) && secret_key(m->string))
      cJSON_SetValuestring(m, "");
    else if (cJSON_IsObject(m) || cJSON_IsArray(m))
      mask(m);
  }
}

void trace_line(const char *what, const char *text, void *) {
  cJSON *t = cJSON_Parse(text);
  char *printed = nullptr;
  if (t) {
    mask(t);
    printed = cJSON_PrintUnformatted(t);
    cJSON_Delete(t);
  }
  // Text that is not JSON is shown only by its length: it may hold anything.
  if (printed)
    fprintf(stderr, "%s %s\n", strcmp(what, "send") == 0 ? "->" : "<-", printed);
  else
    fprintf(stderr, "%s (%zu bytes that are not JSON)\n", strcmp(what, "send") == 0 ? "->" : "<-", strlen(text));
  free(printed);
}

// The administrator password: KYRCTL_PASSWORD, else a prompt on the
// terminal without echo. False when neither is there.
bool read_password(const std::string &user, std::string *out) {
  if (const char *env = getenv("KYRCTL_PASSWORD")) {
    *out = env;
    return true;
  }
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct termios old, quiet;
  bool tty = tcgetattr(fd, &old) == 0;
  if (tty) {
    quiet = old;
    quiet.c_lflag &= ~(tcflag_t)(ECHO | ECHONL);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  std::string prompt = "Password for " + user + ": ";
  (void)!write(fd, prompt.data(), prompt.size());
  char c;
  bool got = false;
  while (read(fd, &c, 1) == 1) {
    got = true;
    if (c == '\n' || c == '\r') break;
    out->push_back(c);
  }
  c = 0;
  if (tty) tcsetattr(fd, TCSAFLUSH, &old);
  (void)!write(fd, "\n", 1);
  close(fd);
  return got;
}

// The library's own log lines are for its developers; with --trace its
// warnings and errors join the trace.
void log_line(int prio, const char *tag, const char *text, void *user) {
  if (!user || prio < KYR_LOG_WARN) return;
  size_t n = strlen(text);
  while (n && text[n - 1] == '\n') n--;
  fprintf(stderr, "# %s: %.*s\n", tag, (int)n, text);
}

}  // namespace

void trace_install(bool on) {
  ccom_set_trace(on ? trace_line : nullptr, nullptr);
  kyr_log_set_sink(log_line, on ? &g_timeout : nullptr);
}


int session_open(Session &s) {
  g_timeout = s.opt.timeout;
  cs_ops_set_hooks(nullptr, call_with_timeout);
  ccom_set_tls_mode(s.opt.tls);
  // --timeout bounds the way to the codec as well as each call.
  ccom_set_connect_timeout_ms(s.opt.timeout < 10 ? s.opt.timeout * 1000 : 10000);
  int inst = csConnect(s.opt.address.c_str(), "kyrctl", "1.0.0", "1.0.0", "99.0.0");
  if (inst < 0)
    return fail(s, kNoConnect, "cannot connect to %s: %s (%d)", s.opt.address.c_str(), csapi_err_get_string(inst),
                inst);
  s.instance = inst;
  int rc = csAuth(inst, s.opt.serial.c_str());
  if (rc == CSAPI_ERR_PAIRING_REQUIRED) {
    if (s.opt.user.empty())
      return fail(s, kNoConnect,
                  "%s requires pairing: run again with --user ADMIN (the password comes from KYRCTL_PASSWORD or "
                  "a prompt)",
                  s.opt.address.c_str());
    std::string pwd;
    if (!read_password(s.opt.user, &pwd))
      return fail(s, kNoConnect, "pairing needs the password of %s: set KYRCTL_PASSWORD or run in a terminal",
                  s.opt.user.c_str());
    rc = csPair(inst, s.opt.serial.c_str(), s.opt.user.c_str(), pwd.c_str());
    wipe(pwd);
    if (rc < 0)
      return fail(s, kNoConnect, "pairing as %s failed: %s (%d)", s.opt.user.c_str(), csapi_err_get_string(rc), rc);
    s.paired = true;
  } else if (rc < 0) {
    return fail(s, kNoConnect, "authentication as %s failed: %s (%d)", s.opt.serial.c_str(),
                csapi_err_get_string(rc), rc);
  }
  return kOk;
}

int session_need(Session &s) { return s.instance >= 0 ? kOk : session_open(s); }

void session_close(Session &s) {
  if (s.instance >= 0) csDisconnect(s.instance);
  s.instance = -1;
}

const char *session_tls_version(const Session &s) {
  csapi_srvr_t info;
  if (s.instance < 0 || csapi_client_get_srvr_info(s.instance, &info) != 0) return nullptr;
  return ccom_client_tls_version(info.client);
}

void session_call(Session &s, const char *method, cJSON *params, Answer *out) {
  RpcReq req;
  cJSON *tree = nullptr;
  out->rc = CSAPI_ERR_BAD_MESSAGE;
  if (allocRpcReq(&req, &tree, method, 1) != 0) {
    cJSON_Delete(tree);
    cJSON_Delete(params);
    return;
  }
  if (params) cJSON_ReplaceItemInObjectCaseSensitive(tree, "params", params);
  char *text = buildRpcReqMsg(&req, tree);
  cJSON_Delete(tree);
  ccom_msg_t *msg = text ? csapi_client_msg_alloc() : nullptr;
  if (!msg || !ccom_msg_strcpy(msg, text)) {
    free(text);
    if (msg) csapi_client_msg_free(msg);
    out->rc = CSAPI_ERR_OUT_OF_RESOURCES;
    return;
  }
  free(text);
  out->rc = csapi_client_call((unsigned)s.instance, msg, s.opt.timeout);
  // The answer replaced the request in msg, when one came.
  if (msg->data && msg->len <= msg->size) msg->data[msg->len] = '\0';
  RpcRsp rsp;
  if (msg->data && parseRpcRspMsg(&rsp, &out->tree, msg->data) == 0 && out->tree &&
      !cJSON_GetObjectItemCaseSensitive(out->tree, "method")) {
    if (cJSON_GetObjectItemCaseSensitive(out->tree, "error")) {
      out->codec_error = true;
      out->code = rsp.code;
      out->message = rsp.message;
    }
    out->result = rsp.result;
  } else {
    cJSON_Delete(out->tree);
    out->tree = nullptr;
  }
  csapi_client_msg_free(msg);
}

// ---- output ----

cJSON *json_line(const char *type) {
  cJSON *o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "type", type);
  return o;
}

void emit(cJSON *obj) {
  char *text = obj ? cJSON_PrintUnformatted(obj) : nullptr;
  if (text) {
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
  }
  free(text);
  cJSON_Delete(obj);
}

int fail(const Session &s, int status, const char *fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (s.opt.json) {
    cJSON *o = json_line("error");
    cJSON_AddNumberToObject(o, "status", status);
    cJSON_AddStringToObject(o, "message", buf);
    emit(o);
  } else {
    fprintf(stderr, "kyrctl: %s\n", buf);
  }
  return status;
}

int fail_answer(const Session &s, const char *method, const Answer &a) {
  if (a.codec_error) {
    const char *text = a.message.empty() ? csapi_err_get_string(a.code) : a.message.c_str();
    if (s.opt.json) {
      cJSON *o = json_line("error");
      cJSON_AddNumberToObject(o, "status", kCodecError);
      cJSON_AddStringToObject(o, "method", method);
      cJSON_AddNumberToObject(o, "code", a.code);
      cJSON_AddStringToObject(o, "message", text);
      emit(o);
    } else {
      fprintf(stderr, "kyrctl: %s: codec error %d: %s\n", method, a.code, shown(text).c_str());
    }
    return kCodecError;
  }
  // No answer at all: the codec is gone or silent.
  int status = (a.rc == CSAPI_ERR_NO_CONNECT || a.rc == CSAPI_ERR_TIMEOUT) ? kNoConnect : kCodecError;
  return fail(s, status, "%s: %s (%d)", method, csapi_err_get_string(a.rc), a.rc);
}

}  // namespace kyrctl
