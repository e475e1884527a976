/* The notification module's inside: the ring (csapi_ring.cpp) as the
 * registries and the dispatch loop (csapi_callback.cpp) use it, and the few
 * things the instance table tells the module. Not exported.
 *
 * The dependency runs one way: the instance table calls in here (it posts
 * through callback_postmsg, announces each connection's start and end, and
 * lends its state reader once); nothing here calls the instance table. */
#ifndef CSAPI_RING_H
#define CSAPI_RING_H

#include <pthread.h>
#include <stdint.h>

typedef struct ccom_msg_t ccom_msg_t;

namespace csapi_detail {

/* ---- told by the instance table ---- */

/* A new connection of instance is about to start (before its reader can
 * post): its notifications get a new stamp, and those of earlier ones are
 * never dispatched. */
void callback_connection_began(int instance);
/* A connection ended: a dispatcher waiting for notifications learns at once
 * when no connection is left. */
void callback_connection_ended();
/* How dispatch learns an instance's state (csapi_client_get_state), given
 * once by the instance table when it starts. Until set, no instance is
 * connected. */
void callback_set_state_reader(int (*state)(int instance));
/* Told by the call path around a synchronous call: while a thread waits for
 * an answer, the writer must not wait for the registry it processes (the
 * one it dispatches from inside a callback, else its own), since the answer
 * may be behind the notification being written. */
void callback_thread_calling(bool calling);

/* ---- for tests ---- */

/* A snapshot of the notification ring's positions. */
struct RingView {
  int32_t writePos;  /* where the next record goes */
  int32_t tailPos;   /* oldest record still intact */
  uint64_t writeSeq; /* records written so far */
  uint64_t tailSeq;  /* sequence number of the oldest intact record */
  uint64_t lost;     /* records readers lost to overruns so far, all readers */
};
RingView ring_view();

/* How long a reader counts as processing after its last wait on the queue,
 * and how long the writer waits for such a reader per message (tests
 * shorten them; 0 restores 1000 and 100 ms). */
void ring_set_patience(int activeWindowMs, int waitBoundMs);

/* ---- for the registries ---- */

/* A registry's place in the ring and what the writer needs to know about
 * its reader; guarded by the ring's lock. Zeroed means "not yet placed". */
struct RingReader {
  bool synced;        /* has taken its first position in the ring */
  int32_t readPos;    /* next record to read */
  uint64_t readSeq;   /* sequence number of that record */
  int64_t lastWaitNs; /* when a thread last entered or left a wait on it */
  int waiting;        /* threads inside a wait on it right now */
  bool givenUp;       /* the writer's wait for it timed out since its last wait */
  bool calling;       /* its processing thread is inside a synchronous call */
  pthread_t waiter;   /* the thread that last waited on it */
  RingReader *prev, *next; /* placed readers */
};

/* Takes r's next notification into msg, waiting up to timeoutMs: 0 with
 * the instance and its connection stamp (gen, when not null), -6 when the
 * time passed, -18 when the last connection ended meanwhile, -12 when msg
 * cannot hold it (the record is skipped). */
int ring_wait(RingReader *r, int *instance, ccom_msg_t *msg, int timeoutMs, uint8_t *gen);
/* Moves r past everything queued so far. */
void ring_skip_queued(RingReader *r);
/* r's registry goes away: the writer stops considering it. */
void ring_forget(RingReader *r);
void ring_set_calling(RingReader *r, bool calling);
/* Whether stamp gen is that of instance's current connection. */
bool ring_current_connection(int instance, uint8_t gen);
/* The instance's state through the lent reader. */
int ring_instance_state(int instance);
bool ring_any_connected();

}  // namespace csapi_detail

#endif
