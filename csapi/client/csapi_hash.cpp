/* String-keyed hash table with linear probing. */
#include "csapi/client/csapi_hash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ipc/libccom/ccom.h"

int HashInit(csHashTable *table, csHashSlot *slots, int32_t size) {
  if (!table || !slots || size <= 0 || (size & (size - 1)) != 0) return -1;
  table->size = size;
  table->collisions = 0;
  table->count = 0;
  table->slots = slots;
  memset(slots, 0, sizeof(csHashSlot) * (size_t)size);
  return 0;
}

uint32_t Hash(const char *key) {
  uint32_t h = 0;
  if (!key) return 0;
  for (const unsigned char *p = (const unsigned char *)key; *p; p++) {
    h += *p;
    h += h << 10;
    h ^= h >> 6;
  }
  h += h << 3;
  h ^= h >> 11;
  h += h << 15;
  return h;
}

namespace {

/* Slot holding key, or -1. */
int32_t find_slot(const csHashTable *table, const char *key, int32_t start) {
  if (!table || !key || !table->slots || table->size <= 0) return -1;
  int32_t mask = table->size - 1;
  int32_t first = start ? (start & mask) : (int32_t)(Hash(key) & (uint32_t)mask);
  int32_t i = first;
  do {
    const char *k = table->slots[i].key;
    if (!k) return -1;
    if (strcmp(k, key) == 0) return i;
    i = (i + 1) & mask;
  } while (i != first);
  return -1;
}

}  // namespace

void *HashLookup(const csHashTable *table, const char *key, int32_t start) {
  int32_t i = find_slot(table, key, start);
  return i < 0 ? nullptr : table->slots[i].value;
}

int HashAdd(csHashTable *table, const char *key, void *value) {
  if (!table || !key || !table->slots) return -1;
  if (table->size <= 0) {
    csLog("hash", CS_LOG_ERR, "hash table:%p ERROR, bad size:%d\n", (void *)table, table->size);
    return -1;
  }
  int32_t mask = table->size - 1;
  int32_t home = (int32_t)(Hash(key) & (uint32_t)mask);
  int32_t i = home;
  do {
    csHashSlot *s = &table->slots[i];
    if (!s->key) {
      s->key = strdup(key);
      if (!s->key) {
        csLog("hash", CS_LOG_ERR, "hash table:%p hash table too small for hash key:%s\n", (void *)table, key);
        return -1;
      }
      s->value = value;
      table->count++;
      return 0;
    }
    if (strcmp(s->key, key) == 0) {
      s->value = value;
      return 0;
    }
    table->collisions++;
    i = (i + 1) & mask;
  } while (i != home);
  csLog("hash", CS_LOG_DEBUG, "hash table:%p table full (size:%d num:%d)\n", (void *)table, table->size, table->count);
  return -1;
}

int HashDelete(csHashTable *table, const char *key) {
  int32_t hole = find_slot(table, key, 0);
  if (hole < 0) return -1;
  int32_t mask = table->size - 1;
  free(table->slots[hole].key);
  table->slots[hole].key = nullptr;
  table->slots[hole].value = nullptr;
  table->count--;
  /* A key further along the run may have probed past the slot just emptied;
   * move each such key back into the hole so lookups still reach it. */
  for (int32_t j = (hole + 1) & mask; j != hole; j = (j + 1) & mask) {
    csHashSlot *s = &table->slots[j];
    if (!s->key) break;
    int32_t home = (int32_t)(Hash(s->key) & (uint32_t)mask);
    /* The key stays when its home lies cyclically in (hole, j]. */
    bool stays = (hole < j) ? (home > hole && home <= j) : (home > hole || home <= j);
    if (stays) continue;
    table->slots[hole] = *s;
    s->key = nullptr;
    s->value = nullptr;
    hole = j;
  }
  return 0;
}

int HashDump(const csHashTable *table) {
  if (!table || table->size <= 0 || !table->slots) return -1;
  for (int32_t i = 0; i < table->size; i++) {
    const csHashSlot *s = &table->slots[i];
    if (s->key)
      printf("hash table:%x index:%d key:%s value:%x\n", (unsigned)(uintptr_t)table, i, s->key,
             (unsigned)(uintptr_t)s->value);
  }
  return 0;
}
