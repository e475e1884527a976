/* The settings list element and its list plumbing; the converters that fill
 * lists live beside it. */
#include <stdio.h>
#include <string.h>

#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"

extern "C" SettingsStruct *newSettingsElement(SettingsStruct **first, SettingsStruct **last, const char *key,
                                              const void *value, int is_text) {
  if (!first || !last || !key || !value) {
    kyr_log_printf(KYR_LOG_ERROR, KYR_SETTINGS_TAG, "%s: detected NULL element\n", "newSettingsElement");
    return nullptr;
  }
  /* Build through a kyr_list so the link words hold handles; the list's
   * state is re-derived from the caller's first/last slots each time. */
  kyr_list l = KYR_LIST_INIT;
  if (*last) {
    l.head = static_cast<int32_t>(SettingsListHandle(*first));
    l.first = *first;
    l.last = *last;
  }
  auto *e = static_cast<SettingsStruct *>(kyr_list_append(&l, sizeof(SettingsStruct), KYR_SETTINGS_TAG));
  if (!e) return nullptr;
  kyr_copy_text(e->name, sizeof e->name, key);
  if (is_text) {
    kyr_copy_text(e->value, sizeof e->value, static_cast<const char *>(value));
  } else {
    int v;
    memcpy(&v, value, sizeof v);
    snprintf(e->value, sizeof e->value, "%d", v);
  }
  if (!*first) *first = e;
  *last = e;
  return e;
}

extern "C" int64_t SettingsListHandle(const SettingsStruct *first) {
  if (!first) return 0;
  int32_t h = kyr_handle_for(const_cast<SettingsStruct *>(first), sizeof(SettingsStruct), KYR_HANDLE_LIST);
  return h > 0 ? h : 0;
}

extern "C" void SettingsListFree(SettingsStruct *first) {
  if (first) kyr_list_release(SettingsListHandle(first), KYR_SETTINGS_TAG);
}

/* -1 is a page that could not be read, not a list: Java may hand it back. */
extern "C" void SettingsListRelease(int64_t head) {
  if (head != -1) kyr_list_release(head, KYR_SETTINGS_TAG);
}
