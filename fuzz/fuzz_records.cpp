// libFuzzer target over the record decoders, encoders and the notification
// handlers. Input: one selector byte, then the text. The text is decoded as
// a record of kind selector % kinds (into an exact-size heap block, so the
// sanitizer sees any write past it), re-encoded and decoded again (the
// second and third encodings must agree), and handed as a message to the
// handler of notification selector % 55 with a callback table whose
// callbacks read every byte of the record they get.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <cjson/cJSON.h>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/cs_records.h"
#include "ipc/libccom/ccom.h"

namespace {

volatile unsigned g_sink;
int g_instance;

template <typename T, typename E>
void touch(const T *rec, E flags, uintptr_t userDefined) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(rec);
  unsigned sum = (unsigned)flags + (unsigned)userDefined;
  for (size_t i = 0; i < sizeof(T); ++i) sum += b[i];
  g_sink = sum;
  int32_t inst;
  memcpy(&inst, rec, sizeof inst);
  if (inst != g_instance) abort();  // the record always names the connection it came on
}

#define FUZZ_TOUCH(Name, Enum, P) reinterpret_cast<csCallbackFunc>(static_cast<cs##Name##Callback>(&touch<CS##Name, Enum>)),
const csCallbackFunc kTouch[CS_KIND_COUNT] = {CS_RECORD_KINDS(FUZZ_TOUCH)};
#undef FUZZ_TOUCH

struct Handler {
  csMarshFunc func;
  cs_kind kind;
};
#define FUZZ_HANDLER(Event, Kind, Param) {&cs##Event##CBClient, CS_KIND_##Kind},
const Handler kHandlers[] = {CS_NOTIFY_ALL(FUZZ_HANDLER)};
#undef FUZZ_HANDLER
constexpr size_t kHandlerCount = sizeof kHandlers / sizeof kHandlers[0];

std::string print(const cJSON *j) {
  char *t = cJSON_PrintUnformatted(j);
  std::string s = t ? t : "";
  cJSON_free(t);
  return s;
}

/* Decodes obj into a fresh record of kind and returns its encoding. */
cJSON *reencode(cs_kind kind, const cJSON *obj, unsigned char fill) {
  size_t size = cs_record_size(kind);
  unsigned char *rec = static_cast<unsigned char *>(malloc(size));
  if (!rec) return nullptr;
  memset(rec, fill, size);
  if (cs_record_decode(kind, rec, obj) != 0) abort();
  cJSON *out = cs_record_encode(kind, rec);
  free(rec);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const unsigned sel = data[0];
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  cJSON *root = cJSON_ParseWithLength(text.data(), text.size());
  const cs_kind kind = (cs_kind)(sel % CS_KIND_COUNT);
  cJSON *e1 = reencode(kind, root, (unsigned char)sel);
  if (e1) {
    cJSON *e2 = reencode(kind, e1, 0xA5);
    cJSON *e3 = e2 ? reencode(kind, e2, 0x00) : nullptr;
    if (e2 && e3 && print(e2) != print(e3)) abort();
    cJSON_Delete(e3);
    cJSON_Delete(e2);
    cJSON_Delete(e1);
  }
  cJSON_Delete(root);

  const Handler &h = kHandlers[sel % kHandlerCount];
  csCallbackEntry table[CS_CALLBACK_TABLE_ENTRIES] = {};
  g_instance = (int)(sel % 10);
  table[0] = {kTouch[h.kind], 1, (uintptr_t)g_instance};
  table[50] = {kTouch[h.kind], 2, (uintptr_t)(g_instance + 1)};
  table[99] = {kTouch[h.kind], 3, (uintptr_t)g_instance};
  ccom_msg_t msg;
  msg.next = msg.prev = nullptr;
  msg.data = &text[0];
  msg.size = (uint32_t)text.size();
  msg.len = (uint32_t)text.size();
  int rc = h.func(g_instance, &msg, table);
  if (rc != 0 && rc != -2) abort();
  return 0;
}
