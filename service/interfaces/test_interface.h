/* The Java test interface (quorvex.kyrconnectservice.TestSubSystemInterface):
 * emulation switches, synthetic notifications and call metrics, over the
 * client's test hooks (csapi/client/test/csapi_test.h).
 *
 * Every entry point is thin and runs on its Java caller. Synthetic
 * notifications are delivered later, on the test wake-up thread, to the
 * callbacks the service's worker registered. */
#ifndef KYR_TEST_INTERFACE_H
#define KYR_TEST_INTERFACE_H

#include <jni.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* Switches emulation off (only_connect: only "CONNECT"): 1 when nothing was
 * on; otherwise drops server instance 0, waits settle_ms for the service to
 * notice and returns 0. */
int kyr_test_emulate_disable(int only_connect, int settle_ms);
/* The time NativeEmulateDisable gives the service to notice the dropped
 * connection. */
#define KYR_TEST_DISABLE_SETTLE_MS 5000

/* The deliveries of synthetic notifications since the last call, as
 * (type, flags, callbacks called or -1 when none was registered,
 * milliseconds from queueing to delivery) quadruples in out; the number of
 * quadruples (at most max). */
int kyr_test_take_deliveries(int *out, int max);

/* Entry points, declared from the table in test_interface.cpp:
 * Java_quorvex_kyrconnectservice_TestSubSystemInterface_<name>. */

KYR_EXTERN_C_END

#endif
