/* Call metrics: how often each CSAPI client function was called, by the
 * codec's answer or by a synthetic delivery, per function, subsystem and
 * process, in three scopes (all tests, test suite, test case). */
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

namespace {

/* ---- the functions counted, written once ---- */

#define CSAPI_TEST_OP_NAME(name, sig, args, target, timeout, result, params) #name,
#define CSAPI_TEST_HANDLER_NAME(Event, Kind, Param) "cs" #Event "CBClient",
const char *const kFunctionNames[] = {
#define CS_OP CSAPI_TEST_OP_NAME
#include "csapi/client/cs_ops.def"
#undef CS_OP
    CS_NOTIFY_ALL(CSAPI_TEST_HANDLER_NAME)
    /* the session */
    "csConnect", "csAuth", "csPair", "csUnpair", "csLogEnable", "csSrvrGet", "csDisconnect", "csSrvrCount",
    "csSrvrMax"};
#undef CSAPI_TEST_HANDLER_NAME
#undef CSAPI_TEST_OP_NAME
static_assert(sizeof kFunctionNames / sizeof kFunctionNames[0] == CSAPI_TEST_METRICS_FUNCS,
              "every client function is counted");

/* Tried in this order: the first matching prefix names the subsystem (so
 * "csLogEnable" counts under SYSTEM). */
struct Prefix {
  const char *prefix;
  int subsystem;
};
const Prefix kPrefixes[] = {
    {"csAudio", CSAPI_TEST_AUDIO},         {"csVideo", CSAPI_TEST_VIDEO},
    {"csCal", CSAPI_TEST_CALENDAR},        {"csTerm", CSAPI_TEST_COMM},
    {"csConf", CSAPI_TEST_COMM},           {"csIsdn", CSAPI_TEST_COMM},
    {"csComm", CSAPI_TEST_COMM},           {"csRecent", CSAPI_TEST_COMM},
    {"csH323", CSAPI_TEST_COMM},           {"csSip", CSAPI_TEST_COMM},
    {"csSpeaker", CSAPI_TEST_COMM},        {"csV35", CSAPI_TEST_COMM},
    {"csPots", CSAPI_TEST_COMM},           {"csQos", CSAPI_TEST_COMM},
    {"csFWTraversal", CSAPI_TEST_COMM},    {"CSFWTraversal", CSAPI_TEST_COMM},
    {"csLine", CSAPI_TEST_COMM},           {"csPreset", CSAPI_TEST_COMM},
    {"csCam", CSAPI_TEST_CAMERA},          {"csDir", CSAPI_TEST_DIRECTORY},
    {"csContent", CSAPI_TEST_CONTENT},     {"csSec", CSAPI_TEST_SECURITY},
    {"csSys", CSAPI_TEST_SYSTEM},          {"csTime", CSAPI_TEST_SYSTEM},
    {"csLocation", CSAPI_TEST_SYSTEM},     {"csProvisioning", CSAPI_TEST_SYSTEM},
    {"csLog", CSAPI_TEST_SYSTEM},          {"csInkpad", CSAPI_TEST_SYSTEM},
    {"csLan", CSAPI_TEST_SYSTEM},          {"csHome", CSAPI_TEST_SYSTEM},
    {"csWQT", CSAPI_TEST_SYSTEM},          {"csConnect", CSAPI_TEST_CONNECT},
    {"csDisconnect", CSAPI_TEST_CONNECT},  {"csAuth", CSAPI_TEST_CONNECT},
    {"csPair", CSAPI_TEST_CONNECT},        {"csUnpair", CSAPI_TEST_CONNECT},
    {"csLogEnable", CSAPI_TEST_CONNECT},   {"csSrvr", CSAPI_TEST_CONNECT},
};

/* ---- counters ---- */

constexpr int kScopes = 3;
const char *const kScopeText[kScopes] = {"Scope=All Tests", "Scope=Test Suite", "Scope=Test Case"};

/* One count per scope; an increment adds to all three. */
struct Triple {
  int n[kScopes];
  void add() {
    for (int &v : n) v++;
  }
  void zero_from(int scope) {
    for (int s = scope; s < kScopes; s++) n[s] = 0;
  }
};

struct Counters {
  Triple kyr; /* served by the codec */
  Triple emu; /* synthetic deliveries */
  void zero_from(int scope) {
    kyr.zero_from(scope);
    emu.zero_from(scope);
  }
};

struct FuncNode {
  const char *name;
  int subsystem; /* -1: none */
  Counters c;
  FuncNode *next; /* bucket chain */
};

pthread_mutex_t s_metricsStateMutex = PTHREAD_MUTEX_INITIALIZER;
int mState = 0;                   /* 1: metrics enabled */
bool s_built = false;
FuncNode *metricsListSorted[CSAPI_TEST_METRICS_FUNCS];
FuncNode *s_buckets[CSAPI_TEST_METRICS_BUCKETS];
int s_subsystemFuncs[CSAPI_TEST_SUBSYSTEMS];
Counters s_subsystem[CSAPI_TEST_SUBSYSTEMS];
Counters s_process;
int s_failAllocAt = 0;
/* Mirrors mState, so that a disabled hook costs no lock. */
std::atomic<int> s_on{0};

void *node_alloc() {
  if (s_failAllocAt > 0 && --s_failAllocAt == 0) return nullptr;
  return malloc(sizeof(FuncNode));
}

FuncNode *find(const char *name) {
  for (FuncNode *n = s_buckets[ELFHash(name) % CSAPI_TEST_METRICS_BUCKETS]; n; n = n->next)
    if (strcmp(n->name, name) == 0) return n;
  return nullptr;
}

/* Builds the table once (s_metricsStateMutex held). False when memory runs
 * out; nothing is kept then, so a later call tries again. */
bool initHashTable() {
  if (s_built) return true;
  int built = 0;
  for (const char *name : kFunctionNames) {
    FuncNode *node = static_cast<FuncNode *>(node_alloc());
    if (!node) {
      csLog("CSAPI", CS_LOG_ERR, "initHashTable: malloc failed. Metrics not enabled due to insufficient memory");
      for (int i = 0; i < built; i++) free(metricsListSorted[i]);
      return false;
    }
    *node = FuncNode{name, get_csapi_client_test_func_subsysytem(name), {}, nullptr};
    /* Insertion sort by name. */
    int j = built++;
    while (j > 0 && strcmp(metricsListSorted[j - 1]->name, name) > 0) {
      metricsListSorted[j] = metricsListSorted[j - 1];
      j--;
    }
    metricsListSorted[j] = node;
  }
  memset(s_buckets, 0, sizeof s_buckets);
  memset(s_subsystemFuncs, 0, sizeof s_subsystemFuncs);
  for (FuncNode *node : metricsListSorted) {
    unsigned b = ELFHash(node->name) % CSAPI_TEST_METRICS_BUCKETS;
    node->next = s_buckets[b];
    s_buckets[b] = node;
    if (node->subsystem >= 0) s_subsystemFuncs[node->subsystem]++;
  }
  s_built = true;
  return true;
}

void zero_all(int scope) {
  for (FuncNode *node : metricsListSorted) node->c.zero_from(scope);
  for (Counters &c : s_subsystem) c.zero_from(scope);
  s_process.zero_from(scope);
}

int percent(int part, int whole) { return whole < 1 ? 0 : part * 100 / whole; }

/* Functions of subsystem (-1: all) with a count of at least 1 in scope. */
void functions_used(int subsystem, int scope, int *kyr, int *emu) {
  *kyr = *emu = 0;
  for (const FuncNode *node : metricsListSorted) {
    if (subsystem >= 0 && node->subsystem != subsystem) continue;
    if (node->c.kyr.n[scope] >= 1) ++*kyr;
    if (node->c.emu.n[scope] >= 1) ++*emu;
  }
}

void write_report(FILE *f, int scope) {
  fprintf(f, "CSAPI Client Functions (%s), KYR Counters, KYR Percent, Emulated KYR Counters, Emulated KYR Percent\n",
          kScopeText[scope]);
  int usedKyr, usedEmu;
  functions_used(-1, scope, &usedKyr, &usedEmu);
  fprintf(f, "ALL TESTS, %d, %d, %d, %d\n", s_process.kyr.n[scope], percent(usedKyr, CSAPI_TEST_METRICS_FUNCS),
          s_process.emu.n[scope], percent(usedEmu, CSAPI_TEST_METRICS_FUNCS));
  for (int s = 0; s < CSAPI_TEST_SUBSYSTEMS; s++) {
    functions_used(s, scope, &usedKyr, &usedEmu);
    fprintf(f, "SUBSYSTEM:%s, %d, %d, %d, %d\n", csapi_client_test_subsystem_name(s), s_subsystem[s].kyr.n[scope],
            percent(usedKyr, s_subsystemFuncs[s]), s_subsystem[s].emu.n[scope], percent(usedEmu, s_subsystemFuncs[s]));
  }
  for (int s = 0; s < CSAPI_TEST_SUBSYSTEMS; s++) {
    const Counters &sub = s_subsystem[s];
    for (const FuncNode *node : metricsListSorted) {
      if (node->subsystem != s) continue;
      fprintf(f, "[%s] %s, %d, %d, %d, %d\n", csapi_client_test_subsystem_name(s), node->name, node->c.kyr.n[scope],
              percent(node->c.kyr.n[scope], sub.kyr.n[scope]), node->c.emu.n[scope],
              percent(node->c.emu.n[scope], sub.emu.n[scope]));
    }
  }
}

}  // namespace

unsigned int ELFHash(const char *name) {
  unsigned int h = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); p && *p; ++p) {
    h = (h << 4) + *p;
    unsigned int g = h & 0xF0000000u;
    if (g) {
      h ^= g >> 24;
      h &= ~g;
    }
  }
  return h;
}

int get_csapi_client_test_func_subsysytem(const char *name) {
  if (name)
    for (const Prefix &p : kPrefixes)
      if (strncmp(name, p.prefix, strlen(p.prefix)) == 0) return p.subsystem;
  csLog("CSAPI", CS_LOG_ERR,
        "get_csapi_client_test_func_subsysytem: CSAPI client function is %s not mapped to a test subsystem",
        name ? name : "(null)");
  return -1;
}

int csapi_client_test_metrics_enable(void) {
  pthread_mutex_lock(&s_metricsStateMutex);
  bool ok = initHashTable();
  if (ok) {
    zero_all(CSAPI_TEST_SCOPE_ALL);
    mState = 1;
    s_on.store(1);
  }
  pthread_mutex_unlock(&s_metricsStateMutex);
  return ok ? 0 : 2;
}

int csapi_client_test_metrics_disable(void) {
  pthread_mutex_lock(&s_metricsStateMutex);
  int was = mState;
  mState = 0;
  s_on.store(0);
  pthread_mutex_unlock(&s_metricsStateMutex);
  return was == 1 ? 0 : 1;
}

int csapi_client_test_metrics(const char *func, int emulated) {
  if (!func) return 2;
  pthread_mutex_lock(&s_metricsStateMutex);
  int rc = 1;
  if (mState == 1) {
    FuncNode *node = find(func);
    if (!node) {
      csLog("CSAPI", CS_LOG_ERR, "csapi_client_test_metrics: Unknown function %s", func);
      rc = 2;
    } else {
      Triple Counters::*which = emulated ? &Counters::emu : &Counters::kyr;
      (node->c.*which).add();
      (s_process.*which).add();
      if (node->subsystem >= 0)
        (s_subsystem[node->subsystem].*which).add();
      else
        csLog("CSAPI", CS_LOG_ERR, "csapi_client_test_metrics: Unknown subsystem for function %s", func);
      rc = 0;
    }
  }
  pthread_mutex_unlock(&s_metricsStateMutex);
  return rc;
}

void csapi_client_test_count(const char *func) {
  if (s_on.load(std::memory_order_relaxed)) (void)csapi_client_test_metrics(func, 0);
}

int csapi_client_test_metrics_report(const char *path, int scope) {
  pthread_mutex_lock(&s_metricsStateMutex);
  int rc = 0;
  if (mState != 1) {
    csLog("CSAPI", CS_LOG_ERR,
          "csapi_client_test_metrics_report: Metrics not enabled, need to call EnableMetrics() Test Service, mState=%d",
          mState);
    rc = 1;
  } else if (scope < CSAPI_TEST_SCOPE_ALL || scope > CSAPI_TEST_SCOPE_CASE) {
    csLog("CSAPI", CS_LOG_ERR, "csapi_client_test_metrics_report: Unknown scope %d", scope);
    rc = 3;
  } else {
    FILE *f = path ? fopen(path, "w") : nullptr;
    if (!f) {
      csLog("CSAPI", CS_LOG_ERR, "csapi_client_test_metrics_report: fopen failed for %s, %s",
            path ? path : "(null)", strerror(path ? errno : EINVAL));
      rc = 2;
    } else {
      csLog("CSAPI", CS_LOG_INFO, "csapi_client_test_metrics_report: Creating metrics report %s, %s", path,
            kScopeText[scope]);
      write_report(f, scope);
      if (fclose(f) != 0) {
        csLog("CSAPI", CS_LOG_ERR, "csapi_client_test_metrics_report: fopen failed for %s, %s", path,
              strerror(errno));
        rc = 2;
      }
    }
  }
  pthread_mutex_unlock(&s_metricsStateMutex);
  return rc;
}

int csapi_client_test_metrics_reset(int scope) {
  if (scope != CSAPI_TEST_SCOPE_SUITE && scope != CSAPI_TEST_SCOPE_CASE) return 1;
  pthread_mutex_lock(&s_metricsStateMutex);
  int rc = 1;
  if (mState == 1) {
    zero_all(scope);
    rc = 0;
  }
  pthread_mutex_unlock(&s_metricsStateMutex);
  return rc;
}

int csapi_client_test_metrics_counts(const char *func, int scope, int *kyr, int *emulated) {
  if (!func || scope < 0 || scope >= kScopes) return -1;
  pthread_mutex_lock(&s_metricsStateMutex);
  FuncNode *node = s_built ? find(func) : nullptr;
  if (node) {
    if (kyr) *kyr = node->c.kyr.n[scope];
    if (emulated) *emulated = node->c.emu.n[scope];
  }
  pthread_mutex_unlock(&s_metricsStateMutex);
  return node ? 0 : -1;
}

const char *csapi_client_test_metrics_name(int index) {
  pthread_mutex_lock(&s_metricsStateMutex);
  const char *name = s_built && index >= 0 && index < CSAPI_TEST_METRICS_FUNCS ? metricsListSorted[index]->name : nullptr;
  pthread_mutex_unlock(&s_metricsStateMutex);
  return name;
}

void csapi_client_test_debug_fail_alloc(int nth) {
  pthread_mutex_lock(&s_metricsStateMutex);
  s_failAllocAt = nth;
  pthread_mutex_unlock(&s_metricsStateMutex);
}
