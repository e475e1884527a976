/* The kit every Java-facing interface is written with.
 *
 * Entry points stay thin: convert arguments with the helpers below, call a
 * plain function that does the work (testable without a JVM), convert the
 * result. Everything Java is given to name native memory is a handle from
 * the one registry (service/kyr_handles.h), never an address.
 *
 *   JniUtf       a Java string as standard UTF-8 for the call (null stays
 *                null; released on every path)            platform/jni_util.h
 *   JniDirect    a direct ByteBuffer as a bounded view: null, non-direct or
 *                shorter than the layout it must hold gives no view
 *   kyr_list     lists handed to Java: nodes linked through their first word
 *                (the next node's handle), the head returned as a handle,
 *                one release that walks the chain
 *   kyr_node_copy  one-node list holding a copy of a record after a 4-byte
 *                null link (the "node" of an event)
 *   kyr_static_handle  the handle of a static Java-visible structure
 *   layouts      service/interfaces/kyr_layout.h
 *
 * All functions are thread-safe unless said otherwise. */
#ifndef KYR_IFACE_H
#define KYR_IFACE_H

#include <jni.h>
#include <stddef.h>
#include <stdint.h>

#include "platform/jni_util.h"
#include "platform/kyr_api.h"
#include "platform/kyr_log.h"
#include "service/kyr_handles.h"
#include "service/kyr_service.h"

KYR_EXTERN_C_BEGIN

/* ---- lists handed to Java ---- */

/* A list under construction. Not thread-safe: one builder per list. */
typedef struct kyr_list {
  int32_t head;  /* handle of the first node, 0 while empty */
  void *first;
  void *last;
  size_t count;
} kyr_list;

#define KYR_LIST_INIT {0, NULL, NULL, 0}

/* Appends a zero-filled node of node_size bytes (at least 4: the link word)
 * and links it to the previous one. Null, with the list unchanged, when
 * memory or handles run out (logged under tag). */
void *kyr_list_append(kyr_list *list, size_t node_size, const char *tag);

/* Hands the list over: its head handle (0 when empty); the builder is reset
 * and owns nothing any more. */
int64_t kyr_list_take(kyr_list *list);

/* Frees every node of a list that was never handed over (failure paths). */
void kyr_list_discard(kyr_list *list);

/* Java's release: frees the chain starting at head, following each node's
 * link word. An unknown head (never issued, or already released) is logged
 * under tag and nothing is freed, so releasing twice is harmless. Returns
 * the number of nodes freed. head 0 does nothing. */
int kyr_list_release(int64_t head, const char *tag);

/* The node pointer behind a list handle (for reading back in native code and
 * tests), null when handle names no list node of at least size bytes. */
void *kyr_list_node(int64_t handle, size_t size);

/* The handle stored in a node's link word (0 at the end). */
int32_t kyr_list_next(const void *node);

/* A one-node list: 4 zero bytes, then size bytes of rec. Returns its handle
 * (positive), or -1 when memory runs out (logged). Released with
 * kyr_list_release like any list. */
int32_t kyr_node_copy(const void *rec, size_t size, const char *tag);

/* Frees what an owned event payload names: a list (every node) or a heap
 * record (malloc'd, KYR_HANDLE_RECORD). For kyr_post, when nobody received
 * the event; anything else is logged and left alone. */
void kyr_payload_free(int32_t handle);

/* ---- static structures ---- */

/* The handle naming a static Java-visible structure (the same handle every
 * time), or -1 when the registry is full. */
int32_t kyr_static_handle(void *ptr, size_t size);

/* ---- results ---- */

/* A handle or error code as the jlong a record or list getter returns: a
 * positive handle stays, anything else becomes 0 (those getters' "none"). */
static inline jlong kyr_handle_result(int64_t handle) { return handle > 0 ? (jlong)handle : 0; }

/* A settings page as Java gets it: the converter's value unchanged (the list
 * handle, 0 for an empty list, -1 when the page could not be read), so that
 * Java can tell a codec that did not answer from a page with nothing in it. */
static inline jlong kyr_settings_result(int64_t list) { return (jlong)list; }

KYR_EXTERN_C_END

#ifdef __cplusplus
/* A direct ByteBuffer seen as memory for the duration of a call. ok() only
 * when buf is a direct buffer of at least `need` bytes; otherwise nothing is
 * read (a read-only direct buffer is readable and accepted). */
struct JniDirect {
  JniDirect(JNIEnv *env, jobject buf, size_t need) {
    if (!env || !buf) return;
    void *p = env->GetDirectBufferAddress(buf);
    if (env->ExceptionCheck()) env->ExceptionClear();
    jlong cap = env->GetDirectBufferCapacity(buf);
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (!p || cap < 0 || static_cast<unsigned long long>(cap) < need) return;
    data_ = p;
    size_ = static_cast<size_t>(cap);
  }
  JniDirect(const JniDirect &) = delete;
  JniDirect &operator=(const JniDirect &) = delete;
  bool ok() const { return data_ != nullptr; }
  void *data() const { return data_; }
  size_t size() const { return size_; }
  template <typename T>
  T *as() const {
    return static_cast<T *>(data_);
  }

 private:
  void *data_ = nullptr;
  size_t size_ = 0;
};
#endif

#endif
