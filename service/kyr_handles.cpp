#include "service/kyr_handles.h"

#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/kyr_log.h"

namespace {

const char kTag[] = "KyrConnectLib";

struct Block {
  void *ptr;
  size_t capacity;
  kyr_handle_kind kind;
};

struct Registry {
  std::mutex mu;
  std::unordered_map<int32_t, Block> byHandle;
  std::unordered_map<const void *, int32_t> byPtr;
  int32_t next = KYR_HANDLE_MIN;
};

/* Never destroyed: threads may still release handles while the process
 * exits. */
Registry &registry() {
  static Registry *r = new Registry;
  return *r;
}

/* Caller holds mu. */
int32_t add_locked(Registry &r, void *ptr, size_t capacity, kyr_handle_kind kind) {
  if (r.byHandle.size() >= KYR_HANDLE_LIMIT) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "handle table full (%d live handles)", (int)r.byHandle.size());
    return -1;
  }
  /* Below the limit at least one value is free, so this ends. */
  int32_t h = r.next;
  while (r.byHandle.count(h)) h = (h == KYR_HANDLE_MAX) ? KYR_HANDLE_MIN : h + 1;
  r.next = (h == KYR_HANDLE_MAX) ? KYR_HANDLE_MIN : h + 1;
  try {
    r.byHandle.emplace(h, Block{ptr, capacity, kind});
    r.byPtr[ptr] = h;
  } catch (const std::bad_alloc &) {
    r.byHandle.erase(h);
    kyr_log_printf(KYR_LOG_ERROR, kTag, "handle table: out of memory");
    return -1;
  }
  return h;
}

bool kind_matches(kyr_handle_kind want, kyr_handle_kind have) { return want == KYR_HANDLE_ANY || want == have; }

}  // namespace

extern "C" int32_t kyr_handle_register(void *ptr, size_t capacity, kyr_handle_kind kind) {
  if (!ptr) return -1;
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  return add_locked(r, ptr, capacity, kind);
}

extern "C" int32_t kyr_handle_for(void *ptr, size_t capacity, kyr_handle_kind kind) {
  if (!ptr) return -1;
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  auto it = r.byPtr.find(ptr);
  if (it != r.byPtr.end()) {
    Block &b = r.byHandle.at(it->second);
    if (b.kind == kind) {
      if (capacity > b.capacity) b.capacity = capacity;
      return it->second;
    }
  }
  return add_locked(r, ptr, capacity, kind);
}

extern "C" void *kyr_handle_resolve(int32_t handle, size_t capacity, kyr_handle_kind kind) {
  if (handle < KYR_HANDLE_MIN) return nullptr;
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  auto it = r.byHandle.find(handle);
  if (it == r.byHandle.end() || !kind_matches(kind, it->second.kind) || capacity > it->second.capacity)
    return nullptr;
  return it->second.ptr;
}

extern "C" size_t kyr_handle_capacity(int32_t handle) {
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  auto it = r.byHandle.find(handle);
  return it == r.byHandle.end() ? 0 : it->second.capacity;
}

extern "C" void *kyr_handle_release(int32_t handle, kyr_handle_kind kind, const char *tag) {
  Registry &r = registry();
  std::unique_lock<std::mutex> g(r.mu);
  auto it = r.byHandle.find(handle);
  if (it == r.byHandle.end() || !kind_matches(kind, it->second.kind)) {
    g.unlock();
    kyr_log_printf(KYR_LOG_ERROR, tag ? tag : kTag, "release: unknown handle %d ignored", (int)handle);
    return nullptr;
  }
  void *ptr = it->second.ptr;
  auto p = r.byPtr.find(ptr);
  if (p != r.byPtr.end() && p->second == handle) r.byPtr.erase(p);
  r.byHandle.erase(it);
  return ptr;
}

extern "C" void kyr_handle_forget(const void *ptr) {
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  auto p = r.byPtr.find(ptr);
  if (p == r.byPtr.end()) return;
  r.byHandle.erase(p->second);
  r.byPtr.erase(p);
}

extern "C" size_t kyr_handle_count(void) {
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  return r.byHandle.size();
}

extern "C" void kyr_handle_debug_set_next(int32_t next) {
  if (next < KYR_HANDLE_MIN) next = KYR_HANDLE_MIN;
  Registry &r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  r.next = next;
}

extern "C" jobject kyr_handle_direct_buffer(JNIEnv *env, jlong handle, jlong capacity) {
  if (!env || capacity < 0) return nullptr;
  // A value outside the handle range names nothing; cutting it to 32 bits
  // would alias another block (0x100000005 would read handle 5).
  const int32_t h = (handle >= KYR_HANDLE_MIN && handle <= KYR_HANDLE_MAX) ? (int32_t)handle : 0;
  Registry &r = registry();
  void *ptr = nullptr;
  {
    std::lock_guard<std::mutex> g(r.mu);
    auto it = r.byHandle.find(h);
    if (it != r.byHandle.end() && it->second.kind != KYR_HANDLE_COOKIE && (uint64_t)capacity <= it->second.capacity)
      ptr = it->second.ptr;
  }
  if (!ptr) {
    kyr_log_printf(KYR_LOG_WARN, kTag, "newDirectByteBuffer: no block for handle %d of %lld bytes", (int)h,
                   (long long)capacity);
    return nullptr;
  }
  return env->NewDirectByteBuffer(ptr, capacity);
}
