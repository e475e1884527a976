/* The settings converters this interface calls, referenced weakly so the
 * interface builds and runs while the converters are still being written:
 * a converter that is not linked in makes the call fail (logged), it never
 * crashes. Include after service/interfaces/settings.h. */
#ifndef KYR_SETTINGS_LINK_H
#define KYR_SETTINGS_LINK_H

#include "platform/kyr_log.h"
#include "service/interfaces/settings.h"

/* Calls fn(args) when it is linked in, else logs under tag and yields fail. */
#define KYR_SETTINGS_CALL(tag, fail, fn, ...) \
  (kyr_settings_linked(reinterpret_cast<const void *>(&fn), #fn, tag) ? fn(__VA_ARGS__) : (fail))

static inline bool kyr_settings_linked(const void *fn, const char *name, const char *tag) {
  if (fn) return true;
  kyr_log_printf(KYR_LOG_ERROR, tag, "%s is not available in this build\n", name);
  return false;
}

#endif
