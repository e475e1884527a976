/* The one seam every native log line goes through.
 *
 * On Android (and on the Debian host, where android-liblog writes to stderr)
 * lines end in __android_log_print. Tests install a sink to capture each
 * line with its priority and tag; while a sink is installed it receives the
 * lines instead of the Android log. */
#ifndef KYR_LOG_H
#define KYR_LOG_H

#include <stdarg.h>
#include "platform/kyr_api.h"

/* Android log priorities, as in <android/log.h>. */
enum {
  KYR_LOG_VERBOSE = 2,
  KYR_LOG_DEBUG = 3,
  KYR_LOG_INFO = 4,
  KYR_LOG_WARN = 5,
  KYR_LOG_ERROR = 6,
  KYR_LOG_FATAL = 7
};

KYR_EXTERN_C_BEGIN

typedef void (*kyr_log_sink_fn)(int prio, const char *tag, const char *text, void *user);

/* Install (or with null remove) a capture sink. The sink may be called from
 * any thread at once and must do its own locking. */
KYR_API void kyr_log_set_sink(kyr_log_sink_fn fn, void *user);

/* Write one finished line. */
KYR_API void kyr_log_write(int prio, const char *tag, const char *text);

/* printf-style convenience: formats into a 1024-byte stack buffer (cut to
 * fit) and calls kyr_log_write. */
KYR_API void kyr_log_printf(int prio, const char *tag, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
KYR_API void kyr_log_vprintf(int prio, const char *tag, const char *fmt, va_list ap);

KYR_EXTERN_C_END

#endif
