/* JSON-RPC records, number printing, the top-level message scanner, the
 * error texts and the per-thread last error. */
#include "csapi/client/csapi_rpc.h"

#include <cjson/cJSON.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "csapi/client/csapi_internal.h"

namespace {

/* Copies at most cap - 1 bytes and always terminates. */
void copy_text(char *dst, size_t cap, const char *src) {
  if (!src) src = "";
  size_t n = strlen(src);
  if (n >= cap) n = cap - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

const char *string_member(const cJSON *obj, const char *key) {
  const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, key);
  return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

/* cJSON prints whole 32-bit values as plain integers itself; every other
 * number is written by us so the wire shows what our peers expect. */
bool needs_own_format(const cJSON *item) {
  if (!cJSON_IsNumber(item)) return false;
  double d = item->valuedouble;
  return !(std::floor(d) == d && d >= -2147483648.0 && d <= 2147483647.0);
}

bool tree_needs_own_format(const cJSON *node) {
  for (; node; node = node->next) {
    if (needs_own_format(node)) return true;
    if (node->child && tree_needs_own_format(node->child)) return true;
  }
  return false;
}

/* Turns every number that needs it into a raw item holding its text. */
bool reformat_numbers(cJSON *node) {
  for (; node; node = node->next) {
    if (node->child && !reformat_numbers(node->child)) return false;
    if (!needs_own_format(node)) continue;
    double d = node->valuedouble;
    char buf[400];
    if (std::isnan(d) || std::isinf(d))
      snprintf(buf, sizeof buf, "null");
    else if (std::floor(d) == d)
      snprintf(buf, sizeof buf, "%.0f", d);
    else if (std::fabs(d) < 1.0e-6 || std::fabs(d) > 1.0e9)
      snprintf(buf, sizeof buf, "%e", d);
    else
      snprintf(buf, sizeof buf, "%f", d);
    char *raw = strdup(buf);
    if (!raw) return false;
    node->type = cJSON_Raw | (node->type & ~0xFF);
    node->valuestring = raw;
  }
  return true;
}

/* ---- top-level scanner ---- */

struct Cursor {
  const char *p;
  const char *end;
};

void skip_ws(Cursor &c) {
  while (c.p < c.end && (*c.p == ' ' || *c.p == '\t' || *c.p == '\r' || *c.p == '\n')) c.p++;
}

/* c.p at the opening quote; leaves it after the closing one. Every answer
 * passes here on the reader thread, so the closing quote is found with
 * memchr: a quote ends the string unless an odd run of backslashes is right
 * before it. */
bool skip_string(Cursor &c, const char **start, size_t *len) {
  if (c.p >= c.end || *c.p != '"') return false;
  const char *s = ++c.p;
  for (;;) {
    const char *q = static_cast<const char *>(memchr(c.p, '"', (size_t)(c.end - c.p)));
    if (!q) {
      c.p = c.end;
      return false;
    }
    size_t slashes = 0;
    while (q - slashes > s && q[-1 - (ptrdiff_t)slashes] == '\\') slashes++;
    c.p = q + 1;
    if (slashes % 2 == 0) {
      if (start) *start = s;
      if (len) *len = (size_t)(q - s);
      return true;
    }
  }
}

bool skip_value(Cursor &c) {
  if (c.p >= c.end) return false;
  char ch = *c.p;
  if (ch == '"') return skip_string(c, nullptr, nullptr);
  if (ch == '{' || ch == '[') {
    int depth = 0;
    while (c.p < c.end) {
      ch = *c.p;
      if (ch == '"') {
        if (!skip_string(c, nullptr, nullptr)) return false;
        continue;
      }
      if (ch == '{' || ch == '[') depth++;
      if (ch == '}' || ch == ']') {
        if (--depth == 0) {
          c.p++;
          return true;
        }
      }
      c.p++;
    }
    return false;
  }
  const char *s = c.p;
  while (c.p < c.end && !strchr(",}] \t\r\n", *c.p) && *c.p) c.p++;
  return c.p > s;
}

}  // namespace

namespace csapi_detail {

char *json_print(const cJSON *tree) {
  if (!tree) return nullptr;
  if (!tree_needs_own_format(tree)) return cJSON_PrintUnformatted(tree);
  cJSON *copy = cJSON_Duplicate(tree, 1);
  if (!copy) return nullptr;
  char *out = reformat_numbers(copy) ? cJSON_PrintUnformatted(copy) : nullptr;
  cJSON_Delete(copy);
  return out;
}

bool scan_top(const char *text, size_t len, TopScan *out) {
  if (!text || !out) return false;
  *out = TopScan();
  Cursor c{text, text + len};
  skip_ws(c);
  if (c.p >= c.end || *c.p != '{') return false;
  c.p++;
  skip_ws(c);
  if (c.p < c.end && *c.p == '}') return true;
  for (;;) {
    const char *key;
    size_t keyLen;
    skip_ws(c);
    if (!skip_string(c, &key, &keyLen)) return false;
    skip_ws(c);
    if (c.p >= c.end || *c.p != ':') return false;
    c.p++;
    skip_ws(c);
    const char *vstart = c.p;
    if (!skip_value(c)) return false;
    if (keyLen == 2 && memcmp(key, "id", 2) == 0) {
      char num[64];
      size_t n = (size_t)(c.p - vstart);
      if (n > 0 && n < sizeof num && (*vstart == '-' || (*vstart >= '0' && *vstart <= '9'))) {
        memcpy(num, vstart, n);
        num[n] = '\0';
        char *endp = nullptr;
        double d = strtod(num, &endp);
        if (endp == num + n && !std::isnan(d)) {
          out->hasId = true;
          /* saturate like cJSON's valueint */
          if (d >= 2147483647.0)
            out->id = INT32_MAX;
          else if (d <= -2147483648.0)
            out->id = INT32_MIN;
          else
            out->id = (int64_t)d;
        }
      }
    } else if (keyLen == 6 && memcmp(key, "method", 6) == 0 && *vstart == '"') {
      out->method = vstart + 1;
      out->methodLen = (size_t)(c.p - vstart) - 2;
    }
    skip_ws(c);
    if (c.p >= c.end) return false;
    if (*c.p == ',') {
      c.p++;
      continue;
    }
    return *c.p == '}';
  }
}

}  // namespace csapi_detail

/* ---- request ids ---- */

int32_t csapi_next_request_id(void) {
  static std::atomic<uint32_t> counter{0};
  for (;;) {
    uint32_t v = (counter.fetch_add(1, std::memory_order_relaxed) + 1) & 0x7fffffffu;
    if (v != 0) return (int32_t)v;
  }
}

/* ---- records ---- */

int allocRpcReq(RpcReq *req, cJSON **tree, const char *method, int32_t id) {
  if (!req || !tree || !method) return -1;
  cJSON *root = cJSON_CreateObject();
  *tree = root;
  if (!root) return -1;
  memset(req, 0, sizeof *req);
  copy_text(req->method, sizeof req->method, method);
  if (id != 0) {
    req->id = cJSON_CreateNumber((double)csapi_next_request_id());
    if (!req->id) goto fail;
  }
  if (!cJSON_AddStringToObject(root, "method", req->method)) goto fail;
  req->params = cJSON_AddObjectToObject(root, "params");
  if (!req->params) goto fail;
  if (req->id && !cJSON_AddItemToObject(root, "id", req->id)) goto fail;
  if (!cJSON_AddStringToObject(root, "jsonrpc", "2.0")) goto fail;
  return 0;
fail:
  if (req->id && !cJSON_GetObjectItemCaseSensitive(root, "id")) cJSON_Delete(req->id);
  cJSON_Delete(root);
  *tree = nullptr;
  memset(req, 0, sizeof *req);
  return -1;
}

char *buildRpcReqMsg(RpcReq *req, cJSON *tree) {
  if (!req || !tree) return nullptr;
  return csapi_detail::json_print(tree);
}

int parseRpcRspMsg(RpcRsp *rsp, cJSON **tree, const char *text) {
  if (!rsp || !tree || !text) return -1;
  cJSON *root = cJSON_Parse(text);
  *tree = root;
  memset(rsp, 0, sizeof *rsp);
  if (!root) return -1;
  copy_text(rsp->jsonrpc, sizeof rsp->jsonrpc, string_member(root, "jsonrpc"));
  rsp->id = cJSON_GetObjectItemCaseSensitive(root, "id");
  rsp->result = cJSON_GetObjectItemCaseSensitive(root, "result");
  cJSON *err = cJSON_GetObjectItemCaseSensitive(root, "error");
  if (err) {
    cJSON *code = cJSON_GetObjectItemCaseSensitive(err, "code");
    rsp->code = cJSON_IsNumber(code) ? code->valueint : 0;
    copy_text(rsp->message, sizeof rsp->message, string_member(err, "message"));
    rsp->data = cJSON_GetObjectItemCaseSensitive(err, "data");
  }
  return 0;
}

int parseRpcReqMsg(RpcReq *req, cJSON **tree, const char *text) {
  if (!req || !tree || !text) return -1;
  cJSON *root = cJSON_Parse(text);
  *tree = root;
  memset(req, 0, sizeof *req);
  if (!root) return -1;
  copy_text(req->jsonrpc, sizeof req->jsonrpc, string_member(root, "jsonrpc"));
  copy_text(req->method, sizeof req->method, string_member(root, "method"));
  req->params = cJSON_GetObjectItemCaseSensitive(root, "params");
  req->id = cJSON_DetachItemFromObjectCaseSensitive(root, "id");
  return req->params ? 0 : -1;
}

int allocRpcRsp(RpcRsp *rsp, RpcReq *req, cJSON **tree, int32_t code, const char *message) {
  if (!rsp || !req || !tree) return -1;
  cJSON *root = cJSON_CreateObject();
  *tree = root;
  if (!root) return -1;
  memset(rsp, 0, sizeof *rsp);
  copy_text(rsp->jsonrpc, sizeof rsp->jsonrpc, req->jsonrpc);
  rsp->code = code;
  rsp->id = req->id;
  if (message) copy_text(rsp->message, sizeof rsp->message, message);
  return 0;
}

int buildRpcRsp(RpcRsp *rsp, cJSON *tree) {
  if (!rsp || !tree) return -1;
  if (rsp->code < 0) {
    cJSON *err = cJSON_AddObjectToObject(tree, "error");
    if (!err || !cJSON_AddNumberToObject(err, "code", rsp->code) ||
        !cJSON_AddStringToObject(err, "message", rsp->message))
      return -1;
    if (rsp->data) {
      cJSON *d = cJSON_Duplicate(rsp->data, 1);
      if (!d || !cJSON_AddItemToObject(err, "data", d)) {
        cJSON_Delete(d);
        return -1;
      }
    }
  } else if (rsp->result) {
    cJSON *r = cJSON_Duplicate(rsp->result, 1);
    if (!r || !cJSON_AddItemToObject(tree, "result", r)) {
      cJSON_Delete(r);
      return -1;
    }
  } else if (!cJSON_AddNumberToObject(tree, "result", rsp->code)) {
    return -1;
  }
  cJSON *id = rsp->id ? cJSON_Duplicate(rsp->id, 1) : cJSON_CreateNull();
  if (!id || !cJSON_AddItemToObject(tree, "id", id)) {
    cJSON_Delete(id);
    return -1;
  }
  return cJSON_AddStringToObject(tree, "jsonrpc", "2.0") ? 0 : -1;
}

int buildRpcRspInt(RpcRsp *rsp, cJSON *tree, int32_t code, const char *message) {
  if (!rsp || !tree) return -1;
  rsp->code = code;
  rsp->result = nullptr;
  rsp->data = nullptr;
  copy_text(rsp->message, sizeof rsp->message, message);
  return buildRpcRsp(rsp, tree);
}

char *buildRpcRspIntMsg(RpcRsp *rsp, RpcReq *req, int32_t code, const char *message) {
  cJSON *tree = nullptr;
  if (allocRpcRsp(rsp, req, &tree, code, message) != 0) {
    cJSON_Delete(tree);
    return nullptr;
  }
  char *text = buildRpcRspInt(rsp, tree, code, message) == 0 ? csapi_detail::json_print(tree) : nullptr;
  cJSON_Delete(tree);
  return text;
}

char *buildRpcRspMsg(RpcRsp *rsp, cJSON *tree) {
  if (!rsp || !tree) return nullptr;
  if (buildRpcRsp(rsp, tree) != 0) return nullptr;
  return csapi_detail::json_print(tree);
}

/* ---- error texts and last error ---- */

namespace {

#define CSAPI_ERR_TEXT(name, value, text) text,
/* Indexed by -code; the list runs from 0 down to -31 without gaps. */
const char *const gErrString[] = {CSAPI_ERR_LIST(CSAPI_ERR_TEXT)};
#undef CSAPI_ERR_TEXT
constexpr int kErrCount = (int)(sizeof gErrString / sizeof gErrString[0]);
#define CSAPI_ERR_VALUE(name, value, text) value,
constexpr int kErrValues[] = {CSAPI_ERR_LIST(CSAPI_ERR_VALUE)};
#undef CSAPI_ERR_VALUE
constexpr bool err_list_dense() {
  for (int i = 0; i < kErrCount; i++)
    if (kErrValues[i] != -i) return false;
  return true;
}
static_assert(err_list_dense(), "error list must run 0, -1, -2, ... without gaps");

/* Each thread keeps its own last error; the slot exists from the thread's
 * first use and goes with the thread. */
thread_local int tLastError = 0;

}  // namespace

int csapi_err_init(void) { return 0; }

int csapi_err_set(int code) {
  tLastError = code;
  return 0;
}

int csapi_err_get(void) { return tLastError; }

int csapi_err_exit(void) { return 0; }

const char *csapi_err_get_string(int code) {
  if (code > 0 || code <= -kErrCount) return "Unknown error";
  return gErrString[-code];
}

int csError(void) { return csapi_err_get(); }

const char *csErrorString(void) { return csapi_err_get_string(csapi_err_get()); }
