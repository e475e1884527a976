/* Notification callbacks: the registries, the notification queue and the
 * processing loop.
 *
 * Threads: the transport's reader threads post notifications; any thread
 * may process. csCallbackAdd/Delete/Process use the calling thread's own
 * registry, which only that thread sees; the csGlobal* variants share one
 * locked registry. Callbacks run on the processing thread, inside
 * csCallbackProcess, and may add or remove callbacks.
 *
 * Delivery: every registry that processes reads every notification, in the
 * order the connections received them, each message whole. The queue is a
 * preallocated ring of CSAPI_NOTIFY_RING_SIZE bytes shared by all
 * registries; posting copies the message once and never allocates. A
 * registry counts as processing while a thread waited on it within the last
 * second (or is waiting on it now). When the ring is full and the oldest
 * record is still unread by a processing registry, the connection's reader
 * thread waits for that registry, at most 100 ms per message; so a
 * processing thread that keeps up on average loses nothing, however bursty
 * the traffic. Registries that do not process (never did, stopped more than
 * a second ago, or whose thread is inside a synchronous call from a
 * callback, whose answer is behind the notification) are never waited for,
 * and once a wait for a registry has run out the writer stops waiting for
 * it until it waits on the queue again: an idle or stuck registry costs the
 * connection at most one 100 ms pause. A registry that is overrun loses the
 * oldest notifications it had not read; it is told on its next read by a
 * WARNING line "notification queue overran this reader, N notifications
 * lost" and goes on with the oldest intact one. */
#ifndef CSAPI_CALLBACK_H
#define CSAPI_CALLBACK_H

#include <stdint.h>

#include "csapi/client/cs_dispatch.h"
#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* Size of the notification ring and the offset past which no record may
 * end (the writer then goes back to offset 0). */
#define CSAPI_NOTIFY_RING_SIZE 1048576
#define CSAPI_NOTIFY_RING_LIMIT 1048571
/* Slots of a registry's name table. */
#define CSAPI_CALLBACK_HASH_SLOTS 128

/* Adds a callback for notification name on instance. The number of names in
 * the registry (>= 1), or -1 (no registry, out of memory, the name's 100
 * entries in use). Adding an identical (func, userDefined, instance) again
 * changes nothing. */
KYR_API int csCallbackAdd(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined);
KYR_API int csGlobalCallbackAdd(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined);
/* Removes it; the number of names left, or -1 without a registry. */
KYR_API int csCallbackDelete(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined);
KYR_API int csGlobalCallbackDelete(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined);
/* Waits up to timeoutMs for notifications and dispatches each to its
 * callbacks, until a wait of timeoutMs passes with none. The number
 * dispatched; without any: -6, or 0 when timeoutMs is 0. -18 at once when
 * no instance is connected, -12 without a message buffer. */
KYR_API int csCallbackProcess(int timeoutMs);
KYR_API int csGlobalCallbackProcess(int timeoutMs);
/* -18 unless instance is ready; otherwise as csCallbackProcess. */
KYR_API int csCallbackProcessPerInstance(int instance, int timeoutMs);

/* global: 1 the shared registry, 0 the calling thread's. */
KYR_API int csapi_client_callback_add(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined,
                                      int global);
KYR_API int csapi_client_callback_delete(int instance, const char *name, csCallbackFunc func,
                                         uintptr_t userDefined, int global);
KYR_API int csapi_client_process_callbacks(int timeoutMs, int global);
KYR_API int callback_add_client(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined,
                                int global);
KYR_API int callback_delete_client(int instance, const char *name, csCallbackFunc func, uintptr_t userDefined,
                                   int global);

/* Queues one notification message (reader thread), waiting as described
 * above for processing registries. Returns 0; a message that cannot fit in
 * the ring is dropped with an ERR line. */
KYR_API int callback_postmsg(int instance, const char *method, ccom_msg_t *msg);
/* Takes the registry's next notification into msg. 0, -1 for null
 * arguments, -10 without a registry, -6 when timeoutMs passed. */
KYR_API int callback_waitmsg(int *instance, ccom_msg_t *msg, int timeoutMs, int global);
/* Copies name's CS_CALLBACK_TABLE_ENTRIES entries into dest. 0, or -1. */
KYR_API int callback_lookup_client(const char *name, csCallbackEntry *dest, int global);
/* Lets other threads read the calling thread's registry (one thread at a
 * time: the service's worker, so that synthetic notifications reach its
 * callbacks). From then on the owner's changes to it are locked. 0, or -1
 * when the registry cannot be had. */
KYR_API int csCallbackShareThreadRegistry(void);
/* Withdraws it again (also done when the thread ends); waits until no other
 * thread runs its callbacks any more. */
KYR_API void csCallbackUnshareThreadRegistry(void);
/* Runs fn on the calling thread with a copy of name's callback table in the
 * shared registry; the registry's owner cannot withdraw it meanwhile. 0, or
 * -1 when no registry is shared or it has no callbacks for name. fn must not
 * withdraw the registry itself. */
KYR_API int callback_run_shared(const char *name, void (*fn)(const csCallbackEntry *table, void *ctx), void *ctx);
/* Moves the calling thread's registry to the newest position in the queue:
 * notifications already queued (from an earlier session of this process)
 * are never delivered to it. A thread that starts a new session of
 * notification processing calls this first. 0, or -1 when the registry
 * cannot be had. */
KYR_API int csCallbackSkipQueued(void);
KYR_API int callback_init(void);
KYR_API int callback_exit(void);

KYR_EXTERN_C_END

#endif
