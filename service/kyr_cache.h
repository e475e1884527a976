/* The last records fetched from the codec, kept for the Java-facing
 * interfaces: one copy per kind, each guarded by its own mutex, so the
 * post-connect thread, the worker's handlers and Java callers never read a
 * half-written record. Java-visible copies made from them are separate. */
#ifndef KYR_CACHE_H
#define KYR_CACHE_H

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

/* (name, record type). One row per cached kind. */
#define KYR_CACHED_RECORD_LIST(X) \
  X(comm, CSComm)                 \
  X(audio, CSAudio)               \
  X(dir, CSDir)

KYR_EXTERN_C_BEGIN

/* For each kind k of type T:
 *   int  kyr_cache_<k>_load(T *out)    copies the record; 1 if one was ever
 *                                      stored, 0 if not (out is then zeroed)
 *   void kyr_cache_<k>_store(const T *) replaces it
 *   T   *kyr_cache_<k>_lock(void)      the record itself, its mutex held ...
 *   void kyr_cache_<k>_unlock(void)    ... until this; never call out (to
 *                                      Java or the codec) in between. */
#define KYR_CACHE_DECLARE(k, T)              \
  int kyr_cache_##k##_load(T *out);          \
  void kyr_cache_##k##_store(const T *in);   \
  T *kyr_cache_##k##_lock(void);             \
  void kyr_cache_##k##_unlock(void);
KYR_CACHED_RECORD_LIST(KYR_CACHE_DECLARE)
#undef KYR_CACHE_DECLARE

/* Forgets every cached record (a new connection starts empty). */
void kyr_cache_clear_all(void);

KYR_EXTERN_C_END

#endif
