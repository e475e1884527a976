/* The notification handlers the worker registers, in this order, for server
 * instance 0 (the instance the service's single connection gets), each with
 * the set-up's cookie as its userDefined value. Every handler runs on the
 * worker thread. The rows, X(notification, callback, record kind), live with
 * the interfaces that own the callbacks (service/interfaces/kyr_handlers.h);
 * a callback that is not linked in is skipped with a log line. */
#ifndef KYR_NOTIFY_TABLE_H
#define KYR_NOTIFY_TABLE_H

#include "service/interfaces/kyr_handlers.h"

#define KYR_WORKER_HANDLER_LIST(X) KYR_INTERFACE_HANDLER_LIST(X)

#endif
