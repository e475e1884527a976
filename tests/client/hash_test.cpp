// The string-keyed hash table: published hash values, probe runs, removal
// inside a run, and a randomised comparison with a reference map.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "csapi/client/csapi_hash.h"

namespace {

TEST(Hash, OneAtATimeReferenceValues) {
  // Published values of Bob Jenkins' one-at-a-time hash.
  EXPECT_EQ(Hash("a"), 0xca2e9442u);
  EXPECT_EQ(Hash("The quick brown fox jumps over the lazy dog"), 0x519e91f5u);
  EXPECT_EQ(Hash(""), 0u);
}

TEST(HashTable, InitRejectsBadSizes) {
  csHashSlot slots[16];
  csHashTable t;
  EXPECT_EQ(HashInit(&t, slots, 12), -1);
  EXPECT_EQ(HashInit(&t, slots, 0), -1);
  EXPECT_EQ(HashInit(nullptr, slots, 16), -1);
  EXPECT_EQ(HashInit(&t, nullptr, 16), -1);
  EXPECT_EQ(HashInit(&t, slots, 16), 0);
  EXPECT_EQ(HashDump(nullptr), -1);
}

// Keys whose home slot in a table of `size` is `home`.
std::vector<std::string> keys_with_home(int size, int home, int n) {
  std::vector<std::string> out;
  for (int i = 0; (int)out.size() < n; i++) {
    std::string k = "key" + std::to_string(i);
    if ((int)(Hash(k.c_str()) & (uint32_t)(size - 1)) == home) out.push_back(k);
  }
  return out;
}

void free_all(csHashTable &t) {
  for (int i = 0; i < t.size; i++)
    if (t.slots[i].key) HashDelete(&t, t.slots[i].key), i = -1;
}

TEST(HashTable, DeletingInsideARunKeepsTheRestReachable) {
  for (int home : {3, 7}) {  // 7: the run wraps past the last slot
    csHashSlot slots[8];
    csHashTable t;
    ASSERT_EQ(HashInit(&t, slots, 8), 0);
    auto ks = keys_with_home(8, home, 3);
    int vals[3] = {1, 2, 3};
    for (int i = 0; i < 3; i++) ASSERT_EQ(HashAdd(&t, ks[i].c_str(), &vals[i]), 0);
    EXPECT_EQ(t.count, 3);
    EXPECT_GE(t.collisions, 3);  // 1 + 2 probe steps
    ASSERT_EQ(HashDelete(&t, ks[0].c_str()), 0);
    EXPECT_EQ(HashLookup(&t, ks[0].c_str(), 0), nullptr);
    EXPECT_EQ(HashLookup(&t, ks[1].c_str(), 0), &vals[1]) << "home " << home;
    EXPECT_EQ(HashLookup(&t, ks[2].c_str(), 0), &vals[2]) << "home " << home;
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(HashDelete(&t, ks[0].c_str()), -1);
    free_all(t);
  }
}

TEST(HashTable, ReplaceAndFull) {
  csHashSlot slots[4];
  csHashTable t;
  ASSERT_EQ(HashInit(&t, slots, 4), 0);
  int a = 1, b = 2;
  ASSERT_EQ(HashAdd(&t, "x", &a), 0);
  ASSERT_EQ(HashAdd(&t, "x", &b), 0);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(HashLookup(&t, "x", 0), &b);
  ASSERT_EQ(HashAdd(&t, "y", &a), 0);
  ASSERT_EQ(HashAdd(&t, "z", &a), 0);
  ASSERT_EQ(HashAdd(&t, "w", &a), 0);
  EXPECT_EQ(HashAdd(&t, "v", &a), -1);
  EXPECT_EQ(HashLookup(&t, "v", 0), nullptr);  // full table: the search ends
  free_all(t);
}

TEST(HashTable, RandomOperationsMatchAReferenceMap) {
  std::mt19937 rng(12345);
  csHashSlot slots[16];
  csHashTable t;
  ASSERT_EQ(HashInit(&t, slots, 16), 0);
  std::map<std::string, int *> model;
  static int values[40];
  for (int step = 0; step < 20000; step++) {
    std::string k = "k" + std::to_string(rng() % 40);
    int *v = &values[rng() % 40];
    if (rng() % 2 && model.size() < 14) {
      ASSERT_EQ(HashAdd(&t, k.c_str(), v), 0);
      model[k] = v;
    } else {
      int rc = HashDelete(&t, k.c_str());
      ASSERT_EQ(rc, model.erase(k) ? 0 : -1) << "step " << step;
    }
    ASSERT_EQ(t.count, (int)model.size());
    for (int i = 0; i < 40; i++) {
      std::string q = "k" + std::to_string(i);
      auto it = model.find(q);
      ASSERT_EQ(HashLookup(&t, q.c_str(), 0), it == model.end() ? nullptr : it->second)
          << "step " << step << " key " << q;
    }
  }
  free_all(t);
}

}  // namespace
