/* The notification handlers the worker registers, in this order, for server
 * instance 0 (the instance the service's single connection gets), each with
 * the set-up's cookie as its userDefined value. Every handler runs on the
 * worker thread. A row is added when the Java-facing interface that owns
 * the handler lands:
 *
 *   X("csAudioChangedCB", on_audio_changed)
 *
 * with the handler declared (C linkage, csCallbackFunc-compatible) in the
 * header included below the list. Until then the worker does its own
 * connection-state work only (a lost connection is seen as -18 from
 * csCallbackProcess). */
#ifndef KYR_NOTIFY_TABLE_H
#define KYR_NOTIFY_TABLE_H

#define KYR_WORKER_HANDLER_LIST(X)

#endif
