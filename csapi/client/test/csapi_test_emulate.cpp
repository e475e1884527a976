/* Emulation switches: one row of settings per test subsystem. */
#include <pthread.h>
#include <string.h>

#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

int injectServerResponseTimeout = 0;

namespace {

const char *const subsystemNames[CSAPI_TEST_SUBSYSTEMS] = {"AUDIO", "COMM",     "DIRECTORY", "CALENDAR",
                                                           "VIDEO", "CONTENT",  "SECURITY",  "HOME",
                                                           "CAMERA", "SYSTEM", "CONNECT"};

/* Delay of triggered events once switched on; the same value (and events
 * enabled) holds from load, before any switch. */
constexpr int kTriggerDelayOn = 100;

pthread_mutex_t s_emulateStateMutex = PTHREAD_MUTEX_INITIALIZER;
int eStates[CSAPI_TEST_SUBSYSTEMS];
int rspDelays[CSAPI_TEST_SUBSYSTEMS];
int rspTimeouts[CSAPI_TEST_SUBSYSTEMS];
int triggerDelays[CSAPI_TEST_SUBSYSTEMS] = {100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100};
int triggerEnables[CSAPI_TEST_SUBSYSTEMS] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

int *const kSettings[] = {rspDelays, rspTimeouts, triggerDelays, triggerEnables};

/* s_emulateStateMutex held. */
void switch_on(int i) {
  if (eStates[i]) {
    csLog("CSAPI", CS_LOG_WARNING, "csapi_client_test_enable_emulation: Already enabled %s", subsystemNames[i]);
    return;
  }
  eStates[i] = 1;
  rspDelays[i] = 0;
  rspTimeouts[i] = 0;
  triggerDelays[i] = kTriggerDelayOn;
  triggerEnables[i] = 1;
}

}  // namespace

const char *csapi_client_test_subsystem_name(int index) {
  return index >= 0 && index < CSAPI_TEST_SUBSYSTEMS ? subsystemNames[index] : nullptr;
}

int csapi_client_test_subsystem_index(const char *name) {
  if (!name) return -1;
  for (int i = 0; i < CSAPI_TEST_SUBSYSTEMS; i++)
    if (strcmp(subsystemNames[i], name) == 0) return i;
  return -1;
}

int csapi_client_test_enable_emulation(const char *name) {
  int i = csapi_client_test_subsystem_index(name);
  if (i < 0) {
    csLog("CSAPI", CS_LOG_ERR, "csapi_client_test_enable_emulation: unknown subsystem name %s", name ? name : "(null)");
    return 2;
  }
  pthread_mutex_lock(&s_emulateStateMutex);
  switch_on(i);
  /* Calls carry video and far cameras, so emulating calls emulates them. */
  if (i == CSAPI_TEST_COMM) {
    switch_on(CSAPI_TEST_VIDEO);
    switch_on(CSAPI_TEST_CAMERA);
  }
  pthread_mutex_unlock(&s_emulateStateMutex);
  return 0;
}

int csapi_client_test_disable_emulation(int only_connect) {
  int wasOn = 0;
  pthread_mutex_lock(&s_emulateStateMutex);
  for (int i = 0; i < CSAPI_TEST_SUBSYSTEMS; i++) {
    if (only_connect && i != CSAPI_TEST_CONNECT) continue;
    wasOn |= eStates[i];
    eStates[i] = 0;
  }
  pthread_mutex_unlock(&s_emulateStateMutex);
  return wasOn ? 0 : 1;
}

int csapi_client_test_set_setting(const char *name, int which, int value) {
  int i = csapi_client_test_subsystem_index(name);
  if (i < 0 || which < 0 || which > CSAPI_TEST_TRIGGER_ENABLE) return 1;
  pthread_mutex_lock(&s_emulateStateMutex);
  kSettings[which][i] = value;
  pthread_mutex_unlock(&s_emulateStateMutex);
  return 0;
}

int csapi_client_test_get_settings(const char *name, int *rspDelay, int *rspTimeout, int *triggerDelay,
                                   int *triggerEnable) {
  int i = csapi_client_test_subsystem_index(name);
  if (i < 0) return 2;
  int *out[] = {rspDelay, rspTimeout, triggerDelay, triggerEnable};
  pthread_mutex_lock(&s_emulateStateMutex);
  int rc = eStates[i] ? 0 : 1;
  if (rc == 0)
    for (int k = 0; k < 4; k++)
      if (out[k]) *out[k] = kSettings[k][i];
  pthread_mutex_unlock(&s_emulateStateMutex);
  return rc;
}
