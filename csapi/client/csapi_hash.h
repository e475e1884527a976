/* A small string-keyed hash table with linear probing. The table copies its
 * keys; values are the caller's. The callback registries (128 slots) and the
 * notification handler table (256 slots) are built on it. Not locked: the
 * owner of a table serialises access to it. */
#ifndef CSAPI_HASH_H
#define CSAPI_HASH_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

typedef struct csHashSlot {
  char *key;   /* the table's own copy; null when the slot is empty */
  void *value; /* owned by the caller */
} csHashSlot;

typedef struct csHashTable {
  int32_t size;       /* number of slots, a power of two */
  int32_t collisions; /* probe steps taken by additions (diagnostics) */
  int32_t count;      /* keys stored */
  csHashSlot *slots;  /* owned by whoever created the table */
} csHashTable;

/* 0, or -1 for null arguments or a size that is not a power of two. */
KYR_API int HashInit(csHashTable *table, csHashSlot *slots, int32_t size);
/* One-at-a-time hash of the key's bytes. */
KYR_API uint32_t Hash(const char *key);
/* The key's value, or null. start 0 searches from the key's home slot. */
KYR_API void *HashLookup(const csHashTable *table, const char *key, int32_t start);
/* Adds the key, or replaces its value. 0, or -1 (full, out of memory, bad). */
KYR_API int HashAdd(csHashTable *table, const char *key, void *value);
/* Removes the key and re-places the keys that follow it in its probe run, so
 * that every remaining key is still found. 0, or -1 when absent. */
KYR_API int HashDelete(csHashTable *table, const char *key);
/* Prints every used slot on standard output; -1 for a null or empty table. */
KYR_API int HashDump(const csHashTable *table);

KYR_EXTERN_C_END

#endif
