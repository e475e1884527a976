/* TLS library set-up shared by every connection: the thread-locking
 * callbacks older OpenSSL releases need, and a socket BIO that never raises
 * SIGPIPE. */
#include <errno.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdlib.h>
#include <sys/socket.h>

#include "ipc/libccom/ccom_internal.h"

pthread_mutex_t *lock_cs = nullptr;
long *lock_count = nullptr;
pthread_mutex_t gCryptoMutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

bool g_crypto_done = false;
int g_num_locks = 0;

/* OpenSSL 1.1 and later lock internally; the callbacks are installed through
 * macros that compile to nothing there, and only matter for older
 * releases. */
[[maybe_unused]] void locking_callback(int mode, int type, const char *, int) {
  if (type < 0 || type >= g_num_locks) return;
  if (mode & 1) {
    pthread_mutex_lock(&lock_cs[type]);
    lock_count[type]++;
  } else {
    pthread_mutex_unlock(&lock_cs[type]);
  }
}

[[maybe_unused]] unsigned long id_callback() { return (unsigned long)pthread_self(); }

int nosig_write(BIO *b, const char *in, int len) {
  int fd = -1;
  BIO_get_fd(b, &fd);
  ssize_t n;
  do n = send(fd, in, (size_t)len, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  BIO_clear_retry_flags(b);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(b);
  return (int)n;
}

BIO_METHOD *g_bio_method = nullptr;
pthread_once_t g_bio_once = PTHREAD_ONCE_INIT;

/* The stock socket BIO with only its write replaced. */
void make_bio_method() {
  const BIO_METHOD *sock = BIO_s_socket();
  BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "ccom socket");
  if (!m) return;
  BIO_meth_set_write(m, nosig_write);
  BIO_meth_set_read(m, BIO_meth_get_read(sock));
  BIO_meth_set_puts(m, BIO_meth_get_puts(sock));
  BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(sock));
  BIO_meth_set_create(m, BIO_meth_get_create(sock));
  BIO_meth_set_destroy(m, BIO_meth_get_destroy(sock));
  g_bio_method = m;
}

}  // namespace

const struct bio_method_st *ccom_bio_nosigpipe(void) {
  pthread_once(&g_bio_once, make_bio_method);
  return g_bio_method;
}

extern "C" KYR_API void CRYPTO_thread_setup(void) {
  if (lock_cs) return;
  int n = CRYPTO_num_locks();
  if (n <= 0) n = 1;
  lock_cs = static_cast<pthread_mutex_t *>(calloc((size_t)n, sizeof *lock_cs));
  lock_count = static_cast<long *>(calloc((size_t)n, sizeof *lock_count));
  if (!lock_cs || !lock_count) {
    free(lock_cs);
    free(lock_count);
    lock_cs = nullptr;
    lock_count = nullptr;
    return;
  }
  for (int i = 0; i < n; i++) pthread_mutex_init(&lock_cs[i], nullptr);
  g_num_locks = n;
  CRYPTO_set_id_callback(id_callback);
  CRYPTO_set_locking_callback(locking_callback);
}

extern "C" KYR_API void CRYPTO_thread_cleanup(void) {
  pthread_mutex_lock(&gCryptoMutex);
  if (lock_cs) {
    CRYPTO_set_locking_callback(nullptr);
    for (int i = 0; i < g_num_locks; i++) pthread_mutex_destroy(&lock_cs[i]);
    ERR_free_strings();
    free(lock_cs);
    free(lock_count);
    lock_cs = nullptr;
    lock_count = nullptr;
    g_num_locks = 0;
    /* A later connect may set the support up again. */
    g_crypto_done = false;
  }
  pthread_mutex_unlock(&gCryptoMutex);
}

extern "C" KYR_API void help_crypto_init(void) {
  pthread_mutex_lock(&gCryptoMutex);
  if (!g_crypto_done) {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    CRYPTO_thread_setup();
    g_crypto_done = true;
  }
  pthread_mutex_unlock(&gCryptoMutex);
}
