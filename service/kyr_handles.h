/* One registry that names every Java-visible native block by a 32-bit
 * handle.
 *
 * The Java contract carries native addresses in 32-bit values (the callback
 * cookie, event values, the 4-byte links of Java-visible lists, record
 * results passed back to release calls and to newDirectByteBuffer). On a
 * 64-bit host a truncated pointer would corrupt memory, so Java is only ever
 * given handles: numbers in 1..0x7FFFFFFF (a negative result is therefore
 * always an error code, never an address) that this registry maps back to a
 * block and its size. Java passes back what it was given and never needs to
 * know the difference.
 *
 * Handles are handed out in increasing order and are not reused until the
 * counter wraps, so a stale handle from Java resolves to nothing rather than
 * to somebody else's block. All functions are thread-safe. */
#ifndef KYR_HANDLES_H
#define KYR_HANDLES_H

#include <stddef.h>
#include <stdint.h>

#include <jni.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

#define KYR_HANDLE_MIN 1
#define KYR_HANDLE_MAX 0x7FFFFFFF
/* Upper bound on live handles: Java that never releases its lists must not
 * grow the table without limit. */
#define KYR_HANDLE_LIMIT (1 << 20)

/* What a block is, so a release call cannot free a block of another kind.
 * KYR_HANDLE_ANY matches every kind when resolving. */
typedef enum kyr_handle_kind {
  KYR_HANDLE_ANY = 0,
  KYR_HANDLE_COOKIE = 1,  /* the service's callback cookie (not readable from Java) */
  KYR_HANDLE_STATIC = 2,  /* a static Java-visible structure */
  KYR_HANDLE_LIST = 3,    /* a heap list node owned by Java until released */
  KYR_HANDLE_RECORD = 4   /* a heap record copy owned by Java until released */
} kyr_handle_kind;

/* Names (ptr, capacity bytes). Returns the new handle, or -1 for a null
 * pointer, or when KYR_HANDLE_LIMIT handles are live (logged). */
KYR_NODISCARD int32_t kyr_handle_register(void *ptr, size_t capacity, kyr_handle_kind kind);

/* The handle already naming ptr, or a new one: for static structures that
 * are handed to Java again and again. The capacity of an existing entry is
 * raised to capacity if that is larger. */
KYR_NODISCARD int32_t kyr_handle_for(void *ptr, size_t capacity, kyr_handle_kind kind);

/* The block named by handle when it is at least `capacity` bytes long and of
 * the given kind (or kind is KYR_HANDLE_ANY); otherwise null. */
void *kyr_handle_resolve(int32_t handle, size_t capacity, kyr_handle_kind kind);

/* Size of the block named by handle, 0 when unknown. */
size_t kyr_handle_capacity(int32_t handle);

/* Forgets handle and returns its block for the caller to free. An unknown
 * handle, or one of another kind, is logged under tag and gives null, so a
 * stray value from Java never frees anything. */
void *kyr_handle_release(int32_t handle, kyr_handle_kind kind, const char *tag);

/* Forgets whatever handle names ptr (used when a static block goes away). */
void kyr_handle_forget(const void *ptr);

/* Number of live handles. */
size_t kyr_handle_count(void);

/* Test seam: the value the next handle search starts from. */
void kyr_handle_debug_set_next(int32_t next);

/* The body shared by every *Struct class's static native
 * newDirectByteBuffer(long handle, long capacity): a direct ByteBuffer over
 * the named block, or null for an unknown handle, the cookie's handle, or a
 * capacity that is negative or larger than the block. Only the low
 * 32 bits of the handle are used, as Java may sign-extend it. */
jobject kyr_handle_direct_buffer(JNIEnv *env, jlong handle, jlong capacity);

KYR_EXTERN_C_END

#endif
