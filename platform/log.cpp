#include "platform/kyr_log.h"

#include <android/log.h>
#include <atomic>
#include <cstdio>

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

}  // namespace

extern "C" void kyr_log_set_sink(kyr_log_sink_fn fn, void *user) {
  const Sink *s = fn ? new Sink{fn, user} : nullptr;
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
