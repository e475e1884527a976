/* The notification ring: one preallocated queue every registry reads from,
 * written by the connections' reader threads (callback_postmsg). */
#include "csapi/client/csapi_ring.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "csapi/client/csapi_callback.h"
#include "csapi/client/csapi_instance.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"

namespace {

using csapi_detail::RingReader;

/* Each record: 4-byte length L, L message bytes, the instance byte, the
 * connection stamp byte, 2 spare bytes. A zero length means "continue at
 * offset 0". Sequence numbers let a reader see that the writer has
 * overwritten records it had not read.
 *
 * Readers find a record through its sequence number in startOf rather than
 * by following the zero-length mark: a record that wraps to offset 0 can be
 * long enough to cover its own mark, and a reader that was waiting at the
 * old write position would then read message bytes as a length. Records
 * take at least 9 bytes, so fewer than 8192 are ever intact at once. */
constexpr uint32_t kStartSlots = 131072;
static_assert(CSAPI_NOTIFY_RING_LIMIT / 9 < kStartSlots, "start index too small");

struct MsgQueue {
  int32_t writePos;
  int32_t tailPos;
  uint64_t writeSeq;
  uint64_t tailSeq;
  uint64_t lost;           /* records readers lost to overruns, all readers */
  int writersWaiting;      /* writers waiting for an active reader */
  uint64_t wakeSeq;        /* they want a reader at or past this record */
  int32_t startOf[kStartSlots]; /* start offset of record seq, by seq % kStartSlots */
  unsigned char ring[CSAPI_NOTIFY_RING_SIZE];
};

MsgQueue callbacks_msgq;
pthread_mutex_t callbacks_mut = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t callbacks_cond; /* readers: a record was written */
pthread_cond_t space_cond;     /* writers: a reader moved on */
pthread_once_t gOnce = PTHREAD_ONCE_INIT;
RingReader *gReaders;          /* placed readers (callbacks_mut) */

/* A reader counts as processing while it waited on the queue within this
 * window; the writer waits for a processing reader at most kWaitBoundMs per
 * message before it overwrites what that reader has not read. */
int gActiveWindowMs = 1000;
int gWaitBoundMs = 100;

/* Connections ended so far (callbacks_mut). */
uint64_t gEnded = 0;

/* Each instance's connection count; its low byte stamps the records. */
std::atomic<uint32_t> gConnGen[CSAPI_SRVR_MAX];

std::atomic<int (*)(int)> gStateReader{nullptr};

void once_init() {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&callbacks_cond, &attr);
  pthread_cond_init(&space_cond, &attr);
  pthread_condattr_destroy(&attr);
}

void ensure_init() { pthread_once(&gOnce, once_init); }

uint32_t connection_stamp(int instance) {
  return instance >= 0 && instance < CSAPI_SRVR_MAX ? gConnGen[instance].load() : 0;
}

int64_t mono_ns() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct timespec mono_at(int64_t ns) {
  struct timespec t;
  t.tv_sec = (time_t)(ns / 1000000000LL);
  t.tv_nsec = (long)(ns % 1000000000LL);
  return t;
}

/* Wakes writers waiting for readers when this change may let them go on
 * (callbacks_mut held). */
void wake_writers() {
  if (callbacks_msgq.writersWaiting > 0) pthread_cond_broadcast(&space_cond);
}

int32_t ring_len_at(int32_t pos) {
  int32_t len;
  memcpy(&len, callbacks_msgq.ring + pos, sizeof len);
  return len;
}

/* Moves the tail past its oldest record (callbacks_mut held). */
void evict_oldest() {
  MsgQueue &q = callbacks_msgq;
  q.tailSeq++;
  if (q.tailSeq < q.writeSeq) q.tailPos = q.startOf[q.tailSeq % kStartSlots];
}

/* Takes the reader to the oldest intact record when the writer has lapped
 * it (callbacks_mut held). A reader's first read starts there quietly. */
void resync(RingReader *r) {
  MsgQueue &q = callbacks_msgq;
  if (!r->synced) {
    r->synced = true;
    r->readSeq = q.tailSeq;
    r->readPos = q.tailPos;
    r->prev = nullptr;
    r->next = gReaders;
    if (gReaders) gReaders->prev = r;
    gReaders = r;
    return;
  }
  if (r->readSeq < q.tailSeq) {
    q.lost += q.tailSeq - r->readSeq;
    csLog("callback", CS_LOG_WARNING, "notification queue overran this reader, %llu notifications lost\n",
          (unsigned long long)(q.tailSeq - r->readSeq));
    r->readSeq = q.tailSeq;
    r->readPos = q.tailPos;
  }
}

/* Marks a thread entering or leaving a wait on r (callbacks_mut held). */
void note_wait(RingReader *r, int delta) {
  r->waiting += delta;
  r->lastWaitNs = mono_ns();
  r->givenUp = false;
  r->waiter = pthread_self();
}

/* Whether reader r makes the writer wait before overwriting record seq: it
 * still has that record to read and is processing (callbacks_mut held). A
 * reader the writer already gave up on, one inside a synchronous call (the
 * answer it waits for is behind this notification on the connection) and
 * the posting thread's own do not count. */
bool holds_up(const RingReader *r, uint64_t seq, int64_t now) {
  if (r->readSeq > seq || r->givenUp || r->calling) return false;
  if (r->waiting == 0 && now - r->lastWaitNs >= (int64_t)gActiveWindowMs * 1000000LL) return false;
  return !pthread_equal(r->waiter, pthread_self());
}

bool reader_needs(uint64_t seq, int64_t now) {
  for (RingReader *r = gReaders; r; r = r->next)
    if (holds_up(r, seq, now)) return true;
  return false;
}

/* The writer's wait timed out: it stops waiting for every reader that still
 * holds it up, until that reader waits on the queue again. */
void give_up_on_readers(uint64_t seq, int64_t now) {
  for (RingReader *r = gReaders; r; r = r->next)
    if (holds_up(r, seq, now)) r->givenUp = true;
}

}  // namespace

namespace csapi_detail {

void callback_connection_began(int instance) {
  if (instance >= 0 && instance < CSAPI_SRVR_MAX) gConnGen[instance].fetch_add(1);
}

void callback_connection_ended() {
  ensure_init();
  pthread_mutex_lock(&callbacks_mut);
  gEnded++;
  pthread_mutex_unlock(&callbacks_mut);
  pthread_cond_broadcast(&callbacks_cond);
}

void callback_set_state_reader(int (*state)(int instance)) { gStateReader.store(state); }

RingView ring_view() {
  pthread_mutex_lock(&callbacks_mut);
  const MsgQueue &q = callbacks_msgq;
  RingView v{q.writePos, q.tailPos, q.writeSeq, q.tailSeq, q.lost};
  pthread_mutex_unlock(&callbacks_mut);
  return v;
}

void ring_set_patience(int activeWindowMs, int waitBoundMs) {
  pthread_mutex_lock(&callbacks_mut);
  gActiveWindowMs = activeWindowMs > 0 ? activeWindowMs : 1000;
  gWaitBoundMs = waitBoundMs > 0 ? waitBoundMs : 100;
  pthread_mutex_unlock(&callbacks_mut);
}

int ring_instance_state(int instance) {
  int (*state)(int) = gStateReader.load();
  return state ? state(instance) : CLIENT_STATE_DISCONNECTED;
}

bool ring_any_connected() {
  for (int i = 0; i < CSAPI_SRVR_MAX; i++)
    if (ring_instance_state(i) != CLIENT_STATE_DISCONNECTED) return true;
  return false;
}

bool ring_current_connection(int instance, uint8_t gen) { return gen == (uint8_t)connection_stamp(instance); }

void ring_set_calling(RingReader *r, bool calling) {
  pthread_mutex_lock(&callbacks_mut);
  r->calling = calling;
  if (calling) wake_writers();
  pthread_mutex_unlock(&callbacks_mut);
}

void ring_forget(RingReader *r) {
  pthread_mutex_lock(&callbacks_mut);
  if (r->synced) {
    if (r->prev) r->prev->next = r->next;
    else gReaders = r->next;
    if (r->next) r->next->prev = r->prev;
    r->synced = false;
    wake_writers();
  }
  pthread_mutex_unlock(&callbacks_mut);
}

void ring_skip_queued(RingReader *r) {
  MsgQueue &q = callbacks_msgq;
  pthread_mutex_lock(&callbacks_mut);
  if (!r->synced) resync(r);
  r->readSeq = q.writeSeq;
  r->readPos = q.writePos;
  wake_writers();
  pthread_mutex_unlock(&callbacks_mut);
}

int ring_wait(RingReader *r, int *instance, ccom_msg_t *msg, int timeoutMs, uint8_t *gen) {
  ensure_init();
  if (timeoutMs < 0) timeoutMs = 0;
  struct timespec deadline = mono_at(mono_ns() + (int64_t)timeoutMs * 1000000LL);
  pthread_mutex_lock(&callbacks_mut);
  MsgQueue &q = callbacks_msgq;
  note_wait(r, 1);
  int rc = 0;
  uint64_t ended = gEnded;
  for (;;) {
    resync(r);
    if (r->readSeq != q.writeSeq) break;
    if (gEnded != ended) {
      ended = gEnded;
      if (!ring_any_connected()) {
        rc = CSAPI_ERR_NO_CONNECT;
        break;
      }
    }
    if (pthread_cond_timedwait(&callbacks_cond, &callbacks_mut, &deadline) == ETIMEDOUT) {
      resync(r);
      if (r->readSeq == q.writeSeq) rc = CSAPI_ERR_TIMEOUT;
      break;
    }
  }
  if (rc == 0) {
    int32_t pos = q.startOf[r->readSeq % kStartSlots];
    int32_t L = ring_len_at(pos);
    if (ccom_msg_memcpy(msg, q.ring + pos + 4, (uint32_t)L)) {
      msg->data[L] = '\0';
      *instance = q.ring[pos + 4 + L];
      if (gen) *gen = q.ring[pos + 5 + L];
    } else {
      csLog("callback", CS_LOG_ERR, "no room for a notification of %d bytes, dropped\n", L);
      rc = CSAPI_ERR_OUT_OF_RESOURCES;
    }
    r->readPos = pos + L + 8;
    r->readSeq++;
  }
  note_wait(r, -1);
  if (q.writersWaiting > 0 && r->readSeq >= q.wakeSeq) pthread_cond_broadcast(&space_cond);
  pthread_mutex_unlock(&callbacks_mut);
  return rc;
}

}  // namespace csapi_detail

int callback_postmsg(int instance, const char *method, ccom_msg_t *msg) {
  if (!method || !msg || !msg->data) return 0;
  uint32_t len = msg->len;
  /* A zero length would read as the wrap mark. */
  if (len == 0) return 0;
  if ((uint64_t)len + 8 > CSAPI_NOTIFY_RING_LIMIT) {
    csLog("callback", CS_LOG_ERR, "notification %s of %u bytes does not fit in the queue, dropped\n", method,
          (unsigned)len);
    return 0;
  }
  ensure_init();
  int32_t L = (int32_t)len;
  pthread_mutex_lock(&callbacks_mut);
  MsgQueue &q = callbacks_msgq;
  int64_t now = 0, deadline = 0;
  int32_t w, start;
  bool wrap;
  for (;;) {
    w = q.writePos;
    start = w;
    wrap = w + L + 8 > CSAPI_NOTIFY_RING_LIMIT;
    if (wrap) start = 0;
    /* Retire, oldest first, every record the new bytes will cover. Records
     * from the write position on are older than those before it, so on a
     * wrap all of them go before any record at the start is touched. */
    if (q.tailSeq == q.writeSeq) break;
    int32_t p = q.tailPos;
    bool covered = wrap ? (p >= w || p < L + 8) : (p >= w && p < w + L + 8);
    if (!covered) break;
    if (now == 0) {
      now = mono_ns();
      deadline = now + (int64_t)gWaitBoundMs * 1000000LL;
    }
    if (!reader_needs(q.tailSeq, now)) {
      evict_oldest();
      continue;
    }
    /* Wait until readers have taken an eighth of what is queued, so the
     * writer is not woken for every single record. */
    uint64_t want = q.tailSeq + 1 + (q.writeSeq - q.tailSeq) / 8;
    if (q.writersWaiting == 0 || want < q.wakeSeq) q.wakeSeq = want;
    q.writersWaiting++;
    struct timespec until = mono_at(deadline);
    int rc = pthread_cond_timedwait(&space_cond, &callbacks_mut, &until);
    q.writersWaiting--;
    now = mono_ns();
    if (rc == ETIMEDOUT || now >= deadline) give_up_on_readers(q.tailSeq, now);
  }
  if (wrap) memset(q.ring + w, 0, 4);
  memcpy(q.ring + start, &L, 4);
  memcpy(q.ring + start + 4, msg->data, len);
  q.ring[start + 4 + L] = (unsigned char)instance;
  q.ring[start + 5 + L] = (unsigned char)connection_stamp(instance);
  if (q.tailSeq == q.writeSeq) q.tailPos = start;
  q.startOf[q.writeSeq % kStartSlots] = start;
  q.writeSeq++;
  q.writePos = start + L + 8;
  pthread_mutex_unlock(&callbacks_mut);
  pthread_cond_broadcast(&callbacks_cond);
  return 0;
}
