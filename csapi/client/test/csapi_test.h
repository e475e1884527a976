/* Test hooks of the CSAPI client: emulation switches per test subsystem,
 * synthetic change notifications, and counters of exercised client
 * functions written as a comma-separated report.
 *
 * Threads and locks (three independent locks, never held together):
 *   s_emulateStateMutex  the switches and settings of the subsystem table
 *   test_callback_mut    the synthetic notification queue
 *   s_metricsStateMutex  the metrics state, table and every counter
 * Any thread may call any function here. Synthetic notifications are
 * delivered on the test wake-up thread, started by the first queued one:
 * it takes the entries that are due off the queue under test_callback_mut,
 * lets go of it, and then runs the callbacks of the registry the service's
 * worker shares (csCallbackShareThreadRegistry), through a locked copy of
 * the name's table (callback_run_shared). So a notification reaches the
 * worker's callbacks whether or not a codec is connected, and a callback
 * may queue further notifications. Callbacks get the record as it was
 * queued; its flagged fields are merged into the virtual record of its kind
 * first. The virtual records are guarded by their own lock, taken only for
 * copies and merges. */
#ifndef CSAPI_TEST_H
#define CSAPI_TEST_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* ---- test subsystems and their emulation switches ---- */

#define CSAPI_TEST_SUBSYSTEMS 11
/* Table order: "AUDIO", "COMM", "DIRECTORY", "CALENDAR", "VIDEO", "CONTENT",
 * "SECURITY", "HOME", "CAMERA", "SYSTEM", "CONNECT". */
enum {
  CSAPI_TEST_AUDIO,
  CSAPI_TEST_COMM,
  CSAPI_TEST_DIRECTORY,
  CSAPI_TEST_CALENDAR,
  CSAPI_TEST_VIDEO,
  CSAPI_TEST_CONTENT,
  CSAPI_TEST_SECURITY,
  CSAPI_TEST_HOME,
  CSAPI_TEST_CAMERA,
  CSAPI_TEST_SYSTEM,
  CSAPI_TEST_CONNECT
};

/* The subsystem's name, null past the table. */
const char *csapi_client_test_subsystem_name(int index);
/* The table index of name, -1 when it is none. */
int csapi_client_test_subsystem_index(const char *name);

/* Switches name on with the switched-on values (no delays or time-outs,
 * triggered events after 100 ms). "COMM" also switches on "VIDEO" and
 * "CAMERA". An already enabled subsystem keeps its settings. 0, or 2 for an
 * unknown name. */
int csapi_client_test_enable_emulation(const char *name);
/* Switches every subsystem off (only_connect: only "CONNECT"). 1 when none
 * of them was on; otherwise 0 (the caller then drops the connection). */
int csapi_client_test_disable_emulation(int only_connect);

/* Which setting csapi_client_test_set_setting changes. */
enum {
  CSAPI_TEST_RSP_DELAY,
  CSAPI_TEST_RSP_TIMEOUT,
  CSAPI_TEST_TRIGGER_DELAY,
  CSAPI_TEST_TRIGGER_ENABLE
};
/* Sets one setting of subsystem name. 0, or 1 for a name not in the table. */
int csapi_client_test_set_setting(const char *name, int which, int value);
/* The settings of an emulated subsystem (any output may be null). 0, 1 when
 * it is not emulated, 2 for an unknown name. */
int csapi_client_test_get_settings(const char *name, int *rspDelay, int *rspTimeout, int *triggerDelay,
                                   int *triggerEnable);

/* Set by the test interface; nothing in the client reads it yet. */
extern int injectServerResponseTimeout;

/* ---- synthetic notifications ---- */

/* Notification types: the name looked up and the record kind carried. */
#define CSAPI_TEST_CB_TYPES(X)                                                                          \
  X(0, AUDIO_CHANGED, "csAudioChangedCB", Audio, "csAudioChangedCBClient")                              \
  X(1, AUDIOIN_CHANGED, "csAudioInChangedCB", AudioIn, "csAudioInChangedCBClient")                      \
  X(2, AUDIOOUT_CHANGED, "csAudioOutChangedCB", AudioOut, "csAudioOutChangedCBClient")                  \
  X(3, COMM_CHANGED, "csCommChangedCB", Comm, "csCommChangedCBClient")                                  \
  X(4, CONF_CHANGED, "csConfChangedCB", Conf, "csConfChangedCBClient")                                  \
  X(5, TERM_CHANGED, "csTermChangedCB", Term, "csTermChangedCBClient")                                  \
  X(6, VIDEOOUTLAYOUT_CHANGED, "csVideoOutLayoutChangedCB", VideoOutLayout, "csVideoOutLayoutChangedCBClient") \
  X(7, VIDEOOUTLAYOUTCAP_CHANGED, "csVideoOutLayoutCapChangedCB", VideoOutLayoutCap,                   \
    "csVideoOutLayoutCapChangedCBClient")                                                               \
  X(8, CAMERAFARGROUP_ADDED, "csCameraFarGroupAddedCB", CameraFarGroup, "csCameraFarGroupAddedCBClient") \
  X(9, CAMERA_ADDED, "csCameraAddedCB", Camera, "csCameraAddedCBClient")

#define CSAPI_TEST_CB_ENUM(n, NAME, method, Kind, handler) TESTCB_##NAME = n,
enum { CSAPI_TEST_CB_TYPES(CSAPI_TEST_CB_ENUM) TESTCB_TYPE_COUNT };
#undef CSAPI_TEST_CB_ENUM

/* Queues a copy of record (of the type's kind) with its field flags, to be
 * delivered delayMs (negative: 0) from now, about 100 ms late at the
 * earliest. Entries due at once are delivered in queue order. 0, -1 for a
 * bad type or a null record, -12 when memory runs out. */
int callback_test_post(int type, const void *record, unsigned int flags, int delayMs);
/* Delivers every queued entry due within the next 100 ms (the wake-up
 * thread's step). The number taken off the queue. */
int process_test_cb_q(void);
/* Sleeps ms, resuming after interruptions. 0, or -1 on another failure. */
int doNanosleep(long ms);

/* Copies the virtual record of type into out (created on first use). */
void csapi_client_test_virtual_get(int type, void *out);

/* The synthetic notifications the test interface queues: one field of the
 * virtual audio, audio input or output record set to value. 0, or the
 * queueing result. */
enum {
  CSAPI_TEST_AUDIO_VOLUME,
  CSAPI_TEST_AUDIO_MUTE,
  CSAPI_TEST_AUDIO_NUM_INS,
  CSAPI_TEST_AUDIO_NUM_OUTS,
  CSAPI_TEST_AUDIO_MUTE_AUTO_ANSWER,
  CSAPI_TEST_AUDIOIN_VOLUME,
  CSAPI_TEST_AUDIOIN_MUTE,
  CSAPI_TEST_AUDIOOUT_VOLUME,
  CSAPI_TEST_AUDIOOUT_MUTE
};
int csapi_client_test_emulate_audio(int which, int value, int delayMs);
/* The scripted incoming call (16 notifications, all with delayMs). 0, or the
 * first failing queueing result. */
int csapi_client_test_emulate_incoming_call(int delayMs);

/* What happened to each processed entry, oldest first, for tests and
 * diagnostics: the last 64 are kept. */
typedef struct csapi_test_delivery {
  int type;
  unsigned int flags;
  int callbacks;      /* callbacks called; -1 when none was registered */
  int64_t queuedMs;   /* monotonic clock, milliseconds */
  int64_t deliveredMs;
} csapi_test_delivery;
/* Moves up to max records into out (they are forgotten); the number moved. */
int csapi_client_test_take_deliveries(csapi_test_delivery *out, int max);

/* ---- call metrics ---- */

#define CSAPI_TEST_METRICS_FUNCS 223
#define CSAPI_TEST_METRICS_BUCKETS 251

/* The ELF hash of name. */
unsigned int ELFHash(const char *name);
/* The subsystem a client function belongs to by its name prefix, -1 (with
 * an ERR line) when none. */
int get_csapi_client_test_func_subsysytem(const char *name);

/* Switches metrics on with every counter zeroed. 0, or 2 when the table
 * cannot be built (metrics stay off). */
int csapi_client_test_metrics_enable(void);
/* Switches them off: 0 when they were on, else 1. */
int csapi_client_test_metrics_disable(void);
/* Counts one call of func (emulated: 1 for a synthetic delivery). 0, 1
 * while metrics are off, 2 for an unknown function. */
int csapi_client_test_metrics(const char *func, int emulated);
/* The hook of the client functions: counts a codec-served call of func
 * while metrics are on; costs one atomic load while they are off. */
void csapi_client_test_count(const char *func);

enum { CSAPI_TEST_SCOPE_ALL, CSAPI_TEST_SCOPE_SUITE, CSAPI_TEST_SCOPE_CASE };
/* Writes the report of scope to path. 0; 1 when metrics are off, 2 when the
 * file cannot be written, 3 for an unknown scope. */
int csapi_client_test_metrics_report(const char *path, int scope);
/* Zeroes the suite and case counters (scope SUITE) or the case counters
 * (scope CASE). 0, or 1 when metrics are off. */
int csapi_client_test_metrics_reset(int scope);

/* For tests: the counters of func (either output may be null); 0, or -1
 * when the table does not hold it. */
int csapi_client_test_metrics_counts(const char *func, int scope, int *kyr, int *emulated);
/* For tests: the name at index of the sorted table, null past its end or
 * before it is built. */
const char *csapi_client_test_metrics_name(int index);
/* For tests: the allocation that fails next while building the table (1 the
 * first, 0 none). */
void csapi_client_test_debug_fail_alloc(int nth);

KYR_EXTERN_C_END

#endif
