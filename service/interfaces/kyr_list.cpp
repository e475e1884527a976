#include <stdlib.h>
#include <string.h>

#include "service/interfaces/kyr_iface.h"

namespace {

const size_t kLinkSize = sizeof(int32_t);

}  // namespace

extern "C" void *kyr_list_append(kyr_list *list, size_t node_size, const char *tag) {
  if (!list || node_size < kLinkSize) return nullptr;
  void *node = calloc(1, node_size);
  if (!node) {
    kyr_log_printf(KYR_LOG_ERROR, tag, "out of memory for a list node of %zu bytes\n", node_size);
    return nullptr;
  }
  int32_t h = kyr_handle_register(node, node_size, KYR_HANDLE_LIST);
  if (h < 0) {
    free(node);
    return nullptr;
  }
  if (list->last)
    memcpy(list->last, &h, kLinkSize);
  else
    list->head = h, list->first = node;
  list->last = node;
  list->count++;
  return node;
}

extern "C" int64_t kyr_list_take(kyr_list *list) {
  if (!list) return 0;
  int64_t head = list->head;
  *list = kyr_list KYR_LIST_INIT;
  return head;
}

extern "C" void kyr_list_discard(kyr_list *list) {
  if (!list) return;
  if (list->head) kyr_list_release(list->head, "KyrConnectLib");
  *list = kyr_list KYR_LIST_INIT;
}

extern "C" int kyr_list_release(int64_t head, const char *tag) {
  if (head == 0) return 0;
  if (head < KYR_HANDLE_MIN || head > KYR_HANDLE_MAX) {
    kyr_log_printf(KYR_LOG_ERROR, tag, "release of an unknown list %lld ignored\n", static_cast<long long>(head));
    return 0;
  }
  int freed = 0;
  int32_t h = static_cast<int32_t>(head);
  while (h != 0) {
    void *node = kyr_handle_release(h, KYR_HANDLE_LIST, tag);
    if (!node) break; /* unknown or already released: logged by the registry */
    int32_t next;
    memcpy(&next, node, kLinkSize);
    free(node);
    freed++;
    h = next;
  }
  return freed;
}

extern "C" void *kyr_list_node(int64_t handle, size_t size) {
  if (handle < KYR_HANDLE_MIN || handle > KYR_HANDLE_MAX) return nullptr;
  return kyr_handle_resolve(static_cast<int32_t>(handle), size, KYR_HANDLE_LIST);
}

extern "C" int32_t kyr_list_next(const void *node) {
  int32_t next = 0;
  if (node) memcpy(&next, node, kLinkSize);
  return next;
}

extern "C" int32_t kyr_node_copy(const void *rec, size_t size, const char *tag) {
  kyr_list l = KYR_LIST_INIT;
  char *node = static_cast<char *>(kyr_list_append(&l, kLinkSize + size, tag));
  if (!node) return -1;
  if (rec && size) memcpy(node + kLinkSize, rec, size);
  return static_cast<int32_t>(kyr_list_take(&l));
}

extern "C" void kyr_payload_free(int32_t handle) {
  if (kyr_handle_resolve(handle, 0, KYR_HANDLE_LIST)) {
    kyr_list_release(handle, "KyrConnectLib");
    return;
  }
  /* Records (directory entry changes) are single heap blocks. */
  free(kyr_handle_release(handle, KYR_HANDLE_RECORD, "KyrConnectLib"));
}

extern "C" int32_t kyr_static_handle(void *ptr, size_t size) { return kyr_handle_for(ptr, size, KYR_HANDLE_STATIC); }
