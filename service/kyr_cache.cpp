#include "service/kyr_cache.h"

#include <string.h>

#include <mutex>

namespace {

template <typename T>
struct Cached {
  std::mutex mu;
  T rec;
  bool valid = false;
};

#define KYR_CACHE_DEFINE_SLOT(k, T) Cached<T> s_##k;
KYR_CACHED_RECORD_LIST(KYR_CACHE_DEFINE_SLOT)
#undef KYR_CACHE_DEFINE_SLOT

template <typename T>
int load(Cached<T> &c, T *out) {
  if (!out) return 0;
  std::lock_guard<std::mutex> g(c.mu);
  if (!c.valid) {
    memset(out, 0, sizeof *out);
    return 0;
  }
  memcpy(out, &c.rec, sizeof *out);
  return 1;
}

template <typename T>
void store(Cached<T> &c, const T *in) {
  if (!in) return;
  std::lock_guard<std::mutex> g(c.mu);
  memcpy(&c.rec, in, sizeof c.rec);
  c.valid = true;
}

}  // namespace

#define KYR_CACHE_DEFINE(k, T)                                              \
  extern "C" int kyr_cache_##k##_load(T *out) { return load(s_##k, out); }  \
  extern "C" void kyr_cache_##k##_store(const T *in) { store(s_##k, in); }  \
  extern "C" T *kyr_cache_##k##_lock(void) {                                \
    s_##k.mu.lock();                                                        \
    s_##k.valid = true;                                                     \
    return &s_##k.rec;                                                      \
  }                                                                         \
  extern "C" void kyr_cache_##k##_unlock(void) { s_##k.mu.unlock(); }
KYR_CACHED_RECORD_LIST(KYR_CACHE_DEFINE)
#undef KYR_CACHE_DEFINE

extern "C" void kyr_cache_clear_all(void) {
#define KYR_CACHE_CLEAR(k, T)                         \
  {                                                   \
    std::lock_guard<std::mutex> g(s_##k.mu);          \
    memset(&s_##k.rec, 0, sizeof s_##k.rec);          \
    s_##k.valid = false;                              \
  }
  KYR_CACHED_RECORD_LIST(KYR_CACHE_CLEAR)
#undef KYR_CACHE_CLEAR
}
