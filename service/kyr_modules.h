/* Each interface module's part in a connection's life, listed once. The
 * lifecycle runs the list and names no interface: adding an interface adds
 * its row here and its hooks in its own file.
 *
 * X(module, on_connect, on_pair, on_loss, on_release); every hook is
 * void hook(int instance), KYR_NO_HOOK for none:
 *   on_connect  a new connection is open, before authentication: forget
 *               what the previous one reported (Java thread)
 *   on_pair     the connection is authenticated (csAuth or csPair): fetch
 *               what the module caches (post-connect thread)
 *   on_loss     the connection is given up (disconnect, failed
 *               authentication, a new connect, the service closing): once
 *               per connection, after it is closed
 *   on_release  the set-up is released (NativeFinalize) */
#ifndef KYR_MODULES_H
#define KYR_MODULES_H

#include "platform/kyr_api.h"

#define KYR_NO_HOOK nullptr

#define KYR_MODULE_LIST(X)                                                                              \
  X(records, kyr_records_on_connect, kyr_records_on_pair, KYR_NO_HOOK, KYR_NO_HOOK)                    \
  X(directory, kyr_directory_on_connect, KYR_NO_HOOK, kyr_directory_on_loss, KYR_NO_HOOK)              \
  X(settings, KYR_NO_HOOK, KYR_NO_HOOK, kyr_settings_on_loss, kyr_settings_on_loss)

KYR_EXTERN_C_BEGIN

typedef void (*kyr_module_hook)(int instance);

typedef struct kyr_module_hooks {
  const char *name;
  kyr_module_hook on_connect, on_pair, on_loss, on_release;
} kyr_module_hooks;

typedef enum kyr_module_event {
  KYR_MODULE_CONNECT,
  KYR_MODULE_PAIR,
  KYR_MODULE_LOSS,
  KYR_MODULE_RELEASE
} kyr_module_event;

/* The hooks the rows name, defined in their modules' files. */
void kyr_records_on_connect(int instance);
void kyr_records_on_pair(int instance);
void kyr_directory_on_connect(int instance);
void kyr_directory_on_loss(int instance);
void kyr_settings_on_loss(int instance);

/* Runs every module's hook for event, in list order, on the calling thread. */
void kyr_modules_run(kyr_module_event event, int instance);

/* Test seam: one more module run after the listed ones (null: none). */
void kyr_modules_debug_set_extra(const kyr_module_hooks *extra);

KYR_EXTERN_C_END

#endif
