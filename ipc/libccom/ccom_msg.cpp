/* Message buffers, the pooled FIFO, the generic list, the version string
 * and the challenge-response digest. */
#include <openssl/sha.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <openssl/crypto.h>

#include "ipc/libccom/ccom_internal.h"

ccom_msg_queue_t client_msg_queue;
pthread_mutex_t gQMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int32_t> alloc_bufs_num{0};
std::atomic<int32_t> alloc_bufs_size{0};

namespace {

const char kName[] = "CCOM";
pthread_once_t g_pool_once = PTHREAD_ONCE_INIT;

void pool_init_once() { (void)ccom_msg_queue_init(&client_msg_queue); }

}  // namespace

extern "C" KYR_API const char *ccom_get_version(void) { return "libccom 0.0.1"; }

extern "C" KYR_API int ccom_msg_init(ccom_msg_t *msg, char *buf, uint32_t capacity) {
  if (!msg || !buf) return -1;
  msg->data = buf;
  msg->data[0] = '\0';
  msg->size = capacity;
  msg->len = 0;
  return 0;
}

extern "C" KYR_API ccom_msg_t *ccom_msg_alloc(ccom_msg_queue_t *queue) {
  if (!queue) return nullptr;
  ccom_msg_t *msg = ccom_msg_dequeue(queue);
  if (!msg) {
    char *buf = static_cast<char *>(malloc(CCOM_MSG_INITIAL_SIZE + CCOM_MSG_MARGIN));
    if (!buf) return nullptr;
    msg = static_cast<ccom_msg_t *>(calloc(1, sizeof *msg));
    if (!msg) {
      free(buf);
      return nullptr;
    }
    (void)ccom_msg_init(msg, buf, CCOM_MSG_INITIAL_SIZE);
    int num = alloc_bufs_num.fetch_add(1, std::memory_order_relaxed) + 1;
    int bytes = alloc_bufs_size.fetch_add(CCOM_MSG_INITIAL_SIZE, std::memory_order_relaxed) + CCOM_MSG_INITIAL_SIZE;
    csLog(kName, CS_LOG_INFO, "alloc allocated:%d bufs %d bytes\n", num, bytes);
  }
  msg->data[0] = '\0';
  return msg;
}

extern "C" KYR_API int ccom_msg_grow(ccom_msg_t *msg, uint32_t requested) {
  if (!msg) return -1;
  uint32_t cap = ccom_grow_capacity(requested);
  /* The capacity must stay representable with its margin; such sizes are
   * far beyond any frame the transport accepts. */
  char *nb = cap > UINT32_MAX - CCOM_MSG_MARGIN - CCOM_MSG_INITIAL_SIZE
                 ? nullptr
                 : static_cast<char *>(realloc(msg->data, (size_t)cap + CCOM_MSG_MARGIN));
  if (!nb) {
    csLog(kName, CS_LOG_ERR, "can't grow csapi msg buffer from %d to %d bytes, out of memory\n", (int)msg->size,
          (int)cap);
    return -1;
  }
  int bytes = alloc_bufs_size.fetch_add((int32_t)(cap - msg->size), std::memory_order_relaxed) + (int32_t)(cap - msg->size);
  msg->data = nb;
  msg->size = cap;
  csLog(kName, CS_LOG_INFO, "grow allocated:%d bufs %d bytes\n", alloc_bufs_num.load(std::memory_order_relaxed),
        bytes);
  return 0;
}

extern "C" KYR_API char *ccom_msg_strcpy(ccom_msg_t *msg, const char *text) {
  if (!msg || !text || !msg->data) return nullptr;
  size_t n = strlen(text);
  if (n == 0 || n >= UINT32_MAX - 1024) return nullptr;
  if (n + 1 > msg->size && ccom_msg_grow(msg, (uint32_t)n + 64) != 0) return nullptr;
  memcpy(msg->data, text, n + 1);
  msg->len = (uint32_t)n + 1;
  return msg->data;
}

extern "C" KYR_API char *ccom_msg_memcpy(ccom_msg_t *msg, const void *bytes, uint32_t count) {
  if (!msg || !bytes || !msg->data || count == 0) return nullptr;
  if (count > msg->size && ccom_msg_grow(msg, count + 64) != 0) return nullptr;
  memmove(msg->data, bytes, count);
  msg->len = count;
  return msg->data;
}

extern "C" KYR_API char *ccom_msg_append(ccom_msg_t *msg, const void *bytes, uint32_t count) {
  if (!msg || !bytes || !msg->data || count == 0) return nullptr;
  /* A pooled message keeps its old len; never let it point past the buffer. */
  if (msg->len > msg->size) msg->len = msg->size;
  if (count > msg->size - msg->len) {
    if ((uint64_t)msg->len + count + 64 > UINT32_MAX - 1024) return nullptr;
    if (ccom_msg_grow(msg, msg->len + count + 64) != 0) return nullptr;
  }
  char *dst = msg->data + msg->len;
  memcpy(dst, bytes, count);
  msg->len += count;
  return dst;
}

extern "C" KYR_API int ccom_msg_sprintf(ccom_msg_t *msg, const char *fmt, ...) {
  if (!msg || !msg->data) return -1;
  if (!fmt) return 0;
  if (msg->len > msg->size) msg->len = msg->size;
  for (int attempt = 0;; attempt++) {
    /* room = size - len - 1; a full buffer still has the NUL margin. */
    size_t room = (size_t)msg->size - msg->len;
    room = room > 0 ? room - 1 : 0;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(msg->data + msg->len, room, fmt, ap);
    va_end(ap);
    if (n < 0) return -1;
    if ((size_t)n < room) {
      msg->len += (uint32_t)n;
      return (int)msg->len;
    }
    if (attempt > 0 || (uint64_t)msg->size + n + 10 > UINT32_MAX - 1024 ||
        ccom_msg_grow(msg, msg->size + (uint32_t)n + 10) != 0)
      return -1;
  }
}

extern "C" KYR_API void ccom_msg_wipe(ccom_msg_t *msg) {
  if (!msg || !msg->data) return;
  size_t n = msg->len;
  if (n > (size_t)msg->size + CCOM_MSG_MARGIN) n = (size_t)msg->size + CCOM_MSG_MARGIN;
  OPENSSL_cleanse(msg->data, n);
  msg->len = 0;
}

extern "C" KYR_API int ccom_msg_queue_init(ccom_msg_queue_t *queue) {
  if (!queue) return -1;
  pthread_mutex_lock(&gQMutex);
  pthread_mutex_init(&queue->lock, nullptr);
  queue->head = nullptr;
  queue->tail = nullptr;
  pthread_mutex_unlock(&gQMutex);
  return 0;
}

extern "C" KYR_API int ccom_msg_enqueue(ccom_msg_queue_t *queue, ccom_msg_t *msg) {
  if (!queue || !msg) return 0;
  pthread_mutex_lock(&queue->lock);
  msg->next = nullptr;
  msg->prev = queue->tail;
  if (queue->tail)
    queue->tail->next = msg;
  else
    queue->head = msg;
  queue->tail = msg;
  queue->count++;
  queue->bytes += (int32_t)msg->size;
  int count = queue->count;
  pthread_mutex_unlock(&queue->lock);
  return count;
}

extern "C" KYR_API ccom_msg_t *ccom_msg_dequeue(ccom_msg_queue_t *queue) {
  if (!queue) return nullptr;
  pthread_mutex_lock(&queue->lock);
  ccom_msg_t *msg = queue->head;
  if (msg) {
    queue->head = msg->next;
    if (queue->head)
      queue->head->prev = nullptr;
    else
      queue->tail = nullptr;
    msg->next = msg->prev = nullptr;
    queue->count--;
    queue->bytes -= (int32_t)msg->size;
  }
  pthread_mutex_unlock(&queue->lock);
  return msg;
}

extern "C" KYR_API int ccom_msg_queue_free(ccom_msg_queue_t *queue) {
  if (!queue) return 0;
  int total = 0;
  while (ccom_msg_t *msg = ccom_msg_dequeue(queue)) {
    alloc_bufs_num.fetch_sub(1, std::memory_order_relaxed);
    alloc_bufs_size.fetch_sub((int32_t)msg->size, std::memory_order_relaxed);
    total += (int)msg->size;
    free(msg->data);
    free(msg);
  }
  return total;
}

extern "C" KYR_API int ccom_client_init(void) {
  pthread_once(&g_pool_once, pool_init_once);
  return 0;
}

extern "C" KYR_API ccom_msg_t *ccom_client_msg_alloc(void) {
  (void)ccom_client_init();
  return ccom_msg_alloc(&client_msg_queue);
}

extern "C" KYR_API int ccom_client_msg_free(ccom_msg_t *msg) {
  if (!msg) return 0;
  (void)ccom_client_init();
  return ccom_msg_enqueue(&client_msg_queue, msg);
}

extern "C" KYR_API int ccom_client_exit(int final_exit) {
  if (final_exit) {
    (void)ccom_client_init();
    (void)ccom_msg_queue_free(&client_msg_queue);
    CRYPTO_thread_cleanup();
  }
  return 0;
}

extern "C" KYR_API clist_node_t *clist_add(clist_node_t **list, uint32_t value) {
  if (!list) return nullptr;
  clist_node_t *node = static_cast<clist_node_t *>(calloc(1, sizeof *node));
  if (!node) return nullptr;
  node->value = value;
  if (!*list) {
    *list = node;
    return node;
  }
  clist_node_t *last = *list;
  while (last->next) last = last->next;
  last->next = node;
  node->prev = last;
  return node;
}

extern "C" KYR_API void clist_remove(clist_node_t **list, clist_node_t *node) {
  if (!list || !node) return;
  if (*list == node) *list = node->next;
  if (node->next) node->next->prev = node->prev;
  if (node->prev) node->prev->next = node->next;
  free(node);
}

extern "C" KYR_API void clist_walk(clist_node_t *list, clist_visit_fn visitor) {
  if (!visitor) return;
  for (clist_node_t *n = list; n;) {
    clist_node_t *next = n->next; /* the visitor may remove its node */
    if (visitor(n) != 0) return;
    n = next;
  }
}

extern "C" KYR_API int clist_size(clist_node_t *list) {
  int n = 0;
  for (; list; list = list->next) n++;
  return n;
}

extern "C" KYR_API int ccom_gen_challenge_rsp(const char *identity, const char *challenge, char *out) {
  if (!out) return 0;
  char text[128];
  size_t n = 0;
  if (identity) {
    n = strnlen(identity, 32);
    memcpy(text, identity, n);
  }
  if (challenge) {
    size_t c = strnlen(challenge, 95);
    memcpy(text + n, challenge, c);
    n += c;
  }
  text[n] = '\0';
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char *>(text), n, digest);
  static const char hex[] = "0123456789abcdef";
  for (int i = 0; i < SHA_DIGEST_LENGTH; i++) {
    out[2 * i] = hex[digest[i] >> 4];
    out[2 * i + 1] = hex[digest[i] & 15];
  }
  out[2 * SHA_DIGEST_LENGTH] = '\0';
  OPENSSL_cleanse(text, sizeof text);
  OPENSSL_cleanse(digest, sizeof digest);
  return 0;
}
