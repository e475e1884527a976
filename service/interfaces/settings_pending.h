/* Weak references to the settings converters: an interface that includes
 * this builds while a converter is not linked in, and a missing converter
 * gives its failure value (-1) instead of an unresolved symbol. Include
 * after settings.h. */
#ifndef KYR_SETTINGS_PENDING_H
#define KYR_SETTINGS_PENDING_H

#include "service/interfaces/settings.h"

KYR_EXTERN_C_BEGIN
#define KYR_PENDING_UPDATE(fn, Kind) __attribute__((weak)) int64_t fn(const CS##Kind *record, unsigned int flags);
KYR_SETTINGS_UPDATE_LIST(KYR_PENDING_UPDATE)
#undef KYR_PENDING_UPDATE
#define KYR_PENDING_SYSTEM(fn) __attribute__((weak)) int64_t fn(void);
KYR_SETTINGS_SYSTEM_LIST(KYR_PENDING_SYSTEM)
#undef KYR_PENDING_SYSTEM
#define KYR_PENDING_SET(fn) __attribute__((weak)) int fn(const char *key, const char *value);
KYR_SETTINGS_SET_LIST(KYR_PENDING_SET)
#undef KYR_PENDING_SET
KYR_EXTERN_C_END

/* fn args, or fail when fn is not linked in. */
#define KYR_SETTINGS_CALL(fn, fail, args) ((fn) ? fn args : (fail))

#endif
