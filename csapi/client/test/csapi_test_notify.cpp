/* Synthetic notifications: the virtual records, the delayed queue, its
 * wake-up thread and the delivery to the callbacks the worker registered. */
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <cstddef>
#include <initializer_list>

#include "csapi/client/cs_records.h"
#include "csapi/client/csapi_callback.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

/* The field lists below are read once more, as rows naming each flag bit
 * with the field it covers. */
#undef CS_F0
#undef CS_F
#undef CS_F2
#define CS_F0 0u, nullptr, 0u, nullptr
#define CS_F(n, v) (v), #n, 0u, nullptr
#define CS_F2(n1, v1, n2, v2) (v1), #n1, (v2), #n2

namespace {

/* ---- field rows of the ten kinds ---- */

enum class FT : unsigned char { I32, U32, COUNT, TEXT, DBL, LIST, STRS, STRSKEEP, EVENT };

struct FlagField {
  FT type;
  size_t off;
  size_t size;
  unsigned bit1;
  const char *name1;
  unsigned bit2;
  const char *name2;
  unsigned bits() const { return bit1 | bit2; }
};

#define TH_OFF(field) offsetof(R, field)
#define TH_SIZE(field) sizeof(R::field)
#define TH_OFF_I32 TH_OFF
#define TH_OFF_U32 TH_OFF
#define TH_OFF_COUNT TH_OFF
#define TH_OFF_TEXT TH_OFF
#define TH_OFF_DBL TH_OFF
#define TH_OFF_LIST TH_OFF
#define TH_OFF_STRS TH_OFF
#define TH_OFF_STRSKEEP TH_OFF
#define TH_OFF_EVENT(field) 0
#define TH_SIZE_I32 TH_SIZE
#define TH_SIZE_U32 TH_SIZE
#define TH_SIZE_COUNT TH_SIZE
#define TH_SIZE_TEXT TH_SIZE
#define TH_SIZE_DBL TH_SIZE
#define TH_SIZE_LIST TH_SIZE
#define TH_SIZE_STRS TH_SIZE
#define TH_SIZE_STRSKEEP TH_SIZE
#define TH_SIZE_EVENT(field) 0
#define TH_ROW(TYPE, field, cap, aux, flags) {FT::TYPE, TH_OFF_##TYPE(field), TH_SIZE_##TYPE(field), flags},

template <typename T>
struct Fields;
#define TH_KIND_FIELDS(n, NAME, method, Kind, handler)          \
  template <>                                                   \
  struct Fields<CS##Kind> {                                     \
    using R = CS##Kind;                                         \
    static constexpr FlagField rows[] = {CS_FIELDS_##Kind(TH_ROW)}; \
  };
CSAPI_TEST_CB_TYPES(TH_KIND_FIELDS)
#undef TH_KIND_FIELDS

/* ---- one row per notification type ---- */

struct TypeDesc {
  const char *method;  /* notification name the callbacks are registered under */
  const char *testcb;  /* its name in log lines */
  const char *handler; /* the client function a delivery stands for */
  size_t size;
  const FlagField *fields;
  size_t nfields;
  void (*invoke)(csCallbackFunc func, const void *rec, unsigned flags, uintptr_t userDefined);
};

#define TH_INVOKE(n, NAME, method, Kind, handler)                                                           \
  void invoke_##Kind(csCallbackFunc func, const void *rec, unsigned flags, uintptr_t userDefined) {          \
    reinterpret_cast<cs##Kind##Callback>(func)(static_cast<const CS##Kind *>(rec),                           \
                                               static_cast<CS##Kind##Fields>(static_cast<int32_t>(flags)), userDefined); \
  }
CSAPI_TEST_CB_TYPES(TH_INVOKE)
#undef TH_INVOKE

#define TH_TYPE_ROW(n, NAME, method, Kind, handler)                                                       \
  {method, "TESTCB_" #NAME "_CB", handler, sizeof(CS##Kind), Fields<CS##Kind>::rows,                      \
   sizeof Fields<CS##Kind>::rows / sizeof(FlagField), &invoke_##Kind},
const TypeDesc kTypes[TESTCB_TYPE_COUNT] = {CSAPI_TEST_CB_TYPES(TH_TYPE_ROW)};
#undef TH_TYPE_ROW

constexpr size_t max_size() {
  size_t m = 0;
#define TH_SIZE_OF(n, NAME, method, Kind, handler) m = sizeof(CS##Kind) > m ? sizeof(CS##Kind) : m;
  CSAPI_TEST_CB_TYPES(TH_SIZE_OF)
#undef TH_SIZE_OF
  return m;
}
constexpr size_t kMaxRecord = max_size();

bool valid_type(int type) { return type >= 0 && type < TESTCB_TYPE_COUNT; }

/* ---- clock ---- */

int64_t now_ms() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

struct timespec now_plus(long ms) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += ms / 1000;
  t.tv_nsec += (ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec++;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

bool earlier(const struct timespec &a, const struct timespec &b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

/* ---- virtual records ---- */

struct Virtual {
  CSAudio audio;
  CSAudioIn audioIn;
  CSAudioOut audioOut;
  CSComm comm;
  CSConf conf;
  CSTerm term;
  CSVideoOutLayout layout;
  CSVideoOutLayoutCap layoutCap;
  CSCameraFarGroup farGroup;
  CSCamera camera;
};

pthread_mutex_t s_virtualMutex = PTHREAD_MUTEX_INITIALIZER;
Virtual s_virtual;
bool s_virtualMade = false; /* guarded by s_virtualMutex */

void *virtual_of(int type) {
  void *recs[TESTCB_TYPE_COUNT] = {&s_virtual.audio,  &s_virtual.audioIn,  &s_virtual.audioOut, &s_virtual.comm,
                                   &s_virtual.conf,   &s_virtual.term,     &s_virtual.layout,   &s_virtual.layoutCap,
                                   &s_virtual.farGroup, &s_virtual.camera};
  return recs[type];
}

/* Plausible values of a small room system in its first call (s_virtualMutex
 * held). */
void make_virtual() {
  if (s_virtualMade) return;
  memset(&s_virtual, 0, sizeof s_virtual);
  Virtual &v = s_virtual;
  v.audio.handle = 1;
  v.audio.maxIns = 4;
  v.audio.numIns = 2;
  v.audio.maxOuts = 2;
  v.audio.numOuts = 1;
  v.audio.volume = 50;
  snprintf(v.audio.incomingCallTone, sizeof v.audio.incomingCallTone, "Ring%d", 1);
  snprintf(v.audio.alertTone, sizeof v.audio.alertTone, "Alert%d", 1);
  v.audioIn.handle = 1;
  snprintf(v.audioIn.name, sizeof v.audioIn.name, "audin%d", 1);
  snprintf(v.audioIn.userName, sizeof v.audioIn.userName, "mic%d", 1);
  v.audioIn.level = 5;
  v.audioIn.enabled = 1;
  v.audioOut.handle = 1;
  snprintf(v.audioOut.name, sizeof v.audioOut.name, "audout%d", 1);
  snprintf(v.audioOut.userName, sizeof v.audioOut.userName, "speaker%d", 1);
  v.audioOut.level = 5;
  v.audioOut.enabled = 1;
  v.comm.handle = 1;
  v.comm.maxConfs = 1;
  v.comm.maxTermsPerConf = 4;
  v.comm.maxRecentCallListLen = 20;
  v.comm.connectTimeout = 60;
  v.comm.disconnectTimeout = 10;
  v.conf.handle = 1;
  v.conf.id = 1;
  snprintf(v.conf.name, sizeof v.conf.name, "TestConfName.%d.%d.%d", 1, 0, 0);
  v.conf.maxTerms = 4;
  v.conf.rate = 1024;
  v.term.handle = 1;
  v.term.id = 1;
  snprintf(v.term.name, sizeof v.term.name, "TestTermName.%d.%d.%d", 1, 0, 0);
  snprintf(v.term.callerID, sizeof v.term.callerID, "%s", "5555551234");
  snprintf(v.term.addr, sizeof v.term.addr, "10.%d.%d.%d", 1, 0, 1);
  snprintf(v.term.remoteSysID, sizeof v.term.remoteSysID, "%s", "VirtualKYR");
  snprintf(v.term.deviceName, sizeof v.term.deviceName, "%s", "VirtualKYR");
  v.term.rate = 1024;
  v.term.numCalls = 1;
  v.term.direction = 1;
  /* Output 1, the main monitor: the one whose layout Java follows. */
  v.layout.handle = 1;
  v.layout.videoOut = 1;
  v.layout.PIPMode = 1;
  v.layout.PIPLocation = 3;
  v.layout.monitorLayout = 1;
  v.layoutCap.handle = 1;
  v.layoutCap.videoOut = 1;
  v.layoutCap.PIPLocationCap = 0xF;
  v.layoutCap.monitorLayoutCap = 0x7;
  v.layoutCap.monitorSourceCap = 0x3;
  v.farGroup.handle = 1;
  v.farGroup.id = 1;
  v.farGroup.confId = 1;
  v.farGroup.termId = 1;
  v.farGroup.maxCameras = 4;
  v.farGroup.numCameras = 3;
  v.farGroup.camControlAllowed = 1;
  v.camera.handle = 1;
  v.camera.id = 1;
  v.camera.enabled = 1;
  snprintf(v.camera.userName, sizeof v.camera.userName, "TestCamera.%d", 1);
  snprintf(v.camera.make, sizeof v.camera.make, "%s", "VirtualKYR");
  snprintf(v.camera.resolution, sizeof v.camera.resolution, "%s", "1080p");
  v.camera.maxPan = v.camera.maxTilt = v.camera.maxZoom = 100;
  v.camera.minPan = v.camera.minTilt = -100;
  v.camera.farCamTermId = 1;
  s_virtualMade = true;
}

/* Copies the flagged fields of rec into the virtual record of type, logging
 * each at DEBUG. */
void merge_virtual(int type, const void *rec, unsigned flags) {
  const TypeDesc &t = kTypes[type];
  for (size_t i = 0; i < t.nfields; i++) {
    const FlagField &f = t.fields[i];
    if (!(f.bits() & flags)) continue;
    const char *base = static_cast<const char *>(rec) + f.off;
    const char *name = (f.bit1 & flags) ? f.name1 : f.name2;
    int32_t iv = 0;
    if (f.size == sizeof iv) memcpy(&iv, base, sizeof iv);
    switch (f.type) {
      case FT::I32: csLog("CSAPI", CS_LOG_DEBUG, "%s %s = %d", t.handler, name, iv); break;
      case FT::U32: csLog("CSAPI", CS_LOG_DEBUG, "%s %s = %u", t.handler, name, (unsigned)iv); break;
      case FT::TEXT: csLog("CSAPI", CS_LOG_DEBUG, "%s %s = %.*s", t.handler, name, (int)f.size, base); break;
      case FT::EVENT: csLog("CSAPI", CS_LOG_DEBUG, "%s %s", t.handler, name); break;
      default: csLog("CSAPI", CS_LOG_DEBUG, "%s %s changed", t.handler, name); break;
    }
  }
  pthread_mutex_lock(&s_virtualMutex);
  make_virtual();
  char *dst = static_cast<char *>(virtual_of(type));
  for (size_t i = 0; i < t.nfields; i++) {
    const FlagField &f = t.fields[i];
    if (!(f.bits() & flags) || f.size == 0) continue;
    memcpy(dst + f.off, static_cast<const char *>(rec) + f.off, f.size);
    /* A list's entries come with their count. */
    if (f.type == FT::LIST && i > 0 && t.fields[i - 1].type == FT::COUNT)
      memcpy(dst + t.fields[i - 1].off, static_cast<const char *>(rec) + t.fields[i - 1].off, t.fields[i - 1].size);
  }
  pthread_mutex_unlock(&s_virtualMutex);
}

/* ---- the queue ---- */

struct TestCB {
  TestCB *next;
  int type;
  struct timespec deadline;
  void *record;
  unsigned int flags;
  int64_t queuedMs;
};

pthread_mutex_t test_callback_mut = PTHREAD_MUTEX_INITIALIZER;
TestCB *testCBHead = nullptr; /* guarded by test_callback_mut */
TestCB *testCBTail = nullptr;

/* The wake-up thread sleeps on test_wakeup_cond; s_wakeSeq counts posts, so
 * a post between its look at the queue and its wait is not missed. */
pthread_mutex_t test_wakeup_mut = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t test_wakeup_cond;
unsigned long s_wakeSeq = 0; /* guarded by test_wakeup_mut */

pthread_mutex_t s_startMut = PTHREAD_MUTEX_INITIALIZER;
bool s_threadStarted = false; /* guarded by s_startMut */

/* Entries are delivered this long after they are due at the latest, and
 * that much early at the most. */
constexpr long kDeliverSlackMs = 100;
constexpr long kIdleWaitMs = 600000;

/* ---- what happened to each entry ---- */

constexpr int kDeliveryLog = 64;
pthread_mutex_t s_logMut = PTHREAD_MUTEX_INITIALIZER;
csapi_test_delivery s_log[kDeliveryLog]; /* ring, guarded by s_logMut */
int s_logStart = 0, s_logCount = 0;

void note_delivery(const TestCB *e, int callbacks) {
  pthread_mutex_lock(&s_logMut);
  int slot = (s_logStart + s_logCount) % kDeliveryLog;
  if (s_logCount == kDeliveryLog)
    s_logStart = (s_logStart + 1) % kDeliveryLog;
  else
    s_logCount++;
  s_log[slot] = csapi_test_delivery{e->type, e->flags, callbacks, e->queuedMs, now_ms()};
  pthread_mutex_unlock(&s_logMut);
}

/* ---- delivery ---- */

struct Delivery {
  const TestCB *entry;
  int called;
};

void deliver_to(const csCallbackEntry *table, void *ctx) {
  Delivery *d = static_cast<Delivery *>(ctx);
  const TestCB *e = d->entry;
  const TypeDesc &t = kTypes[e->type];
  (void)csapi_client_test_metrics(t.handler, 1);
  merge_virtual(e->type, e->record, e->flags);
  /* The callbacks get the record as it was queued, whole: its unflagged
   * fields (a camera's source, say) still describe the object. */
  for (int i = 0; i < CS_CALLBACK_TABLE_ENTRIES; i++) {
    if (!table[i].func) continue;
    t.invoke(table[i].func, e->record, e->flags, table[i].userDefined);
    d->called++;
  }
}

void deliver(const TestCB *e) {
  if (!valid_type(e->type)) {
    csLog("CSAPI", CS_LOG_ERR, "callback:process_test_cb_q Found expired test CB entry with UNHANDLED TEST callbackType %d\n",
          e->type);
    note_delivery(e, -1);
    return;
  }
  Delivery d{e, 0};
  if (callback_run_shared(kTypes[e->type].method, deliver_to, &d) != 0) {
    csLog("CSAPI", CS_LOG_WARNING, "callback:process_test_cb_q NO callback_lookups found to process %s",
          kTypes[e->type].testcb);
    note_delivery(e, -1);
    return;
  }
  note_delivery(e, d.called);
}

void *test_wakeup_thread(void *) {
  pthread_setname_np(pthread_self(), "kyr-testcb");
  for (;;) {
    pthread_mutex_lock(&test_wakeup_mut);
    unsigned long seen = s_wakeSeq;
    pthread_mutex_unlock(&test_wakeup_mut);

    struct timespec next = now_plus(kIdleWaitMs);
    pthread_mutex_lock(&test_callback_mut);
    for (const TestCB *e = testCBHead; e; e = e->next)
      if (earlier(e->deadline, next)) next = e->deadline;
    pthread_mutex_unlock(&test_callback_mut);

    pthread_mutex_lock(&test_wakeup_mut);
    while (s_wakeSeq == seen)
      if (pthread_cond_timedwait(&test_wakeup_cond, &test_wakeup_mut, &next) == ETIMEDOUT) break;
    pthread_mutex_unlock(&test_wakeup_mut);

    (void)doNanosleep(kDeliverSlackMs);
    (void)process_test_cb_q();
  }
  return nullptr;
}

bool start_thread() {
  pthread_mutex_lock(&s_startMut);
  if (!s_threadStarted) {
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&test_wakeup_cond, &ca);
    pthread_condattr_destroy(&ca);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t t;
    if (pthread_create(&t, &attr, test_wakeup_thread, nullptr) == 0)
      s_threadStarted = true;
    else
      csLog("CSAPI", CS_LOG_ERR, "callback:callback_test_post pthread_create failed to create test_wakeup_thread");
    pthread_attr_destroy(&attr);
  }
  bool ok = s_threadStarted;
  pthread_mutex_unlock(&s_startMut);
  return ok;
}

}  // namespace

int doNanosleep(long ms) {
  struct timespec req = {ms / 1000, (ms % 1000) * 1000000L};
  struct timespec rem;
  for (;;) {
    int rc = nanosleep(&req, &rem);
    if (rc == 0) return 0;
    if (errno == EINTR) {
      req = rem;
      continue;
    }
    csLog("CSAPI", CS_LOG_ERR, "doNanosleep: unexpected error %d, errno=%d", rc, errno);
    return -1;
  }
}

int callback_test_post(int type, const void *record, unsigned int flags, int delayMs) {
  if (!valid_type(type) || !record) return -1;
  /* Without the thread nothing would ever be delivered: keep nothing. */
  if (!start_thread()) return -1;
  TestCB *e = static_cast<TestCB *>(calloc(1, sizeof(TestCB)));
  void *copy = e ? malloc(kTypes[type].size) : nullptr;
  if (!copy) {
    free(e);
    csLog("CSAPI", CS_LOG_ERR, "callback:callback_test_post no memory for a test CB entry");
    return -12;
  }
  memcpy(copy, record, kTypes[type].size);
  e->type = type;
  e->record = copy;
  e->flags = flags;
  e->deadline = now_plus(delayMs < 0 ? 0 : delayMs);
  e->queuedMs = now_ms();

  pthread_mutex_lock(&test_callback_mut);
  if (testCBTail)
    testCBTail->next = e;
  else
    testCBHead = e;
  testCBTail = e;
  pthread_mutex_unlock(&test_callback_mut);

  pthread_mutex_lock(&test_wakeup_mut);
  s_wakeSeq++;
  pthread_cond_broadcast(&test_wakeup_cond);
  pthread_mutex_unlock(&test_wakeup_mut);
  return 0;
}

int process_test_cb_q(void) {
  /* Due entries leave the queue under its lock; the callbacks run without
   * it, so that they (or Java, reached synchronously) may queue more. */
  TestCB *dueHead = nullptr, *dueTail = nullptr;
  int n = 0;
  struct timespec limit = now_plus(kDeliverSlackMs);
  pthread_mutex_lock(&test_callback_mut);
  TestCB *prev = nullptr;
  for (TestCB *e = testCBHead; e;) {
    TestCB *next = e->next;
    if (earlier(e->deadline, limit)) {
      if (prev)
        prev->next = next;
      else
        testCBHead = next;
      if (testCBTail == e) testCBTail = prev;
      e->next = nullptr;
      if (dueTail)
        dueTail->next = e;
      else
        dueHead = e;
      dueTail = e;
      n++;
    } else {
      prev = e;
    }
    e = next;
  }
  pthread_mutex_unlock(&test_callback_mut);

  while (dueHead) {
    TestCB *e = dueHead;
    dueHead = e->next;
    deliver(e);
    free(e->record);
    free(e);
  }
  return n;
}

void csapi_client_test_virtual_get(int type, void *out) {
  if (!valid_type(type) || !out) return;
  pthread_mutex_lock(&s_virtualMutex);
  make_virtual();
  memcpy(out, virtual_of(type), kTypes[type].size);
  pthread_mutex_unlock(&s_virtualMutex);
}

int csapi_client_test_take_deliveries(csapi_test_delivery *out, int max) {
  if (!out || max <= 0) return 0;
  pthread_mutex_lock(&s_logMut);
  int n = s_logCount < max ? s_logCount : max;
  for (int i = 0; i < n; i++) out[i] = s_log[(s_logStart + i) % kDeliveryLog];
  s_logStart = (s_logStart + n) % kDeliveryLog;
  s_logCount -= n;
  pthread_mutex_unlock(&s_logMut);
  return n;
}

/* ---- the notifications the test interface queues ---- */

namespace {

/* One settable field of the audio records: its type, field and flag. */
struct AudioEvent {
  int type;
  size_t off;
  unsigned flag;
};
const AudioEvent kAudioEvents[] = {
    {TESTCB_AUDIO_CHANGED, offsetof(CSAudio, volume), CSAUDIO_VOLUME_FIELD},
    {TESTCB_AUDIO_CHANGED, offsetof(CSAudio, muted), CSAUDIO_MUTED_FIELD},
    {TESTCB_AUDIO_CHANGED, offsetof(CSAudio, numIns), CSAUDIO_NUM_INS_FIELD},
    {TESTCB_AUDIO_CHANGED, offsetof(CSAudio, numOuts), CSAUDIO_NUM_OUTS_FIELD},
    {TESTCB_AUDIO_CHANGED, offsetof(CSAudio, muteAutoAnswer), CSAUDIO_MUTE_AUTO_ANSWER_FIELD},
    {TESTCB_AUDIOIN_CHANGED, offsetof(CSAudioIn, level), CSAUDIO_IN_LEVEL_FIELD},
    {TESTCB_AUDIOIN_CHANGED, offsetof(CSAudioIn, muted), CSAUDIO_IN_MUTED_FIELD},
    {TESTCB_AUDIOOUT_CHANGED, offsetof(CSAudioOut, level), CSAUDIO_OUT_LEVEL_FIELD},
    {TESTCB_AUDIOOUT_CHANGED, offsetof(CSAudioOut, muted), CSAUDIO_OUT_MUTED_FIELD},
};

}  // namespace

int csapi_client_test_emulate_audio(int which, int value, int delayMs) {
  if (which < 0 || which >= (int)(sizeof kAudioEvents / sizeof kAudioEvents[0])) return -1;
  const AudioEvent &a = kAudioEvents[which];
  alignas(std::max_align_t) unsigned char rec[kMaxRecord];
  csapi_client_test_virtual_get(a.type, rec);
  memcpy(rec + a.off, &value, sizeof value);
  return callback_test_post(a.type, rec, a.flag, delayMs);
}

int csapi_client_test_emulate_incoming_call(int delayMs) {
  CSTerm term;
  CSVideoOutLayout layout;
  CSVideoOutLayoutCap cap;
  CSConf conf;
  CSCameraFarGroup group;
  CSCamera camera;
  csapi_client_test_virtual_get(TESTCB_TERM_CHANGED, &term);
  csapi_client_test_virtual_get(TESTCB_VIDEOOUTLAYOUT_CHANGED, &layout);
  csapi_client_test_virtual_get(TESTCB_VIDEOOUTLAYOUTCAP_CHANGED, &cap);
  csapi_client_test_virtual_get(TESTCB_CONF_CHANGED, &conf);
  csapi_client_test_virtual_get(TESTCB_CAMERAFARGROUP_ADDED, &group);
  csapi_client_test_virtual_get(TESTCB_CAMERA_ADDED, &camera);

  int rc = 0;
  auto post = [&](int type, const void *rec, unsigned flags) {
    if (rc == 0) rc = callback_test_post(type, rec, flags, delayMs);
  };
  term.state = 7;
  snprintf(term.callerID, sizeof term.callerID, "%s", "5555551234");
  post(TESTCB_TERM_CHANGED, &term, 0x2);
  term.state = 4; /* Incoming */
  term.connectTime = (uint32_t)time(nullptr);
  post(TESTCB_TERM_CHANGED, &term, 0xA00);
  post(TESTCB_VIDEOOUTLAYOUT_CHANGED, &layout, 0x16);
  post(TESTCB_VIDEOOUTLAYOUTCAP_CHANGED, &cap, 0x16);
  post(TESTCB_VIDEOOUTLAYOUT_CHANGED, &layout, 0x16);
  post(TESTCB_VIDEOOUTLAYOUTCAP_CHANGED, &cap, 0x12);
  conf.numTerms = 1;
  post(TESTCB_CONF_CHANGED, &conf, 0x80);
  post(TESTCB_VIDEOOUTLAYOUT_CHANGED, &layout, 0x16);
  post(TESTCB_VIDEOOUTLAYOUTCAP_CHANGED, &cap, 0x12);
  term.state = 5;
  post(TESTCB_TERM_CHANGED, &term, 0x200);
  post(TESTCB_CAMERAFARGROUP_ADDED, &group, 0x100);
  post(TESTCB_TERM_CHANGED, &term, 0x4);
  term.state = 0; /* Active */
  post(TESTCB_TERM_CHANGED, &term, 0x200);
  for (uint32_t source : {0u, 3u, 2u}) {
    camera.source = source;
    post(TESTCB_CAMERA_ADDED, &camera, 0x100000);
  }
  return rc;
}
