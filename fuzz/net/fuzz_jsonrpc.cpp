// libFuzzer target: JSON-RPC parsing on the receive path.
//
// Input: one received message. It goes through
//   - the reader's quick classification (scan_top), which decides whether a
//     message is a response, a notification or garbage. On any text that
//     cJSON reads as an object, the classification of its canonical form
//     must agree with cJSON's tree: same id (saturated to 32 bits), same
//     method name;
//   - parseRpcRspMsg and parseRpcReqMsg, as the call path and the
//     notification handlers use them;
//   - the notification ring: posted and taken back by this thread's
//     registry, byte for byte, whatever its length.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <cjson/cJSON.h>

#include "csapi/client/csapi.h"
#include "csapi/client/csapi_internal.h"
#include "ipc/libccom/ccom.h"

namespace {

int count_members(const cJSON *obj, const char *name) {
  int n = 0;
  for (const cJSON *c = obj->child; c; c = c->next)
    if (c->string && strcmp(c->string, name) == 0) n++;
  return n;
}

void check_classification(const std::string &text) {
  cJSON *tree = cJSON_ParseWithLength(text.data(), text.size());
  if (!tree) return;
  char *canon = cJSON_PrintUnformatted(tree);
  cJSON_Delete(tree);
  if (!canon) return;
  cJSON *t2 = cJSON_Parse(canon);
  if (t2 && cJSON_IsObject(t2) && count_members(t2, "id") <= 1 && count_members(t2, "method") <= 1) {
    csapi_detail::TopScan scan;
    if (!csapi_detail::scan_top(canon, strlen(canon), &scan)) abort();  // a good object read as garbage
    const cJSON *id = cJSON_GetObjectItemCaseSensitive(t2, "id");
    if (scan.hasId != (id && cJSON_IsNumber(id))) abort();
    if (scan.hasId && scan.id != (int64_t)id->valueint) abort();
    const cJSON *m = cJSON_GetObjectItemCaseSensitive(t2, "method");
    if ((scan.method != nullptr) != (m && cJSON_IsString(m))) abort();
    if (scan.method && !memchr(scan.method, '\\', scan.methodLen) &&
        (strlen(m->valuestring) != scan.methodLen || memcmp(m->valuestring, scan.method, scan.methodLen) != 0))
      abort();
  }
  cJSON_Delete(t2);
  free(canon);
}

void check_parsers(const std::string &text) {
  RpcRsp rsp;
  cJSON *tree = nullptr;
  (void)parseRpcRspMsg(&rsp, &tree, text.c_str());
  cJSON_Delete(tree);
  RpcReq req;
  tree = nullptr;
  memset(&req, 0, sizeof req);
  (void)parseRpcReqMsg(&req, &tree, text.c_str());
  cJSON_Delete(req.id);
  cJSON_Delete(tree);
}

void check_ring(const std::string &text, ccom_msg_t *in, ccom_msg_t *out) {
  if (text.empty() || !ccom_msg_memcpy(in, text.data(), (uint32_t)text.size())) return;
  bool fits = text.size() + 8 <= CSAPI_NOTIFY_RING_LIMIT;
  (void)callback_postmsg(3, "csFuzzCB", in);
  int inst = -1;
  int rc = callback_waitmsg(&inst, out, 0, 0);
  if (fits) {
    if (rc != 0 || inst != 3 || out->len != text.size() || memcmp(out->data, text.data(), text.size()) != 0)
      abort();
    rc = callback_waitmsg(&inst, out, 0, 0);
  }
  if (rc != CSAPI_ERR_TIMEOUT) abort();  // nothing else was queued
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool init = (csInit(nullptr), true);
  (void)init;
  if (size > (1u << 20)) return 0;
  std::string text(reinterpret_cast<const char *>(data), size);

  csapi_detail::TopScan scan;
  (void)csapi_detail::scan_top(text.data(), text.size(), &scan);
  if (scan.method && (scan.method < text.data() || scan.method + scan.methodLen > text.data() + text.size()))
    abort();

  std::string ctext(text.c_str());  // as the library sees it: up to the first NUL
  check_classification(ctext);
  check_parsers(ctext);

  static ccom_msg_t *in = ccom_client_msg_alloc();
  static ccom_msg_t *out = ccom_client_msg_alloc();
  check_ring(text, in, out);
  return 0;
}
