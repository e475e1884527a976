/* The 55 notification handlers: one generic body, one table row each. */
#include <string.h>

#include <cstddef>

#include <cjson/cJSON.h>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/cs_record_desc.inc"
#include "csapi/client/cs_records.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

namespace {

/* Calls a stored callback through its kind's exact type. */
using Invoker = void (*)(csCallbackFunc func, const void *record, uint32_t flags, uintptr_t userDefined);

#define CS_INVOKER(Name, Enum, P)                                                                    \
  void invoke_##Name(csCallbackFunc func, const void *record, uint32_t flags, uintptr_t userDefined) { \
    reinterpret_cast<cs##Name##Callback>(func)(static_cast<const CS##Name *>(record),                  \
                                               static_cast<Enum>(static_cast<int32_t>(flags)), userDefined); \
  }
CS_RECORD_KINDS(CS_INVOKER)
#undef CS_INVOKER

#define CS_INVOKER_ROW(Name, Enum, P) &invoke_##Name,
const Invoker kInvokers[CS_KIND_COUNT] = {CS_RECORD_KINDS(CS_INVOKER_ROW)};
#undef CS_INVOKER_ROW

/* Room for the largest record any notification carries (the record lives on
 * the handler's stack for the duration of the callbacks). */
constexpr size_t max_size(const size_t *s, size_t n) {
  size_t m = 0;
  for (size_t i = 0; i < n; ++i) m = s[i] > m ? s[i] : m;
  return m;
}
#define CS_NOTIFY_SIZE(Event, Kind, Param) sizeof(CS##Kind),
constexpr size_t kSizes[] = {CS_NOTIFY_ALL(CS_NOTIFY_SIZE)};
#undef CS_NOTIFY_SIZE
constexpr size_t kMaxRecord = max_size(kSizes, sizeof kSizes / sizeof kSizes[0]);
static_assert(sizeof kSizes / sizeof kSizes[0] == 55, "55 notifications");
static_assert(kMaxRecord <= 16384, "notification records stay small enough for the stack");

#define CS_NOTIFY_CHECK(Event, Kind, Param) \
  static_assert(offsetof(CS##Kind, srvrInstance) == 0, "notification records start with srvrInstance");
CS_NOTIFY_ALL(CS_NOTIFY_CHECK)
#undef CS_NOTIFY_CHECK

int notify(const char *method, cs_kind kind, const char *param, int srvrInstance, ccom_msg_t *msg,
           const csCallbackEntry *callbacks) {
  csapi_client_test_count(method);
  RpcReq req;
  cJSON *tree = nullptr;
  int rc = msg && msg->data ? parseRpcReqMsg(&req, &tree, msg->data) : -1;
  if (msg && msg->data) cJSON_Delete(req.id);
  if (rc != 0 || !tree || !cJSON_IsObject(req.params)) {
    /* Nothing is called for a message that is no notification with a
     * "params" object; the line says which handler dropped it. */
    csLog(method, CS_LOG_WARNING, "not a notification with \"params\", dropped (instance %d)\n", srvrInstance);
    cJSON_Delete(tree);
    return CSAPI_ERR_BAD_MESSAGE;
  }

  alignas(std::max_align_t) unsigned char record[kMaxRecord];
  memset(record, 0, cs_record_size(kind));
  /* Without the record object the callbacks still learn of the change,
   * with an all-zero record. */
  const cJSON *obj = cJSON_GetObjectItem(req.params, param);
  if (obj) (void)cs_record_decode(kind, record, obj);
  uint32_t flags = cs_record_detail::unsigned_of(cJSON_GetObjectItem(req.params, "flags"));

  if (callbacks) {
    Invoker invoke = kInvokers[kind];
    for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES; ++i) {
      const csCallbackEntry &e = callbacks[i];
      if (!e.func || e.srvrInstance != (uintptr_t)(intptr_t)srvrInstance) continue;
      /* Every record kind starts with srvrInstance, except the dial lists,
       * which no notification carries. */
      int32_t inst = srvrInstance;
      memcpy(record, &inst, sizeof inst);
      invoke(e.func, record, flags, e.userDefined);
    }
  }
  cJSON_Delete(tree);
  return 0;
}

}  // namespace

#define CS_DEFINE_HANDLER(Event, Kind, Param)                                                    \
  extern "C" int cs##Event##CBClient(int srvrInstance, ccom_msg_t *msg, const csCallbackEntry *callbacks) { \
    return notify("cs" #Event "CBClient", CS_KIND_##Kind, Param, srvrInstance, msg, callbacks);                          \
  }
CS_NOTIFY_ALL(CS_DEFINE_HANDLER)
#undef CS_DEFINE_HANDLER
