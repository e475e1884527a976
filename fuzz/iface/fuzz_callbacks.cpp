// libFuzzer target over the 45 notification callbacks of the interfaces.
// Input: a selector byte (callback = selector % 45), four bytes of field
// flags, then the bytes of the record (repeated to fill it). The record is
// made one the decoders could hand out (text terminated, list counts within
// their lists, doubles finite, server instance 0) and given to the callback
// the way the worker does. The events it posts are captured instead of going
// to Java (send_event is wrapped at link time: -Wl,--wrap=send_event): every
// list or record an event names must be readable to its last byte while the
// event is delivered; what is still registered after the callback returns
// is Java's to release and is released here. Running the same input twice
// must not leave more handles registered the second time (a leak).
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kyr_handles.h"
#include "service/kyr_service.h"

namespace {

// ---- plausible records ----

#define PF_DECLARE(Name) void plausible(CS##Name *r);
#define PF_DECLARE_RECORD(Name, Enum, P) PF_DECLARE(Name)
CS_ELEMENT_KINDS(PF_DECLARE)
CS_RECORD_KINDS(PF_DECLARE_RECORD)
#undef PF_DECLARE_RECORD
#undef PF_DECLARE

void clamp_count(int32_t *count, int32_t cap) {
  if (!count) return;
  if (*count < 0) *count = 0;
  if (*count > cap) *count = cap;
}

#define PF_I32(n, c, a)
#define PF_U32(n, c, a)
#define PF_EVENT(n, c, a)
#define PF_DBL(n, c, a) \
  if (!isfinite(r->n)) r->n = 0;
#define PF_COUNT(n, c, a) count = &r->n;
#define PF_TEXT(n, c, a) r->n[(c)-1] = '\0';
#define PF_LIST(n, c, a)                           \
  clamp_count(count, c);                           \
  count = nullptr;                                 \
  for (int i = 0; i < (c); i++) plausible(&r->n[i]);
#define PF_STRS(n, c, a)   \
  clamp_count(count, c);   \
  count = nullptr;         \
  for (int i = 0; i < (c); i++) r->n[i][(a)-1] = '\0';
#define PF_STRSKEEP(n, c, a) PF_STRS(n, c, a)
#define PF_ROW(t, n, c, a, f) PF_##t(n, c, a)
#define PF_DEFINE(Name)           \
  __attribute__((unused)) void plausible(CS##Name *r) { \
    int32_t *count = nullptr;     \
    (void)r;                      \
    (void)count;                  \
    CS_FIELDS_##Name(PF_ROW)      \
  }
#define PF_DEFINE_RECORD(Name, Enum, P) PF_DEFINE(Name)
CS_ELEMENT_KINDS(PF_DEFINE)
CS_RECORD_KINDS(PF_DEFINE_RECORD)
#undef PF_DEFINE_RECORD
#undef PF_DEFINE

// ---- the callbacks, in the worker's order ----

struct Callback {
  const char *name;
  size_t size;
  void (*run)(void *rec, unsigned flags, uintptr_t userDefined);  // null: not linked
};

#define CB_ROW(notification, fn, Kind)                                                        \
  {notification, sizeof(CS##Kind),                                                          \
   fn ? +[](void *rec, unsigned flags, uintptr_t ud) {                                       \
     CS##Kind *r = static_cast<CS##Kind *>(rec);                                             \
     plausible(r);                                                                           \
     r->srvrInstance = 0;                                                                    \
     fn(r, flags, ud);                                                                       \
   }                                                                                         \
      : nullptr},
const Callback kCallbacks[] = {KYR_INTERFACE_HANDLER_LIST(CB_ROW)};
#undef CB_ROW
constexpr size_t kCallbackCount = sizeof kCallbacks / sizeof kCallbacks[0];

// Stands in for the set-up's cookie: the callbacks only pass it on.
alignas(16) unsigned char g_cookie[256];

std::vector<int32_t> g_posted;  // handles named by events of the current run
volatile unsigned g_sink;

void touch_block(int32_t h) {
  void *p = kyr_handle_resolve(h, 0, KYR_HANDLE_ANY);
  if (!p) return;
  const unsigned char *b = static_cast<const unsigned char *>(p);
  unsigned sum = 0;
  for (size_t i = 0, n = kyr_handle_capacity(h); i < n; i++) sum += b[i];
  g_sink = sum;
}

// Java's part: release every list or record an event handed over.
void release_posted() {
  for (int32_t h : g_posted) {
    if (kyr_handle_resolve(h, 0, KYR_HANDLE_LIST)) {
      kyr_list_release(h, "fuzz");
    } else if (void *rec = kyr_handle_resolve(h, 0, KYR_HANDLE_RECORD)) {
      (void)rec;
      free(kyr_handle_release(h, KYR_HANDLE_RECORD, "fuzz"));
    }
  }
  g_posted.clear();
}

}  // namespace

// Every event the interfaces post lands here instead of in Java.
extern "C" void __wrap_send_event(callback_cookie *cookie, int code, int value1, int value2, jobject obj) {
  (void)cookie;
  (void)code;
  (void)obj;
  for (int v : {value1, value2}) {
    if (v <= 0) continue;
    touch_block(v);
    if (kyr_handle_resolve(v, 0, KYR_HANDLE_LIST) || kyr_handle_resolve(v, 0, KYR_HANDLE_RECORD))
      g_posted.push_back(v);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  const Callback &cb = kCallbacks[data[0] % kCallbackCount];
  if (!cb.run) return 0;
  unsigned flags;
  memcpy(&flags, data + 1, 4);
  data += 5;
  size -= 5;
  std::vector<unsigned char> rec(cb.size);
  for (size_t i = 0; i < cb.size; i++) rec[i] = size ? data[i % size] : 0;
  size_t counts[2];
  for (size_t &count : counts) {
    std::vector<unsigned char> copy = rec;  // the callback gets a const record; plausible() edits a copy
    cb.run(copy.data(), flags, reinterpret_cast<uintptr_t>(g_cookie));
    release_posted();
    count = kyr_handle_count();
  }
  if (counts[1] > counts[0]) {
    fprintf(stderr, "%s left %zu more handles registered on a second run\n", cb.name, counts[1] - counts[0]);
    abort();
  }
  return 0;
}
