/* Types shared by the notification dispatcher (client core) and the
 * notification handlers (record decoders): the callback table a handler is
 * given, and the (method name, handler) pairs each module registers. */
#ifndef CS_DISPATCH_H
#define CS_DISPATCH_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

typedef struct ccom_msg_t ccom_msg_t;

/* A registered callback as stored in a callback table. The record pointer is
 * the decoded CS record of the notification's kind; handlers cast func back
 * to the kind's exact callback type (for example csTermCallback) before
 * calling it. userDefined is pointer-sized so that a pointer given as user
 * data survives on 64-bit hosts. */
typedef void (*csCallbackFunc)(const void *record, unsigned int flags, uintptr_t userDefined);

typedef struct csCallbackEntry {
  csCallbackFunc func; /* null in a free entry */
  uintptr_t userDefined;
  uintptr_t srvrInstance;
} csCallbackEntry;

/* Entries in one name's callback table. */
#define CS_CALLBACK_TABLE_ENTRIES 100

/* Client-side notification handler: decodes the message held in msg and
 * calls every entry of callbacks (a CS_CALLBACK_TABLE_ENTRIES-long copy)
 * registered for srvrInstance. Returns 0, or -2 for a malformed message. */
typedef int (*csMarshFunc)(int srvrInstance, ccom_msg_t *msg, const csCallbackEntry *callbacks);

/* One row of a module's handler table; a row with a null name ends it, a
 * row with a null func removes the name. */
typedef struct csMarshEntry {
  const char *name;
  csMarshFunc func;
} csMarshEntry;

/* Registers a module table in the process-wide handler table (client core). */
KYR_API int csapi_client_add_marsh_table(const csMarshEntry *table);

/* The twelve module init/exit functions, registered by csapiClientInitAll in
 * this order. */
#define CS_MODULE_LIST(X) \
  X(csapi_types)          \
  X(addresslist)          \
  X(audioapi)             \
  X(videoapi)             \
  X(commapi)              \
  X(cameraapi)            \
  X(dirapi)               \
  X(contentapi)           \
  X(screenapi)            \
  X(secapi)               \
  X(sysapi)               \
  X(calapi)

#define CS_DECLARE_MODULE(m) KYR_API int m##ClientInit(void); KYR_API int m##ClientExit(void);
CS_MODULE_LIST(CS_DECLARE_MODULE)
#undef CS_DECLARE_MODULE

KYR_EXTERN_C_END

#endif
