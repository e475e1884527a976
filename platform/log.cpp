#include "platform/kyr_log.h"

#include <android/log.h>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Sink {
  kyr_log_sink_fn fn;
  void *user;
};

/* Sinks are installed rarely (tests) and read on every line, from any
 * thread: publish them as immutable pairs through one atomic pointer.
 * Replaced pairs are kept (never freed) so a writer that loaded the old
 * pointer just before a swap still reads valid memory. */
std::atomic<const Sink *> g_sink{nullptr};

/* Every sink ever installed stays reachable from here, so leak checkers see
 * retired sinks as still owned rather than lost. */
std::mutex g_retired_mu;
std::vector<std::unique_ptr<const Sink>> g_retired;

}  // namespace

extern "C" void kyr_log_set_sink(kyr_log_sink_fn fn, void *user) {
  const Sink *s = fn ? new Sink{fn, user} : nullptr;
  if (s) {
    std::lock_guard<std::mutex> g(g_retired_mu);
    g_retired.emplace_back(s);
  }
  g_sink.store(s, std::memory_order_release);
}

extern "C" void kyr_log_write(int prio, const char *tag, const char *text) {
  if (!tag) tag = "";
  if (!text) text = "";
  const Sink *s = g_sink.load(std::memory_order_acquire);
  if (s) {
    s->fn(prio, tag, text, s->user);
    return;
  }
  __android_log_print(prio, tag, "%s", text);
}

extern "C" void kyr_log_vprintf(int prio, const char *tag, const char *fmt, va_list ap) {
  char buf[1024];
  if (!fmt) fmt = "";
  vsnprintf(buf, sizeof buf, fmt, ap);
  kyr_log_write(prio, tag, buf);
}

extern "C" void kyr_log_printf(int prio, const char *tag, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  kyr_log_vprintf(prio, tag, fmt, ap);
  va_end(ap);
}
